#include "virtualport.h"

#include "devicestream.h"
#include "linewatcher.h"
#include "openwatcher.h"
#include "portlink.h"
#include "ptyopeners.h"
#include "rfc2217session.h"
#include "servicekeys.h"
#include "tcplink.h"

#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

const int kBufferBytes = 64 * 1024;
// Rounds of one pump before the loop serves others: a steady stream must not starve them.
const int kMaxRounds = 16;
// How long after the last close the port waits for that program's final bytes.
const int kCloseGraceMs = 100;
// The most a read from a pty master returns at once.
const int kPtyChunk = 4095;

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

QString errorText()
{
    return QString::fromLocal8Bit(strerror(errno));
}

} // namespace

VirtualPort::VirtualPort(const PortSettings &settings, std::shared_ptr<OpenWatcher> watcher)
    : settings(settings)
    , watcher(std::move(watcher))
    , toDevice(kBufferBytes)
    , toProgram(kBufferBytes)
{
    packTimer.setSingleShot(true);
    packTimer.setTimerType(Qt::PreciseTimer);
    connect(&packTimer, &QTimer::timeout, this, [this] {
        releasing = true;
        pumpToDevice();
    });
    closeGrace.setSingleShot(true);
    closeGrace.setInterval(kCloseGraceMs);
    connect(&closeGrace, &QTimer::timeout, this, &VirtualPort::finishClose);
}

VirtualPort::~VirtualPort()
{
    if (watchId >= 0)
        watcher->unwatch(watchId);
    delete lines;
    delete tcp;
    delete masterRead;
    delete masterWrite;
    link.reset();
    if (ownSlave >= 0)
        close(ownSlave);
    if (master >= 0)
        close(master);
}

bool VirtualPort::start(const PortDirectory &directory, QString *reason)
{
    if (!openPty(reason))
        return false;
    link = std::make_unique<PortLink>(directory, slavePath);
    if (!link->place(settings.comName, reason))
        return false;
    watchId = watcher->watch(
        slavePath, [this](std::uint32_t mask) { slaveEvent(mask); }, reason);
    if (watchId < 0)
        return false;
    setupBridge();
    return true;
}

int VirtualPort::state() const
{
    return int(programsOpen ? PortState::Open : PortState::Closed);
}

// The hosts are fixed for the port's life, so the one that is up says all of remoteHosts().
quint64 VirtualPort::statusKey() const
{
    return quint64(state()) << 56 | quint64(quint16(upHost() + 1)) << 40
        | quint64(lineState.revision());
}

QVariantList VirtualPort::remoteHosts() const
{
    const int up = upHost();
    QVariantList result;
    for (int i = 0; i < settings.hosts.size(); ++i) {
        const PortSettings::Host &host = settings.hosts.at(i);
        const QString connected = i == up ? QStringLiteral("1") : QStringLiteral("0");
        result.append(QVariant(QVariantList { host.name, host.portText, connected }));
    }
    return result;
}

int VirtualPort::upHost() const
{
    return tcp ? tcp->upHost() : -1;
}

bool VirtualPort::rename(const QString &comName)
{
    QString reason;
    if (!PortSettings::isUsableComName(comName)) {
        report(QStringLiteral("\"%1\" cannot name a port file").arg(comName));
        return false;
    }
    if (!link->place(comName, &reason)) {
        report(reason);
        return false;
    }
    settings.comName = comName;
    return true;
}

bool VirtualPort::reconfigure(const QVariantMap &params)
{
    PortSettings next;
    QString reason;
    if (!PortSettings::fromParams(params, &next, &reason) || !settings.isCompatible(next))
        return false;
    settings.dataBits = next.dataBits;
    settings.parity = next.parity;
    lineState.setFraming(settings.dataBits, settings.parity);
    if (session) {
        session->settingsChanged();
        updateWatches();
    }
    return true;
}

QVariantMap VirtualPort::lineStatus() const
{
    return session ? lineState.status() : QVariantMap();
}

