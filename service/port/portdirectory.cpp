#include "portdirectory.h"

#include "servicepaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The folder with the links among the existing folders above it resolved, so that each folder
// on the way is looked at as it really is; what does not exist yet is kept as written.
QString resolvedParents(const QString &path)
{
    QString rest = QFileInfo(path).fileName();
    for (QString above = QFileInfo(path).path(); above != QLatin1String("/");
         above = QFileInfo(above).path()) {
        const QString real = QFileInfo(above).canonicalFilePath();
        if (!real.isEmpty())
            return QDir::cleanPath(real + QLatin1Char('/') + rest);
        rest.prepend(QFileInfo(above).fileName() + QLatin1Char('/'));
    }
    return QLatin1Char('/') + rest;
}

} // namespace

QString PortDirectory::defaultPath()
{
    QString dir = qEnvironmentVariable("TIRV_PORT_DIR");
    if (dir.isEmpty()) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        dir = runtime.isEmpty() ? ServicePaths::userTempDirectory()
                                : runtime + QStringLiteral("/tirv");
    }
    return QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
}

PortDirectory::PortDirectory()
    : folder(defaultPath())
{
}

PortDirectory::~PortDirectory()
{
    if (fd >= 0)
        ::close(fd);
}

// From / down, one folder at a time and never through a link, each checked once it is open.
bool PortDirectory::open(QString *reason)
{
    if (fd >= 0)
        return true;
    const QStringList names = resolvedParents(folder).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    int current = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool opened = openStep(&current, QString(), QStringLiteral("/"), names.isEmpty(), reason);
    QString path;
    for (int i = 0; opened && i < names.size(); ++i) {
        path += QLatin1Char('/') + names.at(i);
        opened = openStep(&current, names.at(i), path, i == names.size() - 1, reason);
    }
    if (!opened) {
        reason->prepend(QStringLiteral("port directory %1: ").arg(folder));
        return false;
    }
    fd = current;
    return true;
}

// Replaces *current, a folder already open, by its entry name (made when missing), or closes it
// and says why not.
bool PortDirectory::openStep(
    int *current, const QString &name, const QString &path, bool last, QString *reason) const
{
    int next = *current;
    if (!name.isEmpty()) {
        const QByteArray entry = QFile::encodeName(name);
        constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        next = ::openat(*current, entry.constData(), flags);
        if (next < 0 && errno == ENOENT && ::mkdirat(*current, entry.constData(), 0700) == 0)
            next = ::openat(*current, entry.constData(), flags);
        ::close(*current);
    }
    *current = -1;
    struct stat info;
    if (next < 0 || ::fstat(next, &info) != 0) {
        *reason = errno == ELOOP || errno == ENOTDIR
            ? QStringLiteral("%1 is not a folder").arg(path)
            : QStringLiteral("%1: %2").arg(path, qt_error_string(errno));
        if (next >= 0)
            ::close(next);
        return false;
    }
    const bool safe = last
        ? ServicePaths::isPrivateFolder(info, path, ServicePaths::FolderAccess::OthersRead, reason)
        : ServicePaths::isSafeParentFolder(info, path, reason);
    if (!safe) {
        ::close(next);
        return false;
    }
    *current = next;
    return true;
}

QString PortDirectory::pathOf(const QString &name) const
{
    return folder + QLatin1Char('/') + name;
}
