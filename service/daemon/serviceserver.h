#pragma once

#include "framereader.h"
#include "serviceprotocol.h"

#include <QHash>
#include <QLocalServer>
#include <QObject>

class ConnectionTable;
class QLocalSocket;

// Serves the sec_* calls of this user's programs on the control socket. A client of another
// uid, or one that sends a frame that is too large or malformed, is dropped; the others go on.
class ServiceServer : public QObject
{
    Q_OBJECT

public:
    explicit ServiceServer(ConnectionTable &table, QObject *parent = nullptr);

    // Replaces a stale socket file: the caller holds the service lock.
    bool listen(const QString &path);

private:
    void acceptClients();
    void readClient(QLocalSocket *client);
    bool serveFrames(QLocalSocket *client, FrameReader &reader);
    void dropClient(QLocalSocket *client, const QString &why);
    ServiceProtocol::Reply serve(const ServiceProtocol::Request &request);

    ConnectionTable &table;
    // Before the server: its sockets report their disconnection here while it is destroyed.
    QHash<QLocalSocket *, FrameReader> readers;
    QLocalServer server;
};
