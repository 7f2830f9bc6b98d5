#pragma once

#include <QString>
#include <QVariantMap>

// Why a port is in its state and what it has carried: its "status.reason" and
// "status.counters". The bridge counts with plain additions; the rest changes only when a
// connection is made, fails or is given up, so nothing here runs by itself.
class PortHealth
{
public:
    enum class Trouble { None, Port, Refused, Unreachable, Silent, Closed, Failed };

    void countToDevice(qint64 bytes) { toDevice += bytes; }
    void countFromDevice(qint64 bytes) { fromDevice += bytes; }
    void countDropped(qint64 bytes) { dropped += bytes; }

    // A connection was made: whatever the trouble was, it is over.
    void connected();
    // An attempt failed or the connection was lost (or, Trouble::Port, the port itself); the
    // next try is due in retryMs, none when negative.
    void troubled(Trouble kind, const QString &cause, int retryMs = -1);
    // The connection is no longer wanted: no trouble to tell, no try to come.
    void idle();

    // Changes whenever reason() does, but for its retry time.
    quint32 troubleRevision() const { return revision; }
    // Grows with every count and every try: the listing compares this now and then rather than
    // the counters themselves.
    quint64 activity() const
    {
        return quint64(toDevice + fromDevice + dropped) + reconnects + tries;
    }
    QVariantMap reason() const;
    QVariantMap counters() const;

    // The reason a port gives for `kind` since `since` (ms since the epoch); retry 0: none.
    static QVariantMap reasonOf(Trouble kind, const QString &cause, qint64 since, qint64 retry = 0);

private:
    Trouble trouble = Trouble::None;
    QString text;
    qint64 since = 0;
    qint64 retryAt = 0;
    quint32 revision = 0;
    // Trouble came since the last connection was made.
    bool troubledSinceUp = false;
    bool everConnected = false;
    qint64 toDevice = 0;
    qint64 fromDevice = 0;
    qint64 dropped = 0;
    qint64 lastConnect = 0;
    quint64 reconnects = 0;
    quint64 tries = 0;
};
