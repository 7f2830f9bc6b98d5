#include "connectiontable.h"
#include "servicelimits.h"
#include "serviceprotocol.h"
#include "statestore.h"

#include <QtTest>

namespace {

const QVariantList kHosts { QVariant(
    QVariantList { QStringLiteral("10.0.0.7"), QStringLiteral("966") }) };

ConnectionHandle addConnection(ConnectionTable &table, const QString &comName, bool start)
{
    ConnectionHandle handle = -1;
    table.createConnection(1, &handle);
    table.setParam(handle, QStringLiteral("name"), QStringLiteral("TIR@10.0.0.7@A@2@1@null"));
    table.setParam(handle, QStringLiteral("port.name"), comName);
    table.setParam(handle, QStringLiteral("network.host"), kHosts);
    table.setParam(handle, QStringLiteral("port.sendmode.mode"), 2);
    if (start)
        table.startConnection(handle);
    return handle;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A saved table of `count` connections with the same parameters.
QByteArray savedTable(int count, const QJsonObject &params)
{
    QJsonArray connections;
    for (int handle = 1; handle <= count; ++handle)
        connections.append(
            QJsonObject { { "handle", handle }, { "started", false }, { "params", params } });
    return QJsonDocument(
        QJsonObject { { "version", 1 }, { "lastHandle", count }, { "connections", connections } })
        .toJson();
}

} // namespace

class TestStateStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void defaultPathUnderStateHome();
    void roundTripKeepsHandlesAndStates();
    void missingFileIsEmptyTable();
    void unreadableStateMovedAside_data();
    void unreadableStateMovedAside();
    void asideCopiesNeverOverwritten();
    void stuckFileNeverOverwritten();
    void tableAtItsLimitsStaysUsable();

private:
    QString path() const { return dir->filePath(QStringLiteral("connections.json")); }
    QStringList asideFiles() const
    {
        return QDir(dir->path()).entryList({ QStringLiteral("connections.json.corrupt-*") });
    }

    std::unique_ptr<QTemporaryDir> dir;
};

void TestStateStore::init()
{
    dir = std::make_unique<QTemporaryDir>();
}

void TestStateStore::defaultPathUnderStateHome()
{
    QCOMPARE(StateStore::defaultPath(),
        qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/tirv/connections.json"));
}

void TestStateStore::roundTripKeepsHandlesAndStates()
{
    ConnectionTable saved;
    addConnection(saved, QStringLiteral("COM3"), true);
    const ConnectionHandle deleted = addConnection(saved, QStringLiteral("COM4"), true);
    const ConnectionHandle idle = addConnection(saved, QStringLiteral("COM5"), false);
    saved.deleteConnection(deleted);
    const QList<AnsweredCalls::Answer> answers {
        { QStringLiteral("made"), 1, QVariant(idle) },
        { QStringLiteral("refused"), 0, QVariant(), QStringLiteral("COM5: why it failed") },
    };
    for (const AnsweredCalls::Answer &answer : answers)
        saved.rememberAnswer(answer);
    StateStore store(path());
    QVERIFY(store.save(saved));

    ConnectionTable restored;
    store.load(restored);
    QVariantList listed;
    QVERIFY(restored.connections(&listed));
    QCOMPARE(listed, (QVariantList { 1, idle }));
    QVariant state;
    QVERIFY(restored.param(1, QStringLiteral("status.port.state"), &state));
    QCOMPARE(state, QVariant(1)); // started again
    QVERIFY(restored.param(idle, QStringLiteral("status.port.state"), &state));
    QCOMPARE(state, QVariant(3));
    QVariant value;
    QVERIFY(restored.param(1, QStringLiteral("port.sendmode.mode"), &value));
    QCOMPARE(value.userType(), int(QMetaType::Int));
    QVERIFY(restored.param(1, QStringLiteral("network.host"), &value));
    QCOMPARE(value, QVariant(kHosts));
    ConnectionHandle next = -1;
    QVERIFY(restored.createConnection(1, &next));
    QCOMPARE(next, idle + 1); // no handle is handed out twice across restarts
    for (const AnsweredCalls::Answer &answer : answers) {
        AnsweredCalls::Answer kept;
        QVERIFY(restored.answered(answer.callId, &kept));
        QCOMPARE(kept.result, answer.result);
        QCOMPARE(kept.value, answer.value);
        QCOMPARE(kept.reason, answer.reason);
    }
    QVERIFY(asideFiles().isEmpty());
}

void TestStateStore::missingFileIsEmptyTable()
{
    ConnectionTable table;
    StateStore(path()).load(table);
    QVariantList listed;
    QVERIFY(table.connections(&listed));
    QVERIFY(listed.isEmpty());
    QVERIFY(asideFiles().isEmpty());
}

void TestStateStore::unreadableStateMovedAside_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("blank") << QByteArray("\n  \n");
    QTest::newRow("garbage") << QByteArray("\x89PNG\r\n\x1a\n\0\0", 10);
    QTest::newRow("cut short") << QByteArray(R"({"version":1,"lastHandle":2,"connections":[{"ha)");
    QTest::newRow("other version") << QByteArray(R"({"version":99,"connections":[]})");
    QTest::newRow("bad parameter") << QByteArray(R"({"version":1,"lastHandle":1,"connections":)"
                                                 R"([{"handle":1,"params":{"port.name":3}}]})");
    QTest::newRow("handle past last")
        << QByteArray(R"({"version":1,"lastHandle":1,"connections":[{"handle":5,"params":{}}]})");
    QTest::newRow("handle twice") << QByteArray(
        R"({"version":1,"lastHandle":2,"connections":)"
        R"([{"handle":1,"params":{}},{"handle":1,"params":{}}]})");
    // Right syntax, wrong shape: not a single connection may be taken for a missing one.
    QTest::newRow("connections not a list") << QByteArray(
        R"({"version":1,"lastHandle":1,"connections":{"1":{"handle":1,"params":{}}}})");
    QTest::newRow("last handle past the int range")
        << QByteArray(R"({"version":1,"lastHandle":4294967296,"connections":[]})");
    QTest::newRow("started not a flag") << QByteArray(R"({"version":1,"lastHandle":1,)"
                                                      R"("connections":[{"handle":1,)"
                                                      R"("started":"yes","params":{}}]})");
    QTest::newRow("answer without a call id")
        << QByteArray(R"({"version":1,"lastHandle":0,"connections":[],"answers":[{"result":1}]})");
    // Valid, but beyond what the calls accept.
    using namespace ServiceLimits;
    QTest::newRow("text too long")
        << savedTable(1, { { "name", QString(kMaxTextLength + 1, 'n') } });
    QTest::newRow("too many connections") << savedTable(kMaxConnections + 1, { { "name", "n" } });
    const QString longest(kMaxTextLength, QChar(0x4E2D)); // 3 UTF-8 bytes each
    QTest::newRow("parameters too large") << savedTable(kMaxConnections / 2,
        { { "name", longest }, { "port.name", longest }, { "port.type", longest } });
    QJsonArray answers;
    for (int i = 0; i <= AnsweredCalls::kKept; ++i)
        answers.append(QJsonObject { { "callId", QString::number(i) }, { "result", 1 } });
    QTest::newRow("too many answers") << QJsonDocument(
        QJsonObject { { "version", 1 }, { "lastHandle", 0 }, { "connections", QJsonArray() },
            { "answers", answers } }).toJson();
    QTest::newRow("file too large")
        << savedTable(1, { { "name", "n" } }) + QByteArray(int(kMaxStateFileBytes), ' ');
}

