#include "portconfig.h"

#include "servicekeys.h"
#include "serviceparams.h"

namespace {

using namespace ServiceKeys;

QVariant paramOf(ConnectionHandle handle, const QString &key, QMetaType::Type type)
{
    QVariant value;
    if (!sec_GetParam(handle, key, &value) || value.userType() != type)
        return QVariant();
    return value;
}

} // namespace

bool PortConfig::operator==(const PortConfig &other) const
{
    return protocol == other.protocol && dataBits == other.dataBits && parity == other.parity
        && sendMode == other.sendMode && sendDelay == other.sendDelay
        && connectOnOpen == other.connectOnOpen;
}

bool PortConfig::isRfc2217() const
{
    return protocol == kProtocolRfc2217;
}

PortConfig PortConfig::read(ConnectionHandle handle)
{
    PortConfig config;
    const auto text = [handle](const QString &key, QString *target) {
        const QVariant value = paramOf(handle, key, QMetaType::QString);
        if (value.isValid())
            *target = value.toString();
    };
    const auto number = [handle](const QString &key, int *target) {
        const QVariant value = paramOf(handle, key, QMetaType::Int);
        if (value.isValid())
            *target = value.toInt();
    };
    text(kProtocolType, &config.protocol);
    number(kDataBits, &config.dataBits);
    text(kParity, &config.parity);
    number(kSendMode, &config.sendMode);
    number(kSendModeParam, &config.sendDelay);
    int openCondition = 0;
    number(kOpenCondition, &openCondition);
    config.connectOnOpen = openCondition == 1;
    return config;
}

bool PortConfig::write(ConnectionHandle handle) const
{
    return writeParam(handle, kProtocolType, protocol) && writeParam(handle, kDataBits, dataBits)
        && writeParam(handle, kParity, parity) && writeParam(handle, kSendMode, sendMode)
        && writeParam(handle, kSendModeParam, sendDelay)
        && writeParam(handle, kOpenCondition, connectOnOpen ? 1 : 0) && sec_ApplyConnection(handle);
}

QStringList PortConfig::parityNames()
{
    return { QStringLiteral("none"), QStringLiteral("odd"), QStringLiteral("even"),
        QStringLiteral("mark"), QStringLiteral("space") };
}
