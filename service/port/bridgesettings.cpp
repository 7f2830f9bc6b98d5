#include "bridgesettings.h"

#include "ipv4address.h"
#include "servicekeys.h"

#include <algorithm>

namespace {

// What to connect to for a host as typed; empty for none. An address is dialled as Ipv4Address
// spells it: the resolver would read a zero-padded group as octal ("010" as 8) or refuse it
// ("08"). Other digits and dots name no host (no top-level domain is all digits), and the
// resolver would read them in those ways too.
QString dialNameOf(const QString &name)
{
    if (Ipv4Address::isValid(name))
        return Ipv4Address::canonical(name);
    const bool numeric = std::all_of(name.cbegin(), name.cend(), [](QChar c) {
        return c == QLatin1Char('.') || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
    });
    return numeric ? QString() : name;
}

} // namespace

bool BridgeSettings::isUsableComName(const QString &comName)
{
    return !comName.isEmpty() && !comName.startsWith(QLatin1Char('.'))
        && !comName.contains(QLatin1Char('/')) && !comName.contains(QChar(0));
}

bool BridgeSettings::isCompatible(const BridgeSettings &other) const
{
    if (hosts.size() != other.hosts.size())
        return false;
    for (int i = 0; i < hosts.size(); ++i) {
        if (hosts.at(i).dialName != other.hosts.at(i).dialName
            || hosts.at(i).port != other.hosts.at(i).port)
            return false;
    }
    return packIdleMs == other.packIdleMs && connectWhileOpen == other.connectWhileOpen
        && rfc2217 == other.rfc2217;
}

bool BridgeSettings::fromParams(
    const QVariantMap &params, BridgeSettings *settings, QString *reason)
{
    settings->comName = params.value(ServiceKeys::kPortName).toString();
    if (!isUsableComName(settings->comName)) {
        *reason = QStringLiteral("\"%1\" cannot name a port file").arg(settings->comName);
        return false;
    }
    const QVariantList entries = params.value(ServiceKeys::kNetworkHost).toList();
    for (const QVariant &entry : entries) {
        const QVariantList fields = entry.toList();
        Host host { fields.value(0).toString(), fields.value(1), 0, QString() };
        host.dialName = dialNameOf(host.name);
        bool ok = false;
        const uint port = host.portText.toString().toUInt(&ok);
        if (host.dialName.isEmpty() || !ok || port == 0 || port > 65535) {
            *reason = QStringLiteral("remote host \"%1:%2\" is not a host and TCP port")
                          .arg(host.name, host.portText.toString());
            return false;
        }
        host.port = quint16(port);
        settings->hosts.append(host);
    }
    if (settings->hosts.isEmpty()) {
        *reason = QStringLiteral("no remote host configured");
        return false;
    }
    const bool packing = params.value(ServiceKeys::kSendMode).toInt() == 2;
    settings->packIdleMs = packing ? qMax(0, params.value(ServiceKeys::kSendModeParam).toInt()) : 0;
    settings->connectWhileOpen = params.value(ServiceKeys::kOpenCondition).toInt() == 1;
    settings->rfc2217 = params.value(ServiceKeys::kProtocolType) == ServiceKeys::kProtocolRfc2217;
    settings->dataBits = quint8(params.value(ServiceKeys::kDataBits, 8).toInt());
    LineSettings::parityFromName(params.value(ServiceKeys::kParity).toString(), &settings->parity);
    return true;
}
