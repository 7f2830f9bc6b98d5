#pragma once

#include <QString>

#include <sys/types.h>

// True when process pid exists and holds open the pty whose slave is devicePath: the slave
// itself, or its master, as the service that made the port does.
bool processHoldsTerminal(pid_t pid, const QString &devicePath);
