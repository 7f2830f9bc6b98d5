#include "faultinjector.h"
#include "inprocessservice.h"
#include "mainwindow.h"
#include "progressbar.h"
#include "tirvresources.h"
#include "windowfixture.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

using WindowFixture::port;

// The views fed directly with port lists; the worker's own listing is switched off by making
// every list call of the in-process service fail.
class TestMainWindowViews : public QObject, public WindowFixture::WindowViews
{
    Q_OBJECT

public slots:
    void openUrl(const QUrl &url) { openedUrls << url; }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void grouping_data();
    void grouping();
    void emptyListEmptiesViews();
    void rowsShiftWithExpandedStateByPosition();
    void comTableFollowsCurrentTreeItem();
    void stateIcons_data();
    void stateIcons();
    void clickingTablesMakesTreeItemCurrent();
    void clickingTreeSelectsTableRows_data();
    void clickingTreeSelectsTableRows();
    void menus_data();
    void menus();
    void copyPortPathTakesTheLink_data();
    void copyPortPathTakesTheLink();
    void portToolTip_data();
    void portToolTip();
    void webConfigOpensDevicePage_data();
    void webConfigOpensDevicePage();
    void failedCreationRemovesDevice();
    void unreachableServiceIsReportedAtStart();
    void languageSwitchRetranslates();

private:
    QStringList topTexts() const;
    void switchLanguage(bool chinese);

    QList<QUrl> openedUrls;
};

void TestMainWindowViews::initTestCase()
{
    initTirvResources();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    InProcessService::faults().failCall(ConnectionService::GetConnectionsList, 0, -1);
    QDesktopServices::setUrlHandler("http", this, "openUrl");
}

