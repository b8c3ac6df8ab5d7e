#include "httpservice.h"

#include "namedata/answer.h"
#include "namedata/request.h"
#include "operatorlog.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>

namespace ridelog::nameserver {

namespace {

constexpr const char* kAnswerContentType = "text/plain; charset=Shift_JIS";
// Memory per connection for its headers and read buffer; the library fills it all, so it is
// what an idle connection costs. Headers up to about 8 KiB fit.
constexpr std::size_t kPoolBytes = 16 * 1024;

std::string statusPageHtml(const NameDirectory& directory, const QString& databaseLabel)
{
    const QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                                        "<title>Ridelog station-name server</title></head><body>\n"
                                        "<h1>Ridelog station-name server</h1>\n"
                                        "<p>Dataset: %1</p>\n<table>\n"
                                        "<tr><td>Rail stations</td><td>%2</td></tr>\n"
                                        "<tr><td>Bus stops</td><td>%3</td></tr>\n"
                                        "<tr><td>Shops</td><td>%4</td></tr>\n</table>\n"
                                        "<p>Look-ups: POST /trfc/ with the form field a.</p>\n"
                                        "<p><a href=\"%5\">Ridelog</a></p>\n</body></html>\n")
                             .arg(databaseLabel.toHtmlEscaped())
                             .arg(directory.railCount())
                             .arg(directory.busCount())
                             .arg(directory.shopCount())
                             .arg(QStringLiteral(RIDELOG_PROJECT_URL).toHtmlEscaped());
    return html.toStdString();
}

// The client's address without its port ("192.0.2.7", "::1"), the key of the per-address limit.
std::string hostText(const sockaddr* address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address == nullptr)
        return "?";
    if (address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                  sizeof text);
    else if (address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    return text;
}

// "192.0.2.7:50123", "[::1]:50123": the client as the log names it.
std::string peerText(const sockaddr* address)
{
    if (address == nullptr)
        return "?";
    if (address->sa_family == AF_INET6)
        return '[' + hostText(address) + "]:" +
               std::to_string(ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port));
    if (address->sa_family == AF_INET)
        return hostText(address) + ':' +
               std::to_string(ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port));
    return "?";
}

// The announced body length; 0 without one, the largest value when it is unreadable.
std::uint64_t announcedBodyLength(MHD_Connection* connection)
{
    const char* text =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (text == nullptr)
        return 0;
    std::uint64_t length = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, length);
    if (error != std::errc() || stop != end)
        return std::numeric_limits<std::uint64_t>::max();
    return length;
}

Clock::rep ticksNow()
{
    return Clock::now().time_since_epoch().count();
}

// One open connection. The event thread that owns it writes its phase; the deadline thread
// reads it and, when a deadline passes, shuts the socket down, which the event thread then
// sees and closes the connection through the library.
struct Connection
{
    int socket = -1;
    std::string address; // the key of the per-address count
    std::string peer;
    bool counted = false;
    std::atomic<Clock::rep> since{0}; // written before phase, read after it
    std::atomic<ConnectionPhase> phase{ConnectionPhase::AwaitingRequest};
    bool closing = false; // guarded by the registry's mutex

    // Only the event thread touches these.
    std::string body;
    bool bodyTooLarge = false;
    bool answered = false;
    Clock::time_point requestStart{};

    void enter(ConnectionPhase next)
    {
        since.store(ticksNow());
        phase.store(next);
    }
};

// The address admitted by the accept policy, handed to the connection that the library starts
// next on the same thread.
thread_local std::string admittedAddress;
thread_local bool hasAdmittedAddress = false;

} // namespace

struct NameService::Daemon
{
    Daemon(NameService& owner, const ConnectionLimits& connectionLimits, OperatorLog& operatorLog)
        : service(owner)
        , limits(connectionLimits)
        , counter(connectionLimits)
        , log(operatorLog)
    {}

    bool start(int listenSocket, int threads);
    void stop();

    static MHD_Result acceptPolicy(void* self, const sockaddr* address, socklen_t length);
    static void notifyConnection(void* self, MHD_Connection* connection, void** socketContext,
                                 MHD_ConnectionNotificationCode code);
    static void* requestLineArrived(void* self, const char* uri, MHD_Connection* connection);
    static MHD_Result handleRequest(void* self, MHD_Connection* connection, const char* url,
                                    const char* method, const char* version, const char* uploadData,
                                    size_t* uploadDataSize, void** requestContext);
    static void requestCompleted(void* self, MHD_Connection* connection, void** requestContext,
                                 MHD_RequestTerminationCode code);
    static void libraryMessage(void* self, const char* format, va_list arguments);

    MHD_Result queueAnswer(MHD_Connection* connection, Connection& state, const char* method,
                           const char* url, const HttpAnswer& answer);
    void enforceDeadlines();
    void runDeadlines();

