#include "httpservice.h"

#include "namedata/answer.h"
#include "namedata/request.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <httplib.h>
#include <limits>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace ridelog::nameserver {

namespace {

constexpr const char* kAnswerContentType = "text/plain; charset=Shift_JIS";
constexpr std::size_t kKeepAliveRequests = 100;

// The Content-Length of a request; 0 when it has none, the largest value when it is unreadable.
std::uint64_t announcedBodyLength(const httplib::Request& request)
{
    if (!request.has_header("Content-Length"))
        return 0;
    const std::string text = request.get_header_value("Content-Length");
    std::uint64_t length = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (error != std::errc() || end != text.data() + text.size())
        return std::numeric_limits<std::uint64_t>::max();
    return length;
}

using Clock = std::chrono::steady_clock;

// How long the server waits between two requests of a kept-alive connection, in steps short
// enough to notice a stop.
constexpr std::chrono::milliseconds kIdleStep{100};

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<std::int64_t>(0, left.count()));
}

std::string addressText(const sockaddr_storage& address, int& port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    } else {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    }
    return text;
}

// One request's reading side with a deadline for the whole request: a client that sends its
// request a byte at a time cannot hold a thread of the pool for longer than the deadline.
class DeadlineStream final : public httplib::Stream
{
public:
    DeadlineStream(socket_t socket, Clock::time_point deadline, int writeTimeoutMs)
        : socket_(socket)
        , deadline_(deadline)
        , writeTimeoutMs_(writeTimeoutMs)
    {}

    bool deadlinePassed() const { return deadlinePassed_; }

    bool is_readable() const override { return begin_ < end_ || wait(POLLIN); }
    bool is_writable() const override { return waitFor(POLLOUT, writeTimeoutMs_); }

