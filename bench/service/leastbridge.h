#pragma once

#include <QProcess>
#include <QString>

// The least any bridge must do, in a process of its own: one event loop over its ptys and
// sockets, each byte read once and written once, nothing held, no timers. What it costs is what
// the kernel's pty and loopback TCP cost; TIRV and socat are measured against it.
class LeastBridge
{
public:
    // count ports to the TCP port on loopback, with links in dir; ends the benchmark when the
    // bridge does not start.
    LeastBridge(const QString &dir, quint16 tcpPort, int count);
    ~LeastBridge();
    LeastBridge(const LeastBridge &) = delete;
    LeastBridge &operator=(const LeastBridge &) = delete;

    QString link(int index) const;
    qint64 pid() const { return process.processId(); }

    // The bridge itself, run in the child: "--least-bridge TCPPORT COUNT DIR".
    static int run(quint16 tcpPort, int count, const QString &dir);

private:
    QProcess process;
    QString dir;
};
