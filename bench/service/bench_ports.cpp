// The virtual ports of a private tirv-service beside socat on the same loopback servers, with a
// bare pseudo-terminal and bare TCP as the floor: round trips, verified throughput, CPU per
// byte, RFC 2217 beside RAW, the calls tirv-run carries, 64 busy ports with one fast one, idle
// ports; the least bridge beside them shows what is left to gain. One table; every
// figure is the median [min, max] of several rounds, and ratios are taken within each round, so
// that both sides see the same load. Run by hand:
//   bench_ports [--rounds N] [--mib N] [section...]
// Sections: floor idle latency throughput rfc2217 lines busy (all when none is named). The
// calls tirv-run carries are timed in a child under it ("--lines").

#include "baudwatcher.h"
#include "benchtable.h"
#include "leastbridge.h"
#include "loopbackservers.h"
#include "portprobe.h"
#include "privateservice.h"
#include "processusage.h"
#include "ptyecho.h"
#include "servicekeys.h"
#include "socatbridge.h"
#include "steadyload.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Samples = std::vector<double>;
using PortProbe::percentile;

const std::size_t kMiB = 1024 * 1024;
const int kBusyPorts = 64;

// What a round of the busy ports gives, per side.
enum BusyFigure {
    FastAlone,
    FastAmong,
    FastShare,
    SlowCpu,
    BusyCpu,
    QuietP99,
    SlowP50,
    SlowP99,
    kFigures
};

// How a benchmark port is made: the send mode and connect condition the window gives its
// ports, or send at once and stay connected, RAW or RFC 2217.
enum class Kind { Plain, Window, Rfc2217 };

// Ports of the private service, deleted with this. One set is alive at a time.
class TirvPorts
{
public:
    ~TirvPorts()
    {
        for (const ConnectionHandle handle : handles)
            sec_DeleteConnection(handle);
    }

    QString add(quint16 tcpPort, Kind kind)
    {
        using namespace ServiceKeys;
        const QString comName = QStringLiteral("COM%1").arg(handles.size() + 1);
        QVariantMap params;
        if (kind == Kind::Window)
            params = { { kSendMode, 2 }, { kSendModeParam, 1 } };
        if (kind == Kind::Rfc2217)
            params = { { kProtocolType, kProtocolRfc2217 } };
        const ConnectionHandle handle = PrivateService::addPort(
            comName, QStringLiteral("127.0.0.1"), tcpPort, kind == Kind::Window, params);
        if (handle < 0) {
            fprintf(stderr, "the service refused %s\n", qPrintable(comName));
            exit(1);
        }
        handles.push_back(handle);
        return PrivateService::linkPath(comName);
    }

private:
    std::vector<ConnectionHandle> handles;
};

// A program's descriptor, closed with this.
class Program
{
public:
    explicit Program(const QString &path)
        : fd(PortProbe::openRaw(path))
    {
    }
    explicit Program(int fd)
        : fd(fd)
    {
    }
    ~Program() { close(fd); }
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    const int fd;
};

// Runs work and returns the CPU seconds the processes spent meanwhile per second of it.
double cpuShare(const std::vector<qint64> &pids, const std::function<void()> &work)
{
    auto total = [&] {
        double seconds = 0;
        for (const qint64 pid : pids)
            seconds += ProcessUsage::cpuSeconds(pid);
        return seconds;
    };
    const double before = total();
    const auto start = Clock::now();
    work();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    return (total() - before) / elapsed;
}

void warmUp(const std::vector<int> &fds)
{
    for (const int fd : fds)
        PortProbe::roundTrips(fd, 20);
}

// The calls tirv-run carries, each timed 2000 times on a port and on a pty that is no port.
const char *const kLineCalls[]
    = { "TIOCMGET", "TIOCMBIS/TIOCMBIC RTS", "tcgetattr", "tcsetattr 7E1" };
const int kLineCallCount = 4;

