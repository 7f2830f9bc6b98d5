#include "deviceserver.h"
#include "portfixture.h"
#include "programend.h"
#include "segmentcapture.h"
#include "testnetwork.h"

#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Every byte value, shifted per 256-byte block so that lost or reordered blocks show.
QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i + i / 256 + seed) & 0xff);
    return bytes;
}

const int kMiB = 1024 * 1024;
const int kHold = 64 * 1024;

QStringList warnings;

void collectWarning(QtMsgType, const QMessageLogContext &, const QString &text)
{
    warnings.append(text);
}

// What the device gets once it is back: the bytes held meanwhile, then a marker the program
// writes after them, which is left off. Empty when they do not come.
QByteArray heldBytes(DeviceServer &device, ProgramEnd &program)
{
    const QByteArray marker("\xff\x00END", 5);
    if (!waitFor([&] { return device.received.size() >= kHold; }, 10000))
        return QByteArray();
    program.write(marker);
    if (!waitFor([&] { return device.received.endsWith(marker); }))
        return QByteArray();
    return device.received.chopped(marker.size());
}

} // namespace

class TestBridge : public QObject
{
    Q_OBJECT

private slots:
    void bytesPassUnchanged_data();
    void bytesPassUnchanged();
    void writesBeforeTheConnectionWait();
    void lastCloseSendsWhatWasWritten();
    void reconnectsAndSendsHeldBytes();
    void flappingDeviceIsToldOnce();
    void holdBufferDropsTheOverflow();
    void writerGoesOnOnceTheFirstConnectFails();
    void bytesAfterTheDeviceClosedWaitForTheNext();
    void packing_data();
    void packing();
    void fullSegmentsGoBeforeThePause();
};

void TestBridge::bytesPassUnchanged_data()
{
    QTest::addColumn<int>("toDevice");
    QTest::addColumn<int>("toProgram");
    QTest::addColumn<int>("sendMode");

    QTest::newRow("program to device, every value") << 256 << 0 << 0;
    QTest::newRow("device to program, every value") << 0 << 256 << 0;
    QTest::newRow("program to device, 1 MiB") << kMiB << 0 << 0;
    QTest::newRow("device to program, 1 MiB") << 0 << kMiB << 0;
    QTest::newRow("both at once, 1 MiB") << kMiB << kMiB << 0;
    // Packing may regroup bytes, never change or lose them.
    QTest::newRow("both at once, packed") << kMiB << kMiB << 2;
}

void TestBridge::bytesPassUnchanged()
{
    QFETCH(int, toDevice);
    QFETCH(int, toProgram);
    QFETCH(int, sendMode);
    DeviceServer device;
    QVERIFY(device.listen());
    PortFixture ports;
    const ConnectionHandle handle
        = ports.startPort(QStringLiteral("COM3"), device.port(), { 0, sendMode, 1 });
    QVERIFY(handle > 0);
    QVERIFY(waitFor([&] { return device.clients() == 1; }));
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM3")));
    QVERIFY(program.isOpen());
    QVERIFY(waitFor([&] { return ports.state(handle) == 2; }));

    const QByteArray out = pattern(toDevice, 1);
    const QByteArray in = pattern(toProgram, 7);
    program.write(out);
    device.send(in);
    QVERIFY(waitFor(
        [&] {
            return device.received.size() >= out.size() && program.received.size() >= in.size();
        },
        30000));
    QCOMPARE(device.received.size(), out.size());
    QCOMPARE(program.received.size(), in.size());
    QVERIFY(device.received == out);
    QVERIFY(program.received == in);
}

void TestBridge::writesBeforeTheConnectionWait()
{
    // A listener whose accept queue is full: the port's connect stays in flight, its SYN dropped.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QCOMPARE(bind(listener, reinterpret_cast<sockaddr *>(&address), length), 0);
    QCOMPARE(listen(listener, 0), 0);
    getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    QTcpSocket filler;
    filler.connectToHost(QHostAddress::LocalHost, ntohs(address.sin_port));
    QVERIFY(filler.waitForConnected());

    PortFixture ports;
    ports.startPort(QStringLiteral("COM7"), ntohs(address.sin_port), { 1 });
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM7")));
    const QByteArray out = pattern(8 * kHold, 9);
    program.write(out);
    // The program is held back, not drained into a drop.
    QVERIFY(!waitFor([&] { return program.pending() == 0; }, 300));

    ::close(accept(listener, nullptr, nullptr));
    QTcpSocket device;
    QSocketNotifier arrival(listener, QSocketNotifier::Read);
    bool arrived = false;
    connect(&arrival, &QSocketNotifier::activated, this, [&] { arrived = true; });
    QVERIFY(waitFor([&] { return arrived; }));
    QVERIFY(device.setSocketDescriptor(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)));
    ::close(listener);
    QByteArray received;
    QVERIFY(waitFor(
        [&] {
            received += device.readAll();
            return received.size() >= out.size();
        },
        10000));
    QVERIFY(received == out);
}

