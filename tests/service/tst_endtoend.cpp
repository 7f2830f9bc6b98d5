// The whole road of a virtual port: the worker makes a device's ports in the real service,
// a program opens the COM link as it would a serial port, and its bytes reach a simulated
// device and come back.

#include "refreshtree.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace {

// On loopback; the simulator binds it and serves device port k on TCP 964 + 2k.
const QString kDeviceIp = QStringLiteral("127.77.0.1");

QString linkPath(const QString &comName)
{
    return qEnvironmentVariable("TIRV_PORT_DIR") + QLatin1Char('/') + comName;
}

// Opens a port the way a serial program does: read-write, no controlling tty, raw.
int openRaw(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios mode {};
    if (fd >= 0 && ::tcgetattr(fd, &mode) == 0) {
        ::cfmakeraw(&mode);
        ::tcsetattr(fd, TCSANOW, &mode);
    }
    return fd;
}

// Reads exactly size bytes within the deadline.
QByteArray readExactly(int fd, int size, int timeoutMs)
{
    QByteArray data;
    QDeadlineTimer deadline(timeoutMs);
    while (data.size() < size && !deadline.hasExpired()) {
        pollfd ready { fd, POLLIN, 0 };
        if (::poll(&ready, 1, int(deadline.remainingTime())) <= 0)
            continue;
        char chunk[4096];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0)
            data.append(chunk, int(got));
    }
    return data;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void portsCarryBytesToTheDevice();

private:
    // Whether a list the worker sent within 10 s satisfied wanted; lastList is that list.
    bool waitForList(const std::function<bool(const QList<COMS_INFO> &)> &wanted);
    QString stateOf(const QString &comName);

    QProcess simulator;
    std::unique_ptr<RefreshTree> worker;
    QList<COMS_INFO> lastList;
};

void TestEndToEnd::initTestCase()
{
    if (geteuid() != 0)
        QSKIP("the simulated device cannot serve TCP ports below 1024 here (needs root)");
    simulator.start(qEnvironmentVariable("TIRV_DEVSIM_EXEC"),
        { QStringLiteral("--device"), QStringLiteral("ip=%1,ports=2,answer=text").arg(kDeviceIp) });
    QVERIFY2(simulator.waitForReadyRead(10000) && simulator.readLine().startsWith("ready"),
        "the simulated device did not start");
    worker = std::make_unique<RefreshTree>();
    connect(worker.get(), &RefreshTree::updateComInfo, this,
        [this](const QList<COMS_INFO> &list) { lastList = list; });
    worker->start();
}

void TestEndToEnd::cleanupTestCase()
{
    worker.reset();
    simulator.terminate();
    simulator.waitForFinished();
    // The service the worker started belongs to this test's private runtime folder.
    QFile lock(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/tirv-service.lock"));
    if (lock.open(QIODevice::ReadOnly))
        ::kill(lock.readLine().trimmed().toInt(), SIGTERM);
}

bool TestEndToEnd::waitForList(const std::function<bool(const QList<COMS_INFO> &)> &wanted)
{
    return QTest::qWaitFor([&] { return wanted(lastList); }, 10000);
}

QString TestEndToEnd::stateOf(const QString &comName)
{
    for (const COMS_INFO &port : qAsConst(lastList)) {
        if (port.comName == comName)
            return port.comState;
    }
    return QString();
}

void TestEndToEnd::portsCarryBytesToTheDevice()
{
    worker->postCreateDevice(2, QStringLiteral("2Ports"), kDeviceIp, QStringLiteral("null"));
    QVERIFY(waitForList([](const QList<COMS_INFO> &list) {
        return list.size() == 2 && list.at(1).comState == QStringLiteral("串口关闭");
    }));
    const QString first = lastList.at(0).comName;
    QCOMPARE(lastList.at(0).portSeq, QStringLiteral("1"));
    QVERIFY(QFileInfo(linkPath(first)).isSymLink());

    // Opening the port connects it to device port 1 (TCP 966), which echoes.
    const int fd = openRaw(linkPath(first));
    QVERIFY(fd >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(first), QStringLiteral("已连接"), 10000);
    QByteArray everyByte;
    for (int value = 0; value < 256; ++value)
        everyByte.append(char(value));
    QCOMPARE(::write(fd, everyByte.constData(), size_t(everyByte.size())), ssize_t(256));
    QCOMPARE(readExactly(fd, 256, 10000), everyByte);
    ::close(fd);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(first), QStringLiteral("串口关闭"), 10000);

    // A new COM name moves the link; clearing the device removes every link.
    DevInfo rename;
    rename.comName = first;
    rename.newComName = QStringLiteral("COM200");
    worker->postTask(TaskModifyCom, rename);
    QVERIFY(waitForList([](const QList<COMS_INFO> &list) {
        return list.size() == 2 && list.at(0).comName == QStringLiteral("COM200");
    }));
    QVERIFY(QFileInfo(linkPath(QStringLiteral("COM200"))).isSymLink());
    QVERIFY(!QFileInfo::exists(linkPath(first)));

    DevInfo device;
    device.devIp = kDeviceIp;
    worker->postTask(TaskClearDevice, device);
    QVERIFY(waitForList([](const QList<COMS_INFO> &list) { return list.isEmpty(); }));
    QCOMPARE(QDir(qEnvironmentVariable("TIRV_PORT_DIR")).entryList(QDir::System | QDir::Files),
        QStringList());
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
