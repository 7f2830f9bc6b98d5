#include "devicesearch.h"

#include "searchprotocol.h"

#include <QEventLoop>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QTimer>
#include <QUdpSocket>

namespace {
constexpr int searchIntervalMs = 5000;
}

DeviceSearch::DeviceSearch(QObject *parent)
    : QObject(parent)
{
}

void DeviceSearch::bindAllInterfaces()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces)
        bindEntries(interface.addressEntries(), SearchProtocol::probePort);
}

bool DeviceSearch::bindInterface(const QString &name)
{
    const QNetworkInterface interface = QNetworkInterface::interfaceFromName(name);
    if (!interface.isValid())
        return false;
    bindEntries(interface.addressEntries(), 0);
    return true;
}

bool DeviceSearch::isUsable(const QNetworkAddressEntry &entry)
{
    return !entry.broadcast().isNull() && entry.ip() != QHostAddress(QHostAddress::LocalHost)
        && entry.ip().protocol() == QAbstractSocket::IPv4Protocol;
}

void DeviceSearch::bindEntries(const QList<QNetworkAddressEntry> &entries, quint16 port)
{
    for (const QNetworkAddressEntry &entry : entries) {
        if (!isUsable(entry))
            continue;
        const QString address = entry.ip().toString();
        auto *socket = new QUdpSocket(this);
        if (!socket->bind(entry.ip(), port)) {
            errors.append(QStringLiteral("%1: %2").arg(address, socket->errorString()));
            delete socket;
            continue;
        }
        connect(socket, &QUdpSocket::readyRead, this, &DeviceSearch::readDatagrams);
        delete udpSockets.value(address);
        udpSockets.insert(address, socket);
    }
}

void DeviceSearch::run(int seconds)
{
    QEventLoop loop;
    QTimer searchTimer;
    connect(&searchTimer, &QTimer::timeout, this, &DeviceSearch::sendRequests);
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    searchTimer.start(searchIntervalMs);
    sendRequests();
    loop.exec();
}

void DeviceSearch::sendRequests()
{
    const QHostAddress everyone(QHostAddress::Broadcast);
    for (auto it = udpSockets.cbegin(); it != udpSockets.cend(); ++it) {
        QUdpSocket *socket = it.value();
        socket->writeDatagram(
            SearchProtocol::textRequest(it.key()), everyone, SearchProtocol::requestPort);
        socket->writeDatagram(SearchProtocol::probeA(), everyone, SearchProtocol::probePort);
        socket->writeDatagram(SearchProtocol::probeB(), everyone, SearchProtocol::probePort);
    }
}

void DeviceSearch::readDatagrams()
{
    auto *socket = qobject_cast<QUdpSocket *>(sender());
    while (socket && socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        found.add(
            SearchProtocol::decodeReply(datagram.data(), datagram.senderAddress().toString()));
    }
}
