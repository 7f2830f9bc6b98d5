#pragma once

#include <QString>

// Connects a caller to the service, starting it when none runs. The start lock makes concurrent
// callers take turns, and the service lock (held by a running service for its whole life,
// released by the kernel when it dies) tells whether one runs: exactly one is started however
// many callers come at once, and a crashed one never blocks the next start.
namespace ServiceLauncher {

// A connected descriptor to the service's control socket, or -1. A service that holds its
// lock but does not listen yet (restoring its ports, started by the service manager) is waited
// for; none at all is started. One that speaks an older protocol (its lock tells) is stopped
// and a current one started; one that speaks a newer protocol is left running, and -1.
int connect(const QString &runtimeDirectory);

} // namespace ServiceLauncher
