#pragma once

#include <QtGlobal>

// How much the connection service keeps. The calls refuse what would pass a limit, and a saved
// table beyond them is not loaded, so a listing of everything always fits well inside a reply
// (ServiceProtocol::kMaxPayload) and the service's memory stays small.
namespace ServiceLimits {

// Characters of any text value: names, COM names, types, hosts and their ports.
constexpr int kMaxTextLength = 256;
// Entries of a host list.
constexpr int kMaxHosts = 16;
// Twice the COM names a user can have: room enough for every port and a few being made.
constexpr int kMaxConnections = 512;
// The parameters of all connections together, by their texts' UTF-8 bytes plus 8 per value
// and key. A listing carries them and the remote hosts again, so it stays near 1 MiB at most.
constexpr int kMaxParameterBytes = 512 * 1024;
// The saved table; one written at every limit above takes less than half of this.
constexpr qint64 kMaxStateFileBytes = 8 * 1024 * 1024;

// Programs served at once: the window, tirvctl and scripts of one user.
constexpr int kMaxClients = 64;
// Replies written but not yet taken by their programs, all together. A program holding more
// than its share (a kMaxClients-th) when they pass this is disconnected.
constexpr qint64 kMaxUnsentBytes = 16 * 1024 * 1024;

} // namespace ServiceLimits
