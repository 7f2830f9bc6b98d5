#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QtTest>

// tirvctl search against simulated devices. The search broadcasts on every interface it binds,
// so this runs only inside the namespace test bed.
class TstSearchNetnsCtl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void search_data();
    void search();
    void textTable();

private:
    static QString pcInterface();
    static QByteArray runSearch(const QStringList &options);
};

void TstSearchNetnsCtl::initTestCase()
{
    if (qgetenv("TIRV_TESTBED") != "1")
        QSKIP(
            "the search broadcasts: it runs only inside the namespace test bed, which needs root");
}

QString TstSearchNetnsCtl::pcInterface()
{
    const QHostAddress pc(qEnvironmentVariable("TIRV_TESTBED_PC"));
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            if (entry.ip() == pc)
                return interface.name();
        }
    }
    return QString();
}

QByteArray TstSearchNetnsCtl::runSearch(const QStringList &options)
{
    QProcess tirvctl;
    tirvctl.start(TIRVCTL, QStringList { "search", "--seconds", "2" } + options);
    if (!tirvctl.waitForFinished(30000) || tirvctl.exitCode() != 0) {
        qWarning() << tirvctl.readAllStandardError();
        return QByteArray();
    }
    return tirvctl.readAllStandardOutput();
}

void TstSearchNetnsCtl::search_data()
{
    QTest::addColumn<bool>("oneInterface");
    QTest::newRow("every interface, port 1029") << false;
    QTest::newRow("--interface, any port") << true;
}

void TstSearchNetnsCtl::search()
{
    QFETCH(bool, oneInterface);
    QStringList options { "--json" };
    if (oneInterface)
        options << "--interface" << pcInterface();
    const QJsonArray devices = QJsonDocument::fromJson(runSearch(options))["devices"].toArray();

    QMap<QString, QStringList> found; // by MAC: type, ports, ip
    for (const QJsonValue &device : devices) {
        found.insert(device["mac"].toString(),
            { device["type"].toString(), device["ports"].toString(), device["ip"].toString() });
    }
    QCOMPARE(found.value("00:1A:2B:3C:4D:5E"), QStringList({ "TIR-8", "8", "10.77.0.2" }));
    // Answers the probes only: the first reply makes the row, the second completes it.
    QCOMPARE(found.value("02:00:00:00:00:B1"), QStringList({ "TIR-2", "2", "10.77.0.3" }));
    // Set to another network: its replies come by broadcast.
    QCOMPARE(found.value("02:00:00:00:00:F1"), QStringList({ "TIR-4", "4", "10.99.0.9" }));
    QCOMPARE(found.size(), 3);
}

void TstSearchNetnsCtl::textTable()
{
    const QString table = QString::fromUtf8(runSearch({}));
    QVERIFY2(table.contains(QRegularExpression("TIR-8 +8 +00:1A:2B:3C:4D:5E +10.77.0.2\n")),
        qPrintable(table));
}

QTEST_GUILESS_MAIN(TstSearchNetnsCtl)
#include "tst_search_netns_ctl.moc"
