#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class SimulatedLine;
class TelnetCodec;

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

// One serial port of a simulated device: TCP 964 + 2k on the device's address. Without a
// pseudo-terminal it echoes; with one, the pty stands for the device's serial line. With
// Telnet, clients may set the line through COM-PORT-OPTION; each command is logged.
class DevicePort : public QObject
{
    Q_OBJECT

public:
    DevicePort(const QString &ip, int portNumber, bool telnet, QObject *parent = nullptr);
    ~DevicePort() override;

    // Listens and, when withPty, opens the pseudo-terminal. error says why not.
    bool start(bool withPty, QString *error);
    QString ptyPath() const;
    quint16 tcpPort() const;

private:
    bool openPty(QString *error);
    void acceptClients();
    void readClient(QTcpSocket *client);
    void readPty();
    void sendTo(QTcpSocket *client, const char *data, int size);
    QByteArray decodeFrom(QTcpSocket *client, const QByteArray &wire);
    void answer(QTcpSocket *client, const QByteArray &payload);
    void notifyModemState(quint8 before);

    QString ip;
    int portNumber;
    QTcpServer *server;
    QList<QTcpSocket *> clients;
    int ptyMaster = -1;
    int ptySlave = -1;
    QSocketNotifier *ptyNotifier = nullptr;
    bool telnet;
    std::unique_ptr<SimulatedLine> line;
    // Telnet: each client's side of the protocol, and the modem lines it wants to hear of.
    struct Peer
    {
        std::shared_ptr<TelnetCodec> codec;
        quint8 modemMask = 0;
    };
    QHash<QTcpSocket *, Peer> peers;
};
