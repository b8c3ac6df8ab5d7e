// The station-name server on loopback, client and server on the same cores. Three runs:
//   load [CLIENTS] [SECONDS] [THREADS]  client threads post 20-item look-ups (14 rail, 3 bus,
//       3 shop, a few unknown) over keep-alive connections; requests per second, latencies.
//   hostile [SECONDS] [THREADS]  64 clients send headers a byte a second and 16 keep-alive
//       connections send a request every 4 s, while a normal client posts one look-up every
//       10 ms on a new connection, as Ridelog does; its latencies.
//   idle [CONNECTIONS] [THREADS]  opens that many keep-alive connections, each answered once,
//       and reports the server's resident memory before and with them.
// The server runs in this process unless --port PORT names one already running (then --pid
// PID names it for its memory). Names come from the public code tables when they are present,
// else from the sample tables of data/. The first argument may be left out: load.
#include "httpservice.h"
#include "namedata/tableimport.h"
#include "support/httpclient.h"

#include <QDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace ridelog::nameserver;
using namespace ridelog::testsupport;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

NameDirectory loadNames()
{
    NameDirectory names;
    const QDir codes(QStringLiteral(RIDELOG_CODES_DIR));
    for (const char* table : {"rail_station_codes_current.csv", "rail_station_codes_2014.csv",
                              "sfcardfan_all_sheets.csv"})
        if (codes.exists(QString::fromLatin1(table)))
            importTableFile(codes.filePath(QString::fromLatin1(table)), names);
    const QDir samples(QStringLiteral(RIDELOG_SOURCE_DIR "/data"));
    for (const char* table : {"sample-names.csv", "sample-bus-shops.csv"})
        importTableFile(samples.filePath(QString::fromLatin1(table)), names);
    return names;
}

// 20 items as Ridelog sends them after reading a card in daily use.
std::string twentyItemBody(int variant)
{
    std::string items;
    const auto add = [&items](int serial, const char* code, int a, int b, int c) {
        items += std::to_string(serial) + code + "%2c" + std::to_string(a) + "%2c" +
                 std::to_string(b) + "%2c" + std::to_string(c) + "%3a";
    };
    const int serial = 1000 + variant * 20;
    for (int i = 0; i < 7; ++i) {
        add(serial + i, "02", 0, 37, 10 - (i + variant) % 4);
        add(serial + i, "04", 0, 37 + i % 2, 7 + (i * 5 + variant) % 40);
    }
    for (int i = 0; i < 3; ++i)
        add(serial + 7 + i, "20", 0xA3C, 0x12 + i, 0);
    for (int i = 0; i < 3; ++i)
        add(serial + 10 + i, "11", 0xC7, 0x12C + i * 0x100, 0);
    return "a=" + items + "&p=ap&";
}

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Latencies
{
    std::vector<double> ms;
    int failures = 0;

    void add(const Latencies& other)
    {
        ms.insert(ms.end(), other.ms.begin(), other.ms.end());
        failures += other.failures;
    }
    double at(double fraction)
    {
        if (ms.empty())
            return 0;
        std::sort(ms.begin(), ms.end());
        return ms[std::min(ms.size() - 1, std::size_t(fraction * double(ms.size())))];
    }
    void print(const char* what)
    {
        const double p50 = at(0.5), p90 = at(0.9), p99 = at(0.99);
        std::printf("%s latency ms: p50 %.3f  p90 %.3f  p99 %.3f  max %.3f  (%zu requests, "
                    "%d failures)\n",
                    what, p50, p90, p99, ms.empty() ? 0.0 : ms.back(), ms.size(), failures);
    }
};

bool goodAnswer(const std::optional<HttpReply>& reply)
{
    return reply && reply->status == 200 && reply->body.size() >= 100;
}

