#include "ptyecho.h"

#include <poll.h>
#include <unistd.h>

PtyEcho::PtyEcho()
    : pty(PortProbe::openPty())
    , thread([this] { echo(); })
{
}

PtyEcho::~PtyEcho()
{
    stopping = true;
    thread.join();
    close(pty.slave);
    close(pty.master);
}

// Polls with a short timeout to see the stop; the held slave keeps the master from hanging up.
void PtyEcho::echo()
{
    char bytes[4096];
    while (!stopping) {
        pollfd waiter { pty.master, POLLIN, 0 };
        if (poll(&waiter, 1, 50) != 1 || !(waiter.revents & POLLIN))
            continue;
        const ssize_t count = read(pty.master, bytes, sizeof bytes);
        for (ssize_t at = 0, sent = 0; count > 0 && at < count; at += sent)
            if ((sent = write(pty.master, bytes + at, size_t(count - at))) <= 0)
                break;
    }
}
