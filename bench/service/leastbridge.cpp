#include "leastbridge.h"

#include "portprobe.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/epoll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void fail(const char *what)
{
    perror(what);
    exit(1);
}

// Blocking: the benchmark always reads what comes back, so a write never waits for long.
void writeAll(int fd, const char *bytes, ssize_t size)
{
    for (ssize_t sent = 0; size > 0; bytes += sent, size -= sent)
        if ((sent = write(fd, bytes, size_t(size))) <= 0)
            fail("least bridge: write");
}

// A linked pty whose slave, held for ever, is raw before any program opens it.
int openPty(const QString &link)
{
    const PortProbe::Pty pty = PortProbe::openPty();
    termios raw;
    if (tcgetattr(pty.slave, &raw) != 0)
        fail("least bridge: slave");
    cfmakeraw(&raw);
    tcsetattr(pty.slave, TCSANOW, &raw);
    if (symlink(QFile::encodeName(pty.path).constData(), QFile::encodeName(link).constData()) != 0)
        fail("least bridge: link");
    return pty.master;
}

QString linkName(const QString &dir, int index)
{
    return QStringLiteral("%1/least%2").arg(dir).arg(index);
}

} // namespace

LeastBridge::LeastBridge(const QString &dir, quint16 tcpPort, int count)
    : dir(dir)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--least-bridge"), QString::number(tcpPort), QString::number(count),
            dir });
    if (!process.waitForReadyRead(10000) || !process.readLine().startsWith("ready")) {
        fprintf(stderr, "the least bridge did not start\n");
        exit(1);
    }
}

LeastBridge::~LeastBridge()
{
    process.kill();
    process.waitForFinished();
    for (int index = 0; QFile::remove(linkName(dir, index)); ++index) { }
}

QString LeastBridge::link(int index) const
{
    return linkName(dir, index);
}

// Descriptors pair up: a pty's bytes go to its socket, the socket's to the pty.
int LeastBridge::run(quint16 tcpPort, int count, const QString &dir)
{
    const int poller = epoll_create1(EPOLL_CLOEXEC);
    std::vector<int> peer;
    for (int index = 0; index < count; ++index) {
        const int pty = openPty(linkName(dir, index));
        const int tcp = PortProbe::connectLoopback(tcpPort);
        peer.resize(std::size_t(std::max(pty, tcp)) + 1, -1);
        peer[std::size_t(pty)] = tcp;
        peer[std::size_t(tcp)] = pty;
        for (const int fd : { pty, tcp }) {
            epoll_event event { EPOLLIN, {} };
            event.data.fd = fd;
            epoll_ctl(poller, EPOLL_CTL_ADD, fd, &event);
        }
    }
    printf("ready\n");
    fflush(stdout);
    static char bytes[65536];
    epoll_event events[64];
    for (;;) {
        const int ready = epoll_wait(poller, events, 64, -1);
        for (int i = 0; i < ready; ++i) {
            const int from = events[i].data.fd;
            const ssize_t size = read(from, bytes, sizeof bytes);
            if (size <= 0)
                fail("least bridge: read");
            writeAll(peer[std::size_t(from)], bytes, size);
        }
    }
}
