#include "lineprotocol.h"
#include "portoperations.h"
#include "ptyportfactory.h"
#include "servicefixture.h"
#include "signallog.h"
#include "systemports.h"

#include <QtTest>

using namespace ServiceFixture;

namespace {

const QString kIp = QStringLiteral("192.168.1.200");

// No fault injected.
constexpr int kNoFault = -1;

} // namespace

class TestPortOperations : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void listsOnlyOurPortsInServiceOrder();
    void listsManyPortsCompletely();
    void relistingFollowsNameChanges();
    void failedListingEmitsNothing();
    void portState_data();
    void portState();

    void createsDevicePorts();
    void refusesDeviceWithPorts_data();
    void refusesDeviceWithPorts();
    void zeroPortsOnlyHidesProgress();
    void failedCreationLeavesTableAsItWas_data();
    void failedCreationLeavesTableAsItWas();
    void failedUndoIsReported();
    void blockedPortUndoesTheDevice();
    void comNumbersStayInRange_data();
    void comNumbersStayInRange();
    void failedDuplicateCheckStillCreates();
    void secondDeviceTakesNextFreeNumbers();

    void createsOnePort_data();
    void createsOnePort();
    void recreatesMissingPort();
    void refusesPortOutsideDevice();

    void clearsOnlyExactDevice_data();
    void clearsOnlyExactDevice();

    void deletesEveryPortWithComName();
    void deleteFailureIsReported();
    void renamesEveryPortWithComName();
    void renameFailureKeepsOldName_data();
    void renameFailureKeepsOldName();

    void findFreeComBase_data();
    void findFreeComBase();
    void comNameLess_data();
    void comNameLess();
    void systemNamesIncludeServicePorts();

private:
    void usePortNames(PortOperations &ops, const QStringList &names);
    void createDevice(
        PortOperations &ops, int portCount, const QString &ip, QString *message = nullptr);
};

void TestPortOperations::init()
{
    reset();
}

void TestPortOperations::usePortNames(PortOperations &ops, const QStringList &names)
{
    ops.setPortNameSource([names] { return names; });
}

void TestPortOperations::createDevice(
    PortOperations &ops, int portCount, const QString &ip, QString *message)
{
    QString text;
    ops.createDevicePorts(
        portCount, QStringLiteral("%1Ports").arg(portCount), ip, QStringLiteral("null"), text);
    if (message)
        *message = text;
}

void TestPortOperations::listsOnlyOurPortsInServiceOrder()
{
    addConnection("TIR@10.0.0.7@8Ports@8@8@null", "COM9");
    addConnection("foreign", "COM4");
    addConnection("TIR@10.0.0.8@TIR-8E@16@12@00:1A:2B:3C:4D:5E", "COM2", false);
    addConnection(QString(), "COM5"); // no readable name: still ours as far as we can tell

    PortOperations ops;
    SignalLog log;
    log.watch(&ops);
    QList<COMS_INFO> returned;
    QVERIFY(ops.refreshComInfo(&returned));

    QCOMPARE(log.lists.size(), 1);
    QCOMPARE(log.lists.first(), returned);
    QCOMPARE(comNamesOf(returned), QStringList({ "COM9", "COM2", "COM5" }));
    const COMS_INFO &first = returned.at(0);
    QCOMPARE(first.devIp, QStringLiteral("10.0.0.7"));
    QCOMPARE(first.devType, QStringLiteral("8Ports"));
    QCOMPARE(first.portCount, 8);
    QCOMPARE(first.portSeq, QStringLiteral("8"));
    QCOMPARE(first.devMac, QStringLiteral("null"));
    QCOMPARE(returned.at(1).devMac, QStringLiteral("00:1A:2B:3C:4D:5E"));
    QCOMPARE(returned.at(2).portCount, 0);
    QVERIFY(returned.at(2).devIp.isEmpty());
}

