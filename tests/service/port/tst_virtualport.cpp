#include "deviceserver.h"
#include "lineprotocol.h"
#include "portdirectory.h"
#include "portfixture.h"
#include "portlink.h"
#include "programend.h"

#include <QSocketNotifier>
#include <QTcpServer>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

bool isLink(const QString &path)
{
    return QFileInfo(path).isSymLink();
}

qint64 cpuMicroseconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec
        + usage.ru_stime.tv_usec;
}

// CPU time the process spends while its event loop idles for ms.
qint64 idleCpuMicroseconds(int ms)
{
    const qint64 before = cpuMicroseconds();
    QTest::qWait(ms);
    return cpuMicroseconds() - before;
}

// A TCP port on loopback where nothing listens: every connect is refused.
quint16 refusingPort()
{
    DeviceServer probe;
    probe.listen();
    const quint16 port = probe.port();
    probe.stop();
    return port;
}

// A pseudo-terminal of another program, its slave held open as a terminal or socat does.
class ForeignPty
{
public:
    ForeignPty()
        : master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        grantpt(master);
        unlockpt(master);
        path = QString::fromLocal8Bit(ptsname(master));
        slave = ::open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~ForeignPty()
    {
        ::close(slave);
        ::close(master);
    }

    QString path;

private:
    int master;
    int slave = -1;
};

// Places a port link from a child process as another service would: to slave, the child then
// ending at once without removing it; or, when slave is empty, to a pty of the child's own whose
// master it holds, as a service does, until killed. Its pid, or -1.
pid_t linkFromOtherService(const QString &comName, const QString &slave)
{
    const bool livesOn = slave.isEmpty();
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        const int master = livesOn ? posix_openpt(O_RDWR | O_NOCTTY) : -1;
        if (livesOn)
            unlockpt(master);
        PortDirectory directory;
        // Never destroyed: _exit skips it.
        PortLink link(directory, livesOn ? QString::fromLocal8Bit(ptsname(master)) : slave);
        QString reason;
        const char placed = directory.open(&reason) && link.place(comName, &reason) ? 1 : 0;
        ::write(ready[1], &placed, 1);
        if (livesOn)
            pause();
        _exit(0);
    }
    ::close(ready[1]);
    char placed = 0;
    ::read(ready[0], &placed, 1);
    ::close(ready[0]);
    if (!livesOn)
        waitpid(child, nullptr, 0);
    return placed ? child : -1;
}

// A program holding the port open whose /proc entry the service cannot look into: another
// user's, or (when the test is not root) one that is not dumpable. What it reads, it passes on.
class HiddenProgram
{
public:
    explicit HiddenProgram(const QByteArray &path)
    {
        int relay[2];
        if (pipe2(relay, O_CLOEXEC) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY);
            hide();
            char bytes[256];
            ssize_t count = fd < 0 ? 0 : ::write(relay[1], "+", 1);
            while (count > 0 && (count = ::read(fd, bytes, sizeof bytes)) > 0)
                ::write(relay[1], bytes, size_t(count));
            _exit(0);
        }
        ::close(relay[1]);
        output = relay[0];
        char ready = 0;
        running = pid > 0 && ::read(output, &ready, 1) == 1;
        fcntl(output, F_SETFL, O_NONBLOCK);
        relayed = std::make_unique<QSocketNotifier>(output, QSocketNotifier::Read);
        QObject::connect(relayed.get(), &QSocketNotifier::activated, [this] {
            char bytes[256];
            ssize_t count;
            while ((count = ::read(output, bytes, sizeof bytes)) > 0)
                received.append(bytes, int(count));
        });
    }
    ~HiddenProgram()
    {
        relayed.reset();
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (output >= 0)
            ::close(output);
    }

    bool isRunning() const { return running; }

    QByteArray received;

