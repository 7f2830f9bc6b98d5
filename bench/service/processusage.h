#pragma once

#include <QtGlobal>

// What another process has used so far, read from /proc.
namespace ProcessUsage {

// CPU seconds, user and system together.
double cpuSeconds(qint64 pid);
// Resident memory in KiB; -1 when the process cannot be read.
long residentKiB(qint64 pid);

} // namespace ProcessUsage
