#include "linechannel.h"

#include "lineport.h"
#include "lineprotocol.h"
#include "portdirectory.h"
#include "servicelimits.h"

#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace {

const quint32 kWaitableLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RI;
// Connections the kernel holds before the loop accepts them.
const int kBacklog = 16;

quint32 framingBits(const LineSettings &line)
{
    termios attributes {};
    line.applyTo(&attributes);
    return attributes.c_cflag & TIRV_LINE_FRAMING_FLAGS;
}

bool hasMoved(quint32 mask, const LineState::Counts &since, const LineState::Counts &now)
{
    return ((mask & TIOCM_CTS) && since.cts != now.cts)
        || ((mask & TIOCM_DSR) && since.dsr != now.dsr)
        || ((mask & TIOCM_RI) && since.rng != now.rng)
        || ((mask & TIOCM_CD) && since.dcd != now.dcd);
}

} // namespace

LineChannel::LineChannel() = default;

LineChannel::~LineChannel()
{
    while (!clients.empty())
        drop(clients.begin()->first);
    if (listener < 0)
        return;
    delete accepting;
    close(listener);
    struct stat info;
    if (fstatat(directoryFd, TIRV_LINE_SOCKET, &info, AT_SYMLINK_NOFOLLOW) == 0
        && info.st_ino == socketInode)
        unlinkat(directoryFd, TIRV_LINE_SOCKET, 0);
}

// Bound through the open folder's descriptor: the path cannot lead elsewhere, and stays short.
bool LineChannel::listen(const PortDirectory &directory, QString *reason)
{
    directoryFd = directory.descriptor();
    struct stat info;
    if (fstatat(directoryFd, TIRV_LINE_SOCKET, &info, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISSOCK(info.st_mode))
        unlinkat(directoryFd, TIRV_LINE_SOCKET, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d/%s", directoryFd,
        TIRV_LINE_SOCKET);
    listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || fchmodat(directoryFd, TIRV_LINE_SOCKET, S_IRUSR | S_IWUSR, 0) != 0
        || ::listen(listener, kBacklog) != 0
        || fstatat(directoryFd, TIRV_LINE_SOCKET, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        *reason
            = QStringLiteral("cannot serve %1: %2")
                  .arg(directory.pathOf(QStringLiteral(TIRV_LINE_SOCKET)), qt_error_string(errno));
        if (listener >= 0)
            close(listener);
        listener = -1;
        return false;
    }
    socketInode = info.st_ino;
    accepting = new QSocketNotifier(listener, QSocketNotifier::Read, this);
    connect(accepting, &QSocketNotifier::activated, this, &LineChannel::acceptClients);
    return true;
}

void LineChannel::addPort(dev_t device, LinePort *port)
{
    ports[device] = port;
}

void LineChannel::removePort(dev_t device)
{
    if (ports.erase(device))
        endWaits(device, true);
}

void LineChannel::linesChanged(dev_t device)
{
    endWaits(device, false);
}

void LineChannel::acceptClients()
{
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (!admit(fd)) {
            close(fd);
            continue;
        }
        Client &client = clients[fd];
        client.notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(client.notifier, &QSocketNotifier::activated, this, [this, fd] { serve(fd); });
    }
}

// The control socket's rule: this user's processes only, and a bounded number of them.
bool LineChannel::admit(int fd) const
{
    ucred credentials {};
    socklen_t size = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0
        || credentials.uid != getuid()) {
        qWarning().noquote() << "line channel: refused a client of uid" << credentials.uid << "pid"
                             << credentials.pid;
        return false;
    }
    return int(clients.size()) < ServiceLimits::kMaxClients;
}

// One request at a time; a message of any other size ends the connection.
void LineChannel::serve(int fd)
{
    tirv_line_request request;
    const ssize_t size = recv(fd, &request, sizeof request, MSG_DONTWAIT | MSG_TRUNC);
    if (size < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (size != ssize_t(sizeof request)) {
        drop(fd);
        return;
    }
    clients[fd].waiting = false;
    if (request.version != TIRV_LINE_VERSION) {
        answer(fd, request.op, EINVAL, nullptr);
        return;
    }
    carryOut(fd, request);
}

void LineChannel::carryOut(int fd, const tirv_line_request &request)
{
    const auto found = ports.find(dev_t(request.device));
    if (found == ports.end()) {
        answer(fd, request.op, ENODEV, nullptr);
        return;
    }
    LinePort *port = found->second;
    switch (request.op) {
    case TIRV_LINE_STATE:
        break;
    case TIRV_LINE_MODEM:
        port->changeLine([&request](LineState &line) {
            if (request.mask & TIOCM_DTR)
                line.setDtr(request.value & TIOCM_DTR);
            if (request.mask & TIOCM_RTS)
                line.setRts(request.value & TIOCM_RTS);
        });
        break;
    case TIRV_LINE_BREAK:
        port->changeLine([&request](LineState &line) { line.setBreak(request.value != 0); });
        break;
    case TIRV_LINE_FRAMING: {
        termios attributes {};
        attributes.c_cflag = request.value;
        const LineSettings framing = LineSettings::fromTermios(attributes);
        port->changeLine(
            [&framing](LineState &line) { line.setFraming(framing.dataBits, framing.parity); });
        break;
    }
    case TIRV_LINE_WAIT:
        if (request.mask & kWaitableLines) {
            Client &client = clients[fd];
            client = { client.notifier, true, dev_t(request.device), request.mask,
                port->lineState().counts() };
            return;
        }
        [[fallthrough]];
    default:
        answer(fd, request.op, EINVAL, &port->lineState());
        return;
    }
    answer(fd, request.op, 0, &port->lineState());
}

void LineChannel::endWaits(dev_t device, bool portGone)
{
    const auto found = ports.find(device);
    const LineState *state
        = portGone || found == ports.end() ? nullptr : &found->second->lineState();
    QList<int> ended;
    for (auto &[fd, client] : clients) {
        if (client.waiting && client.device == device
            && (!state || hasMoved(client.mask, client.since, state->counts())))
            ended.append(fd);
    }
    for (int fd : ended) {
        clients[fd].waiting = false;
        answer(fd, TIRV_LINE_WAIT, state ? 0 : EIO, state);
    }
}

// An answer always fits the socket's buffer: each client has one at a time.
void LineChannel::answer(int fd, quint8 op, int error, const LineState *state)
{
    tirv_line_answer reply {};
    reply.version = TIRV_LINE_VERSION;
    reply.op = op;
    reply.error = quint16(error);
    if (state) {
        reply.modem = state->terminalLines();
        reply.cflag = framingBits(state->requested());
        const LineState::Counts &counts = state->counts();
        reply.counts[0] = counts.cts;
        reply.counts[1] = counts.dsr;
        reply.counts[2] = counts.rng;
        reply.counts[3] = counts.dcd;
    }
    if (send(fd, &reply, sizeof reply, MSG_DONTWAIT | MSG_NOSIGNAL) != ssize_t(sizeof reply))
        drop(fd);
}

void LineChannel::drop(int fd)
{
    const auto found = clients.find(fd);
    if (found == clients.end())
        return;
    delete found->second.notifier;
    clients.erase(found);
    close(fd);
}
