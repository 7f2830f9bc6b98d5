#include "portsettings.h"

bool PortSettings::isUsableComName(const QString &comName)
{
    return !comName.isEmpty() && !comName.startsWith(QLatin1Char('.'))
        && !comName.contains(QLatin1Char('/')) && !comName.contains(QChar(0));
}

bool PortSettings::fromParams(const QVariantMap &params, PortSettings *settings, QString *reason)
{
    settings->comName = params.value(QStringLiteral("port.name")).toString();
    if (!isUsableComName(settings->comName)) {
        *reason = QStringLiteral("\"%1\" cannot name a port file").arg(settings->comName);
        return false;
    }
    const QVariantList entries = params.value(QStringLiteral("network.host")).toList();
    for (const QVariant &entry : entries) {
        const QVariantList fields = entry.toList();
        Host host { fields.value(0).toString(), fields.value(1), 0 };
        bool ok = false;
        const uint port = host.portText.toString().toUInt(&ok);
        if (host.name.isEmpty() || !ok || port == 0 || port > 65535) {
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
    const bool packing = params.value(QStringLiteral("port.sendmode.mode")).toInt() == 2;
    settings->packIdleMs
        = packing ? qMax(0, params.value(QStringLiteral("port.sendmode.param")).toInt()) : 0;
    settings->connectWhileOpen
        = params.value(QStringLiteral("protocol.portopencondition.enable")).toInt() == 1;
    return true;
}
