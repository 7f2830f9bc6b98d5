#include "deviceserver.h"

#include <QTcpSocket>

DeviceServer::DeviceServer(bool echo)
    : echo(echo)
{
    connect(&server, &QTcpServer::newConnection, this, &DeviceServer::accept);
}

bool DeviceServer::listen(quint16 port, const QHostAddress &address)
{
    if (!server.listen(address, port))
        return false;
    lastPort = server.serverPort();
    return true;
}

DeviceServer::~DeviceServer()
{
    stop();
}

void DeviceServer::stop()
{
    server.close();
    const QList<QTcpSocket *> dropped = std::exchange(sockets, {});
    for (QTcpSocket *socket : dropped) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void DeviceServer::send(const QByteArray &bytes)
{
    for (QTcpSocket *socket : qAsConst(sockets))
        socket->write(bytes);
}

qint64 DeviceServer::unsent() const
{
    qint64 total = 0;
    for (const QTcpSocket *socket : sockets)
        total += socket->bytesToWrite();
    return total;
}

void DeviceServer::accept()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        sockets.append(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            const QByteArray bytes = socket->readAll();
            if (echo)
                socket->write(bytes);
            else
                received += bytes;
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            sockets.removeOne(socket);
            socket->deleteLater();
        });
    }
}
