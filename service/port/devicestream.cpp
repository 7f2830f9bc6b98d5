#include "devicestream.h"

#include <cerrno>
#include <sys/socket.h>

ssize_t DeviceStream::send(int fd, const char *data, size_t size)
{
    return ::send(fd, data, size, MSG_NOSIGNAL);
}

ssize_t DeviceStream::receive(int fd, char *out, size_t room)
{
    return ::recv(fd, out, room, 0);
}

bool DeviceStream::wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}
