#include "portreport.h"

#include "servicekeys.h"
#include "serviceparams.h"

#include <QCoreApplication>
#include <QDateTime>

namespace {

using namespace ServiceKeys;

QString text(const char *source)
{
    return QCoreApplication::translate("RefreshTree", source);
}

} // namespace

bool PortReport::operator==(const PortReport &other) const
{
    return trouble == other.trouble && detail == other.detail && since == other.since
        && retry == other.retry && toDevice == other.toDevice && fromDevice == other.fromDevice
        && reconnects == other.reconnects && dropped == other.dropped
        && lastConnect == other.lastConnect;
}

PortReport PortReport::read(ConnectionHandle handle)
{
    PortReport report;
    const QVariantMap reason = readMapParam(handle, kReason);
    report.trouble = reason.value(kReasonCode).toString();
    report.detail = reason.value(kReasonText).toString();
    report.since = reason.value(kReasonSince).toLongLong();
    report.retry = reason.value(kReasonRetry).toLongLong();
    const QVariantMap counts = readMapParam(handle, kCounters);
    report.toDevice = counts.value(kCountToDevice).toLongLong();
    report.fromDevice = counts.value(kCountFromDevice).toLongLong();
    report.reconnects = counts.value(kCountReconnects).toLongLong();
    report.dropped = counts.value(kCountDropped).toLongLong();
    report.lastConnect = counts.value(kCountLastConnect).toLongLong();
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
