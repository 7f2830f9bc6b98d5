// Virtual ports against socat on the same loopback servers: round-trip latency, one-way
// throughput with verification, CPU per byte, and the cost of 255 ports. Run by hand:
//   bench_ports [megabytes per transfer, default 64] [rounds, default 5]
// The ports live in a child process ("--serve"), as in the service; socat is the reference.

#include "loopbackservers.h"
#include "processusage.h"

#include "connectiontable.h"
#include "ptyportfactory.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// --serve COMn:tcpPort:sendMode:sendParam ...: holds the ports until stdin closes.
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
        table.setParam(handle, QStringLiteral("port.sendmode.mode"), fields.value(2).toInt());
        table.setParam(handle, QStringLiteral("port.sendmode.param"), fields.value(3).toInt());
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

struct Bridge
{
    std::unique_ptr<QProcess> process;
    QString link;
};

bool waitForLink(const QString &link)
{
    for (int i = 0; i < 1000 && !QFileInfo::exists(link); ++i)
        QThread::msleep(5);
    return QFileInfo::exists(link);
}

Bridge startTirv(const QString &dir, const QStringList &portArgs)
{
    Bridge bridge { std::make_unique<QProcess>(), QString() };
    bridge.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    bridge.process->start(QCoreApplication::applicationFilePath(),
        QStringList { QStringLiteral("--serve") } + portArgs);
    if (!bridge.process->waitForReadyRead(60000)) {
        fprintf(stderr, "ports did not start\n");
        exit(1);
    }
    bridge.link = dir + QLatin1Char('/') + portArgs.value(0).section(QLatin1Char(':'), 0, 0);
    return bridge;
}

Bridge startSocat(const QString &dir, quint16 tcpPort)
{
    static int serial = 0;
    Bridge bridge { std::make_unique<QProcess>(), dir + QStringLiteral("/socat%1").arg(++serial) };
    bridge.process->start(QStringLiteral("socat"),
        { QStringLiteral("pty,link=%1,raw,echo=0").arg(bridge.link),
            QStringLiteral("tcp:127.0.0.1:%1").arg(tcpPort) });
    if (!bridge.process->waitForStarted() || !waitForLink(bridge.link)) {
        fprintf(stderr, "socat did not start (apt-get install socat)\n");
        exit(1);
    }
    return bridge;
}

void stop(Bridge &bridge)
{
    bridge.process->closeWriteChannel();
    if (!bridge.process->waitForFinished(5000))
        bridge.process->kill();
    bridge.process->waitForFinished();
}

// Opens the link as a serial program does.
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Latency
{
    double p50Us;
    double p99Us;
};

void roundTrip(
    int fd, const std::vector<char> &message, std::vector<char> *echo, std::vector<double> *micros)
{
    const auto start = Clock::now();
    writeAll(fd, message.data(), message.size());
    if (!readExactly(fd, echo->data(), echo->size())) {
        fprintf(stderr, "echo lost\n");
        exit(1);
    }
    micros->push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
}

Latency percentiles(std::vector<double> micros)
{
    std::sort(micros.begin(), micros.end());
    return { micros[micros.size() / 2], micros[micros.size() * 99 / 100] };
}

// Both bridges in alternating blocks, so a busy moment of the machine hits both alike.
std::pair<Latency, Latency> roundTrips(
    const QString &ours, const QString &theirs, int size, int rounds)
{
    const int fds[2] = { openRaw(ours), openRaw(theirs) };
    const std::vector<char> message(static_cast<size_t>(size), 'a');
    std::vector<char> echo(message.size());
    std::vector<double> micros[2], warmUp;
    for (int fd : fds)
        for (int i = 0; i < 20; ++i)
            roundTrip(fd, message, &echo, &warmUp);
    for (int block = 0; block < rounds / 50; ++block)
        for (int side = 0; side < 2; ++side)
            for (int i = 0; i < 50; ++i)
                roundTrip(fds[side], message, &echo, &micros[side]);
    close(fds[0]);
    close(fds[1]);
    return { percentiles(micros[0]), percentiles(micros[1]) };
}

struct Transfer
{
    double megabytesPerSecond;
    double cpuNsPerByte;
};

