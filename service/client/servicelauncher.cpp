#include "servicelauncher.h"

#include "servicepaths.h"
#include "serviceprotocol.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Restoring a large saved table comes before the ready line.
constexpr int kStartTimeoutMs = 10000;
// A service that holds a call this long is taken as hung.
constexpr int kReplyTimeoutSeconds = 10;
// How often a running service that does not listen yet is asked again.
constexpr int kListenPollMs = 20;
// How long an older service is given to end, once asked and once forced.
constexpr int kStopTimeoutMs = 5000;
// The descriptors the service finds its lock and its ready pipe on.
constexpr int kChildLockFd = 3;
constexpr int kChildReadyFd = 4;

int connectTo(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (encoded.size() >= int(sizeof address.sun_path))
        return -1;
    memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const timeval timeout { kReplyTimeoutSeconds, 0 };
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int openLockFile(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

bool waitForReady(int fd)
{
    QDeadlineTimer deadline(kStartTimeoutMs);
    QByteArray said;
    while (!said.contains("ready\n")) {
        pollfd watch { fd, POLLIN, 0 };
        const int polled = ::poll(&watch, 1, int(deadline.remainingTime()));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return false;
        char chunk[64];
        const ssize_t size = ::read(fd, chunk, sizeof chunk);
        if (size <= 0)
            return false; // the service exited before it listened
        said.append(chunk, int(size));
    }
    return true;
}

// Runs the service with the locked descriptor, so the lock passes to it without a gap. The
// service daemonises itself; its first process exits at once and is reaped here.
bool spawn(int lockFd)
{
    const QByteArray executable = QFile::encodeName(ServicePaths::serviceExecutable());
    if (executable.isEmpty()) {
        qWarning() << "tirv-service: the executable was not found (set TIRV_SERVICE_EXEC)";
        return false;
    }
    const QByteArray lockArg = QByteArray::number(kChildLockFd);
    const QByteArray readyArg = QByteArray::number(kChildReadyFd);
    char *const argv[] = { const_cast<char *>(executable.constData()),
        const_cast<char *>("--lock-fd"), const_cast<char *>(lockArg.constData()),
        const_cast<char *>("--ready-fd"), const_cast<char *>(readyArg.constData()), nullptr };
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return false;
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int lockCopy = ::fcntl(lockFd, F_DUPFD, 10);
        const int readyCopy = ::fcntl(ready[1], F_DUPFD, 10);
        ::dup2(lockCopy, kChildLockFd);
        ::dup2(readyCopy, kChildReadyFd);
        ::syscall(SYS_close_range, kChildReadyFd + 1, ~0U, 0);
        ::execv(executable.constData(), argv);
        ::_exit(127);
    }
    ::close(ready[1]);
    const bool isReady = pid > 0 && waitForReady(ready[0]);
    ::close(ready[0]);
    if (pid > 0) {
        if (!isReady)
            ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    if (!isReady)
        qWarning().noquote() << "tirv-service:" << executable << "did not become ready";
    return isReady;
}

// With the start lock held: connects to the service that holds the service lock, waiting
// while it gets ready, or starts one as soon as the lock is free.
int connectOrSpawn(const QString &socketPath, int lockFd)
{
    QDeadlineTimer deadline(kStartTimeoutMs);
    for (;;) {
        const int fd = connectTo(socketPath);
        if (fd >= 0)
            return fd;
        if (::flock(lockFd, LOCK_EX | LOCK_NB) == 0)
            return spawn(lockFd) ? connectTo(socketPath) : -1;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return -1;
        if (deadline.hasExpired()) {
            qWarning() << "tirv-service: a service runs but does not listen";
            return -1;
        }
        ::poll(nullptr, 0, kListenPollMs);
    }
}

// Who listens at the other end of fd, by the kernel's word, and the protocol its lock publishes.
struct Peer
{
    pid_t pid = 0;
    uid_t uid = 0;
    // The lock names this process: the version is its own.
    bool named = false;
    int version = 0;
};

Peer peerOf(int fd, const QString &lockPath)
{
    Peer peer;
    ucred credentials {};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return peer;
    peer.pid = credentials.pid;
    peer.uid = credentials.uid;
    QFile lock(lockPath);
    const QByteArray record = lock.open(QIODevice::ReadOnly) ? lock.read(256) : QByteArray();
    peer.named
        = peer.pid > 0 && peer.pid != ::getpid() && ServiceProtocol::pidInLock(record) == peer.pid;
    peer.version = ServiceProtocol::versionInLock(record);
    return peer;
}

// A zombie has ended too: its lock and socket are gone.
bool hasEnded(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
}

bool waitForEnd(pid_t pid)
{
    QDeadlineTimer deadline(kStopTimeoutMs);
    while (!hasEnded(pid)) {
        if (deadline.hasExpired())
            return false;
        ::poll(nullptr, 0, kListenPollMs);
    }
    return true;
}

// Asks a service of an older protocol, one of this user's, to end, and makes it end if it does
// not; the next one brings its saved connections back.
bool stopOlder(const Peer &peer)
{
    qWarning().noquote() << QStringLiteral("tirv-service: the running service (pid %1) speaks "
                                           "protocol %2, this program %3: stopping it")
                                .arg(peer.pid)
                                .arg(peer.version)
                                .arg(ServiceProtocol::kVersion);
    if (peer.uid == ::getuid()) {
        for (const int signal : { SIGTERM, SIGKILL }) {
            if (::kill(peer.pid, signal) != 0 && errno != ESRCH)
                break;
            if (waitForEnd(peer.pid))
                return true;
        }
    }
    qWarning().noquote() << QStringLiteral("tirv-service: the older service (pid %1, uid %2) "
                                           "cannot be stopped; stop it by hand")
                                .arg(peer.pid)
                                .arg(peer.uid);
    return false;
}

// A connected descriptor to the service that runs or was just started, whatever its protocol.
int connectOrStart(const QString &runtimeDirectory)
{
    const QString socketPath = ServicePaths::socketPath(runtimeDirectory);
    int fd = connectTo(socketPath);
    if (fd >= 0)
        return fd;
    const int startFd = openLockFile(ServicePaths::startLockPath(runtimeDirectory));
    if (startFd < 0)
        return -1;
    while (::flock(startFd, LOCK_EX) != 0 && errno == EINTR) { }
    const int lockFd = openLockFile(ServicePaths::lockPath(runtimeDirectory));
    if (lockFd >= 0) {
        fd = connectOrSpawn(socketPath, lockFd);
        ::close(lockFd);
    }
    ::close(startFd);
    return fd;
}

} // namespace

namespace ServiceLauncher {

// A service left running by an older build (an upgrade while the user is logged in) does not
// understand this program's frames: it is replaced. One of a newer build is left alone.
int connect(const QString &runtimeDirectory)
{
    const QString lockPath = ServicePaths::lockPath(runtimeDirectory);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = connectOrStart(runtimeDirectory);
        if (fd < 0)
            return -1;
        // A listener the lock does not name is not known to be a service: taken as it is.
        const Peer peer = peerOf(fd, lockPath);
        if (!peer.named || peer.version == ServiceProtocol::kVersion)
            return fd;
        ::close(fd);
        if (peer.version > ServiceProtocol::kVersion) {
            qWarning().noquote() << QStringLiteral(
                "tirv-service: the running service (pid %1) speaks protocol "
                "%2, newer than this program's %3: start this program again "
                "from the new installation")
                                        .arg(peer.pid)
                                        .arg(peer.version)
                                        .arg(ServiceProtocol::kVersion);
            return -1;
        }
        if (!stopOlder(peer))
            return -1;
    }
    return -1;
}

} // namespace ServiceLauncher
