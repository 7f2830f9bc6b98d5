#pragma once

#include <QString>

#include <sys/types.h>

// True when a process of this user holds the terminal at devicePath open, not counting
// descriptor ownDescriptor of this process (-1: count every one). Open and close events merge
// and can be lost, so only this look at the processes themselves says who is still there.
// Processes this user may not inspect (of other users, or not dumpable) are not seen.
bool isTerminalOpenElsewhere(const QString &devicePath, int ownDescriptor);

// True when process pid exists and holds the terminal at devicePath open.
bool processHoldsTerminal(pid_t pid, const QString &devicePath);
