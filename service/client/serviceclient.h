#pragma once

#include "serviceprotocol.h"

#include <QHash>
#include <QMutex>
#include <QVariantMap>

// The sec_* calls' way to the service process: one blocking connection to the control socket,
// usable from any thread with or without an event loop. The service is started when none
// listens, and a call whose connection was lost (the service died) is sent once more to a
// fresh service; each change carries an id of its own, by which the service answers one it has
// made already rather than making it twice. After a listing, reads of a listed handle are answered
// from the listing's snapshot until the next listing or any write through this client, and the
// service's own status from the last listing that brought one.
class ServiceClient : public ConnectionService
{
public:
    static ServiceClient &instance();

    bool connectService(const QVariant &machine) override;
    bool disconnectService() override;
    bool connections(QVariantList *handles) override;
    bool createConnection(int kind, ConnectionHandle *handle) override;
    bool setParam(ConnectionHandle handle, const QVariant &key, const QVariant &value) override;
    bool param(ConnectionHandle handle, const QVariant &key, QVariant *value) override;
    bool startConnection(ConnectionHandle handle) override;
    bool deleteConnection(ConnectionHandle handle) override;
    bool applyConnection(ConnectionHandle handle) override;
    // As of the last listing that brought it; empty before the first.
    QVariantMap serviceStatus() override;
    // Grows with every listing that brings anything and with every change made.
    quint64 listingGeneration() override;

    // Frames sent since this process started; lets tests count round trips.
    quint64 roundTrips() const;

private:
    enum class Exchange { Done, Lost, Failed };

    ServiceClient() = default;

    // Whether the call was made and succeeded; the failure's reason recorded when not.
    bool call(ServiceProtocol::Request request, ServiceProtocol::Reply *reply);
    bool simpleCall(Call call, ConnectionHandle handle, const QVariant &first = QVariant(),
        const QVariant &second = QVariant());
    Exchange exchange(const QByteArray &frame, ServiceProtocol::Reply *reply);
    bool ensureConnected();
    void closeSocket();
    void forgetListing();

    mutable QMutex mutex;
    int socketFd = -1;
    quint64 framesSent = 0;
    // The last full listing and what it shows (zeros: none), then the status keys of the
    // listings since, while the table kept that revision.
    QHash<ConnectionHandle, QVariantMap> listed;
    ListingStamp listedStamp;
    QHash<ConnectionHandle, QVariantMap> listedStatus;
    // What the service said of itself with the last listing that brought a snapshot.
    QVariantMap listedServiceStatus;
    quint64 generation = 1;
};
