#pragma once

#include "bridgesettings.h"
#include "porthealth.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QObject>
#include <QSet>
#include <QTimer>

class QSocketNotifier;

// The TCP side of a port: one non-blocking connection to the first remote host that answers,
// re-established with a backoff capped at 2 s while it is wanted. Reading and writing are left
// to the bridge, which watches the descriptor through setReadWatched()/setWriteWatched(). Each
// connection made, attempt failed and connection lost is told to the port's health.
class TcpLink : public QObject
{
    Q_OBJECT

public:
    TcpLink(
        const QList<BridgeSettings::Host> &hosts, PortHealth *health, QObject *parent = nullptr);
    ~TcpLink() override;

    // Connects now and keeps reconnecting until close().
    void open();
    void close();
    // The bridge found the connection broken: error is the errno of a failed read or write, 0
    // when the device closed it. Drops it and reconnects.
    void lose(int error);

    bool isUp() const { return stage == Stage::Up; }
    // Down after a failed attempt or a loss, not merely still connecting.
    bool isAway() const { return stage != Stage::Up && failedSinceUp; }
    // The device ended its side of the connection, or reset it: what is sent now is lost.
    bool hasEnded() const;
    // Index of the host connected to, -1 while down.
    int upHost() const { return isUp() ? hostIndex : -1; }
    int descriptor() const { return fd; }
    // A full TCP segment's worth of bytes: the connection's MSS, at most that of Ethernet.
    int segmentSize() const { return segment; }
    void setReadWatched(bool watched);
    void setWriteWatched(bool watched);

signals:
    void up();
    // The connection ended: lost or closed.
    void down();
    // An attempt failed or the connection was lost: the device counts as away until the next
    // connection. Said once per outage.
    void away();
    void readable();
    void writable();
    // A new kind of trouble, or recovery from it; said once, not at every retry.
    void notice(const QString &text);

private:
    enum class Stage {
        Closed, // not wanted: no socket, no timers
        Resolving, // waiting for the host name lookup
        Connecting, // non-blocking connect in flight
        Up, // connected; the bridge moves bytes
        Waiting, // backing off before the next attempt
    };

    void attempt();
    void resolved(const QHostInfo &info);
    void connectTo(const QHostAddress &address);
    void connectFinished();
    // An attempt failed with errno error; a timeout counts as ETIMEDOUT.
    void connectFailed(int error);
    void becomeUp();
    void fail(PortHealth::Trouble trouble, const QString &cause);
    void becomeAway();
    // Returns the delay.
    int retryLater();
    void closeSocket();
    void tell(const QString &text);
    QString hostText() const;

    QList<BridgeSettings::Host> hosts;
    PortHealth *health;
    int hostIndex = 0;
    Stage stage = Stage::Closed;
    int fd = -1;
    // segmentSize(), learnt when a connection comes up.
    int segment;
    int lookupId = -1;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    QTimer retryTimer;
    QTimer connectTimer;
    int backoffMs;
    QElapsedTimer upSince;
    bool failedSinceUp = false;
    // What was said during the current episode of trouble, which ends with close() or a
    // connection that lasted.
    QSet<QString> told;
};
