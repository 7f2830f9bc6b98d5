#include "connectionport.h"
#include "connectiontable.h"
#include "inprocessservice.h"
#include "portfactory.h"
#include "secapi.h"
#include "servicelimits.h"

#include <QtTest>

namespace {

const QVariantList kHosts { QVariant(
    QVariantList { QStringLiteral("10.0.0.7"), QStringLiteral("966") }) };

ConnectionHandle makeStarted(ConnectionTable &table, const QString &comName)
{
    ConnectionHandle handle = -1;
    table.createConnection(1, &handle);
    table.setParam(handle, QStringLiteral("port.name"), comName);
    table.setParam(handle, QStringLiteral("network.host"), kHosts);
    table.startConnection(handle);
    return handle;
}

// A working port whose openness and byte count the test switches.
class SwitchedPort : public ConnectionPort
{
public:
    SwitchedPort(std::shared_ptr<bool> open, std::shared_ptr<qint64> bytes)
        : open(std::move(open))
        , bytes(std::move(bytes))
    {
    }
    int state() const override { return *open ? 2 : 1; }
    QVariantList remoteHosts() const override { return {}; }
    quint64 statusKey() const override { return quint64(state()); }
    quint64 countersKey() const override { return quint64(*bytes); }
    bool rename(const QString &, QString *) override { return true; }
    bool reconfigure(const QVariantMap &) override { return true; }
    QVariantMap lineStatus() const override { return {}; }
    QVariantMap reason() const override { return {}; }
    QVariantMap counters() const override { return { { "toDevice", *bytes } }; }

private:
    std::shared_ptr<bool> open;
    std::shared_ptr<qint64> bytes;
};

class SwitchedPortFactory : public PortFactory
{
public:
    std::shared_ptr<bool> open = std::make_shared<bool>(false);
    std::shared_ptr<qint64> bytes = std::make_shared<qint64>(0);
    std::unique_ptr<ConnectionPort> makePort(const QVariantMap &, QString *) override
    {
        return std::make_unique<SwitchedPort>(open, bytes);
    }
};

using Readable = QList<QPair<ConnectionHandle, QVariantMap>>;

QStringList keysOfFirst(const Readable &readable)
{
    return readable.value(0).second.keys();
}

} // namespace

class TestConnectionTable : public QObject
{
    Q_OBJECT

private slots:
    void everyKeyReadsBack_data();
    void everyKeyReadsBack();
    void rejectsWrongShapes_data();
    void rejectsWrongShapes();
    void listKeepsCreationOrder();
    void statesFollowLifecycle();
    void comNameConflictRefused();
    void applyMovesName();
    void pendingNameHoldsNothing();
    void secCallsReachInProcessTable();
    void snapshotHoldsEveryReadableKey();
    void snapshotGivesOnlyWhatChanged();
    void restoreRefusesBadOrLateEntries();
};

void TestConnectionTable::everyKeyReadsBack_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("name") << "name" << QVariant(QStringLiteral("TIR@10.0.0.7@4Ports@4@1@null"));
    QTest::newRow("port.name") << "port.name" << QVariant(QStringLiteral("COM3"));
    QTest::newRow("port.type") << "port.type" << QVariant(QStringLiteral("Virtual"));
    QTest::newRow("network.host") << "network.host" << QVariant(kHosts);
    QTest::newRow("network.host by name")
        << "network.host"
        << QVariant(QVariantList {
               QVariant(QVariantList { QStringLiteral("serial-7.lan"), QStringLiteral("966") }) });
    QTest::newRow("protocol.type") << "protocol.type" << QVariant(QStringLiteral("RAW"));
    QTest::newRow("sendmode") << "port.sendmode.mode" << QVariant(2);
    QTest::newRow("sendparam") << "port.sendmode.param" << QVariant(1);
    QTest::newRow("opencondition") << "protocol.portopencondition.enable" << QVariant(1);
    QTest::newRow("longest text") << "name"
                                  << QVariant(
                                         QString(ServiceLimits::kMaxTextLength, QChar(0x4E2D)));
}

void TestConnectionTable::everyKeyReadsBack()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    ConnectionTable table;
    ConnectionHandle handle = -1;
    QVERIFY(table.createConnection(1, &handle));
    QVariant read;
    QVERIFY(!table.param(handle, key, &read)); // not written yet
    QVERIFY(table.setParam(handle, key, value));
    QVERIFY(table.param(handle, key, &read));
    QCOMPARE(read, value);
    QCOMPARE(read.userType(), value.userType());
}

