#include "epolldispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

// Exported by QtCore for its own dispatchers: events posted to this thread and not yet sent.
extern uint qGlobalPostedEventsCount();

namespace {

const std::int64_t kNsPerMs = 1000000;
const int kBatch = 64;
// The key of the wake-up descriptor in the epoll set; notifiers' keys hold a descriptor.
const std::uint64_t kWakeKey = ~std::uint64_t(0);

std::int64_t monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

timespec toTimespec(std::int64_t ns)
{
    return { time_t(ns / 1000000000), long(ns % 1000000000) };
}

std::uint64_t watchKey(int fd, std::uint32_t generation)
{
    return std::uint64_t(generation) << 32 | std::uint32_t(fd);
}

} // namespace

EpollDispatcher::EpollDispatcher(QObject *parent)
    : QAbstractEventDispatcher(parent)
{
    epoll = epoll_create1(EPOLL_CLOEXEC);
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event event {};
    event.events = EPOLLIN;
    event.data.u64 = kWakeKey;
    if (epoll < 0 || wakeFd < 0 || epoll_ctl(epoll, EPOLL_CTL_ADD, wakeFd, &event) != 0)
        qFatal("cannot make the event loop's epoll instance: %s", strerror(errno));
    // The kernel may otherwise wake this thread up to 50 us after a deadline, on every pack.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

EpollDispatcher::~EpollDispatcher()
{
    close(wakeFd);
    close(epoll);
}

bool EpollDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    interrupted = false;
    emit awake();
    QCoreApplication::sendPostedEvents();
    const bool mayWait
        = (flags & QEventLoop::WaitForMoreEvents) && !interrupted && !hasPendingEvents();
    if (mayWait)
        emit aboutToBlock();
    const bool sockets = !(flags & QEventLoop::ExcludeSocketNotifiers);
    const bool anySocket = wait(waitNs(mayWait), sockets) > 0;
    const bool anyTimer = !(flags & QEventLoop::X11ExcludeTimers) && !interrupted && fireTimers();
    return anySocket || anyTimer;
}

bool EpollDispatcher::hasPendingEvents()
{
    return qGlobalPostedEventsCount() > 0;
}

// How long to wait: until the first timer is due, for ever without one, 0 when not waiting.
std::int64_t EpollDispatcher::waitNs(bool mayWait) const
{
    if (!mayWait)
        return 0;
    if (deadlines.empty())
        return -1;
    return std::max<std::int64_t>(0, deadlines.begin()->first - monotonicNs());
}

// Waits and hands out what came; the number of notifiers' events.
int EpollDispatcher::wait(std::int64_t timeoutNs, bool sockets)
{
    const timespec timeout = toTimespec(std::max<std::int64_t>(timeoutNs, 0));
    if (!sockets) {
        pollfd wake { wakeFd, POLLIN, 0 };
        if (ppoll(&wake, 1, timeoutNs < 0 ? nullptr : &timeout, nullptr) > 0)
            drainWakeUps();
        return 0;
    }
    epoll_event events[kBatch];
    int count = epoll_pwait2(epoll, events, kBatch, timeoutNs < 0 ? nullptr : &timeout, nullptr);
    // Kernels before 5.11 wait in whole milliseconds only.
    if (count < 0 && errno == ENOSYS)
        count = epoll_wait(
            epoll, events, kBatch, timeoutNs < 0 ? -1 : int((timeoutNs + kNsPerMs - 1) / kNsPerMs));
    int handed = 0;
    for (int i = 0; i < count; ++i) {
        if (events[i].data.u64 == kWakeKey) {
            drainWakeUps();
            continue;
        }
        activate(events[i].data.u64, events[i].events);
        ++handed;
    }
    return handed;
}

// Cleared before the read: a wake-up after it writes anew and is seen by the next wait.
void EpollDispatcher::drainWakeUps()
{
    wakePending = false;
    eventfd_t count;
    eventfd_read(wakeFd, &count);
}

// As Qt's own loops do: a hang-up or an error wakes a reader; an error wakes a writer too.
void EpollDispatcher::activate(std::uint64_t key, std::uint32_t events)
{
    const int fd = int(std::uint32_t(key));
    const std::uint32_t generation = std::uint32_t(key >> 32);
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR))
        activate(fd, generation, QSocketNotifier::Read);
    if (events & (EPOLLOUT | EPOLLERR))
        activate(fd, generation, QSocketNotifier::Write);
    if (events & EPOLLPRI)
        activate(fd, generation, QSocketNotifier::Exception);
}

