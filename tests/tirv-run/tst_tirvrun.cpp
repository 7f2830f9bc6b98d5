#include "deviceserver.h"
#include "lineprotocol.h"
#include "portfixture.h"
#include "simulatorprocess.h"

#include <QProcess>
#include <QtTest>

#include <linux/securebits.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kSimulatorIp = QStringLiteral("127.0.0.24");
const QString kPython = QStringLiteral("/usr/bin/python3");

QString script(const char *name)
{
    return QStringLiteral(TIRV_RUN_SCRIPTS "/") + QLatin1String(name);
}

// A program run on the event loop, which serves its port meanwhile.
class Program
{
public:
    Program(QStringList command, bool underTirvRun,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        if (underTirvRun)
            command.prepend(qEnvironmentVariable("TIRV_RUN_EXEC"));
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setProcessEnvironment(environment);
        process.start(command.takeFirst(), command);
    }
    ~Program()
    {
        process.kill();
        process.waitForFinished();
    }
    // Waits for text in the output, then writes input.
    bool answer(const QString &text, const QByteArray &input)
    {
        if (!waitFor([&] { return read().contains(text); }, 10000))
            return false;
        process.write(input);
        return true;
    }
    bool finish()
    {
        process.closeWriteChannel();
        return waitFor([&] { return read(), process.state() == QProcess::NotRunning; }, 20000);
    }
    const QString &read()
    {
        output += QString::fromLocal8Bit(process.readAll());
        return output;
    }

    QProcess process;
    QString output;
};

bool isInOrder(const QStringList &wanted, const QStringList &seen)
{
    int at = 0;
    for (const QString &command : seen) {
        if (at < wanted.size() && command == wanted.at(at))
            ++at;
    }
    return at == wanted.size();
}

// Asks the line channel for a port's state with the effective uid of nobody, keeping the right
// to reach the folder, so that only the service's credentials check stands in the way. Exit
// code: 0 refused, 1 answered, 2 the test bed could not be set up.
int askAsOtherUid(const QByteArray &socketPath, quint64 device)
{
    if (::prctl(PR_SET_SECUREBITS, SECBIT_NO_SETUID_FIXUP) != 0
        || ::syscall(SYS_setresuid, -1, 65534, -1) != 0)
        return 2;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return 2;
    tirv_line_request request {};
    request.version = TIRV_LINE_VERSION;
    request.op = TIRV_LINE_STATE;
    request.device = device;
    ::send(fd, &request, sizeof request, MSG_NOSIGNAL);
    tirv_line_answer answer;
    return ::recv(fd, &answer, sizeof answer, 0) > 0 ? 1 : 0;
}

} // namespace

// Programs started by tirv-run on TIRV ports, and the same programs without it.
class TestTirvRun : public QObject
{
    Q_OBJECT

private slots:
    void programs_data();
    void programs();
    void rawPortKeepsWhatProgramsSet();
    void otherUsersAreRefused();
    void overlongPreloadIsRefused();
};