void TestMainWindowViews::init()
{
    window = new MainWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestMainWindowViews::cleanup()
{
    delete window;
    window = nullptr;
}

QStringList TestMainWindowViews::topTexts() const
{
    QStringList texts;
    for (int row = 0; row < model()->rowCount(); ++row)
        texts << model()->item(row)->text();
    return texts;
}

void TestMainWindowViews::switchLanguage(bool chinese)
{
    window->findChild<QRadioButton *>(chinese ? "radioButton_Chinese" : "radioButton_English")
        ->click();
}

void TestMainWindowViews::grouping_data()
{
    QTest::addColumn<QList<COMS_INFO>>("list");
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("types");

    QTest::newRow("text order, not numeric")
        << QList<COMS_INFO> { port("192.168.1.2", "COM3", "1"), port("192.168.1.10", "COM4", "1") }
        << QStringList { "192.168.1.10", "192.168.1.2" } << QStringList { "4Ports", "4Ports" };
    QTest::newRow("empty address groups first")
        << QList<COMS_INFO> { port("10.0.0.1", "COM3", "1"), port("", "COM4", "1") }
        << QStringList { "", "10.0.0.1" } << QStringList { "4Ports", "4Ports" };
    QTest::newRow("first record gives the type") << QList<COMS_INFO> {
        port("10.0.0.1", "COM3", "1", "", "A"), port("10.0.0.1", "COM4", "2", "", "B")
    } << QStringList { "10.0.0.1" } << QStringList { "A" };
}

void TestMainWindowViews::grouping()
{
    QFETCH(QList<COMS_INFO>, list);
    QFETCH(QStringList, devices);
    QFETCH(QStringList, types);

    window->handerAnalysis(list);
    QCOMPARE(topTexts(), devices);
    QCOMPARE(column(devTable(), 4), devices);
    QCOMPARE(column(devTable(), 1), types);
    QCOMPARE(column(devTable(), 0).first(), QString("1"));
    // Nothing current: the COM table shows the list as it came.
    QCOMPARE(comTable()->rowCount(), list.size());
    QCOMPARE(comTable()->item(0, 3)->text(), list.first().comName);
}

void TestMainWindowViews::emptyListEmptiesViews()
{
    window->handerAnalysis({ port("10.0.0.1", "COM3", "1"), port("10.0.0.2", "COM4", "1") });
    window->handerAnalysis({});
    QCOMPARE(model()->rowCount(), 0);
    QCOMPARE(devTable()->rowCount(), 0);
    QCOMPARE(comTable()->rowCount(), 0);
    QCOMPARE(model()->horizontalHeaderItem(0)->text(), QString("Device list"));
}

void TestMainWindowViews::rowsShiftWithExpandedStateByPosition()
{
    const QList<COMS_INFO> two { port("10.0.0.2", "COM3", "1"), port("10.0.0.2", "COM4", "2"),
        port("10.0.0.3", "COM5", "1") };
    window->handerAnalysis(two);
    tree()->expand(model()->index(0, 0));

    window->handerAnalysis(QList<COMS_INFO> { port("10.0.0.1", "COM9", "1") } + two);
    QCOMPARE(topTexts(), QStringList({ "10.0.0.1", "10.0.0.2", "10.0.0.3" }));
    QVERIFY(tree()->isExpanded(model()->index(0, 0)));
    QVERIFY(!tree()->isExpanded(model()->index(1, 0)));
    QCOMPARE(model()->item(0)->rowCount(), 1);
    QCOMPARE(model()->item(0)->child(0)->text(), QString("COM9"));
    QCOMPARE(model()->item(1)->rowCount(), 2);
    QCOMPARE(model()->item(2)->child(0)->text(), QString("COM5"));
}

void TestMainWindowViews::comTableFollowsCurrentTreeItem()
{
    const QList<COMS_INFO> list { port("10.0.0.2", "COM3", "1"), port("10.0.0.1", "COM4", "1"),
        port("10.0.0.2", "COM5", "2") };
    window->handerAnalysis(list);
    QCOMPARE(column(comTable(), 3), QStringList({ "COM3", "COM4", "COM5" }));

    // The same list again must not be skipped once another device is current.
    tree()->setCurrentIndex(model()->item(1)->child(1)->index());
    window->handerAnalysis(list);
    QCOMPARE(column(comTable(), 3), QStringList({ "COM3", "COM5" }));

    tree()->setCurrentIndex(model()->index(0, 0));
    window->handerAnalysis(list);
    QCOMPARE(column(comTable(), 3), QStringList({ "COM4" }));

    // The current device vanished and its row now holds another one.
    window->handerAnalysis({ port("10.0.0.2", "COM3", "1") });
    QCOMPARE(column(comTable(), 3), QStringList({ "COM3" }));
}

void TestMainWindowViews::stateIcons_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("icon");

    const QList<QPair<const char *, QString>> states { { "串口关闭", ":/icons/serial_gray" },
        { "已连接", ":/icons/serial_green" }, { "未连接", ":/icons/serial_warn" },
        { "串口错误", ":/icons/serial_error" }, { "串口打开", ":/icons/serial" },
        { "", ":/icons/serial" } };
    for (bool chinese : { true, false }) {
        for (const auto &state : states) {
            QTest::addRow("%s %s", chinese ? "zh" : "en", state.first)
                << chinese << QString::fromUtf8(state.first) << state.second;
        }
    }
}

void TestMainWindowViews::stateIcons()
{
    QFETCH(bool, chinese);
    QFETCH(QString, state);
    QFETCH(QString, icon);

    switchLanguage(chinese);
    const QString shown
        = state.isEmpty() ? state : QCoreApplication::translate("RefreshTree", state.toUtf8());
    QCOMPARE(shown != state, !chinese && !state.isEmpty());

    window->handerAnalysis({ port("10.0.0.1", "COM3", "1", shown) });
    const QImage expected = QIcon(icon).pixmap(20, 20).toImage();
    QVERIFY(!expected.isNull());
    QCOMPARE(model()->item(0)->child(0)->icon().pixmap(20, 20).toImage(), expected);
    QCOMPARE(comTable()->item(0, 4)->text(), shown);
}

