#include "serviceclient.h"

#include "framereader.h"
#include "servicelauncher.h"
#include "servicepaths.h"

#include <QDebug>
#include <QRandomGenerator>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// 128 random bits: no two changes, of any process, share one.
QString newCallId()
{
    QRandomGenerator *random = QRandomGenerator::system();
    return QString::number(random->generate64(), 16) + QLatin1Char('-')
        + QString::number(random->generate64(), 16);
}

} // namespace

ServiceClient &ServiceClient::instance()
{
    static ServiceClient client;
    return client;
}

bool ServiceClient::connectService(const QVariant &machine)
{
    return simpleCall(ConnectionService::ConnectService, -1, machine);
}

bool ServiceClient::disconnectService()
{
    {
        QMutexLocker lock(&mutex);
        if (socketFd < 0)
            return true; // never start a service only to leave it
    }
    const bool done = simpleCall(ConnectionService::DisconnectService, -1);
    QMutexLocker lock(&mutex);
    closeSocket();
    return done;
}

bool ServiceClient::connections(QVariantList *handles)
{
    ListingStamp known;
    {
        QMutexLocker lock(&mutex);
        known = listedStamp;
    }
    ServiceProtocol::Reply reply;
    const bool listedNow = call(
        { ConnectionService::GetConnectionsList, -1, int(known.revision), int(known.status) },
        &reply);
    QMutexLocker lock(&mutex);
    // Status alone completes the listing held before, and no status leaves it as it is; a
    // reconnect during the call dropped it.
    const bool statusOnly
        = listedNow && known.revision != 0 && reply.stamp.revision == known.revision;
    const bool unchanged = statusOnly && reply.stamp == known;
    const bool usable = listedNow && (!statusOnly || listedStamp == known);
    if (!unchanged || !usable) {
        listedStatus.clear();
        ++generation;
    }
    if (!statusOnly || !usable)
        forgetListing();
    if (!listedNow)
        return false;
    if (reply.stamp != known)
        listedServiceStatus = reply.serviceStatus;
    *handles = reply.value.toList();
    if (!usable)
        return true;
    QHash<ConnectionHandle, QVariantMap> &target = statusOnly ? listedStatus : listed;
    for (int i = 0; i < handles->size() && i < reply.snapshot.size(); ++i)
        target.insert(handles->at(i).toInt(), reply.snapshot.at(i).toMap());
    listedStamp = reply.stamp;
    return true;
}

bool ServiceClient::createConnection(int kind, ConnectionHandle *handle)
{
    ServiceProtocol::Reply reply;
    if (!call({ ConnectionService::CreateConnection, -1, kind, {} }, &reply))
        return false;
    *handle = reply.value.toInt();
    return true;
}

bool ServiceClient::setParam(ConnectionHandle handle, const QVariant &key, const QVariant &value)
{
    return simpleCall(ConnectionService::SetParam, handle, key, value);
}

bool ServiceClient::param(ConnectionHandle handle, const QVariant &key, QVariant *value)
{
    {
        QMutexLocker lock(&mutex);
        const auto it = listed.constFind(handle);
        if (it != listed.constEnd()) {
            // The service refuses the same keys: non-text ones and those never written.
            if (key.userType() != QMetaType::QString)
                return fail(QStringLiteral("a parameter key must be text"));
            const QString name = key.toString();
            const QVariantMap status = listedStatus.value(handle);
            const QVariantMap &source = status.contains(name) ? status : it.value();
            const auto found = source.constFind(name);
            if (found == source.constEnd())
                return fail(QString());
            *value = found.value();
            return true;
        }
    }
    ServiceProtocol::Reply reply;
    if (!call({ ConnectionService::GetParam, handle, key, {} }, &reply))
        return false;
    *value = reply.value;
    return true;
}

bool ServiceClient::startConnection(ConnectionHandle handle)
{
    return simpleCall(ConnectionService::AddConnectionService, handle);
}

bool ServiceClient::deleteConnection(ConnectionHandle handle)
{
    return simpleCall(ConnectionService::DeleteConnection, handle);
}

bool ServiceClient::applyConnection(ConnectionHandle handle)
{
    return simpleCall(ConnectionService::ApplyConnection, handle);
}

