#include "portlink.h"

#include "portdirectory.h"
#include "ptyopeners.h"

#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Links held by live ports of this process, whose records name this process too.
QMutex claimedMutex;
QSet<QString> claimed;

QByteArray encoded(const QString &name)
{
    return QFile::encodeName(name);
}

bool isPtySlave(const QString &path)
{
    static const QRegularExpression ptySlave(QStringLiteral("^/dev/pts/[0-9]+$"));
    return ptySlave.match(path).hasMatch();
}

// A hidden name no port can take, as port names never start with a dot.
QString recordName(const QString &name)
{
    return QStringLiteral(".%1.tirv").arg(name);
}

// The port name that name is the record of; empty when it is no record.
QString recordedName(const QString &name)
{
    static const QRegularExpression record(QStringLiteral("^\\.(.+)\\.tirv$"));
    return record.match(name).captured(1);
}

// The record is a link too, made in one step: "<pid> <target>".
QString recordFor(pid_t pid, const QString &target)
{
    return QStringLiteral("%1 %2").arg(pid).arg(target);
}

QString linkTarget(const PortDirectory &directory, const QString &name)
{
    char buffer[256];
    const ssize_t length
        = readlinkat(directory.descriptor(), encoded(name).constData(), buffer, sizeof buffer - 1);
    return length < 0 ? QString() : QFile::decodeName(QByteArray(buffer, int(length)));
}

// A link a service made, left by a service that ended without removing it; a pty that a live
// port of this process or of another running service holds is not stale.
bool isStale(const PortDirectory &directory, const QString &name)
{
    const QString linked = linkTarget(directory, name);
    const QString made = linkTarget(directory, recordName(name));
    const int space = made.indexOf(QLatin1Char(' '));
    if (!isPtySlave(linked) || space < 0 || made.mid(space + 1) != linked)
        return false;
    bool numeric = false;
    const pid_t maker = pid_t(made.left(space).toInt(&numeric));
    if (!numeric)
        return false;
    if (maker == getpid()) {
        QMutexLocker lock(&claimedMutex);
        return !claimed.contains(directory.pathOf(name));
    }
    return !processHoldsTerminal(maker, linked);
}

} // namespace

PortLink::PortLink(const PortDirectory &directory, const QString &target)
    : directory(directory)
    , target(target)
    , record(recordFor(getpid(), target))
{
}

PortLink::~PortLink()
{
    remove();
}

// The record goes first and the link last, so a crash between them leaves no link unrecorded.
bool PortLink::place(const QString &name, QString *reason)
{
    if (name == current)
        return true;
    if (!isFree(name, reason) || !put(recordName(name), record, reason))
        return false;
    if (!put(name, target, reason)) {
        removeIfMine(recordName(name), record);
        return false;
    }
    remove();
    current = name;
    QMutexLocker lock(&claimedMutex);
    claimed.insert(directory.pathOf(current));
    return true;
}

bool PortLink::isFree(const QString &name, QString *reason) const
{
    struct stat st;
    if (fstatat(directory.descriptor(), encoded(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return true;
        *reason = QStringLiteral("cannot look at %1: %2")
                      .arg(directory.pathOf(name), qt_error_string(errno));
        return false;
    }
    if (S_ISLNK(st.st_mode) && isStale(directory, name))
        return true;
    // Nor replaced: a file, a folder, another program's link or a running service's.
    *reason
        = QStringLiteral("a file that is not ours is in the way at %1").arg(directory.pathOf(name));
    return false;
}

bool PortLink::put(const QString &name, const QString &content, QString *reason) const
{
    const int dir = directory.descriptor();
    const QString temporary = makeTemporaryLink(name, content);
    if (temporary.isEmpty()
        || renameat(dir, encoded(temporary).constData(), dir, encoded(name).constData()) != 0) {
        *reason = QStringLiteral("cannot make the link %1: %2")
                      .arg(directory.pathOf(name), qt_error_string(errno));
        if (!temporary.isEmpty())
            unlinkat(dir, encoded(temporary).constData(), 0);
        return false;
    }
    return true;
}

void PortLink::removeIfMine(const QString &name, const QString &content) const
{
    if (linkTarget(directory, name) == content)
        unlinkat(directory.descriptor(), encoded(name).constData(), 0);
}

// The link goes first, so a crash between them leaves no link unrecorded.
void PortLink::remove()
{
    if (current.isEmpty())
        return;
    removeIfMine(current, target);
    removeIfMine(recordName(current), record);
    QMutexLocker lock(&claimedMutex);
    claimed.remove(directory.pathOf(current));
    current.clear();
}

void PortLink::removeStale(const PortDirectory &directory)
{
    // A description of its own, so the directory's descriptor is never read from.
    const int listed = openat(directory.descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *entries = listed < 0 ? nullptr : fdopendir(listed);
    if (!entries) {
        if (listed >= 0)
            close(listed);
        return;
    }
    QStringList names;
    while (const dirent *entry = readdir(entries)) {
        const QString name = recordedName(QFile::decodeName(entry->d_name));
        if (!name.isEmpty())
            names.append(name);
    }
    closedir(entries);
    for (const QString &name : qAsConst(names)) {
        if (!isStale(directory, name))
            continue;
        unlinkat(directory.descriptor(), encoded(name).constData(), 0);
        unlinkat(directory.descriptor(), encoded(recordName(name)).constData(), 0);
    }
}

// A fresh link beside name, so it can be renamed over the old one in a single step.
QString PortLink::makeTemporaryLink(const QString &name, const QString &content) const
{
    static int serial = 0;
    const QString temporary = QStringLiteral(".%1.%2.%3").arg(name).arg(getpid()).arg(++serial);
    if (symlinkat(
            encoded(content).constData(), directory.descriptor(), encoded(temporary).constData())
        != 0)
        return QString();
    return temporary;
}
