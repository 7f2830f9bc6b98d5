#include "statestore.h"

#include "connectiontable.h"
#include "servicelimits.h"
#include "servicepaths.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace {

constexpr int kFormatVersion = 1;

// JSON keeps numbers as doubles; the table only knows integers.
QVariant fromJson(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double: {
        const double number = value.toDouble();
        if (std::trunc(number) == number && number >= INT_MIN && number <= INT_MAX)
            return int(number);
        return QVariant();
    }
    case QJsonValue::Array: {
        QVariantList items;
        for (const QJsonValue &item : value.toArray())
            items.append(fromJson(item));
        return items;
    }
    default:
        return QVariant();
    }
}

QJsonObject toJson(const ConnectionTable::Entry &entry)
{
    return QJsonObject {
        { QStringLiteral("handle"), entry.handle },
        { QStringLiteral("started"), entry.started },
        { QStringLiteral("params"), QJsonObject::fromVariantMap(entry.params) },
    };
}

// A whole number from 0 to the highest handle.
bool toHandle(const QJsonValue &value, ConnectionHandle *handle)
{
    const double number = value.toDouble(-1);
    if (!value.isDouble() || std::trunc(number) != number || number < 0
        || number > std::numeric_limits<ConnectionHandle>::max())
        return false;
    *handle = ConnectionHandle(number);
    return true;
}

bool fromJson(const QJsonValue &value, ConnectionTable::Entry *entry)
{
    const QJsonObject object = value.toObject();
    const QJsonValue started = object.value(QStringLiteral("started"));
    const QJsonValue params = object.value(QStringLiteral("params"));
    if (!toHandle(object.value(QStringLiteral("handle")), &entry->handle) || !started.isBool()
        || !params.isObject())
        return false;
    entry->started = started.toBool();
    const QJsonObject keys = params.toObject();
    for (auto it = keys.constBegin(); it != keys.constEnd(); ++it)
        entry->params.insert(it.key(), fromJson(it.value()));
    return true;
}

QJsonObject toJson(const AnsweredCalls::Answer &answer)
{
    QJsonObject object { { QStringLiteral("callId"), answer.callId },
        { QStringLiteral("result"), answer.result } };
    if (answer.value.isValid())
        object.insert(QStringLiteral("value"), answer.value.toInt());
    if (!answer.reason.isEmpty())
        object.insert(QStringLiteral("reason"), answer.reason);
    return object;
}

// Files written before answers were kept have none, nor reasons those written before these were.
bool fromJson(const QJsonValue &value, QList<AnsweredCalls::Answer> *answers)
{
    if (value.isUndefined())
        return true;
    if (!value.isArray())
        return false;
    for (const QJsonValue &item : value.toArray()) {
        const QJsonObject object = item.toObject();
        const QJsonValue callId = object.value(QStringLiteral("callId"));
        const QVariant result = fromJson(object.value(QStringLiteral("result")));
        const QJsonValue answered = object.value(QStringLiteral("value"));
        const QVariant handle = fromJson(answered);
        const QJsonValue reason = object.value(QStringLiteral("reason"));
        if (!callId.isString() || result.userType() != QMetaType::Int
            || (!answered.isUndefined() && handle.userType() != QMetaType::Int)
            || !(reason.isUndefined() || reason.isString()))
            return false;
        answers->append({ callId.toString(), qint32(result.toInt()), handle, reason.toString() });
    }
    return true;
}

// Empty reason when the document holds a table. Every value must have its type: a connection
// skipped for a wrong one would be lost at the next save.
QString parse(const QByteArray &bytes, QList<ConnectionTable::Entry> *entries,
    ConnectionHandle *lastHandle, QList<AnsweredCalls::Answer> *answers)
{
    if (bytes.trimmed().isEmpty())
        return QStringLiteral("the file is empty");
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(bytes, &error).object();
    if (error.error != QJsonParseError::NoError)
        return error.errorString();
    if (root.value(QStringLiteral("version")).toInt() != kFormatVersion)
        return QStringLiteral("unknown format version");
    const QJsonValue connections = root.value(QStringLiteral("connections"));
    if (!toHandle(root.value(QStringLiteral("lastHandle")), lastHandle) || !connections.isArray())
        return QStringLiteral("no last handle or no list of connections");
    for (const QJsonValue &value : connections.toArray()) {
        ConnectionTable::Entry entry;
        if (!fromJson(value, &entry))
            return QStringLiteral("a connection without handle, start flag or parameters");
        entries->append(entry);
    }
    if (!fromJson(root.value(QStringLiteral("answers")), answers))
        return QStringLiteral("answers that are not a list of call ids, results and values");
    return QString();
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            return false;
        }
        data += written;
        left -= size_t(written);
    }
    return true;
}

