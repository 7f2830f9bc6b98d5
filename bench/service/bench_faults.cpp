// The service under faults, measured the same way before and after a change. Run by hand:
//   bench_faults [section...]        (every section when none is named)
// Each section runs a tirv-service of its own in temporary folders and prints its figures. To
// add one, write its function and give it a row in kSections.

#include "deviceserver.h"
#include "privateservice.h"
#include "processusage.h"
#include "servicekeys.h"
#include "servicepaths.h"
#include "serviceprotocol.h"
#include "testnetwork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const int kKiB = 1024;
const int kHold = 64 * kKiB;

// Runs the event loop until done() holds or ms pass; true when done() held.
bool runUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.hasExpired(ms))
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

void runFor(int ms)
{
    runUntil([] { return false; }, ms);
}

// Records of "%09u\n": every 10 bytes say where they stand, so gaps and repeats show.
QByteArray countingRecords(int first, int count)
{
    QByteArray bytes;
    for (int i = first; i < first + count; ++i)
        bytes += QByteArray::number(i).rightJustified(9, '0') + '\n';
    return bytes;
}

bool writeAll(int fd, const char *bytes, size_t size)
{
    while (size > 0) {
        const ssize_t count = write(fd, bytes, size);
        if (count <= 0)
            return false;
        bytes += count;
        size -= size_t(count);
    }
    return true;
}

// --- away: a writer while the device's address does not answer

void awayRound(TestNetwork &net, DeviceServer &device, int delaySeconds)
{
    const QString comName = QStringLiteral("COM%1").arg(delaySeconds + 1);
    net.setDeviceLinkUp(false);
    device.received.clear();
    const ConnectionHandle handle
        = PrivateService::addPort(comName, TestNetwork::deviceAddress(), device.port());
    runFor(delaySeconds * 1000);

    const QByteArray burst = countingRecords(0, 200 * kKiB / 10);
    const int fd = open(
        QFile::encodeName(PrivateService::linkPath(comName)).constData(), O_WRONLY | O_NOCTTY);
    std::atomic<double> took { -1 };
    std::thread writer([&] {
        QElapsedTimer clock;
        clock.start();
        if (write(fd, burst.constData(), size_t(burst.size())) == burst.size())
            took = clock.nsecsElapsed() / 1e9;
    });
    // The device comes back once the write returned, or after 20 s.
    const bool returned = runUntil([&] { return took >= 0; }, 20000);
    net.setDeviceLinkUp(true);
    runUntil([&] { return took >= 0 && device.received.size() >= kHold; }, 30000);
    runFor(2000);
    writer.join();
    close(fd);
    sec_DeleteConnection(handle);

    const QByteArray &got = device.received;
    printf("  written %d s after the open: write() took %5.2f s%s; then %d bytes arrived%s\n",
        delaySeconds, took.load(), returned ? "" : " (until the device came back)", got.size(),
        burst.startsWith(got) ? ", the first ones written" : ", NOT a prefix of what was written");
}

// 200 KiB in one write() to a port whose device's address does not answer (a veth peer set down
// in a network namespace of this process), at the open and 4 s after it.
void measureAway()
{
    TestNetwork net;
    if (!net.isReady()) {
        puts("  skipped: it needs root, for a network namespace of its own");
        return;
    }
    PrivateService service;
    // On the device's side of the network, keeping every byte it receives.
    DeviceServer device;
    bool listening = false;
    net.onDeviceSide(
        [&] { listening = device.listen(0, QHostAddress(TestNetwork::deviceAddress())); });
    if (!listening || !service.start()) {
        puts("  failed: no service or no device");
        return;
    }
    for (const int delay : { 0, 4 })
        awayRound(net, device, delay);
}

// --- kills: a counting stream while the device is killed and restarted

// What the device got, against what was written: bytes missing (and where), or a mix-up.
struct Losses
{
    std::vector<int> gapStarts;
    std::vector<int> gapSizes;
    bool intact = true;
};

Losses compare(const QByteArray &sent, const QByteArray &received)
{
    Losses losses;
    int s = 0;
    for (int r = 0; r < received.size();) {
        while (r < received.size() && s < sent.size() && received[r] == sent[s]) {
            ++r;
            ++s;
        }
        if (r == received.size())
            break;
        const int resumed = sent.indexOf(received.mid(r, 32), s);
        if (resumed < 0) {
            losses.intact = false;
            break;
        }
        losses.gapStarts.push_back(s);
        losses.gapSizes.push_back(resumed - s);
        s = resumed;
    }
    return losses;
}