QVariantMap ServiceClient::serviceStatus()
{
    QMutexLocker lock(&mutex);
    return listedServiceStatus;
}

quint64 ServiceClient::listingGeneration()
{
    QMutexLocker lock(&mutex);
    return generation;
}

quint64 ServiceClient::roundTrips() const
{
    QMutexLocker lock(&mutex);
    return framesSent;
}

bool ServiceClient::simpleCall(
    Call call, ConnectionHandle handle, const QVariant &first, const QVariant &second)
{
    ServiceProtocol::Reply reply;
    return this->call({ call, handle, first, second }, &reply);
}

bool ServiceClient::call(ServiceProtocol::Request request, ServiceProtocol::Reply *reply)
{
    QMutexLocker lock(&mutex);
    if (ConnectionService::isChange(request.call)) {
        forgetListing();
        request.callId = newCallId();
    }
    const QByteArray frame = ServiceProtocol::encodeRequest(request);
    if (frame.size() > ServiceProtocol::kHeaderSize + int(ServiceProtocol::kMaxRequestPayload)) {
        qWarning() << "tirv-service: a call of" << frame.size() << "bytes is too large to send";
        return fail(QStringLiteral("a call of %1 bytes is too large to send").arg(frame.size()));
    }
    // A lost connection means the service went away: once more, to a restarted one. The same
    // frame goes again, so a change the service made before it went is answered, not redone.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!ensureConnected())
            return fail(QStringLiteral("the connection service cannot be started or reached"));
        switch (exchange(frame, reply)) {
        case Exchange::Done:
            return reply->result || fail(reply->reason);
        case Exchange::Lost:
            closeSocket();
            continue;
        case Exchange::Failed:
            closeSocket();
            return fail(QStringLiteral("the connection service gave no usable answer"));
        }
    }
    return fail(QStringLiteral("the connection service went away during the call"));
}

ServiceClient::Exchange ServiceClient::exchange(
    const QByteArray &frame, ServiceProtocol::Reply *reply)
{
    ++framesSent;
    for (int sent = 0; sent < frame.size();) {
        const ssize_t size
            = ::send(socketFd, frame.constData() + sent, size_t(frame.size() - sent), MSG_NOSIGNAL);
        if (size < 0 && errno == EINTR)
            continue;
        if (size <= 0)
            return errno == EPIPE || errno == ECONNRESET ? Exchange::Lost : Exchange::Failed;
        sent += int(size);
    }
    FrameReader reader;
    QByteArray payload;
    bool heard = false;
    for (;;) {
        switch (reader.next(&payload)) {
        case FrameReader::Complete:
            return ServiceProtocol::decodeReply(payload, reply) ? Exchange::Done : Exchange::Failed;
        case FrameReader::TooLarge:
            return Exchange::Failed;
        case FrameReader::Incomplete:
            break;
        }
        char chunk[64 * 1024];
        const ssize_t size = ::recv(socketFd, chunk, sizeof chunk, 0);
        if (size < 0 && errno == EINTR)
            continue;
        if (size <= 0) {
            // Closed before a word of the answer: the service died with the call unanswered.
            const bool lost = !heard && (size == 0 || errno == ECONNRESET);
            qWarning() << "tirv-service: connection" << (lost ? "lost" : "failed") << "in a call";
            return lost ? Exchange::Lost : Exchange::Failed;
        }
        heard = true;
        reader.append(chunk, int(size));
    }
}

bool ServiceClient::ensureConnected()
{
    if (socketFd >= 0)
        return true;
    QString error;
    const QString directory = ServicePaths::runtimeDirectory(&error);
    if (directory.isEmpty()) {
        qWarning().noquote() << "tirv-service: refusing the runtime directory:" << error;
        return false;
    }
    socketFd = ServiceLauncher::connect(directory);
    forgetListing();
    return socketFd >= 0;
}

void ServiceClient::closeSocket()
{
    if (socketFd >= 0)
        ::close(socketFd);
    socketFd = -1;
    forgetListing();
    listedServiceStatus.clear(); // the next service may say otherwise
}

void ServiceClient::forgetListing()
{
    ++generation;
    listed.clear();
    listedStatus.clear();
    listedStamp = {};
}
