// The server's log for its operator, one line per event on a stream (standard error, which
// systemd keeps in the journal). Lines about refused and timed-out connections are limited to a
// few per second, so an attack cannot fill the disk; the lines left out are counted and
// reported once the burst is over. Request lines (--log-requests) are never left out.
#pragma once

#include "connectionlimits.h"

#include <cstdio>
#include <mutex>
#include <string_view>

namespace ridelog::nameserver {

class OperatorLog
{
public:
    explicit OperatorLog(std::FILE* stream, int connectionLinesPerSecond = 10)
        : stream_(stream)
        , linesPerSecond_(connectionLinesPerSecond)
    {}

    // A refused or timed-out connection; false when the line was left out.
    bool connectionEvent(std::string_view text, Clock::time_point now = Clock::now());
    // One request, as --log-requests asks for.
    void request(std::string_view text);
    // Reports the lines left out once their second is over; called now and then.
    void flushLeftOut(Clock::time_point now = Clock::now());

private:
    void writeLine(std::string_view text);
    void reportLeftOutLocked();

    std::FILE* stream_;
    int linesPerSecond_;
    std::mutex mutex_;
    Clock::time_point windowStart_{};
    int linesInWindow_ = 0;
    long long leftOut_ = 0;
};

} // namespace ridelog::nameserver