void TestPortOperations::listsManyPortsCompletely()
{
    QStringList expected;
    for (int i = 1; i <= 255; ++i) {
        expected << QStringLiteral("COM%1").arg(i);
        addConnection(
            QStringLiteral("TIR@10.0.%1.1@1Ports@1@1@null").arg(i), expected.last(), false);
    }
    PortOperations ops;
    QList<COMS_INFO> list;
    QVERIFY(ops.refreshComInfo(&list));
    QCOMPARE(comNamesOf(list), expected);
    QCOMPARE(list.last().devIp, QStringLiteral("10.0.255.1"));
}

// Names are parsed once and remembered between listings; a changed name must still show.
void TestPortOperations::relistingFollowsNameChanges()
{
    const ConnectionHandle moved = addConnection("TIR@10.0.0.7@8Ports@8@1@null", "COM3");
    const ConnectionHandle leaving = addConnection("TIR@10.0.0.7@8Ports@8@2@null", "COM4");
    const ConnectionHandle joining = addConnection("foreign", "COM5");
    PortOperations ops;
    QList<COMS_INFO> list;
    QVERIFY(ops.refreshComInfo(&list));
    QCOMPARE(comNamesOf(list), QStringList({ "COM3", "COM4" }));

    QVERIFY(sec_SetParam(moved, "name", "TIR@10.0.0.9@4Ports@4@3@null"));
    QVERIFY(sec_SetParam(leaving, "name", "foreign"));
    QVERIFY(sec_SetParam(joining, "name", "TIR@10.0.0.7@8Ports@8@2@null"));
    QVERIFY(ops.refreshComInfo(&list));
    QCOMPARE(comNamesOf(list), QStringList({ "COM3", "COM5" }));
    QCOMPARE(list.at(0).devIp, QStringLiteral("10.0.0.9"));
    QCOMPARE(list.at(0).portSeq, QStringLiteral("3"));
    QCOMPARE(list.at(1).devIp, QStringLiteral("10.0.0.7"));
}

void TestPortOperations::failedListingEmitsNothing()
{
    PortOperations ops;
    SignalLog log;
    log.watch(&ops);
    QVERIFY(ops.refreshComInfo());
    QCOMPARE(log.lists.size(), 1);
    QVERIFY(log.lists.first().isEmpty()); // an empty service is still a listing

    faults().failCall(ConnectionService::GetConnectionsList);
    QVERIFY(!ops.refreshComInfo());
    QCOMPARE(log.lists.size(), 1);
}

void TestPortOperations::portState_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QVariantList>("hosts");
    QTest::addColumn<bool>("hostsReadable");
    QTest::addColumn<QString>("text");

    const auto host = [](const char *connected) {
        return QVariant(QVariantList { "10.0.0.7", "966", QString::fromLatin1(connected) });
    };
    QTest::newRow("error") << 0 << QVariantList() << true << "串口错误";
    QTest::newRow("closed") << 1 << QVariantList() << true << "串口关闭";
    QTest::newRow("closed too") << 3 << QVariantList() << true << "串口关闭";
    QTest::newRow("unknown") << 5 << QVariantList() << true << "";
    QTest::newRow("one of two connected")
        << 2 << QVariantList { host("0"), host("1") } << true << "已连接";
    QTest::newRow("none connected")
        << 2 << QVariantList { host("0"), host("0") } << true << "未连接";
    QTest::newRow("no hosts") << 2 << QVariantList() << true << "未连接";
    // Only the text "1" counts; short entries and non-arrays do not break the listing.
    QTest::newRow("odd entries") << 2
                                 << QVariantList { "1", QVariant(QVariantList { "a", "1" }),
                                        QVariant(QVariantList { "a", "b", 1 }) }
                                 << true << "未连接";
    QTest::newRow("hosts unreadable") << 2 << QVariantList() << false << "串口打开";
}

void TestPortOperations::portState()
{
    QFETCH(int, state);
    QFETCH(QVariantList, hosts);
    QFETCH(bool, hostsReadable);
    QFETCH(QString, text);

    FakePortFactory factory;
    factory.state = state;
    factory.hosts = hosts;
    table().setPortFactory(&factory);
    addConnection("TIR@10.0.0.7@1Ports@1@1@null", "COM3");
    if (!hostsReadable)
        faults().failCall(ConnectionService::GetParam, 3); // name, port.name, state, then hosts

    PortOperations ops;
    QList<COMS_INFO> list;
    QVERIFY(ops.refreshComInfo(&list));
    table().setPortFactory(nullptr);
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.first().comState, text);
}

