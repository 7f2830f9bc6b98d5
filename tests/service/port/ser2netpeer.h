#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <termios.h>

// A real ser2net with a telnet(rfc2217) accepter on 127.0.0.1 whose serial device is the
// slave of a pseudo-terminal pair this test owns: the master stands for the wire beyond.
class Ser2netPeer
{
public:
    ~Ser2netPeer();

    static bool isInstalled() { return !program().isEmpty(); }
    // False, saying why, when it does not come up.
    bool start();
    quint16 port() const { return tcpPort; }
    // The line's side of the pair; the caller takes it over.
    int takeWire();
    // The attributes ser2net gave the serial device.
    termios deviceAttributes() const;

private:
    static QString program();

    QTemporaryDir dir;
    QProcess process;
    int master = -1;
    int slave = -1;
    quint16 tcpPort = 0;
};
