#pragma once

#include <QString>

#include <cstddef>
#include <vector>

// What a serial program does with a port, for the benchmarks: open it raw, write, read with a
// deadline, time round trips and move the loopback servers' pattern through it, verified. A
// failure ends the benchmark with a message: a figure from a broken transfer means nothing.
namespace PortProbe {

// A pseudo-terminal with its slave held open, so that the master never polls as hung up
// between programs.
struct Pty
{
    int master;
    int slave;
    QString path;
};
Pty openPty();
// Opens a port, or any tty, as a serial program does: raw, blocking.
int openRaw(const QString &path);
// A TCP connection to a port on loopback, without delay, as a bridge makes to a device.
int connectLoopback(quint16 port);
void writeAll(int fd, const char *bytes, std::size_t size);
bool readExactly(int fd, char *bytes, std::size_t size, int timeoutMs = 30000);

// Microseconds of each of count round trips of one byte through an echo.
std::vector<double> roundTrips(int fd, int count);
// Two ports' round trips in alternating blocks, so that a busy moment hits both alike.
void pairedRoundTrips(int first, int second, int count, std::vector<double> *firstMicros,
    std::vector<double> *secondMicros);

// MB/s of size bytes written to a sink that answers "K" once all arrived intact.
double toSink(int fd, std::size_t size);
// MB/s of size bytes a source sends on request, checked as they arrive.
double fromSource(int fd, std::size_t size);
// MB/s moved each way through an echo, writing and reading at once, until size bytes or
// seconds (whichever comes first) have been written and all of them came back intact.
double throughEcho(int fd, std::size_t size, double seconds = 1e9);

double percentile(std::vector<double> values, int percent);

} // namespace PortProbe
