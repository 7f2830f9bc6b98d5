#include "deviceport.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

DevicePort::DevicePort(const QString &ip, int portNumber, QObject *parent)
    : QObject(parent)
    , ip(ip)
    , portNumber(portNumber)
    , server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &DevicePort::acceptClients);
}

DevicePort::~DevicePort()
{
    if (ptySlave >= 0)
        ::close(ptySlave);
    if (ptyMaster >= 0)
        ::close(ptyMaster);
}

quint16 DevicePort::tcpPort() const
{
    return quint16(964 + 2 * portNumber);
}

bool DevicePort::start(bool withPty, QString *error)
{
    if (!server->listen(QHostAddress(ip), tcpPort())) {
        *error = QStringLiteral("%1:%2: %3").arg(ip).arg(tcpPort()).arg(server->errorString());
        return false;
    }
    return !withPty || openPty(error);
}

bool DevicePort::openPty(QString *error)
{
    ptyMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (ptyMaster < 0 || ::grantpt(ptyMaster) != 0 || ::unlockpt(ptyMaster) != 0) {
        *error = QStringLiteral("pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // Holding the serial side open ourselves keeps the master readable only when there is data,
    // whether or not a test has the line open.
    ptySlave = ::open(::ptsname(ptyMaster), O_RDWR | O_NOCTTY);
    // A serial line carries bytes, not lines: no echo, no translation.
    termios mode;
    if (ptySlave >= 0 && ::tcgetattr(ptySlave, &mode) == 0) {
        ::cfmakeraw(&mode);
        ::tcsetattr(ptySlave, TCSANOW, &mode);
    }
    ptyNotifier = new QSocketNotifier(ptyMaster, QSocketNotifier::Read, this);
    connect(ptyNotifier, &QSocketNotifier::activated, this, &DevicePort::readPty);
    return true;
}

QString DevicePort::ptyPath() const
{
    return ptyMaster >= 0 ? QString::fromLocal8Bit(::ptsname(ptyMaster)) : QString();
}

void DevicePort::acceptClients()
{
    while (QTcpSocket *client = server->nextPendingConnection()) {
        clients.append(client);
        connect(client, &QTcpSocket::readyRead, this, [this, client] { readClient(client); });
        connect(client, &QTcpSocket::disconnected, this, [this, client] {
            clients.removeOne(client);
            client->deleteLater();
        });
    }
}

void DevicePort::readClient(QTcpSocket *client)
{
    const QByteArray data = client->readAll();
    if (ptyMaster < 0) {
        client->write(data);
        return;
    }
    // When the line's buffer is full the rest is lost, as on a serial line without flow control.
    for (int done = 0; done < data.size();) {
        const ssize_t n = ::write(ptyMaster, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += int(n);
    }
}

void DevicePort::readPty()
{
    char buffer[4096];
    const ssize_t n = ::read(ptyMaster, buffer, sizeof buffer);
    if (n <= 0)
        return;
    for (QTcpSocket *client : qAsConst(clients))
        client->write(buffer, n);
}
