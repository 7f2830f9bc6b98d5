#include "portprobe.h"

#include "loopbackservers.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char *what)
{
    fprintf(stderr, "%s\n", what);
    exit(1);
}

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Both directions of an echo through one non-blocking descriptor: writes the pattern while
// there is budget, reads and checks what returns.
class EchoPump
{
public:
    EchoPump(int fd, std::size_t budget)
        : fd(fd)
        , budget(budget)
    {
    }

    void stopWriting() { budget = written; }
    bool isDone() const { return received == budget && written == budget; }
    std::size_t bytes() const { return received; }

    void step()
    {
        pollfd waiter { fd, short(POLLIN | (written < budget ? POLLOUT : 0)), 0 };
        if (poll(&waiter, 1, 30000) != 1)
            fail("echo stalled");
        if (waiter.revents & POLLOUT)
            write();
        if (waiter.revents & POLLIN)
            read();
    }

private:
    void write()
    {
        const std::size_t chunk = std::min(LoopbackServers::kPatternPeriod, budget - written);
        const ssize_t count = ::write(fd, LoopbackServers::patternAt(written), chunk);
        if (count < 0 && errno != EAGAIN)
            fail("echo write failed");
        written += std::size_t(std::max<ssize_t>(count, 0));
    }

    void read()
    {
        const ssize_t count = ::read(fd, in, sizeof in);
        if (count < 0 && errno == EAGAIN)
            return;
        if (count <= 0 || received + std::size_t(count) > written
            || !LoopbackServers::isPatternAt(received, in, std::size_t(count)))
            fail("echo corrupted");
        received += std::size_t(count);
    }

    int fd;
    std::size_t budget;
    std::size_t written = 0;
    std::size_t received = 0;
    char in[LoopbackServers::kPatternPeriod];
};

} // namespace

namespace PortProbe {

int connectLoopback(quint16 port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        fail("cannot connect to a loopback server");
    return fd;
}

Pty openPty()
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[64];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0
        || ptsname_r(master, name, sizeof name) != 0) {
        perror("pty");
        exit(1);
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        perror(name);
        exit(1);
    }
    return { master, slave, QString::fromLocal8Bit(name) };
}

int openRaw(const QString &path)
{
    const int fd = open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios attributes;
    if (fd < 0 || tcgetattr(fd, &attributes) != 0) {
        perror(path.toLocal8Bit().constData());
        exit(1);
    }
    cfmakeraw(&attributes);
    tcsetattr(fd, TCSANOW, &attributes);
    return fd;
}

void writeAll(int fd, const char *bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t count = write(fd, bytes, std::min<std::size_t>(size, 65536));
        if (count <= 0)
            fail("write to a port failed");
        bytes += count;
        size -= std::size_t(count);
    }
}

bool readExactly(int fd, char *bytes, std::size_t size, int timeoutMs)
{
    while (size > 0) {
        pollfd waiter { fd, POLLIN, 0 };
        if (poll(&waiter, 1, timeoutMs) != 1)
            return false;
        const ssize_t count = read(fd, bytes, size);
        if (count <= 0)
            return false;
        bytes += count;
        size -= std::size_t(count);
    }
    return true;
}

std::vector<double> roundTrips(int fd, int count)
{
    std::vector<double> micros;
    for (int i = 0; i < count; ++i) {
        char byte = char('a' + i % 26);
        const auto start = Clock::now();
        writeAll(fd, &byte, 1);
        if (!readExactly(fd, &byte, 1) || byte != char('a' + i % 26))
            fail("echo lost");
        micros.push_back(seconds(start) * 1e6);
    }
    return micros;
}

void pairedRoundTrips(int first, int second, int count, std::vector<double> *firstMicros,
    std::vector<double> *secondMicros)
{
    const int block = 50;
    for (int done = 0; done < count; done += block) {
        const int size = std::min(block, count - done);
        for (auto [fd, micros] :
            { std::pair(first, firstMicros), std::pair(second, secondMicros) }) {
            const std::vector<double> more = roundTrips(fd, size);
            micros->insert(micros->end(), more.begin(), more.end());
        }
    }
}

double toSink(int fd, std::size_t size)
{
    const auto start = Clock::now();
    for (std::size_t at = 0; at < size; at += LoopbackServers::kPatternPeriod)
        writeAll(fd, LoopbackServers::patternAt(at),
            std::min(LoopbackServers::kPatternPeriod, size - at));
    char answer = 0;
    if (!readExactly(fd, &answer, 1) || answer != 'K')
        fail("transfer to the sink corrupted");
    return double(size) / seconds(start) / 1e6;
}

double fromSource(int fd, std::size_t size)
{
    std::vector<char> in(LoopbackServers::kPatternPeriod);
    const auto start = Clock::now();
    writeAll(fd, "G", 1);
    for (std::size_t at = 0; at < size;) {
        pollfd waiter { fd, POLLIN, 0 };
        const ssize_t count = poll(&waiter, 1, 30000) == 1
            ? read(fd, in.data(), std::min(in.size(), size - at))
            : -1;
        if (count <= 0 || !LoopbackServers::isPatternAt(at, in.data(), std::size_t(count)))
            fail("transfer from the source corrupted");
        at += std::size_t(count);
    }
    return double(size) / seconds(start) / 1e6;
}

double throughEcho(int fd, std::size_t size, double limit)
{
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    EchoPump pump(fd, size);
    const auto start = Clock::now();
    bool writing = true;
    while (!pump.isDone()) {
        pump.step();
        if (writing && seconds(start) > limit) {
            pump.stopWriting();
            writing = false;
        }
    }
    const double rate = double(pump.bytes()) / seconds(start) / 1e6;
    fcntl(fd, F_SETFL, flags);
    return rate;
}

double percentile(std::vector<double> values, int percent)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * std::size_t(percent) / 100)];
}

} // namespace PortProbe
