#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A stand-in device, on 127.0.0.1 unless told otherwise: records or echoes what it gets, sends
// on request, and can be stopped and brought back on the same TCP port.
class DeviceServer : public QObject
{
    Q_OBJECT

public:
    explicit DeviceServer(bool echo = false);
    ~DeviceServer() override;

    bool listen(quint16 port = 0, const QHostAddress &address = QHostAddress::LocalHost);
    // Stops listening and drops every connection, as a device that goes away.
    void stop();
    quint16 port() const { return lastPort; }
    int clients() const { return sockets.size(); }
    void send(const QByteArray &bytes);
    // Bytes sent that have not reached the system yet.
    qint64 unsent() const;

    QByteArray received;

private:
    void accept();

    QTcpServer server;
    QList<QTcpSocket *> sockets;
    quint16 lastPort = 0;
    bool echo;
};