void TestStateStore::unreadableStateMovedAside()
{
    QFETCH(QByteArray, contents);
    writeFile(path(), contents);
    ConnectionTable table;
    StateStore store(path());
    store.load(table);
    QVariantList listed;
    QVERIFY(table.connections(&listed));
    QVERIFY(listed.isEmpty());
    QVERIFY(!QFile::exists(path()));
    const QStringList aside = asideFiles();
    QCOMPARE(aside.size(), 1);
    QFile kept(dir->filePath(aside.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), contents);
    // The service goes on and saves a fresh table where the bad one was.
    addConnection(table, QStringLiteral("COM7"), true);
    QVERIFY(store.save(table));
    ConnectionTable again;
    store.load(again);
    QVERIFY(again.connections(&listed));
    QCOMPARE(listed.size(), 1);
}

void TestStateStore::asideCopiesNeverOverwritten()
{
    StateStore store(path());
    for (int round = 0; round < 3; ++round) {
        writeFile(path(), QByteArray("broken ") + QByteArray::number(round));
        ConnectionTable table;
        store.load(table);
    }
    QCOMPARE(asideFiles().size(), 3);
}

// A bad file that cannot be moved aside (here its aside name is too long for the file system,
// which stops root too) still holds the user's connections: the service must not save over it.
void TestStateStore::stuckFileNeverOverwritten()
{
    const QString stuck = dir->filePath(QString(240, QLatin1Char('c')) + QStringLiteral(".json"));
    const QByteArray contents("{\"version\":1,\"connections\":[{\"hand");
    writeFile(stuck, contents);
    ConnectionTable table;
    StateStore store(stuck);
    store.load(table);
    addConnection(table, QStringLiteral("COM7"), true);
    QVERIFY(!store.save(table));
    QFile kept(stuck);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), contents);
}

// Filled through the calls until they refuse, with the texts that cost the most in a saved file
// (control characters, six bytes each), the table is still listed well inside a reply, and the
// file it is saved to loads again.
void TestStateStore::tableAtItsLimitsStaysUsable()
{
    using namespace ServiceLimits;
    const QString longest(kMaxTextLength, QChar(1));
    QVariantList hosts;
    for (int i = 0; i < kMaxHosts; ++i)
        hosts.append(QVariant(QVariantList { longest, longest }));
    ConnectionTable table;
    for (int i = 0; i < kMaxConnections; ++i) {
        ConnectionHandle handle = -1;
        QVERIFY(table.createConnection(1, &handle));
        for (const char *key : { "name", "port.name", "port.type" })
            table.setParam(handle, QString::fromLatin1(key), longest);
        table.setParam(handle, QStringLiteral("network.host"), hosts);
    }
    ConnectionHandle refused = -1;
    QVERIFY(!table.createConnection(1, &refused));

    QList<QPair<ConnectionHandle, QVariantMap>> readable;
    ServiceProtocol::Reply listing;
    table.snapshot(&readable, &listing.stamp);
    QVariantList handles;
    for (const auto &[handle, keys] : qAsConst(readable)) {
        handles.append(handle);
        listing.snapshot.append(keys);
    }
    listing.value = handles;
    QVERIFY(ServiceProtocol::encodeReply(listing).size() < int(ServiceProtocol::kMaxPayload / 2));

    StateStore store(path());
    QVERIFY(store.save(table));
    QVERIFY(QFileInfo(path()).size() <= kMaxStateFileBytes / 2);
    ConnectionTable restored;
    store.load(restored);
    QVariantList listed;
    QVERIFY(restored.connections(&listed));
    QCOMPARE(listed.size(), kMaxConnections);
    QVERIFY(asideFiles().isEmpty());
}

QTEST_GUILESS_MAIN(TestStateStore)
#include "tst_statestore.moc"
