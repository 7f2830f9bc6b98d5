#pragma once

#include <QProcess>
#include <QString>

// One socat process joining a pseudo-terminal, reachable through a link, to a TCP port on
// loopback: the reference beside which the ports are measured.
class SocatBridge
{
public:
    // Ends the benchmark when socat does not start.
    SocatBridge(const QString &link, quint16 tcpPort);
    ~SocatBridge();
    SocatBridge(const SocatBridge &) = delete;
    SocatBridge &operator=(const SocatBridge &) = delete;

    QString link() const { return linkPath; }
    qint64 pid() const { return process.processId(); }

private:
    QProcess process;
    QString linkPath;
};
