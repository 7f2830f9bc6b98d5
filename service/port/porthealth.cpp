#include "porthealth.h"

#include "servicekeys.h"

#include <QDateTime>

namespace {

QString codeOf(PortHealth::Trouble kind)
{
    using Trouble = PortHealth::Trouble;
    switch (kind) {
    case Trouble::None:
        break;
    case Trouble::Port:
        return ServiceKeys::kTroublePort;
    case Trouble::Refused:
        return ServiceKeys::kTroubleRefused;
    case Trouble::Unreachable:
        return ServiceKeys::kTroubleUnreachable;
    case Trouble::Silent:
        return ServiceKeys::kTroubleSilent;
    case Trouble::Closed:
        return ServiceKeys::kTroubleClosed;
    case Trouble::Failed:
        return ServiceKeys::kTroubleFailed;
    }
    return QString();
}

} // namespace

void PortHealth::connected()
{
    if (everConnected && troubledSinceUp)
        ++reconnects;
    everConnected = true;
    troubledSinceUp = false;
    lastConnect = QDateTime::currentMSecsSinceEpoch();
    idle();
}

void PortHealth::troubled(Trouble kind, const QString &cause, int retryMs)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    ++tries;
    troubledSinceUp = true;
    retryAt = retryMs < 0 ? 0 : now + retryMs;
    if (kind == trouble && cause == text)
        return;
    if (kind != trouble)
        since = now;
    trouble = kind;
    text = cause;
    ++revision;
}

void PortHealth::idle()
{
    retryAt = 0;
    if (trouble == Trouble::None)
        return;
    trouble = Trouble::None;
    text.clear();
    ++revision;
}

QVariantMap PortHealth::reason() const
{
    if (trouble == Trouble::None)
        return {};
    // A try under way is no longer to come.
    const qint64 retry = retryAt > QDateTime::currentMSecsSinceEpoch() ? retryAt : 0;
    return reasonOf(trouble, text, since, retry);
}

QVariantMap PortHealth::counters() const
{
    using namespace ServiceKeys;
    return { { kCountToDevice, toDevice }, { kCountFromDevice, fromDevice },
        { kCountReconnects, qint64(reconnects) }, { kCountDropped, dropped },
        { kCountLastConnect, lastConnect } };
}

QVariantMap PortHealth::reasonOf(Trouble kind, const QString &cause, qint64 since, qint64 retry)
{
    using namespace ServiceKeys;
    QVariantMap reason { { kReasonCode, codeOf(kind) }, { kReasonText, cause },
        { kReasonSince, since } };
    if (retry > 0)
        reason.insert(kReasonRetry, retry);
    return reason;
}