bool VirtualPort::openPty(QString *reason)
{
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[64];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0
        || ptsname_r(master, name, sizeof name) != 0) {
        *reason = QStringLiteral("cannot make a pseudo-terminal: %1").arg(errorText());
        return false;
    }
    slavePath = QString::fromLocal8Bit(name);
    ownSlave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (ownSlave < 0 || fchmod(ownSlave, S_IRUSR | S_IWUSR) != 0) {
        *reason = QStringLiteral("cannot open %1: %2").arg(slavePath, errorText());
        return false;
    }
    resetSlave();
    return true;
}

void VirtualPort::setupBridge()
{
    masterRead = new QSocketNotifier(master, QSocketNotifier::Read, this);
    masterWrite = new QSocketNotifier(master, QSocketNotifier::Write, this);
    connect(masterRead, &QSocketNotifier::activated, this, &VirtualPort::pumpToDevice);
    connect(masterWrite, &QSocketNotifier::activated, this, &VirtualPort::pumpToProgram);
    tcp = new TcpLink(settings.hosts, this);
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
    if (!settings.rfc2217) {
        stream = std::make_unique<DeviceStream>();
        return;
    }
    auto telnet = std::make_unique<Rfc2217Session>(
        &lineState, [this](const QString &cause) { report(cause); });
    session = telnet.get();
    stream = std::move(telnet);
    lineState.setFraming(settings.dataBits, settings.parity);
    lines = new LineWatcher(master, ownSlave);
    lineState.setLearnt(lines->current());
    connect(lines, &LineWatcher::changed, this, &VirtualPort::lineChanged);
    connect(lines, &LineWatcher::flushed, this, &VirtualPort::programFlushed);
}

