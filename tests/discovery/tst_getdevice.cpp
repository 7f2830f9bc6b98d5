#include "getdevice.h"
#include "searchnetwork.h"
#include "searchprotocol.h"

#include <QCheckBox>
#include <QComboBox>
#include <QTableWidget>
#include <QUdpSocket>
#include <QtTest>

using namespace SearchProtocol;

namespace {

struct SentDatagram
{
    QString local;
    quint16 localPort;
    QByteArray data;
    quint16 port;
};

QNetworkAddressEntry entry(const QString &ip, const QString &broadcast)
{
    QNetworkAddressEntry e;
    e.setIp(QHostAddress(ip));
    if (!broadcast.isEmpty())
        e.setBroadcast(QHostAddress(broadcast));
    return e;
}

// Loopback-range addresses stand in for the machine's interfaces; nothing is broadcast, every
// datagram is recorded instead.
class FakeNetwork : public SearchNetwork
{
public:
    explicit FakeNetwork(QList<SentDatagram> *sent) : sent(sent) {}

    QList<QNetworkAddressEntry> allAddressEntries() const override
    {
        return {entry("127.66.0.2", "127.255.255.255"),
                entry("127.66.0.3", ""),                  // no broadcast address
                entry("127.0.0.1", "127.255.255.255"),    // loopback
                entry("::1", "::ffff:ffff"),              // not IPv4
                entry("127.66.0.10", "127.255.255.255")};
    }
    QList<QNetworkAddressEntry> addressEntries(const QString &name) const override
    {
        if (name == QLatin1String("eth7"))
            return {entry("127.66.0.20", "127.255.255.255")};
        return {};
    }
    QList<QPair<QString, QString>> interfaces() const override
    {
        return {{"Loopback Pseudo-Interface 1", "lo"},
                {"eth7", "eth7"},
                {"isatap.{1234}", "isatap0"},
                {"dummy", "dummy0"}};
    }
    void broadcast(QUdpSocket *socket, const QByteArray &datagram, quint16 port) override
    {
        sent->append({socket->localAddress().toString(), socket->localPort(), datagram, port});
    }

private:
    QList<SentDatagram> *sent;
};

const QByteArray macA = QByteArray::fromHex("001A2B3C4D5E");
const QByteArray macB = QByteArray::fromHex("0200000000B1");
const QByteArray macC = QByteArray::fromHex("0200000000C1");

} // namespace

class TestGetDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void interfaceList();
    void sixDatagramsInKeyOrder();
    void repliesMakeRows();
    void duplicatesAddNothing();
    void mcpAck2CompletesMatchingRows();
    void mcpAck2BeforeAck1ChangesNothing();
    void otherLengthsDropped_data();
    void otherLengthsDropped();
    void duplicateDoesNotStopReading();
    void checkedRowsEmitInRowOrder();
    void selectAllAndLaterRows();
    void cancelEmitsNothing();
    void interfaceChoiceRestartsSearch();

private:
    QString cell(int row, int column) const { return table()->item(row, column)->text(); }
    QTableWidget *table() const { return dialog->findChild<QTableWidget *>("tableWidget"); }
    QCheckBox *rowCheck(int row) const
    {
        return table()->cellWidget(row, 0)->findChild<QCheckBox *>(QString("checkbox_%1").arg(row));
    }
    void threeRows();

    QList<SentDatagram> sent;
    GetDevice *dialog = nullptr;
};

void TestGetDevice::init()
{
    sent.clear();
    dialog = new GetDevice(new FakeNetwork(&sent), nullptr);
    dialog->show();
}

