#include "commanddispatcher.h"
#include "connectiontable.h"
#include "ctlcommands.h"
#include "faultinjector.h"
#include "inprocessservice.h"
#include "portoperations.h"
#include "secapi.h"
#include "servicekeys.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QtTest>

// Every tirvctl command, run in this process against the in-process service.
class TstTirvctl : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void badInput_data();
    void badInput();
    void serviceFailure_data();
    void serviceFailure();
    void help_data();
    void help();
    void addListsEveryPort();
    void addTakesTypeAndMac();
    void addRefusesKnownDevice_data();
    void addRefusesKnownDevice();
    void listJsonParsesBack();
    void listTellsWhenChangesAreNotSaved();
    void createPortRemakesMissingPort();
    void clearDeletesOnlyThatDevice();
    void clearFindsDeviceSavedPadded();
    void deleteRemovesPort();
    void renameMovesPort();
    void setChangesWhatShowPrints();
    void addMakesRfc2217Ports();

private:
    struct Outcome
    {
        int code;
        QString out;
        QString err;
    };
    static Outcome run(const QString &commandLine);
    static QJsonArray listedDevices();
    static QStringList comNames();
    static QString text(const char *context, const char *source)
    {
        return QCoreApplication::translate(context, source);
    }
};

TstTirvctl::Outcome TstTirvctl::run(const QString &commandLine)
{
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    int code = 0;
    {
        CtlCommands commands(out, err);
        const QStringList arguments = (QStringLiteral("tirvctl ") + commandLine)
                                          .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        code = CommandDispatcher(commands, out, err).run(arguments);
    }
    return { code, outText, errText };
}

QJsonArray TstTirvctl::listedDevices()
{
    const Outcome listed = run(QStringLiteral("list --json"));
    return QJsonDocument::fromJson(listed.out.toUtf8()).object().value("devices").toArray();
}

QStringList TstTirvctl::comNames()
{
    QStringList names;
    for (const QJsonValue &device : listedDevices()) {
        for (const QJsonValue &port : device["ports"].toArray())
            names.append(port["comName"].toString());
    }
    return names;
}

void TstTirvctl::init()
{
    QCOMPARE(run(QStringLiteral("add 10.0.0.1 4")).code, int(ExitSuccess));
    QCOMPARE(comNames(), QStringList({ "COM1", "COM2", "COM3", "COM4" }));
}

void TstTirvctl::cleanup()
{
    InProcessService::faults().clearFaults();
    QVariant list;
    QVERIFY(sec_GetConnectionsList(&list));
    for (const QVariant &handle : list.toList())
        QVERIFY(sec_DeleteConnection(handle.toInt()));
}

