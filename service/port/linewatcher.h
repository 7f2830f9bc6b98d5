#pragma once

#include "linesettings.h"

#include <QObject>
#include <QTimer>

#include <sys/types.h>

// Learns what a program sets on a port's pseudo-terminal. The master is put in packet mode;
// while the program has the line in raw mode, EXTPROC on the slave makes the kernel announce
// each change of its attributes in the packet stream. In canonical mode EXTPROC would stop line
// editing, so the attributes are polled instead, and only while a program has the port open.
class LineWatcher : public QObject
{
    Q_OBJECT

public:
    // master in non-blocking mode. Attribute calls on a pty master act on its slave, which the
    // service does not hold open.
    explicit LineWatcher(int master, QObject *parent = nullptr);

    // Reads the program's bytes from the master, acting on the status packets between them:
    // returns the data bytes read, or -1 with errno set as read() does.
    ssize_t read(char *at, size_t room);
    void setOpen(bool open);
    // Looks at the attributes now.
    void refresh();
    const LineSettings &current() const { return line; }

signals:
    // The program's speed, stop bits or flow control changed (data bits and parity are not
    // carried by a pseudo-terminal).
    void changed(const LineSettings &line);
    // The program discarded its input (bytes from the device), its output, or both.
    void flushed(bool input, bool output);

private:
    void status(quint8 packet);

    int master;
    bool open = false;
    bool canonical = false;
    LineSettings line;
    QTimer poll;
};
