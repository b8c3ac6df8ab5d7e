#include "serveoptions.h"

#include <cmath>
#include <sys/resource.h>

namespace ridelog::nameserver {

namespace {

constexpr double kLongestTimeoutSeconds = 3600;

// A time in seconds, decimals allowed: "5", "0.25".
bool parseSeconds(const QString& text, std::chrono::milliseconds& duration)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0.001 || seconds > kLongestTimeoutSeconds)
        return false;
    duration = std::chrono::milliseconds(std::llround(seconds * 1000));
    return true;
}

bool parseCount(const QString& text, std::size_t lowest, std::size_t highest, std::size_t& count)
{
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok);
    if (!ok || value < lowest || value > highest)
        return false;
    count = std::size_t(value);
    return true;
}

} // namespace

OptionResult takeServeOption(const QStringList& arguments, qsizetype& index,
                             ServiceOptions& options)
{
    const QString& name = arguments[index];
    if (name == u"--log-requests") {
        options.logRequests = true;
        return OptionResult::Taken;
    }
    ConnectionLimits& limits = options.limits;
    std::chrono::milliseconds* timeout = name == u"--idle-timeout"        ? &limits.idleTimeout
                                         : name == u"--busy-idle-timeout" ? &limits.busyIdleTimeout
                                         : name == u"--header-timeout"    ? &limits.headerTimeout
                                         : name == u"--request-timeout"   ? &limits.requestTimeout
                                                                          : nullptr;
    const bool isCount = name == u"--threads" || name == u"--max-connections" ||
                         name == u"--max-connections-per-address";
    if (timeout == nullptr && !isCount)
        return OptionResult::NotAServeOption;
    if (index + 1 >= arguments.size())
        return OptionResult::Invalid;
    const QString& value = arguments[++index];
    if (timeout != nullptr)
        return parseSeconds(value, *timeout) ? OptionResult::Taken : OptionResult::Invalid;
    std::size_t count = 0;
    bool ok = false;
    if (name == u"--threads") {
        ok = parseCount(value, 1, 256, count);
        options.threads = int(count);
    } else if (name == u"--max-connections") {
        ok = parseCount(value, 1, 1000000, count);
        limits.maxConnections = count;
    } else {
        ok = parseCount(value, 0, 1000000, count);
        limits.maxConnectionsPerAddress = count;
    }
    return ok ? OptionResult::Taken : OptionResult::Invalid;
}

QString serveOptionsHelp()
{
    return QStringLiteral(
        "Options of serve (times in seconds, decimals allowed):\n"
        "  --threads N             event threads, each serving many connections (default\n"
        "                          half the processors, at least 1)\n"
        "  --idle-timeout S        close a connection that begins no request within S of\n"
        "                          connecting or of its last answer (default 5)\n"
        "  --busy-idle-timeout S   the same while more than half of --max-connections are\n"
        "                          open (default 1)\n"
        "  --header-timeout S      a request's headers must arrive within S of its first\n"
        "                          line (default 5)\n"
        "  --request-timeout S     the whole request, body too, within S of its first line\n"
        "                          (default 10)\n"
        "  --max-connections N     connections open at once, in all (default 4096)\n"
        "  --max-connections-per-address N\n"
        "                          connections open at once from one address; 0 for no\n"
        "                          limit (default 128)\n"
        "  --log-requests          one line per request on standard error\n"
        "Refused and timed-out connections are logged on standard error, at most 10 lines a\n"
        "second. A request body may be at most 512 KiB.");
}

bool allowOpenConnections(std::size_t connections)
{
    // The listening socket, the database, the standard streams and the library's own.
    const rlim_t wanted = rlim_t(connections) + 64;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur >= wanted)
        return true;
    if (limit.rlim_cur == RLIM_INFINITY)
        return true;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    return setrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur >= wanted;
}

} // namespace ridelog::nameserver