void TestConnectionTable::rejectsWrongShapes_data()
{
    QTest::addColumn<QVariant>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("reason");
    QTest::newRow("unknown key") << QVariant(QStringLiteral("port.colour")) << QVariant(1)
                                 << "connection 1: \"port.colour\" is not a parameter";
    QTest::newRow("status is read-only")
        << QVariant(QStringLiteral("status.port.state")) << QVariant(2)
        << "connection 1: \"status.port.state\" is not a parameter";
    QTest::newRow("key not text") << QVariant(7) << QVariant(1) << "a parameter key must be text";
    QTest::newRow("int as text") << QVariant(QStringLiteral("port.sendmode.mode"))
                                 << QVariant(QStringLiteral("2"))
                                 << "connection 1: port.sendmode.mode must be a whole number";
    QTest::newRow("text as int") << QVariant(QStringLiteral("port.name")) << QVariant(3)
                                 << "connection 1: port.name must be a text";
    const QString hostList
        = "connection 1: network.host must be a list of at most 16 [host, TCP port] entries";
    QTest::newRow("host not nested")
        << QVariant(QStringLiteral("network.host"))
        << QVariant(QVariantList { QStringLiteral("10.0.0.7") }) << hostList;
    QTest::newRow("host entry short")
        << QVariant(QStringLiteral("network.host"))
        << QVariant(QVariantList { QVariant(QVariantList { QStringLiteral("h") }) }) << hostList;
    QTest::newRow("host no device can have")
        << QVariant(QStringLiteral("network.host"))
        << QVariant(QVariantList { kHosts.first(),
               QVariant(QVariantList { QStringLiteral("255.1.2.3"), QStringLiteral("966") }) })
        << "connection 1: network.host cannot hold \"255.1.2.3\": no device has that address";
    QTest::newRow("not a choice") << QVariant(QStringLiteral("protocol.type"))
                                  << QVariant(QStringLiteral("TELNET"))
                                  << "connection 1: protocol.type cannot be \"TELNET\"";
    using namespace ServiceLimits;
    const QString tooLong(kMaxTextLength + 1, 'x');
    QTest::newRow("text too long")
        << QVariant(QStringLiteral("port.type")) << QVariant(tooLong)
        << "connection 1: port.type holds a text longer than 256 characters";
    QTest::newRow("host too long")
        << QVariant(QStringLiteral("network.host"))
        << QVariant(QVariantList { QVariant(QVariantList { tooLong, QStringLiteral("966") }) })
        << "connection 1: network.host holds a text longer than 256 characters";
    QVariantList tooManyHosts;
    for (int i = 0; i <= kMaxHosts; ++i)
        tooManyHosts += kHosts;
    QTest::newRow("too many hosts")
        << QVariant(QStringLiteral("network.host")) << QVariant(tooManyHosts) << hostList;
}

// Every refusal says why, naming the connection.
void TestConnectionTable::rejectsWrongShapes()
{
    QFETCH(QVariant, key);
    QFETCH(QVariant, value);
    QFETCH(QString, reason);
    ConnectionTable table;
    ConnectionHandle handle = -1;
    table.createConnection(1, &handle);
    QVERIFY(!table.setParam(handle, key, value));
    QCOMPARE(ConnectionService::failureReason(), reason);
    QVERIFY(!table.setParam(handle + 1, QStringLiteral("port.name"), QStringLiteral("COM1")));
    QCOMPARE(ConnectionService::failureReason(), QString("there is no connection 2"));
}

void TestConnectionTable::listKeepsCreationOrder()
{
    ConnectionTable table;
    QList<ConnectionHandle> made;
    for (int i = 0; i < 5; ++i) {
        ConnectionHandle handle = -1;
        QVERIFY(table.createConnection(1, &handle));
        made.append(handle);
    }
    QVERIFY(table.deleteConnection(made.takeAt(2)));
    QVERIFY(!table.deleteConnection(made.at(0) + 100));
    QVariantList listed;
    QVERIFY(table.connections(&listed));
    QCOMPARE(listed.size(), made.size());
    for (int i = 0; i < made.size(); ++i)
        QCOMPARE(listed.at(i).toInt(), made.at(i));
    ConnectionHandle again = -1;
    table.createConnection(1, &again);
    QVERIFY(again > made.last()); // a deleted handle is never handed out again
}

void TestConnectionTable::statesFollowLifecycle()
{
    ConnectionTable table;
    ConnectionHandle handle = -1;
    table.createConnection(1, &handle);
    table.setParam(handle, QStringLiteral("port.name"), QStringLiteral("COM3"));
    table.setParam(handle, QStringLiteral("network.host"), kHosts);
    QVariant state;
    QVERIFY(table.param(handle, QStringLiteral("status.port.state"), &state));
    QCOMPARE(state, QVariant(3)); // created, not started
    QVERIFY(table.startConnection(handle));
    QVERIFY(table.param(handle, QStringLiteral("status.port.state"), &state));
    QCOMPARE(state, QVariant(1));
    QVariant remote;
    QVERIFY(table.param(handle, QStringLiteral("status.remotehost"), &remote));
    const QVariantList entry = remote.toList().value(0).toList();
    QCOMPARE(entry, (QVariantList { "10.0.0.7", "966", "0" }));
}

