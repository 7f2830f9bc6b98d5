#include "steadyload.h"

#include "loopbackservers.h"
#include "portprobe.h"

#include <cstdio>
#include <cstdlib>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

const std::size_t kChunk = 115;
// Every port writes once per kTurns ticks of 1 ms.
const std::uint64_t kTurns = 10;
const int kDrainMs = 5000;

} // namespace

SteadyLoad::SteadyLoad(const std::vector<int> &fds)
{
    poller = epoll_create1(EPOLL_CLOEXEC);
    timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    const itimerspec everyMs { { 0, 1000000 }, { 0, 1000000 } };
    timerfd_settime(timer, 0, &everyMs, nullptr);
    epoll_event event { EPOLLIN, {} };
    event.data.u64 = fds.size();
    epoll_ctl(poller, EPOLL_CTL_ADD, timer, &event);
    for (std::size_t i = 0; i < fds.size(); ++i) {
        lines.emplace_back();
        lines.back().fd = fds[i];
        event.data.u64 = i;
        epoll_ctl(poller, EPOLL_CTL_ADD, fds[i], &event);
    }
    thread = std::thread([this] { run(); });
}

SteadyLoad::~SteadyLoad()
{
    stopping = true;
    thread.join();
    close(timer);
    close(poller);
}

std::vector<double> SteadyLoad::takeMicros()
{
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(micros, {});
}

void SteadyLoad::run()
{
    std::uint64_t ticks = 0;
    auto drainEnd = Clock::time_point::max();
    epoll_event events[64];
    while (!(stopping && isDrained()) && Clock::now() < drainEnd) {
        if (stopping && drainEnd == Clock::time_point::max())
            drainEnd = Clock::now() + std::chrono::milliseconds(kDrainMs);
        const int count = epoll_wait(poller, events, 64, 100);
        for (int i = 0; i < count; ++i) {
            if (events[i].data.u64 < lines.size()) {
                receive(lines[events[i].data.u64]);
                continue;
            }
            std::uint64_t expired = 0;
            if (read(timer, &expired, sizeof expired) == sizeof expired && !stopping)
                for (std::uint64_t n = 0; n < expired; ++n)
                    tick(ticks++);
        }
    }
    if (!isDrained()) {
        fprintf(stderr, "steady load: echoes lost\n");
        exit(1);
    }
}

void SteadyLoad::tick(std::uint64_t number)
{
    for (std::size_t i = number % kTurns; i < lines.size(); i += kTurns) {
        Line &line = lines[i];
        const auto now = Clock::now();
        PortProbe::writeAll(line.fd, LoopbackServers::patternAt(line.sent), kChunk);
        line.sent += kChunk;
        line.inFlight.emplace_back(line.sent, now);
    }
}

void SteadyLoad::receive(Line &line)
{
    char in[4096];
    const ssize_t count = read(line.fd, in, sizeof in);
    if (count <= 0 || line.received + std::size_t(count) > line.sent
        || !LoopbackServers::isPatternAt(line.received, in, std::size_t(count))) {
        fprintf(stderr, "steady load: echo corrupted\n");
        exit(1);
    }
    line.received += std::size_t(count);
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    while (!line.inFlight.empty() && line.inFlight.front().first <= line.received) {
        micros.push_back(
            std::chrono::duration<double, std::micro>(now - line.inFlight.front().second).count());
        line.inFlight.pop_front();
    }
}

bool SteadyLoad::isDrained() const
{
    for (const Line &line : lines)
        if (line.received != line.sent)
            return false;
    return true;
}
