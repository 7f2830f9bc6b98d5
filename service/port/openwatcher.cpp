#include "openwatcher.h"

#include <QDebug>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

OpenWatcher::OpenWatcher()
    : fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (fd < 0) {
        qWarning().noquote() << "port open tracking unavailable:" << strerror(errno);
        return;
    }
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &OpenWatcher::drain);
}

OpenWatcher::~OpenWatcher()
{
    delete notifier;
    if (fd >= 0)
        close(fd);
}

int OpenWatcher::watch(const QString &path, Handler handler, QString *reason)
{
    const int id = fd < 0 ? -1
                          : inotify_add_watch(fd, QFile::encodeName(path).constData(),
                              IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
    if (id < 0) {
        *reason = QStringLiteral("cannot watch %1: %2")
                      .arg(path, qt_error_string(fd < 0 ? EBADF : errno));
        return -1;
    }
    handlers[id] = std::move(handler);
    return id;
}

void OpenWatcher::unwatch(int id)
{
    if (handlers.erase(id))
        inotify_rm_watch(fd, id);
}

// Other ports' events read on the way must not wait for the next inotify event.
void OpenWatcher::forget(int id)
{
    readEvents(id);
    if (!pending.empty())
        QMetaObject::invokeMethod(this, &OpenWatcher::deliver, Qt::QueuedConnection);
}

void OpenWatcher::drain()
{
    readEvents(-1);
    deliver();
}

// A handler may forget its own events meanwhile: what is read goes into pending first.
void OpenWatcher::deliver()
{
    if (delivering)
        return;
    delivering = true;
    while (!pending.empty()) {
        const Event event = pending.front();
        pending.pop_front();
        if (event.mask & IN_Q_OVERFLOW)
            notifyAll(event.mask);
        else
            notify(event.id, event.mask);
    }
    delivering = false;
}

void OpenWatcher::readEvents(int forgottenId)
{
    if (fd < 0)
        return;
    alignas(inotify_event) char events[4096];
    ssize_t length;
    while ((length = read(fd, events, sizeof events)) > 0) {
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->wd != forgottenId)
                pending.push_back({ event->wd, event->mask });
        }
    }
}

void OpenWatcher::notify(int id, std::uint32_t mask)
{
    // A handler may unwatch, so look it up afresh and call a copy.
    const auto it = handlers.find(id);
    if (it != handlers.end()) {
        const Handler handler = it->second;
        handler(mask);
    }
}

// Events were lost, of any watch: every port has to look again.
void OpenWatcher::notifyAll(std::uint32_t mask)
{
    std::vector<int> ids;
    ids.reserve(handlers.size());
    for (const auto &entry : handlers)
        ids.push_back(entry.first);
    for (const int id : ids)
        notify(id, mask);
}
