// An RFC 2217 port against a RAW port to the same loopback echo: throughput with every byte
// value (so 0xFF doubling costs what it costs), 1-byte round trips, the time from a program's
// tcsetattr to the SET-BAUDRATE reaching a device on loopback, and what the calls that tirv-run
// carries to the service cost a program. Run by hand:
//   bench_rfc2217 [megabytes per transfer, default 16] [rounds, default 9]
// The ports live in a child process ("--serve"), as in the service; the calls are timed in a
// child under tirv-run ("--lines").

#include "loopbackservers.h"

#include "comportcommand.h"
#include "connectiontable.h"
#include "ptyportfactory.h"
#include "telnetcodec.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// --serve COMn:tcpPort:protocol ...: holds the ports until stdin closes.
int servePorts(const QStringList &portArgs)
{
    PtyPortFactory factory;
    ConnectionTable table;
    table.setPortFactory(&factory);
    for (const QString &portArg : portArgs) {
        const QStringList fields = portArg.split(QLatin1Char(':'));
        ConnectionHandle handle = -1;
        table.createConnection(1, &handle);
        const QVariantList hosts { QVariant(
            QVariantList { QStringLiteral("127.0.0.1"), fields.value(1) }) };
        table.setParam(handle, QStringLiteral("port.name"), fields.value(0));
        table.setParam(handle, QStringLiteral("network.host"), hosts);
        table.setParam(handle, QStringLiteral("protocol.type"), fields.value(2));
        if (!table.startConnection(handle))
            return 1;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [] {
        char byte;
        if (read(STDIN_FILENO, &byte, 1) <= 0)
            QCoreApplication::quit();
    });
    printf("ready\n");
    fflush(stdout);
    return QCoreApplication::exec();
}

std::unique_ptr<QProcess> startPorts(const QStringList &portArgs)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QCoreApplication::applicationFilePath(),
        QStringList { QStringLiteral("--serve") } + portArgs);
    if (!process->waitForReadyRead(60000)) {
        fprintf(stderr, "ports did not start\n");
        exit(1);
    }
    return process;
}

void stopPorts(QProcess *process)
{
    process->closeWriteChannel();
    if (!process->waitForFinished(5000))
        process->kill();
    process->waitForFinished();
}

int openRaw(const QString &link)
{
    const int fd = open(link.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    termios attributes;
    if (fd < 0 || tcgetattr(fd, &attributes) != 0) {
        perror("open port");
        exit(1);
    }
    cfmakeraw(&attributes);
    tcsetattr(fd, TCSANOW, &attributes);
    return fd;
}

bool readExactly(int fd, char *bytes, size_t size)
{
    while (size > 0) {
        pollfd waiter { fd, POLLIN, 0 };
        if (poll(&waiter, 1, 30000) != 1)
            return false;
        const ssize_t count = read(fd, bytes, size);
        if (count <= 0)
            return false;
        bytes += count;
        size -= size_t(count);
    }
    return true;
}

void writeAll(int fd, const char *bytes, size_t size)
{
    while (size > 0) {
        const ssize_t count = write(fd, bytes, std::min<size_t>(size, 65536));
        if (count <= 0) {
            perror("write port");
            exit(1);
        }
        bytes += count;
        size -= size_t(count);
    }
}

double percentile(std::vector<double> values, int percent)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() * size_t(percent) / 100];
}

// Writes the bytes and reads them back at once through the echo; MB/s of the bytes moved.
double echoThroughput(int fd, const std::vector<char> &bytes)
{
    std::vector<char> back(bytes.size());
    const auto start = Clock::now();
    std::thread writer([&] { writeAll(fd, bytes.data(), bytes.size()); });
    const bool complete = readExactly(fd, back.data(), back.size());
    writer.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!complete || back != bytes) {
        fprintf(stderr, "echo corrupted\n");
        exit(1);
    }
    return double(bytes.size()) / seconds / 1e6;
}

