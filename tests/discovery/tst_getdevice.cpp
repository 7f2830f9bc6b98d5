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

// Loopback addresses of this process alone: a parallel run binds the same port elsewhere.
QString local(int host)
{
    const qint64 pid = QCoreApplication::applicationPid();
    return QStringLiteral("127.%1.%2.%3").arg(66 + (pid >> 8) % 128).arg(pid & 0xff).arg(host);
}

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
    explicit FakeNetwork(QList<SentDatagram> *sent)
        : sent(sent)
    {
    }

    QList<QNetworkAddressEntry> allAddressEntries() const override
    {
        return { entry(local(2), "127.255.255.255"), entry(local(3), ""), // no broadcast address
            entry("127.0.0.1", "127.255.255.255"), // loopback
            entry("::1", "::ffff:ffff"), // not IPv4
            entry(local(10), "127.255.255.255"),
            entry(local(2), "127.255.255.255") }; // seen twice, bound once
    }
    QList<QNetworkAddressEntry> addressEntries(const QString &name) const override
    {
        if (name == QLatin1String("eth7"))
            return { entry(local(20), "127.255.255.255") };
        return {};
    }
    QList<QPair<QString, QString>> interfaces() const override
    {
        return { { "Loopback Pseudo-Interface 1", "lo" }, { "eth7", "eth7" },
            { "isatap.{1234}", "isatap0" }, { "dummy", "dummy0" } };
    }
    void broadcast(QUdpSocket *socket, const QByteArray &datagram, quint16 port) override
    {
        sent->append({ socket->localAddress().toString(), socket->localPort(), datagram, port });
    }

private:
    QList<SentDatagram> *sent;
};

using Datagrams = QList<QPair<QByteArray, QString>>; // datagram, sender address

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
    void datagramsMakeRows_data();
    void datagramsMakeRows();
    void socketRepliesMakeRows_data();
    void socketRepliesMakeRows();
    void buttonsHandOverCheckedRows_data();
    void buttonsHandOverCheckedRows();
    void selectAllAndLaterRows();
    void interfaceChoiceRestartsSearch();
    void searchBesideAnotherListener();

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
    // Key order is text order: "….10" sorts before "….2".
    QCOMPARE(sent.size(), 6);
    const QStringList locals = { local(10), local(2) };
    for (int i = 0; i < 6; ++i) {
        const QString local = locals.at(i / 3);
        QCOMPARE(sent.at(i).local, local);
        QCOMPARE(sent.at(i).localPort, quint16(1029));
    }
    QCOMPARE(sent.at(0).data, textRequest(local(10)));
    QCOMPARE(sent.at(0).port, quint16(42356));
    QCOMPARE(sent.at(1).data, probeA());
    QCOMPARE(sent.at(2).data, probeB());
    QCOMPARE(sent.at(2).port, quint16(1029));
    QCOMPARE(sent.at(3).data, textRequest(local(2)));
}

void TestGetDevice::datagramsMakeRows_data()
{
    QTest::addColumn<Datagrams>("datagrams");
    QTest::addColumn<QList<QStringList>>("rows"); // type, ports, MAC, IP
    const QString a = "00:1A:2B:3C:4D:5E";
    const QString b = "02:00:00:00:00:B1";
    QTest::newRow("text reply and first probe reply") << Datagrams {
        { vcomAck("8", "TIR-8", macA, "192.168.1.10"), "10.0.0.9" }, { mcpAck1(macB), "10.0.0.11" }
    } << QList<QStringList> { { "TIR-8", "8", a, "192.168.1.10" }, { "", "", b, "10.0.0.11" } };
    QTest::newRow("a MAC seen before adds nothing") << Datagrams {
        { vcomAck("8", "TIR-8", macA, "192.168.1.10"), "10.0.0.9" }, { mcpAck1(macA), "10.0.0.12" },
        { vcomAck("4", "Other", macA, "10.0.0.13"), "10.0.0.13" }
    } << QList<QStringList> { { "TIR-8", "8", a, "192.168.1.10" } };
    // Same MAC tail, other device address: no match.
    QTest::newRow("ACK2 completes the rows of its address and MAC tail") << Datagrams {
        { mcpAck1(macA), "192.168.1.10" }, { mcpAck1(macB), "192.168.1.10" },
        { mcpAck2(macA, 8, " TIR-8 ", "192.168.1.10"), "x" },
        { mcpAck2(macB, 2, "X", "192.168.1.11"), "x" }
    } << QList<QStringList> { { "TIR-8", "8", a, "192.168.1.10" }, { "", "", b, "192.168.1.10" } };
    QTest::newRow("ACK2 before ACK1 changes nothing") << Datagrams {
        { mcpAck2(macA, 8, "TIR-8", "192.168.1.10"), "x" }, { mcpAck1(macA), "192.168.1.10" }
    } << QList<QStringList> { { "", "", a, "192.168.1.10" } };
    Datagrams otherLengths;
    for (int size : { 6, 23, 25, 85, 87, 143, 145 })
        otherLengths.append(
            { vcomAck("8", "T", macA, "10.0.0.7").leftJustified(size, 'x', true), "10.0.0.7" });
    QTest::newRow("other lengths dropped") << otherLengths << QList<QStringList>();
    QTest::newRow("multicast address not offered")
        << Datagrams { { vcomAck("8", "TIR-8", macA, "224.0.0.251"), "10.0.0.9" } }
        << QList<QStringList>();
}

