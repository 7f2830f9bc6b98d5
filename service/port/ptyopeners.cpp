#include "ptyopeners.h"

#include <QFile>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The pty number a master descriptor stands for, as its fdinfo tells; -1 if none.
int masterIndex(int infoDir, const char *descriptor)
{
    const int info = openat(infoDir, descriptor, O_RDONLY | O_CLOEXEC);
    if (info < 0)
        return -1;
    char text[512];
    const ssize_t length = read(info, text, sizeof text - 1);
    close(info);
    text[length > 0 ? length : 0] = '\0';
    const char *field = strstr(text, "tty-index:");
    return field ? atoi(field + strlen("tty-index:")) : -1;
}

// Reads each descriptor link instead of following it: a look must never wait on the file.
bool holds(DIR *fds, int infoDir, const QByteArray &slave, int index)
{
    char target[64];
    while (const dirent *entry = readdir(fds)) {
        const ssize_t length = readlinkat(dirfd(fds), entry->d_name, target, sizeof target);
        const QByteArray link(target, length > 0 ? int(length) : 0);
        if (link == slave
            || (index >= 0 && link.endsWith("/ptmx")
                && masterIndex(infoDir, entry->d_name) == index))
            return true;
    }
    return false;
}

} // namespace

bool processHoldsTerminal(pid_t pid, const QString &devicePath)
{
    const QByteArray process = "/proc/" + QByteArray::number(pid);
    DIR *fds = opendir(process + "/fd");
    const int infoDir = open(process + "/fdinfo", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool numbered = false;
    const int index = devicePath.startsWith(QLatin1String("/dev/pts/"))
        ? devicePath.mid(9).toInt(&numbered)
        : -1;
    const bool found = fds && infoDir >= 0
        && holds(fds, infoDir, QFile::encodeName(devicePath), numbered ? index : -1);
    if (fds)
        closedir(fds);
    if (infoDir >= 0)
        close(infoDir);
    return found;
}
