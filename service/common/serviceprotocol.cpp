#include "serviceprotocol.h"

#include <QBuffer>
#include <QCborStreamReader>
#include <QCborStreamWriter>
#include <QVarLengthArray>
#include <QtEndian>

#include <functional>
#include <limits>

namespace {

// Nesting deeper than the host lists and snapshots need is refused.
constexpr int kMaxDepth = 4;
constexpr int kRequestFields = 5;
constexpr int kReplyFields = 7;

void writeValue(QCborStreamWriter &writer, const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        writer.append(value.toLongLong());
        break;
    case QMetaType::QString:
        writer.append(value.toString());
        break;
    case QMetaType::QVariantList: {
        const QVariantList items = value.toList();
        writer.startArray(quint64(items.size()));
        for (const QVariant &item : items)
            writeValue(writer, item);
        writer.endArray();
        break;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap items = value.toMap();
        writer.startMap(quint64(items.size()));
        for (auto it = items.cbegin(); it != items.cend(); ++it) {
            writer.append(it.key());
            writeValue(writer, it.value());
        }
        writer.endMap();
        break;
    }
    default:
        writer.appendNull();
    }
}

// Null, or a short text.
bool isCallId(const QVariant &value)
{
    return value.isNull()
        || (value.userType() == QMetaType::QString
            && value.toString().size() <= ServiceProtocol::kMaxCallIdLength);
}

// The payload is written behind room for the header, which is filled in once its size is known.
QByteArray frame(const std::function<void(QCborStreamWriter &)> &writePayload)
{
    QByteArray bytes(ServiceProtocol::kHeaderSize, '\0');
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        buffer.seek(ServiceProtocol::kHeaderSize);
        QCborStreamWriter writer(&buffer);
        writePayload(writer);
    }
    qToBigEndian(quint32(bytes.size() - ServiceProtocol::kHeaderSize), bytes.data());
    return bytes;
}

// A payload is one array of fields. Only what the writer above makes is read: integers, text,
// null, and arrays and maps of known length; every length is checked against the bytes left
// before anything is made of it, so a hostile payload costs no more memory than its own size.
class Decoder
{
public:
    Decoder(const QByteArray &payload, int valueBudget)
        : reader(payload)
        , size(payload.size())
        , budget(valueBudget)
    {
    }

    bool enterFields(int count)
    {
        return reader.isArray() && reader.isLengthKnown() && reader.length() == quint64(count)
            && reader.enterContainer();
    }
    // Broken data or bytes left over refuse the whole payload.
    bool leaveFields()
    {
        return !reader.hasNext() && reader.leaveContainer()
            && reader.lastError() == QCborError::NoError && reader.currentOffset() == size;
    }

    bool integer(qint64 min, qint64 max, qint64 *n)
    {
        if (reader.isUnsignedInteger() && reader.toUnsignedInteger() <= quint64(max))
            *n = qint64(reader.toUnsignedInteger());
        else if (reader.isNegativeInteger() && min < 0
            && quint64(reader.toNegativeInteger()) - 1 <= quint64(-(min + 1)))
            *n = reader.toInteger();
        else
            return false;
        return reader.next();
    }

    bool value(QVariant *v, int depth = 0)
    {
        if (depth > kMaxDepth || --budget < 0)
            return false;
        qint64 n;
        QString s;
        switch (reader.type()) {
        case QCborStreamReader::UnsignedInteger:
        case QCborStreamReader::NegativeInteger:
            if (!integer(
                    std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), &n))
                return false;
            *v = n == int(n) ? QVariant(int(n)) : QVariant(n);
            return true;
        case QCborStreamReader::String:
            if (!text(&s))
                return false;
            *v = s;
            return true;
        case QCborStreamReader::Array:
            return list(v, depth);
        case QCborStreamReader::Map:
            return map(v, depth);
        default:
            *v = QVariant();
            return reader.isNull() && reader.next();
        }
    }