    NameService& service;
    ConnectionLimits limits;
    ConnectionCounter counter;
    OperatorLog& log;
    MHD_Daemon* mhd = nullptr;
    unsigned inactivitySeconds = 0;

    std::mutex registryMutex;
    std::unordered_set<Connection*> connections;

    std::thread deadlineThread;
    std::mutex deadlineMutex;
    std::condition_variable deadlineWake;
    bool deadlineStop = false;
};

MHD_Result NameService::Daemon::acceptPolicy(void* self, const sockaddr* address, socklen_t)
{
    auto& daemon = *static_cast<Daemon*>(self);
    if (hasAdmittedAddress) // admitted, but the library never started the connection
        daemon.counter.release(admittedAddress);
    hasAdmittedAddress = false;
    std::string host = hostText(address);
    std::string refusal;
    if (!daemon.counter.admit(host, refusal)) {
        daemon.log.connectionEvent("refused " + peerText(address) + ": " + refusal);
        return MHD_NO;
    }
    admittedAddress = std::move(host);
    hasAdmittedAddress = true;
    return MHD_YES;
}

void NameService::Daemon::notifyConnection(void* self, MHD_Connection* connection,
                                           void** socketContext,
                                           MHD_ConnectionNotificationCode code)
{
    auto& daemon = *static_cast<Daemon*>(self);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto* state = new Connection;
        const MHD_ConnectionInfo* fd =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        const MHD_ConnectionInfo* client =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        state->socket = fd != nullptr ? fd->connect_fd : -1;
        state->peer = peerText(client != nullptr ? client->client_addr : nullptr);
        if (hasAdmittedAddress) {
            state->address = std::move(admittedAddress);
            state->counted = true;
            hasAdmittedAddress = false;
        }
        // Answers are small and go out in one write; delayed acknowledgements must not hold
        // them back on a kept-alive connection.
        const int yes = 1;
        setsockopt(state->socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        state->enter(ConnectionPhase::AwaitingRequest);
        *socketContext = state;
        const std::lock_guard lock(daemon.registryMutex);
        daemon.connections.insert(state);
        return;
    }
    auto* state = static_cast<Connection*>(*socketContext);
    if (state == nullptr)
        return;
    {
        const std::lock_guard lock(daemon.registryMutex);
        daemon.connections.erase(state);
    }
    if (state->counted)
        daemon.counter.release(state->address);
    delete state;
    *socketContext = nullptr;
}

void* NameService::Daemon::requestLineArrived(void*, const char*, MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    auto* state = info != nullptr ? static_cast<Connection*>(info->socket_context) : nullptr;
    if (state == nullptr)
        return nullptr;
    state->body.clear();
    state->bodyTooLarge = false;
    state->answered = false;
    state->requestStart = Clock::now();
    state->enter(ConnectionPhase::ReadingHeaders);
    return state;
}

MHD_Result NameService::Daemon::handleRequest(void* self, MHD_Connection* connection,
                                              const char* url, const char* method, const char*,
                                              const char* uploadData, size_t* uploadDataSize,
                                              void** requestContext)
{
    auto& daemon = *static_cast<Daemon*>(self);
    auto* state = static_cast<Connection*>(*requestContext);
    if (state == nullptr)
        return MHD_NO;
    if (state->phase.load() == ConnectionPhase::ReadingHeaders) {
        state->phase.store(ConnectionPhase::ReadingBody); // the clock of the request runs on
        if (announcedBodyLength(connection) > kMaxRequestBodyBytes)
            return daemon.queueAnswer(connection, *state, method, url, bodyTooLargeAnswer());
        return MHD_YES;
    }
    if (*uploadDataSize != 0) {
        const std::size_t length = *uploadDataSize;
        *uploadDataSize = 0;
        // The library takes an answer only before the body or after all of it: the rest of
        // a body over the limit is dropped as it comes, within the request's deadline.
        state->bodyTooLarge =
            state->bodyTooLarge || state->body.size() + length > kMaxRequestBodyBytes;
        if (!state->bodyTooLarge)
            state->body.append(uploadData, length);
        return MHD_YES;
    }
    if (state->answered)
        return MHD_YES;
    if (state->bodyTooLarge)
        return daemon.queueAnswer(connection, *state, method, url, bodyTooLargeAnswer());
    try {
        return daemon.queueAnswer(connection, *state, method, url,
                                  daemon.service.answerRequest(method, url, state->body));
    } catch (const std::exception&) {
        return daemon.queueAnswer(connection, *state, method, url,
                                  HttpAnswer{500, "text/plain", "internal error", true});
    }
}