void TestPortOperations::createsDevicePorts()
{
    PortOperations ops;
    usePortNames(ops, { "COM2", "ttyS0", "COM1" });
    SignalLog log;
    log.watch(&ops);
    QString message;
    createDevice(ops, 4, kIp, &message);

    QVERIFY(message.isEmpty());
    QCOMPARE(log.events,
        QStringList({ "progress:1", "progress:2", "progress:3", "progress:4", "hide" }));
    QCOMPARE(params("port.name"), QStringList({ "COM3", "COM4", "COM5", "COM6" }));
    const QList<ConnectionHandle> all = handles();
    for (int k = 1; k <= 4; ++k) {
        const ConnectionHandle handle = all.at(k - 1);
        QCOMPARE(param(handle, "name").toString(),
            QStringLiteral("TIR@192.168.1.200@4Ports@4@%1@null").arg(k));
        QCOMPARE(param(handle, "network.host"),
            QVariant(
                QVariantList { QVariant(QVariantList { kIp, QString::number(964 + 2 * k) }) }));
        QCOMPARE(param(handle, "port.type"), QVariant("Virtual"));
        QCOMPARE(param(handle, "protocol.type"), QVariant("RAW"));
        QCOMPARE(param(handle, "port.sendmode.mode"), QVariant(2));
        QCOMPARE(param(handle, "port.sendmode.param"), QVariant(1));
        QCOMPARE(param(handle, "protocol.portopencondition.enable"), QVariant(1));
        QCOMPARE(param(handle, "status.port.state"), QVariant(1)); // started
    }
}

void TestPortOperations::refusesDeviceWithPorts_data()
{
    QTest::addColumn<QString>("saved");
    QTest::addColumn<QString>("added");
    QTest::newRow("same spelling") << kIp << kIp;
    // Ports made before addresses were made canonical keep the spelling they were saved with.
    QTest::newRow("saved zero-padded") << "192.168.01.200" << kIp;
}

void TestPortOperations::refusesDeviceWithPorts()
{
    QFETCH(QString, saved);
    QFETCH(QString, added);

    PortOperations ops;
    createDevice(ops, 4, saved);
    SignalLog log;
    log.watch(&ops);
    QString message;
    createDevice(ops, 4, added, &message);

    QCOMPARE(message, QStringLiteral("当前设备已存在虚拟串口！"));
    QCOMPARE(log.events, QStringList({ "hide" }));
    QCOMPARE(handles().size(), 4);
}

void TestPortOperations::zeroPortsOnlyHidesProgress()
{
    PortOperations ops;
    SignalLog log;
    log.watch(&ops);
    QString message;
    createDevice(ops, 0, kIp, &message);
    QVERIFY(message.isEmpty());
    QCOMPARE(log.events, QStringList({ "hide" }));
    QVERIFY(handles().isEmpty());
}

void TestPortOperations::failedCreationLeavesTableAsItWas_data()
{
    QTest::addColumn<int>("call");
    QTest::addColumn<int>("skip");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("message");

    const QString remove = QStringLiteral("remove:") + kIp;
    QTest::newRow("create port 3")
        << int(ConnectionService::CreateConnection) << 2 << "4Ports"
        << QStringList({ "progress:1", "progress:2", remove, "hide" }) << "创建虚拟串口失败！";
    QTest::newRow("start port 3") << int(ConnectionService::AddConnectionService) << 2 << "4Ports"
                                  << QStringList({ "progress:1", "progress:2", "progress:3", remove,
                                         "hide" })
                                  << "添加虚拟串口失败！";
    // Eight writes per port: the fourth of port 2 is its host.
    QTest::newRow("a parameter of port 2")
        << int(ConnectionService::SetParam) << 8 + 3 << "4Ports"
        << QStringList({ "progress:1", "progress:2", remove, "hide" }) << "创建虚拟串口失败！";
    // A searched device's texts come from the network: nothing is made of one the service
    // could not keep.
    QTest::newRow("type too long for the service")
        << kNoFault << 0 << QString(250, 'T') << QStringList({ remove, "hide" })
        << "创建虚拟串口失败！\n设备型号和 MAC 地址使串口名称超过服务保存的长度（256 个字符）";
}

