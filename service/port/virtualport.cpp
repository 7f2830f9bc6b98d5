#include "virtualport.h"

#include "devicestream.h"
#include "linechannel.h"
#include "linewatcher.h"
#include "openwatcher.h"
#include "portlink.h"
#include "rfc2217session.h"
#include "servicekeys.h"
#include "tcplink.h"

#include <QDebug>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

const int kBufferBytes = 64 * 1024;
// A side held back because its buffer filled is read again once the buffer has this much at
// most: a slow peer then costs a wake-up and a pair of epoll_ctl() calls per half buffer, not
// per write it takes.
const int kResumeBytes = kBufferBytes / 2;
// Reads of what a program writes while the device is away, per wake-up, before the loop
// serves others.
const int kDiscardReads = 16;
// How long after the last close the port waits for that program's final bytes.
const int kCloseGraceMs = 100;
// The most a read from a pty master returns at once.
const int kPtyChunk = 4095;
// Pty reads per wake-up: the other direction, and the other ports, get their turn between. A
// master holds at most kPtyChunk at a time and the kernel's worker refills it meanwhile, so
// reading on catches it half done: with 4 reads, an echo both ways ran at 0.9 x socat, with 2 at
// 1.2 x (bench_ports throughput).
const int kReadsPerWake = 2;

// The one state every program finds the port in, whoever used it before: raw, 9600 baud, 8N1,
// no flow control, no hang-up on close, and the control characters of a fresh pty.
termios cleanAttributes(const termios &fresh)
{
    termios clean = fresh;
    clean.c_iflag = 0;
    clean.c_oflag = 0;
    clean.c_lflag = 0;
    clean.c_cflag = CS8 | CREAD | CLOCAL;
    clean.c_cc[VMIN] = 1;
    clean.c_cc[VTIME] = 0;
    cfsetispeed(&clean, B9600);
    cfsetospeed(&clean, B9600);
    return clean;
}

// Puts the slave in that state, without stale input and not exclusive.
void cleanSlave(int slave, const termios &clean)
{
    tcsetattr(slave, TCSANOW, &clean);
    tcflush(slave, TCIFLUSH);
    ioctl(slave, TIOCNXCL);
}

} // namespace

VirtualPort::VirtualPort(
    const BridgeSettings &settings, std::shared_ptr<OpenWatcher> watcher, LineChannel *channel)
    : settings(settings)
    , watcher(std::move(watcher))
    , channel(channel)
    , serialLine(settings.rfc2217)
    , toDevice(kBufferBytes)
    , toProgram(kBufferBytes)
{
    packTimer.setSingleShot(true);
    packTimer.setTimerType(Qt::PreciseTimer);
    connect(&packTimer, &QTimer::timeout, this, &VirtualPort::releasePack);
    closeGrace.setSingleShot(true);
    closeGrace.setInterval(kCloseGraceMs);
    connect(&closeGrace, &QTimer::timeout, this, &VirtualPort::finishClose);
}

VirtualPort::~VirtualPort()
{
    delete lines;
    delete tcp;
    releasePty();
}

bool VirtualPort::start(const PortDirectory &directory, QString *reason)
{
    this->directory = &directory;
    if (!makePty(reason))
        return false;
    setupBridge();
    return true;
}

// An error once the port has lost its pty.
int VirtualPort::state() const
{
    if (master < 0)
        return int(PortState::Error);
    return int(programsOpen ? PortState::Open : PortState::Closed);
}

// The hosts are fixed for the port's life, so the one that is up says all of remoteHosts().
// Revisions that wrap between two listings are beyond any real rate of change.
quint64 VirtualPort::statusKey() const
{
    return quint64(state()) << 56 | quint64(quint16(upHost() + 1)) << 40
        | quint64(quint8(health.troubleRevision())) << 32 | quint64(serialLine.revision());
}

quint64 VirtualPort::countersKey() const
{
    return health.activity();
}

QVariantMap VirtualPort::reason() const
{
    return health.reason();
}

QVariantMap VirtualPort::counters() const
{
    return health.counters();
}

