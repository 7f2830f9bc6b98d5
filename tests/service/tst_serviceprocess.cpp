#include "processusage.h"
#include "secapi.h"
#include "serviceclient.h"
#include "servicekeys.h"
#include "servicepaths.h"
#include "serviceprotocol.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

#include <fcntl.h>
#include <linux/securebits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const QVariantList kHosts { QVariant(
    QVariantList { QStringLiteral("127.0.0.1"), QStringLiteral("9") }) };

QString runtimeDirectory()
{
    QString error;
    return ServicePaths::runtimeDirectory(&error);
}

QString statePath()
{
    return ServicePaths::stateDirectory() + QStringLiteral("/connections.json");
}

// The services of this test's runtime folder: the built binary, run with our environment.
QList<int> servicePids()
{
    const QString executable
        = QFileInfo(qEnvironmentVariable("TIRV_SERVICE_EXEC")).canonicalFilePath();
    const QByteArray marker = "XDG_RUNTIME_DIR=" + qgetenv("XDG_RUNTIME_DIR") + '\0';
    QList<int> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const int pid = entry.toInt(&isPid);
        if (!isPid
            || QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath() != executable)
            continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (environ.open(QIODevice::ReadOnly) && environ.readAll().contains(marker))
            pids.append(pid);
    }
    return pids;
}

// Changes reach the disk a moment after the call that made them.
int savedConnections(bool startedOnly)
{
    QFile state(statePath());
    if (!state.open(QIODevice::ReadOnly))
        return -1;
    const QJsonArray connections
        = QJsonDocument::fromJson(state.readAll()).object().value("connections").toArray();
    return int(std::count_if(connections.begin(), connections.end(), [&](const QJsonValue &entry) {
        return !startedOnly || entry.toObject().value("started").toBool();
    }));
}

void writeState(const QByteArray &bytes)
{
    QFile state(statePath());
    QVERIFY(state.open(QIODevice::WriteOnly));
    state.write(bytes);
}

int lockedPid()
{
    QFile lock(ServicePaths::lockPath(runtimeDirectory()));
    return lock.open(QIODevice::ReadOnly) ? lock.readLine().trimmed().toInt() : 0;
}

ConnectionHandle makeConnection(const QString &comName, bool start)
{
    ConnectionHandle handle = -1;
    if (!sec_CreateConnection(1, &handle))
        return -1;
    sec_SetParam(handle, QStringLiteral("name"), QStringLiteral("TIR@127.0.0.1@T@1@1@null"));
    sec_SetParam(handle, QStringLiteral("port.name"), comName);
    sec_SetParam(handle, QStringLiteral("network.host"), kHosts);
    if (start && !sec_AddConnectionService(handle))
        return -1;
    return handle;
}

QVariant read(ConnectionHandle handle, const char *key)
{
    QVariant value;
    return sec_GetParam(handle, QString::fromLatin1(key), &value) ? value : QVariant();
}

QByteArray u32(quint32 value)
{
    char raw[4];
    qToBigEndian(value, raw);
    return QByteArray(raw, 4);
}

sockaddr_un addressOf(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
    return address;
}