void TestMainWindowViews::clickingTablesMakesTreeItemCurrent()
{
    window->handerAnalysis({ port("10.0.0.2", "COM3", "1"), port("10.0.0.1", "COM4", "1"),
        port("10.0.0.2", "COM5", "2") });
    devTable()->setCurrentCell(1, 0);
    QTest::mouseClick(devTable()->viewport(), Qt::LeftButton, {},
        devTable()->visualItemRect(devTable()->item(1, 4)).center());
    QCOMPARE(tree()->currentIndex(), model()->index(1, 0));
    QCOMPARE(devTable()->selectionModel()->selectedRows().value(0).row(), 1);

    // Nothing was current when the table was filled: it lists all three ports.
    QTest::mouseClick(comTable()->viewport(), Qt::LeftButton, {},
        comTable()->visualItemRect(comTable()->item(2, 3)).center());
    QCOMPARE(tree()->currentIndex(), model()->item(1)->child(1)->index());
    QCOMPARE(devTable()->selectionModel()->selectedRows().value(0).row(), 1);
    QCOMPARE(comTable()->selectionModel()->selectedRows().value(0).row(), 1);
}

void TestMainWindowViews::clickingTreeSelectsTableRows_data()
{
    QTest::addColumn<int>("child");
    QTest::addColumn<int>("comRow");
    QTest::newRow("device: its row, no port row") << -1 << -1;
    QTest::newRow("port: its device's row and its own") << 1 << 1;
}

void TestMainWindowViews::clickingTreeSelectsTableRows()
{
    QFETCH(int, child);
    QFETCH(int, comRow);

    window->handerAnalysis({ port("10.0.0.2", "COM3", "1"), port("10.0.0.1", "COM4", "1"),
        port("10.0.0.2", "COM5", "2") });
    tree()->expandAll();
    comTable()->selectRow(0);
    const QModelIndex clicked
        = child < 0 ? model()->index(1, 0) : model()->item(1)->child(child)->index();
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualRect(clicked).center());

    QCOMPARE(devTable()->selectionModel()->selectedRows().value(0).row(), 1);
    QCOMPARE(comTable()->selectionModel()->selectedRows().value(0).row(), comRow);
}

void TestMainWindowViews::menus_data()
{
    QTest::addColumn<QString>("view");
    QTest::addColumn<bool>("current");
    QTest::addColumn<bool>("onPort");
    QTest::addColumn<QStringList>("entries");

    const QStringList device { "Create COM", "Delete all COM", "Web config" };
    // The listed port has no link (the service named no port directory): nothing to copy.
    const QStringList portEntries { "Delete COM", "Modify COM", "(Copy port path)",
        "Port settings" };
    QTest::newRow("tree, device") << "treeView" << true << false << device;
    QTest::newRow("tree, port") << "treeView" << true << true << portEntries;
    QTest::newRow("tree, nothing current") << "treeView" << false << false << QStringList();
    QTest::newRow("device table") << "tableWidget_dev" << true << false << device;
    QTest::newRow("device table, no row") << "tableWidget_dev" << false << false << QStringList();
    QTest::newRow("COM table") << "tableWidget" << true << true << portEntries;
    QTest::newRow("COM table, no row") << "tableWidget" << false << true << QStringList();
}

void TestMainWindowViews::menus()
{
    QFETCH(QString, view);
    QFETCH(bool, current);
    QFETCH(bool, onPort);
    QFETCH(QStringList, entries);

    window->handerAnalysis({ port("10.0.0.1", "COM3", "1") });
    auto *itemView = window->findChild<QAbstractItemView *>(view);
    if (current) {
        const QModelIndex index = view == "treeView" && onPort ? model()->item(0)->child(0)->index()
                                                               : itemView->model()->index(0, 0);
        itemView->setCurrentIndex(index);
    }
    QCOMPARE(WindowFixture::runContextMenu(itemView), entries);
}

void TestMainWindowViews::copyPortPathTakesTheLink_data()
{
    QTest::addColumn<QString>("view");
    QTest::newRow("tree") << "treeView";
    QTest::newRow("COM table") << "tableWidget";
}

