#pragma once

#include "searchresults.h"

#include <QObject>
#include <QStringList>

class QNetworkAddressEntry;
class SearchSockets;

// The device search from a shell: the search dialog's sockets, the search datagrams at once and
// then every 5 s, every reply decoded into the results.
class DeviceSearch : public QObject
{
    Q_OBJECT

public:
    explicit DeviceSearch(QObject *parent = nullptr);

    // Every interface, local port 1029.
    void bindAllInterfaces();
    // The interface with this system name, any local port. False when there is none.
    bool bindInterface(const QString &name);
    int socketCount() const;
    // "address: reason" for every address that could not be bound.
    QStringList bindErrors() const { return errors; }

    // Searches for this long, then returns.
    void run(int seconds);
    const SearchResults &results() const { return found; }

private slots:
    void sendRequests();

private:
    void bindEntries(const QList<QNetworkAddressEntry> &entries, quint16 port);

    SearchSockets *udpSockets;
    QStringList errors;
    SearchResults found;
};
