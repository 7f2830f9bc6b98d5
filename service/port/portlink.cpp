#include "portlink.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Links held by live ports of this process: another port's link is not stale.
QMutex claimedMutex;
QSet<QString> claimed;

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QString linkTarget(const QString &path)
{
    char buffer[256];
    const ssize_t length = readlink(encoded(path).constData(), buffer, sizeof buffer - 1);
    return length < 0 ? QString() : QFile::decodeName(QByteArray(buffer, int(length)));
}

bool isPtyLink(const QString &path)
{
    static const QRegularExpression ptySlave(QStringLiteral("^/dev/pts/[0-9]+$"));
    return ptySlave.match(linkTarget(path)).hasMatch();
}

// A fresh link beside path, so it can be renamed over the stale one in a single step.
QString makeTemporaryLink(const QString &path, const QString &target)
{
    static int serial = 0;
    const QFileInfo info(path);
    const QString temporary = QStringLiteral("%1/.%2.%3.%4")
                                  .arg(info.path(), info.fileName())
                                  .arg(getpid())
                                  .arg(++serial);
    if (symlink(encoded(target).constData(), encoded(temporary).constData()) != 0)
        return QString();
    return temporary;
}

} // namespace

PortLink::PortLink(const QString &target)
    : target(target)
{
}

PortLink::~PortLink()
{
    remove();
}

bool PortLink::place(const QString &path, QString *reason)
{
    if (path == current)
        return true;
    if (!isFree(path, reason))
        return false;
    const QString temporary = makeTemporaryLink(path, target);
    if (temporary.isEmpty()
        || rename(encoded(temporary).constData(), encoded(path).constData()) != 0) {
        *reason = QStringLiteral("cannot make the link %1: %2")
                      .arg(path, QString::fromLocal8Bit(strerror(errno)));
        if (!temporary.isEmpty())
            unlink(encoded(temporary).constData());
        return false;
    }
    remove();
    current = path;
    QMutexLocker lock(&claimedMutex);
    claimed.insert(current);
    return true;
}

bool PortLink::isFree(const QString &path, QString *reason) const
{
    struct stat st;
    if (lstat(encoded(path).constData(), &st) != 0) {
        if (errno == ENOENT)
            return true;
        *reason = QStringLiteral("cannot look at %1: %2")
                      .arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // A pty link left by a service that died is stale: its pty went with it.
    QMutexLocker lock(&claimedMutex);
    if (S_ISLNK(st.st_mode) && isPtyLink(path) && !claimed.contains(path))
        return true;
    *reason = QStringLiteral("%1 exists and is not a TIRV port link; left alone").arg(path);
    return false;
}

void PortLink::remove()
{
    if (current.isEmpty())
        return;
    if (linkTarget(current) == target)
        unlink(encoded(current).constData());
    QMutexLocker lock(&claimedMutex);
    claimed.remove(current);
    current.clear();
}
