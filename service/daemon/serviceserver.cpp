#include "serviceserver.h"

#include "connectiontable.h"
#include "servicelimits.h"

#include <QDebug>
#include <QLocalSocket>

#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using ServiceLimits::kMaxClients;
using ServiceLimits::kMaxUnsentBytes;
constexpr qint64 kShareBytes = kMaxUnsentBytes / kMaxClients;

// Once the replies held here came to this much, the freed heap is handed back to the system
// when their clients leave: glibc would keep it for reuse.
constexpr qint64 kTrimAfterBytes = 1024 * 1024;
// A request is read in pieces of this size, so that little more than it is taken at a time.
constexpr int kReadChunk = 4096;

bool peerCredentials(QLocalSocket *client, ucred *credentials)
{
    socklen_t size = sizeof *credentials;
    return ::getsockopt(
               int(client->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, credentials, &size)
        == 0;
}

QString describe(QLocalSocket *client)
{
    ucred credentials {};
    peerCredentials(client, &credentials);
    return QStringLiteral("client pid %1").arg(credentials.pid);
}

} // namespace

ServiceServer::ServiceServer(ConnectionTable &table, QObject *parent)
    : QObject(parent)
    , table(table)
{
    server.setSocketOptions(QLocalServer::UserAccessOption);
    // Once the clients that leave together are gone.
    trimTimer.setSingleShot(true);
    trimTimer.setInterval(0);
    connect(&trimTimer, &QTimer::timeout, this, &ServiceServer::releaseMemory);
    connect(&server, &QLocalServer::newConnection, this, &ServiceServer::acceptClients);
}

bool ServiceServer::listen(const QString &path)
{
    QLocalServer::removeServer(path);
    if (server.listen(path))
        return true;
    qCritical().noquote() << path << ": cannot listen:" << server.errorString();
    return false;
}

void ServiceServer::acceptClients()
{
    while (QLocalSocket *client = server.nextPendingConnection()) {
        if (!admit(client)) {
            client->abort();
            client->deleteLater();
            continue;
        }
        // Qt reads ahead of us; never more than one whole frame.
        client->setReadBufferSize(
            ServiceProtocol::kHeaderSize + ServiceProtocol::kMaxRequestPayload);
        readers.insert(client, FrameReader(ServiceProtocol::kMaxRequestPayload));
        connect(client, &QLocalSocket::readyRead, this, [this, client] { serveClient(client); });
        // Queued: flush() tells what it wrote from within reply(), and every client gets its
        // turn before this one is served again.
        connect(
            client, &QLocalSocket::bytesWritten, client, [this, client] { serveClient(client); },
            Qt::QueuedConnection);
        connect(
            client, &QLocalSocket::disconnected, this, [this, client] { forgetClient(client); });
        connect(client, &QObject::destroyed, &trimTimer, qOverload<>(&QTimer::start));
        serveClient(client);
    }
}

bool ServiceServer::admit(QLocalSocket *client)
{
    ucred credentials {};
    if (!peerCredentials(client, &credentials) || credentials.uid != ::getuid()) {
        qWarning().noquote() << "refused a client of uid" << credentials.uid << "pid"
                             << credentials.pid;
        return false;
    }
    if (readers.size() >= kMaxClients) {
        if (!refusing)
            qWarning().noquote() << "serving" << kMaxClients
                                 << "clients already: refusing more until one leaves";
        refusing = true;
        return false;
    }
    refusing = false;
    return true;
}

// One request at a time: the next is read only once the reply to this one has left.
void ServiceServer::serveClient(QLocalSocket *client)
{
    QByteArray payload;
    if (!readers.contains(client) || client->bytesToWrite() > 0 || !readRequest(client, &payload))
        return;
    ServiceProtocol::Request request;
    if (!ServiceProtocol::decodeRequest(payload, &request)) {
        dropClient(client, QStringLiteral("malformed frame"));
        return;
    }
    reply(client, serve(request));
}

// False while no whole request has come, and when the client was dropped.
bool ServiceServer::readRequest(QLocalSocket *client, QByteArray *payload)
{
    FrameReader &reader = readers[client];
    for (;;) {
        switch (reader.next(payload)) {
        case FrameReader::Complete:
            return true;
        case FrameReader::TooLarge:
            dropClient(client,
                QStringLiteral("frame of %1 bytes refused (limit %2)")
                    .arg(reader.refusedSize())
                    .arg(ServiceProtocol::kMaxRequestPayload));
            return false;
        case FrameReader::Incomplete:
            break;
        }
        char chunk[kReadChunk];
        const qint64 size = client->read(chunk, sizeof chunk);
        if (size <= 0)
            return false;
        reader.append(chunk, int(size));
    }
}