void TestConnectionTable::comNameConflictRefused()
{
    ConnectionTable table;
    makeStarted(table, QStringLiteral("COM3"));
    ConnectionHandle second = -1;
    table.createConnection(1, &second);
    QVERIFY(!table.startConnection(second));
    QCOMPARE(ConnectionService::failureReason(),
        QString("connection 2: cannot start without a COM name"));
    table.setParam(second, QStringLiteral("port.name"), QStringLiteral("COM3"));
    QVERIFY(!table.startConnection(second));
    QCOMPARE(
        ConnectionService::failureReason(), QString("COM3: the COM name is taken by another port"));
    table.setParam(second, QStringLiteral("port.name"), QStringLiteral("COM4"));
    QVERIFY(table.startConnection(second));
}

void TestConnectionTable::applyMovesName()
{
    ConnectionTable table;
    const ConnectionHandle first = makeStarted(table, QStringLiteral("COM3"));
    const ConnectionHandle second = makeStarted(table, QStringLiteral("COM4"));
    QVERIFY(table.setParam(second, QStringLiteral("port.name"), QStringLiteral("COM3")));
    QVERIFY(!table.applyConnection(second));
    QCOMPARE(ConnectionService::failureReason(), QString("COM4: COM3 is taken by another port"));
    QVariant name;
    QVERIFY(table.param(second, QStringLiteral("port.name"), &name));
    QCOMPARE(name.toString(), QStringLiteral("COM4")); // the refused name is not kept
    QCOMPARE(table.entries().at(1).params.value("port.name").toString(), QStringLiteral("COM4"));
    QVERIFY(table.setParam(second, QStringLiteral("port.name"), QStringLiteral("COM9")));
    QVERIFY(table.applyConnection(second));
    QVERIFY(table.deleteConnection(first));
    QVERIFY(!table.applyConnection(first));
}

// Only applied names count: a name written but not applied neither holds a COM name nor frees
// the one the port still has.
void TestConnectionTable::pendingNameHoldsNothing()
{
    ConnectionTable table;
    const ConnectionHandle first = makeStarted(table, QStringLiteral("COM3"));
    QVERIFY(table.setParam(first, QStringLiteral("port.name"), QStringLiteral("COM5")));
    ConnectionHandle second = -1;
    table.createConnection(1, &second);
    table.setParam(second, QStringLiteral("port.name"), QStringLiteral("COM3"));
    QVERIFY(!table.startConnection(second)); // COM3 still lives
    table.setParam(second, QStringLiteral("port.name"), QStringLiteral("COM5"));
    QVERIFY(table.startConnection(second)); // COM5 was only written
    QVERIFY(!table.applyConnection(first));
    QVariant name;
    QVERIFY(table.param(first, QStringLiteral("port.name"), &name));
    QCOMPARE(name.toString(), QStringLiteral("COM3"));
}

void TestConnectionTable::secCallsReachInProcessTable()
{
    QVERIFY(sec_ConnectService(QStringLiteral(".")));
    ConnectionHandle handle = -1;
    QVERIFY(sec_CreateConnection(1, &handle));
    QVERIFY(sec_SetParam(handle, QStringLiteral("port.name"), QStringLiteral("COM8")));
    QVERIFY(sec_AddConnectionService(handle));
    QVariant list;
    QVERIFY(sec_GetConnectionsList(&list));
    QCOMPARE(list.userType(), int(QMetaType::QVariantList));
    QCOMPARE(list.toList(), QVariantList { handle });
    QCOMPARE(InProcessService::table().entries().value(0).handle, handle);
    QVariant name;
    QVERIFY(sec_GetParam(handle, QStringLiteral("port.name"), &name));
    QCOMPARE(name.toString(), QStringLiteral("COM8"));
    QVERIFY(sec_DeleteConnection(handle));
    QVERIFY(!sec_ApplyConnection(handle));
    QVERIFY(sec_DisconnectService());
}

