#include "deviceport.h"

#include "comportcommand.h"
#include "simulatedline.h"
#include "telnetcodec.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

DevicePort::DevicePort(const QString &ip, int portNumber, bool telnet, QObject *parent)
    : QObject(parent)
    , ip(ip)
    , portNumber(portNumber)
    , server(new QTcpServer(this))
    , telnet(telnet)
    , line(std::make_unique<SimulatedLine>())
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
    line = std::make_unique<SimulatedLine>(ptySlave);
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
        if (telnet) {
            auto codec = std::make_shared<TelnetCodec>(TelnetCodec::Role::Server);
            client->write(codec->start());
            peers.insert(client, { codec });
        }
        connect(client, &QTcpSocket::readyRead, this, [this, client] { readClient(client); });
        connect(client, &QTcpSocket::disconnected, this, [this, client] {
            clients.removeOne(client);
            peers.remove(client);
            client->deleteLater();
        });
    }
}

void DevicePort::readClient(QTcpSocket *client)
{
    const QByteArray data = telnet ? decodeFrom(client, client->readAll()) : client->readAll();
    if (ptyMaster < 0) {
        sendTo(client, data.constData(), data.size());
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
        sendTo(client, buffer, int(n));
}

void DevicePort::sendTo(QTcpSocket *client, const char *data, int size)
{
    if (!telnet) {
        client->write(data, size);
        return;
    }
    QByteArray wire(2 * size, Qt::Uninitialized);
    wire.resize(TelnetCodec::escape(data, size, wire.data()));
    client->write(wire);
}

QByteArray DevicePort::decodeFrom(QTcpSocket *client, const QByteArray &wire)
{
    const std::shared_ptr<TelnetCodec> codec = peers.value(client).codec;
    QByteArray data(wire.size(), Qt::Uninitialized);
    data.resize(codec->decode(wire.constData(), wire.size(), data.data()));
    client->write(codec->takeReplies());
    for (const TelnetCodec::Event &event : codec->takeEvents()) {
        if (event.kind == TelnetCodec::Event::Subnegotiation
            && event.option == TelnetCodec::ComPort)
            answer(client, event.payload);
    }
    return data;
}

// Logs the command, carries it out and answers with what the line now holds.
void DevicePort::answer(QTcpSocket *client, const QByteArray &payload)
{
    ComPortCommand command;
    if (!ComPortCommand::decode(payload, &command) || command.isAnswer())
        return;
    QTextStream(stdout) << "comport " << ip << ' ' << portNumber << ' '
                        << ComPortCommand::name(command.code) << ' ' << command.value << Qt::endl;
    const quint8 before = line->modemState();
    const quint32 applied = line->apply(command);
    if (command.code == ComPortCommand::SetModemStateMask)
        peers[client].modemMask = quint8(command.value);
    const quint8 code = command.code + ComPortCommand::kServerOffset;
    client->write(ComPortCommand { code, applied }.encode());
    notifyModemState(command.code == ComPortCommand::SetModemStateMask ? quint8(~before) : before);
}

void DevicePort::notifyModemState(quint8 before)
{
    const quint8 now = line->modemState();
    for (auto it = peers.begin(); it != peers.end(); ++it) {
        if ((now ^ before) & it->modemMask) {
            const ComPortCommand notice {
                ComPortCommand::NotifyModemState + ComPortCommand::kServerOffset, now
            };
            it.key()->write(notice.encode());
        }
    }
}