void TestPortOperations::failedCreationLeavesTableAsItWas()
{
    QFETCH(int, call);
    QFETCH(int, skip);
    QFETCH(QString, type);
    QFETCH(QStringList, events);
    QFETCH(QString, message);

    addConnection("TIR@10.0.0.7@1Ports@1@1@null", "COM9");
    PortOperations ops;
    SignalLog log;
    log.watch(&ops);
    if (call != kNoFault)
        faults().failCall(ConnectionService::Call(call), skip);
    QString text;
    ops.createDevicePorts(4, type, kIp, "null", text);

    QCOMPARE(text, message);
    QCOMPARE(log.events, events);
    QCOMPARE(params("port.name"), QStringList({ "COM9" }));
}

// The failed port's own deletion fails too: the message says which connection stays.
void TestPortOperations::failedUndoIsReported()
{
    faults().failCall(ConnectionService::AddConnectionService, 2);
    faults().failCall(ConnectionService::DeleteConnection);
    PortOperations ops;
    QString text;
    ops.createDevicePorts(4, "4Ports", kIp, "null", text);

    QCOMPARE(params("port.name"), QStringList({ "COM3" }));
    QCOMPARE(text,
        QStringLiteral("添加虚拟串口失败！\nconnection %1 could not be deleted again")
            .arg(handles().first()));
}

// A file in the way of COM5 stops the fifth port; the four before it go again, and the
// message says why in the service's words.
void TestPortOperations::blockedPortUndoesTheDevice()
{
    PtyPortFactory ports;
    table().setPortFactory(&ports);
    // Its ports go before it does, whatever the outcome.
    const auto detach = qScopeGuard([] {
        for (ConnectionHandle handle : handles())
            sec_DeleteConnection(handle);
        table().setPortFactory(nullptr);
    });
    const QString blocked = qEnvironmentVariable("TIRV_PORT_DIR") + QStringLiteral("/COM5");
    QVERIFY(QDir().mkpath(blocked));
    const auto unblock = qScopeGuard([&] { QDir(blocked).removeRecursively(); });
    PortOperations ops;
    QString message;
    createDevice(ops, 8, kIp, &message);

    QCOMPARE(message,
        QStringLiteral("添加虚拟串口失败！\nCOM5: a file that is not ours is in the way at ")
            + blocked);
    QVERIFY(handles().isEmpty());
    // Beside the line channel, which stays while the ports' factory does.
    QCOMPARE(QDir(blocked + "/..")
                 .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({ TIRV_LINE_SOCKET, "COM5" }));
}

void TestPortOperations::comNumbersStayInRange_data()
{
    QTest::addColumn<int>("taken");
    QTest::addColumn<int>("portCount");
    QTest::addColumn<int>("portSeq");
    QTest::addColumn<QString>("made");

    // taken: COM1 to COM<taken> are present. portSeq 0: the whole device.
    QTest::newRow("255 ports, all free") << 0 << 255 << 0 << "COM1..COM255";
    QTest::newRow("255 ports, one taken") << 1 << 255 << 0 << "";
    QTest::newRow("4 ports at the top") << 251 << 4 << 0 << "COM252..COM255";
    QTest::newRow("4 ports, one short") << 252 << 4 << 0 << "";
    QTest::newRow("one port: beyond COM255, the lowest free") << 253 << 4 << 4 << "COM254";
    QTest::newRow("one port, none free") << 255 << 4 << 1 << "";
}

