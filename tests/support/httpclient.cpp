#include "httpclient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ridelog::testsupport {

using Clock = std::chrono::steady_clock;

std::string HttpReply::header(std::string_view name) const
{
    std::size_t start = 0;
    while (start < headers.size()) {
        const std::size_t end = headers.find("\r\n", start);
        const std::string_view line(headers.data() + start,
                                    (end == std::string::npos ? headers.size() : end) - start);
        const std::size_t colon = line.find(':');
        if (colon == name.size() && strncasecmp(line.data(), name.data(), name.size()) == 0) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ')
                value.remove_prefix(1);
            return std::string(value);
        }
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    return {};
}

LoopbackConnection::LoopbackConnection(int port)
{
    const int candidate = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(candidate, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(candidate);
        return;
    }
    const int yes = 1;
    setsockopt(candidate, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    socket_ = candidate;
}

LoopbackConnection::~LoopbackConnection()
{
    if (socket_ >= 0)
        ::close(socket_);
}

bool LoopbackConnection::send(std::string_view bytes)
{
    while (socket_ >= 0 && !bytes.empty()) {
        const ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes.remove_prefix(std::size_t(sent));
    }
    return socket_ >= 0;
}

bool LoopbackConnection::fill(Clock::time_point deadline)
{
    if (socket_ < 0 || peerClosed_)
        return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd descriptor{socket_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&descriptor, 1, int(left.count())) <= 0)
        return false;
    char chunk[16384];
    const ssize_t received = ::recv(socket_, chunk, sizeof chunk, 0);
    if (received <= 0) {
        peerClosed_ = true;
        return false;
    }
    buffer_.append(chunk, std::size_t(received));
    return true;
}

std::optional<HttpReply> LoopbackConnection::read(std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    std::size_t headerEnd = 0;
    while ((headerEnd = buffer_.find("\r\n\r\n")) == std::string::npos)
        if (!fill(deadline))
            return std::nullopt;
    HttpReply reply;
    const std::size_t statusEnd = buffer_.find("\r\n");
    const std::string_view statusLine(buffer_.data(), statusEnd);
    if (statusLine.size() < 12 || !statusLine.starts_with("HTTP/1."))
        return std::nullopt;
    std::from_chars(statusLine.data() + 9, statusLine.data() + 12, reply.status);
    reply.headers = buffer_.substr(statusEnd + 2, headerEnd + 2 - (statusEnd + 2));
    std::size_t length = 0;
    const std::string lengthText = reply.header("Content-Length");
    std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
    const std::size_t bodyStart = headerEnd + 4;
    while (buffer_.size() < bodyStart + length)
        if (!fill(deadline))
            return std::nullopt;
    reply.body = buffer_.substr(bodyStart, length);
    buffer_.erase(0, bodyStart + length);
    return reply;
}

bool LoopbackConnection::closedWithin(std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!peerClosed_ && Clock::now() < deadline)
        fill(deadline);
    return peerClosed_;
}

std::string postRequest(std::string_view path, std::string_view body)
{
    std::string request = "POST ";
    request.append(path);
    request += " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-type: application/x-www-form-urlencoded\r\n"
               "Accept: text/*\r\nUser-Agent: Hotaru RLG1.2 (Station: ) Agent\r\n"
               "Content-Length: " +
               std::to_string(body.size()) + "\r\n\r\n";
    request.append(body);
    return request;
}

std::string getRequest(std::string_view path)
{
    std::string request = "GET ";
    request.append(path);
    request += " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    return request;
}

std::optional<HttpReply> exchange(int port, std::string_view request)
{
    LoopbackConnection connection(port);
    if (!connection.send(request))
        return std::nullopt;
    return connection.read();
}

} // namespace ridelog::testsupport
