#pragma once

#include "portprobe.h"

#include <QString>

#include <atomic>
#include <thread>

// A bare pseudo-terminal whose master returns at once whatever reaches it, from a thread of
// its own: the floor under a port's round trip and throughput, with no TCP and no bridge.
class PtyEcho
{
public:
    PtyEcho();
    ~PtyEcho();
    PtyEcho(const PtyEcho &) = delete;
    PtyEcho &operator=(const PtyEcho &) = delete;

    QString slavePath() const { return pty.path; }

private:
    void echo();

    const PortProbe::Pty pty;
    std::atomic<bool> stopping { false };
    std::thread thread;
};
