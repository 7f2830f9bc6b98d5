#include "ptyecho.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

PtyEcho::PtyEcho()
{
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[64];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0
        || ptsname_r(master, name, sizeof name) != 0) {
        perror("bare pty");
        exit(1);
    }
    path = QString::fromLocal8Bit(name);
    held = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    thread = std::thread([this] { echo(); });
}

PtyEcho::~PtyEcho()
{
    stopping = true;
    thread.join();
    close(held);
    close(master);
}

// Polls with a short timeout to see the stop; the held slave keeps the master from hanging up.
void PtyEcho::echo()
{
    char bytes[4096];
    while (!stopping) {
        pollfd waiter { master, POLLIN, 0 };
        if (poll(&waiter, 1, 50) != 1 || !(waiter.revents & POLLIN))
            continue;
        const ssize_t count = read(master, bytes, sizeof bytes);
        for (ssize_t at = 0, sent = 0; count > 0 && at < count; at += sent)
            if ((sent = write(master, bytes + at, size_t(count - at))) <= 0)
                break;
    }
}