    ssize_t read(char* ptr, std::size_t size) override
    {
        if (begin_ == end_) {
            if (!wait(POLLIN))
                return -1;
            const ssize_t received = ::recv(socket_, buffer_, sizeof buffer_, 0);
            if (received <= 0)
                return received;
            begin_ = 0;
            end_ = std::size_t(received);
        }
        const std::size_t count = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_ + begin_, count);
        begin_ += count;
        return ssize_t(count);
    }

    ssize_t write(const char* ptr, std::size_t size) override
    {
        if (!is_writable())
            return -1;
        return ::send(socket_, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (getpeername(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            ip = addressText(address, port);
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            ip = addressText(address, port);
    }

    socket_t socket() const override { return socket_; }

private:
    bool wait(short events) const
    {
        const int left = millisecondsUntil(deadline_);
        if (left == 0 || !waitFor(events, left)) {
            deadlinePassed_ = deadlinePassed_ || Clock::now() >= deadline_;
            return false;
        }
        return true;
    }

    bool waitFor(short events, int timeoutMs) const
    {
        pollfd descriptor{socket_, events, 0};
        int ready = 0;
        do
            ready = ::poll(&descriptor, 1, timeoutMs);
        while (ready < 0 && errno == EINTR);
        return ready > 0;
    }

    socket_t socket_;
    Clock::time_point deadline_;
    int writeTimeoutMs_;
    mutable bool deadlinePassed_ = false;
    char buffer_[4096];
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

} // namespace

// The library's server with its connection handling replaced: each request must arrive whole
// within the deadline, counted from the moment its connection is taken up (the first request)
// or its first byte arrives (later requests of a kept-alive connection).
class DeadlineServer final : public httplib::Server
{
public:
    explicit DeadlineServer(std::chrono::milliseconds requestDeadline)
        : requestDeadline_(requestDeadline)
    {}

private:
    bool process_and_close_socket(socket_t socket) override
    {
        bool ok = false;
        Clock::time_point start = Clock::now();
        const int writeTimeoutMs = int(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000);
        for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
            if (left != keep_alive_max_count_) {
                if (!waitForNextRequest(socket))
                    break;
                start = Clock::now();
            }
            DeadlineStream stream(socket, start + requestDeadline_, writeTimeoutMs);
            bool closed = false;
            ok = process_request(stream, left == 1, closed, nullptr);
            if (!ok || closed || stream.deadlinePassed())
                break;
        }
        ::shutdown(socket, SHUT_RDWR);
        ::close(socket);
        return ok;
    }

    bool waitForNextRequest(socket_t socket) const
    {
        const Clock::time_point until =
            Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
        while (svr_sock_ != INVALID_SOCKET && Clock::now() < until) {
            pollfd descriptor{socket, POLLIN, 0};
            const int ready = ::poll(&descriptor, 1, int(kIdleStep.count()));
            if (ready > 0)
                return true;
            if (ready < 0 && errno != EINTR)
                return false;
        }
        return false;
    }

    std::chrono::milliseconds requestDeadline_;
};

namespace {

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

} // namespace

NameService::NameService(NameDirectory directory, ServiceOptions options)
    : directory_(std::move(directory))
    , options_(std::move(options))
    , http_(std::make_unique<DeadlineServer>(options_.requestDeadline))
{
    const auto threads = std::size_t(std::max(1, options_.threads));
    http_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // A body announced longer than the limit is refused before it is read; a chunked one when
    // it grows past the limit (below). Other routes never read more than the limit either.
    http_->set_pre_routing_handler(
        [](const httplib::Request& request, httplib::Response& response) {
            if (announcedBodyLength(request) <= kMaxRequestBodyBytes)
                return httplib::Server::HandlerResponse::Unhandled;
            response.status = 413;
            response.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        });
    http_->set_payload_max_length(kMaxRequestBodyBytes);
    http_->set_keep_alive_max_count(kKeepAliveRequests);
    // Answers are small and go out in one write; without this, delayed acknowledgements add
    // about 40 ms to every request of a keep-alive connection.
    http_->set_tcp_nodelay(true);
    // Address reuse for quick restarts, but no port sharing: a second server on a busy port
    // must fail instead of silently taking half the requests.
    http_->set_socket_options([](socket_t socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // The body is read here rather than by the library, which would refuse form bodies above
    // 8 KiB before any handler runs.
    http_->Post("/trfc/", [this](const httplib::Request&, httplib::Response& response,
                                 const httplib::ContentReader& readContent) {
        std::string body;
        bool tooLarge = false;
        readContent([&body, &tooLarge](const char* data, std::size_t length) {
            tooLarge = tooLarge || body.size() + length > kMaxRequestBodyBytes;
            if (!tooLarge)
                body.append(data, length);
            return !tooLarge;
        });
        if (tooLarge) {
            response.status = 413;
            return;
        }
        answerNameRequest(body, response);
    });
    http_->Get("/", [this](const httplib::Request& request, httplib::Response& response) {
        answerStatusPage(request, response);
    });
    http_->set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            response.status = 500;
            response.set_content("internal error", "text/plain");
        });
}

NameService::~NameService() = default;

int NameService::bind()
{
    if (options_.port == 0)
        return http_->bind_to_any_port(options_.host);
    return http_->bind_to_port(options_.host, options_.port) ? options_.port : -1;
}

bool NameService::serve()
{
    serving_ = true;
    const bool served = stopRequested_ || http_->listen_after_bind();
    serving_ = false;
    return served;
}

void NameService::stop()
{
    stopRequested_ = true;
    // The library ignores a stop that comes before its accept loop runs; wait for the loop.
    while (serving_ && !http_->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    http_->stop();
}

void NameService::answerNameRequest(const std::string& body, httplib::Response& response) const
{
    const ParsedRequest parsed = parseRequestBody(body);
    if (!parsed.wellFormed) {
        response.status = 400;
        response.set_content(parsed.error, "text/plain");
        return;
    }
    response.set_content(buildAnswer(parsed.items, directory_), kAnswerContentType);
}

void NameService::answerStatusPage(const httplib::Request&, httplib::Response& response) const
{
    response.set_content(statusPageHtml(directory_, options_.databaseLabel),
                         "text/html; charset=utf-8");
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
