#define _GNU_SOURCE
#include "portmatch.h"

#include "lineprotocol.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

/* The majors of Unix98 pty slaves. */
#define PTY_SLAVE_FIRST_MAJOR 136
#define PTY_SLAVE_LAST_MAJOR 143
/* A folder's time stamp moves in clock ticks: one that changed this recently may change again
 * without its stamp moving, so what it holds then is not remembered. */
#define SETTLE_NANOSECONDS (50L * 1000 * 1000)
#define CACHE_ENTRIES 8

static char directory[PATH_MAX];
static char socket_path[sizeof(((struct sockaddr_un *)0)->sun_path)];

/* What scans found while the folder stays as it was. Whoever finds it busy (another thread, or
 * a signal handler interrupting its own thread) scans without it. */
static struct
{
    atomic_flag busy;
    dev_t folder_device;
    ino_t folder_inode;
    struct timespec folder_time;
    int count;
    int next;
    struct
    {
        dev_t device;
        int linked;
    } entries[CACHE_ENTRIES];
} cache = { .busy = ATOMIC_FLAG_INIT };

static int append(char *to, size_t size, const char *text)
{
    const size_t used = strlen(to);
    const int written = snprintf(to + used, size - used, "%s", text);
    return written >= 0 && (size_t)written < size - used;
}

/* $TIRV_PORT_DIR, else $XDG_RUNTIME_DIR/tirv, else /tmp/tirv-<uid>, made absolute. */
static int choose_directory(char *path, size_t size)
{
    const char *chosen = getenv("TIRV_PORT_DIR");
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    char fallback[32];
    const char *suffix = "";
    if ((!chosen || !*chosen) && runtime && *runtime) {
        chosen = runtime;
        suffix = "/tirv";
    } else if (!chosen || !*chosen) {
        snprintf(fallback, sizeof fallback, "/tmp/tirv-%u", (unsigned)getuid());
        chosen = fallback;
    }
    path[0] = '\0';
    if (chosen[0] != '/' && (!getcwd(path, size) || !append(path, size, "/")))
        return 0;
    return append(path, size, chosen) && append(path, size, suffix);
}

/* A child of fork has only the thread that forked: a cache another thread was changing then is
 * dropped. */
static void forget_in_child(void)
{
    memset(&cache, 0, sizeof cache);
    atomic_flag_clear(&cache.busy);
}

void tirv_ports_setup(void)
{
    pthread_atfork(NULL, NULL, forget_in_child);
    if (!choose_directory(directory, sizeof directory)) {
        directory[0] = '\0';
        return;
    }
    snprintf(socket_path, sizeof socket_path, "%s/%s", directory, TIRV_LINE_SOCKET);
    if (strlen(directory) + 1 + strlen(TIRV_LINE_SOCKET) >= sizeof socket_path)
        socket_path[0] = '\0';
}

const char *tirv_line_socket_path(void)
{
    return socket_path[0] ? socket_path : NULL;
}

static int is_own_pty_slave(const struct stat *info)
{
    const unsigned int kind = major(info->st_rdev);
    return S_ISCHR(info->st_mode) && kind >= PTY_SLAVE_FIRST_MAJOR && kind <= PTY_SLAVE_LAST_MAJOR
        && info->st_uid == geteuid();
}

static int leads_to(int folder, const char *name, dev_t device)
{
    struct stat target;
    return fstatat(folder, name, &target, 0) == 0 && S_ISCHR(target.st_mode)
        && target.st_rdev == device;
}

/* The links are the entries not starting with a dot. */
static int scan(dev_t device)
{
    const int folder = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return 0;
    char buffer[4096] __attribute__((aligned(8)));
    int found = 0;
    ssize_t size;
    while (!found && (size = getdents64(folder, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < size && !found;) {
            const struct dirent64 *entry = (const struct dirent64 *)(buffer + at);
            at += entry->d_reclen;
            found = entry->d_name[0] != '.'
                && (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN)
                && leads_to(folder, entry->d_name, device);
        }
    }
    close(folder);
    return found;
}

static int same_folder(const struct stat *folder)
{
    return cache.folder_device == folder->st_dev && cache.folder_inode == folder->st_ino
        && cache.folder_time.tv_sec == folder->st_mtim.tv_sec
        && cache.folder_time.tv_nsec == folder->st_mtim.tv_nsec;
}

/* 1 or 0 when remembered, -1 when not. The caller holds the cache. */
static int remembered(const struct stat *folder, dev_t device)
{
    if (!same_folder(folder))
        return -1;
    for (int i = 0; i < cache.count; ++i) {
        if (cache.entries[i].device == device)
            return cache.entries[i].linked;
    }
    return -1;
}

static void remember(const struct stat *folder, dev_t device, int linked)
{
    if (!same_folder(folder)) {
        cache.folder_device = folder->st_dev;
        cache.folder_inode = folder->st_ino;
        cache.folder_time = folder->st_mtim;
        cache.count = cache.next = 0;
    }
    cache.entries[cache.next].device = device;
    cache.entries[cache.next].linked = linked;
    cache.next = (cache.next + 1) % CACHE_ENTRIES;
    if (cache.count < CACHE_ENTRIES)
        ++cache.count;
}

static int is_settled(const struct stat *folder)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const long long age = (long long)(now.tv_sec - folder->st_mtim.tv_sec) * 1000000000LL
        + (now.tv_nsec - folder->st_mtim.tv_nsec);
    return age > SETTLE_NANOSECONDS;
}

static int is_linked(dev_t device)
{
    struct stat folder;
    if (stat(directory, &folder) != 0)
        return 0;
    int linked = -1;
    if (!atomic_flag_test_and_set(&cache.busy)) {
        linked = remembered(&folder, device);
        atomic_flag_clear(&cache.busy);
    }
    if (linked >= 0)
        return linked;
    linked = scan(device);
    if (is_settled(&folder) && !atomic_flag_test_and_set(&cache.busy)) {
        remember(&folder, device, linked);
        atomic_flag_clear(&cache.busy);
    }
    return linked;
}

int tirv_port_device(int fd, uint64_t *device)
{
    const int saved = errno;
    struct stat info;
    const int port = directory[0] && fstat(fd, &info) == 0 && is_own_pty_slave(&info)
        && is_linked(info.st_rdev);
    if (port)
        *device = info.st_rdev;
    errno = saved;
    return port;
}