MHD_Result NameService::Daemon::queueAnswer(MHD_Connection* connection, Connection& state,
                                            const char* method, const char* url,
                                            const HttpAnswer& answer)
{
    state.answered = true;
    state.enter(ConnectionPhase::Answering);
    MHD_Response* response = MHD_create_response_from_buffer(
        answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
        return MHD_NO;
    if (!answer.contentType.empty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
    if (answer.closeConnection)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result queued = MHD_queue_response(connection, unsigned(answer.status), response);
    MHD_destroy_response(response);
    if (service.options_.logRequests) {
        const auto took =
            std::chrono::duration<double, std::milli>(Clock::now() - state.requestStart);
        char timing[32];
        std::snprintf(timing, sizeof timing, " %.2f ms", took.count());
        service.log_->request(state.peer + ' ' + method + ' ' + url + ' ' +
                              std::to_string(answer.status) + ' ' +
                              std::to_string(answer.body.size()) + timing);
    }
    return queued;
}

void NameService::Daemon::requestCompleted(void* self, MHD_Connection*, void** requestContext,
                                           MHD_RequestTerminationCode code)
{
    auto& daemon = *static_cast<Daemon*>(self);
    auto* state = static_cast<Connection*>(*requestContext);
    if (state == nullptr)
        return;
    if (code == MHD_REQUEST_TERMINATED_TIMEOUT_REACHED)
        daemon.log.connectionEvent("closed " + state->peer + ": answer not taken within " +
                                   std::to_string(daemon.inactivitySeconds) + " s");
    // A long body's buffer goes back; a small one is kept for the next request.
    if (state->body.capacity() > 64 * 1024)
        std::string().swap(state->body);
    state->enter(ConnectionPhase::AwaitingRequest);
    *requestContext = nullptr;
}

void NameService::Daemon::libraryMessage(void* self, const char* format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    // A client that leaves mid-request, or one our deadlines cut, is no fault to report
    // twice; the deadline's own line says why.
    if (line.starts_with("Connection socket is closed when reading request"))
        return;
    static_cast<Daemon*>(self)->log.connectionEvent("http: " + line);
}

void NameService::Daemon::enforceDeadlines()
{
    const Clock::time_point now = Clock::now();
    const bool busy = limits.busyWith(counter.open());
    std::vector<std::string> closed;
    {
        const std::lock_guard lock(registryMutex);
        for (Connection* state : connections) {
            if (state->closing)
                continue;
            const ConnectionPhase phase = state->phase.load();
            const Clock::duration elapsed =
                now - Clock::time_point(Clock::duration(state->since.load()));
            const Expiry expiry = expiryOf(phase, elapsed, limits, busy);
            if (expiry == Expiry::None)
                continue;
            state->closing = true;
            // The socket stays open until the library closes it, which it does only after
            // telling us (and so after taking the registry's lock).
            ::shutdown(state->socket, SHUT_RDWR);
            closed.push_back("closed " + state->peer + ": " + expiryText(expiry, limits, busy));
        }
    }
    for (const std::string& line : closed)
        log.connectionEvent(line, now);
    log.flushLeftOut(now);
}

void NameService::Daemon::runDeadlines()
{
    // Fine enough for the shortest limit, and never busier than ten rounds a second.
    const auto shortest = std::min(
        {limits.idleTimeout, limits.busyIdleTimeout, limits.headerTimeout, limits.requestTimeout});
    const auto step =
        std::clamp(shortest / 5, std::chrono::milliseconds(5), std::chrono::milliseconds(100));
    std::unique_lock lock(deadlineMutex);
    while (!deadlineWake.wait_for(lock, step, [this] { return deadlineStop; })) {
        lock.unlock();
        enforceDeadlines();
        lock.lock();
    }
}

bool NameService::Daemon::start(int listenSocket, int threads)
{
    // The library's own inactivity limit only guards an answer that the client does not read;
    // every other wait has a deadline of ours, which comes first.
    const auto longest =
        std::max({limits.idleTimeout, limits.headerTimeout, limits.requestTimeout});
    inactivitySeconds =
        unsigned(std::chrono::duration_cast<std::chrono::seconds>(longest).count() + 2);
    // The library splits its own limit among the threads; ours counts them all.
    const auto libraryLimit = unsigned(std::min<std::size_t>(
        (limits.maxConnections + 16) * std::size_t(std::max(1, threads)), 1u << 20));
    unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ERROR_LOG | MHD_USE_TURBO;
    // One thread runs without a pool; the library warns about a pool of one.
    MHD_OptionItem pool[] = {
        {threads > 1 ? MHD_OPTION_THREAD_POOL_SIZE : MHD_OPTION_END, intptr_t(threads), nullptr},
        {MHD_OPTION_END, 0, nullptr}};
    mhd = MHD_start_daemon(
        flags, 0, &Daemon::acceptPolicy, this, &Daemon::handleRequest, this,
        MHD_OPTION_EXTERNAL_LOGGER, &Daemon::libraryMessage, this, MHD_OPTION_LISTEN_SOCKET,
        listenSocket, MHD_OPTION_ARRAY, pool, MHD_OPTION_CONNECTION_LIMIT, libraryLimit,
        MHD_OPTION_CONNECTION_TIMEOUT, inactivitySeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        std::size_t(kPoolBytes), MHD_OPTION_NOTIFY_CONNECTION, &Daemon::notifyConnection, this,
        MHD_OPTION_NOTIFY_COMPLETED, &Daemon::requestCompleted, this, MHD_OPTION_URI_LOG_CALLBACK,
        &Daemon::requestLineArrived, this, MHD_OPTION_END);
    if (mhd == nullptr)
        return false;
    deadlineThread = std::thread([this] { runDeadlines(); });
    return true;
}

void NameService::Daemon::stop()
{
    {
        const std::lock_guard lock(deadlineMutex);
        deadlineStop = true;
    }
    deadlineWake.notify_all();
    if (deadlineThread.joinable())
        deadlineThread.join();
    if (mhd != nullptr)
        MHD_stop_daemon(mhd);
    mhd = nullptr;
}

int defaultEventThreads()
{
    return std::max(1, int(std::thread::hardware_concurrency() / 2));
}

NameService::NameService(NameDirectory directory, ServiceOptions options, OperatorLog* log)
    : directory_(std::move(directory))
    , options_(std::move(options))
    , ownLog_(log == nullptr ? std::make_unique<OperatorLog>(stderr) : nullptr)
    , log_(log == nullptr ? ownLog_.get() : log)
    , statusPage_(statusPageHtml(directory_, options_.databaseLabel))
{}

NameService::~NameService()
{
    if (listenSocket_ >= 0)
        ::close(listenSocket_);
}

int NameService::bind()
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(options_.port);
    if (getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &found) != 0)
        return -1;
    int bound = -1;
    for (addrinfo* address = found; address != nullptr && bound < 0; address = address->ai_next) {
        const int socket =
            ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket < 0)
            continue;
        // Address reuse for quick restarts, but no port sharing: a second server on a busy
        // port must fail instead of silently taking half the requests.
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(socket, address->ai_addr, address->ai_addrlen) == 0 &&
            ::listen(socket, SOMAXCONN) == 0)
            bound = socket;
        else
            ::close(socket);
    }
    freeaddrinfo(found);
    if (bound < 0)
        return -1;
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    getsockname(bound, reinterpret_cast<sockaddr*>(&local), &length);
    listenSocket_ = bound;
    return local.ss_family == AF_INET6
               ? ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port)
               : ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port);
}