QVariantList VirtualPort::remoteHosts() const
{
    const int up = upHost();
    QVariantList result;
    for (int i = 0; i < settings.hosts.size(); ++i) {
        const BridgeSettings::Host &host = settings.hosts.at(i);
        const QString connected = i == up ? QStringLiteral("1") : QStringLiteral("0");
        result.append(QVariant(QVariantList { host.name, host.portText, connected }));
    }
    return result;
}

int VirtualPort::upHost() const
{
    return tcp ? tcp->upHost() : -1;
}

bool VirtualPort::rename(const QString &comName, QString *reason)
{
    if (!link) {
        *reason = QStringLiteral("lost its pseudo-terminal, so it has no link to move");
    } else if (!BridgeSettings::isUsableComName(comName)) {
        *reason = QStringLiteral("\"%1\" cannot name a port file").arg(comName);
    } else if (link->place(comName, reason)) {
        settings.comName = comName;
        return true;
    }
    report(*reason);
    return false;
}

bool VirtualPort::reconfigure(const QVariantMap &params)
{
    BridgeSettings next;
    QString reason;
    if (!BridgeSettings::fromParams(params, &next, &reason) || !settings.isCompatible(next))
        return false;
    settings.dataBits = next.dataBits;
    settings.parity = next.parity;
    serialLine.setFraming(settings.dataBits, settings.parity);
    passLineOn();
    return true;
}

QVariantMap VirtualPort::lineStatus() const
{
    return serialLine.status();
}

// The request shows a program holds the port, even before its open is reported.
void VirtualPort::changeLine(const std::function<void(LineState &)> &change)
{
    followPrograms(false);
    pumpToDevice();
    change(serialLine);
    passLineOn();
}

// A pty, its link under the port's name, and the watch on its opens.
bool VirtualPort::makePty(QString *reason)
{
    if (!openPty(reason))
        return false;
    link = std::make_unique<PortLink>(*directory, slavePath);
    return link->place(settings.comName, reason) && watchPty(reason);
}

bool VirtualPort::openPty(QString *reason)
{
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[64];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0
        || ptsname_r(master, name, sizeof name) != 0) {
        *reason = QStringLiteral("cannot make a pseudo-terminal: %1").arg(qt_error_string(errno));
        return false;
    }
    slavePath = QString::fromLocal8Bit(name);
    // Opened once to make it private and clean; its close leaves the master hung up.
    const int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios fresh;
    struct stat info;
    const bool ready = slave >= 0 && fchmod(slave, S_IRUSR | S_IWUSR) == 0
        && tcgetattr(slave, &fresh) == 0 && fstat(slave, &info) == 0;
    if (ready) {
        clean = cleanAttributes(fresh);
        cleanSlave(slave, clean);
        slaveDevice = info.st_rdev;
    }
    if (slave >= 0)
        close(slave);
    epoll_event hangUp {};
    hangUps = epoll_create1(EPOLL_CLOEXEC);
    if (!ready || hangUps < 0 || epoll_ctl(hangUps, EPOLL_CTL_ADD, master, &hangUp) != 0) {
        *reason = QStringLiteral("cannot open %1: %2").arg(slavePath, qt_error_string(errno));
        return false;
    }
    return true;
}

// The watcher's events only say when to look at the master; the port's own opening was done
// before the watch began.
bool VirtualPort::watchPty(QString *reason)
{
    watchId = watcher->watch(
        slavePath, [this](std::uint32_t mask) { followPrograms(mask & IN_OPEN); }, reason);
    if (watchId < 0)
        return false;
    masterRead = new QSocketNotifier(master, QSocketNotifier::Read, this);
    masterWrite = new QSocketNotifier(master, QSocketNotifier::Write, this);
    hangUpWatch = new QSocketNotifier(hangUps, QSocketNotifier::Read, this);
    hangUpWatch->setEnabled(false);
    connect(masterRead, &QSocketNotifier::activated, this, &VirtualPort::pumpToDevice);
    connect(masterWrite, &QSocketNotifier::activated, this, &VirtualPort::pumpToProgram);
    connect(hangUpWatch, &QSocketNotifier::activated, this, [this] { followPrograms(false); });
    channel->addPort(slaveDevice, this);
    return true;
}