void TstTirvctl::badInput_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("message");

    const QString badIp = text("AddDevice", "请输入规范的IP地址!");
    const QString notCom = QStringLiteral("is not a COM name");
    QTest::newRow("no command") << ""
                                << "";
    QTest::newRow("unknown command") << "frobnicate"
                                     << "Unknown command";
    QTest::newRow("unknown option") << "list --bogus"
                                    << "Unknown option";
    QTest::newRow("too few arguments") << "add 10.0.0.2"
                                       << "2 expected";
    QTest::newRow("too many arguments") << "delete COM1 COM2"
                                        << "1 expected";
    QTest::newRow("three groups") << "add 192.168.1 4" << badIp;
    QTest::newRow("broadcast address") << "add 255.255.255.255 4" << badIp;
    QTest::newRow("trailing dot") << "add 192.168.1. 4" << badIp;
    QTest::newRow("group of 256") << "add 192.168.1.256 4" << badIp;
    QTest::newRow("three digits with a leading zero") << "clear 192.168.1.010" << badIp;
    QTest::newRow("letters") << "create-port host.lan 1" << badIp;
    QTest::newRow("no ports") << "add 10.0.0.2 0"
                              << "from 1 to 48";
    QTest::newRow("49 ports") << "add 10.0.0.2 49"
                              << "from 1 to 48";
    QTest::newRow("port count not a number") << "add 10.0.0.2 four"
                                             << "from 1 to 48";
    // An "@" would shift the fields of the connection name that follow it.
    QTest::newRow("@ in type") << "add 10.0.0.2 4 --type a@b"
                               << "\"@\"";
    QTest::newRow("@ in mac") << "add 10.0.0.2 4 --mac a@b"
                              << "\"@\"";
    // More than the service keeps: refused before anything is made.
    QTest::newRow("type too long") << "add 10.0.0.2 1 --type " + QString(70000, 'T') << "too long";
    QTest::newRow("unknown device to extend") << "create-port 10.0.0.2 1"
                                              << "add the device first";
    QTest::newRow("device port 0") << "create-port 10.0.0.1 0"
                                   << "from 1 to 4";
    QTest::newRow("device port beyond count") << "create-port 10.0.0.1 5"
                                              << "from 1 to 4";
    QTest::newRow("clear unknown device") << "clear 10.0.0.2"
                                          << "has no virtual ports";
    QTest::newRow("lower-case com") << "delete com1" << notCom;
    QTest::newRow("leading zero") << "delete COM01" << notCom;
    QTest::newRow("no number") << "rename COM COM9" << notCom;
    QTest::newRow("target no number") << "rename COM1 COMx" << notCom;
    QTest::newRow("delete unknown COM") << "delete COM9"
                                        << "There is no virtual port COM9";
    QTest::newRow("rename unknown COM") << "rename COM9 COM10"
                                        << "There is no virtual port COM9";
    QTest::newRow("target beyond COM255") << "rename COM1 COM256"
                                          << "COM1 to COM255";
    QTest::newRow("target in use") << "rename COM1 COM2" << text("ModifyCom", "当前串口已被使用！");
    QTest::newRow("target is itself")
        << "rename COM1 COM1" << text("ModifyCom", "当前串口已被使用！");
    QTest::newRow("zero seconds") << "search --seconds 0"
                                  << "from 1 to 3600";
    QTest::newRow("unknown interface") << "search --interface nosuch0"
                                       << "nosuch0";
    const QString protocol = QStringLiteral("raw or rfc2217");
    QTest::newRow("unknown protocol") << "add 10.0.0.2 4 --protocol telnet" << protocol;
    QTest::newRow("protocol in capitals") << "create-port 10.0.0.1 1 --protocol RAW" << protocol;
    QTest::newRow("set unknown protocol") << "set COM1 --protocol tcp" << protocol;
    QTest::newRow("4 data bits") << "set COM1 --data 4"
                                 << "from 5 to 8";
    QTest::newRow("9 data bits") << "set COM1 --data 9"
                                 << "from 5 to 8";
    QTest::newRow("unknown parity") << "set COM1 --parity evn"
                                    << "none, odd, even, mark or space";
    QTest::newRow("send mode 3") << "set COM1 --send-mode 3"
                                 << "0, 1 or 2";
    QTest::newRow("negative send delay") << "set COM1 --send-delay -1"
                                         << "from 0 to 60000";
    QTest::newRow("connect on open yes") << "set COM1 --connect-on-open yes"
                                         << "on or off";
    // One bad value: the good ones are not applied either.
    QTest::newRow("good and bad together") << "set COM1 --data 7 --parity foo"
                                           << "none, odd, even, mark or space";
    QTest::newRow("nothing to set") << "set COM1"
                                    << "at least one setting";
    QTest::newRow("set unknown COM") << "set COM9 --data 7"
                                     << "There is no virtual port COM9";
    QTest::newRow("show unknown COM") << "show COM9"
                                      << "There is no virtual port COM9";
}

void TstTirvctl::badInput()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, message);
    const QString settings = run(QStringLiteral("show COM1 --json")).out;
    const Outcome outcome = run(commandLine);
    QCOMPARE(outcome.code, int(ExitBadInput));
    QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
    QCOMPARE(comNames(), QStringList({ "COM1", "COM2", "COM3", "COM4" }));
    QCOMPARE(run(QStringLiteral("show COM1 --json")).out, settings);
}

