// The control socket's codec on the listing the window asks for ten times a second: median
// time to encode and to decode the reply for 255 ports, with every key (after a change) and
// with the status keys alone (idle), and the frame sizes. Run by hand: bench_codec [rounds]
#include "servicekeys.h"
#include "serviceprotocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

using namespace ServiceKeys;

QVariantMap portKeys(int i, bool statusOnly)
{
    const QString ip = QStringLiteral("192.168.1.%1").arg(10 + i / 16);
    const QVariantList hosts { QVariant(QVariantList { ip, QString::number(966 + 2 * (i % 16)) }) };
    QVariantMap keys {
        { kPortState, 1 },
        { kRemoteHost, QVariantList { QVariant(hosts.first().toList() + QVariantList { "0" }) } },
        { kReason, QVariantMap() },
        // A port that has carried something: a time and counts beyond an int.
        { kCounters,
            QVariantMap { { kCountToDevice, qint64(3) << 31 }, { kCountFromDevice, 123456 },
                { kCountReconnects, 2 }, { kCountDropped, 0 },
                { kCountLastConnect, qint64(1796000000000) } } },
    };
    if (statusOnly)
        return keys;
    keys.insert(
        kName, QStringLiteral("TIR@%1@16Ports@16@%2@00:11:22:33:44:55").arg(ip).arg(i % 16 + 1));
    keys.insert(kPortName, QStringLiteral("COM%1").arg(i + 3));
    keys.insert(kPortType, QStringLiteral("Virtual"));
    keys.insert(kNetworkHost, hosts);
    keys.insert(kProtocolType, QStringLiteral("RAW"));
    keys.insert(kSendMode, 2);
    keys.insert(kSendModeParam, 1);
    keys.insert(kOpenCondition, 1);
    return keys;
}

ServiceProtocol::Reply listing(int ports, bool statusOnly)
{
    ServiceProtocol::Reply reply;
    reply.result = 1;
    QVariantList handles;
    for (int i = 0; i < ports; ++i) {
        handles.append(i + 1);
        reply.snapshot.append(portKeys(i, statusOnly));
    }
    reply.value = handles;
    reply.stamp = { 7, 9 };
    reply.serviceStatus = { { kPortDirectory, QStringLiteral("/run/user/1000/tirv") } };
    return reply;
}

double medianMicroseconds(int rounds, const std::function<void()> &work)
{
    QVector<qint64> times;
    QElapsedTimer clock;
    for (int round = 0; round < rounds; ++round) {
        clock.start();
        work();
        times.append(clock.nsecsElapsed());
    }
    std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
    return times.at(rounds / 2) / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 201;
    printf("255 ports        bytes  encode (us)  decode (us)  [median of %d]\n", rounds);
    for (bool statusOnly : { false, true }) {
        const ServiceProtocol::Reply reply = listing(255, statusOnly);
        const QByteArray frame = ServiceProtocol::encodeReply(reply);
        const QByteArray payload = frame.mid(ServiceProtocol::kHeaderSize);
        const double encode
            = medianMicroseconds(rounds, [&] { ServiceProtocol::encodeReply(reply); });
        ServiceProtocol::Reply decoded;
        bool ok = true;
        const double decode = medianMicroseconds(
            rounds, [&] { ok = ServiceProtocol::decodeReply(payload, &decoded) && ok; });
        printf("%-14s %7d  %11.1f  %11.1f%s\n", statusOnly ? "status only" : "every key",
            int(frame.size()), encode, decode, ok ? "" : "  (DECODE FAILED)");
    }
    return 0;
}
