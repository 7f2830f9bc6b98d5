#include "tcplink.h"

#include <QHostAddress>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int kFirstBackoffMs = 100;
const int kMaxBackoffMs = 2000;
const int kConnectTimeoutMs = 3000;
// A connection that lasted this long was a success: start the backoff afresh.
const int kStableMs = 2000;
// Trouble is over once a connection lasted this long: a device that accepts and drops every
// connection is told once, not at every retry.
const int kSettledMs = 10000;
// A silent device is given up on after this long, whether idle (keepalive: 10 s + 3 x 5 s) or
// with bytes sent and not acknowledged.
const unsigned kDeadPeerMs = 25000;
// The payload of a full segment on Ethernet with TCP timestamps; loopback's MSS is far larger
// than any pack needs.
const int kEthernetSegment = 1448;

QString connectCause(int error)
{
    switch (error) {
    case ECONNREFUSED:
        return QStringLiteral("refused");
    case ETIMEDOUT:
        return QStringLiteral("timed out");
    case EHOSTUNREACH:
    case ENETUNREACH:
        return QStringLiteral("unreachable");
    default:
        return qt_error_string(error);
    }
}

// What an errno of a connect, read or write says of the device; 0: it closed the connection.
PortHealth::Trouble troubleOf(int error)
{
    using Trouble = PortHealth::Trouble;
    switch (error) {
    case 0:
    case ECONNRESET:
    case EPIPE:
        return Trouble::Closed;
    case ECONNREFUSED:
        return Trouble::Refused;
    case ETIMEDOUT:
        return Trouble::Silent;
    case EHOSTUNREACH:
    case ENETUNREACH:
        return Trouble::Unreachable;
    default:
        return Trouble::Failed;
    }
}

// No delay for small writes; a silently dead device is noticed within kDeadPeerMs.
void tune(int fd)
{
    const int on = 1, idle = 10, interval = 5, probes = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kDeadPeerMs, sizeof kDeadPeerMs);
}

socklen_t toSockaddr(const QHostAddress &address, quint16 port, sockaddr_storage *storage)
{
    std::memset(storage, 0, sizeof *storage);
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
        return sizeof *in6;
    }
    auto *in4 = reinterpret_cast<sockaddr_in *>(storage);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(port);
    in4->sin_addr.s_addr = htonl(address.toIPv4Address());
    return sizeof *in4;
}

} // namespace

TcpLink::TcpLink(const QList<BridgeSettings::Host> &hosts, PortHealth *health, QObject *parent)
    : QObject(parent)
    , hosts(hosts)
    , health(health)
    , segment(kEthernetSegment)
    , backoffMs(kFirstBackoffMs)
{
    retryTimer.setSingleShot(true);
    connectTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &TcpLink::attempt);
    connect(&connectTimer, &QTimer::timeout, this, [this] { connectFailed(ETIMEDOUT); });
}

TcpLink::~TcpLink()
{
    if (lookupId >= 0)
        QHostInfo::abortHostLookup(lookupId);
    closeSocket();
}

void TcpLink::open()
{
    if (stage != Stage::Closed)
        return;
    backoffMs = kFirstBackoffMs;
    failedSinceUp = false;
    attempt();
}

void TcpLink::close()
{
    const bool wasUp = isUp();
    stage = Stage::Closed;
    retryTimer.stop();
    connectTimer.stop();
    if (lookupId >= 0)
        QHostInfo::abortHostLookup(lookupId);
    lookupId = -1;
    closeSocket();
    told.clear();
    health->idle();
    if (wasUp)
        emit down();
}

void TcpLink::lose(int error)
{
    if (!isUp())
        return;
    const QString cause = error == 0 ? QStringLiteral("closed by the device")
                                     : QStringLiteral("lost: %1").arg(qt_error_string(error));
    if (upSince.elapsed() >= kStableMs)
        backoffMs = kFirstBackoffMs;
    if (upSince.elapsed() >= kSettledMs)
        told.clear();
    closeSocket();
    stage = Stage::Waiting;
    const QString text = QStringLiteral("connection to %1 %2").arg(hostText(), cause);
    tell(text);
    health->troubled(troubleOf(error), text, retryLater());
    emit down();
    becomeAway();
}