void TestPortOperations::comNumbersStayInRange()
{
    QFETCH(int, taken);
    QFETCH(int, portCount);
    QFETCH(int, portSeq);
    QFETCH(QString, made);

    QStringList present;
    for (int number = 1; number <= taken; ++number)
        present << QStringLiteral("COM%1").arg(number);
    PortOperations ops;
    usePortNames(ops, present);
    QString message;
    if (portSeq == 0)
        createDevice(ops, portCount, kIp, &message);
    else
        ops.createOnePort(portCount, portSeq, "4Ports", kIp, "null", message);

    const QStringList names = params("port.name");
    if (made.isEmpty()) {
        const int count = portSeq == 0 ? portCount : 1;
        QCOMPARE(message,
            QStringLiteral("创建虚拟串口失败！\n")
                + (count == 1
                        ? QStringLiteral("COM255 以内没有空闲的串口号")
                        : QStringLiteral("COM255 以内没有 %1 个连续的空闲串口号").arg(count)));
        QVERIFY(names.isEmpty());
        return;
    }
    QVERIFY(message.isEmpty());
    const QStringList ends = made.split("..");
    QCOMPARE(names.first(), ends.first());
    QCOMPARE(names.last(), ends.last());
}

void TestPortOperations::failedDuplicateCheckStillCreates()
{
    PortOperations ops;
    usePortNames(ops, {});
    faults().failCall(ConnectionService::GetConnectionsList);
    QString message;
    createDevice(ops, 2, kIp, &message);
    QCOMPARE(message, QStringLiteral("获取所有虚拟串口信息失败！"));
    QCOMPARE(handles().size(), 2);
}

void TestPortOperations::secondDeviceTakesNextFreeNumbers()
{
    PortOperations ops; // the service's own ports count as present
    createDevice(ops, 2, QStringLiteral("192.168.1.1"));
    createDevice(ops, 3, QStringLiteral("192.168.1.2"));
    QCOMPARE(params("port.name"), QStringList({ "COM1", "COM2", "COM3", "COM4", "COM5" }));
}

void TestPortOperations::createsOnePort_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<int>("portSeq");
    QTest::addColumn<QString>("comName");

    QTest::newRow("base + seq") << QStringList({ "COM1", "COM2" }) << 3 << "COM5";
    QTest::newRow("nothing present") << QStringList() << 2 << "COM2";
    // base 2 + 3 is taken: the lowest free number instead.
    QTest::newRow("taken") << QStringList({ "COM1", "COM2", "COM5" }) << 3 << "COM3";
    QTest::newRow("taken, gap below") << QStringList({ "COM3", "COM4" }) << 3 << "COM1";
}

void TestPortOperations::createsOnePort()
{
    QFETCH(QStringList, present);
    QFETCH(int, portSeq);
    QFETCH(QString, comName);

    PortOperations ops;
    usePortNames(ops, present);
    SignalLog log;
    log.watch(&ops);
    QString message;
    ops.createOnePort(4, portSeq, "4Ports", kIp, "null", message);

    QVERIFY(message.isEmpty());
    QVERIFY(log.events.isEmpty());
    QCOMPARE(params("port.name"), QStringList({ comName }));
    const ConnectionHandle handle = handles().first();
    QCOMPARE(param(handle, "name").toString(),
        QStringLiteral("TIR@192.168.1.200@4Ports@4@%1@null").arg(portSeq));
    QCOMPARE(param(handle, "network.host").toList().first().toList().value(1).toString(),
        QString::number(964 + 2 * portSeq));
}

void TestPortOperations::recreatesMissingPort()
{
    PortOperations ops;
    createDevice(ops, 4, kIp);
    QString message;
    ops.deleteComPort("COM2", message);
    ops.createOnePort(4, 2, "4Ports", kIp, "null", message);

    QVERIFY(message.isEmpty());
    QCOMPARE(params("port.name"), QStringList({ "COM1", "COM3", "COM4", "COM2" }));
    QCOMPARE(params("name").last(), QStringLiteral("TIR@192.168.1.200@4Ports@4@2@null"));

    ops.createOnePort(4, 2, "4Ports", kIp, "null", message);
    QCOMPARE(message, QStringLiteral("当前设备端口已存在相应的虚拟串口！"));
    QCOMPARE(handles().size(), 4);
}

