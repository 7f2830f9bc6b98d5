#include "portdirectory.h"

#include "servicepaths.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

QString portDirectory()
{
    QString dir = qEnvironmentVariable("TIRV_PORT_DIR");
    if (dir.isEmpty()) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        dir = runtime.isEmpty() ? ServicePaths::userTempDirectory()
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
    if (ServicePaths::isPrivateFolder(dir, ServicePaths::FolderAccess::OthersRead, reason))
        return true;
    reason->prepend(QStringLiteral("port directory "));
    return false;
}
