#pragma once

#include <QString>

// The words the connection service and its callers share: the keys of a connection's
// parameters and status (sec_SetParam, sec_GetParam), the values of its port state, and the
// keys of what the service says of itself (serviceStatus()).
namespace ServiceKeys {

// Parameters, written by the caller and kept by the service.
inline const QString kName = QStringLiteral("name"); // the connection name of the engine
inline const QString kPortName = QStringLiteral("port.name"); // the COM name
inline const QString kPortType = QStringLiteral("port.type");
inline const QString kNetworkHost = QStringLiteral("network.host"); // [[host, port], ...]
inline const QString kProtocolType = QStringLiteral("protocol.type"); // kProtocolRaw or ...Rfc2217
inline const QString kSendMode = QStringLiteral("port.sendmode.mode");
inline const QString kSendModeParam = QStringLiteral("port.sendmode.param");
inline const QString kOpenCondition = QStringLiteral("protocol.portopencondition.enable");
// Data bits 5 to 8 and parity ("none", "odd", "even", "mark", "space") of the device's line,
// which a pseudo-terminal cannot carry from the program: 8 and "none" when not written.
inline const QString kDataBits = QStringLiteral("serial.databits");
inline const QString kParity = QStringLiteral("serial.parity");

inline const QString kProtocolRaw = QStringLiteral("RAW");
inline const QString kProtocolRfc2217 = QStringLiteral("RFC2217");

// Status, read only: a PortState, and [[host, port, "1" or "0"], ...] ("1": connected). Times
// and counters are integers that may pass the range of int.
inline const QString kPortState = QStringLiteral("status.port.state");
inline const QString kRemoteHost = QStringLiteral("status.remotehost");
// A working port's serial line, a map of:
inline const QString kLineStatus = QStringLiteral("status.line");
// - RFC 2217 only: kSupportOffline, kSupportNegotiating, kSupportYes or kSupportNo;
inline const QString kLineSupport = QStringLiteral("support");
// - maps of "baud", "data", "parity", "stop", "flow" and their "text": what the port asks of
//   the line, and (RFC 2217 only) what the device answered it applied (only the fields it
//   answered). A RAW port's request has only "data" and "parity", as programs set them;
inline const QString kLineRequested = QStringLiteral("requested");
inline const QString kLineApplied = QStringLiteral("applied");
// - a map of "dtr", "rts" as the port set them and "cts", "dsr", "cd", "ri" as the device last
//   reported them (on RFC 2217 absent until it does; on RAW CTS, DSR and CD on), each 0 or 1.
inline const QString kLineModem = QStringLiteral("modem");
inline const QString kSupportOffline = QStringLiteral("not connected");
inline const QString kSupportNegotiating = QStringLiteral("negotiating");
inline const QString kSupportYes = QStringLiteral("supported");
inline const QString kSupportNo = QStringLiteral("settings not supported");

// Why a port is in its state, a map: empty while it is fine, else
inline const QString kReason = QStringLiteral("status.reason");
// - kReasonCode: one of the kTrouble values below;
inline const QString kReasonCode = QStringLiteral("code");
// - kReasonText: the service's own words, as its log has them;
inline const QString kReasonText = QStringLiteral("text");
// - kReasonSince: when that trouble began, and kReasonRetry: when the next try is due (absent
//   while none is waiting), in ms since the epoch.
inline const QString kReasonSince = QStringLiteral("since");
inline const QString kReasonRetry = QStringLiteral("retry");
inline const QString kTroublePort = QStringLiteral("port"); // the port could not be made
inline const QString kTroubleRefused = QStringLiteral("refused");
inline const QString kTroubleUnreachable = QStringLiteral("unreachable");
inline const QString kTroubleSilent = QStringLiteral("silent"); // no answer, or no more
inline const QString kTroubleClosed = QStringLiteral("closed"); // the device ended the connection
inline const QString kTroubleFailed = QStringLiteral("failed"); // anything else; the text says

// What a port has carried since it was made, a map of integers. Listings bring them fresh at
// most about once a second while they tick; the other status keys at once.
inline const QString kCounters = QStringLiteral("status.counters");
inline const QString kCountToDevice = QStringLiteral("toDevice"); // bytes the device took
inline const QString kCountFromDevice = QStringLiteral("fromDevice"); // bytes it sent
// Connections made again after the device had been away.
inline const QString kCountReconnects = QStringLiteral("reconnects");
// Bytes programs wrote beyond what is held while the device is away.
inline const QString kCountDropped = QStringLiteral("dropped");
inline const QString kCountLastConnect = QStringLiteral("lastConnect"); // ms since epoch; 0: never

// The service's own status (serviceStatus()).
inline const QString kPortDirectory = QStringLiteral("portDirectory"); // where the links are
// Why changes are not being saved; empty or missing while they are.
inline const QString kSaveError = QStringLiteral("saveError");

} // namespace ServiceKeys

// The values of "status.port.state".
enum class PortState {
    Error = 0, // started, but the port could not be made
    Closed = 1, // working, no program has it open
    Open = 2, // working, a program has it open
    NotStarted = 3, // created and perhaps configured, never started: shown as closed
};
