#include "customspeed.h"
#include "deviceserver.h"
#include "linesettings.h"
#include "portfixture.h"
#include "programend.h"
#include "ser2netpeer.h"
#include "simulatorprocess.h"

#include <QtTest>

#include <termios.h>

namespace {

const int kMiB = 1024 * 1024;
const QString kSimulatorIp = QStringLiteral("127.0.0.23");

// Every byte value, with runs of 0xFF that Telnet must double and undouble.
QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = i % 997 < 23 ? char(0xff) : char((i + i / 256 + seed) & 0xff);
    return bytes;
}

QByteArray wire(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

void setSpeed(int fd, speed_t speed, bool twoStopBits = false)
{
    termios attributes;
    tcgetattr(fd, &attributes);
    cfsetspeed(&attributes, speed);
    if (twoStopBits)
        attributes.c_cflag |= CSTOPB;
    tcsetattr(fd, TCSANOW, &attributes);
}

} // namespace

class TestRfc2217 : public QObject
{
    Q_OBJECT

private slots:
    void settingsReachSer2net();
    void bytesPassSer2netUnchanged_data();
    void bytesPassSer2netUnchanged();
    void commandsFollowTheProgram();
    void settingsWaitForAProgram();
    void malformedPeerLeavesThePortWorking();
    void silentPeerIsTakenToRefuse();
};

void TestRfc2217::settingsReachSer2net()
{
    if (!Ser2netPeer::isInstalled())
        QSKIP("ser2net is not installed");
    Ser2netPeer peer;
    QVERIFY(peer.start());
    PortFixture ports;
    const ConnectionHandle handle = ports.startPort(
        QStringLiteral("COM31"), peer.port(), { 0, 0, 0, "127.0.0.1", "RFC2217" });
    QVERIFY(handle > 0);
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM31")));
    QVERIFY(waitFor([&] { return ports.state(handle) == 2; }));
    QElapsedTimer clock;
    clock.start();
    setSpeed(program.descriptor(), B19200, true);
    QVERIFY(waitFor(
        [&] {
            const termios device = peer.deviceAttributes();
            return cfgetospeed(&device) == B19200 && (device.c_cflag & CSTOPB);
        },
        1000));
    qInfo("ser2net's line switched %lld ms after tcsetattr", clock.elapsed());
    QVERIFY(waitFor([&] {
        return ports.lineStatus(handle).value("applied").toMap().value("text") == "19200 8N2";
    }));
    QCOMPARE(ports.lineStatus(handle).value("support").toString(), QString("supported"));
}

void TestRfc2217::bytesPassSer2netUnchanged_data()
{
    QTest::addColumn<int>("toDevice");
    QTest::addColumn<int>("toProgram");
    QTest::newRow("program to device, 1 MiB") << kMiB << 0;
    QTest::newRow("device to program, 1 MiB") << 0 << kMiB;
    QTest::newRow("both at once, 1 MiB") << kMiB << kMiB;
}

void TestRfc2217::bytesPassSer2netUnchanged()
{
    QFETCH(int, toDevice);
    QFETCH(int, toProgram);
    if (!Ser2netPeer::isInstalled())
        QSKIP("ser2net is not installed");
    Ser2netPeer peer;
    QVERIFY(peer.start());
    PortFixture ports;
    const ConnectionHandle handle = ports.startPort(
        QStringLiteral("COM32"), peer.port(), { 0, 0, 0, "127.0.0.1", "RFC2217" });
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM32")));
    // Answers to the settings sent at the open: ser2net has its device open and set up.
    QVERIFY(waitFor(
        [&] { return ports.lineStatus(handle).value("applied").toMap().contains("baud"); }));
    ProgramEnd line(peer.takeWire());
    const QByteArray out = pattern(toDevice, 3);
    const QByteArray in = pattern(toProgram, 11);
    program.write(out);
    line.write(in);
    QVERIFY(waitFor(
        [&] { return line.received.size() >= out.size() && program.received.size() >= in.size(); },
        30000));
    QVERIFY(line.received == out);
    QVERIFY(program.received == in);
}