// To the service's socket, or another.
int connectRaw(const QString &path = ServicePaths::socketPath(runtimeDirectory()))
{
    const sockaddr_un address = addressOf(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

int listenAt(const QString &path)
{
    const sockaddr_un address = addressOf(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::unlink(address.sun_path);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
        && ::listen(fd, 8) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// One whole frame, header included; empty when the peer hung up first.
QByteArray readFrame(int fd)
{
    QByteArray frame;
    int wanted = ServiceProtocol::kHeaderSize;
    while (frame.size() < wanted) {
        char chunk[4096];
        const ssize_t size = ::recv(fd, chunk, size_t(qMin<int>(wanted - frame.size(), 4096)), 0);
        if (size <= 0)
            return QByteArray();
        frame.append(chunk, int(size));
        if (frame.size() == ServiceProtocol::kHeaderSize)
            wanted += int(qFromBigEndian<quint32>(frame.constData()));
    }
    return frame;
}

// Bytes the service sent that wait to be read; -1 once it closed the connection.
int pendingBytes(int fd)
{
    char byte;
    const ssize_t peeked = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked == 0)
        return -1;
    int pending = 0;
    ::ioctl(fd, FIONREAD, &pending);
    return pending;
}

// Connects with the effective uid of nobody but keeps the right to reach the private folder,
// so only the service's own credentials check stands between it and an answer. Exit code:
// 0 refused, 1 answered, 2 the test bed could not be set up.
int callAsOtherUid(const QByteArray &socketPath, const QByteArray &frame)
{
    if (::prctl(PR_SET_SECUREBITS, SECBIT_NO_SETUID_FIXUP) != 0
        || ::syscall(SYS_setresuid, -1, 65534, -1) != 0)
        return 2;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return 2;
    ::send(fd, frame.constData(), size_t(frame.size()), MSG_NOSIGNAL);
    char byte;
    return ::recv(fd, &byte, 1, 0) > 0 ? 1 : 0;
}

// A service of another build: it holds the lock, publishes version (0: nothing, as services did
// before they published one) and hangs up on every caller, not understanding its frames.
int runOtherBuild(int version)
{
    const QString directory = runtimeDirectory();
    const int lock = ::open(QFile::encodeName(ServicePaths::lockPath(directory)).constData(),
        O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QByteArray record = QByteArray::number(::getpid()) + '\n';
    if (version > 0)
        record += "protocol " + QByteArray::number(version) + '\n';
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(lock, 0) != 0
        || ::write(lock, record.constData(), size_t(record.size())) != record.size())
        return 1;
    const int server = listenAt(ServicePaths::socketPath(directory));
    if (server < 0)
        return 1;
    puts("ready");
    fflush(stdout);
    for (;;) {
        const int caller = ::accept(server, nullptr, nullptr);
        char frame[64];
        ::recv(caller, frame, sizeof frame, 0);
        ::close(caller);
    }
}

} // namespace

class TestServiceProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void everyCallThroughService();
    void callsWorkFromPlainThread();
    void killedServiceRestartsWithConnections();
    void concurrentStartsLeaveOneService();
    void callerWaitsForStartingService_data();
    void callerWaitsForStartingService();
    void secondServiceRefused();
    void foregroundServiceServesCalls();
    void serviceEndsWhenSocketRemoved();
    void corruptStateKeptAside_data();
    void corruptStateKeptAside();
    void handlesNeverWrap();
    void fullLogStartedAfresh();
    void badFrameClosesOnlyThatClient_data();
    void badFrameClosesOnlyThatClient();
    void unsafeRuntimeDirectoryRefused_data();
    void unsafeRuntimeDirectoryRefused();
    void otherUidRefused();
    void missingExecutableFailsCleanly();
    void listingCostsConstantRoundTrips();
    void listingTellsWhyAndCounts();
    void slowReadersBounded();
    void portDirectoryOthersMaySwapRefused();
    void serviceOfAnotherBuild_data();
    void serviceOfAnotherBuild();
    void changeSentAgainMadeOnce_data();
    void changeSentAgainMadeOnce();

private:
    void stopServices();
};

void TestServiceProcess::initTestCase()
{
    QVERIFY(QFileInfo(qEnvironmentVariable("TIRV_SERVICE_EXEC")).isExecutable());
    QVERIFY(qEnvironmentVariable("TIRV_SERVICE") != QLatin1String("inprocess"));
    QVERIFY(!runtimeDirectory().isEmpty());
}

void TestServiceProcess::init()
{
    stopServices();
    QDir state(ServicePaths::stateDirectory());
    for (const QString &name : state.entryList({ QStringLiteral("connections.json*") }))
        state.remove(name);
}

void TestServiceProcess::cleanup()
{
    stopServices();
}

void TestServiceProcess::stopServices()
{
    for (int pid : servicePids())
        ::kill(pid, SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(servicePids().isEmpty(), 10000);
}

void TestServiceProcess::everyCallThroughService()
{
    QVERIFY(servicePids().isEmpty());
    QVERIFY(sec_DisconnectService()); // with nothing to leave, nothing is started
    QVERIFY(servicePids().isEmpty());
    QVERIFY(sec_ConnectService(QStringLiteral("."))); // starts the service
    QCOMPARE(servicePids(), QList<int> { lockedPid() });
    QVERIFY(!sec_ConnectService(7));

    ConnectionHandle handle = -1;
    QVERIFY(sec_CreateConnection(1, &handle));
    QVERIFY(handle > 0);
    ConnectionHandle refused = -1;
    QVERIFY(!sec_CreateConnection(2, &refused));
    const QVariantMap written {
        { "name", "TIR@127.0.0.1@T@1@1@null" },
        { "port.name", "COM3" },
        { "port.type", "Virtual" },
        { "network.host", kHosts },
        { "protocol.type", "RAW" },
        { "port.sendmode.mode", 2 },
        { "port.sendmode.param", 1 },
        { "protocol.portopencondition.enable", 1 },
    };
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        QVERIFY2(sec_SetParam(handle, it.key(), it.value()), qPrintable(it.key()));
    QVERIFY(!sec_SetParam(handle, QStringLiteral("status.port.state"), 2));
    QVERIFY(!sec_SetParam(handle, QStringLiteral("port.sendmode.mode"), QStringLiteral("2")));
    QVariantList tooManyHosts;
    for (int i = 0; i < 5000; ++i)
        tooManyHosts += kHosts;
    QVERIFY(!sec_SetParam(handle, QStringLiteral("network.host"), tooManyHosts));
    for (auto it = written.cbegin(); it != written.cend(); ++it) {
        QVariant value;
        QVERIFY(sec_GetParam(handle, it.key(), &value));
        QCOMPARE(value, it.value());
        QCOMPARE(value.userType(), it.value().userType());
    }
    QCOMPARE(read(handle, "status.port.state"), QVariant(3));
    QVERIFY(sec_AddConnectionService(handle));
    QCOMPARE(read(handle, "status.port.state"), QVariant(1));
    QCOMPARE(read(handle, "status.remotehost"),
        QVariant(QVariantList { QVariant(QVariantList { "127.0.0.1", "9", "0" }) }));

    QVariant list;
    QVERIFY(sec_GetConnectionsList(&list));
    QCOMPARE(list.userType(), int(QMetaType::QVariantList));
    QCOMPARE(list.toList(), QVariantList { handle });
    QVERIFY(sec_SetParam(handle, QStringLiteral("port.name"), QStringLiteral("COM9")));
    QVERIFY(sec_ApplyConnection(handle));
    QCOMPARE(read(handle, "port.name"), QVariant("COM9"));

    QVERIFY(sec_DeleteConnection(handle));
    QVERIFY(!sec_DeleteConnection(handle));
    QVERIFY(!sec_ApplyConnection(handle));
    QVERIFY(!read(handle, "port.name").isValid());
    QVERIFY(sec_GetConnectionsList(&list));
    QVERIFY(list.toList().isEmpty());
    QVERIFY(sec_DisconnectService());
}

// The worker calls from a thread that runs no event loop.
void TestServiceProcess::callsWorkFromPlainThread()
{
    ConnectionHandle handle = -1;
    QVariant list;
    std::thread worker([&] {
        handle = makeConnection(QStringLiteral("COM4"), true);
        sec_GetConnectionsList(&list);
    });
    worker.join();
    QVERIFY(handle > 0);
    QCOMPARE(list.toList(), QVariantList { handle });
}

void TestServiceProcess::killedServiceRestartsWithConnections()
{
    const QStringList comNames { "COM3", "COM4", "COM12" };
    QVariantList handles;
    for (const QString &comName : comNames)
        handles.append(makeConnection(comName, true));
    const ConnectionHandle idle = makeConnection(QStringLiteral("COM20"), false);
    handles.append(idle);
    QVERIFY(!handles.contains(-1));

    QTRY_COMPARE(savedConnections(false), handles.size());
    QTRY_COMPARE(savedConnections(true), comNames.size());
    const int killed = lockedPid();
    QVERIFY(killed > 0);
    QCOMPARE(::kill(killed, SIGKILL), 0);
    QTRY_VERIFY(!servicePids().contains(killed));
    // Left by the killed service for a port it no longer had saved, beside files not ours.
    const QDir portDir(qEnvironmentVariable("TIRV_PORT_DIR"));
    const QByteArray deadPty = "/dev/pts/999999";
    const QByteArray staleRecord = QByteArray::number(killed) + ' ' + deadPty;
    QCOMPARE(::symlink(deadPty, QFile::encodeName(portDir.filePath("LEFT1"))), 0);
    QCOMPARE(::symlink(staleRecord, QFile::encodeName(portDir.filePath(".LEFT1.tirv"))), 0);
    QCOMPARE(::symlink(deadPty, QFile::encodeName(portDir.filePath("LEFT2"))), 0);
    QFile foreign(portDir.filePath(QStringLiteral("LEFT3")));
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    const auto removeForeign = qScopeGuard([&] {
        foreign.remove();
        QFile::remove(portDir.filePath(QStringLiteral("LEFT2")));
    });

    QVariant list;
    QVERIFY(sec_GetConnectionsList(&list)); // restarts it
    const QStringList leftOver = portDir.entryList(
        { QStringLiteral("*LEFT*") }, QDir::AllEntries | QDir::System | QDir::Hidden);
    QCOMPARE(leftOver, QStringList({ "LEFT2", "LEFT3" }));
    QCOMPARE(servicePids().size(), 1);
    QVERIFY(lockedPid() != killed);
    QCOMPARE(list.toList(), handles);
    for (int i = 0; i < comNames.size(); ++i) {
        QCOMPARE(read(handles.at(i).toInt(), "port.name"), QVariant(comNames.at(i)));
        QCOMPARE(read(handles.at(i).toInt(), "status.port.state"), QVariant(1));
        const QFileInfo link(qEnvironmentVariable("TIRV_PORT_DIR") + '/' + comNames.at(i));
        QVERIFY2(link.isSymLink() && link.exists(), qPrintable(link.filePath()));
    }
    QCOMPARE(read(idle, "status.port.state"), QVariant(3));
    ConnectionHandle next = -1;
    QVERIFY(sec_CreateConnection(1, &next));
    QCOMPARE(next, idle + 1);
}

void TestServiceProcess::concurrentStartsLeaveOneService()
{
    QVERIFY(servicePids().isEmpty());
    std::vector<std::unique_ptr<QProcess>> callers;
    for (int i = 0; i < 20; ++i) {
        callers.push_back(std::make_unique<QProcess>());
        callers.back()->start(QCoreApplication::applicationFilePath(), { "--connect-once" });
    }
    for (auto &caller : callers) {
        QVERIFY(caller->waitForFinished(30000));
        QCOMPARE(caller->exitStatus(), QProcess::NormalExit);
        QCOMPARE(caller->exitCode(), 0);
    }
    QCOMPARE(servicePids(), QList<int> { lockedPid() });
}

void TestServiceProcess::callerWaitsForStartingService_data()
{
    QTest::addColumn<bool>("listens");
    QTest::newRow("holder listens late") << true;
    QTest::newRow("holder gives up") << false;
}

// A service that holds its lock but listens only later (restoring its ports, or started by the
// service manager) is waited for; one that goes away before it listens is replaced.
void TestServiceProcess::callerWaitsForStartingService()
{
    QFETCH(bool, listens);
    const QString directory = runtimeDirectory();
    const int holder = ::open(QFile::encodeName(ServicePaths::lockPath(directory)).constData(),
        O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(holder >= 0);
    QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);
    int connected = -1;
    std::thread caller([&] { connected = sec_ConnectService(QStringLiteral(".")); });
    const int startFd = ::open(
        QFile::encodeName(ServicePaths::startLockPath(directory)).constData(), O_RDWR | O_CLOEXEC);
    const auto callerInside = [startFd] {
        if (::flock(startFd, LOCK_EX | LOCK_NB) != 0)
            return true;
        ::flock(startFd, LOCK_UN);
        return false;
    };
    QTRY_VERIFY(startFd >= 0 && callerInside());
    ::close(startFd);

    QLocalServer server;
    if (listens) {
        QVERIFY(server.listen(ServicePaths::socketPath(directory)));
        QVERIFY(server.waitForNewConnection(10000));
        QLocalSocket *client = server.nextPendingConnection();
        QTRY_VERIFY(client->bytesAvailable() > 0 || (client->waitForReadyRead(100), false));
        ServiceProtocol::Reply reply;
        reply.result = 1;
        client->write(ServiceProtocol::encodeReply(reply));
        QVERIFY(client->waitForBytesWritten(5000));
    }
    ::close(holder);
    caller.join();
    QCOMPARE(connected, 1);
    QCOMPARE(servicePids().size(), listens ? 0 : 1);
}

void TestServiceProcess::secondServiceRefused()
{
    QVERIFY(sec_ConnectService(QStringLiteral(".")));
    QProcess second;
    second.start(qEnvironmentVariable("TIRV_SERVICE_EXEC"), { "--foreground" });
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 3); // told apart, so a service manager does not retry
    QVERIFY(second.readAllStandardError().contains("another tirv-service is running"));
    QCOMPARE(servicePids().size(), 1);
}

// Started by hand, the service says when it listens, and callers use it instead of starting one.
void TestServiceProcess::foregroundServiceServesCalls()
{
    QProcess service;
    service.start(qEnvironmentVariable("TIRV_SERVICE_EXEC"), { "--foreground" });
    QTRY_VERIFY_WITH_TIMEOUT(
        service.canReadLine() || (service.waitForReadyRead(100), false), 10000);
    QCOMPARE(service.readLine(), QByteArray("ready\n"));
    QVERIFY(sec_ConnectService(QStringLiteral(".")));
    QVERIFY(makeConnection(QStringLiteral("COM6"), true) > 0);
    QCOMPARE(servicePids(), QList<int> { int(service.processId()) });
    service.terminate();
    QVERIFY(service.waitForFinished(10000));
    QVERIFY2(service.exitStatus() == QProcess::NormalExit, service.readAllStandardError());
    QCOMPARE(service.exitCode(), 0);
    QVERIFY(!QFile::exists(ServicePaths::socketPath(runtimeDirectory())));
}

void TestServiceProcess::serviceEndsWhenSocketRemoved()
{
    const ConnectionHandle handle = makeConnection(QStringLiteral("COM7"), true);
    QVERIFY(handle > 0);
    QVERIFY(QFile::remove(ServicePaths::socketPath(runtimeDirectory())));
    QTRY_VERIFY(servicePids().isEmpty());
    QVERIFY(!QFileInfo::exists(qEnvironmentVariable("TIRV_PORT_DIR") + "/COM7"));
    QCOMPARE(read(handle, "port.name"), QVariant("COM7")); // the next call brings it back
}

void TestServiceProcess::corruptStateKeptAside_data()
{
    QTest::addColumn<QByteArray>("garbage");
    QTest::newRow("cut short") << QByteArray(R"({"version":1,"connections":[{"hand)");
    QTest::newRow("connections not a list") << QByteArray(
        R"({"version":1,"lastHandle":1,"connections":{"handle":1,"params":{"port.name":"COM3"}}})");
    // Loaded, it would make every listing larger than a reply may be.
    QTest::newRow("name of 5 MB") << QByteArray(
                                         R"({"version":1,"lastHandle":1,"connections":)"
                                         R"([{"handle":1,"started":false,"params":{"name":")")
            + QByteArray(5 * 1024 * 1024, 'n') + QByteArray(R"("}}]})");
}

