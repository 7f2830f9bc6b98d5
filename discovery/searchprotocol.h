#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QNetworkAddressEntry;

// The wire format of the device search: the request and the two probes the PC broadcasts, and
// the three replies a device may send, told apart by their length alone. Pure functions, so
// that the search dialog, the command-line tool, the simulator and the tests share one layout.
namespace SearchProtocol {

constexpr quint16 requestPort = 42356;
constexpr quint16 probePort = 1029;
// A search sends its datagrams at once and again every 5 s while it runs.
constexpr int searchIntervalMs = 5000;

constexpr int probeSize = 6;
constexpr int vcomAckSize = 144;
constexpr int mcpAck1Size = 24;
constexpr int mcpAck2Size = 86;
constexpr int macSize = 6;

enum class ReplyKind { Unknown, VcomAck, McpAck1, McpAck2 };

// One decoded reply. Every text is safe to show and to put into a connection name.
struct SearchReply
{
    ReplyKind kind = ReplyKind::Unknown;
    QString devType;
    QString portCount;
    QString mac; // "00:1A:2B:3C:4D:5E"; empty for McpAck2
    QString macTail; // "4d:5e"; McpAck2 only
    QString ip; // dotted IPv4; for McpAck1 the sender
};

// One datagram of the search and the UDP port it is broadcast to.
struct SearchDatagram
{
    QByteArray data;
    quint16 port;
};

// Whether the search runs from this address: IPv4, not 127.0.0.1, with a broadcast address.
bool isUsable(const QNetworkAddressEntry &entry);
// One search cycle from one local address, in sending order: the text request and the probes.
QList<SearchDatagram> searchDatagrams(const QString &localAddress);

// "0xICBC;0;<localAddress>\n;6605;255.255.255.255;42356;_ICPL_", to UDP requestPort.
QByteArray textRequest(const QString &localAddress);
// The two 6-byte probes, to UDP probePort.
QByteArray probeA();
QByteArray probeB();

ReplyKind replyKind(int datagramSize);
const char *replyKindName(ReplyKind kind);

// Decodes a datagram of one of the three reply lengths; any other length gives ReplyKind::Unknown.
// Never reads outside datagram. senderAddress stands in for an IP text that is not a canonical
// dotted IPv4 address.
SearchReply decodeReply(const QByteArray &datagram, const QString &senderAddress);
// Whether a decoded reply may make or complete a row of the search: one whose address no
// device can have (a broadcast or multicast address, 0.0.0.0) is not offered.
bool isOffered(const SearchReply &reply);

// Six bytes as upper-case hexadecimal pairs joined by ":".
QString macText(const QByteArray &mac);
// Inverse of macText, accepting either case; empty when text is not a MAC text.
QByteArray macBytes(const QString &text);
// text without control characters and without "@", which separates connection-name fields.
QString sanitized(const QString &text);

// Encoders, the inverse of decodeReply, for the simulator and the tests. Texts longer than their
// field are cut so that the layout holds.
QByteArray vcomAck(
    const QString &portCount, const QString &devType, const QByteArray &mac, const QString &ip);
QByteArray mcpAck1(const QByteArray &mac);
QByteArray mcpAck2(const QByteArray &mac, int portCount, const QString &devType, const QString &ip);

} // namespace SearchProtocol