private:
    // Root sees into anything not dumpable, so as root the program becomes another user.
    static void hide()
    {
        if (geteuid() == 0) {
            syscall(SYS_setresgid, 65534, 65534, 65534);
            syscall(SYS_setresuid, 65534, 65534, 65534);
            prctl(PR_SET_DUMPABLE, 1);
        } else {
            prctl(PR_SET_DUMPABLE, 0);
        }
    }

    pid_t pid = -1;
    int output = -1;
    bool running = false;
    std::unique_ptr<QSocketNotifier> relayed;
};

// Takes CAP_SYS_ADMIN out of effect while it lives: a slave left exclusive then locks this
// process out as it locks out an ordinary user.
class WithoutAdmin
{
public:
    WithoutAdmin()
    {
        syscall(SYS_capget, &header, saved);
        __user_cap_data_struct reduced[2] = { saved[0], saved[1] };
        reduced[0].effective &= ~(1u << CAP_SYS_ADMIN);
        syscall(SYS_capset, &header, reduced);
    }
    ~WithoutAdmin() { syscall(SYS_capset, &header, saved); }

private:
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct saved[2] {};
};

} // namespace

class TestVirtualPort : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void portDirectoryFollowsEnvironment_data();
    void portDirectoryFollowsEnvironment();
    void slaveIsPrivateAndStartsClean_data();
    void slaveIsPrivateAndStartsClean();
    void statesFollowOpenAndClose_data();
    void statesFollowOpenAndClose();
    void hiddenProgramKeepsThePort();
    void typedHostReachesTheDevice_data();
    void typedHostReachesTheDevice();
    void renameMovesLinkAndDeleteRemovesIt();
    void existingPathAtLink_data();
    void existingPathAtLink();
    void badSettingsFailTheStart_data();
    void badSettingsFailTheStart();
    void openCloseCyclesLeakNothing_data();
    void openCloseCyclesLeakNothing();
    void manyPortsComeAndGo();
};

