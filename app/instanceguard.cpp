#include "instanceguard.h"

#include <QDebug>
#include <QDir>
#include <QMessageBox>
#include <QStandardPaths>

InstanceGuard::InstanceGuard(const QString &key, const QString &directory)
    : path(directory + QLatin1Char('/') + key + QStringLiteral(".lock"))
    , lock(path)
{
    // Only a dead holder makes the lock stale, never its age.
    lock.setStaleLockTime(0);
}

QString InstanceGuard::lockDirectory()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

bool InstanceGuard::tryAcquire()
{
    if (lock.isLocked() || lock.tryLock(0))
        return true;
    if (lock.error() == QLockFile::LockFailedError)
        return false;
    qDebug() << "Instance lock" << path << "unavailable, error" << lock.error()
             << "- running anyway";
    return true;
}

QString InstanceGuard::lockFilePath() const
{
    return path;
}

void InstanceGuard::showAlreadyRunning()
{
    QMessageBox::information(
        nullptr, QStringLiteral("Warning"), QStringLiteral("Application is already running!"));
}
