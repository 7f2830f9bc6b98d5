#include "adddevice.h"
#include "appointvcom.h"
#include "connectiontable.h"
#include "faultinjector.h"
#include "inprocessservice.h"
#include "mainwindow.h"
#include "modifycom.h"
#include "portsettings.h"
#include "progressbar.h"
#include "ptyportfactory.h"
#include "secapi.h"
#include "servicekeys.h"
#include "tirvresources.h"
#include "windowfixture.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QTreeView>
#include <QtTest>

// The user's whole cycle against the in-process service, with the worker listing as usual.
class TestMainWindowCycle : public QObject, public WindowFixture::WindowViews
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void wholeCycle();
    void eachProgressDialogFollowsItsOwnTask();
    void clearingRangeIsTheDevicesPortCount_data();
    void clearingRangeIsTheDevicesPortCount();
    void renumberSkipsAPortThatMoved_data();
    void renumberSkipsAPortThatMoved();
    void portSettingsReachTheServiceAndTheToolTip();
    void statusBarTellsWhenChangesAreNotSaved();
    void refusedRenameSaysWhy();
    void failedDeviceLeavesNoPorts();

private:
    QStringList portNames(int device) const;
    int comRowOfPort(const QString &portSeq) const;
    QPointer<ModifyCom> openModify(bool fromTree, int row);
};

// Records the values a progress dialog's bar is given.
static QSharedPointer<QList<int>> recordValues(Progressbar *dialog)
{
    auto values = QSharedPointer<QList<int>>::create();
    QObject::connect(dialog->findChild<QProgressBar *>(), &QProgressBar::valueChanged,
        [values](int value) { values->append(value); });
    return values;
}