// Each case starts with an empty port directory of its own.
void TestVirtualPort::init()
{
    QDir dir(PortFixture::portDir());
    QVERIFY(dir.removeRecursively());
    QVERIFY(dir.mkpath(QStringLiteral(".")));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestVirtualPort::portDirectoryFollowsEnvironment_data()
{
    QTest::addColumn<bool>("override");
    QTest::addColumn<QString>("expectedUnderRuntime");

    QTest::newRow("TIRV_PORT_DIR wins") << true << QString();
    QTest::newRow("runtime folder otherwise") << false << QStringLiteral("/tirv");
}

void TestVirtualPort::portDirectoryFollowsEnvironment()
{
    QFETCH(bool, override);
    QFETCH(QString, expectedUnderRuntime);
    const QByteArray saved = qgetenv("TIRV_PORT_DIR");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString nested = runtime + QStringLiteral("/a/b/ports");
    if (override)
        qputenv("TIRV_PORT_DIR", encoded(nested));
    else
        qunsetenv("TIRV_PORT_DIR");
    PortDirectory directory;
    PortDirectory later;
    qputenv("TIRV_PORT_DIR", saved);

    const QString dir = directory.path();
    QCOMPARE(dir, override ? nested : runtime + expectedUnderRuntime);
    QString reason;
    QVERIFY2(directory.open(&reason), qPrintable(reason));
    struct stat st;
    QCOMPARE(lstat(encoded(dir).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), 0700);
    chmod(encoded(dir).constData(), 0770);
    QVERIFY(!later.open(&reason));
}

void TestVirtualPort::slaveIsPrivateAndStartsClean_data()
{
    QTest::addColumn<bool>("exclusive");

    QTest::newRow("settings left behind") << false;
    // Only a privileged process may open a slave left exclusive: the port gets a fresh one.
    QTest::newRow("settings and exclusive mode left behind") << true;
}

void TestVirtualPort::slaveIsPrivateAndStartsClean()
{
    QFETCH(bool, exclusive);
    const WithoutAdmin ordinaryUser;
    PortFixture ports;
    QVERIFY(ports.startPort(QStringLiteral("COM3"), refusingPort(), { 1 }) > 0);
    const QString link = PortFixture::linkPath(QStringLiteral("COM3"));
    const QString slave = QFileInfo(link).symLinkTarget();
    QVERIFY2(slave.startsWith(QLatin1String("/dev/pts/")), qPrintable(slave));
    struct stat st;
    QCOMPARE(stat(encoded(slave).constData(), &st), 0);
    QCOMPARE(st.st_uid, getuid());
    QCOMPARE(int(st.st_mode & 0077), 0);

    // What one program sets and leaves behind does not reach the next one.
    int fd = ::open(encoded(link).constData(), O_RDWR | O_NOCTTY);
    termios attributes;
    tcgetattr(fd, &attributes);
    attributes.c_lflag |= ICANON | ECHO;
    attributes.c_iflag |= IXON | IXOFF;
    attributes.c_cflag |= CSTOPB | HUPCL | CRTSCTS;
    attributes.c_cc[VMIN] = 0;
    attributes.c_cc[VTIME] = 5;
    cfsetspeed(&attributes, B115200);
    tcsetattr(fd, TCSANOW, &attributes);
    if (exclusive)
        ioctl(fd, TIOCEXCL);
    QVERIFY(waitFor([&] { return ports.state(ports.lastHandle) == 2; }));
    ::close(fd);
    QVERIFY(waitFor([&] { return ports.state(ports.lastHandle) == 1; }));
    fd = ::open(encoded(link).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    tcgetattr(fd, &attributes);
    QCOMPARE(attributes.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    QCOMPARE(attributes.c_iflag & (IXON | IXOFF | ICRNL), tcflag_t(0));
    QCOMPARE(attributes.c_cflag & (CSIZE | PARENB | CSTOPB | HUPCL | CRTSCTS), tcflag_t(CS8));
    QCOMPARE(cfgetospeed(&attributes), speed_t(B9600));
    QCOMPARE(attributes.c_cc[VMIN], cc_t(1));
    QCOMPARE(attributes.c_cc[VTIME], cc_t(0));
    int stillExclusive = 1;
    QCOMPARE(ioctl(fd, TIOCGEXCL, &stillExclusive), 0);
    QCOMPARE(stillExclusive, 0);
    ::close(fd);
}

void TestVirtualPort::statesFollowOpenAndClose_data()
{
    QTest::addColumn<int>("openCondition");
    QTest::addColumn<QString>("upWhileClosed");
    QTest::addColumn<bool>("opensTogether");
    QTest::addColumn<bool>("closesTogether");

    QTest::newRow("connected from the start") << 0 << QStringLiteral("1") << false << false;
    QTest::newRow("connected while open") << 1 << QStringLiteral("0") << false << false;
    // Identical events in a row reach the port as one.
    QTest::newRow("two opens back to back") << 1 << QStringLiteral("0") << true << false;
    QTest::newRow("two closes back to back") << 0 << QStringLiteral("1") << false << true;
}

void TestVirtualPort::statesFollowOpenAndClose()
{
    QFETCH(int, openCondition);
    QFETCH(QString, upWhileClosed);
    QFETCH(bool, opensTogether);
    QFETCH(bool, closesTogether);
    DeviceServer device;
    QVERIFY(device.listen());
    PortFixture ports;
    const ConnectionHandle handle
        = ports.startPort(QStringLiteral("COM3"), device.port(), { openCondition });
    QVERIFY(waitFor([&] { return ports.remoteUp(handle) == upWhileClosed; }));
    QCOMPARE(ports.state(handle), 1);

    const QString link = PortFixture::linkPath(QStringLiteral("COM3"));
    auto first = std::make_unique<ProgramEnd>(link);
    if (!opensTogether)
        QVERIFY(waitFor([&] { return ports.state(handle) == 2; }));
    ProgramEnd second(link);
    QVERIFY(waitFor([&] { return ports.state(handle) == 2; }));
    QVERIFY(waitFor([&] { return ports.remoteUp(handle) == QLatin1String("1"); }));
    first.reset();
    if (!closesTogether) {
        // Still open through the second program, which still gets what the device sends.
        device.send("still here");
        QVERIFY(waitFor([&] { return second.received == "still here"; }));
        QCOMPARE(ports.state(handle), 2);
    }
    second.close();
    QVERIFY(waitFor([&] { return ports.state(handle) == 1; }));
    QVERIFY(waitFor([&] { return ports.remoteUp(handle) == upWhileClosed; }));
    const int clients = upWhileClosed == QLatin1String("1") ? 1 : 0;
    QVERIFY(waitFor([&] { return device.clients() == clients; }));
}

void TestVirtualPort::hiddenProgramKeepsThePort()
{
    DeviceServer device;
    QVERIFY(device.listen());
    PortFixture ports;
    const ConnectionHandle handle = ports.startPort(QStringLiteral("COM3"), device.port(), { 1 });
    const QByteArray link = encoded(PortFixture::linkPath(QStringLiteral("COM3")));
    HiddenProgram first(link);
    QVERIFY(first.isRunning());
    QVERIFY(waitFor([&] { return ports.state(handle) == 2 && device.clients() == 1; }));

    // Another program comes and goes; the port hears of its close at once.
    ::close(::open(link.constData(), O_RDWR | O_NOCTTY));
    QCoreApplication::processEvents();
    QCOMPARE(ports.state(handle), 2);
    device.send("still here");
    QVERIFY(waitFor([&] { return first.received == "still here"; }));
    QCOMPARE(device.clients(), 1);
}

void TestVirtualPort::typedHostReachesTheDevice_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("deviceAt");

    QTest::newRow("plain address") << QStringLiteral("127.0.0.1") << QStringLiteral("127.0.0.1");
    QTest::newRow("zero-padded") << QStringLiteral("127.00.00.01") << QStringLiteral("127.0.0.1");
    // Read as decimal: octal has no 8.
    QTest::newRow("padded group of 8")
        << QStringLiteral("127.0.0.08") << QStringLiteral("127.0.0.8");
    QTest::newRow("host name") << QStringLiteral("localhost") << QStringLiteral("127.0.0.1");
}

void TestVirtualPort::typedHostReachesTheDevice()
{
    QFETCH(QString, typed);
    QFETCH(QString, deviceAt);
    QTcpServer device;
    QVERIFY(device.listen(QHostAddress(deviceAt)));
    PortFixture ports;
    PortOptions options;
    options.host = typed;
    const ConnectionHandle handle
        = ports.startPort(QStringLiteral("COM4"), device.serverPort(), options);
    QVERIFY(handle > 0);
    QVERIFY(waitFor([&] { return ports.remoteUp(handle) == QLatin1String("1"); }));
    QCOMPARE(ports.remoteHost(handle).value(0).toString(), typed);
}

void TestVirtualPort::renameMovesLinkAndDeleteRemovesIt()
{
    PortFixture ports;
    const ConnectionHandle handle = ports.startPort(QStringLiteral("COM5"), refusingPort(), { 1 });
    QVERIFY(handle > 0);
    const QString target = QFileInfo(PortFixture::linkPath(QStringLiteral("COM5"))).symLinkTarget();

    QVERIFY(ports.table->setParam(handle, QStringLiteral("port.name"), QStringLiteral("COM6")));
    QVERIFY(ports.table->applyConnection(handle));
    QVERIFY(!QFileInfo::exists(PortFixture::linkPath(QStringLiteral("COM5"))));
    QCOMPARE(QFileInfo(PortFixture::linkPath(QStringLiteral("COM6"))).symLinkTarget(), target);
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM6")));
    QVERIFY(waitFor([&] { return ports.state(handle) == 2; }));
    program.close();

    QVERIFY(ports.table->deleteConnection(handle));
    // The line channel stays while the service does.
    QCOMPARE(QDir(PortFixture::portDir())
                 .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList(TIRV_LINE_SOCKET));
}

void TestVirtualPort::existingPathAtLink_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("replaced");

    QTest::newRow("regular file") << QStringLiteral("file") << false;
    QTest::newRow("folder") << QStringLiteral("folder") << false;
    QTest::newRow("link elsewhere") << QStringLiteral("link") << false;
    QTest::newRow("dead pty link of another program") << QStringLiteral("dead pty") << false;
    QTest::newRow("live pty link of another program") << QStringLiteral("live pty") << false;
    // Its pty number may have gone to another program since: the link is stale all the same.
    QTest::newRow("left by a service that died") << QStringLiteral("dead service") << true;
    QTest::newRow("of a service still running") << QStringLiteral("live service") << false;
}

void TestVirtualPort::existingPathAtLink()
{
    QFETCH(QString, kind);
    QFETCH(bool, replaced);
    const QString path = PortFixture::linkPath(QStringLiteral("COM7"));
    const QByteArray name = encoded(path);
    ForeignPty pty;
    pid_t service = -1;
    const auto reap = qScopeGuard([&] {
        if (service > 0) {
            kill(service, SIGKILL);
            waitpid(service, nullptr, 0);
        }
    });
    if (kind == QLatin1String("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("mine");
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else if (kind.endsWith(QLatin1String("service"))) {
        const bool livesOn = kind.startsWith(QLatin1String("live"));
        const pid_t child
            = linkFromOtherService(QStringLiteral("COM7"), livesOn ? QString() : pty.path);
        QVERIFY(child > 0);
        service = livesOn ? child : -1;
    } else {
        const QString target = kind == QLatin1String("link") ? QStringLiteral("/dev/null")
            : kind == QLatin1String("live pty")              ? pty.path
                                                             : QStringLiteral("/dev/pts/999999");
        QVERIFY(symlink(encoded(target).constData(), name.constData()) == 0);
    }
    struct stat before;
    lstat(name.constData(), &before);

    PortFixture ports;
    const ConnectionHandle started = ports.startPort(QStringLiteral("COM7"), refusingPort(), { 1 });
    QCOMPARE(started > 0, replaced);
    QCOMPARE(ports.state(ports.lastHandle), replaced ? 1 : 0);
    struct stat after;
    QCOMPARE(lstat(name.constData(), &after), 0);
    if (replaced) {
        const QString target = QFileInfo(path).symLinkTarget();
        QVERIFY(target.startsWith(QLatin1String("/dev/pts/")) && target != pty.path);
        return;
    }
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_mtime, before.st_mtime);
    const QString inTheWay = QStringLiteral("a file that is not ours is in the way at ") + path;
    QCOMPARE(ConnectionService::failureReason(), QStringLiteral("COM7: ") + inTheWay);

    // Renaming a working port onto it fails and keeps the old link.
    const ConnectionHandle other = ports.startPort(QStringLiteral("COM8"), refusingPort(), { 1 });
    QVERIFY(other > 0);
    QVERIFY(ports.table->setParam(other, QStringLiteral("port.name"), QStringLiteral("COM7")));
    QVERIFY(!ports.table->applyConnection(other));
    QCOMPARE(ConnectionService::failureReason(), QStringLiteral("COM8: ") + inTheWay);
    QVERIFY(isLink(PortFixture::linkPath(QStringLiteral("COM8"))));
    QCOMPARE(lstat(name.constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    // Deleting the failed connection leaves the foreign path alone too.
    QVERIFY(ports.table->deleteConnection(started < 0 ? 1 : started));
    QCOMPARE(lstat(name.constData(), &after), 0);
}

void TestVirtualPort::badSettingsFailTheStart_data()
{
    QTest::addColumn<QString>("comName");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("tcpPort");

    const QString loopback = QStringLiteral("127.0.0.1");
    QTest::newRow("name leaves the folder") << "../COM3" << loopback << "966";
    QTest::newRow("hidden name") << ".COM3" << loopback << "966";
    QTest::newRow("port not a number") << "COM3" << loopback << "x";
    QTest::newRow("port out of range") << "COM3" << loopback << "70000";
    // No address and no host name; the resolver would dial 127.0.0.8.
    QTest::newRow("three-digit padded group") << "COM3" << QStringLiteral("127.0.0.010") << "966";
}

void TestVirtualPort::badSettingsFailTheStart()
{
    QFETCH(QString, comName);
    QFETCH(QString, host);
    QFETCH(QString, tcpPort);
    PortFixture ports;
    ConnectionHandle handle = -1;
    ports.table->createConnection(1, &handle);
    ports.table->setParam(handle, QStringLiteral("port.name"), comName);
    const QVariantList hosts { QVariant(QVariantList { host, tcpPort }) };
    ports.table->setParam(handle, QStringLiteral("network.host"), hosts);
    QVERIFY(!ports.table->startConnection(handle));
    QCOMPARE(ports.state(handle), 0);
    QCOMPARE(QDir(PortFixture::portDir())
                 .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList());
}

void TestVirtualPort::openCloseCyclesLeakNothing_data()
{
    QTest::addColumn<int>("openCondition");
    QTest::addColumn<bool>("deviceUp");

    QTest::newRow("kept connected") << 0 << true;
    // Every open tries a connect that is refused: hundreds of failed connects.
    QTest::newRow("connect per open, refused") << 1 << false;
}

void TestVirtualPort::openCloseCyclesLeakNothing()
{
    QFETCH(int, openCondition);
    QFETCH(bool, deviceUp);
    DeviceServer device(true);
    const quint16 tcpPort = deviceUp && device.listen() ? device.port() : refusingPort();
    PortFixture ports;
    const ConnectionHandle handle
        = ports.startPort(QStringLiteral("COM9"), tcpPort, { openCondition });
    const QByteArray link = encoded(PortFixture::linkPath(QStringLiteral("COM9")));
    QVERIFY(waitFor([&] { return device.clients() == (deviceUp ? 1 : 0); }));
    const int descriptors = openDescriptors();

    for (int cycle = 0; cycle < 250; ++cycle) {
        const int fd = ::open(link.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        QVERIFY(waitFor([&] { return ports.state(handle) == 2; }));
        ::write(fd, "x", 1);
        ::close(fd);
        QVERIFY(waitFor([&] { return ports.state(handle) == 1; }));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(openDescriptors(), descriptors);

    // Idle, and with a program waiting for a device that refuses: no busy loop.
    QVERIFY2(idleCpuMicroseconds(300) < 100000, "idle port burns CPU");
    ProgramEnd program(QString::fromLocal8Bit(link));
    QVERIFY(waitFor([&] { return ports.state(handle) == 2; }));
    device.stop();
    QVERIFY2(idleCpuMicroseconds(500) < 150000, "reconnecting port burns CPU");
}

void TestVirtualPort::manyPortsComeAndGo()
{
    const quint16 tcpPort = refusingPort();
    const int descriptors = openDescriptors();
    {
        PortFixture ports;
        for (int i = 1; i <= 255; ++i)
            QVERIFY(ports.startPort(QStringLiteral("COM%1").arg(i), tcpPort, { 1 }) > 0);
        QCOMPARE(QDir(PortFixture::portDir()).entryList(QDir::System).size(), 255);
        QVERIFY(ports.table->deleteConnection(1));
        QVERIFY(!QFileInfo::exists(PortFixture::linkPath(QStringLiteral("COM1"))));
        // The rest go with the table.
    }
    QCOMPARE(QDir(PortFixture::portDir())
                 .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList());
    QCOMPARE(openDescriptors(), descriptors);
}

PORT_TEST_MAIN(TestVirtualPort)
#include "tst_virtualport.moc"
