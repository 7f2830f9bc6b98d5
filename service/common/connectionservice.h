#pragma once

#include <QVariant>

using ConnectionHandle = qint32;

// The nine operations of the connection service, behind the sec_* calls. The daemon's table
// answers them, and so does the client that carries them to the service process. Values are
// tagged: QString for text, int for integers (qint64 for the status times and counters beyond
// an int), QVariantList for arrays. All members may be called from any thread.
//
// A call that fails says why, for the calling thread: whoever refuses it (the table, or the
// client when the service cannot be reached) records a reason, which the control socket carries
// back with the failed call's reply.
class ConnectionService
{
public:
    enum Call {
        ConnectService,
        DisconnectService,
        GetConnectionsList,
        CreateConnection,
        SetParam,
        GetParam,
        AddConnectionService,
        DeleteConnection,
        ApplyConnection,
    };

    // The calls that change the table. Each is sent with an id of its own, so that one sent
    // again after the link to the service dropped is answered, not carried out twice.
    static bool isChange(Call call)
    {
        return call == CreateConnection || call == SetParam || call == AddConnectionService
            || call == DeleteConnection || call == ApplyConnection;
    }

    virtual ~ConnectionService() = default;

    virtual bool connectService(const QVariant &machine) = 0;
    virtual bool disconnectService() = 0;
    // The handles in creation order.
    virtual bool connections(QVariantList *handles) = 0;
    // kind is 1, the only kind there is.
    virtual bool createConnection(int kind, ConnectionHandle *handle) = 0;
    virtual bool setParam(ConnectionHandle handle, const QVariant &key, const QVariant &value) = 0;
    virtual bool param(ConnectionHandle handle, const QVariant &key, QVariant *value) = 0;
    // Makes the working port of a configured connection.
    virtual bool startConnection(ConnectionHandle handle) = 0;
    virtual bool deleteConnection(ConnectionHandle handle) = 0;
    // Moves a started connection to the COM name written last.
    virtual bool applyConnection(ConnectionHandle handle) = 0;

    // What the service says of itself, by the ServiceKeys of the service's status. Not a call
    // of its own: a client answers from the last listing, which brings it along.
    virtual QVariantMap serviceStatus() = 0;
    // Stays the same while reads of the last listing's handles, and serviceStatus(), answer as
    // they did after it; 0 (for ever changing) where that is not known.
    virtual quint64 listingGeneration() { return 0; }

    // Why the calling thread's last failed call failed: a short English text naming the port
    // and the cause, as the service's log would; empty when no reason was given.
    static QString failureReason();
    static void setFailureReason(const QString &reason);

protected:
    // Records reason and returns false: `return fail(...)` in a refusing call.
    static bool fail(const QString &reason);
};
