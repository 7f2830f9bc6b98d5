#include "ptyspeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

qint64 terminalSpeed(int fd)
{
    termios2 attributes;
    if (ioctl(fd, TCGETS2, &attributes) != 0)
        return -1;
    return qint64(attributes.c_ospeed);
}
