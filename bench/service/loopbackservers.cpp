#include "loopbackservers.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

bool sendAll(int fd, const char *bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t count = send(fd, bytes, size, MSG_NOSIGNAL);
        if (count <= 0)
            return false;
        bytes += count;
        size -= std::size_t(count);
    }
    return true;
}

void serveEcho(int fd, std::size_t)
{
    std::vector<char> buffer(65536);
    ssize_t count;
    while ((count = recv(fd, buffer.data(), buffer.size(), 0)) > 0)
        if (!sendAll(fd, buffer.data(), std::size_t(count)))
            break;
}

void serveSink(int fd, std::size_t total)
{
    std::vector<char> buffer(LoopbackServers::kPatternPeriod);
    for (;;) {
        std::size_t at = 0;
        bool intact = true;
        while (at < total) {
            const ssize_t count = recv(fd, buffer.data(), buffer.size(), 0);
            if (count <= 0)
                return;
            intact = intact && LoopbackServers::isPatternAt(at, buffer.data(), std::size_t(count));
            at += std::size_t(count);
        }
        if (!sendAll(fd, intact ? "K" : "X", 1))
            return;
    }
}

void serveSource(int fd, std::size_t total)
{
    char trigger;
    while (recv(fd, &trigger, 1, 0) == 1) {
        for (std::size_t at = 0; at < total;) {
            const std::size_t chunk = std::min(LoopbackServers::kPatternPeriod, total - at);
            if (!sendAll(fd, LoopbackServers::patternAt(at), chunk))
                return;
            at += chunk;
        }
    }
}

std::uint16_t listenOn(void (*serve)(int, std::size_t), std::size_t total)
{
    std::uint16_t port = 0;
    const int listener = LoopbackServers::listenLoopback(&port);
    std::thread([listener, serve, total] {
        for (;;) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            std::thread([fd, serve, total] {
                serve(fd, total);
                close(fd);
            }).detach();
        }
    }).detach();
    return port;
}

} // namespace

const char *LoopbackServers::patternAt(std::size_t offset)
{
    static const std::vector<char> twoPeriods = [] {
        std::vector<char> bytes(2 * kPatternPeriod);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = pattern(i);
        return bytes;
    }();
    return twoPeriods.data() + offset % kPatternPeriod;
}

LoopbackServers::LoopbackServers(std::size_t transferBytes)
    : echo(listenOn(serveEcho, transferBytes))
    , sink(listenOn(serveSink, transferBytes))
    , source(listenOn(serveSource, transferBytes))
{
}

bool LoopbackServers::isPatternAt(std::size_t offset, const char *bytes, std::size_t count)
{
    return std::memcmp(bytes, patternAt(offset), count) == 0;
}

int LoopbackServers::listenLoopback(std::uint16_t *port)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0
        || listen(listener, 512) != 0
        || getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        perror("bench server");
        std::exit(1);
    }
    *port = ntohs(address.sin_port);
    return listener;
}