void TestBridge::lastCloseSendsWhatWasWritten()
{
    DeviceServer device;
    QVERIFY(device.listen());
    PortFixture ports;
    const ConnectionHandle handle = ports.startPort(QStringLiteral("COM6"), device.port(), { 1 });
    for (int session = 0; session < 3; ++session) {
        ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM6")));
        QVERIFY(waitFor([&] { return device.clients() == 1; }));
        const QByteArray out = pattern(200 * 1024, session);
        program.write(out);
        QVERIFY(waitFor([&] { return program.pending() == 0; }));
        program.close();
        QVERIFY(waitFor([&] { return device.clients() == 0; }));
        QVERIFY(device.received == out);
        QCOMPARE(ports.remoteUp(handle), QStringLiteral("0"));
        device.received.clear();
    }
}

void TestBridge::reconnectsAndSendsHeldBytes()
{
    DeviceServer device;
    QVERIFY(device.listen());
    PortFixture ports;
    const ConnectionHandle handle = ports.startPort(QStringLiteral("COM4"), device.port());
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM4")));
    QVERIFY(waitFor([&] { return ports.remoteUp(handle) == QLatin1String("1"); }));

    device.stop();
    QVERIFY(waitFor([&] { return ports.remoteUp(handle) == QLatin1String("0"); }));
    const QByteArray held = pattern(10000, 3);
    program.write(held);
    QVERIFY(waitFor([&] { return program.pending() == 0; }));

    QVERIFY(device.listen(device.port()));
    QVERIFY(waitFor([&] { return ports.remoteUp(handle) == QLatin1String("1"); }, 3000));
    QVERIFY(waitFor([&] { return device.received.size() >= held.size(); }));
    QVERIFY(device.received == held);
    QCOMPARE(ports.state(handle), 2);
}

void TestBridge::flappingDeviceIsToldOnce()
{
    // A device that accepts every connection and drops it at once.
    QTcpServer device;
    QVERIFY(device.listen(QHostAddress::LocalHost));
    int accepted = 0;
    connect(&device, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *socket = device.nextPendingConnection()) {
            ++accepted;
            socket->abort();
            socket->deleteLater();
        }
    });
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWarning);
    const auto restore = qScopeGuard([&] { qInstallMessageHandler(previous); });
    PortFixture ports;
    ports.startPort(QStringLiteral("COM8"), device.serverPort());
    QVERIFY(waitFor([&] { return accepted >= 4; }));

    QCOMPARE(warnings.filter(QStringLiteral("COM8: connection to")).size(), 1);
    QCOMPARE(warnings.filter(QStringLiteral("again")).size(), 1);
}

void TestBridge::holdBufferDropsTheOverflow()
{
    DeviceServer device;
    QVERIFY(device.listen());
    PortFixture ports;
    const ConnectionHandle handle = ports.startPort(QStringLiteral("COM5"), device.port());
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM5")));
    QVERIFY(waitFor([&] { return ports.remoteUp(handle) == QLatin1String("1"); }));
    device.stop();
    QVERIFY(waitFor([&] { return ports.remoteUp(handle) == QLatin1String("0"); }));

    // Far beyond the hold buffer: the program is never blocked, the excess is dropped.
    const QByteArray written = pattern(kHold + 4 * kHold, 5);
    program.write(written);
    QVERIFY(waitFor([&] { return program.pending() == 0; }));
    QVERIFY(device.listen(device.port()));
    const QByteArray held = heldBytes(device, program);

    QVERIFY(held.startsWith(written.left(kHold)));
    // What the pty itself still held when the device came back may follow; no more.
    QVERIFY2(held.size() < kHold + 32 * 1024, qPrintable(QString::number(held.size())));
}

