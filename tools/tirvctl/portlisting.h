#pragma once

#include "portconfig.h"
#include "records.h"

#include <QList>
#include <QString>
#include <QStringList>

// One virtual port as tirvctl shows it.
struct ListedPort
{
    QString comName;
    QString link; // the port's link in the port directory
    int devicePort = 0; // 0 when the connection name carries no number
    QString tcpHost;
    int tcpPort = 0;
    QString target; // "tcpHost:tcpPort"; empty without a device port
    QString state; // translated, as the window shows it
    QString stateKey; // "error", "closed", "open", "connected", "disconnected" or ""
    PortConfig config;
    QVariantMap line; // an RFC 2217 port's line, as the service reports it
    PortReport report; // why it is in its state, and its counters
};

// One device with its virtual ports, in the order the service lists them.
struct ListedDevice
{
    QString ip;
    QString type;
    int portCount = 0;
    QString mac;
    QList<ListedPort> ports;
};

// The service's port list grouped by device (by IP address, in order of first appearance).
class PortListing
{
public:
    PortListing() = default;
    // portDirectory: where the service says its links are, which the ports' links name.
    // saveError: why the service does not save its changes; empty while it does.
    PortListing(const QList<COMS_INFO> &ports, const QString &portDirectory,
        const QString &saveError = QString());

    QString portDirectory() const { return directory; }
    QString saveError() const { return notSavedBecause; }
    const QList<ListedDevice> &devices() const { return deviceList; }
    // The device at ip's address however either is spelt (a name saved as "10.0.0.02" is
    // 10.0.0.2); null when no port of the listing belongs to it.
    const ListedDevice *device(const QString &ip) const;
    bool hasComName(const QString &comName) const;
    // Null when no port has that COM name.
    const ListedPort *port(const QString &comName) const;
    QStringList comNames() const;
    // This listing cut down to the one device.
    PortListing deviceOnly(const QString &ip) const;

    // The stable key of a translated state text.
    static QString stateKey(const QString &state);

private:
    ListedPort listedPort(const COMS_INFO &info) const;

    QString directory;
    QString notSavedBecause;
    QList<ListedDevice> deviceList;
};