// Looked up anew for each, since the one before may have removed it.
void EpollDispatcher::activate(int fd, std::uint32_t generation, QSocketNotifier::Type type)
{
    const auto watch = watches.find(fd);
    if (watch == watches.end() || watch->second.generation != generation)
        return;
    if (QSocketNotifier *notifier = watch->second.notifiers[type]) {
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent(notifier, &event);
    }
}

void EpollDispatcher::registerSocketNotifier(QSocketNotifier *notifier)
{
    const int fd = int(notifier->socket());
    Watch &watch = watches[fd];
    watch.notifiers[notifier->type()] = notifier;
    updateWatch(fd);
}

void EpollDispatcher::unregisterSocketNotifier(QSocketNotifier *notifier)
{
    const int fd = int(notifier->socket());
    const auto watch = watches.find(fd);
    if (watch == watches.end() || watch->second.notifiers[notifier->type()] != notifier)
        return;
    watch->second.notifiers[notifier->type()] = nullptr;
    updateWatch(fd);
}

// A descriptor without notifiers leaves the set: epoll would report its hang-up for ever.
void EpollDispatcher::updateWatch(int fd)
{
    Watch &watch = watches[fd];
    const std::uint32_t wanted = (watch.notifiers[QSocketNotifier::Read] ? EPOLLIN : 0u)
        | (watch.notifiers[QSocketNotifier::Write] ? EPOLLOUT : 0u)
        | (watch.notifiers[QSocketNotifier::Exception] ? EPOLLPRI : 0u);
    if (wanted == watch.events)
        return;
    if (wanted == 0) {
        epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
        watches.erase(fd);
        return;
    }
    if (watch.events == 0)
        watch.generation = ++nextGeneration;
    epoll_event event {};
    event.events = wanted;
    event.data.u64 = watchKey(fd, watch.generation);
    if (epoll_ctl(epoll, watch.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &event) != 0)
        qWarning("cannot watch descriptor %d: %s", fd, strerror(errno));
    watch.events = wanted;
}

void EpollDispatcher::registerTimer(
    int timerId, int interval, Qt::TimerType timerType, QObject *object)
{
    const std::int64_t deadline = monotonicNs() + std::int64_t(interval) * kNsPerMs;
    timers[timerId] = Timer { object, interval, timerType, deadline };
    deadlines.emplace(deadline, timerId);
}

bool EpollDispatcher::unregisterTimer(int timerId)
{
    const auto timer = timers.find(timerId);
    if (timer == timers.end())
        return false;
    dropTimer(timer);
    return true;
}

bool EpollDispatcher::unregisterTimers(QObject *object)
{
    bool any = false;
    for (auto timer = timers.begin(); timer != timers.end();) {
        const auto next = std::next(timer);
        if (timer->second.object == object) {
            dropTimer(timer);
            any = true;
        }
        timer = next;
    }
    return any;
}

void EpollDispatcher::dropTimer(std::unordered_map<int, Timer>::iterator timer)
{
    deadlines.erase({ timer->second.deadline, timer->first });
    timers.erase(timer);
}

QList<QAbstractEventDispatcher::TimerInfo> EpollDispatcher::registeredTimers(QObject *object) const
{
    QList<TimerInfo> result;
    for (const auto &[id, timer] : timers)
        if (timer.object == object)
            result.append(TimerInfo(id, timer.interval, timer.type));
    return result;
}

int EpollDispatcher::remainingTime(int timerId)
{
    const auto timer = timers.find(timerId);
    if (timer == timers.end())
        return -1;
    const std::int64_t left = std::max<std::int64_t>(0, timer->second.deadline - monotonicNs());
    return int((left + kNsPerMs - 1) / kNsPerMs);
}

// Fires each timer due now once; one started meanwhile waits for the next round, even at 0 ms.
bool EpollDispatcher::fireTimers()
{
    const std::int64_t now = monotonicNs();
    const std::vector<std::pair<std::int64_t, int>> due(
        deadlines.begin(), deadlines.upper_bound({ now, INT_MAX }));
    for (const auto &[deadline, id] : due) {
        const auto timer = timers.find(id);
        if (timer == timers.end() || timer->second.deadline != deadline)
            continue;
        Timer &next = timer->second;
        deadlines.erase({ next.deadline, id });
        // A repeating timer keeps its beat, unless it fell behind by a whole interval.
        const std::int64_t interval = std::int64_t(next.interval) * kNsPerMs;
        next.deadline += interval;
        if (next.deadline < now)
            next.deadline = now + interval;
        deadlines.emplace(next.deadline, id);
        QObject *object = next.object;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(object, &event);
    }
    return !due.empty();
}

void EpollDispatcher::wakeUp()
{
    if (!wakePending.exchange(true))
        eventfd_write(wakeFd, 1);
}

void EpollDispatcher::interrupt()
{
    interrupted = true;
    wakeUp();
}
