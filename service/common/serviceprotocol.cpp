#include "serviceprotocol.h"

#include <QtEndian>

#include <limits>

namespace {

enum Tag : quint8 { Invalid, Integer, Text, List, Map };

// Nesting deeper than the host lists and snapshots need is refused.
constexpr int kMaxDepth = 4;

class Writer
{
public:
    void u8(quint8 value) { bytes.append(char(value)); }
    void u32(quint32 value)
    {
        char raw[4];
        qToBigEndian(value, raw);
        bytes.append(raw, 4);
    }
    void text(const QString &value)
    {
        const QByteArray utf8 = value.toUtf8();
        u32(quint32(utf8.size()));
        bytes.append(utf8);
    }
    void value(const QVariant &v)
    {
        switch (v.userType()) {
        case QMetaType::Int:
            u8(Integer);
            u32(quint32(v.toInt()));
            break;
        case QMetaType::QString:
            u8(Text);
            text(v.toString());
            break;
        case QMetaType::QVariantList: {
            const QVariantList items = v.toList();
            u8(List);
            u32(quint32(items.size()));
            for (const QVariant &item : items)
                value(item);
            break;
        }
        case QMetaType::QVariantMap: {
            const QVariantMap items = v.toMap();
            u8(Map);
            u32(quint32(items.size()));
            for (auto it = items.cbegin(); it != items.cend(); ++it) {
                text(it.key());
                value(it.value());
            }
            break;
        }
        default:
            u8(Invalid);
        }
    }
    QByteArray frame() const
    {
        char header[ServiceProtocol::kHeaderSize];
        qToBigEndian(quint32(bytes.size()), header);
        return QByteArray(header, ServiceProtocol::kHeaderSize) + bytes;
    }

private:
    QByteArray bytes;
};

class Reader
{
public:
    Reader(const QByteArray &bytes, int valueBudget)
        : bytes(bytes)
        , budget(valueBudget)
    {
    }

    bool atEnd() const { return position == bytes.size(); }
    bool u8(quint8 *value)
    {
        if (remaining() < 1)
            return false;
        *value = quint8(bytes.at(position++));
        return true;
    }
    bool u32(quint32 *value)
    {
        if (remaining() < 4)
            return false;
        *value = qFromBigEndian<quint32>(bytes.constData() + position);
        position += 4;
        return true;
    }
    bool text(QString *value)
    {
        quint32 size;
        if (!u32(&size) || size > quint32(remaining()))
            return false;
        *value = QString::fromUtf8(bytes.constData() + position, int(size));
        position += int(size);
        return true;
    }
    bool value(QVariant *v, int depth = 0)
    {
        quint8 tag;
        if (depth > kMaxDepth || --budget < 0 || !u8(&tag))
            return false;
        switch (tag) {
        case Invalid:
            *v = QVariant();
            return true;
        case Integer: {
            quint32 raw;
            if (!u32(&raw))
                return false;
            *v = int(qint32(raw));
            return true;
        }
        case Text: {
            QString s;
            if (!text(&s))
                return false;
            *v = s;
            return true;
        }
        case List:
            return list(v, depth);
        case Map:
            return map(v, depth);
        }
        return false;
    }

private:
    int remaining() const { return bytes.size() - position; }
    // Every element takes at least one byte, which bounds a claimed count by the frame.
    bool count(quint32 *n, int bytesPerItem)
    {
        return u32(n) && *n <= quint32(remaining() / bytesPerItem);
    }
    bool list(QVariant *v, int depth)
    {
        quint32 n;
        if (!count(&n, 1))
            return false;
        QVariantList items;
        items.reserve(int(n));
        for (quint32 i = 0; i < n; ++i) {
            QVariant item;
            if (!value(&item, depth + 1))
                return false;
            items.append(item);
        }
        *v = items;
        return true;
    }
    bool map(QVariant *v, int depth)
    {
        quint32 n;
        if (!count(&n, 5))
            return false;
        QVariantMap items;
        for (quint32 i = 0; i < n; ++i) {
            QString key;
            QVariant item;
            if (!text(&key) || !value(&item, depth + 1))
                return false;
            items.insert(key, item);
        }
        *v = items;
        return true;
    }

    const QByteArray &bytes;
    int budget;
    int position = 0;
};

} // namespace

namespace ServiceProtocol {

QByteArray encodeRequest(const Request &request)
{
    Writer writer;
    writer.u8(quint8(request.call));
    writer.u32(quint32(request.handle));
    writer.value(request.first);
    writer.value(request.second);
    return writer.frame();
}

QByteArray encodeReply(const Reply &reply)
{
    Writer writer;
    writer.u32(quint32(reply.result));
    writer.value(reply.value);
    writer.value(reply.snapshot);
    writer.u32(reply.stamp.revision);
    writer.u32(reply.stamp.status);
    writer.value(reply.serviceStatus);
    return writer.frame();
}

bool decodeRequest(const QByteArray &payload, Request *request)
{
    Reader reader(payload, kMaxRequestValues);
    quint8 call;
    quint32 handle;
    if (!reader.u8(&call) || call > ConnectionService::ApplyConnection || !reader.u32(&handle)
        || !reader.value(&request->first) || !reader.value(&request->second))
        return false;
    request->call = ConnectionService::Call(call);
    request->handle = ConnectionHandle(handle);
    return reader.atEnd();
}

bool decodeReply(const QByteArray &payload, Reply *reply)
{
    Reader reader(payload, std::numeric_limits<int>::max());
    quint32 result;
    QVariant snapshot;
    QVariant serviceStatus;
    if (!reader.u32(&result) || !reader.value(&reply->value) || !reader.value(&snapshot)
        || snapshot.userType() != QMetaType::QVariantList || !reader.u32(&reply->stamp.revision)
        || !reader.u32(&reply->stamp.status) || !reader.value(&serviceStatus)
        || serviceStatus.userType() != QMetaType::QVariantMap)
        return false;
    reply->result = qint32(result);
    reply->snapshot = snapshot.toList();
    reply->serviceStatus = serviceStatus.toMap();
    return reader.atEnd();
}

} // namespace ServiceProtocol