void VirtualPort::lineChanged(const LineSettings &line)
{
    lineState.setLearnt(line);
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

// The watch was added after the port's own open, and is gone before its close: every event
// is another program's. Events are hints, as identical ones in a row arrive as one: an open is
// certain, but after a close (or lost events) only the processes themselves tell.
void VirtualPort::slaveEvent(std::uint32_t mask)
{
    // A close cannot open a closed port, and the look at every process is costly.
    if (!(mask & (IN_OPEN | IN_CLOSE | IN_Q_OVERFLOW)) || ((mask & IN_CLOSE) && !programsOpen))
        return;
    const bool open = (mask & IN_OPEN) || isTerminalOpenElsewhere(slavePath, ownSlave);
    if (open == programsOpen)
        return;
    programsOpen = open;
    if (open)
        programOpened();
    else
        programClosed();
}

void VirtualPort::programOpened()
{
    closeWhenSent = false;
    closeGrace.stop();
    if (settings.connectWhileOpen)
        tcp->open();
    if (session) {
        lines->setOpen(true);
        session->programOpened();
    }
    updateWatches();
}

void VirtualPort::programClosed()
{
    pumpToDevice();
    if (session) {
        session->programClosed();
        lines->setOpen(false);
    }
    resetSlave();
    toProgram.clear();
    if (settings.connectWhileOpen) {
        closeWhenSent = true;
        closeGrace.start();
    }
    updateWatches();
}

// The last program's final bytes may still be on their way through the pty when its close is
// seen: send them, then close (or drop them if the device is away).
void VirtualPort::finishClose()
{
    pumpToDevice();
    if (!closeWhenSent || (tcp->isUp() && !toDevice.isEmpty()))
        return;
    closeWhenSent = false;
    tcp->close();
    toDevice.clear();
    dropped = 0;
    updateWatches();
}

// The next program starts clean: raw mode, no stale input, no exclusive lock.
void VirtualPort::resetSlave()
{
    termios attributes;
    if (tcgetattr(ownSlave, &attributes) == 0) {
        cfmakeraw(&attributes);
        tcsetattr(ownSlave, TCSANOW, &attributes);
    }
    tcflush(ownSlave, TCIFLUSH);
    ioctl(ownSlave, TIOCNXCL);
}

void VirtualPort::pumpToDevice()
{
    for (int round = 0; round < kMaxRounds; ++round) {
        const bool more = readFromProgram();
        sendToDevice();
        if (!more || toDevice.isFull())
            break;
    }
    if (tcp->isAway() && toDevice.isFull()) {
        const quint64 count = discardFromProgram();
        if (count > 0 && dropped == 0)
            report(QStringLiteral("device away: dropping what the program writes beyond %1 "
                                  "bytes held")
                       .arg(kBufferBytes));
        dropped += count;
    }
    updateWatches();
}

void VirtualPort::pumpToProgram()
{
    for (int round = 0; round < kMaxRounds; ++round) {
        const bool more = readFromDevice();
        writeToProgram();
        if (!more || toProgram.isFull())
            break;
    }
    updateWatches();
}

// True when it stopped only because the buffer filled: the pty may hold more.
bool VirtualPort::readFromProgram()
{
    bool progress = false;
    bool drained = false;
    while (!toDevice.isFull() && !drained) {
        int room;
        char *at = toDevice.tail(&room);
        const ssize_t count
            = lines ? lines->read(at, size_t(room)) : read(master, at, size_t(room));
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
    return toDevice.isFull();
}

void VirtualPort::sendToDevice()
{
    const bool toSend = (!toDevice.isEmpty() && mayRelease()) || stream->hasPending();
    if (tcp->isUp() && toSend && tcp->hasEnded())
        deviceClosed();
    if (tcp->isUp())
        stream->flush(tcp->descriptor());
    while (tcp->isUp() && !toDevice.isEmpty() && mayRelease()) {
        const int size = toDevice.size();
        const ssize_t count = stream->send(tcp->descriptor(), toDevice.head(), size_t(size));
        if (count < 0) {
            if (!wouldBlock(errno))
                tcp->lose(QStringLiteral("lost: %1").arg(errorText()));
            break;
        }
        toDevice.consumed(int(count));
        // A short send means the socket is full: wait until it says it has room.
        if (count < size)
            break;
    }
    if (toDevice.isEmpty()) {
        releasing = false;
        if (closeWhenSent && !closeGrace.isActive()) {
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
        tcp->lose(QStringLiteral("closed by the device"));
}

// True when it stopped only because the buffer filled: the socket may hold more.
bool VirtualPort::readFromDevice()
{
    while (tcp->isUp() && !toProgram.isFull()) {
        int room;
        char *at = toProgram.tail(&room);
        const ssize_t count = stream->receive(tcp->descriptor(), at, size_t(room));
        if (count > 0) {
            toProgram.produced(int(count));
            // A stream socket hands over all it has: less than asked means it is empty.
            if (count < room)
                return false;
            continue;
        }
        if (count == 0)
            tcp->lose(QStringLiteral("closed by the device"));
        else if (!wouldBlock(errno))
            tcp->lose(QStringLiteral("lost: %1").arg(errorText()));
        return false;
    }
    return toProgram.isFull();
}

void VirtualPort::writeToProgram()
{
    // Opens are reported asynchronously: catch up before deciding nobody is listening.
    if (!programsOpen && !toProgram.isEmpty())
        watcher->drain();
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
    for (int round = 0; round < kMaxRounds && (count = read(master, scrap, sizeof scrap)) > 0;
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

// A connect-on-open port nobody has open, its last bytes sent, has nothing to read: leaving its
// pty out of the poll keeps the idle service's wake-ups cheap with hundreds of ports.
void VirtualPort::updateWatches()
{
    const bool programMayWrite = programsOpen || closeWhenSent || !settings.connectWhileOpen;
    masterRead->setEnabled(programMayWrite && (!toDevice.isFull() || tcp->isAway()));
    masterWrite->setEnabled(!toProgram.isEmpty());
    tcp->setReadWatched(tcp->isUp() && !toProgram.isFull());
    tcp->setWriteWatched((!toDevice.isEmpty() && mayRelease()) || stream->hasPending());
}

bool VirtualPort::mayRelease() const
{
    return settings.packIdleMs == 0 || releasing;
}

// The one place port trouble is told, always naming the port.
void VirtualPort::report(const QString &cause) const
{
    qWarning().noquote() << QStringLiteral("%1: %2").arg(settings.comName, cause);
}