double roundTripUs(int fd)
{
    char byte = 'a';
    const auto start = Clock::now();
    writeAll(fd, &byte, 1);
    if (!readExactly(fd, &byte, 1)) {
        fprintf(stderr, "echo lost\n");
        exit(1);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Both ports in alternating rounds and blocks, so a busy moment of the machine hits both alike.
void benchEcho(const QString &dir, const LoopbackServers &servers, size_t size, int rounds)
{
    const QString echo = QString::number(servers.echoPort());
    auto ports = startPorts(
        { QStringLiteral("COM1:%1:RAW").arg(echo), QStringLiteral("COM2:%1:RFC2217").arg(echo) });
    const int fds[2]
        = { openRaw(dir + QStringLiteral("/COM1")), openRaw(dir + QStringLiteral("/COM2")) };
    std::vector<char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = LoopbackServers::pattern(i);
    std::vector<double> rate[2], micros[2];
    for (int fd : fds)
        for (int i = 0; i < 50; ++i)
            roundTripUs(fd);
    for (int round = 0; round < rounds; ++round)
        for (int side = 0; side < 2; ++side)
            rate[side].push_back(echoThroughput(fds[side], bytes));
    for (int block = 0; block < 40; ++block)
        for (int side = 0; side < 2; ++side)
            for (int i = 0; i < 50; ++i)
                micros[side].push_back(roundTripUs(fds[side]));
    close(fds[0]);
    close(fds[1]);
    stopPorts(ports.get());
    const double raw = percentile(rate[0], 50), telnet = percentile(rate[1], 50);
    printf("echo both ways, every byte value   RAW %7.1f MB/s | RFC 2217 %7.1f MB/s (x%.2f, goal "
           ">= 0.90)\n",
        raw, telnet, telnet / raw);
    const double rawP50 = percentile(micros[0], 50), telnetP50 = percentile(micros[1], 50);
    printf("round trip 1 B, p50                RAW %7.1f us   | RFC 2217 %7.1f us   (%+.1f %%, "
           "goal within 10 %%)\n",
        rawP50, telnetP50, (telnetP50 / rawP50 - 1) * 100);
    printf("round trip 1 B, p99                RAW %7.1f us   | RFC 2217 %7.1f us\n",
        percentile(micros[0], 99), percentile(micros[1], 99));
}

// A device on loopback that takes COM-PORT-OPTION and notes when each SET-BAUDRATE arrives.
class BaudWatcher
{
public:
    BaudWatcher()
    {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(listener, reinterpret_cast<sockaddr *>(&address), length);
        listen(listener, 1);
        getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
        tcpPort = ntohs(address.sin_port);
        thread = std::thread([this] { serve(); });
    }
    ~BaudWatcher()
    {
        stopping = true;
        thread.join();
        close(listener);
    }
    quint16 port() const { return tcpPort; }
    // Waits up to a second for the count-th SET-BAUDRATE; its arrival time.
    bool arrival(size_t count, Clock::time_point *at)
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!arrived.wait_for(lock, std::chrono::seconds(1), [&] { return times.size() >= count; }))
            return false;
        *at = times[count - 1];
        return true;
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return times.size();
    }

private:
    void serve()
    {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        TelnetCodec codec(TelnetCodec::Role::Server);
        const QByteArray hello = codec.start();
        send(fd, hello.constData(), size_t(hello.size()), MSG_NOSIGNAL);
        std::vector<char> in(65536), data(65536);
        while (!stopping) {
            pollfd waiter { fd, POLLIN, 0 };
            if (poll(&waiter, 1, 100) != 1)
                continue;
            const ssize_t count = recv(fd, in.data(), in.size(), 0);
            if (count <= 0)
                break;
            const auto now = Clock::now();
            codec.decode(in.data(), int(count), data.data());
            const QByteArray replies = codec.takeReplies();
            send(fd, replies.constData(), size_t(replies.size()), MSG_NOSIGNAL);
            for (const TelnetCodec::Event &event : codec.takeEvents()) {
                ComPortCommand command;
                if (event.kind == TelnetCodec::Event::Subnegotiation
                    && ComPortCommand::decode(event.payload, &command)
                    && command.code == ComPortCommand::SetBaudRate) {
                    std::lock_guard<std::mutex> lock(mutex);
                    times.push_back(now);
                    arrived.notify_all();
                }
            }
        }
        close(fd);
    }

    int listener;
    quint16 tcpPort;
    std::atomic<bool> stopping { false };
    std::thread thread;
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Clock::time_point> times;
};

