#pragma once

#include "answeredcalls.h"
#include "framereader.h"
#include "serviceprotocol.h"

#include <QHash>
#include <QLocalServer>
#include <QObject>
#include <QTimer>

class ConnectionTable;
class QLocalSocket;

// Serves the sec_* calls of this user's programs on the control socket. A client of another
// uid, or one that sends a frame that is too large or malformed, is dropped; the others go on.
// What slow readers cost is bounded: a client's next request is read only once its previous
// reply is out of the service's hands, at most ServiceLimits::kMaxClients are served at once,
// and while the unsent replies of all of them pass ServiceLimits::kMaxUnsentBytes, the one
// holding the most is dropped.
class ServiceServer : public QObject
{
    Q_OBJECT

public:
    explicit ServiceServer(ConnectionTable &table, QObject *parent = nullptr);

    // Replaces a stale socket file: the caller holds the service lock.
    bool listen(const QString &path);

private:
    void acceptClients();
    bool admit(QLocalSocket *client);
    void serveClient(QLocalSocket *client);
    bool readRequest(QLocalSocket *client, QByteArray *payload);
    void reply(QLocalSocket *client, const QByteArray &frame);
    void keepUnsentWithinBudget();
    void dropClient(QLocalSocket *client, const QString &why);
    void forgetClient(QLocalSocket *client);
    void releaseMemory();
    QByteArray listing(const ServiceProtocol::Request &request);
    QByteArray serve(const ServiceProtocol::Request &request);
    void carryOut(const ServiceProtocol::Request &request, AnsweredCalls::Answer *answer);

    ConnectionTable &table;
    // The last listing sent: what its lister held, what it showed, and its frame.
    struct SentListing
    {
        ListingStamp known;
        ListingStamp stamp;
        QByteArray frame;
    } lastListing;
    // Before the server: its sockets report their disconnection here while it is destroyed.
    QHash<QLocalSocket *, FrameReader> readers;
    // Clients are being refused because kMaxClients are served; told once per episode.
    bool refusing = false;
    // The most the replies held here came to since memory was last handed back.
    qint64 unsentPeak = 0;
    QTimer trimTimer;
    QLocalServer server;
};