// The rename is done by now; the folder is synced so that it outlives a crash as well. A
// folder that cannot be synced leaves that to the system.
void syncFolderOf(const QString &path)
{
    const int fd = ::open(
        QFile::encodeName(QFileInfo(path).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes the bytes beside the file, and only once every one of them is written and on the disk,
// renames them over it; otherwise the file stays as it was. Empty on success, else why not.
QString replaceFile(const QString &path, const QByteArray &bytes)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray fresh = target + ".new";
    const int fd
        = ::open(fresh.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool written = fd >= 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (fd >= 0 && ::close(fd) != 0)
        written = false;
    if (!written || ::rename(fresh.constData(), target.constData()) != 0) {
        const QString why
            = QStringLiteral("cannot %1 %2: %3")
                  .arg(written ? QStringLiteral("replace") : QStringLiteral("write"),
                      QFile::decodeName(written ? target : fresh), qt_error_string(errno));
        ::unlink(fresh.constData());
        return why;
    }
    syncFolderOf(path);
    return QString();
}

QByteArray document(const ConnectionTable &table)
{
    QJsonArray connections;
    for (const ConnectionTable::Entry &entry : table.entries())
        connections.append(toJson(entry));
    QJsonArray answers;
    for (const AnsweredCalls::Answer &answer : table.answers())
        answers.append(toJson(answer));
    const QJsonObject root {
        { QStringLiteral("version"), kFormatVersion },
        { QStringLiteral("lastHandle"), table.lastHandle() },
        { QStringLiteral("connections"), connections },
        { QStringLiteral("answers"), answers },
    };
    return QJsonDocument(root).toJson();
}

} // namespace

StateStore::StateStore(const QString &path)
    : filePath(path)
{
}

QString StateStore::defaultPath()
{
    return ServicePaths::stateDirectory() + QStringLiteral("/connections.json");
}

void StateStore::load(ConnectionTable &table)
{
    QFile file(filePath);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        // Unreadable is not corrupt: leave it where it is for the user to look at.
        qWarning().noquote() << filePath
                             << ": cannot read the saved connections:" << file.errorString();
        keepFile();
        return;
    }
    QList<ConnectionTable::Entry> entries;
    ConnectionHandle lastHandle = 0;
    QList<AnsweredCalls::Answer> answers;
    // Never more than the limit in memory, whatever the file holds.
    const QByteArray bytes = file.read(ServiceLimits::kMaxStateFileBytes + 1);
    file.close();
    QString reason = bytes.size() > ServiceLimits::kMaxStateFileBytes
        ? QStringLiteral("larger than %1 MiB").arg(ServiceLimits::kMaxStateFileBytes >> 20)
        : parse(bytes, &entries, &lastHandle, &answers);
    if (reason.isEmpty())
        table.restore(entries, lastHandle, answers, &reason);
    if (!reason.isEmpty() && !moveAside(reason))
        keepFile();
    else if (reason.isEmpty())
        qInfo().noquote() << "restored" << entries.size() << "connections from" << filePath;
}

bool StateStore::save(const ConnectionTable &table, QString *error) const
{
    const QString why = blocked.isEmpty() ? replaceFile(filePath, document(table)) : blocked;
    if (error)
        *error = why;
    return why.isEmpty();
}

bool StateStore::moveAside(const QString &reason) const
{
    const QString stem = filePath + QStringLiteral(".corrupt-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = stem;
    for (int n = 1; QFile::exists(aside); ++n)
        aside = stem + QStringLiteral("-%1").arg(n);
    // rename() refuses an existing target, so no earlier copy is ever overwritten.
    if (!QFile::rename(filePath, aside)) {
        qWarning().noquote() << filePath << ":" << reason << "- could not move it aside";
        return false;
    }
    qWarning().noquote() << filePath << ":" << reason << "- kept as" << aside
                         << "and starting with no connections";
    return true;
}

void StateStore::keepFile()
{
    blocked = QStringLiteral("%1 could be neither read nor moved aside; changes are not saved "
                             "until the service starts again")
                  .arg(filePath);
    qWarning().noquote() << blocked;
}
