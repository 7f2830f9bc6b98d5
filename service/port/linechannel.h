#pragma once

#include "linestate.h"

#include <QObject>

#include <sys/types.h>
#include <unordered_map>

class LinePort;
class PortDirectory;
class QSocketNotifier;
struct tirv_line_request;

// Serves the line channel (lineprotocol.h) in the port directory: programs started by tirv-run
// read and change the modem lines, break, data bits and parity of the port whose pty they hold.
// Only processes of this user are answered, at most ServiceLimits::kMaxClients at once; a
// request is answered at once, a wait once a line it waits for changes.
class LineChannel : public QObject
{
    Q_OBJECT

public:
    LineChannel();
    ~LineChannel() override;

    // Makes the socket in the open directory, which must outlive the channel, replacing one a
    // previous service left; false with the reason.
    bool listen(const PortDirectory &directory, QString *reason);
    void addPort(dev_t device, LinePort *port);
    // The port's waits end with EIO.
    void removePort(dev_t device);
    // The port's modem lines changed: the waits for a line that moved are answered.
    void linesChanged(dev_t device);

private:
    struct Client
    {
        QSocketNotifier *notifier = nullptr;
        // A wait in progress: on which port, for which lines, from which counts.
        bool waiting = false;
        dev_t device = 0;
        quint32 mask = 0;
        LineState::Counts since;
    };

    void acceptClients();
    bool admit(int fd) const;
    void serve(int fd);
    void carryOut(int fd, const tirv_line_request &request);
    void endWaits(dev_t device, bool portGone);
    void answer(int fd, quint8 op, int error, const LineState *state);
    void drop(int fd);

    int listener = -1;
    int directoryFd = -1;
    // The socket file this channel made: only that one is removed.
    ino_t socketInode = 0;
    QSocketNotifier *accepting = nullptr;
    std::unordered_map<int, Client> clients;
    std::unordered_map<dev_t, LinePort *> ports;
};
