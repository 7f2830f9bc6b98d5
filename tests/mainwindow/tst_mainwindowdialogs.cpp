#include "modifycom.h"
#include "progressbar.h"
#include "servicepaths.h"
#include "tirvresources.h"
#include "windowfixture.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLocalServer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

// The progress dialog and the change-COM-number dialog on their own, and the latter opened by
// the window while the service does not answer.
class TestMainWindowDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void progressClosesAtMaximum_data();
    void progressClosesAtMaximum();
    void progressErrorGrowsAndCloseRestores();
    void progressTitleIsTheGivenOne();
    void modifyComMarksUsedNames_data();
    void modifyComMarksUsedNames();
    void modifyComRefusesUsedChoice();
    void modifyComEmitsFreeChoiceOnce();
    void modifyComCancelEmitsNothing();
    void modifyComOpensAtOnceWhileServiceHangs();
};

void TestMainWindowDialogs::initTestCase()
{
    initTirvResources();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestMainWindowDialogs::progressClosesAtMaximum_data()
{
    QTest::addColumn<int>("maximum");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<bool>("closed");
    QTest::newRow("runs to the end") << 4 << QList<int> { 0, 1, 2, 3, 4 } << true;
    QTest::newRow("stops short") << 6 << QList<int> { 0, 1, 2, 3 } << false;
    QTest::newRow("empty range closes at once") << 0 << QList<int> { 0 } << true;
    // A value beyond the range is ignored by the bar and is not the maximum.
    QTest::newRow("beyond the range") << 3 << QList<int> { 0, 7 } << false;
}

void TestMainWindowDialogs::progressClosesAtMaximum()
{
    QFETCH(int, maximum);
    QFETCH(QList<int>, values);
    QFETCH(bool, closed);

    Progressbar dialog("creating", nullptr);
    dialog.onSetRange(0, maximum);
    dialog.show();
    for (int value : values)
        dialog.onSetValue(value);
    QCOMPARE(dialog.isVisible(), !closed);
    QCOMPARE(dialog.findChild<QProgressBar *>("progressBar")->maximum(), maximum);
}

void TestMainWindowDialogs::progressErrorGrowsAndCloseRestores()
{
    Progressbar dialog("clearing", nullptr);
    dialog.show();
    QCOMPARE(dialog.size(), QSize(400, 40));
    auto *label = dialog.findChild<QLabel *>("label");
    QVERIFY(!label->isVisible());

    dialog.onSetError("no link");
    QCOMPARE(dialog.size(), QSize(400, 150));
    QVERIFY(label->isVisible());
    QCOMPARE(label->text(), QString("<span style=\"color:#ff0000;\">no link</span> "));

    dialog.close();
    QVERIFY(!dialog.isVisible());
    QVERIFY(!label->isVisible());
    QCOMPARE(dialog.size(), QSize(400, 40));
}

void TestMainWindowDialogs::progressTitleIsTheGivenOne()
{
    Progressbar dialog("Generating serial port...", nullptr);
    QCOMPARE(dialog.windowTitle(), QString("Generating serial port..."));
    QCOMPARE(dialog.findChild<QProgressBar *>("progressBar")->minimum(), 0);
    QCOMPARE(dialog.findChild<QProgressBar *>("progressBar")->maximum(), 100);
}

void TestMainWindowDialogs::modifyComMarksUsedNames_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::newRow("COM1 used, first") << 0 << QString("COM1（使用中）");
    QTest::newRow("COM2 free") << 1 << QString("COM2");
    QTest::newRow("COM3 used") << 2 << QString("COM3（使用中）");
    QTest::newRow("COM7 lower case is another name") << 6 << QString("COM7");
    QTest::newRow("COM10 used") << 9 << QString("COM10（使用中）");
    QTest::newRow("COM255 last") << 254 << QString("COM255");
}

void TestMainWindowDialogs::modifyComMarksUsedNames()
{
    QFETCH(int, index);
    QFETCH(QString, text);

    ModifyCom dialog({ "COM1", "COM3", "COM10", "com7", "ttyS0" }, nullptr);
    auto *combo = dialog.findChild<QComboBox *>("comboBox");
    QCOMPARE(combo->count(), 255);
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(combo->itemText(index), text);
}

void TestMainWindowDialogs::modifyComRefusesUsedChoice()
{
    WindowFixture::MessageBoxCatcher boxes;
    ModifyCom dialog({ "COM1" }, nullptr);
    QSignalSpy chosen(&dialog, &ModifyCom::modifyToCom);
    dialog.show();

    dialog.findChild<QPushButton *>("pushButton_sure")->click();
    QCOMPARE(boxes.texts, QStringList { "当前串口已被使用！" });
    QCOMPARE(chosen.count(), 0);
    QVERIFY(dialog.isVisible());
}

void TestMainWindowDialogs::modifyComEmitsFreeChoiceOnce()
{
    ModifyCom dialog({ "COM1" }, nullptr);
    QSignalSpy chosen(&dialog, &ModifyCom::modifyToCom);
    dialog.show();
    dialog.findChild<QComboBox *>("comboBox")->setCurrentIndex(11);

    dialog.findChild<QPushButton *>("pushButton_sure")->click();
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.first().first().toString(), QString("COM12"));
    QVERIFY(!dialog.isVisible());
}

void TestMainWindowDialogs::modifyComCancelEmitsNothing()
{
    ModifyCom dialog({}, nullptr);
    QSignalSpy chosen(&dialog, &ModifyCom::modifyToCom);
    dialog.show();
    dialog.findChild<QPushButton *>("pushButton_cancel")->click();
    QVERIFY(!dialog.isVisible());
    dialog.show();
    dialog.close();
    QCOMPARE(chosen.count(), 0);
}

// The service's socket takes every call and never answers (nothing accepts), so a call waits
// its full 10 s. The dialog must not wait: it offers the names of the window's last list.
void TestMainWindowDialogs::modifyComOpensAtOnceWhileServiceHangs()
{
    QString error;
    QLocalServer hungService;
    QVERIFY(hungService.listen(ServicePaths::socketPath(ServicePaths::runtimeDirectory(&error))));
    WindowFixture::MessageBoxCatcher boxes;
    MainWindow window;
    window.handerAnalysis({ WindowFixture::port("10.0.0.1", "COM3", "1") });
    auto *tree = window.findChild<QTreeView *>("treeView");
    auto *model = qobject_cast<QStandardItemModel *>(tree->model());
    tree->setCurrentIndex(model->item(0)->child(0)->index());

    QElapsedTimer clock;
    clock.start();
    WindowFixture::runContextMenu(tree, "Modify COM");
    auto *dialog = window.findChild<ModifyCom *>();
    QVERIFY(dialog && dialog->isVisible());
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(dialog->findChild<QComboBox *>("comboBox")->itemText(2), QString("COM3（in use）"));
    // Dropping the socket ends the worker's call, so the window closes without the wait.
    hungService.close();
}

QTEST_MAIN(TestMainWindowDialogs)
#include "tst_mainwindowdialogs.moc"