void VirtualPort::releasePty()
{
    if (watchId >= 0) {
        watcher->unwatch(watchId);
        channel->removePort(slaveDevice);
    }
    watchId = -1;
    delete masterRead;
    delete masterWrite;
    delete hangUpWatch;
    masterRead = masterWrite = hangUpWatch = nullptr;
    for (int *fd : { &hangUps, &master }) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    link.reset();
}

// A program left the slave exclusive, and only a privileged process may open it then: neither
// the service nor the next program could. The port moves to a fresh pty behind the same link.
bool VirtualPort::replacePty()
{
    releasePty();
    QString reason;
    if (makePty(&reason)) {
        if (session)
            watchLines();
        report(QStringLiteral("left exclusive by a program; moved to %1").arg(slavePath));
        return true;
    }
    const QString cause = QStringLiteral("lost its pseudo-terminal: %1").arg(reason);
    report(cause);
    delete lines;
    lines = nullptr;
    releasePty();
    tcp->close();
    health.troubled(PortHealth::Trouble::Port, cause);
    return false;
}

void VirtualPort::setupBridge()
{
    tcp = new TcpLink(settings.hosts, &health, this);
    setupLineSettings();
    connect(tcp, &TcpLink::up, this, &VirtualPort::linkUp);
    connect(tcp, &TcpLink::down, this, &VirtualPort::linkDown);
    // From now on what exceeds the hold is dropped: a writer held back meanwhile goes on.
    connect(tcp, &TcpLink::away, this, &VirtualPort::updateWatches);
    connect(tcp, &TcpLink::readable, this, &VirtualPort::pumpToProgram);
    connect(tcp, &TcpLink::writable, this, &VirtualPort::pumpToDevice);
    connect(tcp, &TcpLink::notice, this, &VirtualPort::report);
    if (!settings.connectWhileOpen)
        tcp->open();
    updateWatches();
}

void VirtualPort::setupLineSettings()
{
    serialLine.setFraming(settings.dataBits, settings.parity);
    if (!settings.rfc2217) {
        stream = std::make_unique<DeviceStream>();
        return;
    }
    auto telnet = std::make_unique<Rfc2217Session>(
        &serialLine, [this](const QString &cause) { report(cause); });
    session = telnet.get();
    stream = std::move(telnet);
    connect(session, &Rfc2217Session::modemChanged, this,
        [this] { channel->linesChanged(slaveDevice); });
    watchLines();
}

// RFC 2217: learns the program's settings from the pty.
void VirtualPort::watchLines()
{
    delete lines;
    lines = new LineWatcher(master);
    serialLine.setLearnt(lines->current());
    connect(lines, &LineWatcher::changed, this, &VirtualPort::lineChanged);
    connect(lines, &LineWatcher::flushed, this, &VirtualPort::programFlushed);
}

void VirtualPort::lineChanged(const LineSettings &learnt)
{
    serialLine.setLearnt(learnt);
    passLineOn();
}

// The line state changed: an RFC 2217 session sends what the device has not been told yet.
void VirtualPort::passLineOn()
{
    if (!session)
        return;
    session->settingsChanged();
    updateWatches();
}

// What the program discarded from its input is dropped here too; the device is told to drop
// what it still holds.
void VirtualPort::programFlushed(bool input, bool output)
{
    if (input)
        toProgram.clear();
    session->purge(input, output);
    updateWatches();
}

// No hang-up means programs hold the slave. An open the watcher saw is certain even when that
// program has gone again by now: what it wrote and what it set are still to be dealt with.
void VirtualPort::followPrograms(bool openSeen)
{
    if (master < 0)
        return;
    const bool held = !isHungUp();
    if (!programsOpen && (openSeen || held))
        programOpened();
    if (programsOpen && !held)
        programClosed();
}

bool VirtualPort::isHungUp() const
{
    pollfd pty { master, 0, 0 };
    return poll(&pty, 1, 0) > 0 && (pty.revents & POLLHUP);
}

void VirtualPort::programOpened()
{
    programsOpen = true;
    finalBytesPending = false;
    closeWhenSent = false;
    closeGrace.stop();
    if (settings.connectWhileOpen)
        tcp->open();
    serialLine.openLines();
    if (session) {
        lines->setOpen(true);
        session->programOpened();
    }
    updateWatches();
}

