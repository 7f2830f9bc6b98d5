#include "serviceserver.h"

#include "connectiontable.h"

#include <QDebug>
#include <QLocalSocket>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// A client that asks without reading its answers is not allowed to pile them up here.
constexpr qint64 kMaxUnsentBytes = 4 * qint64(ServiceProtocol::kMaxPayload);

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
        ucred credentials {};
        if (!peerCredentials(client, &credentials) || credentials.uid != ::getuid()) {
            qWarning().noquote() << "refused a client of uid" << credentials.uid << "pid"
                                 << credentials.pid;
            client->abort();
            client->deleteLater();
            continue;
        }
        // Qt reads ahead of us; never more than one whole frame.
        client->setReadBufferSize(
            ServiceProtocol::kHeaderSize + ServiceProtocol::kMaxRequestPayload);
        readers.insert(client, FrameReader(ServiceProtocol::kMaxRequestPayload));
        connect(client, &QLocalSocket::readyRead, this, [this, client] { readClient(client); });
        connect(client, &QLocalSocket::disconnected, this, [this, client] {
            readers.remove(client);
            client->deleteLater();
        });
        readClient(client);
    }
}

void ServiceServer::readClient(QLocalSocket *client)
{
    char chunk[64 * 1024];
    while (readers.contains(client) && client->bytesAvailable() > 0) {
        const qint64 size = client->read(chunk, sizeof chunk);
        if (size <= 0)
            return;
        FrameReader &reader = readers[client];
        reader.append(chunk, int(size));
        if (!serveFrames(client, reader))
            return;
    }
}

bool ServiceServer::serveFrames(QLocalSocket *client, FrameReader &reader)
{
    QByteArray payload;
    for (;;) {
        switch (reader.next(&payload)) {
        case FrameReader::Incomplete:
            return true;
        case FrameReader::TooLarge:
            dropClient(client,
                QStringLiteral("frame of %1 bytes refused (limit %2)")
                    .arg(reader.refusedSize())
                    .arg(ServiceProtocol::kMaxRequestPayload));
            return false;
        case FrameReader::Complete:
            break;
        }
        ServiceProtocol::Request request;
        if (!ServiceProtocol::decodeRequest(payload, &request)) {
            dropClient(client, QStringLiteral("malformed frame"));
            return false;
        }
        client->write(ServiceProtocol::encodeReply(serve(request)));
        if (client->bytesToWrite() > kMaxUnsentBytes) {
            dropClient(client, QStringLiteral("does not read its replies"));
            return false;
        }
    }
}

void ServiceServer::dropClient(QLocalSocket *client, const QString &why)
{
    qWarning().noquote() << describe(client) << ":" << why << "- disconnected";
    readers.remove(client);
    client->abort();
    client->deleteLater();
}

ServiceProtocol::Reply ServiceServer::serve(const ServiceProtocol::Request &request)
{
    ServiceProtocol::Reply reply;
    switch (request.call) {
    case ConnectionService::ConnectService:
        reply.result = table.connectService(request.first);
        break;
    case ConnectionService::DisconnectService:
        reply.result = table.disconnectService();
        break;
    case ConnectionService::GetConnectionsList: {
        QList<QPair<ConnectionHandle, QVariantMap>> readable;
        const ListingStamp known { quint32(request.first.toInt()),
            quint32(request.second.toInt()) };
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
        break;
    }
    case ConnectionService::CreateConnection: {
        ConnectionHandle handle = -1;
        reply.result = request.first.userType() == QMetaType::Int
            && table.createConnection(request.first.toInt(), &handle);
        reply.value = handle;
        break;
    }
    case ConnectionService::SetParam:
        reply.result = table.setParam(request.handle, request.first, request.second);
        break;
    case ConnectionService::GetParam:
        reply.result = table.param(request.handle, request.first, &reply.value);
        break;
    case ConnectionService::AddConnectionService:
        reply.result = table.startConnection(request.handle);
        break;
    case ConnectionService::DeleteConnection:
        reply.result = table.deleteConnection(request.handle);
        break;
    case ConnectionService::ApplyConnection:
        reply.result = table.applyConnection(request.handle);
        break;
    }
    return reply;
}
