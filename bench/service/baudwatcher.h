#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A device on loopback that takes COM-PORT-OPTION and notes when each SET-BAUDRATE arrives.
class BaudWatcher
{
public:
    using Clock = std::chrono::steady_clock;

    BaudWatcher();
    ~BaudWatcher();
    BaudWatcher(const BaudWatcher &) = delete;
    BaudWatcher &operator=(const BaudWatcher &) = delete;

    std::uint16_t port() const { return tcpPort; }
    // Waits up to a second for the count-th SET-BAUDRATE; its arrival time.
    bool arrival(std::size_t count, Clock::time_point *at);
    std::size_t count();

private:
    void serve();

    int listener = -1;
    std::uint16_t tcpPort = 0;
    std::atomic<bool> stopping { false };
    std::thread thread;
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Clock::time_point> times;
};