void VirtualPort::programClosed()
{
    programsOpen = false;
    finalBytesPending = true;
    pumpToDevice();
    serialLine.closeLines();
    if (session)
        session->programClosed();
    // What a program started by tirv-run set lasts while it has the port open.
    serialLine.setFraming(settings.dataBits, settings.parity);
    // A program that opened meanwhile keeps the slave as it set it; a slave still hung up that
    // cannot be opened to clean it (made exclusive) is replaced.
    if (!resetSlave() && isHungUp() && !replacePty())
        return;
    // The clean state in place, the line watch sets what it needs on it.
    if (session)
        lines->setOpen(false);
    toProgram.clear();
    if (settings.connectWhileOpen) {
        closeWhenSent = true;
        closeGrace.start();
    }
    updateWatches();
    // The events of a program that opened meanwhile went with the port's own.
    followPrograms(false);
}

// The last program's final bytes may still be on their way through the pty when its close is
// seen: send them, then close (or drop them if the device is away).
void VirtualPort::finishClose()
{
    pumpToDevice();
    if (!closeWhenSent || (tcp->isUp() && (!toDevice.isEmpty() || finalBytesPending)))
        return;
    closeWhenSent = false;
    finalBytesPending = false;
    tcp->close();
    toDevice.clear();
    dropped = 0;
    updateWatches();
}