void TestServiceProcess::corruptStateKeptAside()
{
    QFETCH(QByteArray, garbage);
    writeState(garbage);
    QVERIFY(sec_ConnectService(QStringLiteral(".")));
    QVariant list;
    QVERIFY(sec_GetConnectionsList(&list));
    QVERIFY(list.toList().isEmpty());
    const QDir stateDir(ServicePaths::stateDirectory());
    const QStringList aside = stateDir.entryList({ QStringLiteral("connections.json.corrupt-*") });
    QCOMPARE(aside.size(), 1);
    QFile kept(stateDir.filePath(aside.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), garbage);
    QFile log(stateDir.filePath(QStringLiteral("service.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("kept as"));
    QVERIFY(makeConnection(QStringLiteral("COM3"), true) > 0); // and it works
}

// Handed out up to the last one, handles stop rather than wrap, and the table still loads.
void TestServiceProcess::handlesNeverWrap()
{
    writeState(R"({"version":1,"lastHandle":2147483646,"connections":)"
               R"([{"handle":2147483646,"started":false,"params":{"port.name":"COM3"}}]})");
    ConnectionHandle last = -1;
    QVERIFY(sec_CreateConnection(1, &last));
    QCOMPARE(last, std::numeric_limits<ConnectionHandle>::max());
    ConnectionHandle beyond = -1;
    QVERIFY(!sec_CreateConnection(1, &beyond));
    QTRY_COMPARE(savedConnections(false), 2);

    QCOMPARE(::kill(lockedPid(), SIGKILL), 0);
    QTRY_VERIFY(servicePids().isEmpty());
    QVariant list;
    QVERIFY(sec_GetConnectionsList(&list));
    QCOMPARE(list.toList(), (QVariantList { last - 1, last }));
}

// A log just below its limit is passed by the service's first messages, while it runs.
void TestServiceProcess::fullLogStartedAfresh()
{
    const QString logPath = ServicePaths::stateDirectory() + QStringLiteral("/service.log");
    const QByteArray filler(1024 * 1024 - 10, 'x');
    {
        QFile log(logPath);
        QVERIFY(log.open(QIODevice::WriteOnly | QIODevice::Truncate));
        log.write(filler);
    }
    QFile::remove(logPath + QStringLiteral(".1"));
    QVERIFY(sec_ConnectService(QStringLiteral(".")));
    const auto logSomething = [] {
        QLocalSocket bad;
        bad.connectToServer(ServicePaths::socketPath(runtimeDirectory()));
        QVERIFY(bad.waitForConnected(5000));
        bad.write(u32(8) + QByteArray(8, '\xff'));
        QVERIFY(bad.waitForDisconnected(5000));
    };
    logSomething();
    QFile previous(logPath + QStringLiteral(".1"));
    QTRY_VERIFY(previous.exists());
    QVERIFY(previous.open(QIODevice::ReadOnly));
    QVERIFY(previous.readAll().startsWith(filler));

    logSomething(); // goes to the fresh log
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QTRY_VERIFY(log.readAll().contains("malformed frame") || (log.seek(0), false));
    QVERIFY(log.size() < 4096);
}

void TestServiceProcess::badFrameClosesOnlyThatClient_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("oversized request") << u32(ServiceProtocol::kMaxRequestPayload + 1);
    QTest::newRow("largest length") << u32(0xffffffffu);
    QTest::newRow("garbage payload") << u32(8) + QByteArray("\xde\xad\xbe\xef\x01\x02\x03\x04");
    QTest::newRow("unknown call") << u32(7) + QByteArray::fromHex("85186301f6f6f6");
    QTest::newRow("empty payload") << u32(0);
}

void TestServiceProcess::badFrameClosesOnlyThatClient()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(sec_ConnectService(QStringLiteral(".")));
    const ConnectionHandle handle = makeConnection(QStringLiteral("COM5"), true);
    const QString path = ServicePaths::socketPath(runtimeDirectory());
    QLocalSocket good;
    QLocalSocket bad;
    good.connectToServer(path);
    bad.connectToServer(path);
    QVERIFY(good.waitForConnected(5000) && bad.waitForConnected(5000));

    bad.write(bytes);
    QVERIFY(bad.waitForDisconnected(5000));

    good.write(ServiceProtocol::encodeRequest(
        { ConnectionService::GetParam, handle, QStringLiteral("port.name"), {} }));
    QTRY_VERIFY(good.bytesAvailable() > ServiceProtocol::kHeaderSize
        || (good.waitForReadyRead(100), false));
    ServiceProtocol::Reply reply;
    QVERIFY(ServiceProtocol::decodeReply(good.readAll().mid(ServiceProtocol::kHeaderSize), &reply));
    QCOMPARE(reply.value, QVariant("COM5"));
    QCOMPARE(read(handle, "port.name"), QVariant("COM5"));
    QCOMPARE(servicePids().size(), 1);
}

void TestServiceProcess::unsafeRuntimeDirectoryRefused_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("symlink");
    QTest::newRow("group may enter") << 0750 << false;
    QTest::newRow("world readable") << 0755 << false;
    QTest::newRow("sticky") << 01700 << false;
    QTest::newRow("symlink to a private folder") << 0700 << true;
}

