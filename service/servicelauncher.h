#pragma once

#include <QString>

// Starts the service for a caller that found none listening. The start lock makes concurrent
// callers take turns, and the service lock (held by a running service for its whole life,
// released by the kernel when it dies) tells whether one runs: exactly one is started however
// many callers come at once, and a crashed one never blocks the next start.
namespace ServiceLauncher {

// True when a service runs or was started and said it is ready.
bool start(const QString &runtimeDirectory);

} // namespace ServiceLauncher