private:
    // Every item takes at least one byte, which bounds a claimed count by the payload.
    bool fits(quint64 bytesPerItem) const
    {
        return reader.isLengthKnown()
            && reader.length() <= quint64(size - reader.currentOffset()) / bytesPerItem;
    }

    // Straight from the payload into the text, without a byte array between.
    bool text(QString *s)
    {
        if (!reader.isString() || !fits(1))
            return false;
        QVarLengthArray<char, 256> utf8(int(reader.length()));
        qsizetype got = 0;
        for (;;) {
            const auto chunk = reader.readStringChunk(utf8.data() + got, utf8.size() - got);
            if (chunk.status == QCborStreamReader::Error || got + chunk.data > utf8.size())
                return false;
            if (chunk.status == QCborStreamReader::EndOfString)
                break;
            got += chunk.data;
        }
        *s = QString::fromUtf8(utf8.constData(), int(got));
        return true;
    }

    bool list(QVariant *v, int depth)
    {
        if (!fits(1))
            return false;
        QVariantList items;
        // A claimed count fits the bytes, but an item held costs many times its byte: room for
        // no more than the values the budget leaves.
        items.reserve(int(qMin(reader.length(), quint64(budget))));
        if (!reader.enterContainer())
            return false;
        while (reader.hasNext()) {
            QVariant item;
            if (!value(&item, depth + 1))
                return false;
            items.append(item);
        }
        *v = items;
        return reader.leaveContainer();
    }

    bool map(QVariant *v, int depth)
    {
        if (!fits(2) || !reader.enterContainer())
            return false;
        QVariantMap items;
        while (reader.hasNext()) {
            QString key;
            QVariant item;
            if (!text(&key) || !value(&item, depth + 1))
                return false;
            items.insert(key, item);
        }
        *v = items;
        return reader.leaveContainer();
    }

    QCborStreamReader reader;
    qint64 size;
    int budget;
};

} // namespace

namespace ServiceProtocol {

QByteArray lockRecord(qint64 pid)
{
    return QByteArray::number(pid) + "\nprotocol " + QByteArray::number(kVersion) + '\n';
}

qint64 pidInLock(const QByteArray &record)
{
    return record.left(record.indexOf('\n')).toLongLong();
}

int versionInLock(const QByteArray &record)
{
    const QList<QByteArray> lines = record.split('\n');
    const QByteArray prefix = "protocol ";
    if (lines.size() < 2 || !lines.at(1).startsWith(prefix))
        return 0;
    bool isNumber = false;
    const int version = lines.at(1).mid(prefix.size()).toInt(&isNumber);
    return isNumber && version > 0 ? version : 0;
}

QByteArray encodeRequest(const Request &request)
{
    return frame([&](QCborStreamWriter &writer) {
        writer.startArray(kRequestFields);
        writer.append(quint64(request.call));
        writer.append(qint64(request.handle));
        writeValue(writer, request.first);
        writeValue(writer, request.second);
        if (request.callId.isEmpty())
            writer.appendNull();
        else
            writer.append(request.callId);
        writer.endArray();
    });
}

QByteArray encodeReply(const Reply &reply)
{
    return frame([&](QCborStreamWriter &writer) {
        writer.startArray(kReplyFields);
        writer.append(qint64(reply.result));
        writeValue(writer, reply.value);
        writeValue(writer, reply.snapshot);
        writer.append(quint64(reply.stamp.revision));
        writer.append(quint64(reply.stamp.status));
        writeValue(writer, reply.serviceStatus);
        writer.append(reply.reason);
        writer.endArray();
    });
}

bool decodeRequest(const QByteArray &payload, Request *request)
{
    Decoder decoder(payload, kMaxRequestValues);
    qint64 call;
    qint64 handle;
    QVariant callId;
    if (!decoder.enterFields(kRequestFields)
        || !decoder.integer(
            ConnectionService::ConnectService, ConnectionService::ApplyConnection, &call)
        || !decoder.integer(
            std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(), &handle)
        || !decoder.value(&request->first) || !decoder.value(&request->second)
        || !decoder.value(&callId) || !isCallId(callId))
        return false;
    request->call = ConnectionService::Call(call);
    request->handle = ConnectionHandle(handle);
    request->callId = callId.toString();
    return decoder.leaveFields();
}

bool decodeReply(const QByteArray &payload, Reply *reply)
{
    Decoder decoder(payload, std::numeric_limits<int>::max());
    constexpr qint64 kStampMax = std::numeric_limits<quint32>::max();
    qint64 result;
    qint64 revision;
    qint64 status;
    QVariant snapshot;
    QVariant serviceStatus;
    QVariant reason;
    if (!decoder.enterFields(kReplyFields)
        || !decoder.integer(
            std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(), &result)
        || !decoder.value(&reply->value) || !decoder.value(&snapshot)
        || snapshot.userType() != QMetaType::QVariantList
        || !decoder.integer(0, kStampMax, &revision) || !decoder.integer(0, kStampMax, &status)
        || !decoder.value(&serviceStatus) || serviceStatus.userType() != QMetaType::QVariantMap
        || !decoder.value(&reason) || reason.userType() != QMetaType::QString
        || !decoder.leaveFields())
        return false;
    reply->result = qint32(result);
    reply->snapshot = snapshot.toList();
    reply->stamp = { quint32(revision), quint32(status) };
    reply->serviceStatus = serviceStatus.toMap();
    reply->reason = reason.toString();
    return true;
}

} // namespace ServiceProtocol
