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
                      .arg(path, QString::fromLocal8Bit(strerror(fd < 0 ? EBADF : errno)));
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

void OpenWatcher::drain()
{
    if (draining || fd < 0)
        return;
    draining = true;
    alignas(inotify_event) char events[4096];
    ssize_t length;
    while ((length = read(fd, events, sizeof events)) > 0) {
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW)
                notifyAll(event->mask);
            else
                notify(event->wd, event->mask);
        }
    }
    draining = false;
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
