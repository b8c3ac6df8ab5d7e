#include "httpservice.h"

#include "answer.h"
#include "request.h"

#include <httplib.h>

namespace ridelog::nameserver {

namespace {

constexpr const char* kAnswerContentType = "text/plain; charset=Shift_JIS";
constexpr std::size_t kKeepAliveRequests = 100;

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
    // Longer bodies are refused with 413 before a handler sees them.
    http_->set_payload_max_length(kMaxRequestBodyBytes);
    http_->set_keep_alive_max_count(kKeepAliveRequests);
    http_->Post("/trfc/", [this](const httplib::Request& request, httplib::Response& response) {
        answerNameRequest(request, response);
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
    return http_->listen_after_bind();
}

void NameService::stop()
{
    http_->stop();
}

void NameService::answerNameRequest(const httplib::Request& request,
                                    httplib::Response& response) const
{
    const ParsedRequest parsed = parseRequestBody(request.body);
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
