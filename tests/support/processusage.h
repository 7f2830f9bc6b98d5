#pragma once

#include <QtGlobal>

// What another process has used so far, read from /proc.
namespace ProcessUsage {

// CPU seconds, user and system together.
double cpuSeconds(qint64 pid);
// Resident memory in KiB; -1 when the process cannot be read.
long residentKiB(qint64 pid);
// The most resident memory it has had so far, in KiB; -1 when it cannot be read.
long peakResidentKiB(qint64 pid);

} // namespace ProcessUsage