void TestTirvRun::programs_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<bool>("underTirvRun");
    // A terminal program's keys: pairs of what it shows and the keys then typed.
    QTest::addColumn<QStringList>("dialogue");
    // Written at once, then closed.
    QTest::addColumn<QByteArray>("input");
    // Commands the device must get in this order; commands it must not get.
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QStringList>("notSent");
    QTest::addColumn<QStringList>("shows");
    QTest::addColumn<QString>("hides");

    const QString port = PortFixture::linkPath(QStringLiteral("COM40"));
    const QStringList all { "SET-CONTROL 9", "SET-CONTROL 12", "SET-DATASIZE 7", "SET-PARITY 3",
        "SET-CONTROL 5", "SET-CONTROL 6" };
    const QStringList framing { "SET-DATASIZE 7", "SET-PARITY 3" };
    const QStringList none { "SET-DATASIZE 7", "SET-CONTROL 5" };
    const QStringList pyserial { kPython, script("serial_lines.py"), port };
    QTest::newRow("pyserial, tirv-run")
        << pyserial << true << QStringList() << QByteArray() << all << QStringList()
        << QStringList { "io ok", "lines ok", "settings 7E", "break ok", "cts off", "wait ok" }
        << "error";
    QTest::newRow("pyserial") << pyserial << false << QStringList() << QByteArray() << QStringList()
                              << none
                              << QStringList { "io ok", "lines error 25", "settings error 22",
                                     "wait error 25" }
                              << "";
    // Through a terminal: once the settings show, the menu is taken: DTR and RTS toggled, 7
    // data bits, even parity, break on and off, quit.
    const QStringList miniterm { "script", "-qec",
        QStringLiteral("%1 -m serial.tools.miniterm %2 9600").arg(kPython, port), "/dev/null" };
    const QStringList menu { "--- Quit", "\x14\x09", "--- Settings",
        "\x14\x04\x14\x12\x14"
        "7\x14"
        "E\x14\x02\x14\x02\x1d" };
    QTest::newRow("miniterm, tirv-run")
        << miniterm << true << menu << QByteArray() << all << QStringList()
        << QStringList { "BREAK inactive" } << "Error";
    QTest::newRow("miniterm") << miniterm << false << menu << QByteArray() << QStringList() << none
                              << QStringList { "Inappropriate ioctl" } << "";
    // DTR and RTS toggled, a break, quit.
    const QStringList picocom { "script", "-qec", QStringLiteral("picocom -d 7 -p e %1").arg(port),
        "/dev/null" };
    const QStringList keys { "Terminal ready", "\x01\x14\x01\x07\x01\x1c\x01\x18" };
    QTest::newRow("picocom, tirv-run")
        << picocom << true << keys << QByteArray()
        << QStringList { "SET-DATASIZE 7", "SET-PARITY 3", "SET-CONTROL 9", "SET-CONTROL 12",
               "SET-CONTROL 5", "SET-CONTROL 6" }
        << QStringList() << QStringList { "DTR: down", "RTS: down", "break sent" } << "mismatch";
    QTest::newRow("picocom") << picocom << false << keys << QByteArray() << QStringList() << none
                             << QStringList { "Settings mismatch" } << "";
    const QStringList socat { "socat", "-u", "STDIN",
        port + ",raw,echo=0,b9600,cs7,parenb=1,parodd=0" };
    QTest::newRow("socat, tirv-run")
        << socat << true << QStringList() << QByteArray("data") << framing << QStringList()
        << QStringList() << "Invalid argument";
    QTest::newRow("socat") << socat << false << QStringList() << QByteArray("data") << QStringList()
                           << none << QStringList { "Invalid argument" } << "";
    const QStringList pymodbus { kPython, script("modbus_open.py"), port };
    QTest::newRow("pymodbus, tirv-run")
        << pymodbus << true << QStringList() << QByteArray() << framing << QStringList()
        << QStringList { "connected True" } << "Error";
    QTest::newRow("pymodbus") << pymodbus << false << QStringList() << QByteArray() << QStringList()
                              << none << QStringList { "Invalid argument" } << "";
}

void TestTirvRun::programs()
{
    QFETCH(QStringList, command);
    QFETCH(bool, underTirvRun);
    QFETCH(QStringList, dialogue);
    QFETCH(QByteArray, input);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, notSent);
    QFETCH(QStringList, shows);
    QFETCH(QString, hides);
    if (QStandardPaths::findExecutable(command.first()).isEmpty())
        QSKIP("the program is not installed (tools/bootstrap.sh installs it)");
    SimulatorProcess device(kSimulatorIp);
    if (!SimulatorProcess::unavailable().isEmpty())
        QSKIP(qPrintable(SimulatorProcess::unavailable()));
    QVERIFY(device.start());
    PortFixture ports;
    const ConnectionHandle handle
        = ports.startPort(QStringLiteral("COM40"), 966, { 0, 0, 0, kSimulatorIp, "RFC2217" });
    QVERIFY(handle > 0);
    // The device takes each change as it comes.
    QVERIFY(waitFor([&] { return ports.lineStatus(handle).value("support") == "supported"; }));

    Program program(command, underTirvRun);
    for (int i = 0; i + 1 < dialogue.size(); i += 2)
        QVERIFY2(program.answer(dialogue.at(i), dialogue.at(i + 1).toLatin1()),
            qPrintable(program.read()));
    program.process.write(input);
    QVERIFY2(program.finish(), qPrintable(program.read()));
    const QString output = program.read();
    for (const QString &text : shows)
        QVERIFY2(output.contains(text), qPrintable(output));
    QVERIFY2(hides.isEmpty() || !output.contains(hides), qPrintable(output));
    // After the program, the port closes and RTS goes off unless the program had it off.
    const QString closed = sent.isEmpty() ? QStringLiteral("SET-CONTROL 12") : sent.last();
    const QStringList commands = device.until(closed, 0);
    QVERIFY2(isInOrder(sent, commands), qPrintable(commands.join(", ")));
    for (const QString &command : notSent)
        QVERIFY2(!commands.contains(command), qPrintable(commands.join(", ")));
}

