// tirv-service: the per-user connection service. Owns the connection table and every virtual
// port, serves the sec_* calls on the control socket, and keeps the table on disk.

#include "connectiontable.h"
#include "epolldispatcher.h"
#include "ptyportfactory.h"
#include "servicelog.h"
#include "servicepaths.h"
#include "serviceprotocol.h"
#include "serviceserver.h"
#include "statesaver.h"
#include "statestore.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Options
{
    bool foreground = false;
    // Handed over by a starting caller: the service lock it took, the pipe it waits on.
    int lockFd = -1;
    int readyFd = -1;
};

// Exit statuses: a service manager must not restart a service that found another running.
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kAlreadyRunning = 3;

int quitPipe[2] = { -1, -1 };

void fail(const QString &why, int status = kFailed)
{
    fprintf(stderr, "tirv-service: %s\n", qPrintable(why));
    exit(status);
}

bool parseOptions(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (strcmp(argv[i], "--foreground") == 0)
            options->foreground = true;
        else if (strcmp(argv[i], "--lock-fd") == 0 && hasValue)
            options->lockFd = atoi(argv[++i]);
        else if (strcmp(argv[i], "--ready-fd") == 0 && hasValue)
            options->readyFd = atoi(argv[++i]);
        else
            return false;
    }
    return true;
}

void setCloseOnExec(int fd)
{
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// The lock passes to the service's own process tree and goes when the last of it exits.
int takeServiceLock(const Options &options, const QString &runtimeDirectory)
{
    const QByteArray path = QFile::encodeName(ServicePaths::lockPath(runtimeDirectory));
    const int fd
        = options.lockFd >= 0 ? options.lockFd : ::open(path.constData(), O_RDWR | O_CREAT, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        fail(QStringLiteral("another tirv-service is running for this user (%1)")
                 .arg(QString::fromLocal8Bit(path)),
            kAlreadyRunning);
    setCloseOnExec(fd);
    return fd;
}

// Callers read which protocol the running service speaks here, and whom to stop if it is older.
void writePid(int lockFd)
{
    const QByteArray record = ServiceProtocol::lockRecord(::getpid());
    if (::ftruncate(lockFd, 0) != 0
        || ::pwrite(lockFd, record.constData(), size_t(record.size()), 0) < 0)
        perror("tirv-service: writing the pid");
}

void redirect(int fd, const QByteArray &path, int flags)
{
    const int opened = ::open(path.constData(), flags);
    if (opened >= 0 && opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
    }
}

// Detaches from the caller's session; messages go to service.log in the state folder.
void daemonise()
{
    if (::fork() > 0)
        _exit(0);
    ::setsid();
    if (::fork() > 0)
        _exit(0);
    if (::chdir("/") != 0)
        perror("tirv-service: chdir");
    redirect(STDIN_FILENO, "/dev/null", O_RDONLY);
    redirect(STDOUT_FILENO, "/dev/null", O_WRONLY);
    ServiceLog::open();
}

void onQuitSignal(int)
{
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(quitPipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP end the event loop, so the ports and the socket are removed.
void quitOnSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action
    {
    };
    action.sa_handler = onQuitSignal;
    for (int signal : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction(signal, &action, nullptr);
}

// The runtime folder goes at logout (and a test's with the test): nobody could reach the
// service any more, so it ends rather than linger.
void quitWhenSocketRemoved(QCoreApplication &app, const QString &socketPath)
{
    auto *watcher = new QFileSystemWatcher({ QFileInfo(socketPath).absolutePath() }, &app);
    QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, &app, [&app, socketPath] {
        if (QFileInfo::exists(socketPath))
            return;
        qWarning().noquote() << socketPath << "was removed; stopping";
        app.quit();
    });
}

// A connected port holds about three descriptors; 255 of them pass the usual soft limit of 1024.
void raiseDescriptorLimit()
{
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            perror("tirv-service: raising the descriptor limit");
    }
}

void announceReady(const Options &options)
{
    if (options.foreground) {
        printf("ready\n");
        fflush(stdout);
    }
    if (options.readyFd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(options.readyFd, "ready\n", 6);
        ::close(options.readyFd);
    }
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        fprintf(stderr, "usage: tirv-service [--foreground]\n");
        return kUsage;
    }
    QString error;
    const QString runtimeDirectory = ServicePaths::runtimeDirectory(&error);
    if (runtimeDirectory.isEmpty())
        fail(QStringLiteral("refusing to start: ") + error);
    if (options.readyFd >= 0)
        setCloseOnExec(options.readyFd);
    const int lockFd = takeServiceLock(options, runtimeDirectory);
    // Before Qt starts any thread: forking a threaded process is unsafe.
    if (!options.foreground)
        daemonise();
    writePid(lockFd);
    ::signal(SIGPIPE, SIG_IGN);
    raiseDescriptorLimit();

    QCoreApplication::setEventDispatcher(new EpollDispatcher);
    QCoreApplication app(argc, argv);
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} "
                                      "%{if-warning}warning: %{endif}"
                                      "%{if-critical}error: %{endif}%{message}"));
    quitOnSignals(app);
    if (!options.foreground)
        ServiceLog::rotateWhenFull();

    // Outlives the table, whose ports it serves.
    PtyPortFactory ports;
    ConnectionTable table;
    table.setPortFactory(&ports);
    StateStore store(StateStore::defaultPath());
    store.load(table);
    ports.removeStaleLinks();
    StateSaver saver(table, store);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &saver, &StateSaver::flush);

    ServiceServer server(table);
    const QString socketPath = ServicePaths::socketPath(runtimeDirectory);
    if (!server.listen(socketPath))
        return kFailed;
    quitWhenSocketRemoved(app, socketPath);
    announceReady(options);
    return app.exec();
}
