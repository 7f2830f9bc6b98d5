#include "devicesearch.h"

#include "searchprotocol.h"
#include "searchsockets.h"

#include <QEventLoop>
#include <QNetworkInterface>
#include <QTimer>
#include <QUdpSocket>

DeviceSearch::DeviceSearch(QObject *parent)
    : QObject(parent)
    , udpSockets(new SearchSockets(this))
{
    connect(udpSockets, &SearchSockets::datagramReceived, this,
        [this](const QByteArray &datagram, const QString &senderAddress) {
            found.add(SearchProtocol::decodeReply(datagram, senderAddress));
        });
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

int DeviceSearch::socketCount() const
{
    return udpSockets->senders().size();
}

void DeviceSearch::bindEntries(const QList<QNetworkAddressEntry> &entries, quint16 port)
{
    errors += udpSockets->bind(entries, port);
}

void DeviceSearch::run(int seconds)
{
    QEventLoop loop;
    QTimer searchTimer;
    connect(&searchTimer, &QTimer::timeout, this, &DeviceSearch::sendRequests);
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    searchTimer.start(SearchProtocol::searchIntervalMs);
    sendRequests();
    loop.exec();
}

void DeviceSearch::sendRequests()
{
    const QHostAddress everyone(QHostAddress::Broadcast);
    const auto &senders = udpSockets->senders();
    for (auto it = senders.cbegin(); it != senders.cend(); ++it) {
        const auto cycle = SearchProtocol::searchDatagrams(it.key());
        for (const SearchProtocol::SearchDatagram &datagram : cycle)
            it.value()->writeDatagram(datagram.data, everyone, datagram.port);
    }
}
