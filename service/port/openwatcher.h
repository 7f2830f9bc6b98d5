#pragma once

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>

class QSocketNotifier;

// Tells each port when its pty slave is opened or closed. One inotify instance serves every
// port: the per-user limit on instances (often 128) is below 255 ports.
class OpenWatcher : public QObject
{
    Q_OBJECT

public:
    // Called with the event mask: IN_OPEN, IN_CLOSE_WRITE, IN_CLOSE_NOWRITE, or IN_Q_OVERFLOW
    // (to every handler) when events were lost.
    using Handler = std::function<void(std::uint32_t mask)>;

    OpenWatcher();
    ~OpenWatcher() override;

    // Returns the watch id, or -1 with the reason.
    int watch(const QString &path, Handler handler, QString *reason);
    void unwatch(int id);
    // Drops the events of watch id so far: they were the caller's own opening and closing.
    void forget(int id);

private:
    struct Event
    {
        int id;
        std::uint32_t mask;
    };

    void drain();
    void deliver();
    void readEvents(int forgottenId);
    void notify(int id, std::uint32_t mask);
    void notifyAll(std::uint32_t mask);

    int fd = -1;
    QSocketNotifier *notifier = nullptr;
    std::unordered_map<int, Handler> handlers;
    // Read and not yet delivered, oldest first.
    std::deque<Event> pending;
    bool delivering = false;
};
