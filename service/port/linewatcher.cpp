#include "linewatcher.h"

#include "ptyspeed.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <termios.h>

namespace {

// Often enough to follow a terminal program, rarely enough to cost nothing.
const int kPollMs = 100;

} // namespace

LineWatcher::LineWatcher(int master, QObject *parent)
    : QObject(parent)
    , master(master)
{
    int on = 1;
    ioctl(master, TIOCPKT, &on);
    poll.setInterval(kPollMs);
    connect(&poll, &QTimer::timeout, this, &LineWatcher::refresh);
    refresh();
}

ssize_t LineWatcher::read(char *at, size_t room)
{
    for (;;) {
        quint8 packet = 0;
        iovec parts[] = { { &packet, 1 }, { at, room } };
        const ssize_t count = readv(master, parts, 2);
        if (count <= 0)
            return count;
        if (packet == TIOCPKT_DATA)
            return count - 1;
        status(packet);
    }
}

void LineWatcher::setOpen(bool isOpen)
{
    open = isOpen;
    refresh();
}

void LineWatcher::status(quint8 packet)
{
    if (packet & TIOCPKT_IOCTL)
        refresh();
    const bool input = packet & TIOCPKT_FLUSHREAD;
    const bool output = packet & TIOCPKT_FLUSHWRITE;
    if (input || output)
        emit flushed(input, output);
}

void LineWatcher::refresh()
{
    termios attributes;
    if (tcgetattr(master, &attributes) != 0)
        return;
    canonical = attributes.c_lflag & ICANON;
    // Announcements in raw mode; line editing needs EXTPROC off.
    const bool announce = !canonical;
    if (bool(attributes.c_lflag & EXTPROC) != announce) {
        // termios has no compare-and-set: a program's tcsetattr landing between the read above
        // and this write is undone. The two calls follow each other directly, so the window is
        // one system call wide; reading again first would not make it smaller.
        attributes.c_lflag ^= EXTPROC;
        tcsetattr(master, TCSANOW, &attributes);
    }
    if (!canonical || !open)
        poll.stop();
    else if (!poll.isActive())
        poll.start();
    LineSettings now = LineSettings::fromTermios(attributes);
    const qint64 speed = terminalSpeed(master);
    if (speed >= 0)
        now.baud = quint32(speed);
    if (now != line) {
        line = now;
        emit changed(line);
    }
}
