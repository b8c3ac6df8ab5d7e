// The HTTP side of the name server: POST "/trfc/" answers look-ups, GET "/" shows what the
// server knows. Requests run on a pool of threads; the names are read-only while serving.
#pragma once

#include "namedata/namedirectory.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace ridelog::nameserver {

struct ServiceOptions
{
    std::string host = "127.0.0.1";
    int port = 8780; // 0 picks a free port
    int threads = 16;
    QString databaseLabel; // shown on the status page
    // Each request must arrive whole within this time, or its connection is closed: slow
    // clients cannot hold the threads of the pool.
    std::chrono::milliseconds requestDeadline{5000};
};

class NameService
{
public:
    NameService(NameDirectory directory, ServiceOptions options);
    ~NameService();
    NameService(const NameService&) = delete;
    NameService& operator=(const NameService&) = delete;

    // Opens the listening socket; the port bound (the chosen one for port 0), or -1.
    int bind();
    // Serves until stop(); false when the socket fails.
    bool serve();
    // Thread-safe, and safe before serve() has started: serve() then returns at once.
    void stop();

    // The handlers, public for tests that bypass the socket.
    void answerNameRequest(const std::string& body, httplib::Response& response) const;
    void answerStatusPage(const httplib::Request& request, httplib::Response& response) const;

private:
    NameDirectory directory_;
    ServiceOptions options_;
    std::unique_ptr<httplib::Server> http_;
    std::atomic<bool> serving_ = false;
    std::atomic<bool> stopRequested_ = false;
};

// Parses "HOST:PORT" (or ":PORT", or "PORT"); false when it is not one.
bool parseListenAddress(const QString& text, std::string& host, int& port);

} // namespace ridelog::nameserver
