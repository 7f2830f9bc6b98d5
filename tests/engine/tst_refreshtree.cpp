#include "refreshtree.h"
#include "servicefixture.h"
#include "signallog.h"

#include <QtTest>

using namespace ServiceFixture;

namespace {

DevInfo comTask(const QString &comName, const QString &newComName = QString())
{
    DevInfo info;
    info.comName = comName;
    info.newComName = newComName;
    return info;
}

} // namespace

class TestRefreshTree : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void runsQueuedTasksInOrder();
    void bracketsEachTasksSignals();
    void deletedPortLeavesNextListing();
    void dropsUnknownTaskCodes();
    void postedTaskCutsThePauseShort();
    void unavailableServiceReportedOnce();
    void stopsPromptly();
};

void TestRefreshTree::init()
{
    reset();
}

void TestRefreshTree::runsQueuedTasksInOrder()
{
    RefreshTree tree;
    SignalLog log;
    log.watch(&tree);
    // Posted before the loop runs, back to back: none may replace another.
    const quint64 first = tree.postCreateDevice(2, "2Ports", "192.168.1.1", "null");
    const quint64 second = tree.postCreateDevice(1, "1Ports", "192.168.1.2", "null");
    const quint64 third = tree.postCreateDevice(3, "3Ports", "192.168.1.3", "null");
    QCOMPARE(QList<quint64>({ first, second, third }), QList<quint64>({ 1, 2, 3 }));
    tree.start();

    QTRY_VERIFY(log.events.contains("finish:3"));
    QCOMPARE(log.events,
        QStringList({ "start:1", "progress:1", "progress:2", "hide", "finish:1", "start:2",
            "progress:1", "hide", "finish:2", "start:3", "progress:1", "progress:2", "progress:3",
            "hide", "finish:3" }));
    // Each device took the next free numbers after the ones before it.
    QTRY_COMPARE(comNamesOf(log.lists.value(log.lists.size() - 1)),
        QStringList({ "COM1", "COM2", "COM3", "COM4", "COM5", "COM6" }));
}

void TestRefreshTree::bracketsEachTasksSignals()
{
    addConnection("TIR@192.168.1.1@2Ports@2@1@null", "COM1");
    addConnection("TIR@192.168.1.1@2Ports@2@2@null", "COM2");
    addConnection("TIR@192.168.1.2@1Ports@1@1@null", "COM3");
    faults().failCall(ConnectionService::DeleteConnection, 2); // the third deletion: COM3
    RefreshTree tree;
    SignalLog log;
    log.watch(&tree);
    DevInfo device;
    device.devIp = "192.168.1.1";
    tree.postTask(TaskClearDevice, device);
    tree.postTask(TaskDeleteCom, comTask("COM3"));
    tree.postTask(TaskModifyCom, comTask("COM3", "COM9"));
    tree.start();

    QTRY_VERIFY(log.events.contains("finish:3"));
    QCOMPARE(log.events,
        QStringList({ "start:1", "progress:1", "progress:2", "finish:1", "start:2",
            "msg:删除虚拟串口失败！", "finish:2", "start:3", "finish:3" }));
    QTRY_VERIFY(!log.lists.isEmpty() && comNamesOf(log.lists.last()) == QStringList("COM9"));
}

void TestRefreshTree::deletedPortLeavesNextListing()
{
    addConnection("TIR@10.0.0.7@2Ports@2@1@null", "COM3");
    addConnection("TIR@10.0.0.7@2Ports@2@2@null", "COM4");
    RefreshTree tree;
    SignalLog log;
    log.watch(&tree);
    tree.start();
    QTRY_VERIFY(!log.lists.isEmpty());
    QCOMPARE(comNamesOf(log.lists.last()), QStringList({ "COM3", "COM4" }));

    const quint64 id = tree.postTask(TaskDeleteCom, comTask("COM3"));
    QTRY_VERIFY(log.events.contains(QStringLiteral("finish:%1").arg(id)));
    const int listsBefore = log.lists.size();
    QTRY_VERIFY(log.lists.size() > listsBefore);
    QCOMPARE(comNamesOf(log.lists.last()), QStringList({ "COM4" }));
}

void TestRefreshTree::dropsUnknownTaskCodes()
{
    RefreshTree tree;
    SignalLog log;
    log.watch(&tree);
    QCOMPARE(tree.postTask(HidTask(7), DevInfo()), quint64(0));
    QCOMPARE(tree.postTask(TaskRefresh, DevInfo()), quint64(0));
    QCOMPARE(tree.postTask(TaskDeleteCom, comTask("COM7")), quint64(1));
    tree.start();
    QTRY_VERIFY(log.lists.size() >= 2); // the loop runs on
    QCOMPARE(log.events, QStringList({ "start:1", "finish:1" }));
}

// With an hour between listings, only the post itself can wake the loop.
void TestRefreshTree::postedTaskCutsThePauseShort()
{
    RefreshTree tree(std::chrono::hours(1));
    SignalLog log;
    log.watch(&tree);
    tree.start();
    QTRY_COMPARE(log.lists.size(), 1);
    tree.postTask(TaskDeleteCom, comTask("COM7"));
    QTRY_VERIFY(log.events.contains("finish:1"));
}

void TestRefreshTree::unavailableServiceReportedOnce()
{
    faults().failCall(ConnectionService::ConnectService);
    RefreshTree tree;
    SignalLog log;
    log.watch(&tree);
    tree.start();
    QTRY_VERIFY(log.lists.size() >= 3);
    QCOMPARE(log.events, QStringList({ "msg:虚拟串口服务初始化失败！" }));
}

void TestRefreshTree::stopsPromptly()
{
    RefreshTree tree;
    SignalLog log;
    log.watch(&tree);
    tree.start();
    QTRY_VERIFY(!log.lists.isEmpty());
    tree.stop();
    // Well under a pause if the stop wakes the loop; a slack bound keeps loaded machines green.
    QVERIFY(tree.wait(2000));
    QVERIFY(tree.isFinished());
}

QTEST_GUILESS_MAIN(TestRefreshTree)
#include "tst_refreshtree.moc"
