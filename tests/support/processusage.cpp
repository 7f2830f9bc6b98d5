#include "processusage.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <ctime>

namespace {

// A line "<field>: <n> kB" of /proc/<pid>/status.
long statusKiB(qint64 pid, const char *field)
{
    FILE *file = fopen(QStringLiteral("/proc/%1/status").arg(pid).toLocal8Bit().constData(), "r");
    const QByteArray format = QByteArray(field) + ": %ld";
    char line[256];
    long kib = -1;
    while (file && fgets(line, sizeof line, file))
        if (sscanf(line, format.constData(), &kib) == 1)
            break;
    if (file)
        fclose(file);
    return kib;
}

} // namespace

namespace ProcessUsage {

// The kernel's CPU clock of the process, all threads, in nanoseconds: /proc/<pid>/stat counts
// whole clock ticks, too coarse to add up over 65 processes.
double cpuSeconds(qint64 pid)
{
    clockid_t clock;
    timespec spent {};
    if (clock_getcpuclockid(pid_t(pid), &clock) != 0 || clock_gettime(clock, &spent) != 0)
        return 0;
    return double(spent.tv_sec) + double(spent.tv_nsec) / 1e9;
}

long residentKiB(qint64 pid)
{
    return statusKiB(pid, "VmRSS");
}

long peakResidentKiB(qint64 pid)
{
    return statusKiB(pid, "VmHWM");
}

} // namespace ProcessUsage