void TstTirvctl::serviceFailure_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<int>("call");
    QTest::addColumn<int>("skip");
    QTest::addColumn<QString>("message");

    QTest::newRow("service not there") << "list" << int(ConnectionService::ConnectService) << 0
                                       << text("RefreshTree", "虚拟串口服务初始化失败！");
    QTest::newRow("listing fails") << "list --json" << int(ConnectionService::GetConnectionsList)
                                   << 0 << text("RefreshTree", "获取所有虚拟串口信息失败！");
    QTest::newRow("third port not created")
        << "add 10.0.0.2 4" << int(ConnectionService::CreateConnection) << 2
        << text("RefreshTree", "创建虚拟串口失败！");
    QTest::newRow("port not started")
        << "add 10.0.0.2 4" << int(ConnectionService::AddConnectionService) << 0
        << text("RefreshTree", "添加虚拟串口失败！");
    QTest::newRow("deletion fails") << "delete COM2" << int(ConnectionService::DeleteConnection)
                                    << 0 << text("RefreshTree", "删除虚拟串口失败！");
    QTest::newRow("clearing fails") << "clear 10.0.0.1" << int(ConnectionService::DeleteConnection)
                                    << 1 << text("RefreshTree", "清空虚拟串口失败！");
    QTest::newRow("apply fails") << "rename COM2 COM9" << int(ConnectionService::ApplyConnection)
                                 << 0 << text("RefreshTree", "修改串口号失败！");
    // The engine stays silent when the new name cannot be written; the port keeps its name.
    QTest::newRow("new name refused") << "rename COM2 COM9" << int(ConnectionService::SetParam) << 0
                                      << text("RefreshTree", "修改串口号失败！");
}

void TstTirvctl::serviceFailure()
{
    QFETCH(QString, commandLine);
    QFETCH(int, call);
    QFETCH(int, skip);
    QFETCH(QString, message);
    InProcessService::faults().failCall(ConnectionService::Call(call), skip);
    const Outcome outcome = run(commandLine);
    QCOMPARE(outcome.code, int(ExitFailure));
    QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
}

void TstTirvctl::help_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("usage");
    for (const char *usage : { "list", "add IP PORTS", "create-port IP SEQ", "clear IP",
             "delete COMn", "rename COMn COMm", "search" })
        QTest::newRow(usage) << QString(usage).section(' ', 0, 0) << QString(usage);
}

void TstTirvctl::help()
{
    QFETCH(QString, command);
    QFETCH(QString, usage);
    const Outcome own = run(command + " --help");
    QCOMPARE(own.code, int(ExitSuccess));
    QVERIFY2(own.out.contains("[options] " + usage), qPrintable(own.out));
    const Outcome overview = run("--help");
    QCOMPARE(overview.code, int(ExitSuccess));
    QVERIFY(overview.out.contains("  " + usage + " "));
}

void TstTirvctl::addListsEveryPort()
{
    const Outcome added = run(QStringLiteral("add 192.168.1.200 4"));
    QCOMPARE(added.code, int(ExitSuccess));
    QVERIFY2(added.out.contains("192.168.1.200:972"), qPrintable(added.out));
    QVERIFY(!added.out.contains("10.0.0.1"));
    QCOMPARE(comNames().mid(4), QStringList({ "COM5", "COM6", "COM7", "COM8" }));
}

void TstTirvctl::addTakesTypeAndMac()
{
    QCOMPARE(run("add 10.0.0.2 2 --type TIR-M2 --mac 00:1A:2B:3C:4D:5E").code, int(ExitSuccess));
    const QJsonObject device = listedDevices().at(1).toObject();
    QCOMPARE(device["type"].toString(), QString("TIR-M2"));
    QCOMPARE(device["mac"].toString(), QString("00:1A:2B:3C:4D:5E"));
    QCOMPARE(device["portCount"].toInt(), 2);
}

void TstTirvctl::addRefusesKnownDevice_data()
{
    QTest::addColumn<QString>("ip");
    QTest::newRow("same spelling") << "10.0.0.1";
    QTest::newRow("zero-padded groups") << "10.00.0.01";
}