void TestRfc2217::commandsFollowTheProgram()
{
    SimulatorProcess device(kSimulatorIp);
    if (!SimulatorProcess::unavailable().isEmpty())
        QSKIP(qPrintable(SimulatorProcess::unavailable()));
    QVERIFY(device.start());
    PortFixture ports;
    const QVariantMap framing { { "serial.databits", 7 }, { "serial.parity", "even" } };
    const ConnectionHandle handle = ports.startPort(
        QStringLiteral("COM33"), 966, { 0, 0, 0, kSimulatorIp, "RFC2217", framing });
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM33")));
    const int fd = program.descriptor();
    termios attributes;
    tcgetattr(fd, &attributes);
    const QString baud = QString::number(LineSettings::fromTermios(attributes).baud);
    QCOMPARE(device.until("SET-CONTROL 11", 0),
        QStringList(
            { "SET-MODEMSTATE-MASK 255", "SET-BAUDRATE " + baud, "SET-DATASIZE 7", "SET-PARITY 3",
                "SET-STOPSIZE 1", "SET-CONTROL 1", "SET-CONTROL 8", "SET-CONTROL 11" }));

    struct Step
    {
        std::function<void()> act;
        QStringList sent;
    };
    const QList<Step> steps {
        // The same settings again send nothing: only the new speed follows.
        { [&] { setSpeed(fd, cfgetospeed(&attributes)), setSpeed(fd, B19200); },
            { "SET-BAUDRATE 19200" } },
        // A rate that is no termios constant, as serial libraries set it.
        { [&] { QVERIFY(setCustomSpeed(fd, 250000)); }, { "SET-BAUDRATE 250000" } },
        { [&] { setSpeed(fd, B0); }, { "SET-CONTROL 9" } },
        { [&] { setSpeed(fd, B19200); }, { "SET-BAUDRATE 19200", "SET-CONTROL 8" } },
        { [&] { tcflush(fd, TCIOFLUSH); }, { "PURGE-DATA 3" } },
        // Canonical mode: found by looking, not announced.
        { [&] {
             termios canonical;
             tcgetattr(fd, &canonical);
             canonical.c_lflag |= ICANON;
             tcsetattr(fd, TCSANOW, &canonical);
             setSpeed(fd, B57600);
         },
            { "SET-BAUDRATE 57600" } },
        { [&] {
             ports.table->setParam(handle, "serial.databits", 8);
             QVERIFY(ports.table->applyConnection(handle));
         },
            { "SET-DATASIZE 8" } },
        { [&] { setSpeed(fd, B0); }, { "SET-CONTROL 9" } },
        { [&] { program.close(); }, { "SET-CONTROL 12" } },
    };
    for (const Step &step : steps) {
        const int seen = device.commands().size();
        step.act();
        QCOMPARE(device.until(step.sent.last(), seen), step.sent);
    }
    const QVariantMap closed { { "dtr", 0 }, { "rts", 0 }, { "cts", 0 }, { "dsr", 0 }, { "cd", 0 },
        { "ri", 0 } };
    // The port's reset to 9600 after the close leaves DTR off, as the hang-up left it.
    QVERIFY(waitFor([&] {
        const QVariantMap line = ports.lineStatus(handle);
        return line.value("modem") == closed
            && line.value("requested").toMap().value("baud") == 9600;
    }));
    QCOMPARE(ports.lineStatus(handle).value("applied").toMap().value("baud").toInt(), 57600);
}

// Nothing goes out while the port is closed, even across a reconnect; a reconnect while open
// sends everything again.
void TestRfc2217::settingsWaitForAProgram()
{
    SimulatorProcess device(kSimulatorIp);
    if (!SimulatorProcess::unavailable().isEmpty())
        QSKIP(qPrintable(SimulatorProcess::unavailable()));
    QVERIFY(device.start());
    PortFixture ports;
    const ConnectionHandle handle
        = ports.startPort(QStringLiteral("COM34"), 966, { 0, 0, 0, kSimulatorIp, "RFC2217" });
    QVERIFY(waitFor([&] { return ports.remoteUp(handle) == "1"; }));
    device.stop();
    QVERIFY(device.start());
    QVERIFY(waitFor([&] { return ports.remoteUp(handle) == "1"; }));
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM34")));
    QCOMPARE(device.until("SET-CONTROL 11", 0).first(), QString("SET-MODEMSTATE-MASK 255"));
    QCOMPARE(device.commands().size(), 8);
    QVERIFY(
        waitFor([&] { return ports.lineStatus(handle).value("modem").toMap().value("cts") == 1; }));
    device.stop();
    QVERIFY(device.start());
    QCOMPARE(device.until("SET-CONTROL 11", 0).size(), 8);
}

// Garbage, a subnegotiation never finished, a flood of requests and a refused COM-PORT-OPTION:
// the data still passes both ways and the port says it cannot carry settings.
void TestRfc2217::malformedPeerLeavesThePortWorking()
{
    DeviceServer device;
    QVERIFY(device.listen());
    PortFixture ports;
    const ConnectionHandle handle = ports.startPort(
        QStringLiteral("COM35"), device.port(), { 0, 0, 0, "127.0.0.1", "RFC2217" });
    QVERIFY(waitFor([&] { return device.clients() == 1; }));
    ProgramEnd program(PortFixture::linkPath(QStringLiteral("COM35")));
    QVERIFY(waitFor([&] { return ports.state(handle) == 2; }));
    QByteArray hostile = wire({ 255, 254, 44, 255, 7, 255, 240, 255, 250, 44, 101, 1, 2 });
    for (int i = 0; i < 20000; ++i)
        hostile += wire({ 255, 253, 99, 255, 251, 98 });
    hostile += wire({ 255, 250, 44 }) + QByteArray(1000, 'z') + wire({ 255, 250, 44, 1 });
    hostile += wire({ 255, 241 }) + "data" + wire({ 255, 255, 0 });
    device.send(hostile);
    QVERIFY(waitFor([&] { return program.received.endsWith(QByteArray("data\xff\0", 6)); }));
    QCOMPARE(
        ports.lineStatus(handle).value("support").toString(), QString("settings not supported"));
    device.received.clear();
    program.write(QByteArray("ok\xff", 3));
    QVERIFY(waitFor([&] { return device.received.endsWith(QByteArray("ok\xff\xff", 4)); }));
    QCOMPARE(ports.state(handle), 2);
}

// A plain TCP device never answers the Telnet requests: after a few seconds the port says so.
void TestRfc2217::silentPeerIsTakenToRefuse()
{
    DeviceServer device;
    QVERIFY(device.listen());
    PortFixture ports;
    const ConnectionHandle handle = ports.startPort(
        QStringLiteral("COM36"), device.port(), { 0, 0, 0, "127.0.0.1", "RFC2217" });
    QVERIFY(waitFor([&] { return ports.lineStatus(handle).value("support") == "negotiating"; }));
    QVERIFY(waitFor(
        [&] { return ports.lineStatus(handle).value("support") == "settings not supported"; },
        5000));
}

PORT_TEST_MAIN(TestRfc2217)
#include "tst_rfc2217.moc"
