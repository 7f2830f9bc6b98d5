#pragma once

#include <QString>
#include <QVariantList>
#include <QVariantMap>

// What the connection table needs of a working virtual port. The real service makes these
// (a pty bridged to TCP); the plain in-memory table has none.
class ConnectionPort
{
public:
    virtual ~ConnectionPort() = default;
    // PortState::Closed or PortState::Open, as an int.
    virtual int state() const = 0;
    // One entry [host, port, "1" or "0"] per remote host.
    virtual QVariantList remoteHosts() const = 0;
    // Differs whenever state(), remoteHosts(), lineStatus() or reason() (but for its retry time)
    // would answer differently: the idle listing compares these instead of building them all
    // for every port.
    virtual quint64 statusKey() const = 0;
    // Differs whenever counters() or the retry time in reason() would; listings look at it
    // only now and then, so that traffic does not make every one of them carry the status.
    virtual quint64 countersKey() const = 0;
    // Moves the port to another COM name; false with the reason (the old name kept) on failure.
    virtual bool rename(const QString &comName, QString *reason) = 0;
    // Takes changed parameters in place; false when only a new port can have them.
    virtual bool reconfigure(const QVariantMap &params) = 0;
    // The serial line's state ("status.line"); empty when the port carries no settings.
    virtual QVariantMap lineStatus() const = 0;
    // Why it is in its state ("status.reason"); empty while it is fine.
    virtual QVariantMap reason() const = 0;
    // What it has carried ("status.counters").
    virtual QVariantMap counters() const = 0;
};
