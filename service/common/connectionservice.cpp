#include "connectionservice.h"

namespace {

// Each thread reads back the reason of its own calls.
thread_local QString lastFailure;

} // namespace

QString ConnectionService::failureReason()
{
    return lastFailure;
}

void ConnectionService::setFailureReason(const QString &reason)
{
    lastFailure = reason;
}

bool ConnectionService::fail(const QString &reason)
{
    lastFailure = reason;
    return false;
}
