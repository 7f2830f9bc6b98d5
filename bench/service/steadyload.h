#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// Programs on many ports to an echo, each writing a steady 115 bytes every 10 ms (11.5 kB/s
// each way, a 115200-baud line), the ports' turns spread over the 10 ms, and timing each
// chunk's return. One thread drives them all, so the load costs the machine little.
class SteadyLoad
{
public:
    explicit SteadyLoad(const std::vector<int> &fds);
    // Stops writing and waits for what is on its way back.
    ~SteadyLoad();
    SteadyLoad(const SteadyLoad &) = delete;
    SteadyLoad &operator=(const SteadyLoad &) = delete;

    // Microseconds from each chunk's write to its last byte's return, since the last call.
    std::vector<double> takeMicros();

private:
    using Clock = std::chrono::steady_clock;

    struct Line
    {
        int fd = -1;
        std::size_t sent = 0;
        std::size_t received = 0;
        // Where each chunk on its way ends, and when it was written.
        std::deque<std::pair<std::size_t, Clock::time_point>> inFlight;
    };

    void run();
    void tick(std::uint64_t number);
    void receive(Line &line);
    bool isDrained() const;

    std::vector<Line> lines;
    int poller = -1;
    int timer = -1;
    std::atomic<bool> stopping { false };
    std::mutex mutex;
    std::vector<double> micros;
    std::thread thread;
};