void ServiceServer::reply(QLocalSocket *client, const QByteArray &frame)
{
    client->write(frame);
    client->flush(); // what the system takes now is not held here
    keepUnsentWithinBudget();
}

// With at most kMaxClients clients, a total beyond the budget means the one holding most
// holds more than its share.
void ServiceServer::keepUnsentWithinBudget()
{
    for (;;) {
        qint64 total = 0;
        QLocalSocket *largest = nullptr;
        for (auto it = readers.cbegin(); it != readers.cend(); ++it) {
            total += it.key()->bytesToWrite();
            if (!largest || it.key()->bytesToWrite() > largest->bytesToWrite())
                largest = it.key();
        }
        unsentPeak = qMax(unsentPeak, total);
        if (total <= kMaxUnsentBytes)
            return;
        dropClient(largest,
            QStringLiteral("does not read its replies (%1 bytes held, its share is %2)")
                .arg(largest->bytesToWrite())
                .arg(kShareBytes));
    }
}

void ServiceServer::dropClient(QLocalSocket *client, const QString &why)
{
    qWarning().noquote() << describe(client) << ":" << why << "- disconnected";
    client->abort();
    forgetClient(client);
}

void ServiceServer::forgetClient(QLocalSocket *client)
{
    if (readers.remove(client) == 0)
        return;
    client->deleteLater();
}

void ServiceServer::releaseMemory()
{
    if (unsentPeak < kTrimAfterBytes)
        return;
    ::malloc_trim(0);
    unsentPeak = 0;
    for (auto it = readers.cbegin(); it != readers.cend(); ++it)
        unsentPeak += it.key()->bytesToWrite();
}

// Listers that hold the same get the same frame: many readers of the whole table cost one
// encoding per change, not one per reply.
QByteArray ServiceServer::listing(const ServiceProtocol::Request &request)
{
    const ListingStamp known { quint32(request.first.toInt()), quint32(request.second.toInt()) };
    if (!lastListing.frame.isEmpty() && lastListing.known == known
        && lastListing.stamp == table.stamp())
        return lastListing.frame;
    ServiceProtocol::Reply reply;
    QList<QPair<ConnectionHandle, QVariantMap>> readable;
    table.snapshot(&readable, &reply.stamp, known);
    reply.result = 1;
    // A lister that holds all of it gets the handles alone.
    const bool unchanged = reply.stamp == known;
    QVariantList handles;
    for (const auto &[handle, keys] : qAsConst(readable)) {
        handles.append(handle);
        if (!unchanged)
            reply.snapshot.append(keys);
    }
    reply.value = handles;
    if (!unchanged)
        reply.serviceStatus = table.serviceStatus();
    lastListing = { known, reply.stamp, ServiceProtocol::encodeReply(reply) };
    return lastListing.frame;
}

// A change sent again with the id of one already made is answered as it was, not made twice.
QByteArray ServiceServer::serve(const ServiceProtocol::Request &request)
{
    if (request.call == ConnectionService::GetConnectionsList)
        return listing(request);
    ServiceProtocol::Reply reply;
    const bool kept = ConnectionService::isChange(request.call) && !request.callId.isEmpty();
    AnsweredCalls::Answer answer { request.callId, 0, {} };
    if (!kept || !table.answered(request.callId, &answer)) {
        carryOut(request, &answer);
        if (kept)
            table.rememberAnswer(answer);
    }
    reply.result = answer.result;
    reply.value = answer.value;
    reply.reason = answer.reason;
    return ServiceProtocol::encodeReply(reply);
}

void ServiceServer::carryOut(const ServiceProtocol::Request &request, AnsweredCalls::Answer *answer)
{
    switch (request.call) {
    case ConnectionService::GetConnectionsList:
        break; // answered by listing(), in a frame of its own
    case ConnectionService::ConnectService:
        answer->result = table.connectService(request.first);
        break;
    case ConnectionService::DisconnectService:
        answer->result = table.disconnectService();
        break;
    case ConnectionService::CreateConnection: {
        ConnectionHandle handle = -1;
        const int kind = request.first.userType() == QMetaType::Int ? request.first.toInt() : 0;
        answer->result = table.createConnection(kind, &handle);
        answer->value = handle;
        break;
    }
    case ConnectionService::SetParam:
        answer->result = table.setParam(request.handle, request.first, request.second);
        break;
    case ConnectionService::GetParam:
        answer->result = table.param(request.handle, request.first, &answer->value);
        break;
    case ConnectionService::AddConnectionService:
        answer->result = table.startConnection(request.handle);
        break;
    case ConnectionService::DeleteConnection:
        answer->result = table.deleteConnection(request.handle);
        break;
    case ConnectionService::ApplyConnection:
        answer->result = table.applyConnection(request.handle);
        break;
    }
    if (!answer->result)
        answer->reason = ConnectionService::failureReason();
}
