#include "framereader.h"
#include "serviceprotocol.h"

#include <QtEndian>
#include <QtTest>

using ServiceProtocol::Reply;
using ServiceProtocol::Request;

namespace {

const QVariantList kHosts { QVariant(
    QVariantList { QStringLiteral("10.0.0.7"), QStringLiteral("966") }) };

QByteArray payloadOf(const QByteArray &frame)
{
    return frame.mid(ServiceProtocol::kHeaderSize);
}

QByteArray u32(quint32 value)
{
    char raw[4];
    qToBigEndian(value, raw);
    return QByteArray(raw, 4);
}

} // namespace

class TestServiceProtocol : public QObject
{
    Q_OBJECT

private slots:
    void requestRoundTrip_data();
    void requestRoundTrip();
    void replyRoundTrip();
    void truncatedPayloadRefused();
    void hostilePayloadRefused_data();
    void hostilePayloadRefused();
    void framesSplitAnywhere();
    void oversizedLengthRefusedFromHeader();
};

void TestServiceProtocol::requestRoundTrip_data()
{
    QTest::addColumn<int>("call");
    QTest::addColumn<int>("handle");
    QTest::addColumn<QVariant>("first");
    QTest::addColumn<QVariant>("second");
    QTest::newRow("connect") << int(ConnectionService::ConnectService) << -1
                             << QVariant(QStringLiteral(".")) << QVariant();
    QTest::newRow("create") << int(ConnectionService::CreateConnection) << -1 << QVariant(1)
                            << QVariant();
    QTest::newRow("set text") << int(ConnectionService::SetParam) << 7
                              << QVariant(QStringLiteral("name"))
                              << QVariant(QStringLiteral("TIR@10.0.0.7@型号@4@1@null"));
    QTest::newRow("set hosts") << int(ConnectionService::SetParam) << 7
                               << QVariant(QStringLiteral("network.host")) << QVariant(kHosts);
    QTest::newRow("set negative") << int(ConnectionService::SetParam) << 7
                                  << QVariant(QStringLiteral("port.sendmode.param"))
                                  << QVariant(-5);
    // Counters and times pass an int; what fits one comes back as one.
    QTest::newRow("beyond int") << int(ConnectionService::GetParam) << 1
                                << QVariant(qint64(1) << 40) << QVariant(-(qint64(1) << 40));
    QTest::newRow("least 64-bit") << int(ConnectionService::GetParam) << 1
                                  << QVariant(std::numeric_limits<qint64>::min())
                                  << QVariant(std::numeric_limits<qint64>::max());
    QTest::newRow("empty text") << int(ConnectionService::GetParam) << 2147483647
                                << QVariant(QString()) << QVariant();
    QTest::newRow("apply") << int(ConnectionService::ApplyConnection) << 3 << QVariant()
                           << QVariant();
}

void TestServiceProtocol::requestRoundTrip()
{
    QFETCH(int, call);
    QFETCH(int, handle);
    QFETCH(QVariant, first);
    QFETCH(QVariant, second);
    Request sent { ConnectionService::Call(call), handle, first, second };
    if (ConnectionService::isChange(sent.call))
        sent.callId = QStringLiteral("9f86d081884c7d65-9a2feaa0c55ad015");
    Request received;
    QVERIFY(
        ServiceProtocol::decodeRequest(payloadOf(ServiceProtocol::encodeRequest(sent)), &received));
    QCOMPARE(int(received.call), call);
    QCOMPARE(received.handle, handle);
    QCOMPARE(received.first, first);
    QCOMPARE(received.first.userType(), first.userType());
    QCOMPARE(received.second, second);
    QCOMPARE(received.callId, sent.callId);
}

void TestServiceProtocol::replyRoundTrip()
{
    const QVariantMap keys { { QStringLiteral("port.name"), QStringLiteral("COM3") },
        { QStringLiteral("status.port.state"), 2 }, { QStringLiteral("network.host"), kHosts } };
    const QVariantMap status { { QStringLiteral("portDirectory"), QStringLiteral("/run/tirv") } };
    const Reply sent { 1, QVariantList { 1, 4 }, QVariantList { keys, QVariantMap() }, { 7, 9 },
        status, QStringLiteral("COM3: “设备” refused") };
    Reply received;
    QVERIFY(ServiceProtocol::decodeReply(payloadOf(ServiceProtocol::encodeReply(sent)), &received));
    QCOMPARE(received.result, 1);
    QCOMPARE(received.value, sent.value);
    QCOMPARE(received.snapshot, sent.snapshot);
    QCOMPARE(received.stamp.revision, 7u);
    QCOMPARE(received.stamp.status, 9u);
    QCOMPARE(received.serviceStatus, status);
    QCOMPARE(received.reason, sent.reason);
}

