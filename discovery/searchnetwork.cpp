#include "searchnetwork.h"

#include <QDebug>
#include <QNetworkInterface>
#include <QUdpSocket>

SearchNetwork::~SearchNetwork() = default;

QList<QNetworkAddressEntry> SearchNetwork::allAddressEntries() const
{
    QList<QNetworkAddressEntry> entries;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : all)
        entries += interface.addressEntries();
    return entries;
}

QList<QNetworkAddressEntry> SearchNetwork::addressEntries(const QString &interfaceName) const
{
    const QNetworkInterface interface = QNetworkInterface::interfaceFromName(interfaceName);
    qDebug() << "theinterface2:" << interface.humanReadableName();
    return interface.addressEntries();
}

QList<QPair<QString, QString>> SearchNetwork::interfaces() const
{
    QList<QPair<QString, QString>> names;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : all)
        names.append({ interface.humanReadableName(), interface.name() });
    return names;
}

void SearchNetwork::broadcast(QUdpSocket *socket, const QByteArray &datagram, quint16 port)
{
    socket->writeDatagram(datagram, QHostAddress(QHostAddress::Broadcast), port);
}
