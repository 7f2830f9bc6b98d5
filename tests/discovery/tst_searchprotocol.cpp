#include "ipv4address.h"
#include "searchprotocol.h"

#include <QRandomGenerator>
#include <QtTest>

#include <vector>

using namespace SearchProtocol;

Q_DECLARE_METATYPE(SearchProtocol::ReplyKind)

namespace {

const QByteArray mac = QByteArray::fromHex("001A2B3C4D5E");
const QString senderIp = "10.0.0.9";

QByteArray withBytes(QByteArray datagram, int offset, const QByteArray &bytes)
{
    return datagram.replace(offset, bytes.size(), bytes);
}

bool isClean(const QString &text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('@') || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

// Decodes from an exactly sized heap copy, so that a read past the end hits a redzone.
SearchReply decodeExact(const QByteArray &datagram, const QString &sender)
{
    std::vector<char> heap(datagram.constData(), datagram.constData() + datagram.size());
    return decodeReply(QByteArray::fromRawData(heap.data(), int(heap.size())), sender);
}

} // namespace

class TestSearchProtocol : public QObject
{
    Q_OBJECT

private slots:
    void textRequest_data();
    void textRequest();
    void probes();
    void replyKindByLength_data();
    void replyKindByLength();
    void decodedFields_data();
    void decodedFields();
    void untrustedTexts_data();
    void untrustedTexts();
    void fuzzDecoder();
    void ipv4Addresses_data();
    void ipv4Addresses();
};

void TestSearchProtocol::textRequest_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("192.168.1.10, 56 bytes")
        << "192.168.1.10"
        << QByteArray::fromHex("3078494342433B303B3139322E3136382E312E31300A3B363630353B3235352E"
                               "3235352E3235352E3235353B34323335363B5F4943504C5F");
    QTest::newRow("10.0.0.7, 52 bytes")
        << "10.0.0.7" << QByteArray("0xICBC;0;10.0.0.7\n;6605;255.255.255.255;42356;_ICPL_");
}

void TestSearchProtocol::textRequest()
{
    QFETCH(QString, local);
    QFETCH(QByteArray, expected);
    QCOMPARE(SearchProtocol::textRequest(local), expected);
    QCOMPARE(SearchProtocol::textRequest(local).size(), 44 + local.size());
}

void TestSearchProtocol::probes()
{
    QCOMPARE(probeA(), QByteArray::fromHex("490000060000"));
    QCOMPARE(probeB(), QByteArray::fromHex("010000060000"));
}

void TestSearchProtocol::replyKindByLength_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<ReplyKind>("kind");
    QTest::newRow("0") << 0 << ReplyKind::Unknown;
    // Our own probe, received back on a port-1029 socket.
    QTest::newRow("6") << 6 << ReplyKind::Unknown;
    QTest::newRow("23") << 23 << ReplyKind::Unknown;
    QTest::newRow("24") << 24 << ReplyKind::McpAck1;
    QTest::newRow("25") << 25 << ReplyKind::Unknown;
    QTest::newRow("85") << 85 << ReplyKind::Unknown;
    QTest::newRow("86") << 86 << ReplyKind::McpAck2;
    QTest::newRow("87") << 87 << ReplyKind::Unknown;
    QTest::newRow("143") << 143 << ReplyKind::Unknown;
    QTest::newRow("144") << 144 << ReplyKind::VcomAck;
    QTest::newRow("145") << 145 << ReplyKind::Unknown;
}

void TestSearchProtocol::replyKindByLength()
{
    QFETCH(int, size);
    QFETCH(ReplyKind, kind);
    QCOMPARE(replyKind(size), kind);
    QCOMPARE(decodeReply(QByteArray(size, 'x'), senderIp).kind, kind);
}

