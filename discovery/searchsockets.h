#pragma once

#include <QAbstractSocket>
#include <QMap>
#include <QObject>
#include <QStringList>

class QHostAddress;
class QNetworkAddressEntry;
class QUdpSocket;

// The sockets of one device search. Per usable local IPv4 address one socket sends the search and
// hears the replies addressed to it. Devices set to a network the PC is not on answer by
// broadcast, and on Linux a socket bound to a unicast address never sees a broadcast; so beside
// each sender, receive-only sockets on its broadcast address and on 255.255.255.255, at the
// sender's port, hear those replies. They never send: a cycle still sends three datagrams per
// address.
class SearchSockets : public QObject
{
    Q_OBJECT

public:
    explicit SearchSockets(QObject *parent = nullptr);

    // Binds the usable entries at port, 0 for any free port; an address bound already keeps its
    // socket. Returns "address: reason" for every socket that could not be bound.
    QStringList bind(const QList<QNetworkAddressEntry> &entries, quint16 port);
    // Closes every socket at once: no reply still queued arrives afterwards, and a new search may
    // bind the same ports.
    void clear();
    // The sending sockets by local address text, in text order.
    const QMap<QString, QUdpSocket *> &senders() const { return sendSockets; }

signals:
    void datagramReceived(const QByteArray &datagram, const QString &senderAddress);

private:
    QUdpSocket *open(const QHostAddress &address, quint16 port, QAbstractSocket::BindMode mode,
        QStringList *errors);
    void listenForBroadcasts(const QHostAddress &address, quint16 port, QStringList *errors);
    void readDatagrams();
    void close(QUdpSocket *socket);

    QMap<QString, QUdpSocket *> sendSockets;
    QMap<QString, QUdpSocket *> broadcastSockets; // by "address:port"
};
