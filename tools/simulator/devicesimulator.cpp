#include "devicesimulator.h"

#include "searchprotocol.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

namespace {

constexpr char probeAFirst = 0x49;

QByteArray textReply(const SimulatedDevice &device)
{
    const QString ip = device.reportedIp.isEmpty() ? device.ip : device.reportedIp;
    return SearchProtocol::vcomAck(QString::number(device.ports), device.type, device.mac, ip);
}

} // namespace

DeviceSimulator::DeviceSimulator(const QList<SimulatedDevice> &devices, QObject *parent)
    : QObject(parent)
    , devices(devices)
{
}

bool DeviceSimulator::start(QString *error)
{
    requestSocket = listen(SearchProtocol::requestPort, error);
    probeSocket = listen(SearchProtocol::probePort, error);
    if (!requestSocket || !probeSocket)
        return false;
    connect(requestSocket, &QUdpSocket::readyRead, this, &DeviceSimulator::readRequests);
    connect(probeSocket, &QUdpSocket::readyRead, this, &DeviceSimulator::readProbes);
    for (const SimulatedDevice &device : qAsConst(devices)) {
        auto *socket = new QUdpSocket(this);
        if (!socket->bind(QHostAddress(device.ip), 0)) {
            *error = QStringLiteral("%1: %2").arg(device.ip, socket->errorString());
            return false;
        }
        replySockets.append(socket);
    }
    return true;
}

// Broadcasts reach only sockets bound to the wildcard address; several simulators may share it.
QUdpSocket *DeviceSimulator::listen(quint16 port, QString *error)
{
    auto *socket = new QUdpSocket(this);
    if (socket->bind(
            QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        return socket;
    *error = QStringLiteral("UDP %1: %2").arg(port).arg(socket->errorString());
    return nullptr;
}

void DeviceSimulator::readRequests()
{
    answer(requestSocket, true);
}

void DeviceSimulator::readProbes()
{
    answer(probeSocket, false);
}

void DeviceSimulator::answer(QUdpSocket *listener, bool text)
{
    while (listener->hasPendingDatagrams()) {
        const QNetworkDatagram request = listener->receiveDatagram();
        const QByteArray data = request.data();
        const bool isRequest = text && data.startsWith("0xICBC;");
        const bool isProbe = !text && data.size() == SearchProtocol::probeSize;
        if (!isRequest && !isProbe)
            continue;
        for (int i = 0; i < devices.size(); ++i) {
            const SimulatedDevice &device = devices.at(i);
            QByteArray reply;
            if (isRequest && device.answersText)
                reply = textReply(device);
            else if (isProbe && device.answersProbes && data.at(0) == probeAFirst)
                reply = SearchProtocol::mcpAck1(device.mac);
            else if (isProbe && device.answersProbes)
                reply = SearchProtocol::mcpAck2(device.mac, device.ports, device.type, device.ip);
            const QHostAddress to = device.repliesByBroadcast
                ? QHostAddress(QHostAddress::Broadcast)
                : request.senderAddress();
            if (!reply.isEmpty())
                replySockets.at(i)->writeDatagram(reply, to, quint16(request.senderPort()));
        }
    }
}