void TestGetDevice::cleanup()
{
    delete dialog;
    dialog = nullptr;
    // Let the sockets scheduled for deletion go before the next dialog binds the same ports.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestGetDevice::interfaceList()
{
    const auto *combo = dialog->findChild<QComboBox *>("comboBox_ethernet");
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(combo->itemData(0).toString(), QString("所有网卡"));
    QCOMPARE(combo->itemText(1), QString("eth7"));
    QCOMPARE(combo->itemData(2).toString(), QString("dummy0"));
}

void TestGetDevice::sixDatagramsInKeyOrder()
{
    // Key order is text order: "127.66.0.10" sorts before "127.66.0.2".
    QCOMPARE(sent.size(), 6);
    const QStringList locals = {"127.66.0.10", "127.66.0.2"};
    for (int i = 0; i < 6; ++i) {
        const QString local = locals.at(i / 3);
        QCOMPARE(sent.at(i).local, local);
        QCOMPARE(sent.at(i).localPort, quint16(1029));
    }
    QCOMPARE(sent.at(0).data, textRequest("127.66.0.10"));
    QCOMPARE(sent.at(0).port, quint16(42356));
    QCOMPARE(sent.at(1).data, probeA());
    QCOMPARE(sent.at(2).data, probeB());
    QCOMPARE(sent.at(2).port, quint16(1029));
    QCOMPARE(sent.at(3).data, textRequest("127.66.0.2"));
}

void TestGetDevice::repliesMakeRows()
{
    dialog->handleDatagram(vcomAck("8", "TIR-8", macA, "192.168.1.10"), "10.0.0.9");
    dialog->handleDatagram(mcpAck1(macB), "10.0.0.11");
    QCOMPARE(table()->rowCount(), 2);
    const QStringList first = {cell(0, 1), cell(0, 2), cell(0, 3), cell(0, 4)};
    QCOMPARE(first, QStringList({"TIR-8", "8", "00:1A:2B:3C:4D:5E", "192.168.1.10"}));
    const QStringList second = {cell(1, 1), cell(1, 2), cell(1, 3), cell(1, 4)};
    QCOMPARE(second, QStringList({"", "", "02:00:00:00:00:B1", "10.0.0.11"}));
    QCOMPARE(table()->item(1, 3)->textAlignment(), int(Qt::AlignCenter));
    QCOMPARE(rowCheck(1)->text(), QString("2"));
}

void TestGetDevice::duplicatesAddNothing()
{
    dialog->handleDatagram(vcomAck("8", "TIR-8", macA, "192.168.1.10"), "10.0.0.9");
    dialog->handleDatagram(mcpAck1(macA), "10.0.0.12");
    dialog->handleDatagram(vcomAck("4", "Other", macA, "10.0.0.13"), "10.0.0.13");
    QCOMPARE(table()->rowCount(), 1);
    QCOMPARE(cell(0, 4), QString("192.168.1.10"));
}

void TestGetDevice::mcpAck2CompletesMatchingRows()
{
    dialog->handleDatagram(mcpAck1(macA), "192.168.1.10");
    dialog->handleDatagram(mcpAck1(macB), "192.168.1.10");
    dialog->handleDatagram(mcpAck2(macA, 8, " TIR-8 ", "192.168.1.10"), "x");
    QCOMPARE(cell(0, 1), QString("TIR-8"));
    QCOMPARE(cell(0, 2), QString("8"));
    QCOMPARE(cell(1, 1), QString());
    // Same MAC tail, other device address: no match.
    dialog->handleDatagram(mcpAck2(macB, 2, "X", "192.168.1.11"), "x");
    QCOMPARE(cell(1, 2), QString());
}

void TestGetDevice::mcpAck2BeforeAck1ChangesNothing()
{
    dialog->handleDatagram(mcpAck2(macA, 8, "TIR-8", "192.168.1.10"), "x");
    QCOMPARE(table()->rowCount(), 0);
    dialog->handleDatagram(mcpAck1(macA), "192.168.1.10");
    QCOMPARE(cell(0, 1), QString());
    dialog->handleDatagram(mcpAck2(macA, 8, "TIR-8", "192.168.1.10"), "x");
    QCOMPARE(cell(0, 1), QString("TIR-8"));
}

void TestGetDevice::otherLengthsDropped_data()
{
    QTest::addColumn<int>("size");
    for (int size : {6, 23, 25, 85, 87, 143, 145})
        QTest::addRow("%d", size) << size;
}

void TestGetDevice::otherLengthsDropped()
{
    QFETCH(int, size);
    dialog->handleDatagram(vcomAck("8", "T", macA, "10.0.0.7").leftJustified(size, 'x', true),
                           "10.0.0.7");
    QCOMPARE(table()->rowCount(), 0);
}

void TestGetDevice::duplicateDoesNotStopReading()
{
    dialog->handleDatagram(mcpAck1(macA), "10.0.0.7");
    QUdpSocket device;
    QVERIFY(device.bind(QHostAddress("127.66.0.99"), 0));
    const QHostAddress search("127.66.0.2");
    device.writeDatagram(mcpAck1(macA), search, 1029);
    device.writeDatagram(mcpAck1(macB), search, 1029);
    device.writeDatagram(mcpAck1(macC), search, 1029);
    QTRY_COMPARE(table()->rowCount(), 3);
    QCOMPARE(cell(2, 3), QString("02:00:00:00:00:C1"));
    QCOMPARE(cell(2, 4), QString("127.66.0.99"));
}

void TestGetDevice::threeRows()
{
    dialog->handleDatagram(vcomAck("8 ports", "TIR-8", macA, "10.0.0.7"), "10.0.0.7");
    dialog->handleDatagram(vcomAck("4", "TIR-4", macB, "10.0.0.8"), "10.0.0.8");
    dialog->handleDatagram(mcpAck1(macC), "10.0.0.9");
}

void TestGetDevice::checkedRowsEmitInRowOrder()
{
    threeRows();
    QSignalSpy spy(dialog, &GetDevice::getDevInfo);
    rowCheck(2)->setChecked(true);
    rowCheck(0)->setChecked(true);
    QTest::mouseClick(dialog->findChild<QWidget *>("pushButton_sure"), Qt::LeftButton);
    QCOMPARE(spy.size(), 2);
    // A Ports text with a space gives what stands before it; an ACK1-only row empty texts.
    QCOMPARE(spy.at(0).at(0).toStringList(),
             QStringList({"TIR-8", "8", "00:1A:2B:3C:4D:5E", "10.0.0.7"}));
    QCOMPARE(spy.at(1).at(0).toStringList(),
             QStringList({"", "", "02:00:00:00:00:C1", "10.0.0.9"}));
    QVERIFY(!dialog->isVisible());
}

void TestGetDevice::selectAllAndLaterRows()
{
    threeRows();
    auto *selectAll = dialog->findChild<QCheckBox *>("checkBox_select");
    selectAll->click();
    for (int row = 0; row < 3; ++row)
        QVERIFY(rowCheck(row)->isChecked());
    dialog->handleDatagram(mcpAck1(QByteArray::fromHex("0200000000D1")), "10.0.0.10");
    QVERIFY(!rowCheck(3)->isChecked());
    selectAll->click();
    for (int row = 0; row < 4; ++row)
        QVERIFY(!rowCheck(row)->isChecked());
}

void TestGetDevice::cancelEmitsNothing()
{
    threeRows();
    dialog->findChild<QCheckBox *>("checkBox_select")->click();
    QSignalSpy spy(dialog, &GetDevice::getDevInfo);
    QTest::mouseClick(dialog->findChild<QWidget *>("pushButton_cancel"), Qt::LeftButton);
    QCOMPARE(spy.size(), 0);
    QVERIFY(!dialog->isVisible());
}

void TestGetDevice::interfaceChoiceRestartsSearch()
{
    threeRows();
    rowCheck(0)->setChecked(true);
    auto *combo = dialog->findChild<QComboBox *>("comboBox_ethernet");
    sent.clear();
    combo->setCurrentIndex(1);
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(sent.size(), 3);
    QCOMPARE(sent.at(0).local, QString("127.66.0.20"));
    QVERIFY(sent.at(0).localPort != 1029);

    // The new row 0 has a check box of its own, not the one of the removed row 0.
    dialog->handleDatagram(mcpAck1(macA), "10.0.0.7");
    QSignalSpy spy(dialog, &GetDevice::getDevInfo);
    QTest::mouseClick(dialog->findChild<QWidget *>("pushButton_sure"), Qt::LeftButton);
    QCOMPARE(spy.size(), 0);

    sent.clear();
    combo->setCurrentIndex(2);  // no IPv4 address
    QCOMPARE(sent.size(), 0);
    combo->setCurrentIndex(0);
    QCOMPARE(sent.size(), 6);
    QCOMPARE(sent.at(0).localPort, quint16(1029));
}

QTEST_MAIN(TestGetDevice)
#include "tst_getdevice.moc"
