#include "simulateddevice.h"

#include "searchprotocol.h"

#include <QHostAddress>
#include <QStringList>

namespace {

bool setAnswer(const QString &value, SimulatedDevice *device)
{
    device->answersText = value == QLatin1String("text") || value == QLatin1String("both");
    device->answersProbes = value == QLatin1String("probes") || value == QLatin1String("both");
    return device->answersText || device->answersProbes;
}

bool setField(const QString &key, const QString &value, SimulatedDevice *device)
{
    bool ok = true;
    if (key == QLatin1String("ip")) {
        device->ip = value;
        ok = QHostAddress(value).protocol() == QAbstractSocket::IPv4Protocol;
    } else if (key == QLatin1String("report")) {
        device->reportedIp = value;
    } else if (key == QLatin1String("type")) {
        device->type = value;
    } else if (key == QLatin1String("ports")) {
        device->ports = value.toInt(&ok);
        ok = ok && device->ports >= 0 && device->ports <= 255;
    } else if (key == QLatin1String("mac")) {
        device->mac = SearchProtocol::macBytes(value);
        ok = !device->mac.isEmpty();
    } else if (key == QLatin1String("answer")) {
        ok = setAnswer(value, device);
    } else if (key == QLatin1String("reply")) {
        device->repliesByBroadcast = value == QLatin1String("broadcast");
        ok = device->repliesByBroadcast || value == QLatin1String("direct");
    } else if (key == QLatin1String("protocol")) {
        ok = SimulatedDevice::protocolFromName(value, &device->telnet);
    } else {
        ok = false;
    }
    return ok;
}

} // namespace

bool SimulatedDevice::protocolFromName(const QString &name, bool *telnet)
{
    *telnet = name == QLatin1String("rfc2217");
    return *telnet || name == QLatin1String("raw");
}

bool SimulatedDevice::parse(const QString &description, SimulatedDevice *device, QString *error)
{
    const QStringList fields = description.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &field : fields) {
        const QString key = field.section(QLatin1Char('='), 0, 0).trimmed();
        const QString value = field.section(QLatin1Char('='), 1).trimmed();
        if (!setField(key, value, device)) {
            *error = QStringLiteral("bad device field \"%1\"").arg(field);
            return false;
        }
    }
    return true;
}
