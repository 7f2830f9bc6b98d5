#include "servicepaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kExecutableName = QStringLiteral("tirv-service");

bool isPrivateDirectory(const QString &path, QString *error)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        *error = QStringLiteral("%1 is not a directory").arg(path);
        return false;
    }
    if (info.st_uid != ::getuid() || (info.st_mode & 07777) != 0700) {
        *error = QStringLiteral("%1 must belong to uid %2 with mode 0700 (it has uid %3, mode %4)")
                     .arg(path)
                     .arg(::getuid())
                     .arg(info.st_uid)
                     .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
        return false;
    }
    return true;
}

} // namespace

namespace ServicePaths {

QString runtimeDirectory(QString *error)
{
    QString path = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (path.isEmpty()) {
        path = QStringLiteral("/tmp/tirv-%1").arg(::getuid());
        // An existing folder is checked below, never trusted or changed.
        ::mkdir(QFile::encodeName(path).constData(), 0700);
    }
    return isPrivateDirectory(path, error) ? path : QString();
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
