#include "servicepaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kExecutableName = QStringLiteral("tirv-service");

bool grantsOnly(mode_t mode, ServicePaths::FolderAccess access)
{
    if (access == ServicePaths::FolderAccess::OwnerOnly)
        return (mode & 07777) == 0700;
    return (mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString modeText(mode_t mode)
{
    return QStringLiteral("%1").arg(mode & 07777, 4, 8, QLatin1Char('0'));
}

} // namespace

namespace ServicePaths {

bool isPrivateFolder(const QString &path, FolderAccess access, QString *reason)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        *reason = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    return isPrivateFolder(info, path, access, reason);
}

bool isPrivateFolder(
    const struct stat &info, const QString &path, FolderAccess access, QString *reason)
{
    if (!S_ISDIR(info.st_mode)) {
        *reason = QStringLiteral("%1 is not a folder").arg(path);
        return false;
    }
    if (info.st_uid != ::getuid() || !grantsOnly(info.st_mode, access)) {
        const QString rule = access == FolderAccess::OwnerOnly
            ? QStringLiteral("with mode 0700")
            : QStringLiteral("that only it may write");
        *reason = QStringLiteral("%1 must belong to uid %2 %3 (it has uid %4, mode %5)")
                      .arg(path)
                      .arg(::getuid())
                      .arg(rule)
                      .arg(info.st_uid)
                      .arg(modeText(info.st_mode));
        return false;
    }
    return true;
}

bool isSafeParentFolder(const struct stat &info, const QString &path, QString *reason)
{
    const bool trustedOwner = info.st_uid == 0 || info.st_uid == ::getuid();
    const bool othersMayWrite = info.st_mode & (S_IWGRP | S_IWOTH);
    if (trustedOwner && (!othersMayWrite || (info.st_mode & S_ISVTX)))
        return true;
    *reason = QStringLiteral("%1 (uid %2, mode %3) lets another user replace what it holds")
                  .arg(path)
                  .arg(info.st_uid)
                  .arg(modeText(info.st_mode));
    return false;
}

QString userTempDirectory()
{
    return QStringLiteral("/tmp/tirv-%1").arg(::getuid());
}

QString runtimeDirectory(QString *error)
{
    QString path = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (path.isEmpty()) {
        path = userTempDirectory();
        // An existing folder is checked below, never trusted or changed.
        ::mkdir(QFile::encodeName(path).constData(), 0700);
    }
    return isPrivateFolder(path, FolderAccess::OwnerOnly, error) ? path : QString();
}

QString socketPath(const QString &runtimeDirectory)
{
    return runtimeDirectory + QStringLiteral("/tirv-service.sock");
}

QString lockPath(const QString &runtimeDirectory)
{
    return runtimeDirectory + QStringLiteral("/tirv-service.lock");
}

QString startLockPath(const QString &runtimeDirectory)
{
    return runtimeDirectory + QStringLiteral("/tirv-service.start");
}

QString stateDirectory()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    const QString path = base + QStringLiteral("/tirv");
    if (QDir().mkpath(path))
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QString serviceExecutable()
{
    const QString fromEnvironment = qEnvironmentVariable("TIRV_SERVICE_EXEC");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QString beside = QFileInfo(self).absolutePath() + QLatin1Char('/') + kExecutableName;
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(kExecutableName);
}

} // namespace ServicePaths
