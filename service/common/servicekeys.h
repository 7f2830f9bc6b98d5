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
inline const QString kProtocolType = QStringLiteral("protocol.type");
inline const QString kSendMode = QStringLiteral("port.sendmode.mode");
inline const QString kSendModeParam = QStringLiteral("port.sendmode.param");
inline const QString kOpenCondition = QStringLiteral("protocol.portopencondition.enable");

// Status, read only: a PortState, and [[host, port, "1" or "0"], ...] ("1": connected).
inline const QString kPortState = QStringLiteral("status.port.state");
inline const QString kRemoteHost = QStringLiteral("status.remotehost");

// The service's own status (serviceStatus()).
inline const QString kPortDirectory = QStringLiteral("portDirectory"); // where the links are

} // namespace ServiceKeys

// The values of "status.port.state".
enum class PortState {
    Error = 0, // started, but the port could not be made
    Closed = 1, // working, no program has it open
    Open = 2, // working, a program has it open
    NotStarted = 3, // created and perhaps configured, never started: shown as closed
};
