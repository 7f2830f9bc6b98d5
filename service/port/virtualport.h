#pragma once

#include "bridgesettings.h"
#include "bytebuffer.h"
#include "connectionport.h"
#include "lineport.h"
#include "linestate.h"
#include "porthealth.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <sys/types.h>
#include <termios.h>

class DeviceStream;
class LineChannel;
class LineWatcher;
class OpenWatcher;
class PortDirectory;
class PortLink;
class Rfc2217Session;
class QSocketNotifier;
class TcpLink;

// A started connection: a pseudo-terminal in raw mode, reachable through its COM link, whose
// bytes pass to and from a TCP connection, unchanged (RAW) or as Telnet data whose serial
// settings follow what the program sets (RFC 2217). Programs started by tirv-run reach its line
// state through the line channel. Everything runs on the event loop of the thread that made it;
// no thread of its own, no busy waiting.
class VirtualPort : public QObject, public ConnectionPort, public LinePort
{
    Q_OBJECT

public:
    // The channel outlives the port.
    VirtualPort(
        const BridgeSettings &settings, std::shared_ptr<OpenWatcher> watcher, LineChannel *channel);
    ~VirtualPort() override;

    // Makes the pty and its link in the open directory, which outlives the port, and starts
    // the bridge; false with the reason on failure.
    bool start(const PortDirectory &directory, QString *reason);

    int state() const override;
    QVariantList remoteHosts() const override;
    quint64 statusKey() const override;
    bool rename(const QString &comName, QString *reason) override;
    bool reconfigure(const QVariantMap &params) override;
    QVariantMap lineStatus() const override;
    QVariantMap reason() const override;
    QVariantMap counters() const override;
    quint64 countersKey() const override;

    const LineState &lineState() const override { return serialLine; }
    void changeLine(const std::function<void(LineState &)> &change) override;

private:
    // Index of the host connected to, -1 while none is.
    int upHost() const;
    bool makePty(QString *reason);
    bool openPty(QString *reason);
    bool watchPty(QString *reason);
    // The pty, its watches and its link.
    void releasePty();
    bool replacePty();
    void setupBridge();
    void setupLineSettings();
    void watchLines();
    void lineChanged(const LineSettings &line);
    void passLineOn();
    void programFlushed(bool input, bool output);
    bool isHungUp() const;
    void followPrograms(bool openSeen);
    void programOpened();
    void programClosed();
    void finishClose();
    bool resetSlave();
    void pumpToDevice();
    void pumpToProgram();
    void releasePack();
    void readFromProgram();
    ssize_t readMaster(char *at, size_t room);
    void sendToDevice();
    void deviceClosed();
    void readFromDevice();
    void writeToProgram();
    quint64 discardFromProgram();
    void linkUp();
    void linkDown();
    void updateWatches();
    int sendable() const;
    void report(const QString &cause) const;

    BridgeSettings settings;
    std::shared_ptr<OpenWatcher> watcher;
    LineChannel *channel;
    // The service holds only the master: it hangs up while no program holds the slave.
    int master = -1;
    QString slavePath;
    // The slave's device number, by which the line channel knows the port.
    dev_t slaveDevice = 0;
    int watchId = -1;
    // Outlives the port; a fresh pty's link goes there too.
    const PortDirectory *directory = nullptr;
    std::unique_ptr<PortLink> link;
    TcpLink *tcp = nullptr;
    // How bytes look on the wire; an Rfc2217Session (then also session) or plain.
    std::unique_ptr<DeviceStream> stream;
    Rfc2217Session *session = nullptr;
    // RFC 2217: learns the program's settings from the pty.
    LineWatcher *lines = nullptr;
    // What programs and the device know of the line; RAW keeps what programs set.
    LineState serialLine;
    // Why the port is in its state, and its counters.
    PortHealth health;
    QSocketNotifier *masterRead = nullptr;
    QSocketNotifier *masterWrite = nullptr;
    // An epoll instance over the master that asks for nothing, so it wakes only on hang-up.
    int hangUps = -1;
    QSocketNotifier *hangUpWatch = nullptr;
    // What the slave is reset to after each program.
    termios clean {};
    // Programs hold the slave open.
    bool programsOpen = false;
    // The last program closed and what it wrote may still be in the pty.
    bool finalBytesPending = false;

    // Program to device: bytes read from the pty, waiting for TCP. It is also the hold buffer
    // while the device is away and the pack buffer of send mode 2.
    ByteBuffer toDevice;
    // Device to program: bytes read from TCP, waiting for the pty to take them.
    ByteBuffer toProgram;
    // toDevice filled: the pty is not read until it is half empty.
    bool programHeld = false;
    // toProgram filled: TCP is not read until it is half empty.
    bool deviceHeld = false;
    // Send mode 2: runs while bytes keep coming; its end releases the pack. Whole segments go
    // before it ends.
    QTimer packTimer;
    // Send mode 2: the pack is released and goes out with whatever joins it until empty.
    bool releasing = false;
    // Connect while open: the last program closed; close TCP once its bytes are out.
    bool closeWhenSent = false;
    // Connect while open: the last program's final bytes may still be in the pty.
    QTimer closeGrace;
    // Bytes the program wrote beyond the hold buffer while the device was away.
    quint64 dropped = 0;
};
