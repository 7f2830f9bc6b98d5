#pragma once

#include <QByteArray>
#include <QString>

// One simulated serial-device server, as given by a --device option.
struct SimulatedDevice
{
    QString ip = QStringLiteral("127.0.0.1"); // bound for replies and TCP
    QString reportedIp; // IP text in the text reply; ip when empty
    QString type = QStringLiteral("TIR-SIM");
    int ports = 4;
    QByteArray mac = QByteArray::fromHex("02AABBCCDD01");
    bool answersText = true; // the text request on 42356
    bool answersProbes = true; // the two probes on 1029
    // Replies to 255.255.255.255 instead of the asker, as a device set to another network does.
    bool repliesByBroadcast = false;
    // The ports speak Telnet with COM-PORT-OPTION instead of raw bytes.
    bool telnet = false;

    // Reads "ip=10.77.0.2,type=X,ports=8,mac=00:1A:2B:3C:4D:5E,answer=text|probes|both,
    // report=IP,reply=direct|broadcast,protocol=raw|rfc2217"; every key is optional. On a bad
    // description returns false with error set.
    static bool parse(const QString &description, SimulatedDevice *device, QString *error);
    // "raw" or "rfc2217"; false for anything else.
    static bool protocolFromName(const QString &name, bool *telnet);
};
