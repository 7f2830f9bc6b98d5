#include "servicelauncher.h"

#include "servicepaths.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Restoring a large saved table comes before the ready line.
constexpr int kStartTimeoutMs = 10000;
// The descriptors the service finds its lock and its ready pipe on.
constexpr int kChildLockFd = 3;
constexpr int kChildReadyFd = 4;

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
                           const_cast<char *>("--ready-fd"),
                           const_cast<char *>(readyArg.constData()), nullptr };
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

} // namespace

namespace ServiceLauncher {

bool start(const QString &runtimeDirectory)
{
    const int startFd = openLockFile(ServicePaths::startLockPath(runtimeDirectory));
    if (startFd < 0)
        return false;
    while (::flock(startFd, LOCK_EX) != 0 && errno == EINTR) { }
    bool running = false;
    const int lockFd = openLockFile(ServicePaths::lockPath(runtimeDirectory));
    if (lockFd >= 0) {
        // Free lock: no service. Held: one runs, started by an earlier caller or by hand.
        running = ::flock(lockFd, LOCK_EX | LOCK_NB) != 0 ? errno == EWOULDBLOCK : spawn(lockFd);
        ::close(lockFd);
    }
    ::close(startFd);
    return running;
}

} // namespace ServiceLauncher
