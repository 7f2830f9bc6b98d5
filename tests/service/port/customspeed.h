#pragma once

// Sets a terminal's speed as a free number (BOTHER), as serial libraries do for odd rates.
bool setCustomSpeed(int fd, unsigned baud);