// A listing client answers reads from the snapshot, so it must agree with param() key by key.
void TestConnectionTable::snapshotHoldsEveryReadableKey()
{
    ConnectionTable table;
    const ConnectionHandle started = makeStarted(table, QStringLiteral("COM3"));
    ConnectionHandle idle = -1;
    table.createConnection(1, &idle);
    Readable readable;
    ListingStamp stamp;
    table.snapshot(&readable, &stamp);
    QCOMPARE(readable.size(), 2);
    QCOMPARE(readable.at(0).first, started);
    QCOMPARE(readable.at(1).first, idle);
    const QStringList keys { "name", "port.name", "network.host", "port.type", "status.port.state",
        "status.remotehost", "status.reason", "status.counters" };
    for (const auto &[handle, snapshot] : qAsConst(readable)) {
        for (const QString &key : keys) {
            QVariant value;
            const bool readsBack = table.param(handle, key, &value);
            QCOMPARE(snapshot.contains(key), readsBack);
            QCOMPARE(snapshot.value(key), value);
        }
    }
    QCOMPARE(readable.at(1).second.value("status.port.state"), QVariant(3));
}

// The idle listing: the status alone once the parameters are held, nothing once the status is
// held too, the status again as soon as a port's state moves (or, once a second at most, its
// counters), everything after a write.
void TestConnectionTable::snapshotGivesOnlyWhatChanged()
{
    SwitchedPortFactory ports;
    ConnectionTable table;
    table.setPortFactory(&ports);
    const ConnectionHandle handle = makeStarted(table, QStringLiteral("COM3"));
    const QStringList status { "status.counters", "status.port.state", "status.reason",
        "status.remotehost" };
    Readable readable;
    ListingStamp full;
    table.snapshot(&readable, &full);
    QVERIFY(keysOfFirst(readable).contains("port.name"));

    ListingStamp now;
    table.snapshot(&readable, &now, { full.revision, 0 });
    QVERIFY(now == full);
    QCOMPARE(keysOfFirst(readable), status);

    table.snapshot(&readable, &now, full);
    QVERIFY(now == full);
    QCOMPARE(readable.size(), 1);
    QCOMPARE(readable.at(0).first, handle);
    QVERIFY(readable.at(0).second.isEmpty());

    *ports.open = true;
    table.snapshot(&readable, &now, full);
    QCOMPARE(now.revision, full.revision);
    QVERIFY(now.status != full.status);
    QCOMPARE(keysOfFirst(readable), status);
    QCOMPARE(readable.at(0).second.value("status.port.state"), QVariant(2));

    // Closed again: back to the state of `full`, yet under a stamp of its own, so a lister
    // that holds the open state learns of the closing.
    const ListingStamp opened = now;
    *ports.open = false;
    table.snapshot(&readable, &now, opened);
    QVERIFY(now.status != opened.status && now.status != full.status);
    QCOMPARE(readable.at(0).second.value("status.port.state"), QVariant(1));

    // What the service says of itself changes the status stamp alone.
    const ListingStamp closed = now;
    table.setServiceStatus("saving", false);
    table.snapshot(&readable, &now, closed);
    QCOMPARE(now.revision, closed.revision);
    QVERIFY(now.status != closed.status);
    QCOMPARE(table.serviceStatus().value("saving"), QVariant(false));

    // Traffic: the next listings stay empty, then one brings the counters.
    const ListingStamp saving = now;
    *ports.bytes = 5;
    table.snapshot(&readable, &now, saving);
    QVERIFY(now == saving);
    QTRY_VERIFY_WITH_TIMEOUT(table.stamp() != saving, 3000);
    table.snapshot(&readable, &now, saving);
    QCOMPARE(readable.at(0).second.value("status.counters").toMap().value("toDevice"), 5);

    QVERIFY(table.setParam(handle, "port.type", "Virtual"));
    table.snapshot(&readable, &now, opened);
    QVERIFY(now.revision != full.revision);
    QCOMPARE(readable.at(0).second.value("port.type"), QVariant("Virtual"));
}

void TestConnectionTable::restoreRefusesBadOrLateEntries()
{
    ConnectionTable table;
    const QVariantMap params { { "port.name", "COM3" }, { "network.host", kHosts } };
    QVERIFY(!table.restore({ { 1, { { "port.name", 3 } }, true } }, 1));
    QVERIFY(!table.restore({ { 0, params, true } }, 1));
    QVariantList listed;
    QVERIFY(table.connections(&listed));
    QVERIFY(listed.isEmpty()); // a refused restore leaves nothing half done
    // The same COM name twice: the later connection stays unstarted, the table still loads.
    QVERIFY(table.restore({ { 2, params, true }, { 4, params, true } }, 4));
    QVariant state;
    QVERIFY(table.param(2, "status.port.state", &state));
    QCOMPARE(state, QVariant(1));
    QVERIFY(table.param(4, "status.port.state", &state));
    QCOMPARE(state, QVariant(3));
    QVERIFY(!table.restore({}, 9)); // only into an empty table
}

QTEST_GUILESS_MAIN(TestConnectionTable)
#include "tst_connectiontable.moc"