void TestSearchProtocol::decodedFields_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<ReplyKind>("kind");
    QTest::addColumn<QStringList>("fields"); // type, port count, MAC, MAC tail, IP
    const QString macText = "00:1A:2B:3C:4D:5E";
    QTest::newRow("VCOM_ACK") << vcomAck("8", "TIR-8", mac, "192.168.1.10") << ReplyKind::VcomAck
                              << QStringList { "TIR-8", "8", macText, "", "192.168.1.10" };
    // A port count text without NUL runs on into the type field; an IP text to the datagram's end.
    QTest::newRow("VCOM_ACK texts run to NUL or end")
        << withBytes(withBytes(vcomAck("", "TIR", mac, ""), 0, QByteArray(40, '4')), 92,
               QByteArray(52, '1'))
        << ReplyKind::VcomAck
        << QStringList { "TIR", QString(40, '4') + "TIR", macText, QString(), senderIp };
    QTest::newRow("MCP_ACK1 takes the sender's address") << mcpAck1(
        mac) << ReplyKind::McpAck1 << QStringList { "", "", macText, QString(), senderIp };
    QByteArray ack2(mcpAck2Size, '\0');
    ack2 = withBytes(ack2, 74, QByteArray::fromHex("C0A8010A"));
    ack2 = withBytes(ack2, 12, QByteArray::fromHex("4D5E"));
    ack2 = withBytes(ack2, 27, QByteArray::fromHex("08"));
    ack2 = withBytes(ack2, 28, "TIR-8");
    const QStringList ack2Fields = { "TIR-8", "8", "", "4d:5e", "192.168.1.10" };
    QTest::newRow("MCP_ACK2 by its offsets") << ack2 << ReplyKind::McpAck2 << ack2Fields;
    QTest::newRow("MCP_ACK2 encoded")
        << mcpAck2(mac, 8, "TIR-8", "192.168.1.10") << ReplyKind::McpAck2 << ack2Fields;
    // Sixteen type bytes, no NUL: all used, the spaces around trimmed, the IP after it untouched.
    QTest::newRow("MCP_ACK2 type without NUL")
        << withBytes(mcpAck2(mac, 255, "  TIR-1234567  \t", "10.0.0.7"), 44, QByteArray(30, 'Z'))
        << ReplyKind::McpAck2 << QStringList { "TIR-1234567", "255", "", "4d:5e", "10.0.0.7" };
}

void TestSearchProtocol::decodedFields()
{
    QFETCH(QByteArray, datagram);
    QFETCH(ReplyKind, kind);
    QFETCH(QStringList, fields);
    const SearchReply reply = decodeReply(datagram, senderIp);
    QCOMPARE(reply.kind, kind);
    QCOMPARE(QStringList({ reply.devType, reply.portCount, reply.mac, reply.macTail, reply.ip }),
        fields);
}

void TestSearchProtocol::untrustedTexts_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("expectedType");
    QTest::addColumn<QString>("expectedIp");
    QTest::newRow("clean") << "TIR-4"
                           << "192.168.1.10"
                           << "TIR-4"
                           << "192.168.1.10";
    // "@" would shift the fields of the connection name.
    QTest::newRow("at sign") << "TIR@4"
                             << "1.2.3.4@"
                             << "TIR4"
                             << "1.2.3.4";
    QTest::newRow("controls") << "TIR\n\t\x1b-4\x7f"
                              << "192.168.1.10\r"
                              << "TIR-4"
                              << "192.168.1.10";
    QTest::newRow("ip out of range") << "T"
                                     << "256.1.1.1"
                                     << "T" << senderIp;
    QTest::newRow("ip three groups") << "T"
                                     << "192.168.1"
                                     << "T" << senderIp;
    QTest::newRow("ip leading zero") << "T"
                                     << "192.168.01.10"
                                     << "T" << senderIp;
    QTest::newRow("ip name") << "T"
                             << "evil.example"
                             << "T" << senderIp;
    QTest::newRow("ip empty") << "T"
                              << ""
                              << "T" << senderIp;
    QTest::newRow("utf-8 kept") << "串口服务器"
                                << "10.0.0.7"
                                << "串口服务器"
                                << "10.0.0.7";
}

void TestSearchProtocol::untrustedTexts()
{
    QFETCH(QString, type);
    QFETCH(QString, ip);
    QFETCH(QString, expectedType);
    QFETCH(QString, expectedIp);
    const SearchReply reply = decodeReply(vcomAck("4@\x01", type, mac, ip), senderIp);
    QCOMPARE(reply.devType, expectedType);
    QCOMPARE(reply.ip, expectedIp);
    QCOMPARE(reply.portCount, QString("4"));
    QCOMPARE(decodeReply(mcpAck2(mac, 1, type, "10.0.0.7"), "x").devType,
        expectedType.left(16).trimmed());
}

