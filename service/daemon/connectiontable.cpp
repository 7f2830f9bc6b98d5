#include "connectiontable.h"

#include "connectionport.h"
#include "linesettings.h"
#include "portdirectory.h"
#include "portfactory.h"
#include "servicekeys.h"

#include <QDebug>
#include <QMutexLocker>
#include <QSet>

namespace {

using namespace ServiceKeys;

enum class Shape { Text, Integer, HostList };

bool shapeOf(const QString &key, Shape *shape)
{
    static const QMap<QString, Shape> shapes = {
        { kName, Shape::Text },
        { kPortName, Shape::Text },
        { kPortType, Shape::Text },
        { kProtocolType, Shape::Text },
        { kDataBits, Shape::Integer },
        { kParity, Shape::Text },
        { kNetworkHost, Shape::HostList },
        { kSendMode, Shape::Integer },
        { kSendModeParam, Shape::Integer },
        { kOpenCondition, Shape::Integer },
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

// Keys whose values are a choice: anything else there would only fail when the port starts.
bool fitsChoice(const QString &key, const QVariant &value)
{
    LineSettings::Parity parity;
    if (key == kProtocolType)
        return value == kProtocolRaw || value == kProtocolRfc2217;
    if (key == kDataBits)
        return value.toInt() >= 5 && value.toInt() <= 8;
    if (key == kParity)
        return LineSettings::parityFromName(value.toString(), &parity);
    return true;
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
    status.insert(kPortDirectory, portDirectory());
}

ConnectionTable::~ConnectionTable() = default;

void ConnectionTable::setPortFactory(PortFactory *factory)
{
    QMutexLocker lock(&mutex);
    portFactory = factory;
}

bool ConnectionTable::connectService(const QVariant &machine)
{
    return isText(machine);
}

bool ConnectionTable::disconnectService()
{
    return true;
}

bool ConnectionTable::connections(QVariantList *handles)
{
    QMutexLocker lock(&mutex);
    handles->clear();
    handles->reserve(int(table.size()));
    for (const auto &entry : table)
        handles->append(entry.first);
    return true;
}

void ConnectionTable::snapshot(
    QList<QPair<ConnectionHandle, QVariantMap>> *readable, ListingStamp *stamp, ListingStamp known)
{
    QMutexLocker lock(&mutex);
    *stamp = { revision, statusStampLocked() };
    const bool statusOnly = known.revision == revision;
    const bool unchanged = *stamp == known;
    readable->clear();
    readable->reserve(int(table.size()));
    for (const auto &[handle, connection] : table) {
        QVariantMap keys = statusOnly ? QVariantMap() : connection.params;
        if (!unchanged) {
            keys.insert(kPortState, statusLocked(connection, kPortState));
            keys.insert(kRemoteHost, statusLocked(connection, kRemoteHost));
            const QVariant line = statusLocked(connection, kLineStatus);
            if (line.isValid())
                keys.insert(kLineStatus, line);
        }
        readable->append({ handle, keys });
    }
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
    if (kind != 1)
        return false;
    {
        QMutexLocker lock(&mutex);
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
        auto it = table.find(handle);
        Shape shape;
        if (it == table.end() || !isText(key) || !shapeOf(key.toString(), &shape)
            || !fitsShape(shape, value) || !fitsChoice(key.toString(), value))
            return false;
        it->second.params.insert(key.toString(), value);
    }
    publishChange();
    return true;
}

bool ConnectionTable::param(ConnectionHandle handle, const QVariant &key, QVariant *value)
{
    QMutexLocker lock(&mutex);
    const auto it = table.find(handle);
    if (it == table.end() || !isText(key))
        return false;
    const Connection &connection = it->second;
    const QString name = key.toString();
    if (name == kPortState || name == kRemoteHost || name == kLineStatus) {
        *value = statusLocked(connection, name);
        return value->isValid();
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
        if (table.erase(handle) == 0)
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
            if (applied && connection.port && !connection.port->reconfigure(connection.params)) {
                connection.port.reset();
                applied = startLocked(handle, connection);
            }
        }
    }
    publishChange();
    return applied;
}

QVariantMap ConnectionTable::serviceStatus()
{
    QMutexLocker lock(&mutex);
    return status;
}

void ConnectionTable::setServiceStatus(const QString &key, const QVariant &value)
{
    QMutexLocker lock(&mutex);
    if (status.value(key) == value && status.contains(key))
        return;
    status.insert(key, value);
    statusChanged = true;
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
        if (!shapeOf(it.key(), &shape) || !fitsShape(shape, it.value())
            || !fitsChoice(it.key(), it.value()))
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

// Without a port the status follows the stored state alone, which the revision covers; the
// service's own status marks its changes.
quint32 ConnectionTable::statusStampLocked()
{
    QVector<quint64> keys;
    keys.reserve(int(table.size()));
    for (const auto &[handle, connection] : table)
        keys.append(connection.port ? connection.port->statusKey() : 0);
    if (keys != statusKeys || statusRevision != revision || statusChanged) {
        statusKeys = keys;
        statusRevision = revision;
        statusChanged = false;
        ++statusStamp;
    }
    return statusStamp;
}

QVariant ConnectionTable::statusLocked(const Connection &connection, const QString &key) const
{
    if (key == kPortState) {
        if (connection.failed)
            return int(PortState::Error);
        if (!connection.started)
            return int(PortState::NotStarted);
        return connection.port ? connection.port->state() : int(PortState::Closed);
    }
    if (key == kLineStatus) {
        const QVariantMap line = connection.port ? connection.port->lineStatus() : QVariantMap();
        return line.isEmpty() ? QVariant() : QVariant(line);
    }
    if (connection.port)
        return connection.port->remoteHosts();
    return idleRemoteHosts(connection.params.value(kNetworkHost));
}