void TestGetDevice::datagramsMakeRows()
{
    QFETCH(Datagrams, datagrams);
    QFETCH(QList<QStringList>, rows);
    for (const auto &datagram : datagrams)
        dialog->handleDatagram(datagram.first, datagram.second);
    QList<QStringList> shown;
    for (int row = 0; row < table()->rowCount(); ++row) {
        shown.append({ cell(row, 1), cell(row, 2), cell(row, 3), cell(row, 4) });
        QCOMPARE(table()->item(row, 3)->textAlignment(), int(Qt::AlignCenter));
        QCOMPARE(rowCheck(row)->text(), QString::number(row + 1));
    }
    QCOMPARE(shown, rows);
}

void TestGetDevice::socketRepliesMakeRows_data()
{
    QTest::addColumn<int>("interfaceIndex");
    QTest::addColumn<bool>("byBroadcast");
    QTest::newRow("to the search's address") << 0 << false;
    // A device on another network answers to the broadcast address, at the search's port.
    QTest::newRow("by broadcast") << 1 << true;
}

// A duplicate does not stop the reading of the datagrams behind it.
void TestGetDevice::socketRepliesMakeRows()
{
    QFETCH(int, interfaceIndex);
    QFETCH(bool, byBroadcast);
    dialog->findChild<QComboBox *>("comboBox_ethernet")->setCurrentIndex(interfaceIndex);
    const SentDatagram search = sent.last();
    dialog->handleDatagram(mcpAck1(macA), "10.0.0.7");
    QUdpSocket device;
    QVERIFY(device.bind(QHostAddress(local(99)), 0));
    const QHostAddress to(byBroadcast ? QString("127.255.255.255") : search.local);
    for (const QByteArray &mac : { macA, macB, macC })
        device.writeDatagram(mcpAck1(mac), to, search.localPort);
    QTRY_COMPARE(table()->rowCount(), 3);
    QCOMPARE(cell(2, 3), QString("02:00:00:00:00:C1"));
    QCOMPARE(cell(2, 4), local(99));
}

void TestGetDevice::threeRows()
{
    dialog->handleDatagram(vcomAck("8 ports", "TIR-8", macA, "10.0.0.7"), "10.0.0.7");
    dialog->handleDatagram(vcomAck("4", "TIR-4", macB, "10.0.0.8"), "10.0.0.8");
    dialog->handleDatagram(mcpAck1(macC), "10.0.0.9");
}

void TestGetDevice::buttonsHandOverCheckedRows_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QList<QStringList>>("emitted");
    // In row order. A Ports text with a space gives what stands before it; an ACK1-only row
    // empty texts.
    QTest::newRow("save") << "pushButton_sure"
                          << QList<QStringList> { { "TIR-8", "8", "00:1A:2B:3C:4D:5E", "10.0.0.7" },
                                 { "", "", "02:00:00:00:00:C1", "10.0.0.9" } };
    QTest::newRow("cancel emits nothing") << "pushButton_cancel" << QList<QStringList>();
}

void TestGetDevice::buttonsHandOverCheckedRows()
{
    QFETCH(QString, button);
    QFETCH(QList<QStringList>, emitted);
    threeRows();
    QSignalSpy spy(dialog, &GetDevice::getDevInfo);
    rowCheck(2)->setChecked(true);
    rowCheck(0)->setChecked(true);
    QTest::mouseClick(dialog->findChild<QWidget *>(button), Qt::LeftButton);
    QList<QStringList> infos;
    for (const QVariantList &arguments : qAsConst(spy))
        infos.append(arguments.at(0).toStringList());
    QCOMPARE(infos, emitted);
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

void TestGetDevice::interfaceChoiceRestartsSearch()
{
    threeRows();
    rowCheck(0)->setChecked(true);
    auto *combo = dialog->findChild<QComboBox *>("comboBox_ethernet");
    sent.clear();
    combo->setCurrentIndex(1);
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(sent.size(), 3);
    QCOMPARE(sent.at(0).local, local(20));
    QVERIFY(sent.at(0).localPort != 1029);

    // The new row 0 has a check box of its own, not the one of the removed row 0.
    dialog->handleDatagram(mcpAck1(macA), "10.0.0.7");
    QSignalSpy spy(dialog, &GetDevice::getDevInfo);
    QTest::mouseClick(dialog->findChild<QWidget *>("pushButton_sure"), Qt::LeftButton);
    QCOMPARE(spy.size(), 0);

    sent.clear();
    combo->setCurrentIndex(2); // no IPv4 address
    QCOMPARE(sent.size(), 0);
    combo->setCurrentIndex(0);
    QCOMPARE(sent.size(), 6);
    QCOMPARE(sent.at(0).localPort, quint16(1029));
}

// A simulator on this machine listens on port 1029 for any address; the search still binds.
void TestGetDevice::searchBesideAnotherListener()
{
    cleanup();
    QUdpSocket simulator;
    QVERIFY(simulator.bind(
        QHostAddress::AnyIPv4, 1029, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
    init();
    QCOMPARE(sent.size(), 6);
    QCOMPARE(sent.at(0).localPort, quint16(1029));
}

QTEST_MAIN(TestGetDevice)
#include "tst_getdevice.moc"
