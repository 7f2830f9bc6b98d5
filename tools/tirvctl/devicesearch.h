#pragma once

#include "searchresults.h"

#include <QMap>
#include <QObject>
#include <QStringList>

class QNetworkAddressEntry;
class QUdpSocket;

// The device search from a shell: one UDP socket per usable local IPv4 address, the search
// datagrams at once and then every 5 s, every reply decoded into the results.
class DeviceSearch : public QObject
{
    Q_OBJECT

public:
    explicit DeviceSearch(QObject *parent = nullptr);

    // Every interface, local port 1029.
    void bindAllInterfaces();
    // The interface with this system name, any local port. False when there is none.
    bool bindInterface(const QString &name);
    int socketCount() const { return udpSockets.size(); }
    // "address: reason" for every address that could not be bound.
    QStringList bindErrors() const { return errors; }

    // Searches for this long, then returns.
    void run(int seconds);
    const SearchResults &results() const { return found; }

    // Broadcast address set, not 127.0.0.1, IPv4: the search dialog's rule.
    static bool isUsable(const QNetworkAddressEntry &entry);

private slots:
    void sendRequests();
    void readDatagrams();

private:
    void bindEntries(const QList<QNetworkAddressEntry> &entries, quint16 port);

    QMap<QString, QUdpSocket *> udpSockets; // by address text: the order of sending
    QStringList errors;
    SearchResults found;
};
