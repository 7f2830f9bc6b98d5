#include "instanceguard.h"

#include <QDir>
#include <QMessageBox>
#include <QStandardPaths>

InstanceGuard::InstanceGuard(const QString &key)
    : path(lockDirectory() + QLatin1Char('/') + key + QStringLiteral(".lock"))
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

bool InstanceGuard::tryAcquire() { return lock.isLocked() || lock.tryLock(0); }

QString InstanceGuard::lockFilePath() const { return path; }

void InstanceGuard::showAlreadyRunning()
{
    QMessageBox::information(nullptr, QStringLiteral("Warning"), QStringLiteral("Application is already running!"));
}
