// The limits that keep one client from starving the others: how long a connection may wait
// before it begins a request and how long a request may take to arrive, and how many
// connections may be open in all and from one address. Plain C++ with no socket, so each
// rule can be checked on its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace ridelog::nameserver {

using Clock = std::chrono::steady_clock;

struct ConnectionLimits
{
    // A connection that has not begun a request this long after it was accepted or its last
    // answer was sent is closed; the shorter time applies while the server is busy.
    std::chrono::milliseconds idleTimeout{5000};
    std::chrono::milliseconds busyIdleTimeout{1000};
    // From the request line on: the headers, and the whole request with its body.
    std::chrono::milliseconds headerTimeout{5000};
    std::chrono::milliseconds requestTimeout{10000};
    std::size_t maxConnections = 4096;
    std::size_t maxConnectionsPerAddress = 128; // 0: no limit per address

    // Busy: more than half of the allowed connections are open.
    bool busyWith(std::size_t openConnections) const
    {
        return openConnections * 2 > maxConnections;
    }
};

// Where a connection stands; each phase but Answering has a clock that runs from `since`.
enum class ConnectionPhase
{
    AwaitingRequest, // since it was accepted or its last answer was sent
    ReadingHeaders,  // since the request line arrived
    ReadingBody,     // since the request line arrived
    Answering,       // the answer is queued or being sent
};

enum class Expiry
{
    None,
    Idle,        // no request began in time
    HeadersLate, // the headers did not arrive in time
    RequestLate, // the body did not arrive in time
};

Expiry expiryOf(ConnectionPhase phase, Clock::duration elapsed, const ConnectionLimits& limits,
                bool busy);

// Why a connection is closed, as the log says it: "no request within 5 s".
std::string expiryText(Expiry expiry, const ConnectionLimits& limits, bool busy);

// Counts open connections in all and per client address, and admits new ones within the
// limits. Thread-safe.
class ConnectionCounter
{
public:
    explicit ConnectionCounter(const ConnectionLimits& limits)
        : limits_(limits)
    {}

    // Takes a place for a connection from `address`; on refusal, the reason for the log.
    bool admit(const std::string& address, std::string& refusal);
    void release(const std::string& address);
    std::size_t open() const;

private:
    ConnectionLimits limits_;
    mutable std::mutex mutex_;
    std::size_t open_ = 0;
    std::map<std::string, std::size_t> perAddress_;
};

} // namespace ridelog::nameserver
