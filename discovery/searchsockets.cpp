#include "searchsockets.h"

#include "searchprotocol.h"

#include <QNetworkAddressEntry>
#include <QNetworkDatagram>
#include <QUdpSocket>

namespace {

constexpr QAbstractSocket::BindMode kShared
    = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;

} // namespace

SearchSockets::SearchSockets(QObject *parent)
    : QObject(parent)
{
}

QStringList SearchSockets::bind(const QList<QNetworkAddressEntry> &entries, quint16 port)
{
    QStringList errors;
    for (const QNetworkAddressEntry &entry : entries) {
        const QString key = entry.ip().toString();
        if (!SearchProtocol::isUsable(entry) || sendSockets.contains(key))
            continue;
        // Shared, as on Windows by default: another program listening on the port for any
        // address (a device simulator, a second search tool) must not stop the search.
        QUdpSocket *socket = open(entry.ip(), port, kShared, &errors);
        if (!socket)
            continue;
        sendSockets.insert(key, socket);
        listenForBroadcasts(entry.broadcast(), socket->localPort(), &errors);
        listenForBroadcasts(QHostAddress(QHostAddress::Broadcast), socket->localPort(), &errors);
    }
    return errors;
}

void SearchSockets::clear()
{
    for (QUdpSocket *socket : qAsConst(sendSockets))
        close(socket);
    for (QUdpSocket *socket : qAsConst(broadcastSockets))
        close(socket);
    sendSockets.clear();
    broadcastSockets.clear();
}

QUdpSocket *SearchSockets::open(
    const QHostAddress &address, quint16 port, QAbstractSocket::BindMode mode, QStringList *errors)
{
    auto *socket = new QUdpSocket(this);
    if (!socket->bind(address, port, mode)) {
        errors->append(QStringLiteral("%1: %2").arg(address.toString(), socket->errorString()));
        delete socket;
        return nullptr;
    }
    connect(socket, &QUdpSocket::readyRead, this, &SearchSockets::readDatagrams);
    return socket;
}

// Several local addresses share a broadcast address, and other programs may listen on it too.
void SearchSockets::listenForBroadcasts(
    const QHostAddress &address, quint16 port, QStringList *errors)
{
    const QString key = QStringLiteral("%1:%2").arg(address.toString()).arg(port);
    if (broadcastSockets.contains(key))
        return;
    if (QUdpSocket *socket = open(address, port, kShared, errors))
        broadcastSockets.insert(key, socket);
}

void SearchSockets::readDatagrams()
{
    auto *socket = qobject_cast<QUdpSocket *>(sender());
    while (socket && socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        // A failed read leaves the datagram pending: trying again would spin.
        if (!datagram.isValid())
            break;
        emit datagramReceived(datagram.data(), datagram.senderAddress().toString());
    }
}

// Closed at once, not only scheduled: a socket left bound would go on hearing replies.
void SearchSockets::close(QUdpSocket *socket)
{
    socket->disconnect(this);
    socket->close();
    socket->deleteLater();
}
