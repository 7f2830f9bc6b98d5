#include "portdirectory.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

QString portDirectory()
{
    QString dir = qEnvironmentVariable("TIRV_PORT_DIR");
    if (dir.isEmpty()) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        dir = runtime.isEmpty() ? QStringLiteral("/tmp/tirv-%1").arg(getuid())
                                : runtime + QStringLiteral("/tirv");
    }
    dir = QDir::cleanPath(dir);
    const QByteArray path = QFile::encodeName(dir);
    // Missing parents of an overriding path are made private too.
    for (int slash = path.indexOf('/', 1); slash != -1; slash = path.indexOf('/', slash + 1))
        mkdir(path.left(slash).constData(), 0700);
    mkdir(path.constData(), 0700);
    return dir;
}

bool isSafePortDirectory(const QString &dir, QString *reason)
{
    struct stat st;
    if (lstat(QFile::encodeName(dir).constData(), &st) != 0) {
        *reason = QStringLiteral("port directory %1 cannot be made").arg(dir);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        *reason = QStringLiteral("port directory %1 is not a private folder of this user").arg(dir);
        return false;
    }
    return true;
}