bool NameService::serve()
{
    std::unique_lock lock(mutex_);
    if (stopRequested_)
        return true;
    if (listenSocket_ < 0)
        return false;
    Daemon daemon(*this, options_.limits, *log_);
    if (!daemon.start(listenSocket_, options_.threads))
        return false;
    listenSocket_ = -1; // the library closes it when it stops
    stopped_.wait(lock, [this] { return stopRequested_; });
    lock.unlock();
    daemon.stop();
    return true;
}

void NameService::stop()
{
    {
        const std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    stopped_.notify_all();
}

HttpAnswer NameService::answerRequest(std::string_view method, std::string_view path,
                                      const std::string& body) const
{
    if (path == "/trfc/" && method == "POST") {
        const ParsedRequest parsed = parseRequestBody(body);
        if (!parsed.wellFormed)
            return HttpAnswer{400, "text/plain", parsed.error};
        return HttpAnswer{200, kAnswerContentType, buildAnswer(parsed.items, directory_)};
    }
    if (path == "/" && (method == "GET" || method == "HEAD"))
        return HttpAnswer{200, "text/html; charset=utf-8", statusPage_};
    return HttpAnswer{404, {}, {}};
}

HttpAnswer bodyTooLargeAnswer()
{
    return HttpAnswer{413, {}, {}, true};
}

bool parseListenAddress(const QString& text, std::string& host, int& port)
{
    const qsizetype colon = text.lastIndexOf(u':');
    const QString hostText = colon < 0 ? QStringLiteral("127.0.0.1") : text.left(colon);
    bool ok = false;
    const int portValue = text.mid(colon + 1).toInt(&ok);
    if (!ok || portValue < 0 || portValue > 65535)
        return false;
    QString hostName = hostText;
    if (hostName.startsWith(u'[') && hostName.endsWith(u']'))
        hostName = hostName.mid(1, hostName.size() - 2); // [::1]
    host = hostName.isEmpty() ? std::string("127.0.0.1") : hostName.toStdString();
    port = portValue;
    return true;
}

} // namespace ridelog::nameserver