void TestServiceProcess::unsafeRuntimeDirectoryRefused()
{
    QFETCH(int, mode);
    QFETCH(bool, symlink);
    QTemporaryDir top;
    QString folder = top.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), mode_t(mode)) == 0);
    if (symlink) {
        const QString link = top.filePath(QStringLiteral("link"));
        QVERIFY(QFile::link(folder, link));
        folder = link;
    }
    const QByteArray ownRuntime = qgetenv("XDG_RUNTIME_DIR");
    QVERIFY(sec_DisconnectService());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
    const bool connected = sec_ConnectService(QStringLiteral("."));
    QProcess service;
    service.start(qEnvironmentVariable("TIRV_SERVICE_EXEC"), { "--foreground" });
    const bool finished = service.waitForFinished(10000);
    qputenv("XDG_RUNTIME_DIR", ownRuntime);

    QVERIFY(!connected);
    QVERIFY(finished);
    QCOMPARE(service.exitCode(), 1);
    QVERIFY(service.readAllStandardError().contains("refusing to start"));
    QVERIFY(!QFile::exists(folder + QStringLiteral("/tirv-service.sock")));
}

void TestServiceProcess::otherUidRefused()
{
    if (::geteuid() != 0)
        QSKIP("needs root to connect under another uid");
    QVERIFY(sec_ConnectService(QStringLiteral(".")));
    const QByteArray path = QFile::encodeName(ServicePaths::socketPath(runtimeDirectory()));
    const QByteArray frame = ServiceProtocol::encodeRequest(
        { ConnectionService::ConnectService, -1, QStringLiteral("."), {} });
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(callAsOtherUid(path, frame));
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        QSKIP("this machine does not let a root process take another uid this way");
    QCOMPARE(WEXITSTATUS(status), 0);
    QFile log(ServicePaths::stateDirectory() + QStringLiteral("/service.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("refused a client of uid 65534"));
    QVERIFY(sec_ConnectService(QStringLiteral("."))); // our own uid is still served
}

void TestServiceProcess::missingExecutableFailsCleanly()
{
    const QByteArray executable = qgetenv("TIRV_SERVICE_EXEC");
    qputenv("TIRV_SERVICE_EXEC", "/nonexistent/tirv-service");
    const bool connected = sec_ConnectService(QStringLiteral("."));
    qputenv("TIRV_SERVICE_EXEC", executable);
    QVERIFY(!connected);
    QVERIFY(sec_ConnectService(QStringLiteral("."))); // found again: started
}

// The window lists every 100 ms and reads four keys per port: that must not cost a round
// trip per read.
void TestServiceProcess::listingCostsConstantRoundTrips()
{
    QVariantList made;
    for (int i = 0; i < 255; ++i)
        made.append(makeConnection(QStringLiteral("COM%1").arg(i + 1), true));
    QVERIFY(!made.contains(-1));

    // The second listing finds nothing stored changed and brings the status alone.
    for (int round = 0; round < 2; ++round) {
        const quint64 before = ServiceClient::instance().roundTrips();
        QVariant list;
        QVERIFY(sec_GetConnectionsList(&list));
        QCOMPARE(list.toList(), made);
        for (int i = 0; i < made.size(); ++i) {
            const ConnectionHandle handle = made.at(i).toInt();
            QCOMPARE(read(handle, "name"), QVariant("TIR@127.0.0.1@T@1@1@null"));
            QCOMPARE(read(handle, "port.name"), QVariant(QStringLiteral("COM%1").arg(i + 1)));
            QCOMPARE(read(handle, "status.port.state"), QVariant(1));
            QCOMPARE(read(handle, "status.remotehost").toList().size(), 1);
            QVERIFY(!read(handle, "port.type").isValid()); // never written, as from the service
        }
        QCOMPARE(ServiceClient::instance().roundTrips() - before, quint64(1));
        QCOMPARE(serviceStatus().value(ServiceKeys::kPortDirectory),
            QVariant(qEnvironmentVariable("TIRV_PORT_DIR")));
    }

    // A listing that brings nothing leaves every read as it was.
    const quint64 generation = listingGeneration();
    QVariant unchanged;
    QVERIFY(sec_GetConnectionsList(&unchanged));
    QCOMPARE(listingGeneration(), generation);

    // The status in a listing is live: a program opening the port shows as state 2.
    const ConnectionHandle first = made.first().toInt();
    const auto listedState = [first] {
        QVariant list;
        sec_GetConnectionsList(&list);
        return read(first, "status.port.state");
    };
    const QByteArray link = QFile::encodeName(qEnvironmentVariable("TIRV_PORT_DIR") + "/COM1");
    const int program = ::open(link.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(program >= 0);
    QTRY_COMPARE(listedState(), QVariant(2));
    QVERIFY(listingGeneration() != generation);
    ::close(program);
    QTRY_COMPARE(listedState(), QVariant(1));

    // A write through this client is seen by the next read.
    QVERIFY(sec_SetParam(first, QStringLiteral("port.name"), QStringLiteral("COM300")));
    QCOMPARE(read(first, "port.name"), QVariant("COM300"));

    QVariant list;
    QVERIFY(sec_GetConnectionsList(&list));
    QCOMPARE(read(first, "port.name"), QVariant("COM300"));
    for (const QVariant &handle : qAsConst(made))
        QVERIFY(sec_DeleteConnection(handle.toInt()));
    QVERIFY(sec_GetConnectionsList(&list));
    QVERIFY(list.toList().isEmpty());
}

// A port's reason and counters, listed as its device refuses it, comes back, takes and sends
// bytes, and drops the connection.
void TestServiceProcess::listingTellsWhyAndCounts()
{
    QTcpServer device;
    QVERIFY(device.listen(QHostAddress::LocalHost));
    const quint16 tcpPort = device.serverPort();
    device.close();
    ConnectionHandle handle = makeConnection(QStringLiteral("COM5"), false);
    QVERIFY(sec_SetParam(handle, QStringLiteral("network.host"),
        QVariantList { QVariant(QVariantList { "127.0.0.1", QString::number(tcpPort) }) }));
    QVERIFY(sec_AddConnectionService(handle));
    const auto listed = [handle](const char *key) {
        QVariant list;
        sec_GetConnectionsList(&list);
        return read(handle, key).toMap();
    };
    const auto count = [&](const char *name) {
        return listed("status.counters").value(QLatin1String(name)).toLongLong();
    };

    QTRY_COMPARE(listed("status.reason").value("code"), QVariant("refused"));
    const QVariantMap refused = listed("status.reason");
    QCOMPARE(refused.value("text"),
        QVariant(QStringLiteral("connect to 127.0.0.1:%1 refused").arg(tcpPort)));
    QVERIFY(
        qAbs(refused.value("since").toLongLong() - QDateTime::currentMSecsSinceEpoch()) < 10000);
    QTRY_VERIFY(
        listed("status.reason").value("retry").toLongLong() > refused.value("since").toLongLong());

    // While the device is away, what passes the hold is dropped and counted.
    const int program
        = ::open(QFile::encodeName(qEnvironmentVariable("TIRV_PORT_DIR") + "/COM5").constData(),
            O_RDWR | O_NOCTTY);
    QVERIFY(program >= 0);
    const QByteArray written(100 * 1024, 'x');
    QCOMPARE(
        ::write(program, written.constData(), size_t(written.size())), ssize_t(written.size()));
    QTRY_VERIFY_WITH_TIMEOUT(count("dropped") > 0, 10000);
    QCOMPARE(count("lastConnect"), 0);

    // Back: the trouble is over, what was held goes out, the device's bytes are counted.
    QVERIFY(device.listen(QHostAddress::LocalHost, tcpPort));
    QVERIFY(device.waitForNewConnection(10000));
    QTcpSocket *accepted = device.nextPendingConnection();
    accepted->write("hello");
    QTRY_COMPARE_WITH_TIMEOUT(count("toDevice") + count("dropped"), qint64(written.size()), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(count("fromDevice"), 5, 10000);
    QCOMPARE(listed("status.reason"), QVariantMap());
    QVERIFY(count("lastConnect") >= refused.value("since").toLongLong());
    QCOMPARE(count("reconnects"), 0);

    // The device ends the connection; the port makes another.
    delete accepted;
    QVERIFY(device.waitForNewConnection(10000));
    QTRY_COMPARE_WITH_TIMEOUT(count("reconnects"), 1, 10000);
    QCOMPARE(listed("status.reason"), QVariantMap());
    ::close(program);
}

// Clients that ask for the whole table again and again without reading the answers cost the
// service a bounded amount of memory, which it hands back once they leave; others are served.
void TestServiceProcess::slowReadersBounded()
{
    for (int i = 0; i < 255; ++i)
        QVERIFY(makeConnection(QStringLiteral("COM%1").arg(i + 1), false) > 0);
    const int pid = lockedPid();
    const long before = ProcessUsage::residentKiB(pid);
    const QByteArray requests
        = ServiceProtocol::encodeRequest({ ConnectionService::GetConnectionsList, -1, 0, 0 })
              .repeated(200);
    std::vector<int> slow;
    for (int i = 0; i < 60; ++i) {
        slow.push_back(connectRaw());
        QCOMPARE(::send(slow.back(), requests.constData(), size_t(requests.size()), MSG_NOSIGNAL),
            ssize_t(requests.size()));
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        std::all_of(slow.begin(), slow.end(), [](int fd) { return pendingBytes(fd) > 0; }), 60000);
    QVERIFY2(ProcessUsage::peakResidentKiB(pid) - before < 64 * 1024,
        qPrintable(QStringLiteral("peak %1 KiB").arg(ProcessUsage::peakResidentKiB(pid))));

    // 61 clients are served with this one; of 10 more, those beyond 64 are turned away.
    std::vector<int> late;
    for (int i = 0; i < 10; ++i)
        late.push_back(connectRaw());
    QTRY_COMPARE(
        std::count_if(late.begin(), late.end(), [](int fd) { return pendingBytes(fd) < 0; }), 7L);
    QVariant list;
    QVERIFY(sec_GetConnectionsList(&list));
    QCOMPARE(list.toList().size(), 255);

    for (int fd : slow)
        ::close(fd);
    for (int fd : late)
        ::close(fd);
    QTRY_VERIFY2_WITH_TIMEOUT(ProcessUsage::residentKiB(pid) - before < 8 * 1024,
        qPrintable(
            QStringLiteral("%1 KiB after %2 KiB").arg(ProcessUsage::residentKiB(pid)).arg(before)),
        10000);
}

// A port directory in a folder another user may write can be swapped for a link to a folder of
// theirs: the service refuses it, and none of the owner's links ever lands in their folder.
void TestServiceProcess::portDirectoryOthersMaySwapRefused()
{
    if (::geteuid() != 0)
        QSKIP("needs root to act as another user");
    QTemporaryDir top;
    const QString shared = top.filePath(QStringLiteral("shared"));
    const QString ports = shared + QStringLiteral("/ports");
    const QString theirs = shared + QStringLiteral("/theirs");
    QVERIFY(QDir().mkpath(ports));
    QCOMPARE(::chmod(QFile::encodeName(top.path()).constData(), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 0777), 0);
    QCOMPARE(::chmod(QFile::encodeName(ports).constData(), 0700), 0);
    const QByteArray ownPorts = qgetenv("TIRV_PORT_DIR");
    qputenv("TIRV_PORT_DIR", QFile::encodeName(ports));
    const ConnectionHandle handle = makeConnection(QStringLiteral("COM3"), false);
    qputenv("TIRV_PORT_DIR", ownPorts);
    QVERIFY(handle > 0);
    sec_AddConnectionService(handle);

    const QByteArray from = QFile::encodeName(ports);
    const QByteArray aside = QFile::encodeName(shared + QStringLiteral("/aside"));
    const QByteArray to = QFile::encodeName(theirs);
    const pid_t other = ::fork();
    if (other == 0) {
        const bool swapped = ::setresgid(65534, 65534, 65534) == 0
            && ::setresuid(65534, 65534, 65534) == 0 && ::mkdir(to.constData(), 0777) == 0
            && ::rename(from.constData(), aside.constData()) == 0
            && ::symlink(to.constData(), from.constData()) == 0;
        ::_exit(swapped ? 0 : 1);
    }
    int status = -1;
    QCOMPARE(::waitpid(other, &status, 0), other);
    QCOMPARE(status, 0);

    QVERIFY(sec_SetParam(handle, QStringLiteral("port.name"), QStringLiteral("COM9")));
    sec_ApplyConnection(handle);
    QCOMPARE(QDir(theirs).entryList(
                 QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        QStringList());
    QCOMPARE(read(handle, "status.port.state"), QVariant(0));
    QFile log(ServicePaths::stateDirectory() + QStringLiteral("/service.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("lets another user replace what it holds"));
}

void TestServiceProcess::serviceOfAnotherBuild_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("message");
    QTest::newRow("older: stopped, the current one started")
        << 0 << QStringLiteral("speaks protocol 0, this program .*: stopping it");
    QTest::newRow("newer: left running")
        << ServiceProtocol::kVersion + 1 << QStringLiteral("newer than this program's");
}

// After an upgrade, the service of the build before may still run: the first call replaces it,
// and the saved connections come back. A newer service is not for this program to replace.
void TestServiceProcess::serviceOfAnotherBuild()
{
    QFETCH(int, version);
    QFETCH(QString, message);
    const ConnectionHandle handle = makeConnection(QStringLiteral("COM3"), true);
    QVERIFY(handle > 0);
    QTRY_COMPARE(savedConnections(true), 1);
    stopServices();
    QProcess other;
    other.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--other-build"), QString::number(version) });
    const auto stopOther = qScopeGuard([&] {
        other.kill();
        other.waitForFinished();
    });
    QTRY_VERIFY(other.canReadLine() || (other.waitForReadyRead(100), false));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(message));
    const bool older = version < ServiceProtocol::kVersion;
    QVariant list;
    QCOMPARE(sec_GetConnectionsList(&list), older);
    if (!older) {
        QCOMPARE(other.state(), QProcess::Running);
        return;
    }
    QVERIFY(other.waitForFinished(5000));
    QCOMPARE(list.toList(), QVariantList { handle });
    QVERIFY(QFileInfo(qEnvironmentVariable("TIRV_PORT_DIR") + "/COM3").isSymLink());
    QCOMPARE(servicePids(), QList<int> { lockedPid() });
}

void TestServiceProcess::changeSentAgainMadeOnce_data()
{
    QTest::addColumn<bool>("create");
    QTest::newRow("create") << true;
    QTest::newRow("delete") << false;
}

// The service makes a change and saves it, then dies before its answer leaves: the caller sends
// the change again to the next service, which answers it as the first would have.
void TestServiceProcess::changeSentAgainMadeOnce()
{
    QFETCH(bool, create);
    const ConnectionHandle existing = makeConnection(QStringLiteral("COM3"), false);
    QVERIFY(existing > 0);
    QTRY_COMPARE(savedConnections(false), 1);
    // Callers now meet this test at the socket, which passes their call on.
    QVERIFY(sec_DisconnectService());
    const QString socket = ServicePaths::socketPath(runtimeDirectory());
    const int serviceFd = connectRaw(socket);
    const QString proxy = socket + QStringLiteral(".proxy");
    const int listener = listenAt(proxy);
    QVERIFY(serviceFd >= 0 && listener >= 0);
    QCOMPARE(
        ::rename(QFile::encodeName(proxy).constData(), QFile::encodeName(socket).constData()), 0);

    bool done = false;
    ConnectionHandle made = -1;
    std::thread caller(
        [&] { done = create ? sec_CreateConnection(1, &made) : sec_DeleteConnection(existing); });
    const int callerFd = ::accept(listener, nullptr, nullptr);
    const QByteArray request = readFrame(callerFd);
    QCOMPARE(::send(serviceFd, request.constData(), size_t(request.size()), MSG_NOSIGNAL),
        ssize_t(request.size()));
    QVERIFY(!readFrame(serviceFd).isEmpty());
    QTRY_COMPARE(savedConnections(false), create ? 2 : 0);
    ::kill(lockedPid(), SIGKILL);
    QTRY_VERIFY(servicePids().isEmpty());
    ::close(listener);
    ::unlink(QFile::encodeName(socket).constData());
    ::close(serviceFd);
    ::close(callerFd);
    caller.join();

    QVERIFY(done);
    QVariant list;
    QVERIFY(sec_GetConnectionsList(&list));
    const QVariantList left = create ? QVariantList { existing, existing + 1 } : QVariantList();
    QCOMPARE(list.toList(), left);
    if (create)
        QCOMPARE(made, existing + 1);
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--other-build") == 0)
        return runOtherBuild(atoi(argv[2]));
    // One of the concurrent callers of concurrentStartsLeaveOneService.
    if (argc == 2 && qstrcmp(argv[1], "--connect-once") == 0)
        return sec_ConnectService(QStringLiteral(".")) ? 0 : 1;
    QCoreApplication app(argc, argv);
    TestServiceProcess test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serviceprocess.moc"
