#include "adddevice.h"
#include "appointvcom.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

class TestEntryDialogs : public QObject
{
    Q_OBJECT

private slots:
    void typingIsFiltered_data();
    void typingIsFiltered();
    void addDevice_data();
    void addDevice();
    void unusableAddressKeepsDialogOpen_data();
    void unusableAddressKeepsDialogOpen();
    void portCountBounds();
    void portSequenceRange_data();
    void portSequenceRange();
    void portSequence_data();
    void portSequence();
};

void TestEntryDialogs::typingIsFiltered_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("256 refused") << "192.168.1.256"
                                 << "192.168.1.25";
    QTest::newRow("three digits after 0 refused") << "010"
                                                  << "01";
    QTest::newRow("letters refused") << "19a2.1x"
                                     << "192.1";
    QTest::newRow("unfinished kept") << "192.168.1."
                                     << "192.168.1.";
}

void TestEntryDialogs::typingIsFiltered()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    AddDevice dialog;
    auto *edit = dialog.findChild<QLineEdit *>("lineEdit_ip");
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), shown);
}

void TestEntryDialogs::addDevice_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("ports");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("emittedIp");
    QTest::newRow("plain") << "192.168.1.10" << 4 << "pushButton_sure"
                           << "192.168.1.10";
    // One device, one name: the window then finds the device it already has.
    QTest::newRow("zero-padded groups, emitted canonical")
        << "10.77.0.02" << 48 << "pushButton_sure"
        << "10.77.0.2";
    QTest::newRow("cancel emits nothing") << "10.0.0.7" << 4 << "pushButton_cancel" << QString();
}

void TestEntryDialogs::addDevice()
{
    QFETCH(QString, typed);
    QFETCH(int, ports);
    QFETCH(QString, button);
    QFETCH(QString, emittedIp);
    AddDevice dialog;
    dialog.show();
    QSignalSpy spy(&dialog, &AddDevice::addDevInfo);
    dialog.findChild<QSpinBox *>("spinBox_num")->setValue(ports);
    QTest::keyClicks(dialog.findChild<QLineEdit *>("lineEdit_ip"), typed);
    dialog.findChild<QPushButton *>(button)->click();
    QList<QVariantList> emitted;
    if (button == "pushButton_sure")
        emitted.append({ ports, emittedIp });
    QCOMPARE(spy, emitted);
    QVERIFY(!dialog.isVisible());
}

void TestEntryDialogs::unusableAddressKeepsDialogOpen_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("empty") << "";
    QTest::newRow("three groups") << "192.168.1";
    QTest::newRow("trailing dot") << "192.168.1.";
    // Whole addresses, but no device's.
    QTest::newRow("broadcast") << "255.255.255.255";
    QTest::newRow("multicast") << "239.1.2.3";
}

void TestEntryDialogs::unusableAddressKeepsDialogOpen()
{
    QFETCH(QString, typed);
    AddDevice dialog;
    dialog.show();
    QSignalSpy spy(&dialog, &AddDevice::addDevInfo);
    QTest::keyClicks(dialog.findChild<QLineEdit *>("lineEdit_ip"), typed);
    QString title, text;
    // The information box runs its own loop; read it and close it from inside that loop.
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    dialog.findChild<QPushButton *>("pushButton_sure")->click();
    QCOMPARE(title, QString("提示"));
    QCOMPARE(text, QString("请输入规范的IP地址!"));
    QCOMPARE(spy.size(), 0);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.findChild<QLineEdit *>("lineEdit_ip")->text(), typed);
}

void TestEntryDialogs::portCountBounds()
{
    AddDevice dialog;
    const auto *spin = dialog.findChild<QSpinBox *>("spinBox_num");
    QCOMPARE(spin->minimum(), 1);
    QCOMPARE(spin->maximum(), 48);
    QCOMPARE(spin->value(), 1);
}

void TestEntryDialogs::portSequenceRange_data()
{
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("upper");
    QTest::newRow("8 ports") << 8 << 8;
    QTest::newRow("1 port") << 1 << 1;
    // A port count of 0, or one that did not read as a number, still offers port 1.
    QTest::newRow("0 ports") << 0 << 1;
    QTest::newRow("negative") << -3 << 1;
}

void TestEntryDialogs::portSequenceRange()
{
    QFETCH(int, max);
    QFETCH(int, upper);
    AppointVcom dialog(max);
    const auto *spin = dialog.findChild<QSpinBox *>("spinBox");
    QCOMPARE(spin->minimum(), 1);
    QCOMPARE(spin->maximum(), upper);
    QCOMPARE(spin->value(), 1);
}

void TestEntryDialogs::portSequence_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QList<QVariantList>>("emitted");
    QTest::newRow("chosen") << "pushButton_sure" << QList<QVariantList> { { 3 } };
    QTest::newRow("cancel emits nothing") << "pushButton_cancel" << QList<QVariantList>();
}

void TestEntryDialogs::portSequence()
{
    QFETCH(QString, button);
    QFETCH(QList<QVariantList>, emitted);
    AppointVcom dialog(8);
    dialog.show();
    QSignalSpy spy(&dialog, &AppointVcom::appointSeq);
    dialog.findChild<QSpinBox *>("spinBox")->setValue(3);
    dialog.findChild<QPushButton *>(button)->click();
    QCOMPARE(spy, emitted);
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TestEntryDialogs)
#include "tst_entrydialogs.moc"