// The device as its own process (this program with --echo-device), so that it can be killed.
class EchoDevice
{
public:
    explicit EchoDevice(quint16 port)
        : port(port)
    {
    }
    void start()
    {
        process = std::make_unique<QProcess>();
        QObject::connect(process.get(), &QProcess::readyReadStandardOutput,
            [this] { received += process->readAllStandardOutput(); });
        process->start(QCoreApplication::applicationFilePath(),
            { QStringLiteral("--echo-device"), QString::number(port) });
        process->waitForStarted();
    }
    void kill()
    {
        process->kill();
        process->waitForFinished();
        received += process->readAllStandardOutput();
        process.reset();
    }

    QByteArray received;

private:
    quint16 port;
    std::unique_ptr<QProcess> process;
};

// Receives, writes what it got to stdout, and echoes it as a device does, dropping the echo
// rather than waiting when the other side does not read it.
int runEchoDevice(quint16 port)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || listen(listener, 1) != 0)
        return 1;
    for (;;) {
        const int connection = accept(listener, nullptr, nullptr);
        char bytes[65536];
        ssize_t count;
        while ((count = read(connection, bytes, sizeof bytes)) > 0) {
            writeAll(STDOUT_FILENO, bytes, size_t(count));
            send(connection, bytes, size_t(count), MSG_DONTWAIT | MSG_NOSIGNAL);
        }
        close(connection);
    }
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// A program writes 200 bytes every 10 ms and never reads; the device echoes. After 5 s (the
// echo has filled what waits for the program by then) the device is killed three times, 2.5 s
// apart, each time once it took what it was sent, and restarted 0.5 s after each kill.
void measureKills()
{
    PrivateService service;
    if (!service.start()) {
        puts("  failed: no service");
        return;
    }
    const quint16 tcpPort = freeLoopbackPort();
    EchoDevice device(tcpPort);
    device.start();
    const ConnectionHandle handle
        = PrivateService::addPort(QStringLiteral("COM1"), QStringLiteral("127.0.0.1"), tcpPort);
    const int fd = open(
        QFile::encodeName(PrivateService::linkPath(QStringLiteral("COM1"))), O_WRONLY | O_NOCTTY);
    QByteArray sent;
    QTimer writer;
    QObject::connect(&writer, &QTimer::timeout, [&] {
        const QByteArray records = countingRecords(sent.size() / 10, 20);
        if (writeAll(fd, records.constData(), size_t(records.size())))
            sent += records;
    });
    writer.start(10);
    QElapsedTimer clock;
    clock.start();
    std::vector<int> killedAt;
    for (const int at : { 5000, 7500, 10000 }) {
        runFor(int(at - clock.elapsed()));
        // The device takes all it was sent before it dies: nothing waits unread in its socket,
        // so whatever is missing afterwards the service lost.
        writer.stop();
        runUntil([&] { return device.received.size() >= sent.size(); }, 200);
        device.kill();
        writer.start();
        killedAt.push_back(sent.size());
        runFor(500);
        device.start();
    }
    runFor(2000);
    writer.stop();
    runUntil([&] { return device.received.size() >= sent.size(); }, 10000);
    device.kill();
    close(fd);
    sec_DeleteConnection(handle);

    const Losses losses = compare(sent, device.received);
    std::vector<int> lostPerKill(killedAt.size(), 0);
    for (size_t i = 0; i < losses.gapStarts.size(); ++i) {
        size_t nearest = 0;
        for (size_t k = 1; k < killedAt.size(); ++k)
            if (qAbs(killedAt[k] - losses.gapStarts[i])
                < qAbs(killedAt[nearest] - losses.gapStarts[i]))
                nearest = k;
        lostPerKill[nearest] += losses.gapSizes[i];
    }
    printf("  %d bytes written at 20 kB/s, %d arrived%s\n", sent.size(), device.received.size(),
        losses.intact ? ", in order, none twice" : "; CORRUPTED or REPEATED");
    printf("  bytes lost per kill:");
    for (const int lost : lostPerKill)
        printf(" %d", lost);
    printf("\n");
}

// --- closes: the service's CPU for a burst of opens and closes

// The service's CPU from the first open until it has caught up: its CPU time stands still for
// half a second. pauseUs between the steps lets it see each program on its own.
double closesCpu(qint64 service, const QByteArray &link, int pauseUs)
{
    const double before = ProcessUsage::cpuSeconds(service);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 1000; ++i) {
        const int fd = open(link.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        usleep(useconds_t(pauseUs));
        close(fd);
        usleep(useconds_t(pauseUs));
    }
    double last = -1;
    while (ProcessUsage::cpuSeconds(service) != last && clock.elapsed() < 120000) {
        last = ProcessUsage::cpuSeconds(service);
        runFor(500);
    }
    return last - before;
}