void TestMainWindowCycle::initTestCase()
{
    initTirvResources();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestMainWindowCycle::init()
{
    window = new MainWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestMainWindowCycle::cleanup()
{
    delete window;
    window = nullptr;
    InProcessService::faults().clearFaults();
    QVariant list;
    sec_GetConnectionsList(&list);
    for (const QVariant &handle : list.toList())
        sec_DeleteConnection(handle.toInt());
}

QStringList TestMainWindowCycle::portNames(int device) const
{
    QStringList names;
    const QStandardItem *deviceItem = model()->item(device);
    for (int row = 0; deviceItem && row < deviceItem->rowCount(); ++row)
        names << deviceItem->child(row)->text();
    return names;
}

int TestMainWindowCycle::comRowOfPort(const QString &portSeq) const
{
    return column(comTable(), 2).indexOf(portSeq);
}

// Chooses "Modify COM" on a port of the first device, in the tree or the COM table.
QPointer<ModifyCom> TestMainWindowCycle::openModify(bool fromTree, int row)
{
    if (fromTree) {
        tree()->setCurrentIndex(model()->item(0)->child(row)->index());
        WindowFixture::runContextMenu(tree(), "Modify COM");
    } else {
        comTable()->setCurrentCell(row, 0);
        WindowFixture::runContextMenu(comTable(), "Modify COM");
    }
    return window->findChild<ModifyCom *>();
}

void TestMainWindowCycle::wholeCycle()
{
    // Manual entry of a 4-port device.
    window->toAddDev();
    QPointer<AddDevice> entry = window->findChild<AddDevice *>();
    QVERIFY(entry);
    emit entry->addDevInfo(4, "192.168.1.100");
    entry->close();
    QTRY_VERIFY(!entry);

    QPointer<Progressbar> progress = window->findChild<Progressbar *>();
    QVERIFY(progress);
    QCOMPARE(progress->findChild<QProgressBar *>()->maximum(), 4);
    const auto values = recordValues(progress);
    QTRY_VERIFY(!progress);
    QCOMPARE(*values, QList<int>({ 1, 2, 3, 4 }));

    // The ports appear with their states; the device is current and expanded.
    QTRY_COMPARE(portNames(0).size(), 4);
    QCOMPARE(column(devTable(), 1), QStringList { "4Ports" });
    QCOMPARE(column(devTable(), 2), QStringList { "4" });
    QCOMPARE(column(devTable(), 3), QStringList { "null" });
    QCOMPARE(column(devTable(), 4), QStringList { "192.168.1.100" });
    QTRY_COMPARE(tree()->currentIndex(), model()->index(0, 0));
    QVERIFY(tree()->isExpanded(model()->index(0, 0)));
    QTRY_COMPARE(column(comTable(), 2), QStringList({ "1", "2", "3", "4" }));
    QCOMPARE(column(comTable(), 4),
        QStringList({ "COM Closed", "COM Closed", "COM Closed", "COM Closed" }));

    // Renumber the first port from the tree; the service's ports are offered as in use.
    const QString renamed = portNames(0).first();
    QPointer<ModifyCom> modify = openModify(true, 0);
    QVERIFY(modify);
    auto *choices = modify->findChild<QComboBox *>("comboBox");
    for (const QString &name : portNames(0))
        QCOMPARE(choices->itemText(name.mid(3).toInt() - 1), name + "（in use）");
    emit modify->modifyToCom("COM200");
    modify->close();
    QTRY_VERIFY(portNames(0).contains("COM200"));
    QVERIFY(!portNames(0).contains(renamed));
    QTRY_VERIFY(!modify);

    // Renumber port 3 from the COM table.
    QTRY_COMPARE(comTable()->rowCount(), 4);
    const QString third = comTable()->item(comRowOfPort("3"), 3)->text();
    modify = openModify(false, comRowOfPort("3"));
    QVERIFY(modify);
    emit modify->modifyToCom("COM201");
    modify->close();
    QTRY_VERIFY(portNames(0).contains("COM201"));
    QVERIFY(!portNames(0).contains(third));

    // Delete port 2 from the COM table: its device becomes current.
    const int row = comRowOfPort("2");
    const QString deleted = comTable()->item(row, 3)->text();
    comTable()->setCurrentCell(row, 0);
    WindowFixture::runContextMenu(comTable(), "Delete COM");
    QCOMPARE(tree()->currentIndex(), model()->index(0, 0));
    QTRY_VERIFY(!portNames(0).contains(deleted));
    QCOMPARE(portNames(0).size(), 3);

    // Delete port 4 from the tree: its device becomes current.
    const QString fourth = comTable()->item(comRowOfPort("4"), 3)->text();
    tree()->setCurrentIndex(model()->item(0)->child(portNames(0).indexOf(fourth))->index());
    WindowFixture::runContextMenu(tree(), "Delete COM");
    QCOMPARE(tree()->currentIndex(), model()->index(0, 0));
    QTRY_VERIFY(!portNames(0).contains(fourth));
    QCOMPARE(portNames(0).size(), 2);

    // Create port 2 again from the device table: its row is selected, its port current.
    devTable()->setCurrentCell(0, 0);
    WindowFixture::runContextMenu(devTable(), "Create COM");
    QPointer<AppointVcom> appoint = window->findChild<AppointVcom *>();
    QVERIFY(appoint);
    emit appoint->appointSeq(2);
    appoint->close();
    QTRY_COMPARE(portNames(0).size(), 3);
    QTRY_COMPARE(comTable()->selectionModel()->selectedRows().size(), 1);
    const int selected = comTable()->selectionModel()->selectedRows().first().row();
    QCOMPARE(comTable()->item(selected, 2)->text(), QString("2"));
    QCOMPARE(tree()->currentIndex().data().toString(), comTable()->item(selected, 3)->text());

    // Clear the device from the tree.
    tree()->setCurrentIndex(model()->index(0, 0));
    WindowFixture::runContextMenu(tree(), "Delete all COM");
    progress = window->findChild<Progressbar *>();
    QVERIFY(progress);
    QCOMPARE(progress->findChild<QProgressBar *>()->maximum(), 3);
    QTRY_VERIFY(!progress);
    QTRY_COMPARE(model()->rowCount(), 0);
    QCOMPARE(comTable()->rowCount(), 0);
}

// Two devices chosen at once: both are created and each dialog sees only its own progress.
void TestMainWindowCycle::eachProgressDialogFollowsItsOwnTask()
{
    window->addSearchedDevice({ "TIR-A", "4", "00:11:22:33:44:01", "10.0.1.1" });
    window->addSearchedDevice({ "TIR-B", "8", "00:11:22:33:44:02", "10.0.1.2" });
    const QList<Progressbar *> dialogs = window->findChildren<Progressbar *>();
    QCOMPARE(dialogs.size(), 2);
    QPointer<Progressbar> first = dialogs.at(0), second = dialogs.at(1);
    const auto firstValues = recordValues(first);
    const auto secondValues = recordValues(second);

    QTRY_VERIFY(!first && !second);
    QCOMPARE(*firstValues, QList<int>({ 1, 2, 3, 4 }));
    QCOMPARE(*secondValues, QList<int>({ 1, 2, 3, 4, 5, 6, 7, 8 }));
    QTRY_COMPARE(comTable()->rowCount(), 12);
    QCOMPARE(column(devTable(), 1), QStringList({ "TIR-A", "TIR-B" }));
    QCOMPARE(column(devTable(), 3), QStringList({ "00:11:22:33:44:01", "00:11:22:33:44:02" }));
}

void TestMainWindowCycle::clearingRangeIsTheDevicesPortCount_data()
{
    QTest::addColumn<bool>("failOne");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("all deleted") << false << QStringList();
    // The dialog goes away although the bar never reaches its end.
    QTest::newRow("one deletion fails") << true << QStringList { "Failed to delete all COM!" };
}

void TestMainWindowCycle::clearingRangeIsTheDevicesPortCount()
{
    QFETCH(bool, failOne);
    QFETCH(QStringList, messages);

    WindowFixture::MessageBoxCatcher boxes;
    window->addManualDevice(2, "10.0.2.1");
    window->addManualDevice(3, "10.0.2.2");
    QTRY_COMPARE(comTable()->rowCount(), 5);
    tree()->setCurrentIndex(QModelIndex());
    QTRY_COMPARE(comTable()->rowCount(), 5);

    if (failOne)
        InProcessService::faults().failCall(ConnectionService::DeleteConnection);
    devTable()->setCurrentCell(1, 0);
    WindowFixture::runContextMenu(devTable(), "Delete all COM");
    QPointer<Progressbar> progress = window->findChild<Progressbar *>();
    QVERIFY(progress);
    QCOMPARE(progress->findChild<QProgressBar *>()->maximum(), 3);
    QTRY_VERIFY(!progress);

    QStringList left { "10.0.2.1", "10.0.2.1" };
    if (failOne)
        left << "10.0.2.2";
    QTRY_COMPARE(column(comTable(), 1), left);
    QTRY_COMPARE(boxes.texts, messages);
}

void TestMainWindowCycle::renumberSkipsAPortThatMoved_data()
{
    QTest::addColumn<bool>("fromTree");
    QTest::newRow("tree") << true;
    QTest::newRow("COM table") << false;
}

// The first port goes while the dialog for the second is open: the row asked for now holds
// the third port, which must keep its name.
void TestMainWindowCycle::renumberSkipsAPortThatMoved()
{
    QFETCH(bool, fromTree);
    window->addManualDevice(3, "10.0.3.1");
    QTRY_COMPARE(column(comTable(), 2), QStringList({ "1", "2", "3" }));
    const QStringList names = column(comTable(), 3);

    QPointer<ModifyCom> modify = openModify(fromTree, 1);
    QVERIFY(modify);
    QVariant list;
    sec_GetConnectionsList(&list);
    QVERIFY(sec_DeleteConnection(list.toList().first().toInt()));
    QTRY_COMPARE(column(comTable(), 3), names.mid(1));
    emit modify->modifyToCom("COM200");
    modify->close();

    // Tasks run in posting order: once this rename shows, the first one was dropped or done.
    modify = openModify(fromTree, 0);
    QVERIFY(modify);
    emit modify->modifyToCom("COM201");
    modify->close();
    QTRY_COMPARE(column(comTable(), 3), QStringList({ "COM201", names.at(2) }));
}

// The dialog opens with the port's settings, and what is saved comes back in the next listing,
// where the port's tooltip names the protocol.
void TestMainWindowCycle::portSettingsReachTheServiceAndTheToolTip()
{
    window->toAddDev();
    QPointer<AddDevice> entry = window->findChild<AddDevice *>();
    emit entry->addDevInfo(2, "192.168.1.100");
    entry->close();
    QTRY_COMPARE(comTable()->rowCount(), 2);
    QVERIFY(comTable()->item(1, 0)->toolTip().split('\n').contains("Protocol: RAW"));
    comTable()->setCurrentCell(1, 0);
    WindowFixture::runContextMenu(comTable(), "Port settings");
    QPointer<PortSettings> dialog = window->findChild<PortSettings *>();
    QVERIFY(dialog);
    auto *protocol = dialog->findChild<QComboBox *>("comboBox_protocol");
    QCOMPARE(protocol->currentText(), QString("RAW"));
    QCOMPARE(dialog->findChild<QComboBox *>("comboBox_sendMode")->currentIndex(), 2);
    protocol->setCurrentIndex(1);
    dialog->findChild<QComboBox *>("comboBox_parity")->setCurrentIndex(2);
    dialog->findChild<QPushButton *>("pushButton_sure")->click();
    QTRY_VERIFY(comTable()->item(1, 0)->toolTip().contains(
        "Protocol: RFC 2217\nDevice line: not known yet\n"));
    const int portRow = comRowOfPort("2");
    QCOMPARE(model()->item(0)->child(portRow)->toolTip(), comTable()->item(1, 0)->toolTip());
    QVariant list;
    QVERIFY(sec_GetConnectionsList(&list));
    QVariant parity;
    QVERIFY(sec_GetParam(list.toList().at(1).toInt(), "serial.parity", &parity));
    QCOMPARE(parity.toString(), QString("even"));
}

// The service's reason is shown beside the words, as a tooltip.
void TestMainWindowCycle::statusBarTellsWhenChangesAreNotSaved()
{
    auto *saveError = window->findChild<QLabel *>("label_saveError");
    QVERIFY(!saveError->isVisible());
    ConnectionTable &table = InProcessService::table();
    table.setServiceStatus(ServiceKeys::kSaveError, "disk full");
    QTRY_VERIFY(saveError->isVisible());
    QCOMPARE(saveError->text(), QString("changes are not being saved"));
    QCOMPARE(saveError->toolTip(), QString("disk full"));
    table.setServiceStatus(ServiceKeys::kSaveError, QString());
    QTRY_VERIFY(!saveError->isVisible());
}

// The box gives the message, then on a line of its own the service's reason.
void TestMainWindowCycle::refusedRenameSaysWhy()
{
    PtyPortFactory ports;
    InProcessService::table().setPortFactory(&ports);
    // Made on this thread, whose event loop the pty port then runs on; connected only while
    // open, so it stays quiet. It goes before the factory it came from.
    ConnectionHandle handle = -1;
    QVERIFY(sec_CreateConnection(1, &handle));
    const auto detach = qScopeGuard([&] {
        sec_DeleteConnection(handle);
        InProcessService::table().setPortFactory(nullptr);
    });
    QVERIFY(sec_SetParam(handle, "name", "TIR@10.0.4.1@1Ports@1@1@null"));
    QVERIFY(sec_SetParam(handle, "port.name", "COM3"));
    QVERIFY(sec_SetParam(
        handle, "network.host", QVariantList { QVariant(QVariantList { "10.0.4.1", "966" }) }));
    QVERIFY(sec_SetParam(handle, "protocol.portopencondition.enable", 1));
    QVERIFY(sec_AddConnectionService(handle));
    const QString blocked = qEnvironmentVariable("TIRV_PORT_DIR") + "/COM9";
    QFile foreign(blocked);
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    const auto unblock = qScopeGuard([&] { foreign.remove(); });

    WindowFixture::MessageBoxCatcher boxes;
    QTRY_COMPARE(comTable()->rowCount(), 1);
    QPointer<ModifyCom> modify = openModify(false, 0);
    QVERIFY(modify);
    emit modify->modifyToCom("COM9");
    modify->close();
    QTRY_COMPARE(boxes.texts,
        QStringList {
            "Failed to modify COM !\nCOM3: a file that is not ours is in the way at " + blocked });
    QCOMPARE(column(comTable(), 3), QStringList { "COM3" });
}

// A device whose third port cannot start: its progress ends, the message shows, and none of
// its ports remain.
void TestMainWindowCycle::failedDeviceLeavesNoPorts()
{
    WindowFixture::MessageBoxCatcher boxes;
    InProcessService::faults().failCall(ConnectionService::AddConnectionService, 2);
    window->addManualDevice(4, "10.0.5.1");
    QPointer<Progressbar> progress = window->findChild<Progressbar *>();
    QVERIFY(progress);
    QTRY_VERIFY(!progress);
    QTRY_COMPARE(boxes.texts, QStringList { "Failed to add virtual serial port!" });
    QVariant list;
    QVERIFY(sec_GetConnectionsList(&list));
    QCOMPARE(list.toList().size(), 0);
    QTRY_COMPARE(model()->rowCount(), 0);
}

QTEST_MAIN(TestMainWindowCycle)
#include "tst_mainwindowcycle.moc"
