#include "processusage.h"

#include <QString>

#include <cstdio>
#include <unistd.h>

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
    FILE *file = fopen(QStringLiteral("/proc/%1/status").arg(pid).toLocal8Bit().constData(), "r");
    char line[256];
    long kib = -1;
    while (file && fgets(line, sizeof line, file))
        if (sscanf(line, "VmRSS: %ld", &kib) == 1)
            break;
    if (file)
        fclose(file);
    return kib;
}

} // namespace ProcessUsage