void TestBridge::writerGoesOnOnceTheFirstConnectFails()
{
    TestNetwork network;
    if (!network.isReady())
        QSKIP("a network namespace of its own needs root");
    DeviceServer device;
    bool listening = false;
    network.onDeviceSide(
        [&] { listening = device.listen(0, QHostAddress(TestNetwork::deviceAddress())); });
    QVERIFY(listening);
    QVERIFY(network.setDeviceLinkUp(false));
    PortFixture ports;
    PortOptions options;
    options.host = TestNetwork::deviceAddress();
    QVERIFY(ports.startPort(QStringLiteral("COM5"), device.port(), options) > 0);
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM5")));

    // Held back only until the first attempt fails (3 s at most), not until the device answers.
    const QByteArray written = pattern(200 * 1024, 6);
    program.write(written);
    QVERIFY(waitFor([&] { return program.pending() == 0; }, 8000));
    QVERIFY(network.setDeviceLinkUp(true));
    QCOMPARE(heldBytes(device, program), written.left(kHold));
}

void TestBridge::bytesAfterTheDeviceClosedWaitForTheNext()
{
    DeviceServer device;
    QVERIFY(device.listen());
    PortFixture ports;
    const ConnectionHandle handle = ports.startPort(QStringLiteral("COM9"), device.port());
    // A program that writes and never reads what the device sends.
    const int program = ::open(QFile::encodeName(PortFixture::linkPath(QStringLiteral("COM9"))),
        O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(program >= 0);
    const auto closeProgram = qScopeGuard([&] { ::close(program); });
    QVERIFY(waitFor([&] { return ports.state(handle) == 2 && device.clients() == 1; }));
    // More than the port holds for the program: it stops reading the device, ending included.
    device.send(QByteArray(kHold + 36 * 1024, 'x'));
    QVERIFY(waitFor([&] { return device.unsent() == 0; }));

    QByteArray written;
    for (int kill = 0; kill < 3; ++kill) {
        device.stop();
        const QByteArray bytes = pattern(1000, kill);
        QCOMPARE(::write(program, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        written += bytes;
        QVERIFY(device.listen(device.port()));
        QVERIFY(waitFor([&] { return device.received.size() >= written.size(); }));
        QCOMPARE(device.received, written);
    }
}

void TestBridge::packing_data()
{
    QTest::addColumn<int>("sendMode");
    QTest::addColumn<int>("segments");

    // Each write reaches the device before the next is made: the capture tells them apart.
    QTest::newRow("mode 0: each write at once") << 0 << 10;
    // Writes 10 ms apart, far within the pause of 1 s: packing is what the mode is for.
    QTest::newRow("mode 2: writes within the pause, one segment") << 2 << 1;
}

void TestBridge::packing()
{
    QFETCH(int, sendMode);
    QFETCH(int, segments);
    TestNetwork network;
    if (!network.isReady())
        QSKIP("a network namespace of its own needs root");
    DeviceServer device;
    std::unique_ptr<SegmentCapture> capture;
    network.onDeviceSide([&] {
        device.listen(0, QHostAddress(TestNetwork::deviceAddress()));
        capture = std::make_unique<SegmentCapture>(QStringLiteral("tvd"));
    });
    QVERIFY(capture->isOpen());
    PortFixture ports;
    PortOptions options { 0, sendMode, 1000, TestNetwork::deviceAddress() };
    const ConnectionHandle handle = ports.startPort(QStringLiteral("COM2"), device.port(), options);
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM2")));
    QVERIFY(waitFor([&] { return ports.state(handle) == 2 && device.clients() == 1; }));

    QByteArray written;
    for (int i = 0; i < 10; ++i) {
        const QByteArray bytes = pattern(8, i);
        program.write(bytes);
        written += bytes;
        if (sendMode == 0)
            QVERIFY(waitFor([&] { return device.received.size() == written.size(); }));
        else
            waitFor([] { return false; }, 10);
    }
    QVERIFY(waitFor([&] { return device.received.size() >= written.size(); }));
    QCOMPARE(device.received, written);
    QCOMPARE(capture->payloads(device.port()).size(), segments);
}

void TestBridge::fullSegmentsGoBeforeThePause()
{
    DeviceServer device;
    QVERIFY(device.listen());
    PortFixture ports;
    const ConnectionHandle handle
        = ports.startPort(QStringLiteral("COM3"), device.port(), { 0, 2, 60000 });
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM3")));
    QVERIFY(waitFor([&] { return ports.state(handle) == 2 && device.clients() == 1; }));

    // Two segments' worth goes at once; the tail of 104 bytes waits for the pause of 60 s.
    const QByteArray written = pattern(3000, 4);
    program.write(written);
    const int segment = 1448;
    QVERIFY(waitFor([&] { return device.received.size() >= 2 * segment; }));
    QVERIFY(!waitFor([&] { return device.received.size() > 2 * segment; }, 200));
    QCOMPARE(device.received, written.left(2 * segment));
}

PORT_TEST_MAIN(TestBridge)
#include "tst_bridge.moc"
