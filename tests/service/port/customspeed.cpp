#include "customspeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool setCustomSpeed(int fd, unsigned baud)
{
    termios2 attributes;
    if (ioctl(fd, TCGETS2, &attributes) != 0)
        return false;
    attributes.c_cflag = (attributes.c_cflag & ~CBAUD) | BOTHER;
    attributes.c_ispeed = attributes.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &attributes) == 0;
}