// The next program starts clean. False when the slave cannot be opened to make it so, or
// when a program has it open again: its settings and unread input stay as they are.
bool VirtualPort::resetSlave()
{
    if (!isHungUp())
        return false;
    const int slave = open(
        QFile::encodeName(slavePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return false;
    cleanSlave(slave, clean);
    close(slave);
    // The port's own opening is no program's.
    watcher->forget(watchId);
    return true;
}

// One buffer's worth at most each way per wake-up: a port at full speed must not keep the loop
// from the others. What is left wakes the port again.
void VirtualPort::pumpToDevice()
{
    readFromProgram();
    sendToDevice();
    if (tcp->isAway() && toDevice.isFull()) {
        const quint64 count = discardFromProgram();
        if (count > 0 && dropped == 0)
            report(QStringLiteral("device away: dropping what the program writes beyond %1 "
                                  "bytes held")
                       .arg(kBufferBytes));
        dropped += count;
        health.countDropped(qint64(count));
    }
    updateWatches();
}

void VirtualPort::pumpToProgram()
{
    readFromDevice();
    writeToProgram();
    updateWatches();
}

// Send mode 2: the line paused. The bytes read so far go, and what joins them before they are
// out; new bytes are the read notifier's to take.
void VirtualPort::releasePack()
{
    releasing = true;
    sendToDevice();
    updateWatches();
}

void VirtualPort::readFromProgram()
{
    bool progress = false;
    bool drained = false;
    for (int reads = 0; reads < kReadsPerWake && !toDevice.isFull() && !drained; ++reads) {
        int room;
        char *at = toDevice.tail(&room);
        const ssize_t count = readMaster(at, size_t(room));
        if (count <= 0)
            break;
        toDevice.produced(int(count));
        progress = true;
        // A pty read gives at most kPtyChunk bytes; less means nothing more is queued yet.
        drained = count < qMin(room, kPtyChunk);
    }
    if (progress && settings.packIdleMs > 0) {
        if (toDevice.isFull())
            releasing = true;
        else if (!releasing)
            packTimer.start(settings.packIdleMs);
    }
}

// EIO: no program holds the slave and nothing it wrote is left.
ssize_t VirtualPort::readMaster(char *at, size_t room)
{
    const ssize_t count = lines ? lines->read(at, room) : read(master, at, room);
    if (count < 0 && errno == EIO)
        finalBytesPending = false;
    return count;
}

void VirtualPort::sendToDevice()
{
    const bool toSend = sendable() > 0 || stream->hasPending();
    if (tcp->isUp() && toSend && tcp->hasEnded())
        deviceClosed();
    if (tcp->isUp())
        stream->flush(tcp->descriptor());
    int size;
    while (tcp->isUp() && (size = sendable()) > 0) {
        const ssize_t count = stream->send(tcp->descriptor(), toDevice.head(), size_t(size));
        if (count < 0) {
            if (!DeviceStream::wouldBlock(errno))
                tcp->lose(errno);
            break;
        }
        toDevice.consumed(int(count));
        health.countToDevice(count);
        // A short send means the socket is full: wait until it says it has room.
        if (count < size)
            break;
    }
    if (toDevice.isEmpty()) {
        releasing = false;
        if (closeWhenSent && !closeGrace.isActive() && !finalBytesPending) {
            closeWhenSent = false;
            tcp->close();
        }
    }
}

// Bytes sent after the device closed would be lost: they stay held for the next connection.
// What the device sent before closing goes to the program as far as there is room for it.
void VirtualPort::deviceClosed()
{
    pumpToProgram();
    if (tcp->isUp())
        tcp->lose(0);
}

void VirtualPort::readFromDevice()
{
    while (tcp->isUp() && !toProgram.isFull()) {
        int room;
        char *at = toProgram.tail(&room);
        const ssize_t count = stream->receive(tcp->descriptor(), at, size_t(room));
        if (count > 0) {
            toProgram.produced(int(count));
            health.countFromDevice(count);
            // A stream socket hands over all it has: less than asked means it is empty.
            if (count < room)
                return;
            continue;
        }
        if (count == 0 || !DeviceStream::wouldBlock(errno))
            tcp->lose(count == 0 ? 0 : errno);
        return;
    }
}

void VirtualPort::writeToProgram()
{
    // Opens are reported asynchronously: look before deciding nobody is listening.
    if (!programsOpen && !toProgram.isEmpty())
        followPrograms(false);
    // Like a closed serial port, a port no program has open loses what arrives.
    if (!programsOpen) {
        toProgram.clear();
        return;
    }
    while (!toProgram.isEmpty()) {
        const int size = toProgram.size();
        const ssize_t count = write(master, toProgram.head(), size_t(size));
        if (count <= 0)
            break;
        toProgram.consumed(int(count));
        // The pty took what it had room for; the next try would only fail.
        if (count < size)
            break;
    }
}

quint64 VirtualPort::discardFromProgram()
{
    char scrap[4096];
    quint64 total = 0;
    ssize_t count;
    for (int round = 0; round < kDiscardReads && (count = readMaster(scrap, sizeof scrap)) > 0;
         ++round)
        total += quint64(count);
    return total;
}

void VirtualPort::linkUp()
{
    if (session)
        session->linkUp(tcp->descriptor());
    if (dropped > 0)
        report(QStringLiteral("%1 bytes were dropped while the device was away").arg(dropped));
    dropped = 0;
    pumpToDevice();
}

void VirtualPort::linkDown()
{
    if (session)
        session->linkDown();
    updateWatches();
}

// While no program holds the slave the master polls as hung up for ever: once the last
// program's bytes are read it is left out of the poll, and only the watcher's events wake the
// port. The hang-up watch is for the last close.
void VirtualPort::updateWatches()
{
    if (master < 0)
        return;
    programHeld = toDevice.isFull() || (programHeld && toDevice.size() > kResumeBytes);
    deviceHeld = toProgram.isFull() || (deviceHeld && toProgram.size() > kResumeBytes);
    masterRead->setEnabled((programsOpen || finalBytesPending) && (!programHeld || tcp->isAway()));
    masterWrite->setEnabled(!toProgram.isEmpty());
    hangUpWatch->setEnabled(programsOpen);
    tcp->setReadWatched(tcp->isUp() && !deviceHeld);
    tcp->setWriteWatched(sendable() > 0 || stream->hasPending());
}

// How much may go to the device now: everything, or in send mode 2 until the line pauses, the
// whole segments' worth; a partial tail waits for the pause.
int VirtualPort::sendable() const
{
    if (settings.packIdleMs == 0 || releasing)
        return toDevice.size();
    const int segment = tcp->segmentSize();
    return toDevice.size() / segment * segment;
}

// The one place port trouble is told, always naming the port.
void VirtualPort::report(const QString &cause) const
{
    qWarning().noquote() << QStringLiteral("%1: %2").arg(settings.comName, cause);
}
