#include "connectionlimits.h"

#include <cstdio>

namespace ridelog::nameserver {

namespace {

std::string secondsText(std::chrono::milliseconds duration)
{
    char text[32];
    if (duration.count() % 1000 == 0)
        std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(duration.count() / 1000));
    else
        std::snprintf(text, sizeof text, "%.3g s", double(duration.count()) / 1000.0);
    return text;
}

} // namespace

Expiry expiryOf(ConnectionPhase phase, Clock::duration elapsed, const ConnectionLimits& limits,
                bool busy)
{
    switch (phase) {
    case ConnectionPhase::AwaitingRequest:
        return elapsed >= (busy ? limits.busyIdleTimeout : limits.idleTimeout) ? Expiry::Idle
                                                                               : Expiry::None;
    case ConnectionPhase::ReadingHeaders:
        if (elapsed >= limits.requestTimeout)
            return Expiry::RequestLate;
        return elapsed >= limits.headerTimeout ? Expiry::HeadersLate : Expiry::None;
    case ConnectionPhase::ReadingBody:
        return elapsed >= limits.requestTimeout ? Expiry::RequestLate : Expiry::None;
    case ConnectionPhase::Answering:
        return Expiry::None;
    }
    return Expiry::None;
}

std::string expiryText(Expiry expiry, const ConnectionLimits& limits, bool busy)
{
    switch (expiry) {
    case Expiry::Idle:
        return "no request within " +
               secondsText(busy ? limits.busyIdleTimeout : limits.idleTimeout) +
               (busy ? " (busy)" : "");
    case Expiry::HeadersLate:
        return "headers not complete within " + secondsText(limits.headerTimeout);
    case Expiry::RequestLate:
        return "request not complete within " + secondsText(limits.requestTimeout);
    case Expiry::None:
        break;
    }
    return {};
}

bool ConnectionCounter::admit(const std::string& address, std::string& refusal)
{
    const std::lock_guard lock(mutex_);
    if (open_ >= limits_.maxConnections) {
        refusal = std::to_string(open_) + " connections open, the most allowed";
        return false;
    }
    std::size_t& fromAddress = perAddress_[address];
    if (limits_.maxConnectionsPerAddress != 0 && fromAddress >= limits_.maxConnectionsPerAddress) {
        refusal = std::to_string(fromAddress) + " connections open from this address, the most "
                                                "allowed";
        return false;
    }
    ++fromAddress;
    ++open_;
    return true;
}

void ConnectionCounter::release(const std::string& address)
{
    const std::lock_guard lock(mutex_);
    const auto found = perAddress_.find(address);
    if (found != perAddress_.end() && --found->second == 0)
        perAddress_.erase(found);
    if (open_ > 0)
        --open_;
}

std::size_t ConnectionCounter::open() const
{
    const std::lock_guard lock(mutex_);
    return open_;
}

} // namespace ridelog::nameserver
