#pragma once

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

    QString slavePath() const { return path; }

private:
    void echo();

    int master = -1;
    // The slave, held open so that the master never polls as hung up between programs.
    int held = -1;
    QString path;
    std::atomic<bool> stopping { false };
    std::thread thread;
};
