#include "connectiontable.h"

#include "connectionport.h"
#include "portfactory.h"

#include <QDebug>
#include <QMutexLocker>
#include <QSet>

namespace {

const QString kPortName = QStringLiteral("port.name");
const QString kNetworkHost = QStringLiteral("network.host");
const QString kState = QStringLiteral("status.port.state");
const QString kRemoteHost = QStringLiteral("status.remotehost");

enum class Shape { Text, Integer, HostList };

bool shapeOf(const QString &key, Shape *shape)
{
    static const QMap<QString, Shape> shapes = {
        { QStringLiteral("name"), Shape::Text },
        { kPortName, Shape::Text },
        { QStringLiteral("port.type"), Shape::Text },
        { QStringLiteral("protocol.type"), Shape::Text },
        { kNetworkHost, Shape::HostList },
        { QStringLiteral("port.sendmode.mode"), Shape::Integer },
        { QStringLiteral("port.sendmode.param"), Shape::Integer },
        { QStringLiteral("protocol.portopencondition.enable"), Shape::Integer },
    };
    const auto it = shapes.constFind(key);
    if (it == shapes.constEnd())
        return false;
    *shape = it.value();
    return true;
}

bool isText(const QVariant &v)
{
    return v.userType() == QMetaType::QString;
}

// [[host, port], ...] with text elements.
bool isHostList(const QVariant &value)
{
    if (value.userType() != QMetaType::QVariantList)
        return false;
    const QVariantList entries = value.toList();
    for (const QVariant &entry : entries) {
        const QVariantList fields = entry.toList();
        if (entry.userType() != QMetaType::QVariantList || fields.size() < 2
            || !isText(fields.at(0)))
            return false;
    }
    return true;
}

bool fitsShape(Shape shape, const QVariant &value)
{
    switch (shape) {
    case Shape::Text:
        return isText(value);
    case Shape::Integer:
        return value.userType() == QMetaType::Int;
    case Shape::HostList:
        return isHostList(value);
    }
    return false;
}

// Remote hosts of a connection without a working port: configured, never connected.
QVariantList idleRemoteHosts(const QVariant &networkHost)
{
    QVariantList result;
    const QVariantList entries = networkHost.toList();
    for (const QVariant &entry : entries) {
        const QVariantList fields = entry.toList();
        result.append(
            QVariant(QVariantList { fields.value(0), fields.value(1), QStringLiteral("0") }));
    }
    return result;
}

} // namespace

ConnectionTable::ConnectionTable(QObject *parent)
    : QObject(parent)
{
}

ConnectionTable::~ConnectionTable() = default;

void ConnectionTable::setPortFactory(PortFactory *factory)
{
    QMutexLocker lock(&mutex);
    portFactory = factory;
}

bool ConnectionTable::connectService(const QVariant &machine)
{
    QMutexLocker lock(&mutex);
    if (injectedFailure(ConnectService))
        return false;
    return isText(machine);
}

bool ConnectionTable::disconnectService()
{
    QMutexLocker lock(&mutex);
    return !injectedFailure(DisconnectService);
}

bool ConnectionTable::connections(QVariantList *handles)
{
    QMutexLocker lock(&mutex);
    if (injectedFailure(GetConnectionsList))
        return false;
    handles->clear();
    handles->reserve(int(table.size()));
    for (const auto &entry : table)
        handles->append(entry.first);
    return true;
}

bool ConnectionTable::snapshot(
    QList<QPair<ConnectionHandle, QVariantMap>> *readable, ListingStamp *stamp, ListingStamp known)
{
    QMutexLocker lock(&mutex);
    if (injectedFailure(GetConnectionsList))
        return false;
    *stamp = { revision, statusStampLocked() };
    const bool statusOnly = known.revision == revision;
    const bool unchanged = *stamp == known;
    readable->clear();
    readable->reserve(int(table.size()));
    for (const auto &[handle, connection] : table) {
        QVariantMap keys = statusOnly ? QVariantMap() : connection.params;
        if (!unchanged) {
            keys.insert(kState, statusLocked(connection, kState));
            keys.insert(kRemoteHost, statusLocked(connection, kRemoteHost));
        }
        readable->append({ handle, keys });
    }
    return true;
}

QList<ConnectionTable::Entry> ConnectionTable::entries() const
{
    QMutexLocker lock(&mutex);
    QList<Entry> result;
    result.reserve(int(table.size()));
    for (const auto &[handle, connection] : table)
        result.append({ handle, connection.params, connection.started });
    return result;
}

ConnectionHandle ConnectionTable::lastHandle() const
{
    QMutexLocker lock(&mutex);
    return highestHandle;
}

bool ConnectionTable::restore(const QList<Entry> &entries, ConnectionHandle lastHandle)
{
    QMutexLocker lock(&mutex);
    if (!table.empty() || lastHandle < highestHandle)
        return false;
    QSet<ConnectionHandle> seen;
    for (const Entry &entry : entries) {
        if (!isValidEntry(entry, lastHandle) || seen.contains(entry.handle))
            return false;
        seen.insert(entry.handle);
    }
    highestHandle = lastHandle;
    ++revision;
    for (const Entry &entry : entries) {
        Connection &connection = table[entry.handle];
        connection.params = entry.params;
        if (entry.started)
            startLocked(entry.handle, connection);
    }
    return true;
}

bool ConnectionTable::createConnection(int kind, ConnectionHandle *handle)
{
    {
        QMutexLocker lock(&mutex);
        if (injectedFailure(CreateConnection) || kind != 1)
            return false;
        *handle = ++highestHandle;
        table[*handle];
    }
    publishChange();
    return true;
}

