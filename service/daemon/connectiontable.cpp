#include "connectiontable.h"

#include "connectionport.h"
#include "linesettings.h"
#include "portdirectory.h"
#include "portfactory.h"
#include "servicekeys.h"
#include "servicelimits.h"

#include <QDebug>
#include <QMutexLocker>
#include <QSet>

#include <algorithm>
#include <limits>

namespace {

using namespace ServiceKeys;
using namespace ServiceLimits;

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
    if (entries.size() > kMaxHosts)
        return false;
    for (const QVariant &entry : entries) {
        const QVariantList fields = entry.toList();
        if (entry.userType() != QMetaType::QVariantList || fields.size() < 2
            || !isText(fields.at(0)))
            return false;
    }
    return true;
}

// Every text in the value, however deep, is short enough.
bool textsFit(const QVariant &value)
{
    if (isText(value))
        return value.toString().size() <= kMaxTextLength;
    const QVariantList items = value.toList();
    return std::all_of(items.cbegin(), items.cend(), textsFit);
}

bool fitsShape(Shape shape, const QVariant &value)
{
    if (!textsFit(value))
        return false;
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

// What a value adds to a listing, near enough: its texts' UTF-8 bytes and 8 bytes per value.
int listingBytes(const QVariant &value)
{
    constexpr int kPerValue = 8;
    if (isText(value))
        return kPerValue + value.toString().toUtf8().size();
    int bytes = kPerValue;
    if (value.userType() == QMetaType::QVariantList) {
        const QVariantList items = value.toList();
        for (const QVariant &item : items)
            bytes += listingBytes(item);
    }
    return bytes;
}

// A connection's share of the parameter budget. A COM name written but not yet applied counts
// beside the live one, which a refused apply writes back.
int parameterBytes(const QVariantMap &params, const QString &liveName = QString())
{
    int bytes = 0;
    for (auto it = params.cbegin(); it != params.cend(); ++it)
        bytes += listingBytes(it.key()) + listingBytes(it.value());
    if (!liveName.isEmpty() && liveName != params.value(kPortName).toString())
        bytes += listingBytes(liveName);
    return bytes;
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
    status.insert(kPortDirectory, PortDirectory::defaultPath());
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

ListingStamp ConnectionTable::stamp()
{
    QMutexLocker lock(&mutex);
    return { revision, statusStampLocked() };
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

bool ConnectionTable::restore(const QList<Entry> &entries, ConnectionHandle lastHandle,
    const QList<AnsweredCalls::Answer> &answers, QString *reason)
{
    QMutexLocker lock(&mutex);
    QString refusal = table.empty() && lastHandle >= highestHandle
        ? refusalOf(entries, lastHandle)
        : QStringLiteral("the table is not empty");
    if (refusal.isEmpty())
        refusal = AnsweredCalls::refusalOf(answers);
    if (!refusal.isEmpty()) {
        if (reason)
            *reason = refusal;
        return false;
    }
    answeredCalls.restore(answers);
    highestHandle = lastHandle;
    ++revision;
    for (const Entry &entry : entries) {
        Connection &connection = table[entry.handle];
        connection.params = entry.params;
        recountLocked(connection);
        if (entry.started)
            startLocked(entry.handle, connection);
    }
    return true;
}

bool ConnectionTable::answered(const QString &callId, AnsweredCalls::Answer *answer) const
{
    QMutexLocker lock(&mutex);
    const AnsweredCalls::Answer *kept = answeredCalls.find(callId);
    if (kept)
        *answer = *kept;
    return kept;
}

void ConnectionTable::rememberAnswer(const AnsweredCalls::Answer &answer)
{
    QMutexLocker lock(&mutex);
    answeredCalls.remember(answer);
}

QList<AnsweredCalls::Answer> ConnectionTable::answers() const
{
    QMutexLocker lock(&mutex);
    return answeredCalls.all();
}

// Entries within the limits the calls enforce, so that a table the service saved always loads
// again and no other does.
QString ConnectionTable::refusalOf(const QList<Entry> &entries, ConnectionHandle lastHandle)
{
    if (entries.size() > kMaxConnections)
        return QStringLiteral("more than %1 connections").arg(kMaxConnections);
    QSet<ConnectionHandle> seen;
    qint64 bytes = 0;
    for (const Entry &entry : entries) {
        if (!isValidEntry(entry, lastHandle) || seen.contains(entry.handle))
            return QStringLiteral("connection %1: a bad or repeated handle, or a bad parameter")
                .arg(entry.handle);
        seen.insert(entry.handle);
        bytes += parameterBytes(entry.params);
    }
    if (bytes > kMaxParameterBytes)
        return QStringLiteral("parameters of more than %1 KiB").arg(kMaxParameterBytes / 1024);
    return QString();
}

bool ConnectionTable::createConnection(int kind, ConnectionHandle *handle)
{
    if (kind != 1)
        return false;
    {
        QMutexLocker lock(&mutex);
        // No wrap: a handle is never handed out twice, nor a negative one.
        if (highestHandle == std::numeric_limits<ConnectionHandle>::max()) {
            qWarning() << "cannot create a connection: every handle has been handed out";
            return false;
        }
        if (table.size() >= size_t(kMaxConnections)) {
            qWarning() << "cannot create a connection:" << kMaxConnections
                       << "is the most the service keeps";
            return false;
        }
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
        Connection &connection = it->second;
        QVariantMap params = connection.params;
        params.insert(key.toString(), value);
        if (parameterTotal - connection.bytes + parameterBytes(params, connection.liveName)
            > kMaxParameterBytes)
            return false;
        connection.params.swap(params);
        recountLocked(connection);
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
        const auto it = table.find(handle);
        if (it == table.end())
            return false;
        parameterTotal -= it->second.bytes;
        table.erase(it);
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
            recountLocked(connection);
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

bool ConnectionTable::isValidEntry(const Entry &entry, ConnectionHandle lastHandle)
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
    recountLocked(connection);
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

void ConnectionTable::recountLocked(Connection &connection)
{
    const int bytes = parameterBytes(connection.params, connection.liveName);
    parameterTotal += bytes - connection.bytes;
    connection.bytes = bytes;
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