// Every cut of a valid payload is refused, never read past its end.
void TestServiceProtocol::truncatedPayloadRefused()
{
    const Request request { ConnectionService::SetParam, 9, QStringLiteral("network.host"),
        kHosts };
    const QByteArray payload = payloadOf(ServiceProtocol::encodeRequest(request));
    Request decoded;
    for (int size = 0; size < payload.size(); ++size)
        QVERIFY2(!ServiceProtocol::decodeRequest(payload.left(size), &decoded),
            qPrintable(QString::number(size)));
    QVERIFY(!ServiceProtocol::decodeRequest(payload + '\0', &decoded)); // bytes left over
}

void TestServiceProtocol::hostilePayloadRefused_data()
{
    QTest::addColumn<QByteArray>("payload");
    // A GetParam request of handle 1: an array of five fields, the two arguments given here.
    const auto request = [](const char *arguments) {
        return QByteArray::fromHex(QByteArray("850501") + arguments + "f6");
    };
    QTest::newRow("not an array") << QByteArray::fromHex("f6");
    QTest::newRow("six fields") << QByteArray::fromHex("860501f6f6f6f6");
    QTest::newRow("unknown call") << QByteArray::fromHex("85182a01f6f6f6");
    QTest::newRow("negative call") << QByteArray::fromHex("852001f6f6f6");
    QTest::newRow("handle beyond 32 bits") << QByteArray::fromHex("85051b0000000100000000f6f6f6");
    QTest::newRow("call id not text") << QByteArray::fromHex("850501f6f601");
    QTest::newRow("call id too long")
        << QByteArray::fromHex("850501f6f67841" + QByteArray("61").repeated(65));
    QTest::newRow("float") << request("fb3ff0000000000000f6");
    QTest::newRow("beyond 64 bits") << request("3bfffffffffffffffff6");
    QTest::newRow("unsigned beyond 63 bits") << request("1b8000000000000000f6");
    QTest::newRow("bytes") << request("4161f6");
    QTest::newRow("map key not text") << request("a10101f6");
    QTest::newRow("list of unknown length") << request("9ff6fff6");
    // Lengths and counts that claim far more than the payload holds must not be allocated.
    QTest::newRow("huge text") << request("7afffffffff6");
    QTest::newRow("huge list") << request("9a7ffffffff6");
    QTest::newRow("huge map") << request("ba10000000f6");
    QTest::newRow("deep nesting") << request(QByteArray("81").repeated(64) + "f6f6");
    // Tiny items fit a small payload by the thousand; a request is not allowed that many.
    QTest::newRow("too many values")
        << request("991000" + QByteArray("f6").repeated(ServiceProtocol::kMaxRequestValues) + "f6");
}

void TestServiceProtocol::hostilePayloadRefused()
{
    QFETCH(QByteArray, payload);
    Request request;
    QVERIFY(ServiceProtocol::decodeRequest(QByteArray::fromHex("850501f6f6f6"), &request));
    QVERIFY(!ServiceProtocol::decodeRequest(payload, &request));
}

void TestServiceProtocol::framesSplitAnywhere()
{
    const QByteArray stream
        = ServiceProtocol::encodeRequest({ ConnectionService::CreateConnection, -1, 1, {} })
        + ServiceProtocol::encodeRequest({ ConnectionService::DeleteConnection, 5, {}, {} });
    FrameReader reader;
    QList<QByteArray> frames;
    QByteArray payload;
    for (char byte : stream) {
        reader.append(&byte, 1);
        while (reader.next(&payload) == FrameReader::Complete)
            frames.append(payload);
    }
    QCOMPARE(frames.size(), 2);
    Request second;
    QVERIFY(ServiceProtocol::decodeRequest(frames.at(1), &second));
    QCOMPARE(second.call, ConnectionService::DeleteConnection);
    QCOMPARE(second.handle, 5);
}

void TestServiceProtocol::oversizedLengthRefusedFromHeader()
{
    FrameReader reader(1024);
    const QByteArray header = u32(1025);
    reader.append(header.constData(), 3);
    QByteArray payload;
    QCOMPARE(reader.next(&payload), FrameReader::Incomplete);
    reader.append(header.constData() + 3, 1);
    QCOMPARE(reader.next(&payload), FrameReader::TooLarge);
    QCOMPARE(reader.refusedSize(), 1025u);
}

QTEST_GUILESS_MAIN(TestServiceProtocol)
#include "tst_serviceprotocol.moc"