// A RAW port reaches no device: it keeps DTR, RTS, data bits and parity as programs set them,
// with CTS, DSR and CD on, until the last one closes it. A pty that is no port, and a port whose
// service cannot be asked, answer as without tirv-run.
void TestTirvRun::rawPortKeepsWhatProgramsSet()
{
    DeviceServer device(true);
    QVERIFY(device.listen());
    PortFixture ports;
    const ConnectionHandle handle = ports.startPort(QStringLiteral("COM41"), device.port());
    const QString link = PortFixture::linkPath(QStringLiteral("COM41"));
    const QStringList probe { kPython, script("line_probe.py"), link };
    {
        Program program(probe, true);
        QVERIFY2(program.answer("set 0x162 cs7\n", "\n"), qPrintable(program.read()));
        const QVariantMap line = ports.lineStatus(handle);
        QCOMPARE(
            line.value("requested").toMap(), QVariantMap({ { "data", 7 }, { "parity", "even" } }));
        QCOMPARE(line.value("modem").toMap(),
            QVariantMap({ { "dtr", 1 }, { "rts", 0 }, { "cts", 1 }, { "dsr", 1 }, { "cd", 1 },
                { "ri", 0 } }));
        QVERIFY(program.finish());
        QCOMPARE(program.output.split('\n', Qt::SkipEmptyParts),
            QStringList({ "open 0x166", "set 0x162 cs7", "child 0x162", "threads same",
                "pty errno 25 errno 22" }));
    }
    QVERIFY(waitFor([&] { return ports.state(handle) == 1; }));
    QCOMPARE(ports.lineStatus(handle).value("requested").toMap().value("data"), QVariant(8));
    QCOMPARE(ports.lineStatus(handle).value("modem").toMap().value("dtr"), QVariant(0));

    // A link to the port in a folder where no service listens.
    QTemporaryDir elsewhere;
    QVERIFY(QFile::link(QFileInfo(link).symLinkTarget(), elsewhere.filePath("COM41")));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TIRV_PORT_DIR", elsewhere.path());
    Program unreachable(probe, true, environment);
    QVERIFY2(unreachable.answer("set errno 25 errno 22\n", "\n"), qPrintable(unreachable.read()));
    QVERIFY(unreachable.read().startsWith("open errno 25\n"));
}

void TestTirvRun::otherUsersAreRefused()
{
    if (::geteuid() != 0)
        QSKIP("only root can take another uid");
    DeviceServer device;
    QVERIFY(device.listen());
    PortFixture ports;
    QVERIFY(ports.startPort(QStringLiteral("COM42"), device.port()) > 0);
    struct stat pty;
    QVERIFY(::stat(QFile::encodeName(PortFixture::linkPath("COM42")).constData(), &pty) == 0);
    const QByteArray socketPath = QFile::encodeName(PortFixture::linkPath(TIRV_LINE_SOCKET));
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(askAsOtherUid(socketPath, pty.st_rdev));
    int status = -1;
    // The channel answers on this loop; the child ends either way, telling no event.
    QTimer look;
    look.start(10);
    QVERIFY(waitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }));
    QCOMPARE(WEXITSTATUS(status), 0);
}

// Cut short, the list would lose or break a library the caller preloads.
void TestTirvRun::overlongPreloadIsRefused()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"), QString(20000, QLatin1Char('x')));
    QProcess run;
    run.setProcessEnvironment(environment);
    run.start(qEnvironmentVariable("TIRV_RUN_EXEC"), { QStringLiteral("true") });
    QVERIFY(run.waitForFinished());
    QCOMPARE(run.exitCode(), 127);
    QVERIFY(run.readAllStandardError().contains("LD_PRELOAD is too long"));
}

QTEST_GUILESS_MAIN(TestTirvRun)
#include "tst_tirvrun.moc"