bool TcpLink::hasEnded() const
{
    pollfd socket { fd, POLLRDHUP, 0 };
    return isUp() && poll(&socket, 1, 0) > 0 && (socket.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

void TcpLink::setReadWatched(bool watched)
{
    if (readNotifier)
        readNotifier->setEnabled(watched);
}

void TcpLink::setWriteWatched(bool watched)
{
    if (writeNotifier && isUp())
        writeNotifier->setEnabled(watched);
}

void TcpLink::attempt()
{
    const QHostAddress address(hosts.at(hostIndex).dialName);
    if (!address.isNull()) {
        connectTo(address);
        return;
    }
    stage = Stage::Resolving;
    lookupId = QHostInfo::lookupHost(hosts.at(hostIndex).dialName, this, &TcpLink::resolved);
}

void TcpLink::resolved(const QHostInfo &info)
{
    if (info.lookupId() != lookupId || stage != Stage::Resolving)
        return;
    lookupId = -1;
    if (info.addresses().isEmpty())
        fail(PortHealth::Trouble::Unreachable,
            QStringLiteral("cannot resolve %1").arg(hosts.at(hostIndex).name));
    else
        connectTo(info.addresses().constFirst());
}

void TcpLink::connectTo(const QHostAddress &address)
{
    sockaddr_storage storage;
    const socklen_t length = toSockaddr(address, hosts.at(hostIndex).port, &storage);
    fd = socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail(PortHealth::Trouble::Failed,
            QStringLiteral("cannot make a socket for %1: %2")
                .arg(hostText(), qt_error_string(errno)));
        return;
    }
    tune(fd);
    stage = Stage::Connecting;
    readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    readNotifier->setEnabled(false);
    writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &TcpLink::readable);
    connect(writeNotifier, &QSocketNotifier::activated, this, [this] {
        if (isUp())
            emit writable();
        else
            connectFinished();
    });
    if (::connect(fd, reinterpret_cast<sockaddr *>(&storage), length) == 0) {
        becomeUp();
    } else if (errno == EINPROGRESS) {
        connectTimer.start(kConnectTimeoutMs);
    } else {
        connectFailed(errno);
    }
}

void TcpLink::connectFinished()
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error == 0)
        becomeUp();
    else
        connectFailed(error);
}

void TcpLink::connectFailed(int error)
{
    fail(troubleOf(error), QStringLiteral("connect to %1 %2").arg(hostText(), connectCause(error)));
}

void TcpLink::becomeUp()
{
    connectTimer.stop();
    stage = Stage::Up;
    failedSinceUp = false;
    upSince.start();
    int mss = 0;
    socklen_t length = sizeof mss;
    const bool known = getsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &mss, &length) == 0 && mss > 0;
    segment = known ? qMin(mss, kEthernetSegment) : kEthernetSegment;
    writeNotifier->setEnabled(false);
    readNotifier->setEnabled(true);
    if (!told.isEmpty())
        tell(QStringLiteral("connected to %1 again").arg(hostText()));
    health->connected();
    emit up();
}

void TcpLink::fail(PortHealth::Trouble trouble, const QString &cause)
{
    connectTimer.stop();
    closeSocket();
    stage = Stage::Waiting;
    tell(cause);
    // Alternate hosts come in turn, each with the same backoff.
    hostIndex = (hostIndex + 1) % hosts.size();
    health->troubled(trouble, cause, retryLater());
    becomeAway();
}

void TcpLink::becomeAway()
{
    if (failedSinceUp)
        return;
    failedSinceUp = true;
    emit away();
}

int TcpLink::retryLater()
{
    const int delay = backoffMs;
    retryTimer.start(delay);
    backoffMs = qMin(backoffMs * 2, kMaxBackoffMs);
    return delay;
}

void TcpLink::closeSocket()
{
    // The notifiers may be the senders being served: disable now, delete once back in the loop.
    for (QSocketNotifier *notifier : { readNotifier, writeNotifier }) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    readNotifier = writeNotifier = nullptr;
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void TcpLink::tell(const QString &text)
{
    if (told.contains(text))
        return;
    told.insert(text);
    emit notice(text);
}

QString TcpLink::hostText() const
{
    const BridgeSettings::Host &host = hosts.at(hostIndex);
    return QStringLiteral("%1:%2").arg(host.name).arg(host.port);
}