// Microseconds per call, p50 and p99 of 2000.
std::pair<double, double> timeCalls(const std::function<void()> &call)
{
    Samples micros;
    for (int i = 0; i < 2000; ++i) {
        const auto start = Clock::now();
        call();
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return { percentile(micros, 50), percentile(micros, 99) };
}

// --lines LINK ROUNDS, under tirv-run: per round and call, a line "port p50, port p99, plain
// p50, plain p99".
int timeLineCalls(const QString &link, int rounds)
{
    const Program port(link);
    const Program plain(PortProbe::openPty().slave);
    termios attributes;
    tcgetattr(port.fd, &attributes);
    attributes.c_cflag = (attributes.c_cflag & ~CSIZE) | CS7 | PARENB;
    int lines = 0;
    bool rts = false;
    const std::function<void(int)> calls[kLineCallCount] = {
        [&](int fd) { ioctl(fd, TIOCMGET, &lines); },
        [&](int fd) {
            const int rtsLine = TIOCM_RTS;
            ioctl(fd, (rts = !rts) ? TIOCMBIS : TIOCMBIC, &rtsLine);
        },
        [&](int fd) { tcgetattr(fd, &attributes); },
        [&](int fd) { tcsetattr(fd, TCSANOW, &attributes); },
    };
    for (int round = 0; round < rounds; ++round)
        for (const auto &call : calls) {
            const auto onPort = timeCalls([&] { call(port.fd); });
            const auto onPlain = timeCalls([&] { call(plain.fd); });
            printf("%f %f %f %f\n", onPort.first, onPort.second, onPlain.first, onPlain.second);
        }
    return 0;
}

class Bench
{
public:
    Bench(const PrivateService &service, int rounds, std::size_t bytes)
        : service(service)
        , rounds(rounds)
        , bytes(bytes)
        , servers(bytes)
    {
    }

    void floor();
    void idle();
    void latency();
    void throughput();
    void rfc2217();
    void lines();
    void busy();

    BenchTable table;

private:
    QString socatLink() const
    {
        return socatDir.filePath(QStringLiteral("socat%1").arg(++socatCount));
    }
    std::vector<qint64> servicePid() const { return { service.pid() }; }
    void busyRound(const std::vector<int> &fds, const std::vector<qint64> &pids, Samples *figures);

    const PrivateService &service;
    const int rounds;
    const std::size_t bytes;
    LoopbackServers servers;
    QTemporaryDir socatDir;
    mutable int socatCount = 0;
};

void Bench::floor()
{
    table.section(QStringLiteral("floor: a bare pty echoed by a thread, bare loopback TCP"));
    PtyEcho pty;
    const Program tty(pty.slavePath());
    const Program tcp(PortProbe::connectLoopback(servers.echoPort()));
    warmUp({ tty.fd, tcp.fd });
    Samples latency[2], rate[2];
    for (int round = 0; round < rounds; ++round) {
        Samples micros[2];
        PortProbe::pairedRoundTrips(tty.fd, tcp.fd, 1000, &micros[0], &micros[1]);
        for (int side = 0; side < 2; ++side) {
            latency[side].push_back(percentile(micros[side], 50));
            rate[side].push_back(PortProbe::throughEcho(side ? tcp.fd : tty.fd, bytes));
        }
    }
    table.row(QStringLiteral("bare pty: 1 B round trip p50 (us)"), latency[0]);
    table.row(QStringLiteral("bare TCP: 1 B round trip p50 (us)"), latency[1]);
    table.row(QStringLiteral("bare pty: echo both ways (MB/s)"), rate[0]);
    table.row(QStringLiteral("bare TCP: echo both ways (MB/s)"), rate[1]);
}

// Connected ports to the echo, nobody opens them: what they cost while they wait.
void Bench::idle()
{
    table.section(QStringLiteral("idle ports, connected, send mode 2 with 1 ms"));
    for (const int count : { 48, 255 }) {
        TirvPorts ports;
        for (int i = 0; i < count; ++i)
            ports.add(servers.echoPort(), Kind::Plain);
        QThread::sleep(1);
        Samples cpu, resident;
        for (int round = 0; round < rounds; ++round) {
            cpu.push_back(100 * cpuShare(servicePid(), [] { QThread::sleep(1); }));
            resident.push_back(double(ProcessUsage::residentKiB(service.pid())) / 1024);
        }
        table.row(QStringLiteral("%1 idle ports: service RSS (MB)").arg(count), resident);
        table.row(QStringLiteral("%1 idle ports: service CPU (%)").arg(count), cpu);
    }
    SocatBridge socat(socatLink(), servers.echoPort());
    table.row(QStringLiteral("one socat: RSS (MB)"),
        { double(ProcessUsage::residentKiB(socat.pid())) / 1024 });
}

void Bench::latency()
{
    table.section(QStringLiteral("1-byte round trips through an echo"));
    TirvPorts ports;
    const Program plain(ports.add(servers.echoPort(), Kind::Plain));
    const Program window(ports.add(servers.echoPort(), Kind::Window));
    SocatBridge socat(socatLink(), servers.echoPort());
    const Program theirs(socat.link());
    LeastBridge least(socatDir.path(), servers.echoPort(), 1);
    const Program leastPort(least.link(0));
    warmUp({ plain.fd, window.fd, theirs.fd, leastPort.fd });
    // Columns: TIRV and socat in mode 0, in the window's mode, the least bridge and socat.
    Samples p50[6], p99[6], spread;
    for (int round = 0; round < rounds; ++round) {
        Samples micros[6];
        PortProbe::pairedRoundTrips(plain.fd, theirs.fd, 1000, &micros[0], &micros[1]);
        PortProbe::pairedRoundTrips(window.fd, theirs.fd, 300, &micros[2], &micros[3]);
        PortProbe::pairedRoundTrips(leastPort.fd, theirs.fd, 1000, &micros[4], &micros[5]);
        for (int i = 0; i < 6; ++i) {
            p50[i].push_back(percentile(micros[i], 50));
            p99[i].push_back(percentile(micros[i], 99));
        }
        spread.push_back(p99[2].back() - p50[2].back());
    }
    const QString name = QStringLiteral("socat");
    table.row(QStringLiteral("mode 0: p50 (us)"), p50[0], name, p50[1],
        BenchTable::Goal::RatioAtMost, 0.8);
    table.row(QStringLiteral("mode 0: p99 (us)"), p99[0], name, p99[1]);
    table.row(QStringLiteral("least bridge: p50 (us)"), p50[4], name, p50[5]);
    table.row(QStringLiteral("window (mode 2, 1 ms): p50 (us)"), p50[2], name, p50[3]);
    table.row(QStringLiteral("window: p99 (us)"), p99[2], name, p99[3]);
    table.row(QStringLiteral("window: p99 - p50 (us)"), spread, QString(), {},
        BenchTable::Goal::Below, 500);
}

void Bench::throughput()
{
    table.section(
        QStringLiteral("throughput, every byte checked, %1 MiB a transfer").arg(bytes / kMiB));
    TirvPorts ports;
    const Program toSink(ports.add(servers.sinkPort(), Kind::Plain));
    const Program toSinkWindow(ports.add(servers.sinkPort(), Kind::Window));
    const Program fromSource(ports.add(servers.sourcePort(), Kind::Plain));
    const Program echo(ports.add(servers.echoPort(), Kind::Plain));
    const Program echoWindow(ports.add(servers.echoPort(), Kind::Window));
    SocatBridge socat[3] = { { socatLink(), servers.sinkPort() },
        { socatLink(), servers.sourcePort() }, { socatLink(), servers.echoPort() } };
    const Program theirs[3]
        = { Program(socat[0].link()), Program(socat[1].link()), Program(socat[2].link()) };
    warmUp({ echo.fd, echoWindow.fd, theirs[2].fd });
    // Columns: TIRV mode 0, TIRV window, socat.
    Samples sink[3], sinkCpu[3], source[2], both[3];
    auto measureSink = [&](int column, int fd, qint64 pid) {
        double rate = 0;
        const double cpu = cpuShare({ pid }, [&] { rate = PortProbe::toSink(fd, bytes); });
        sink[column].push_back(rate);
        sinkCpu[column].push_back(cpu / rate * 1e3);
    };
    for (int round = 0; round < rounds; ++round) {
        measureSink(0, toSink.fd, service.pid());
        measureSink(1, toSinkWindow.fd, service.pid());
        measureSink(2, theirs[0].fd, socat[0].pid());
        source[0].push_back(PortProbe::fromSource(fromSource.fd, bytes));
        source[1].push_back(PortProbe::fromSource(theirs[1].fd, bytes));
        both[0].push_back(PortProbe::throughEcho(echo.fd, bytes));
        both[1].push_back(PortProbe::throughEcho(echoWindow.fd, bytes));
        both[2].push_back(PortProbe::throughEcho(theirs[2].fd, bytes));
    }
    const QString name = QStringLiteral("socat");
    table.row(QStringLiteral("to device, mode 0 (MB/s)"), sink[0], name, sink[2]);
    table.row(QStringLiteral("to device, window (MB/s)"), sink[1], name, sink[2],
        BenchTable::Goal::RatioAtLeast, 1.15);
    table.row(QStringLiteral("to device, mode 0: CPU (ns/B)"), sinkCpu[0], name, sinkCpu[2]);
    table.row(QStringLiteral("to device, window: CPU (ns/B)"), sinkCpu[1], name, sinkCpu[2]);
    table.row(QStringLiteral("to program (MB/s)"), source[0], name, source[1]);
    table.row(QStringLiteral("echo both ways, mode 0 (MB/s)"), both[0], name, both[2]);
    table.row(QStringLiteral("echo both ways, window (MB/s)"), both[1], name, both[2],
        BenchTable::Goal::RatioAtLeast, 1.15);
}

void Bench::rfc2217()
{
    table.section(QStringLiteral("RFC 2217 beside RAW, mode 0"));
    BaudWatcher device;
    TirvPorts ports;
    const Program raw(ports.add(servers.echoPort(), Kind::Plain));
    const Program telnet(ports.add(servers.echoPort(), Kind::Rfc2217));
    const Program settings(ports.add(device.port(), Kind::Rfc2217));
    warmUp({ raw.fd, telnet.fd });
    BaudWatcher::Clock::time_point at;
    // The settings sent at the open come first.
    if (!device.arrival(1, &at)) {
        fprintf(stderr, "no settings arrived\n");
        exit(1);
    }
    Samples rate[2], p50[2], settingsP99, settingsMax;
    termios attributes;
    tcgetattr(settings.fd, &attributes);
    for (int round = 0; round < rounds; ++round) {
        rate[0].push_back(PortProbe::throughEcho(raw.fd, bytes));
        rate[1].push_back(PortProbe::throughEcho(telnet.fd, bytes));
        Samples micros[2], toDevice;
        PortProbe::pairedRoundTrips(telnet.fd, raw.fd, 1000, &micros[1], &micros[0]);
        for (int i = 0; i < 2; ++i)
            p50[i].push_back(percentile(micros[i], 50));
        for (int i = 0; i < 200; ++i) {
            cfsetspeed(&attributes, i % 2 ? B9600 : B19200);
            const std::size_t seen = device.count();
            const auto start = Clock::now();
            tcsetattr(settings.fd, TCSANOW, &attributes);
            if (!device.arrival(seen + 1, &at)) {
                fprintf(stderr, "a SET-BAUDRATE did not arrive\n");
                exit(1);
            }
            toDevice.push_back(std::chrono::duration<double, std::micro>(at - start).count());
        }
        settingsP99.push_back(percentile(toDevice, 99));
        settingsMax.push_back(percentile(toDevice, 100));
    }
    const QString name = QStringLiteral("RAW");
    table.row(QStringLiteral("RFC 2217: echo both ways (MB/s)"), rate[1], name, rate[0],
        BenchTable::Goal::RatioAtLeast, 0.9);
    table.row(QStringLiteral("RFC 2217: 1 B round trip p50 (us)"), p50[1], name, p50[0],
        BenchTable::Goal::RatioAtMost, 1.1);
    table.row(QStringLiteral("tcsetattr to SET-BAUDRATE: p99 (us)"), settingsP99, QString(), {},
        BenchTable::Goal::Below, 5000);
    table.row(QStringLiteral("tcsetattr to SET-BAUDRATE: max (us)"), settingsMax);
}

void Bench::lines()
{
    table.section(QStringLiteral("calls tirv-run carries to an RFC 2217 port, beside a pty"));
    BaudWatcher device;
    TirvPorts ports;
    const QString link = ports.add(device.port(), Kind::Rfc2217);
    QProcess child;
    child.start(QStringLiteral(TIRV_RUN),
        { QCoreApplication::applicationFilePath(), QStringLiteral("--lines"), link,
            QString::number(rounds) });
    if (!child.waitForFinished(300000) || child.exitCode() != 0) {
        fprintf(stderr, "the timed calls failed\n");
        exit(1);
    }
    // [call][port p50, port p99, plain p50, plain p99]
    Samples figures[kLineCallCount][4];
    const QList<QByteArray> output = child.readAllStandardOutput().split('\n');
    for (int i = 0; i < rounds * kLineCallCount; ++i) {
        const QList<QByteArray> values = output.value(i).split(' ');
        for (int figure = 0; figure < 4; ++figure)
            figures[i % kLineCallCount][figure].push_back(values.value(figure).toDouble());
    }
    const QString name = QStringLiteral("pty");
    for (int call = 0; call < kLineCallCount; ++call) {
        const QString what = QString::fromLatin1(kLineCalls[call]);
        table.row(what + QStringLiteral(" p50 (us)"), figures[call][0], name, figures[call][2]);
        table.row(what + QStringLiteral(" p99 (us)"), figures[call][1], name, figures[call][3]);
    }
}

// Figures of one side: the fast port alone, the bridges' CPU with the slow ports alone, then
// with the fast port among them, the fast port's rate there, the slow ports' p50 and p99.
void Bench::busyRound(
    const std::vector<int> &fds, const std::vector<qint64> &pids, Samples *figures)
{
    const int fast = fds.back();
    const std::vector<int> slow(fds.begin(), fds.end() - 1);
    const double alone = PortProbe::throughEcho(fast, SIZE_MAX, 2);
    SteadyLoad load(slow);
    QThread::msleep(500);
    load.takeMicros();
    const double slowCpu = cpuShare(pids, [] { QThread::msleep(1500); });
    const Samples quiet = load.takeMicros();
    double among = 0;
    const double busyCpu
        = cpuShare(pids, [&] { among = PortProbe::throughEcho(fast, SIZE_MAX, 2); });
    const Samples micros = load.takeMicros();
    figures[FastAlone].push_back(alone);
    figures[FastAmong].push_back(among);
    figures[FastShare].push_back(among / alone);
    figures[SlowCpu].push_back(100 * slowCpu);
    figures[BusyCpu].push_back(100 * busyCpu);
    figures[QuietP99].push_back(percentile(quiet, 99));
    figures[SlowP50].push_back(percentile(micros, 50));
    figures[SlowP99].push_back(percentile(micros, 99));
}

void Bench::busy()
{
    table.section(QStringLiteral("%1 ports at 11.5 kB/s each way and one at full speed, "
                                 "window parameters; socat: %2 processes; least bridge: mode 0")
                      .arg(kBusyPorts)
                      .arg(kBusyPorts + 1));
    // Sides: TIRV, socat, the least bridge.
    const int kSides = 3;
    TirvPorts ports;
    std::vector<std::unique_ptr<SocatBridge>> socats;
    LeastBridge least(socatDir.path(), servers.echoPort(), kBusyPorts + 1);
    std::vector<std::unique_ptr<Program>> programs[kSides];
    std::vector<int> fds[kSides];
    std::vector<qint64> pids[kSides] = { servicePid(), {}, { least.pid() } };
    for (int i = 0; i <= kBusyPorts; ++i) {
        socats.push_back(std::make_unique<SocatBridge>(socatLink(), servers.echoPort()));
        pids[1].push_back(socats.back()->pid());
        programs[0].push_back(
            std::make_unique<Program>(ports.add(servers.echoPort(), Kind::Window)));
        programs[1].push_back(std::make_unique<Program>(socats.back()->link()));
        programs[2].push_back(std::make_unique<Program>(least.link(i)));
        for (int side = 0; side < kSides; ++side)
            fds[side].push_back(programs[side].back()->fd);
    }
    for (int side = 0; side < kSides; ++side)
        warmUp(fds[side]);
    Samples figures[kSides][kFigures];
    for (int round = 0; round < rounds; ++round)
        for (int side = 0; side < kSides; ++side)
            busyRound(fds[side], pids[side], figures[side]);
    const QString name = QStringLiteral("socat");
    auto row = [&](const QString &what, BusyFigure figure,
                   BenchTable::Goal goal = BenchTable::Goal::None, double bound = 0) {
        table.row(what, figures[0][figure], name, figures[1][figure], goal, bound);
    };
    auto leastRow = [&](const QString &what, BusyFigure figure) {
        table.row(
            QStringLiteral("least bridge: ") + what, figures[2][figure], name, figures[1][figure]);
    };
    const QString share = QStringLiteral("fast port among the busy / alone");
    const QString cpu = QStringLiteral("CPU, %1 busy + 1 fast (% of a core)").arg(kBusyPorts);
    const QString slowP99 = QStringLiteral("busy + fast, 115 B round trip p99 (us)");
    row(QStringLiteral("fast port alone, echo (MB/s)"), FastAlone);
    row(QStringLiteral("fast port among the busy (MB/s)"), FastAmong);
    row(share, FastShare, BenchTable::Goal::AtLeast, 0.9);
    row(QStringLiteral("CPU, %1 busy ports (% of a core)").arg(kBusyPorts), SlowCpu);
    row(cpu, BusyCpu, BenchTable::Goal::RatioAtMost, 0.5);
    row(QStringLiteral("busy ports alone, 115 B round trip p99 (us)"), QuietP99);
    row(QStringLiteral("busy + fast, 115 B round trip p50 (us)"), SlowP50);
    row(slowP99, SlowP99, BenchTable::Goal::Below, 2000);
    leastRow(share, FastShare);
    leastRow(cpu, BusyCpu);
    leastRow(slowP99, SlowP99);
}

struct Options
{
    int rounds = 5;
    std::size_t bytes = 32 * kMiB;
    QStringList sections;
};

bool parse(const QStringList &args, Options *options)
{
    for (int i = 0; i < args.size(); ++i) {
        bool ok = true;
        if (args[i] == QLatin1String("--rounds"))
            options->rounds = args.value(++i).toInt(&ok);
        else if (args[i] == QLatin1String("--mib"))
            options->bytes = args.value(++i).toULong(&ok) * kMiB;
        else
            options->sections << args[i];
        if (!ok || options->rounds < 1 || options->bytes == 0)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--lines"))
        return timeLineCalls(args.value(1), args.value(2).toInt());
    if (args.value(0) == QLatin1String("--least-bridge"))
        return LeastBridge::run(args.value(1).toUShort(), args.value(2).toInt(), args.value(3));
    Options options;
    if (!parse(args, &options)) {
        fprintf(stderr, "usage: bench_ports [--rounds N] [--mib N] [section...]\n");
        return 2;
    }
    PrivateService service;
    if (!service.start()) {
        fprintf(stderr, "the private service did not start\n");
        return 1;
    }
    Bench bench(service, options.rounds, options.bytes);
    const std::vector<std::pair<QString, void (Bench::*)()>> sections = {
        { QStringLiteral("floor"), &Bench::floor },
        { QStringLiteral("idle"), &Bench::idle },
        { QStringLiteral("latency"), &Bench::latency },
        { QStringLiteral("throughput"), &Bench::throughput },
        { QStringLiteral("rfc2217"), &Bench::rfc2217 },
        { QStringLiteral("lines"), &Bench::lines },
        { QStringLiteral("busy"), &Bench::busy },
    };
    QFile load(QStringLiteral("/proc/loadavg"));
    load.open(QIODevice::ReadOnly);
    printf("%d rounds; load average at the start: %s\n", options.rounds,
        load.readLine().trimmed().constData());
    bench.table.printHeader();
    for (const auto &[name, run] : sections)
        if (options.sections.isEmpty() || options.sections.contains(name))
            (bench.*run)();
    printf("%d of %d goals met\n", bench.table.goals() - bench.table.missed(), bench.table.goals());
    return 0;
}
