#include "processusage.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <unistd.h>

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

// Fields 14 and 15 of /proc/<pid>/stat: user and system time in clock ticks.
double cpuSeconds(qint64 pid)
{
    FILE *file = fopen(QStringLiteral("/proc/%1/stat").arg(pid).toLocal8Bit().constData(), "r");
    unsigned long user = 0, system = 0;
    if (file) {
        if (fscanf(
                file, "%*d %*s %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system)
            != 2)
            user = system = 0;
        fclose(file);
    }
    return double(user + system) / double(sysconf(_SC_CLK_TCK));
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