void TstTirvctl::addRefusesKnownDevice()
{
    QFETCH(QString, ip);
    const Outcome again = run("add " + ip + " 2");
    QCOMPARE(again.code, int(ExitFailure));
    QVERIFY(again.err.contains(text("RefreshTree", "当前设备已存在虚拟串口！")));
    QCOMPARE(comNames().size(), 4);
}

void TstTirvctl::listJsonParsesBack()
{
    const Outcome listed = run(QStringLiteral("list --json"));
    QCOMPARE(listed.code, int(ExitSuccess));
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(listed.out.toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QString portDir = qEnvironmentVariable("TIRV_PORT_DIR");
    QCOMPARE(root["portDirectory"].toString(), portDir);
    const QJsonArray devices = root["devices"].toArray();
    QCOMPARE(devices.size(), 1);
    const QJsonObject device = devices.at(0).toObject();
    QCOMPARE(device["ip"].toString(), QString("10.0.0.1"));
    QCOMPARE(device["type"].toString(), QString("4Ports"));
    QCOMPARE(device["mac"].toString(), QString("null"));
    QCOMPARE(device["portCount"].toInt(), 4);
    const QJsonArray ports = device["ports"].toArray();
    QCOMPARE(ports.size(), 4);
    for (int k = 1; k <= 4; ++k) {
        const QJsonObject port = ports.at(k - 1).toObject();
        QCOMPARE(port["devicePort"].toInt(), k);
        QCOMPARE(port["tcpHost"].toString(), QString("10.0.0.1"));
        QCOMPARE(port["tcpPort"].toInt(), 964 + 2 * k);
        QCOMPARE(port["link"].toString(), QDir(portDir).filePath(port["comName"].toString()));
        QCOMPARE(port["state"].toString(), text("RefreshTree", "串口关闭"));
        QCOMPARE(port["stateKey"].toString(), QString("closed"));
    }
    cleanup();
    const Outcome empty = run(QStringLiteral("list --json"));
    QCOMPARE(empty.code, int(ExitSuccess));
    QCOMPARE(QJsonDocument::fromJson(empty.out.toUtf8())["devices"].toArray().size(), 0);
}

void TstTirvctl::listTellsWhenChangesAreNotSaved()
{
    ConnectionTable &table = InProcessService::table();
    table.setServiceStatus(ServiceKeys::kSaveError, "disk full");
    const QString listed = run(QStringLiteral("list")).out;
    const QJsonObject root
        = QJsonDocument::fromJson(run(QStringLiteral("list --json")).out.toUtf8()).object();
    table.setServiceStatus(ServiceKeys::kSaveError, QString());
    QVERIFY(listed.endsWith(
        QString("Warning: %1 (disk full)\n").arg(text("MainWindow", "更改未能保存"))));
    QCOMPARE(root["changesSaved"], QJsonValue(false));
    QCOMPARE(root["saveError"].toString(), QString("disk full"));
    QVERIFY(!run(QStringLiteral("list")).out.contains("disk full"));
}

void TstTirvctl::createPortRemakesMissingPort()
{
    QCOMPARE(run(QStringLiteral("delete COM2")).code, int(ExitSuccess));
    const Outcome made = run(QStringLiteral("create-port 10.0.0.1 2"));
    QCOMPARE(made.code, int(ExitSuccess));
    QVERIFY2(made.out.contains("10.0.0.1:968"), qPrintable(made.out));
    QCOMPARE(comNames().size(), 4);

    const Outcome again = run(QStringLiteral("create-port 10.0.0.01 2"));
    QCOMPARE(again.code, int(ExitFailure));
    QVERIFY(again.err.contains(text("RefreshTree", "当前设备端口已存在相应的虚拟串口！")));
}

void TstTirvctl::clearDeletesOnlyThatDevice()
{
    QCOMPARE(run(QStringLiteral("add 10.0.0.10 2")).code, int(ExitSuccess));
    const Outcome cleared = run(QStringLiteral("clear 10.0.00.1"));
    QCOMPARE(cleared.code, int(ExitSuccess));
    QCOMPARE(cleared.err, QString());
    const QJsonArray devices = listedDevices();
    QCOMPARE(devices.size(), 1);
    QCOMPARE(devices.at(0)["ip"].toString(), QString("10.0.0.10"));
}

// Names saved before addresses were made canonical stay as they are, and are still found.
void TstTirvctl::clearFindsDeviceSavedPadded()
{
    QString message;
    PortOperations().createDevicePorts(2, "2Ports", "10.0.0.02", "null", message);
    QCOMPARE(listedDevices().at(1)["ip"].toString(), QString("10.0.0.02"));
    QCOMPARE(run(QStringLiteral("clear 10.0.0.2")).code, int(ExitSuccess));
    QCOMPARE(listedDevices().size(), 1);
}

void TstTirvctl::deleteRemovesPort()
{
    QCOMPARE(run(QStringLiteral("delete COM3")).code, int(ExitSuccess));
    QCOMPARE(comNames(), QStringList({ "COM1", "COM2", "COM4" }));
}

void TstTirvctl::renameMovesPort()
{
    QCOMPARE(run(QStringLiteral("rename COM3 COM9")).code, int(ExitSuccess));
    QCOMPARE(comNames(), QStringList({ "COM1", "COM2", "COM9", "COM4" }));
    const Outcome listed = run(QStringLiteral("list"));
    QVERIFY2(listed.out.contains(QRegularExpression("COM9 +port 3 +10.0.0.1:970")),
        qPrintable(listed.out));
}

void TstTirvctl::setChangesWhatShowPrints()
{
    const Outcome set = run(QStringLiteral("set COM2 --protocol rfc2217 --data 7 --parity even "
                                           "--send-mode 0 --send-delay 0 --connect-on-open off"));
    QCOMPARE(set.code, int(ExitSuccess));
    const QJsonObject shown
        = QJsonDocument::fromJson(run(QStringLiteral("show COM2 --json")).out.toUtf8()).object();
    QCOMPARE(shown.toVariantMap(),
        QVariantMap({ { "comName", "COM2" }, { "connectOnOpen", false }, { "dataBits", 7 },
            { "devicePort", 2 }, { "line", QVariantMap() }, { "link", shown["link"].toString() },
            { "parity", "even" }, { "protocol", "RFC2217" }, { "sendDelay", 0 }, { "sendMode", 0 },
            { "state", shown["state"].toString() }, { "stateKey", "closed" },
            { "tcpHost", "10.0.0.1" }, { "tcpPort", 968 },
            { "reason",
                QVariantMap { { "code", "" }, { "text", "" }, { "since", "" }, { "retry", "" } } },
            { "counters",
                QVariantMap { { "toDevice", 0 }, { "fromDevice", 0 }, { "reconnects", 0 },
                    { "dropped", 0 }, { "lastConnect", "" } } } }));
    const Outcome text = run(QStringLiteral("show COM1"));
    QVERIFY2(text.out.contains(QRegularExpression("protocol +RAW\n")), qPrintable(text.out));
    QVERIFY2(text.out.contains(QRegularExpression("send delay +1 ms\n")), qPrintable(text.out));
}

void TstTirvctl::addMakesRfc2217Ports()
{
    QCOMPARE(run(QStringLiteral("add 10.0.0.2 2 --protocol rfc2217")).code, int(ExitSuccess));
    QCOMPARE(run(QStringLiteral("delete COM6")).code, int(ExitSuccess));
    QCOMPARE(run(QStringLiteral("create-port 10.0.0.2 2")).code, int(ExitSuccess));
    const auto protocolOf = [](const QString &comName) {
        const QString shown = run(QStringLiteral("show %1 --json").arg(comName)).out;
        return QJsonDocument::fromJson(shown.toUtf8()).object()["protocol"].toString();
    };
    QCOMPARE(protocolOf("COM5"), QString("RFC2217"));
    // Made again without a protocol, and under the next free number.
    QCOMPARE(protocolOf("COM7"), QString("RAW"));
}

QTEST_GUILESS_MAIN(TstTirvctl)
#include "tst_tirvctl.moc"
