#pragma once

#include <QString>

struct stat;

// Where the service and its callers meet: the private runtime folder with the control socket
// and the lock files, the state folder with the saved table, and the service's executable.
namespace ServicePaths {

// Who besides the owner may use a folder of this user's.
enum class FolderAccess {
    OwnerOnly, // mode 0700: the runtime folder, with the control socket and the locks
    OthersRead, // others may look but not write: the port directory, whose links they open
};

// True when path is a real folder, not a link, of this user that grants others no more than
// `access`; otherwise false with the reason. What lies in a folder others may write could be
// swapped behind our back.
bool isPrivateFolder(const QString &path, FolderAccess access, QString *reason);
// The same rule for a folder already looked at (or opened), described by info.
bool isPrivateFolder(
    const struct stat &info, const QString &path, FolderAccess access, QString *reason);
// True when info describes a folder that may hold a private one: of root or this user, and
// writable by others only when sticky (like /tmp), so that nobody else can move what it holds.
bool isSafeParentFolder(const struct stat &info, const QString &path, QString *reason);

// /tmp/tirv-<uid>: the runtime folder, and the port directory, without XDG_RUNTIME_DIR.
QString userTempDirectory();

// $XDG_RUNTIME_DIR, else userTempDirectory() (created). Empty, with the reason in *error,
// unless the folder is private to this user (FolderAccess::OwnerOnly).
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