// Program to device through the sink, or device to program from the source; verified.
Transfer transfer(const QString &link, qint64 pid, const std::vector<char> &bytes, bool up)
{
    const int fd = openRaw(link);
    const double cpuBefore = ProcessUsage::cpuSeconds(pid);
    const auto start = Clock::now();
    char answer = 0;
    bool intact;
    if (up) {
        writeAll(fd, bytes.data(), bytes.size());
        intact = readExactly(fd, &answer, 1) && answer == 'K';
    } else {
        std::vector<char> got(bytes.size());
        writeAll(fd, "G", 1);
        intact = readExactly(fd, got.data(), got.size()) && got == bytes;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = ProcessUsage::cpuSeconds(pid) - cpuBefore;
    close(fd);
    if (!intact) {
        fprintf(stderr, "transfer corrupted\n");
        exit(1);
    }
    return { double(bytes.size()) / seconds / 1e6, cpu * 1e9 / double(bytes.size()) };
}

void printLatency(const char *what, Latency tirv, Latency socat)
{
    printf("%-34s TIRV p50 %7.1f us p99 %7.1f us | socat p50 %7.1f us p99 %7.1f us\n", what,
        tirv.p50Us, tirv.p99Us, socat.p50Us, socat.p99Us);
}

void benchLatency(const QString &dir, const LoopbackServers &servers)
{
    const QString echo = QString::number(servers.echoPort());
    Bridge plain = startTirv(dir, { QStringLiteral("COM1:%1:0:0").arg(echo) });
    Bridge packed = startTirv(dir, { QStringLiteral("COM2:%1:2:1").arg(echo) });
    for (int size : { 1, 64 }) {
        for (const Bridge *tirv : { &plain, &packed }) {
            Bridge socat = startSocat(dir, servers.echoPort());
            const bool isPacked = tirv == &packed;
            const auto [ours, theirs]
                = roundTrips(tirv->link, socat.link, size, isPacked ? 500 : 2000);
            stop(socat);
            const QByteArray what
                = QStringLiteral("round trip %1 B, %2")
                      .arg(size)
                      .arg(isPacked ? QStringLiteral("mode 2 param 1") : QStringLiteral("mode 0"))
                      .toLatin1();
            printLatency(what.constData(), ours, theirs);
        }
    }
    stop(plain);
    stop(packed);
}

void benchThroughput(const QString &dir, const LoopbackServers &servers, size_t size, int rounds)
{
    std::vector<char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = LoopbackServers::pattern(i);
    Bridge tirv = startTirv(dir,
        { QStringLiteral("COM3:%1:0:0").arg(servers.sinkPort()),
            QStringLiteral("COM4:%1:0:0").arg(servers.sourcePort()) });
    const QString links[2] = { tirv.link, dir + QStringLiteral("/COM4") };
    for (bool up : { true, false }) {
        std::vector<double> rate[2], cpu[2];
        for (int round = 0; round < rounds; ++round) {
            const Transfer ours = transfer(links[up ? 0 : 1], tirv.process->processId(), bytes, up);
            Bridge socat = startSocat(dir, up ? servers.sinkPort() : servers.sourcePort());
            const Transfer theirs = transfer(socat.link, socat.process->processId(), bytes, up);
            stop(socat);
            rate[0].push_back(ours.megabytesPerSecond);
            cpu[0].push_back(ours.cpuNsPerByte);
            rate[1].push_back(theirs.megabytesPerSecond);
            cpu[1].push_back(theirs.cpuNsPerByte);
        }
        printf("%-34s TIRV %6.1f MB/s %5.2f ns CPU/B | socat %6.1f MB/s %5.2f ns CPU/B "
               "(x%.2f)\n",
            up ? "program to device, median" : "device to program, median", median(rate[0]),
            median(cpu[0]), median(rate[1]), median(cpu[1]), median(rate[0]) / median(rate[1]));
    }
    stop(tirv);
}

void benchManyPorts(const QString &dir, const LoopbackServers &servers)
{
    for (int count : { 48, 255 }) {
        QStringList portArgs;
        for (int i = 1; i <= count; ++i)
            portArgs << QStringLiteral("COM%1:%2:2:1").arg(100 + i).arg(servers.echoPort());
        Bridge tirv = startTirv(dir, portArgs);
        QThread::sleep(1);
        const qint64 pid = tirv.process->processId();
        const double before = ProcessUsage::cpuSeconds(pid);
        QThread::sleep(5);
        printf("%3d idle ports                     TIRV RSS %6.1f MB, CPU %.2f %% of a core\n",
            count, double(ProcessUsage::residentKiB(pid)) / 1024.0,
            (ProcessUsage::cpuSeconds(pid) - before) / 5.0 * 100.0);
        stop(tirv);
    }
    Bridge socat = startSocat(dir, servers.echoPort());
    printf("one socat                          RSS %6.1f MB\n",
        double(ProcessUsage::residentKiB(socat.process->processId())) / 1024.0);
    stop(socat);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--serve"))
        return servePorts(args.mid(1));

    QTemporaryDir dir;
    qputenv("TIRV_PORT_DIR", dir.path().toLocal8Bit());
    const size_t megabytes = args.value(0, QStringLiteral("64")).toULong();
    const int rounds = args.value(1, QStringLiteral("5")).toInt();
    LoopbackServers servers(megabytes * 1024 * 1024);
    benchLatency(dir.path(), servers);
    benchThroughput(dir.path(), servers, megabytes * 1024 * 1024, rounds);
    benchManyPorts(dir.path(), servers);
    return 0;
}