bool ConnectionTable::setParam(ConnectionHandle handle, const QVariant &key, const QVariant &value)
{
    {
        QMutexLocker lock(&mutex);
        if (injectedFailure(SetParam))
            return false;
        auto it = table.find(handle);
        Shape shape;
        if (it == table.end() || !isText(key) || !shapeOf(key.toString(), &shape)
            || !fitsShape(shape, value))
            return false;
        it->second.params.insert(key.toString(), value);
    }
    publishChange();
    return true;
}

bool ConnectionTable::param(ConnectionHandle handle, const QVariant &key, QVariant *value)
{
    QMutexLocker lock(&mutex);
    if (injectedFailure(GetParam))
        return false;
    const auto it = table.find(handle);
    if (it == table.end() || !isText(key))
        return false;
    const Connection &connection = it->second;
    const QString name = key.toString();
    if (name == kState || name == kRemoteHost) {
        *value = statusLocked(connection, name);
        return true;
    }
    if (!connection.params.contains(name))
        return false;
    *value = connection.params.value(name);
    return true;
}

bool ConnectionTable::startConnection(ConnectionHandle handle)
{
    bool started;
    {
        QMutexLocker lock(&mutex);
        if (injectedFailure(AddConnectionService))
            return false;
        auto it = table.find(handle);
        if (it == table.end())
            return false;
        started = startLocked(handle, it->second);
    }
    publishChange();
    return started;
}

bool ConnectionTable::deleteConnection(ConnectionHandle handle)
{
    {
        QMutexLocker lock(&mutex);
        if (injectedFailure(DeleteConnection) || table.erase(handle) == 0)
            return false;
    }
    publishChange();
    return true;
}

bool ConnectionTable::applyConnection(ConnectionHandle handle)
{
    bool applied = true;
    {
        QMutexLocker lock(&mutex);
        if (injectedFailure(ApplyConnection))
            return false;
        auto it = table.find(handle);
        if (it == table.end())
            return false;
        Connection &connection = it->second;
        const QString comName = connection.params.value(kPortName).toString();
        if (connection.started) {
            applied = !comName.isEmpty() && !comNameTaken(comName, handle)
                && (!connection.port || connection.port->rename(comName));
            // A refused name must not linger where the listing and the saved state read it.
            if (applied)
                connection.liveName = comName;
            else
                connection.params.insert(kPortName, connection.liveName);
        }
    }
    publishChange();
    return applied;
}

void ConnectionTable::failCall(Call call, int skip, int times)
{
    if (times == 0)
        return;
    QMutexLocker lock(&mutex);
    faults.append({ call, skip, times });
}

void ConnectionTable::clearFaults()
{
    QMutexLocker lock(&mutex);
    faults.clear();
}

bool ConnectionTable::injectedFailure(Call call)
{
    for (int i = 0; i < faults.size(); ++i) {
        Fault &fault = faults[i];
        if (fault.call != call)
            continue;
        if (fault.skip > 0) {
            --fault.skip;
            return false;
        }
        if (fault.times > 0 && --fault.times == 0)
            faults.removeAt(i);
        return true;
    }
    return false;
}

void ConnectionTable::publishChange()
{
    {
        QMutexLocker lock(&mutex);
        ++revision;
    }
    emit changed();
}

bool ConnectionTable::isValidEntry(const Entry &entry, ConnectionHandle lastHandle) const
{
    if (entry.handle <= 0 || entry.handle > lastHandle)
        return false;
    for (auto it = entry.params.cbegin(); it != entry.params.cend(); ++it) {
        Shape shape;
        if (!shapeOf(it.key(), &shape) || !fitsShape(shape, it.value()))
            return false;
    }
    return true;
}

bool ConnectionTable::comNameTaken(const QString &comName, ConnectionHandle except) const
{
    for (const auto &[handle, connection] : table) {
        if (handle != except && connection.started && !connection.failed
            && connection.liveName == comName)
            return true;
    }
    return false;
}

bool ConnectionTable::startLocked(ConnectionHandle handle, Connection &connection)
{
    if (connection.port)
        return true; // already working, under its live name
    const QString comName = connection.params.value(kPortName).toString();
    if (comName.isEmpty() || comNameTaken(comName, handle)) {
        qWarning().noquote() << comName << ": cannot start, the COM name is missing or taken";
        return false;
    }
    connection.started = true;
    connection.failed = false;
    connection.liveName = comName;
    if (!portFactory)
        return true;
    QString reason;
    connection.port = portFactory->makePort(connection.params, &reason);
    if (!connection.port) {
        connection.failed = true;
        qWarning().noquote() << comName << ":" << reason;
        return false;
    }
    return true;
}

// Without a port the status follows the stored state alone, which the revision covers.
quint32 ConnectionTable::statusStampLocked()
{
    QVector<quint64> keys;
    keys.reserve(int(table.size()));
    for (const auto &[handle, connection] : table)
        keys.append(connection.port ? connection.port->statusKey() : 0);
    if (keys != statusKeys || statusRevision != revision) {
        statusKeys = keys;
        statusRevision = revision;
        ++statusStamp;
    }
    return statusStamp;
}

QVariant ConnectionTable::statusLocked(const Connection &connection, const QString &key) const
{
    if (key == kState) {
        if (connection.failed)
            return 0;
        if (!connection.started)
            return 3;
        return connection.port ? connection.port->state() : 1;
    }
    if (connection.port)
        return connection.port->remoteHosts();
    return idleRemoteHosts(connection.params.value(kNetworkHost));
}
