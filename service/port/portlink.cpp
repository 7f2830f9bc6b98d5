#include "portlink.h"

#include "ptyopeners.h"

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

// Links held by live ports of this process, whose records name this process too.
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

bool isPtySlave(const QString &path)
{
    static const QRegularExpression ptySlave(QStringLiteral("^/dev/pts/[0-9]+$"));
    return ptySlave.match(path).hasMatch();
}

// A hidden name no port can take, as port names never start with a dot.
QString recordPath(const QString &path)
{
    const QFileInfo info(path);
    return QStringLiteral("%1/.%2.tirv").arg(info.path(), info.fileName());
}

// The record is a link too, made in one step: "<pid> <target>".
QString recordFor(pid_t pid, const QString &target)
{
    return QStringLiteral("%1 %2").arg(pid).arg(target);
}

// A link a service made, left by a service that ended without removing it; a pty that a live
// port of this process or of another running service holds is not stale.
bool isStale(const QString &path)
{
    const QString target = linkTarget(path);
    const QString record = linkTarget(recordPath(path));
    const int space = record.indexOf(QLatin1Char(' '));
    if (!isPtySlave(target) || space < 0 || record.mid(space + 1) != target)
        return false;
    bool numeric = false;
    const pid_t maker = pid_t(record.left(space).toInt(&numeric));
    if (!numeric)
        return false;
    if (maker == getpid()) {
        QMutexLocker lock(&claimedMutex);
        return !claimed.contains(path);
    }
    return !processHoldsTerminal(maker, target);
}

// A fresh link beside path, so it can be renamed over the old one in a single step.
QString makeTemporaryLink(const QString &path, const QString &content)
{
    static int serial = 0;
    const QFileInfo info(path);
    const QString temporary = QStringLiteral("%1/.%2.%3.%4")
                                  .arg(info.path(), info.fileName())
                                  .arg(getpid())
                                  .arg(++serial);
    if (symlink(encoded(content).constData(), encoded(temporary).constData()) != 0)
        return QString();
    return temporary;
}

} // namespace

PortLink::PortLink(const QString &target)
    : target(target)
    , record(recordFor(getpid(), target))
{
}

PortLink::~PortLink()
{
    remove();
}

// The record goes first and the link last, so a crash between them leaves no link unrecorded.
bool PortLink::place(const QString &path, QString *reason)
{
    if (path == current)
        return true;
    if (!isFree(path, reason) || !put(recordPath(path), record, reason))
        return false;
    if (!put(path, target, reason)) {
        removeIfMine(recordPath(path), record);
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
    if (S_ISLNK(st.st_mode) && isStale(path))
        return true;
    *reason = QStringLiteral("%1 exists and is not a link TIRV left behind; left alone").arg(path);
    return false;
}

bool PortLink::put(const QString &path, const QString &content, QString *reason) const
{
    const QString temporary = makeTemporaryLink(path, content);
    if (temporary.isEmpty()
        || rename(encoded(temporary).constData(), encoded(path).constData()) != 0) {
        *reason = QStringLiteral("cannot make the link %1: %2")
                      .arg(path, QString::fromLocal8Bit(strerror(errno)));
        if (!temporary.isEmpty())
            unlink(encoded(temporary).constData());
        return false;
    }
    return true;
}

void PortLink::removeIfMine(const QString &path, const QString &content) const
{
    if (linkTarget(path) == content)
        unlink(encoded(path).constData());
}

// The link goes first, so a crash between them leaves no link unrecorded.
void PortLink::remove()
{
    if (current.isEmpty())
        return;
    removeIfMine(current, target);
    removeIfMine(recordPath(current), record);
    QMutexLocker lock(&claimedMutex);
    claimed.remove(current);
    current.clear();
}
