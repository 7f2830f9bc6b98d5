#include "ptyopeners.h"

#include <QFile>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads each descriptor link instead of following it: a look must never wait on the file.
bool holds(int procDir, const char *pid, bool self, const QByteArray &device, int ownDescriptor)
{
    const int fdDir = openat(
        procDir, (QByteArray(pid) + "/fd").constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *fds = fdDir < 0 ? nullptr : fdopendir(fdDir);
    if (!fds) {
        if (fdDir >= 0)
            close(fdDir);
        return false;
    }
    bool found = false;
    char target[64];
    while (const dirent *entry = readdir(fds)) {
        if (self && std::atoi(entry->d_name) == ownDescriptor)
            continue;
        const ssize_t length = readlinkat(fdDir, entry->d_name, target, sizeof target);
        if (length == device.size()
            && std::memcmp(target, device.constData(), size_t(length)) == 0) {
            found = true;
            break;
        }
    }
    closedir(fds);
    return found;
}

} // namespace

bool processHoldsTerminal(pid_t pid, const QString &devicePath)
{
    const int procDir = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procDir < 0)
        return false;
    const bool found = holds(
        procDir, QByteArray::number(pid).constData(), false, QFile::encodeName(devicePath), -1);
    close(procDir);
    return found;
}

bool isTerminalOpenElsewhere(const QString &devicePath, int ownDescriptor)
{
    DIR *proc = opendir("/proc");
    if (!proc)
        return false;
    const QByteArray device = QFile::encodeName(devicePath);
    const uid_t user = getuid();
    const QByteArray self = QByteArray::number(getpid());
    const int procDir = dirfd(proc);
    bool found = false;
    while (!found) {
        const dirent *entry = readdir(proc);
        if (!entry)
            break;
        struct stat st;
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9'
            || fstatat(procDir, entry->d_name, &st, 0) != 0 || st.st_uid != user)
            continue;
        found = holds(procDir, entry->d_name, self == entry->d_name, device, ownDescriptor);
    }
    closedir(proc);
    return found;
}
