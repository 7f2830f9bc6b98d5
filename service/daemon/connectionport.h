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
    // Differs whenever state(), remoteHosts() or lineStatus() would answer differently: the idle
    // listing compares these instead of building both for every port.
    virtual quint64 statusKey() const = 0;
    // Moves the port to another COM name; false with the reason (the old name kept) on failure.
    virtual bool rename(const QString &comName, QString *reason) = 0;
    // Takes changed parameters in place; false when only a new port can have them.
    virtual bool reconfigure(const QVariantMap &params) = 0;
    // The serial line's state ("status.line"); empty when the port carries no settings.
    virtual QVariantMap lineStatus() const = 0;
};
