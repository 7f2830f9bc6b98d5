#pragma once

#include <QtGlobal>

// The output speed of a terminal in bits per second, also one set as a free number rather
// than a standard rate (as serial libraries do for rates such as 250000); 0 for a hang-up, -1
// when it cannot be read. Kept apart: the kernel's termios2 cannot share a file with termios.h.
qint64 terminalSpeed(int fd);