// Keep-alive client: posts look-ups back to back until `end`, reconnecting when the server
// closes the connection.
void postUntil(int port, Clock::time_point end, int seed, Latencies& result)
{
    std::vector<std::string> requests;
    for (int v = 0; v < 8; ++v)
        requests.push_back(postRequest("/trfc/", twentyItemBody(v + seed)));
    auto connection = std::make_unique<LoopbackConnection>(port);
    for (std::size_t i = 0; Clock::now() < end; ++i) {
        const auto start = Clock::now();
        std::optional<HttpReply> reply;
        if (connection->send(requests[i % requests.size()]))
            reply = connection->read();
        result.ms.push_back(millisecondsSince(start));
        const bool good = goodAnswer(reply);
        result.failures += good ? 0 : 1;
        // A server may end a kept-alive connection after some requests; it says so.
        if (!good || reply->header("Connection") == "close")
            connection = std::make_unique<LoopbackConnection>(port);
    }
}

// The server of the run: in this process, or the one at --port.
class Server
{
public:
    Server(std::optional<int> externalPort, int externalPid, ServiceOptions options)
        : pid_(externalPid)
    {
        if (externalPort) {
            port_ = *externalPort;
            return;
        }
        NameDirectory names = loadNames();
        std::printf("names: %zu stations, %zu bus stops, %zu shops\n", names.railCount(),
                    names.busCount(), names.shopCount());
        options.port = 0;
        service_ = std::make_unique<NameService>(std::move(names), options);
        port_ = service_->bind();
        thread_ = std::thread([this] { service_->serve(); });
    }
    ~Server()
    {
        if (service_) {
            service_->stop();
            thread_.join();
        }
    }
    int port() const { return port_; }
    // Resident memory in KiB; 0 when unknown.
    long residentKiB() const
    {
        const std::string path =
            pid_ > 0 ? "/proc/" + std::to_string(pid_) + "/status" : "/proc/self/status";
        std::ifstream status(path);
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0)
                return std::atol(line.c_str() + 6);
        return 0;
    }

private:
    int pid_;
    int port_ = -1;
    std::unique_ptr<NameService> service_;
    std::thread thread_;
};

int runLoad(Server& server, int clients, int seconds, int threads)
{
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    std::vector<Latencies> results(static_cast<std::size_t>(clients));
    std::vector<std::thread> workers;
    const auto start = Clock::now();
    for (int c = 0; c < clients; ++c)
        workers.emplace_back(postUntil, server.port(), end, c, std::ref(results[std::size_t(c)]));
    for (std::thread& worker : workers)
        worker.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    Latencies all;
    for (const Latencies& result : results)
        all.add(result);
    std::printf("%d clients, %d server threads, %.1f s, 20 items per request\n", clients, threads,
                elapsed);
    std::printf("requests: %zu (%.0f per second), failures: %d\n", all.ms.size(),
                double(all.ms.size()) / elapsed, all.failures);
    all.print("all");
    return all.failures == 0 ? 0 : 1;
}

// Sends a request's headers a byte each `pause`, reconnecting whenever the server closes on it;
// counts the closes.
void dripUntil(int port, Clock::time_point end, std::chrono::milliseconds pause,
               std::atomic<int>& closes)
{
    const std::string request = postRequest("/trfc/", twentyItemBody(0));
    while (Clock::now() < end) {
        LoopbackConnection connection(port);
        for (std::size_t i = 0; Clock::now() < end; i = (i + 1) % request.size())
            if (!connection.send(request.substr(i, 1)) || connection.closedWithin(pause)) {
                ++closes;
                break;
            }
    }
}

// A keep-alive connection that sends a request every `pause`.
void trickleUntil(int port, Clock::time_point end, std::chrono::milliseconds pause,
                  std::atomic<int>& closes)
{
    const std::string request = postRequest("/trfc/", twentyItemBody(1));
    auto connection = std::make_unique<LoopbackConnection>(port);
    while (Clock::now() < end) {
        if (!connection->send(request) || !goodAnswer(connection->read())) {
            ++closes;
            connection = std::make_unique<LoopbackConnection>(port);
            continue;
        }
        const auto wakeUp = std::min(end, Clock::now() + pause);
        while (Clock::now() < wakeUp)
            if (connection->closedWithin(
                    std::chrono::duration_cast<std::chrono::milliseconds>(wakeUp - Clock::now()))) {
                ++closes;
                connection = std::make_unique<LoopbackConnection>(port);
                break;
            }
    }
}

