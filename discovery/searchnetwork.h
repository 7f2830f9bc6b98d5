#pragma once

#include <QList>
#include <QNetworkAddressEntry>
#include <QPair>
#include <QString>

class QByteArray;
class QUdpSocket;

// What the device search sees of the machine's network: the interfaces with their addresses and
// the way a datagram leaves. Tests substitute their own so that nothing is ever broadcast.
class SearchNetwork
{
public:
    virtual ~SearchNetwork();

    // Address entries of every interface, in the network layer's order.
    virtual QList<QNetworkAddressEntry> allAddressEntries() const;
    // Address entries of the interface with this system name.
    virtual QList<QNetworkAddressEntry> addressEntries(const QString &interfaceName) const;
    // (human-readable name, system name) of every interface, in the network layer's order.
    virtual QList<QPair<QString, QString>> interfaces() const;
    // Sends datagram through socket to the limited broadcast address.
    virtual void broadcast(QUdpSocket *socket, const QByteArray &datagram, quint16 port);
};
