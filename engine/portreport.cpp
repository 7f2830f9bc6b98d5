#include "portreport.h"

#include "servicekeys.h"

#include <QCoreApplication>
#include <QDateTime>

namespace {

using namespace ServiceKeys;

QString text(const char *source)
{
    return QCoreApplication::translate("RefreshTree", source);
}

QVariantMap mapParam(ConnectionHandle handle, const QString &key)
{
    QVariant value;
    return sec_GetParam(handle, key, &value) ? value.toMap() : QVariantMap();
}

} // namespace

bool PortReport::operator==(const PortReport &other) const
{
    return trouble == other.trouble && detail == other.detail && since == other.since
        && retry == other.retry && toDevice == other.toDevice && fromDevice == other.fromDevice
        && reconnects == other.reconnects && dropped == other.dropped
        && lastConnect == other.lastConnect;
}

// One pass over each map, not a lookup per field: the worker reads every port at every listing.
PortReport PortReport::read(ConnectionHandle handle)
{
    PortReport report;
    const QVariantMap reason = mapParam(handle, kReason);
    for (auto it = reason.cbegin(); it != reason.cend(); ++it) {
        if (it.key() == kReasonCode)
            report.trouble = it->toString();
        else if (it.key() == kReasonText)
            report.detail = it->toString();
        else if (it.key() == kReasonSince)
            report.since = it->toLongLong();
        else if (it.key() == kReasonRetry)
            report.retry = it->toLongLong();
    }
    const std::pair<const QString &, qint64 *> counters[] = { { kCountToDevice, &report.toDevice },
        { kCountFromDevice, &report.fromDevice }, { kCountReconnects, &report.reconnects },
        { kCountDropped, &report.dropped }, { kCountLastConnect, &report.lastConnect } };
    const QVariantMap counts = mapParam(handle, kCounters);
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        for (const auto &[key, target] : counters) {
            if (it.key() == key)
                *target = it->toLongLong();
        }
    }
    return report;
}

QString PortReport::reasonText() const
{
    if (isFine())
        return QString();
    if (since == 0)
        return troubleText();
    if (retry == 0)
        return text("%1（自 %2 起）").arg(troubleText(), timeText(since));
    return text("%1（自 %2 起，%3 重试）").arg(troubleText(), timeText(since), timeText(retry));
}

QString PortReport::troubleText() const
{
    if (trouble == kTroubleRefused)
        return text("设备拒绝连接");
    if (trouble == kTroubleUnreachable)
        return text("设备不可达");
    if (trouble == kTroubleSilent)
        return text("设备无应答");
    if (trouble == kTroubleClosed)
        return text("设备断开了连接");
    if (trouble == kTroublePort)
        return text("无法创建串口：%1").arg(detail);
    // Any other failure, or one a newer service names: its own words.
    return text("连接失败：%1").arg(detail);
}

QString PortReport::timeText(qint64 msecsSinceEpoch)
{
    if (msecsSinceEpoch == 0)
        return QString();
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch);
    if (time.date() == QDate::currentDate())
        return time.toString(QStringLiteral("HH:mm:ss"));
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
