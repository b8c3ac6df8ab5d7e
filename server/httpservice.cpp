#include "httpservice.h"

#include "answer.h"
#include "request.h"

#include <charconv>
#include <chrono>
#include <httplib.h>
#include <limits>
#include <sys/socket.h>
#include <thread>

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
    , http_(std::make_unique<httplib::Server>())
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
