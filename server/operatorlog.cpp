#include "operatorlog.h"

#include <ctime>
#include <string>

namespace ridelog::nameserver {

namespace {

constexpr std::chrono::seconds kWindow{1};

// "2026-12-08T01:23:45Z " in UTC.
std::string timestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ ", &utc);
    return text;
}

} // namespace

bool OperatorLog::connectionEvent(std::string_view text, Clock::time_point now)
{
    const std::lock_guard lock(mutex_);
    if (now - windowStart_ >= kWindow) {
        reportLeftOutLocked();
        windowStart_ = now;
        linesInWindow_ = 0;
    }
    if (linesInWindow_ >= linesPerSecond_) {
        ++leftOut_;
        return false;
    }
    ++linesInWindow_;
    writeLine(text);
    return true;
}

void OperatorLog::request(std::string_view text)
{
    const std::lock_guard lock(mutex_);
    writeLine(text);
}

void OperatorLog::flushLeftOut(Clock::time_point now)
{
    const std::lock_guard lock(mutex_);
    if (leftOut_ != 0 && now - windowStart_ >= kWindow)
        reportLeftOutLocked();
}

void OperatorLog::reportLeftOutLocked()
{
    if (leftOut_ == 0)
        return;
    writeLine(std::to_string(leftOut_) + " more refused or timed-out connections not logged");
    leftOut_ = 0;
}

void OperatorLog::writeLine(std::string_view text)
{
    std::string line = timestamp();
    line.append(text);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fflush(stream_);
}

} // namespace ridelog::nameserver