int runHostile(Server& server, int seconds)
{
    constexpr int kSlow = 64;
    constexpr int kKeptAlive = 16;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    std::atomic<int> slowCloses = 0;
    std::atomic<int> keptCloses = 0;
    std::vector<std::thread> hostile;
    for (int i = 0; i < kSlow; ++i)
        hostile.emplace_back(dripUntil, server.port(), end, 1000ms, std::ref(slowCloses));
    for (int i = 0; i < kKeptAlive; ++i)
        hostile.emplace_back(trickleUntil, server.port(), end, 4000ms, std::ref(keptCloses));
    std::this_thread::sleep_for(500ms); // all of them connected
    Latencies normal;
    const std::string request = postRequest("/trfc/", twentyItemBody(2));
    while (Clock::now() + 100ms < end) {
        const auto start = Clock::now();
        const bool good = goodAnswer(exchange(server.port(), request));
        normal.ms.push_back(millisecondsSince(start));
        normal.failures += good ? 0 : 1;
        std::this_thread::sleep_for(10ms);
    }
    for (std::thread& thread : hostile)
        thread.join();
    std::printf("%d slow-header clients (closed by the server %d times), %d keep-alive clients "
                "with a request every 4 s (closed %d times), %d s\n",
                kSlow, slowCloses.load(), kKeptAlive, keptCloses.load(), seconds);
    normal.print("normal client, new connection per look-up,");
    return normal.failures == 0 ? 0 : 1;
}

int runIdle(Server& server, int count)
{
    std::this_thread::sleep_for(200ms);
    const long before = server.residentKiB();
    const std::string request = postRequest("/trfc/", twentyItemBody(3));
    std::vector<std::unique_ptr<LoopbackConnection>> idle;
    for (int i = 0; i < count; ++i) {
        idle.push_back(std::make_unique<LoopbackConnection>(server.port()));
        idle.back()->send(request);
    }
    // All answers within 5 s in all, so a server that serves one connection per thread
    // cannot stall the run.
    const auto deadline = Clock::now() + 5s;
    int answered = 0;
    for (const auto& connection : idle) {
        const auto left = std::max(
            std::chrono::milliseconds(1),
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        answered += goodAnswer(connection->read(left)) ? 1 : 0;
    }
    std::this_thread::sleep_for(500ms);
    const long with = server.residentKiB();
    int stillOpen = 0;
    for (const auto& connection : idle)
        stillOpen += connection->closedWithin(0ms) ? 0 : 1;
    std::printf("%d connections: %d answered once, %d still open; server resident memory "
                "%.1f MB before, %.1f MB with them (%.1f KB each)\n",
                count, answered, stillOpen, double(before) / 1024, double(with) / 1024,
                count > 0 ? double(with - before) / count : 0.0);
    return stillOpen == count ? 0 : 1;
}

int positional(const std::vector<std::string>& words, std::size_t index, int fallback)
{
    return index < words.size() ? std::atoi(words[index].c_str()) : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> words;
    std::optional<int> port;
    int pid = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc)
            port = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--pid") == 0 && i + 1 < argc)
            pid = std::atoi(argv[++i]);
        else
            words.emplace_back(argv[i]);
    }
    std::string mode = "load";
    if (!words.empty() && (words[0] == "load" || words[0] == "hostile" || words[0] == "idle")) {
        mode = words[0];
        words.erase(words.begin());
    }
    ServiceOptions options;
    if (mode == "load") {
        options.threads = positional(words, 2, options.threads);
        Server server(port, pid, options);
        return runLoad(server, positional(words, 0, 4), positional(words, 1, 5), options.threads);
    }
    if (mode == "hostile") {
        options.threads = positional(words, 1, options.threads);
        Server server(port, pid, options);
        return runHostile(server, positional(words, 0, 10));
    }
    const int count = positional(words, 0, 1000);
    options.threads = positional(words, 1, options.threads);
    options.limits.maxConnectionsPerAddress = 0; // every client is on 127.0.0.1
    options.limits.maxConnections = std::size_t(count) * 2 + 16;
    Server server(port, pid, options);
    return runIdle(server, count);
}