void measureCloses()
{
    PrivateService service;
    if (!service.start()) {
        puts("  failed: no service");
        return;
    }
    const ConnectionHandle handle = PrivateService::addPort(
        QStringLiteral("COM1"), QStringLiteral("127.0.0.1"), freeLoopbackPort());
    const QByteArray link = QFile::encodeName(PrivateService::linkPath(QStringLiteral("COM1")));
    runFor(1000);
    printf(
        "  at once: the service used %.2f s of CPU for them\n", closesCpu(service.pid(), link, 0));
    printf("  1 ms apart: the service used %.2f s of CPU for them\n",
        closesCpu(service.pid(), link, 500));
    sec_DeleteConnection(handle);
}

// --- slow: clients that ask for the whole table again and again and read slowly

const int kSlowClients = 60;
const int kSlowPorts = 255;
// Each slow client asks this many times in one go, then reads 4 KiB every 50 ms for 8 s.
const int kSlowRequests = 200;
const int kSlowSeconds = 8;

int connectToService()
{
    QString error;
    const QByteArray path
        = QFile::encodeName(ServicePaths::socketPath(ServicePaths::runtimeDirectory(&error)));
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

// The window's listing every 20 ms, from a thread of its own until stop is set: the longest.
double worstListingMs(const std::atomic<bool> &stop, int *failures)
{
    double worst = 0;
    while (!stop) {
        QElapsedTimer clock;
        clock.start();
        QVariant list;
        if (!sec_GetConnectionsList(&list) || list.toList().size() != kSlowPorts)
            ++*failures;
        worst = std::max(worst, clock.nsecsElapsed() / 1e6);
        QThread::msleep(20);
    }
    return worst;
}

void measureSlowClients()
{
    PrivateService service;
    if (!service.start()) {
        puts("  failed: no service");
        return;
    }
    for (int i = 0; i < kSlowPorts; ++i)
        PrivateService::addPort(
            QStringLiteral("COM%1").arg(i + 1), QStringLiteral("127.0.0.1"), 9, true);
    const long before = ProcessUsage::residentKiB(service.pid());
    std::atomic<bool> stop { false };
    int failures = 0;
    double worst = 0;
    std::thread other([&] { worst = worstListingMs(stop, &failures); });

    const QByteArray requests
        = ServiceProtocol::encodeRequest({ ConnectionService::GetConnectionsList, -1, 0, 0 })
              .repeated(kSlowRequests);
    std::vector<int> clients;
    for (int i = 0; i < kSlowClients; ++i) {
        const int fd = connectToService();
        if (fd >= 0 && send(fd, requests.constData(), size_t(requests.size()), MSG_NOSIGNAL) > 0)
            clients.push_back(fd);
    }
    QElapsedTimer clock;
    clock.start();
    qint64 received = 0;
    while (clock.elapsed() < kSlowSeconds * 1000) {
        char scrap[4 * kKiB];
        for (const int fd : clients)
            received += std::max<ssize_t>(0, recv(fd, scrap, sizeof scrap, MSG_DONTWAIT));
        QThread::msleep(50);
    }
    stop = true;
    other.join();
    for (const int fd : clients)
        close(fd);
    QThread::sleep(3);

    printf("  %zu clients read %.1f MiB of answers in %d s\n", clients.size(),
        double(received) / (kKiB * kKiB), kSlowSeconds);
    printf("  service memory: %.1f MiB before, %.1f MiB at the peak, %.1f MiB 3 s after they "
           "left\n",
        before / double(kKiB), ProcessUsage::peakResidentKiB(service.pid()) / double(kKiB),
        ProcessUsage::residentKiB(service.pid()) / double(kKiB));
    printf("  another client's listing every 20 ms meanwhile: the longest took %.1f ms, %d "
           "failed\n",
        worst, failures);
}

// --- saves: a crash after a save that failed

// The connections in the saved file; -1 when it holds no table.
int savedConnections()
{
    QFile state(ServicePaths::stateDirectory() + QStringLiteral("/connections.json"));
    if (!state.open(QIODevice::ReadOnly))
        return -1;
    const QJsonValue connections
        = QJsonDocument::fromJson(state.readAll()).object().value(QStringLiteral("connections"));
    return connections.isArray() ? connections.toArray().size() : -1;
}

bool listingSaysNotSaved()
{
    QVariant list;
    sec_GetConnectionsList(&list);
    return !serviceStatus().value(ServiceKeys::kSaveError).toString().isEmpty();
}

// Ports that connect only while a program has them open, so nothing else happens meanwhile.
int addPorts(int count)
{
    QVariant list;
    sec_GetConnectionsList(&list);
    const int first = list.toList().size() + 1;
    int added = 0;
    for (int n = first; n < first + count; ++n)
        added += PrivateService::addPort(
                     QStringLiteral("COM%1").arg(n), QStringLiteral("127.0.0.1"), 9, true)
            > 0;
    return added;
}

// Fills the file system up, or makes the folder read-only (a read-only mount over it, as the
// service's log is open for writing on the file system); then the other way back.
bool setDiskFault(const QByteArray &folder, bool readOnly, bool on)
{
    const char *path = folder.constData();
    if (readOnly && !on)
        return umount2(path, 0) == 0;
    if (readOnly)
        return mount(path, path, nullptr, MS_BIND, nullptr) == 0
            && mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    const QString filler = QFile::decodeName(folder) + QStringLiteral("/filler");
    if (!on)
        return QFile::remove(filler);
    QFile file(filler);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray chunk(4096, 'f');
    while (file.write(chunk) == chunk.size()) { }
    return true;
}

// `before` ports are saved, the disk fails, `during` more are made; the service is killed and
// started again. Then `during` more are made on the failing disk, and the disk is repaired.
void crashAndRepair(
    PrivateService &service, const QByteArray &folder, bool readOnly, int before, int during)
{
    setDiskFault(folder, readOnly, true);
    const int made = before + addPorts(during);
    const bool told = runUntil(listingSaysNotSaved, 3000);
    kill(pid_t(service.pid()), SIGKILL);
    service.start();
    QVariant list;
    sec_GetConnectionsList(&list);
    const int back = list.toList().size();
    printf("%d ports saved, then %d made while saves fail; the listing told: %s\n"
           "    after a crash, %d of the %d ports came back\n",
        before, made - before, told ? "yes" : "no", back, made);

    const int pending = back + addPorts(during);
    runUntil(listingSaysNotSaved, 3000); // and the save of those changes has been tried
    setDiskFault(folder, readOnly, false);
    QElapsedTimer clock;
    clock.start();
    if (runUntil([&] { return savedConnections() == pending; }, 15000))
        printf("    %d more made while saves fail, then the disk repaired: saved %.1f s later\n",
            pending - back, clock.elapsed() / 1000.0);
    else
        printf("    %d more made while saves fail, then the disk repaired: not saved in 15 s\n",
            pending - back);
}

void saveRound(const char *fault, bool readOnly, int before, int during)
{
    PrivateService service;
    const QByteArray folder = QFile::encodeName(ServicePaths::stateDirectory());
    printf("  %s: ", fault);
    if (mount("tirv-bench", folder.constData(), "tmpfs", 0, "size=256k,mode=0700") == 0
        && service.start() && addPorts(before) == before
        && runUntil([&] { return savedConnections() == before; }, 5000))
        crashAndRepair(service, folder, readOnly, before, during);
    else
        puts("failed to set up");
    service.stop();
    umount2(folder.constData(), MNT_DETACH);
}

// Run in a process of its own (--saves), in a mount namespace made before any thread starts.
int runSaveRounds(int argc, char *argv[])
{
    if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0
        || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        puts("  skipped: it needs root, for a mount namespace of its own");
        return 0;
    }
    QCoreApplication app(argc, argv);
    saveRound("full disk", false, 4, 1);
    saveRound("read-only disk", true, 10, 48);
    return 0;
}

