#include "baudwatcher.h"

#include "comportcommand.h"
#include "loopbackservers.h"
#include "telnetcodec.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

BaudWatcher::BaudWatcher()
{
    listener = LoopbackServers::listenLoopback(&tcpPort);
    thread = std::thread([this] { serve(); });
}

BaudWatcher::~BaudWatcher()
{
    stopping = true;
    thread.join();
    close(listener);
}

bool BaudWatcher::arrival(std::size_t count, Clock::time_point *at)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (!arrived.wait_for(lock, std::chrono::seconds(1), [&] { return times.size() >= count; }))
        return false;
    *at = times[count - 1];
    return true;
}

std::size_t BaudWatcher::count()
{
    std::lock_guard<std::mutex> lock(mutex);
    return times.size();
}

void BaudWatcher::serve()
{
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    TelnetCodec codec(TelnetCodec::Role::Server);
    const QByteArray hello = codec.start();
    send(fd, hello.constData(), size_t(hello.size()), MSG_NOSIGNAL);
    std::vector<char> in(65536), data(65536);
    while (!stopping) {
        pollfd waiter { fd, POLLIN, 0 };
        if (poll(&waiter, 1, 100) != 1)
            continue;
        const ssize_t count = recv(fd, in.data(), in.size(), 0);
        if (count <= 0)
            break;
        const auto now = Clock::now();
        codec.decode(in.data(), int(count), data.data());
        const QByteArray replies = codec.takeReplies();
        send(fd, replies.constData(), size_t(replies.size()), MSG_NOSIGNAL);
        for (const TelnetCodec::Event &event : codec.takeEvents()) {
            ComPortCommand command;
            if (event.kind == TelnetCodec::Event::Subnegotiation
                && ComPortCommand::decode(event.payload, &command)
                && command.code == ComPortCommand::SetBaudRate) {
                std::lock_guard<std::mutex> lock(mutex);
                times.push_back(now);
                arrived.notify_all();
            }
        }
    }
    close(fd);
}
