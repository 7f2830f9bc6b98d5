#pragma once

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include <atomic>
#include <cstdint>
#include <set>
#include <unordered_map>
#include <utility>

// The service's event loop. Qt's own loop asks poll() about every descriptor at every wake-up,
// and rounds timers to whole milliseconds; this one keeps the socket notifiers in an epoll
// instance, so a wake-up costs the same with 255 ports as with one, and waits for timers to the
// nanosecond, so a pack of 1 ms goes out after 1 ms, not 2. Notifiers are level-triggered, as
// Qt's are; enabling and disabling one costs an epoll_ctl().
class EpollDispatcher : public QAbstractEventDispatcher
{
    Q_OBJECT

public:
    explicit EpollDispatcher(QObject *parent = nullptr);
    ~EpollDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    bool hasPendingEvents() override;

    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;

    void registerTimer(
        int timerId, int interval, Qt::TimerType timerType, QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;

    void wakeUp() override;
    void interrupt() override;
    void flush() override { }

private:
    // The notifiers of one descriptor, by QSocketNotifier::Type, and what epoll watches for
    // them. The generation tells an event of a closed and reused descriptor from a new one's.
    struct Watch
    {
        QSocketNotifier *notifiers[3] = {};
        std::uint32_t events = 0;
        std::uint32_t generation = 0;
    };

    struct Timer
    {
        QObject *object;
        int interval;
        Qt::TimerType type;
        std::int64_t deadline;
    };

    void updateWatch(int fd);
    std::int64_t waitNs(bool mayWait) const;
    int wait(std::int64_t timeoutNs, bool sockets);
    void drainWakeUps();
    void activate(std::uint64_t key, std::uint32_t events);
    void activate(int fd, std::uint32_t generation, QSocketNotifier::Type type);
    bool fireTimers();
    void dropTimer(std::unordered_map<int, Timer>::iterator timer);

    int epoll = -1;
    int wakeFd = -1;
    std::atomic<bool> wakePending { false };
    std::atomic<bool> interrupted { false };
    std::uint32_t nextGeneration = 0;
    std::unordered_map<int, Watch> watches;
    std::unordered_map<int, Timer> timers;
    // Deadlines in ns of the monotonic clock, with the timer ids, earliest first.
    std::set<std::pair<std::int64_t, int>> deadlines;
};
