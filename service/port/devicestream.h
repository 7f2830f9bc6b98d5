#pragma once

#include <sys/types.h>

// The bytes of a port's TCP connection as the program sees them. This one passes them
// unchanged (RAW); a protocol on the wire overrides it.
class DeviceStream
{
public:
    virtual ~DeviceStream() = default;

    // As send() and recv() on the connected socket fd: the program's bytes taken or given,
    // or -1 with errno set. A receive gives 0 only when the device closed the connection.
    virtual ssize_t send(int fd, const char *data, size_t size);
    virtual ssize_t receive(int fd, char *out, size_t room);
    // Bytes of the protocol's own still wait for the socket; flush() sends what it takes.
    virtual bool hasPending() const { return false; }
    virtual void flush(int) { }
    // An errno from send() or receive() that means only "not now".
    static bool wouldBlock(int error);
};
