#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

// One serial port of a simulated device: TCP 964 + 2k on the device's address. Without a
// pseudo-terminal it echoes; with one, the pty stands for the device's serial line.
class DevicePort : public QObject
{
    Q_OBJECT

public:
    DevicePort(const QString &ip, int portNumber, QObject *parent = nullptr);
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

    QString ip;
    int portNumber;
    QTcpServer *server;
    QList<QTcpSocket *> clients;
    int ptyMaster = -1;
    int ptySlave = -1;
    QSocketNotifier *ptyNotifier = nullptr;
};