void TestMainWindowViews::copyPortPathTakesTheLink()
{
    QFETCH(QString, view);
    COMS_INFO record = port("10.0.0.1", "COM3", "1");
    record.link = "/run/user/1000/tirv/COM3";
    window->handerAnalysis({ port("10.0.0.1", "COM2", "2"), record });
    auto *itemView = window->findChild<QAbstractItemView *>(view);
    itemView->setCurrentIndex(
        view == "treeView" ? model()->item(0)->child(1)->index() : itemView->model()->index(1, 0));
    QGuiApplication::clipboard()->clear();
    WindowFixture::runContextMenu(itemView, "Copy port path");
    QCOMPARE(QGuiApplication::clipboard()->text(), record.link);
}

void TestMainWindowViews::portToolTip_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<COMS_INFO>("record");
    QTest::addColumn<QString>("toolTip");

    const qint64 since = QDateTime(QDate::currentDate(), QTime(12, 3, 4)).toMSecsSinceEpoch();
    const qint64 lastConnect = QDateTime(QDate(2024, 3, 1), QTime(8, 0, 1)).toMSecsSinceEpoch();
    COMS_INFO fine = port("10.0.0.1", "COM3", "1", "COM Closed");
    fine.link = "/run/user/1000/tirv/COM3";
    QTest::newRow("fine, never connected")
        << false << fine
        << "Link: /run/user/1000/tirv/COM3\nDevice: 10.0.0.1:966\nState: COM Closed\n"
           "Protocol: RAW\nSent 0 bytes, received 0 bytes\n"
           "Reconnects: 0, dropped while away: 0 bytes\nNever connected";

    COMS_INFO refused = fine;
    refused.comState = "Disconnected";
    refused.report = { "refused", "connect to 10.0.0.1:966 refused", since, since + 2000, 4096, 512,
        2, 100, lastConnect };
    QTest::newRow("refused")
        << false << refused
        << "Link: /run/user/1000/tirv/COM3\nDevice: 10.0.0.1:966\nState: Disconnected\n"
           "Reason: the device refused the connection (since 12:03:04, next try at 12:03:06)\n"
           "Protocol: RAW\nSent 4096 bytes, received 512 bytes\n"
           "Reconnects: 2, dropped while away: 100 bytes\nLast connected: 2024-03-01 08:00:01";
    refused.comState = "未连接";
    QTest::newRow("refused, Chinese")
        << true << refused
        << "链接：/run/user/1000/tirv/COM3\n设备：10.0.0.1:966\n状态：未连接\n"
           "原因：设备拒绝连接（自 12:03:04 起，12:03:06 重试）\n协议：RAW\n"
           "已发送 4096 字节，已接收 512 字节\n重连 2 次，离线时丢弃 100 字节\n"
           "上次连接：2024-03-01 08:00:01";

    COMS_INFO failed = fine;
    failed.comState = "COM Error";
    failed.report
        = { "port", "a file that is not ours is in the way at /run/user/1000/tirv/COM3", since };
    QTest::newRow("port not made")
        << false << failed
        << "Link: /run/user/1000/tirv/COM3\nDevice: 10.0.0.1:966\nState: COM Error\n"
           "Reason: the port could not be made: a file that is not ours is in the way at "
           "/run/user/1000/tirv/COM3 (since 12:03:04)\nProtocol: RAW\n"
           "Sent 0 bytes, received 0 bytes\nReconnects: 0, dropped while away: 0 bytes\n"
           "Never connected";
}

// The same in the tree and in the port table.
void TestMainWindowViews::portToolTip()
{
    QFETCH(bool, chinese);
    QFETCH(COMS_INFO, record);
    QFETCH(QString, toolTip);

    switchLanguage(chinese);
    window->handerAnalysis({ record });
    QCOMPARE(model()->item(0)->child(0)->toolTip(), toolTip);
    QCOMPARE(comTable()->item(0, 0)->toolTip(), toolTip);
}

