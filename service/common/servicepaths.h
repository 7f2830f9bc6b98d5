#pragma once

#include <QString>

// Where the service and its callers meet: the private runtime folder with the control socket
// and the lock files, the state folder with the saved table, and the service's executable.
namespace ServicePaths {

// $XDG_RUNTIME_DIR, else /tmp/tirv-<uid> (created). Empty, with the reason in *error, unless
// the folder is a real directory owned by this user with mode 0700.
QString runtimeDirectory(QString *error);
QString socketPath(const QString &runtimeDirectory);
// Held by the running service for its whole life.
QString lockPath(const QString &runtimeDirectory);
// Held by a caller while it starts the service, so that concurrent callers start one.
QString startLockPath(const QString &runtimeDirectory);

// $XDG_STATE_HOME/tirv, else ~/.local/state/tirv (created, mode 0700).
QString stateDirectory();

// TIRV_SERVICE_EXEC, else tirv-service beside the running program, else from PATH.
QString serviceExecutable();

} // namespace ServicePaths
