#include "searchprotocol.h"

#include "ipv4address.h"

#include <QNetworkAddressEntry>
#include <QRegularExpression>
#include <QStringList>

namespace SearchProtocol {

namespace {

    // Field offsets of the three replies.
    constexpr int vcomPortCountAt = 0;
    constexpr int vcomTypeAt = 40;
    constexpr int vcomMacAt = 80;
    constexpr int vcomIpAt = 92;
    constexpr int ack1MacAt = 18;
    constexpr int ack2MacTailAt = 12;
    constexpr int ack2PortCountAt = 27;
    constexpr int ack2TypeAt = 28;
    constexpr int ack2TypeSize = 16;
    constexpr int ack2IpAt = 74;

    QByteArray probe(char first)
    {
        return QByteArray("\x00\x00\x06\x00\x00", 5).prepend(first);
    }

    // The text from offset up to the first NUL within limit bytes, or up to the limit.
    QString textField(const QByteArray &datagram, int offset, int limit)
    {
        const int end = qMin(datagram.size(), offset + limit);
        if (offset >= end)
            return QString();
        const int nul = datagram.indexOf('\0', offset);
        const int stop = (nul < 0 || nul > end) ? end : nul;
        return sanitized(QString::fromUtf8(datagram.constData() + offset, stop - offset));
    }

    QString ipField(const QString &text, const QString &senderAddress)
    {
        return Ipv4Address::isCanonical(text) ? text : senderAddress;
    }

    QString ipText(const QByteArray &datagram, int offset)
    {
        QStringList octets;
        for (int i = 0; i < 4; ++i)
            octets << QString::number(quint8(datagram.at(offset + i)));
        return octets.join(QLatin1Char('.'));
    }

    // Writes text (UTF-8, cut to room bytes) at offset; the bytes after it stay zero.
    void putText(QByteArray &datagram, int offset, const QString &text, int room)
    {
        const QByteArray bytes = text.toUtf8().left(room);
        datagram.replace(offset, bytes.size(), bytes);
    }

    void putMac(QByteArray &datagram, int offset, const QByteArray &mac)
    {
        datagram.replace(offset, macSize, mac.leftJustified(macSize, '\0', true));
    }

    void putIp(QByteArray &datagram, int offset, const QString &ip)
    {
        const QStringList octets = ip.split(QLatin1Char('.'));
        for (int i = 0; i < 4 && i < octets.size(); ++i)
            datagram[offset + i] = char(octets.at(i).toUInt());
    }

    SearchReply decodeVcomAck(const QByteArray &datagram, const QString &senderAddress)
    {
        SearchReply reply;
        reply.kind = ReplyKind::VcomAck;
        reply.portCount = textField(datagram, vcomPortCountAt, vcomAckSize);
        reply.devType = textField(datagram, vcomTypeAt, vcomAckSize);
        reply.mac = macText(datagram.mid(vcomMacAt, macSize));
        reply.ip = ipField(textField(datagram, vcomIpAt, vcomAckSize), senderAddress);
        return reply;
    }

    SearchReply decodeMcpAck1(const QByteArray &datagram, const QString &senderAddress)
    {
        SearchReply reply;
        reply.kind = ReplyKind::McpAck1;
        reply.mac = macText(datagram.mid(ack1MacAt, macSize));
        reply.ip = ipField(senderAddress, QString());
        return reply;
    }

