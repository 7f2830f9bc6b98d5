#include "ser2netpeer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace {

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

Ser2netPeer::~Ser2netPeer()
{
    process.terminate();
    process.waitForFinished();
    if (master >= 0)
        close(master);
    if (slave >= 0)
        close(slave);
}

QString Ser2netPeer::program()
{
    return QStandardPaths::findExecutable(
        QStringLiteral("ser2net"), { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin") });
}

bool Ser2netPeer::start()
{
    char name[64];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        qWarning("no pseudo-terminal for ser2net's device: %s", strerror(errno));
        return false;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    // A serial line does not echo, also before ser2net sets it up.
    termios raw;
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    tcpPort = freeLoopbackPort();
    QFile config(dir.filePath(QStringLiteral("ser2net.yaml")));
    config.open(QIODevice::WriteOnly);
    config.write(QStringLiteral("%YAML 1.1\n---\nconnection: &port\n"
                                "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                                "  connector: serialdev,%2,9600n81,local\n"
                                "  options:\n    kickolduser: true\n")
                     .arg(tcpPort)
                     .arg(QString::fromLocal8Bit(name))
                     .toUtf8());
    config.close();
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program(),
        { QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), config.fileName(),
            QStringLiteral("-P"), dir.filePath(QStringLiteral("pid")) });
    // It says nothing when it is ready: its accepter answering is the sign.
    QDeadlineTimer deadline(10000);
    while (!accepts(tcpPort)) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
            qWarning("ser2net did not start");
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

int Ser2netPeer::takeWire()
{
    return std::exchange(master, -1);
}

termios Ser2netPeer::deviceAttributes() const
{
    termios attributes {};
    tcgetattr(slave, &attributes);
    return attributes;
}