void benchSettings(const QString &dir)
{
    BaudWatcher device;
    auto ports = startPorts({ QStringLiteral("COM3:%1:RFC2217").arg(device.port()) });
    const int fd = openRaw(dir + QStringLiteral("/COM3"));
    Clock::time_point at;
    // The settings sent at the open come first.
    if (!device.arrival(1, &at)) {
        fprintf(stderr, "no settings arrived\n");
        exit(1);
    }
    std::vector<double> micros;
    termios attributes;
    tcgetattr(fd, &attributes);
    for (int i = 0; i < 1000; ++i) {
        cfsetspeed(&attributes, i % 2 ? B9600 : B19200);
        const size_t seen = device.count();
        const auto start = Clock::now();
        tcsetattr(fd, TCSANOW, &attributes);
        if (!device.arrival(seen + 1, &at)) {
            fprintf(stderr, "a SET-BAUDRATE did not arrive\n");
            exit(1);
        }
        micros.push_back(std::chrono::duration<double, std::micro>(at - start).count());
    }
    close(fd);
    stopPorts(ports.get());
    printf("tcsetattr -> SET-BAUDRATE at device p50 %6.1f us p99 %6.1f us max %6.1f us (goal p99 "
           "< 5000 us)\n",
        percentile(micros, 50), percentile(micros, 99),
        *std::max_element(micros.begin(), micros.end()));
}

// Microseconds per call, p50 and p99 of 2000.
std::pair<double, double> timeCalls(const std::function<void()> &call)
{
    std::vector<double> micros;
    for (int i = 0; i < 2000; ++i) {
        const auto start = Clock::now();
        call();
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return { percentile(micros, 50), percentile(micros, 99) };
}

int openPlainPty()
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return -1;
    return open(ptsname(master), O_RDWR | O_NOCTTY);
}

// --lines LINK, under tirv-run: the calls on the port, each a request to the service, beside the
// same calls on a pty that is no port, which the library passes on.
int timeLineCalls(const QString &link)
{
    const int port = openRaw(link);
    const int plain = openPlainPty();
    termios attributes;
    tcgetattr(port, &attributes);
    attributes.c_cflag = (attributes.c_cflag & ~CSIZE) | CS7 | PARENB;
    int lines = 0;
    bool rts = false;
    const std::pair<const char *, std::function<void(int)>> calls[] = {
        { "TIOCMGET", [&](int fd) { ioctl(fd, TIOCMGET, &lines); } },
        { "TIOCMBIS/TIOCMBIC RTS",
            [&](int fd) {
                const int rtsLine = TIOCM_RTS;
                ioctl(fd, (rts = !rts) ? TIOCMBIS : TIOCMBIC, &rtsLine);
            } },
        { "tcgetattr", [&](int fd) { tcgetattr(fd, &attributes); } },
        { "tcsetattr 7E1", [&](int fd) { tcsetattr(fd, TCSANOW, &attributes); } },
    };
    for (const auto &[name, call] : calls) {
        const auto onPort = timeCalls([&, call = call] { call(port); });
        const auto onPlain = timeCalls([&, call = call] { call(plain); });
        printf("%-22s under tirv-run: port p50 %6.1f us p99 %6.1f us | plain pty p50 %5.1f us "
               "p99 %5.1f us\n",
            name, onPort.first, onPort.second, onPlain.first, onPlain.second);
    }
    return 0;
}

void benchLines(const QString &dir)
{
    BaudWatcher device;
    auto ports = startPorts({ QStringLiteral("COM4:%1:RFC2217").arg(device.port()) });
    fflush(stdout);
    QProcess calls;
    calls.setProcessChannelMode(QProcess::ForwardedChannels);
    calls.start(QStringLiteral(TIRV_RUN),
        { QCoreApplication::applicationFilePath(), QStringLiteral("--lines"),
            dir + QStringLiteral("/COM4") });
    if (!calls.waitForFinished(120000) || calls.exitCode() != 0)
        fprintf(stderr, "the timed calls failed\n");
    stopPorts(ports.get());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--serve"))
        return servePorts(args.mid(1));
    if (args.value(0) == QLatin1String("--lines"))
        return timeLineCalls(args.value(1));

    QTemporaryDir dir;
    qputenv("TIRV_PORT_DIR", dir.path().toLocal8Bit());
    const size_t megabytes = args.value(0, QStringLiteral("16")).toULong();
    const int rounds = args.value(1, QStringLiteral("9")).toInt();
    LoopbackServers servers(megabytes * 1024 * 1024);
    benchEcho(dir.path(), servers, megabytes * 1024 * 1024, rounds);
    benchSettings(dir.path());
    benchLines(dir.path());
    return 0;
}