void TestMainWindowViews::webConfigOpensDevicePage_data()
{
    QTest::addColumn<bool>("browser");
    QTest::addColumn<QList<QUrl>>("opened");
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("a browser opens it")
        << true << QList<QUrl> { QUrl("http://10.0.0.7") } << QStringList();
    // The offscreen platform opens no URL at all, as a desktop without xdg-open.
    QTest::newRow("no browser: the address to open by hand")
        << false << QList<QUrl>()
        << QStringList { "No web browser could be started. Open this address by hand:\n"
                         "http://10.0.0.7" };
}

void TestMainWindowViews::webConfigOpensDevicePage()
{
    QFETCH(bool, browser);
    QFETCH(QList<QUrl>, opened);
    QFETCH(QStringList, boxes);
    if (!browser)
        QDesktopServices::unsetUrlHandler("http");
    WindowFixture::MessageBoxCatcher catcher;
    openedUrls.clear();
    window->handerAnalysis({ port("10.0.0.7", "COM3", "1"), port("10.0.0.10", "COM4", "1") });
    devTable()->setCurrentCell(1, 0);
    WindowFixture::runContextMenu(devTable(), "Web config");
    QDesktopServices::setUrlHandler("http", this, "openUrl");
    QCOMPARE(openedUrls, opened);
    QCOMPARE(catcher.texts, boxes);
}

// The worker cannot create the first port: the device leaves the views at once, its progress
// dialog is destroyed and the worker's message is shown.
void TestMainWindowViews::failedCreationRemovesDevice()
{
    WindowFixture::MessageBoxCatcher boxes;
    InProcessService::faults().failCall(ConnectionService::CreateConnection);
    window->handerAnalysis({ port("10.0.0.1", "COM3", "1"), port("10.0.0.9", "COM4", "1") });

    window->addManualDevice(4, "10.0.0.9");
    QPointer<Progressbar> dialog = window->findChild<Progressbar *>();
    QVERIFY(dialog);
    QTRY_VERIFY(!dialog);
    QCOMPARE(topTexts(), QStringList { "10.0.0.1" });
    QCOMPARE(column(devTable(), 4), QStringList { "10.0.0.1" });
    QTRY_COMPARE(boxes.texts, QStringList { "Failed to create virtual serial port!" });
}

void TestMainWindowViews::unreachableServiceIsReportedAtStart()
{
    delete window;
    WindowFixture::MessageBoxCatcher boxes;
    InProcessService::faults().failCall(ConnectionService::ConnectService);
    window = new MainWindow;
    QTRY_COMPARE(boxes.texts, QStringList { "Service initialization connection failed!" });
}

void TestMainWindowViews::languageSwitchRetranslates()
{
    auto *search = window->findChild<QToolButton *>("toolButton_searchDev");
    auto *language = window->findChild<QLabel *>("label_language");
    QCOMPARE(search->text(), QString("Search Device"));
    QCOMPARE(language->toolTip(), QString("English"));
    QVERIFY(!language->pixmap(Qt::ReturnByValue).isNull());
    QVERIFY(!window->findChild<QLabel *>("label_autoRun")->pixmap(Qt::ReturnByValue).isNull());

    QSignalSpy retranslated(window, &MainWindow::retranslateUI);
    switchLanguage(true);
    QCOMPARE(retranslated.count(), 1);
    QCOMPARE(search->text(), QString("搜索设备"));
    QCOMPARE(language->toolTip(), QString("中文"));
    QCOMPARE(model()->horizontalHeaderItem(0)->text(), QString("设备列表"));
    QCOMPARE(comTable()->horizontalHeaderItem(4)->text(), QString("连接状态"));
    QCOMPARE(comTable()->horizontalHeaderItem(3)->text(), QString("COM Port"));

    switchLanguage(false);
    QCOMPARE(comTable()->horizontalHeaderItem(4)->text(), QString("Status"));
    QCOMPARE(
        window->findChild<QLabel *>("label_autoRun")->toolTip(), QString("Turn off on auto-start"));
}

QTEST_MAIN(TestMainWindowViews)
#include "tst_mainwindowviews.moc"
