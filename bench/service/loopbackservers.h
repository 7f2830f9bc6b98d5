#pragma once

#include <cstddef>
#include <cstdint>

// Stand-in devices for the benchmarks, each on 127.0.0.1 in threads of its own, one thread per
// connection, so the bridge under test is the only event loop measured.
class LoopbackServers
{
public:
    // Bytes the sink expects and the source sends per connection.
    explicit LoopbackServers(std::size_t transferBytes);

    // Returns every byte it gets.
    std::uint16_t echoPort() const { return echo; }
    // Checks transferBytes of pattern(), then answers "K" (or "X" on a mismatch).
    std::uint16_t sinkPort() const { return sink; }
    // On its first byte, sends transferBytes of pattern().
    std::uint16_t sourcePort() const { return source; }

    // Byte i of every transfer: each value, shifted per 256-byte block; it repeats every
    // kPatternPeriod bytes.
    static char pattern(std::size_t i) { return char((i + i / 256) & 0xff); }
    static const std::size_t kPatternPeriod = 65536;
    // Bytes offset to offset + kPatternPeriod of the pattern, to send or compare at once.
    static const char *patternAt(std::size_t offset);
    // Whether count bytes, at most kPatternPeriod, are the pattern from offset on.
    static bool isPatternAt(std::size_t offset, const char *bytes, std::size_t count);

    // A socket listening on 127.0.0.1 at a port the system picks, for a stand-in device;
    // ends the benchmark when there is none.
    static int listenLoopback(std::uint16_t *port);

private:
    std::uint16_t echo;
    std::uint16_t sink;
    std::uint16_t source;
};