// The state folder on a small tmpfs that fills up or turns read-only under the service.
void measureSaves()
{
    QProcess rounds;
    rounds.setProcessChannelMode(QProcess::ForwardedChannels);
    rounds.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--saves") });
    rounds.waitForFinished(-1);
}

struct Section
{
    const char *name;
    const char *title;
    void (*measure)();
};

const Section kSections[] = {
    { "away", "a writer while the device does not answer: 200 KiB in one write()", measureAway },
    { "kills", "a device killed 3 times during a counting stream", measureKills },
    { "closes", "a burst of 1000 opens and closes of a port", measureCloses },
    { "slow", "60 clients ask 200 times each for the listing of 255 ports and read slowly",
        measureSlowClients },
    { "saves", "ports back after a crash that followed a failed save", measureSaves },
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && strcmp(argv[1], "--echo-device") == 0)
        return runEchoDevice(quint16(atoi(argv[2])));
    if (argc == 2 && strcmp(argv[1], "--saves") == 0)
        return runSaveRounds(argc, argv);
    QCoreApplication app(argc, argv);
    const QStringList wanted = app.arguments().mid(1);
    for (const Section &section : kSections) {
        if (!wanted.isEmpty() && !wanted.contains(QLatin1String(section.name)))
            continue;
        printf("%s: %s\n", section.name, section.title);
        fflush(stdout);
        section.measure();
        fflush(stdout);
    }
    return 0;
}
