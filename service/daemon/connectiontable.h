#pragma once

#include "answeredcalls.h"
#include "connectionservice.h"
#include "serviceprotocol.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QVariantMap>
#include <QVector>

#include <map>
#include <memory>

class ConnectionPort;
class PortFactory;

// The connections of the service: their parameters, whether they are started, and the working
// port of each started one. Handles grow monotonically, so listing order is creation order.
// All members may be called from any thread.
class ConnectionTable : public QObject, public ConnectionService
{
    Q_OBJECT

public:
    // What is saved of a connection and restored when the service starts again.
    struct Entry
    {
        ConnectionHandle handle = 0;
        QVariantMap params;
        bool started = false;
    };

    explicit ConnectionTable(QObject *parent = nullptr);
    ~ConnectionTable() override;

    // Without a factory a started connection is only marked started (state 1).
    void setPortFactory(PortFactory *factory);

    bool connectService(const QVariant &machine) override;
    bool disconnectService() override;
    bool connections(QVariantList *handles) override;
    bool createConnection(int kind, ConnectionHandle *handle) override;
    bool setParam(ConnectionHandle handle, const QVariant &key, const QVariant &value) override;
    bool param(ConnectionHandle handle, const QVariant &key, QVariant *value) override;
    bool startConnection(ConnectionHandle handle) override;
    bool deleteConnection(ConnectionHandle handle) override;
    bool applyConnection(ConnectionHandle handle) override;
    QVariantMap serviceStatus() override;

    // Sets one key of what the service says of itself; a change reaches the next listing of
    // every client. The port directory is set from the start.
    void setServiceStatus(const QString &key, const QVariant &value);

    // Every connection's readable keys (its parameters and status) in listing order: what a
    // listing client reads next, in one go. *stamp names what is given: when its revision is
    // the known one only the status keys are given, the parameters being unchanged since; when
    // its status stamp is the known one too, the maps are empty, the status being unchanged as
    // well.
    void snapshot(QList<QPair<ConnectionHandle, QVariantMap>> *readable, ListingStamp *stamp,
        ListingStamp known = {});
    // What a snapshot taken now would be stamped.
    ListingStamp stamp();

    QList<Entry> entries() const;
    // The last handle handed out; restored so that no handle is ever handed out twice.
    ConnectionHandle lastHandle() const;
    // Replaces an empty table with saved entries and answers and starts the started ones.
    // Refuses (and changes nothing, and says why in *reason) when an entry or answer is
    // malformed or the entries pass a limit of ServiceLimits.
    bool restore(const QList<Entry> &entries, ConnectionHandle lastHandle,
        const QList<AnsweredCalls::Answer> &answers = {}, QString *reason = nullptr);

    // The answer to a change sent with callId before; false when none is kept.
    bool answered(const QString &callId, AnsweredCalls::Answer *answer) const;
    // Kept with the connections, and saved with them.
    void rememberAnswer(const AnsweredCalls::Answer &answer);
    QList<AnsweredCalls::Answer> answers() const;

signals:
    // The stored parameters or the set of connections changed.
    void changed();

private:
    struct Connection
    {
        QVariantMap params;
        bool started = false;
        // The COM name the connection was last started or renamed to; "port.name" may hold a
        // name written but not yet applied.
        QString liveName;
        std::unique_ptr<ConnectionPort> port;
        // Why the port could not be made ("status.reason"); empty while it could.
        QVariantMap failure;
        // Its share of the parameter budget.
        int bytes = 0;
    };
    void publishChange();
    static bool isValidEntry(const Entry &entry, ConnectionHandle lastHandle);
    static QString refusalOf(const QList<Entry> &entries, ConnectionHandle lastHandle);
    // After a change of its parameters or live name.
    void recountLocked(Connection &connection);
    bool comNameTaken(const QString &comName, ConnectionHandle except) const;
    // False with the reason, which is also logged.
    bool startLocked(ConnectionHandle handle, Connection &connection, QString *reason);
    // Moves a started connection to its written COM name and settings; the reason when it
    // cannot, empty when it did.
    QString applyLocked(ConnectionHandle handle, Connection &connection);
    static QString describe(ConnectionHandle handle, const Connection &connection);
    QVariant statusLocked(const Connection &connection, const QString &key) const;
    quint32 statusStampLocked();

    mutable QMutex mutex;
    std::map<ConnectionHandle, Connection> table;
    ConnectionHandle highestHandle = 0;
    // The connections' shares of the parameter budget together.
    int parameterTotal = 0;
    // Grows with every change of the stored state; never 0.
    quint32 revision = 1;
    // The ports' status keys as last listed, at which revision, and a stamp that grows
    // whenever a listing finds either changed; never 0.
    QVector<quint64> statusKeys;
    quint32 statusRevision = 0;
    quint32 statusStamp = 1;
    // The ports' counters keys as last listed, looked at once a period.
    QVector<quint64> countersKeys;
    QElapsedTimer countersClock;
    QVariantMap status;
    // The service's status changed since the last listing.
    bool statusChanged = false;
    PortFactory *portFactory = nullptr;
    AnsweredCalls answeredCalls;
};