// Random and mutated replies: the decoder must neither crash nor read outside the datagram (the
// AddressSanitizer build checks that), and whatever it returns must be fit for a row.
void TestSearchProtocol::fuzzDecoder()
{
    QRandomGenerator random(20261207);
    const QList<QByteArray> seeds = { vcomAck("8", "TIR-8", mac, "192.168.1.10"), mcpAck1(mac),
        mcpAck2(mac, 8, "TIR-8", "192.168.1.10") };
    const int sizes[] = { 0, 1, 6, 23, 24, 25, 85, 86, 87, 143, 144, 145 };
    for (int round = 0; round < 30000; ++round) {
        QByteArray datagram;
        if (round % 2) {
            datagram = seeds.at(round % seeds.size());
            for (int flips = random.bounded(1, 12); flips > 0; --flips)
                datagram[random.bounded(datagram.size())] = char(random.bounded(256));
        } else {
            datagram.resize(sizes[random.bounded(int(std::size(sizes)))]);
            for (char &byte : datagram)
                byte = char(random.bounded(256));
        }
        const SearchReply reply = decodeExact(datagram, senderIp);
        QCOMPARE(reply.kind, replyKind(datagram.size()));
        QVERIFY(isClean(reply.devType) && isClean(reply.portCount) && isClean(reply.ip));
        if (reply.kind != ReplyKind::Unknown)
            QVERIFY2(Ipv4Address::isCanonical(reply.ip), qPrintable(reply.ip));
        if (reply.kind == ReplyKind::VcomAck || reply.kind == ReplyKind::McpAck1)
            QCOMPARE(reply.mac.size(), 17);
        if (reply.kind == ReplyKind::McpAck2)
            QCOMPARE(reply.macTail.size(), 5);
    }
}

void TestSearchProtocol::ipv4Addresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("canonical"); // empty: not valid
    QTest::addColumn<bool>("device"); // an address a device can have
    QTest::newRow("plain") << "192.168.1.10"
                           << "192.168.1.10" << true;
    QTest::newRow("loopback") << "127.0.0.1"
                              << "127.0.0.1" << true;
    QTest::newRow("last unicast") << "223.255.255.254"
                                  << "223.255.255.254" << true;
    // Two-digit groups may carry a leading zero; the address is the same without it.
    QTest::newRow("leading zeros") << "01.02.03.04"
                                   << "1.2.3.4" << true;
    QTest::newRow("padded zero group") << "10.77.00.02"
                                       << "10.77.0.2" << true;
    QTest::newRow("bounds, this network") << "0.99.199.255"
                                          << "0.99.199.255" << false;
    QTest::newRow("any") << "0.0.0.0"
                         << "0.0.0.0" << false;
    QTest::newRow("broadcast") << "255.255.255.255"
                               << "255.255.255.255" << false;
    QTest::newRow("multicast") << "224.0.0.1"
                               << "224.0.0.1" << false;
    QTest::newRow("last multicast") << "239.255.255.250"
                                    << "239.255.255.250" << false;
    QTest::newRow("reserved") << "240.0.0.1"
                              << "240.0.0.1" << false;
    QTest::newRow("padded any") << "00.00.00.00"
                                << "0.0.0.0" << false;
    QTest::newRow("three-digit leading zero") << "010.0.0.1" << QString() << false;
    QTest::newRow("256") << "192.168.1.256" << QString() << false;
    QTest::newRow("three groups") << "192.168.1" << QString() << false;
    QTest::newRow("trailing dot") << "192.168.1." << QString() << false;
    QTest::newRow("empty") << "" << QString() << false;
    QTest::newRow("letters") << "a.b.c.d" << QString() << false;
    QTest::newRow("space") << "192.168.1.10 " << QString() << false;
    QTest::newRow("arabic-indic digits") << "١٠.٠.٠.٧" << QString() << false;
    QTest::newRow("full-width digits") << "１９２.１６８.１.１" << QString() << false;
}

void TestSearchProtocol::ipv4Addresses()
{
    QFETCH(QString, text);
    QFETCH(QString, canonical);
    QFETCH(bool, device);
    QCOMPARE(Ipv4Address::isValid(text), !canonical.isEmpty());
    QCOMPARE(Ipv4Address::canonical(text), canonical);
    QCOMPARE(Ipv4Address::isCanonical(text), !canonical.isEmpty() && canonical == text);
    QCOMPARE(Ipv4Address::isDeviceAddress(text), device);
}

QTEST_GUILESS_MAIN(TestSearchProtocol)
#include "tst_searchprotocol.moc"
