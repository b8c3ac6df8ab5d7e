// A small blocking HTTP/1.1 client over loopback TCP for the name server's tests and benchmark:
// it sends bytes exactly as given (pipelined, partial, malformed) and reads answers one by one.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ridelog::testsupport {

struct HttpReply
{
    int status = 0;
    std::string headers; // the header lines, each ending in "\r\n"
    std::string body;

    // The value of a header, names compared without regard to case; empty when absent.
    std::string header(std::string_view name) const;
};

class LoopbackConnection
{
public:
    explicit LoopbackConnection(int port);
    ~LoopbackConnection();
    LoopbackConnection(const LoopbackConnection&) = delete;
    LoopbackConnection& operator=(const LoopbackConnection&) = delete;

    bool connected() const { return socket_ >= 0; }
    bool send(std::string_view bytes);
    // The next answer on the connection; nothing when it is closed, cut or late.
    std::optional<HttpReply> read(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits for the server to close the connection; false when it stays open.
    bool closedWithin(std::chrono::milliseconds timeout);

private:
    bool fill(std::chrono::steady_clock::time_point deadline);

    int socket_ = -1;
    std::string buffer_;
    bool peerClosed_ = false;
};

// A POST of a form body to `path`, with the headers Ridelog sends.
std::string postRequest(std::string_view path, std::string_view body);
std::string getRequest(std::string_view path);

// One request on a connection of its own.
std::optional<HttpReply> exchange(int port, std::string_view request);

} // namespace ridelog::testsupport
