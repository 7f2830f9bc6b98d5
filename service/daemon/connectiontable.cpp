#include "connectiontable.h"

#include "connectionport.h"
#include "ipv4address.h"
#include "linesettings.h"
#include "portdirectory.h"
#include "portfactory.h"
#include "porthealth.h"
#include "servicekeys.h"
#include "servicelimits.h"

#include <QDateTime>
#include <QDebug>
#include <QMutexLocker>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace {

using namespace ServiceKeys;
using namespace ServiceLimits;

// While counters tick, listings bring them fresh at most this often.
const int kCountersPeriodMs = 1000;

// The keys the port answers rather than the stored parameters.
const QStringList &portStatusKeys()
{
    static const QStringList keys { kPortState, kRemoteHost, kLineStatus, kReason, kCounters };
    return keys;
}

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

// The first host written as an IPv4 address that no device can have ("0.0.0.0", a broadcast);
// empty when there is none. Host names are looked up only when the port connects.
QString nonDeviceHost(const QVariant &hosts)
{
    const QVariantList entries = hosts.toList();
    for (const QVariant &entry : entries) {
        const QString host = entry.toList().value(0).toString();
        if (Ipv4Address::isValid(host) && !Ipv4Address::isDeviceAddress(host))
            return host;
    }
    return QString();
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

// Why value cannot be kept under key; empty when it can.
QString valueRefusal(const QString &key, const QVariant &value)
{
    static const QMap<Shape, QString> shapeNames = { { Shape::Text, QStringLiteral("a text") },
        { Shape::Integer, QStringLiteral("a whole number") },
        { Shape::HostList,
            QStringLiteral("a list of at most %1 [host, TCP port] entries").arg(kMaxHosts) } };
    Shape shape;
    if (!shapeOf(key, &shape))
        return QStringLiteral("\"%1\" is not a parameter").arg(key);
    if (!textsFit(value))
        return QStringLiteral("%1 holds a text longer than %2 characters")
            .arg(key)
            .arg(kMaxTextLength);
    if (!fitsShape(shape, value))
        return QStringLiteral("%1 must be %2").arg(key, shapeNames.value(shape));
    // Saved tables keep such hosts: they only fail to connect.
    const QString host = shape == Shape::HostList ? nonDeviceHost(value) : QString();
    if (!host.isEmpty())
        return QStringLiteral("%1 cannot hold \"%2\": no device has that address").arg(key, host);
    if (!fitsChoice(key, value))
        return QStringLiteral("%1 cannot be \"%2\"").arg(key, value.toString());
    return QString();
}

QString noConnection(ConnectionHandle handle)
{
    return QStringLiteral("there is no connection %1").arg(handle);
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
    return isText(machine) || fail(QStringLiteral("the machine must be named by a text"));
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
            for (const QString &key : portStatusKeys()) {
                const QVariant value = statusLocked(connection, key);
                if (value.isValid())
                    keys.insert(key, value);
            }
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
        QString reason;
        if (entry.started)
            startLocked(entry.handle, connection, &reason);
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
        return fail(QStringLiteral("there is no connection kind %1").arg(kind));
    {
        QMutexLocker lock(&mutex);
        // No wrap: a handle is never handed out twice, nor a negative one.
        QString refusal;
        if (highestHandle == std::numeric_limits<ConnectionHandle>::max())
            refusal = QStringLiteral("every connection handle has been handed out");
        else if (table.size() >= size_t(kMaxConnections))
            refusal
                = QStringLiteral("the service keeps at most %1 connections").arg(kMaxConnections);
        if (!refusal.isEmpty()) {
            qWarning().noquote() << "cannot create a connection:" << refusal;
            return fail(refusal);
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
        if (it == table.end())
            return fail(noConnection(handle));
        if (!isText(key))
            return fail(QStringLiteral("a parameter key must be text"));
        Connection &connection = it->second;
        const QString refusal = valueRefusal(key.toString(), value);
        if (!refusal.isEmpty())
            return fail(QStringLiteral("%1: %2").arg(describe(handle, connection), refusal));
        QVariantMap params = connection.params;
        params.insert(key.toString(), value);
        if (parameterTotal - connection.bytes + parameterBytes(params, connection.liveName)
            > kMaxParameterBytes)
            return fail(QStringLiteral("%1: the parameters of all ports would pass the %2 KiB "
                                       "the service keeps")
                            .arg(describe(handle, connection))
                            .arg(kMaxParameterBytes / 1024));
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
    if (it == table.end())
        return fail(noConnection(handle));
    if (!isText(key))
        return fail(QStringLiteral("a parameter key must be text"));
    const Connection &connection = it->second;
    const QString name = key.toString();
    // A key that holds nothing for this connection is no fault worth a reason.
    if (portStatusKeys().contains(name)) {
        *value = statusLocked(connection, name);
        return value->isValid() || fail(QString());
    }
    if (!connection.params.contains(name))
        return fail(QString());
    *value = connection.params.value(name);
    return true;
}

bool ConnectionTable::startConnection(ConnectionHandle handle)
{
    QString reason;
    bool started;
    {
        QMutexLocker lock(&mutex);
        auto it = table.find(handle);
        if (it == table.end())
            return fail(noConnection(handle));
        started = startLocked(handle, it->second, &reason);
    }
    publishChange();
    return started || fail(reason);
}

bool ConnectionTable::deleteConnection(ConnectionHandle handle)
{
    {
        QMutexLocker lock(&mutex);
        const auto it = table.find(handle);
        if (it == table.end())
            return fail(noConnection(handle));
        parameterTotal -= it->second.bytes;
        table.erase(it);
    }
    publishChange();
    return true;
}

bool ConnectionTable::applyConnection(ConnectionHandle handle)
{
    QString reason;
    {
        QMutexLocker lock(&mutex);
        auto it = table.find(handle);
        if (it == table.end())
            return fail(noConnection(handle));
        if (it->second.started)
            reason = applyLocked(handle, it->second);
    }
    publishChange();
    return reason.isEmpty() || fail(reason);
}

QString ConnectionTable::applyLocked(ConnectionHandle handle, Connection &connection)
{
    const QString comName = connection.params.value(kPortName).toString();
    QString reason;
    if (comName.isEmpty())
        reason = QStringLiteral("no COM name to move to");
    else if (comNameTaken(comName, handle))
        reason = QStringLiteral("%1 is taken by another port").arg(comName);
    else if (connection.port)
        connection.port->rename(comName, &reason);
    if (!reason.isEmpty()) {
        // A refused name must not linger where the listing and the saved state read it.
        connection.params.insert(kPortName, connection.liveName);
        recountLocked(connection);
        return QStringLiteral("%1: %2").arg(connection.liveName, reason);
    }
    connection.liveName = comName;
    recountLocked(connection);
    if (connection.port && !connection.port->reconfigure(connection.params)) {
        connection.port.reset();
        startLocked(handle, connection, &reason);
    }
    return reason;
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
        if (!shapeOf(it.key(), &shape) || !textsFit(it.value()) || !fitsShape(shape, it.value())
            || !fitsChoice(it.key(), it.value()))
            return false;
    }
    return true;
}

bool ConnectionTable::comNameTaken(const QString &comName, ConnectionHandle except) const
{
    for (const auto &[handle, connection] : table) {
        if (handle != except && connection.started && connection.failure.isEmpty()
            && connection.liveName == comName)
            return true;
    }
    return false;
}

bool ConnectionTable::startLocked(ConnectionHandle handle, Connection &connection, QString *reason)
{
    if (connection.port)
        return true; // already working, under its live name
    const QString comName = connection.params.value(kPortName).toString();
    if (comName.isEmpty())
        *reason = QStringLiteral("%1: cannot start without a COM name")
                      .arg(describe(handle, connection));
    else if (comNameTaken(comName, handle))
        *reason = QStringLiteral("%1: the COM name is taken by another port").arg(comName);
    if (!reason->isEmpty()) {
        qWarning().noquote() << *reason;
        return false;
    }
    connection.started = true;
    connection.failure.clear();
    connection.liveName = comName;
    recountLocked(connection);
    if (!portFactory)
        return true;
    QString cause;
    connection.port = portFactory->makePort(connection.params, &cause);
    if (!connection.port) {
        connection.failure = PortHealth::reasonOf(
            PortHealth::Trouble::Port, cause, QDateTime::currentMSecsSinceEpoch());
        *reason = QStringLiteral("%1: %2").arg(comName, cause);
        qWarning().noquote() << *reason;
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

// The port's COM name when it has one, else the connection's number.
QString ConnectionTable::describe(ConnectionHandle handle, const Connection &connection)
{
    const QString written = connection.params.value(kPortName).toString();
    if (!connection.liveName.isEmpty())
        return connection.liveName;
    return written.isEmpty() ? QStringLiteral("connection %1").arg(handle) : written;
}

// Without a port the status follows the stored state alone, which the revision covers; the
// service's own status marks its changes. Counters that tick count as a change once a period.
quint32 ConnectionTable::statusStampLocked()
{
    const auto keysOf = [this](quint64 (ConnectionPort::*key)() const) {
        QVector<quint64> keys;
        keys.reserve(int(table.size()));
        for (const auto &[handle, connection] : table)
            keys.append(connection.port ? (connection.port.get()->*key)() : 0);
        return keys;
    };
    const QVector<quint64> keys = keysOf(&ConnectionPort::statusKey);
    const bool countersDue
        = !countersClock.isValid() || countersClock.hasExpired(kCountersPeriodMs);
    const QVector<quint64> counts
        = countersDue ? keysOf(&ConnectionPort::countersKey) : countersKeys;
    if (countersDue)
        countersClock.start();
    if (keys != statusKeys || counts != countersKeys || statusRevision != revision
        || statusChanged) {
        statusKeys = keys;
        // What the listing about to be taken shows.
        countersKeys = countersDue ? counts : keysOf(&ConnectionPort::countersKey);
        statusRevision = revision;
        statusChanged = false;
        ++statusStamp;
    }
    return statusStamp;
}

QVariant ConnectionTable::statusLocked(const Connection &connection, const QString &key) const
{
    if (key == kPortState) {
        if (!connection.failure.isEmpty())
            return int(PortState::Error);
        if (!connection.started)
            return int(PortState::NotStarted);
        return connection.port ? connection.port->state() : int(PortState::Closed);
    }
    if (key == kLineStatus) {
        const QVariantMap line = connection.port ? connection.port->lineStatus() : QVariantMap();
        return line.isEmpty() ? QVariant() : QVariant(line);
    }
    if (key == kReason)
        return connection.port ? connection.port->reason() : connection.failure;
    if (key == kCounters) {
        static const QVariantMap none = PortHealth().counters();
        return connection.port ? connection.port->counters() : none;
    }
    if (connection.port)
        return connection.port->remoteHosts();
    return idleRemoteHosts(connection.params.value(kNetworkHost));
}
