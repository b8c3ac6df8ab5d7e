// The station-name server on loopback: client threads post 20-item look-ups (14 rail, 3 bus,
// 3 shop, a few of them unknown) over keep-alive connections for a fixed time; reports
// requests per second and latency percentiles. Names come from the public code tables when
// they are present, else from the sample tables of data/.
#include "httpservice.h"
#include "namedata/tableimport.h"

#include <QDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <httplib.h>
#include <thread>
#include <vector>

using namespace ridelog::nameserver;
using Clock = std::chrono::steady_clock;

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

struct ClientResult
{
    std::vector<double> latenciesMs;
    int failures = 0;
};

void runClient(int port, Clock::time_point end, int seed, ClientResult& result)
{
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    std::vector<std::string> bodies;
    for (int v = 0; v < 8; ++v)
        bodies.push_back(twentyItemBody(v + seed));
    for (std::size_t i = 0; Clock::now() < end; ++i) {
        const auto start = Clock::now();
        const auto answer =
            client.Post("/trfc/", bodies[i % bodies.size()], "application/x-www-form-urlencoded");
        const auto stop = Clock::now();
        if (!answer || answer->status != 200 || answer->body.size() < 100)
            ++result.failures;
        result.latenciesMs.push_back(
            std::chrono::duration<double, std::milli>(stop - start).count());
    }
}

double percentile(const std::vector<double>& sorted, double fraction)
{
    if (sorted.empty())
        return 0;
    return sorted[std::min(sorted.size() - 1, std::size_t(fraction * double(sorted.size())))];
}

int argumentOr(int argc, char** argv, int index, int fallback)
{
    return argc > index ? std::atoi(argv[index]) : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    const int clients = argumentOr(argc, argv, 1, 4);
    const int seconds = argumentOr(argc, argv, 2, 5);
    const int threads = argumentOr(argc, argv, 3, 8);

    NameDirectory names = loadNames();
    std::printf("names: %zu stations, %zu bus stops, %zu shops\n", names.railCount(),
                names.busCount(), names.shopCount());
    NameService service(std::move(names), ServiceOptions{"127.0.0.1", 0, threads, {}});
    const int port = service.bind();
    if (port < 0) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }
    std::thread server([&service] { service.serve(); });

    const auto end = Clock::now() + std::chrono::seconds(seconds);
    std::vector<ClientResult> results(static_cast<std::size_t>(clients));
    std::vector<std::thread> workers;
    const auto start = Clock::now();
    for (int c = 0; c < clients; ++c)
        workers.emplace_back(runClient, port, end, c, std::ref(results[std::size_t(c)]));
    for (std::thread& worker : workers)
        worker.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    service.stop();
    server.join();

    std::vector<double> latencies;
    int failures = 0;
    for (const ClientResult& result : results) {
        latencies.insert(latencies.end(), result.latenciesMs.begin(), result.latenciesMs.end());
        failures += result.failures;
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("%d clients, %d server threads, %.1f s, 20 items per request\n", clients, threads,
                elapsed);
    std::printf("requests: %zu (%.0f per second), failures: %d\n", latencies.size(),
                double(latencies.size()) / elapsed, failures);
    std::printf("latency ms: p50 %.3f  p90 %.3f  p99 %.3f  max %.3f\n", percentile(latencies, 0.5),
                percentile(latencies, 0.9), percentile(latencies, 0.99),
                latencies.empty() ? 0.0 : latencies.back());
    return failures == 0 ? 0 : 1;
}
