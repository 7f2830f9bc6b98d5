#pragma once

#include "connectionservice.h"

#include <QByteArray>
#include <QVariant>

// What a lister holds: the revision of the stored state and the stamp of the status it last
// read (zeros: nothing).
struct ListingStamp
{
    quint32 revision = 0;
    quint32 status = 0;
    bool operator==(const ListingStamp &other) const
    {
        return revision == other.revision && status == other.status;
    }
    bool operator!=(const ListingStamp &other) const { return !(*this == other); }
};

// The frames between the sec_* calls and the service: a 4-byte big-endian payload length, then
// the payload in CBOR (RFC 8949), one array of the request's or reply's fields. Values are
// integers (of 64 bits; int when they fit one), text, null, and arrays and maps of them; every
// length inside a payload is checked against the bytes that are really there, so a hostile frame
// cannot make either side allocate more than the frame itself.
namespace ServiceProtocol {

// The version of these frames; raised with every change a service or caller of another build
// would not understand. The running service publishes it in its lock, under its pid.
constexpr int kVersion = 5;

// What the service lock holds: the service's pid, then "protocol <kVersion>".
QByteArray lockRecord(qint64 pid);
// The pid a lock record names; 0 when it names none.
qint64 pidInLock(const QByteArray &record);
// The version a lock record publishes; 0 for a service older than the publication.
int versionInLock(const QByteArray &record);

// Payloads above these are refused from the length word alone, before anything is allocated.
// A request carries at most a host list; a reply may carry a listing of every connection.
constexpr quint32 kMaxPayload = 4 * 1024 * 1024;
constexpr quint32 kMaxRequestPayload = 64 * 1024;
// Values a request may hold, so that a frame of tiny items cannot cost the service much.
constexpr int kMaxRequestValues = 4096;
constexpr int kHeaderSize = 4;
// Characters of a call's id.
constexpr int kMaxCallIdLength = 64;

struct Request
{
    ConnectionService::Call call = ConnectionService::ConnectService;
    ConnectionHandle handle = -1;
    // The call's arguments: machine, kind, key and value, or the revision and status stamp
    // the lister already holds.
    QVariant first;
    QVariant second;
    // A change's own id, the same when it is sent again; empty for the other calls.
    QString callId {};
};

struct Reply
{
    qint32 result = 0;
    // The read value, the created handle, or the listed handles.
    QVariant value;
    // With a list: the readable keys of each listed connection, in the same order, and what
    // they show. Only the status keys when the lister already holds that revision; none when
    // it holds that status too.
    QVariantList snapshot;
    ListingStamp stamp;
    // With a list that brings a snapshot: what the service says of itself.
    QVariantMap serviceStatus;
    // With a failed call: why (ConnectionService::failureReason()).
    QString reason;
};

// Whole frames, header included.
QByteArray encodeRequest(const Request &request);
QByteArray encodeReply(const Reply &reply);

// Payloads without the header; false for anything malformed or with bytes left over.
bool decodeRequest(const QByteArray &payload, Request *request);
bool decodeReply(const QByteArray &payload, Reply *reply);

} // namespace ServiceProtocol