    SearchReply decodeMcpAck2(const QByteArray &datagram)
    {
        SearchReply reply;
        reply.kind = ReplyKind::McpAck2;
        reply.macTail = datagram.mid(ack2MacTailAt, 2).toHex(':');
        reply.portCount = QString::number(quint8(datagram.at(ack2PortCountAt)));
        reply.devType = textField(datagram, ack2TypeAt, ack2TypeSize).trimmed();
        reply.ip = ipText(datagram, ack2IpAt);
        return reply;
    }

} // namespace

bool isUsable(const QNetworkAddressEntry &entry)
{
    return !entry.broadcast().isNull() && entry.ip() != QHostAddress(QHostAddress::LocalHost)
        && entry.ip().protocol() == QAbstractSocket::IPv4Protocol;
}

QList<SearchDatagram> searchDatagrams(const QString &localAddress)
{
    return { { textRequest(localAddress), requestPort }, { probeA(), probePort },
        { probeB(), probePort } };
}

QByteArray textRequest(const QString &localAddress)
{
    return QByteArrayLiteral("0xICBC;0;") + localAddress.toLocal8Bit()
        + QByteArrayLiteral("\n;6605;255.255.255.255;42356;_ICPL_");
}

QByteArray probeA()
{
    return probe('\x49');
}

QByteArray probeB()
{
    return probe('\x01');
}

ReplyKind replyKind(int datagramSize)
{
    switch (datagramSize) {
    case vcomAckSize:
        return ReplyKind::VcomAck;
    case mcpAck1Size:
        return ReplyKind::McpAck1;
    case mcpAck2Size:
        return ReplyKind::McpAck2;
    default:
        return ReplyKind::Unknown;
    }
}

const char *replyKindName(ReplyKind kind)
{
    switch (kind) {
    case ReplyKind::VcomAck:
        return "Search_VCOM_ACK";
    case ReplyKind::McpAck1:
        return "Search_MCP_ACK1";
    case ReplyKind::McpAck2:
        return "Search_MCP_ACK2";
    case ReplyKind::Unknown:
        break;
    }
    return "";
}

SearchReply decodeReply(const QByteArray &datagram, const QString &senderAddress)
{
    switch (replyKind(datagram.size())) {
    case ReplyKind::VcomAck:
        return decodeVcomAck(datagram, senderAddress);
    case ReplyKind::McpAck1:
        return decodeMcpAck1(datagram, senderAddress);
    case ReplyKind::McpAck2:
        return decodeMcpAck2(datagram);
    case ReplyKind::Unknown:
        break;
    }
    return SearchReply();
}

bool isOffered(const SearchReply &reply)
{
    return reply.kind != ReplyKind::Unknown && Ipv4Address::isDeviceAddress(reply.ip);
}

QString macText(const QByteArray &mac)
{
    return QString::fromLatin1(mac.toHex(':').toUpper());
}

QByteArray macBytes(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$"));
    if (!pattern.match(text).hasMatch())
        return QByteArray();
    return QByteArray::fromHex(text.toLatin1());
}

QString sanitized(const QString &text)
{
    QString clean;
    clean.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control && c != QLatin1Char('@'))
            clean.append(c);
    }
    return clean;
}

QByteArray vcomAck(
    const QString &portCount, const QString &devType, const QByteArray &mac, const QString &ip)
{
    QByteArray datagram(vcomAckSize, '\0');
    putText(datagram, vcomPortCountAt, portCount, vcomTypeAt - vcomPortCountAt - 1);
    putText(datagram, vcomTypeAt, devType, vcomMacAt - vcomTypeAt - 1);
    putMac(datagram, vcomMacAt, mac);
    putText(datagram, vcomIpAt, ip, vcomAckSize - vcomIpAt - 1);
    return datagram;
}

QByteArray mcpAck1(const QByteArray &mac)
{
    QByteArray datagram(mcpAck1Size, '\0');
    putMac(datagram, ack1MacAt, mac);
    return datagram;
}

QByteArray mcpAck2(const QByteArray &mac, int portCount, const QString &devType, const QString &ip)
{
    QByteArray datagram(mcpAck2Size, '\0');
    datagram.replace(ack2MacTailAt, 2, mac.leftJustified(macSize, '\0', true).right(2));
    datagram[ack2PortCountAt] = char(quint8(portCount));
    putText(datagram, ack2TypeAt, devType, ack2TypeSize);
    putIp(datagram, ack2IpAt, ip);
    return datagram;
}

} // namespace SearchProtocol
