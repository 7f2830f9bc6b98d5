#include "bridgesettings.h"

#include "servicekeys.h"

#include <QRegularExpression>

namespace {

// Device addresses are typed as four decimal groups, at times zero-padded ("010.000.000.001");
// the resolver would read such a group as octal (10 as 8) or refuse it ("08").
QString decimalAddress(const QString &name)
{
    static const QRegularExpression quad(
        QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    const QRegularExpressionMatch match = quad.match(name);
    if (!match.hasMatch())
        return name;
    QStringList groups;
    for (int i = 1; i <= 4; ++i) {
        const int value = match.capturedRef(i).toInt();
        if (value > 255)
            return name;
        groups.append(QString::number(value));
    }
    return groups.join(QLatin1Char('.'));
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
        bool ok = false;
        const uint port = host.portText.toString().toUInt(&ok);
        if (host.name.isEmpty() || !ok || port == 0 || port > 65535) {
            *reason = QStringLiteral("remote host \"%1:%2\" is not a host and TCP port")
                          .arg(host.name, host.portText.toString());
            return false;
        }
        host.port = quint16(port);
        host.dialName = decimalAddress(host.name);
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
