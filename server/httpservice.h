// The HTTP side of the name server: POST "/trfc/" answers look-ups, GET "/" shows what the
// server knows. libmicrohttpd reads requests on a few event threads (epoll), so an idle or slow
// connection holds no thread; only a whole request reaches answerRequest(). The names are
// read-only while serving.
#pragma once

#include "connectionlimits.h"
#include "namedata/namedirectory.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace ridelog::nameserver {

class OperatorLog;

// Half the processors, at least one: one thread answers tens of thousands of look-ups a
// second, and on a small machine a second one mostly competes with the clients for the cores.
int defaultEventThreads();

struct ServiceOptions
{
    std::string host = "127.0.0.1";
    int port = 8780;                     // 0 picks a free port
    int threads = defaultEventThreads(); // each serves many connections
    QString databaseLabel;               // shown on the status page
    ConnectionLimits limits;
    bool logRequests = false;
};

// What the server answers to one whole request.
struct HttpAnswer
{
    int status = 200;
    std::string contentType; // none when empty
    std::string body;
    bool closeConnection = false;
};

class NameService
{
public:
    // Log lines go to `log` (standard error when null).
    NameService(NameDirectory directory, ServiceOptions options, OperatorLog* log = nullptr);
    ~NameService();
    NameService(const NameService&) = delete;
    NameService& operator=(const NameService&) = delete;

    // Opens the listening socket; the port bound (the chosen one for port 0), or -1.
    int bind();
    // Serves until stop(); false when the server cannot start.
    bool serve();
    // Thread-safe, and safe before serve() has started: serve() then returns at once.
    void stop();

    // The answer to one whole request; public for tests that bypass the socket.
    HttpAnswer answerRequest(std::string_view method, std::string_view path,
                             const std::string& body) const;

    struct Daemon; // the library's side, in the source file

private:
    NameDirectory directory_;
    ServiceOptions options_;
    std::unique_ptr<OperatorLog> ownLog_;
    OperatorLog* log_;
    std::string statusPage_;
    int listenSocket_ = -1;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopRequested_ = false;
};

// An answer over the body limit.
HttpAnswer bodyTooLargeAnswer();

// Parses "HOST:PORT" (or ":PORT", or "PORT"); false when it is not one.
bool parseListenAddress(const QString& text, std::string& host, int& port);

} // namespace ridelog::nameserver