void TestPortOperations::refusesPortOutsideDevice()
{
    PortOperations ops;
    for (int portSeq : { 0, -1, 5 }) {
        QString message;
        ops.createOnePort(4, portSeq, "4Ports", kIp, "null", message);
        QCOMPARE(message, QStringLiteral("创建虚拟串口失败！"));
    }
    QVERIFY(handles().isEmpty());
}

void TestPortOperations::clearsOnlyExactDevice_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("left");

    const QStringList all { "COM1", "COM2", "COM3", "COM4", "COM5", "COM9" };
    QTest::newRow("exact address only") << "192.168.1.1" << kNoFault << ""
                                        << QStringList { "progress:1", "progress:2", "progress:3" }
                                        << QStringList { "COM1", "COM2", "COM9" };
    // The second deletion fails: the bar is hidden, the rest is still deleted.
    QTest::newRow("continues after a failed deletion")
        << "192.168.1.1" << int(ConnectionService::DeleteConnection) << "清空虚拟串口失败！"
        << QStringList { "progress:1", "hide", "progress:2" }
        << QStringList { "COM1", "COM2", "COM4", "COM9" };
    QTest::newRow("device without ports is silent")
        << "192.168.1.20" << kNoFault << "" << QStringList() << all;
    QTest::newRow("failed listing is silent")
        << "192.168.1.1" << int(ConnectionService::GetConnectionsList) << "" << QStringList()
        << all;
}

void TestPortOperations::clearsOnlyExactDevice()
{
    QFETCH(QString, ip);
    QFETCH(int, fault);
    QFETCH(QString, message);
    QFETCH(QStringList, events);
    QFETCH(QStringList, left);

    PortOperations ops;
    createDevice(ops, 2, QStringLiteral("192.168.1.10"));
    createDevice(ops, 3, QStringLiteral("192.168.1.1"));
    addConnection("foreign@192.168.1.1", "COM9");
    // A deletion fails only after the first one went through.
    const int skip = fault == ConnectionService::DeleteConnection ? 1 : 0;
    if (fault != kNoFault)
        faults().failCall(ConnectionService::Call(fault), skip);
    SignalLog log;
    log.watch(&ops);
    QString reported;
    ops.clearDevicePorts(ip, reported);

    QCOMPARE(reported, message);
    QCOMPARE(log.events, events);
    faults().clearFaults();
    QCOMPARE(params("port.name"), left);
}

void TestPortOperations::deletesEveryPortWithComName()
{
    addConnection("TIR@10.0.0.7@2Ports@2@1@null", "COM7");
    addConnection("TIR@10.0.0.7@2Ports@2@2@null", "COM8");
    addConnection("TIR@10.0.0.8@1Ports@1@1@null", "COM7", false);
    PortOperations ops;
    QString message;
    ops.deleteComPort("COM6", message);
    QCOMPARE(handles().size(), 3);
    ops.deleteComPort("COM7", message);
    QVERIFY(message.isEmpty());
    QCOMPARE(params("port.name"), QStringList({ "COM8" }));
}

void TestPortOperations::deleteFailureIsReported()
{
    addConnection("TIR@10.0.0.7@2Ports@2@1@null", "COM7");
    addConnection("TIR@10.0.0.8@1Ports@1@1@null", "COM7", false);
    faults().failCall(ConnectionService::DeleteConnection);
    PortOperations ops;
    QString message;
    ops.deleteComPort("COM7", message);
    QCOMPARE(message, QStringLiteral("删除虚拟串口失败！"));
    QCOMPARE(handles().size(), 1);
}

