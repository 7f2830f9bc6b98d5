#include "searchprotocol.h"
#include "searchresults.h"

#include <QtTest>

using namespace SearchProtocol;

// The rows tirvctl search prints, built from the replies as the search dialog builds them.
class TstSearchResults : public QObject
{
    Q_OBJECT

private slots:
    void rows_data();
    void rows();
};

namespace {
const QByteArray macA = QByteArray::fromHex("001A2B3C4D5E");
const QByteArray macB = QByteArray::fromHex("001A2B3C9F01");
const QString senderIp = QStringLiteral("192.168.1.10");
}

void TstSearchResults::rows_data()
{
    QTest::addColumn<QList<QByteArray>>("datagrams");
    QTest::addColumn<QStringList>("rows");

    const QByteArray vcomA = vcomAck("4", "TIR-4", macA, "192.168.1.10");
    const QByteArray ack1A = mcpAck1(macA);
    const QByteArray ack2A = mcpAck2(macA, 8, "  MCP-8  ", "192.168.1.10");
    QTest::newRow("text reply") << QList<QByteArray> { vcomA }
                                << QStringList { "TIR-4|4|00:1A:2B:3C:4D:5E|192.168.1.10" };
    QTest::newRow("first probe reply: sender, no type yet")
        << QList<QByteArray> { ack1A } << QStringList { "||00:1A:2B:3C:4D:5E|192.168.1.10" };
    QTest::newRow("second probe reply completes") << QList<QByteArray> { ack1A,
        ack2A } << QStringList { "MCP-8|8|00:1A:2B:3C:4D:5E|192.168.1.10" };
    QTest::newRow("second probe reply first changes nothing")
        << QList<QByteArray> { ack2A, ack1A } << QStringList { "||00:1A:2B:3C:4D:5E|192.168.1.10" };
    QTest::newRow("same MAC of either kind adds nothing") << QList<QByteArray> { vcomA, ack1A,
        vcomA } << QStringList { "TIR-4|4|00:1A:2B:3C:4D:5E|192.168.1.10" };
    QTest::newRow("other IP not completed")
        << QList<QByteArray> { ack1A, mcpAck2(macA, 8, "MCP-8", "192.168.1.11") }
        << QStringList { "||00:1A:2B:3C:4D:5E|192.168.1.10" };
    QTest::newRow("two devices in arrival order")
        << QList<QByteArray> { vcomAck("2", "TIR-2", macB, "10.0.0.7"), vcomA }
        << QStringList { "TIR-2|2|00:1A:2B:3C:9F:01|10.0.0.7",
               "TIR-4|4|00:1A:2B:3C:4D:5E|192.168.1.10" };
    QTest::newRow("own probe and odd lengths dropped") << QList<QByteArray> { probeA(),
        QByteArray(143, 'x'), QByteArray(25, 'x') } << QStringList {};
    QTest::newRow("broadcast address not offered")
        << QList<QByteArray> { vcomAck("4", "TIR-4", macB, "255.255.255.255") } << QStringList {};
}

void TstSearchResults::rows()
{
    QFETCH(QList<QByteArray>, datagrams);
    QFETCH(QStringList, rows);
    SearchResults results;
    for (const QByteArray &datagram : datagrams)
        results.add(decodeReply(datagram, senderIp));
    QStringList found;
    for (const SearchRow &row : results.rows())
        found.append(QStringList { row.devType, row.portCount, row.mac, row.ip }.join('|'));
    QCOMPARE(found, rows);
}

QTEST_GUILESS_MAIN(TstSearchResults)
#include "tst_searchresults.moc"