void TestPortOperations::renamesEveryPortWithComName()
{
    addConnection("TIR@10.0.0.7@2Ports@2@1@null", "COM7");
    addConnection("TIR@10.0.0.7@2Ports@2@2@null", "COM8");
    addConnection("TIR@10.0.0.8@1Ports@1@1@null", "COM7", false);
    PortOperations ops;
    QString message;
    ops.modifyComPort("COM7", "COM9", message);
    QVERIFY(message.isEmpty());
    QCOMPARE(params("port.name"), QStringList({ "COM9", "COM8", "COM9" }));
    QCOMPARE(params("name").first(), QStringLiteral("TIR@10.0.0.7@2Ports@2@1@null"));
}

void TestPortOperations::renameFailureKeepsOldName_data()
{
    QTest::addColumn<int>("call");
    QTest::addColumn<QString>("message");
    QTest::newRow("apply") << int(ConnectionService::ApplyConnection) << "修改串口号失败！";
    // A rename that silently did nothing would be a failure not reported: it is reported.
    QTest::newRow("port.name write fails: reported, old name kept")
        << int(ConnectionService::SetParam) << "修改串口号失败！";
    // The service's own refusal comes with its reason.
    QTest::newRow("name taken") << kNoFault
                                << "修改串口号失败！\nCOM7: COM8 is taken by another port";
}

void TestPortOperations::renameFailureKeepsOldName()
{
    QFETCH(int, call);
    QFETCH(QString, message);
    addConnection("TIR@10.0.0.7@1Ports@1@1@null", "COM7");
    addConnection("foreign", "COM8");
    if (call != kNoFault)
        faults().failCall(ConnectionService::Call(call));
    PortOperations ops;
    QString text;
    ops.modifyComPort("COM7", call == kNoFault ? "COM8" : "COM9", text);
    QCOMPARE(text, message);
    QCOMPARE(params("port.name"), QStringList({ "COM7", "COM8" }));
}

void TestPortOperations::findFreeComBase_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("base");

    QTest::newRow("gap of four") << QStringList({ "COM7", "COM1", "COM2" }) << 4 << 2;
    QTest::newRow("room below") << QStringList({ "COM3", "COM4" }) << 2 << 0;
    QTest::newRow("after the last") << QStringList({ "COM1", "COM2", "COM3", "COM4" }) << 3 << 4;
    QTest::newRow("gap too narrow") << QStringList({ "COM1", "COM3", "COM10" }) << 7 << 10;
    QTest::newRow("none present") << QStringList() << 5 << 0;
    QTest::newRow("other ports ignored") << QStringList({ "ttyS0", "ttyUSB3" }) << 1 << 0;
    QTest::newRow("two-digit numbers") << QStringList({ "COM10", "COM9", "COM1" }) << 3 << 1;
}

void TestPortOperations::findFreeComBase()
{
    QFETCH(QStringList, present);
    QFETCH(int, n);
    QFETCH(int, base);

    PortOperations ops;
    usePortNames(ops, present);
    QCOMPARE(ops.findFreeComBase(n), base);
}

void TestPortOperations::comNameLess_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("less");

    QTest::newRow("2 < 10") << "COM2"
                            << "COM10" << true;
    QTest::newRow("9 < 10") << "COM9"
                            << "COM10" << true;
    QTest::newRow("11 < 12") << "COM11"
                             << "COM12" << true;
    QTest::newRow("12 > 11") << "COM12"
                             << "COM11" << false;
    QTest::newRow("equal") << "COM3"
                           << "COM3" << false;
}

void TestPortOperations::comNameLess()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, less);
    QCOMPARE(PortOperations::comNameLess(a, b), less);
}

void TestPortOperations::systemNamesIncludeServicePorts()
{
    addConnection("TIR@10.0.0.7@1Ports@1@1@null", "COM7");
    addConnection("TIR@10.0.0.8@1Ports@1@1@null", "COM7", false);
    addConnection("foreign", "COM12", false);
    const QStringList names = systemSerialPortNames();
    QCOMPARE(names.count("COM7"), 1);
    QVERIFY(names.contains("COM12"));

    PortOperations ops;
    ops.refreshSystemComNames();
    QCOMPARE(ops.systemComNames(), QStringList({ "COM7", "COM12" }));
}

QTEST_GUILESS_MAIN(TestPortOperations)
#include "tst_portoperations.moc"
