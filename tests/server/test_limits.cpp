// The limits of the server: deadlines for headers and requests, idle keep-alive connections,
// connection caps, pipelined requests, the operator's log, and a normal client beside slow
// and idle ones.
#include "connectionlimits.h"
#include "operatorlog.h"
#include "runningservice.h"
#include "serveoptions.h"
#include "test_nameserver.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace ridelog::nameserver;
using namespace ridelog::testsupport;
using namespace std::chrono_literals;

namespace {

ServiceOptions withLimits(const std::function<void(ConnectionLimits&)>& change)
{
    ServiceOptions options = loopbackOptions();
    change(options.limits);
    return options;
}

// The request of serial `serial` for Shinjuku, and its answer.
std::string shinjukuRequest(int serial)
{
    return postRequest("/trfc/", "a=" + std::to_string(serial) + "02%2c0%2c37%2c10%3a&p=ap&");
}

QByteArray shinjukuAnswerFor(int serial)
{
    return QByteArray::number(serial) + shinjukuAnswer().mid(3);
}

// One look-up on the connection, answered right.
bool answeredOn(LoopbackConnection& connection, int serial)
{
    if (!connection.send(shinjukuRequest(serial)))
        return false;
    const auto reply = connection.read();
    return reply && reply->status == 200 &&
           QByteArray::fromStdString(reply->body) == shinjukuAnswerFor(serial);
}

// `count` keep-alive connections, each with one request answered, so the server holds them;
// fewer when one is not answered.
std::vector<std::unique_ptr<LoopbackConnection>> heldConnections(const RunningService& server,
                                                                 int count)
{
    std::vector<std::unique_ptr<LoopbackConnection>> held;
    for (int i = 0; i < count; ++i) {
        held.push_back(std::make_unique<LoopbackConnection>(server.port()));
        if (!answeredOn(*held.back(), i + 1)) {
            held.pop_back();
            break;
        }
    }
    return held;
}

// A client that sends a request a byte at a time on its own thread until the server closes
// the connection or it is told to stop.
class DripClient
{
public:
    DripClient(int port, std::chrono::milliseconds pause)
        : connection_(port)
        , thread_([this, pause] { drip(pause); })
    {}
    ~DripClient()
    {
        stop_ = true;
        thread_.join();
    }

private:
    void drip(std::chrono::milliseconds pause)
    {
        const std::string request = shinjukuRequest(123);
        for (std::size_t i = 0; !stop_; i = (i + 1) % request.size())
            if (!connection_.send(request.substr(i, 1)) || connection_.closedWithin(pause))
                break;
    }

    LoopbackConnection connection_;
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

// Waits for the server to log `text`.
bool logsSoon(const RunningService& server, const QString& text)
{
    return QTest::qWaitFor([&] { return QString::fromStdString(server.logText()).contains(text); });
}

} // namespace

class TestLimits : public QObject
{
    Q_OBJECT

private slots:
    void expiryInEachPhase_data();
    void expiryInEachPhase();
    void counterKeepsBothCaps();
    void serveOptions_data();
    void serveOptions();
    void logLeavesOutBurstsAndCountsThem();
    void slowRequestsAreCutAtTheirDeadline_data();
    void slowRequestsAreCutAtTheirDeadline();
    void idleKeepAliveIsClosed();
    void idleKeepAliveIsClosedSoonerWhenBusy();
    void pipelinedRequestsAreAnsweredInOrder_data();
    void pipelinedRequestsAreAnsweredInOrder();
    void connectionCapIsReached_data();
    void connectionCapIsReached();
    void headersUpToTheirLimitAreRead_data();
    void headersUpToTheirLimitAreRead();
    void normalClientIsAnsweredQuicklyThroughout();
    void requestLogHasOneLinePerRequest();
};

void TestLimits::expiryInEachPhase_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<int>("elapsedMs");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<int>("expected");
    const auto row = [](const char* name, ConnectionPhase phase, int ms, bool busy, Expiry e) {
        QTest::newRow(name) << int(phase) << ms << busy << int(e);
    };
    // Limits: idle 5 s, busy idle 1 s, headers 5 s, request 10 s.
    row("awaiting, fresh", ConnectionPhase::AwaitingRequest, 4999, false, Expiry::None);
    row("awaiting, idle", ConnectionPhase::AwaitingRequest, 5000, false, Expiry::Idle);
    row("awaiting, busy", ConnectionPhase::AwaitingRequest, 1000, true, Expiry::Idle);
    row("awaiting, busy, fresh", ConnectionPhase::AwaitingRequest, 999, true, Expiry::None);
    row("headers, in time", ConnectionPhase::ReadingHeaders, 4999, true, Expiry::None);
    row("headers, late", ConnectionPhase::ReadingHeaders, 5000, false, Expiry::HeadersLate);
    row("headers, past the request", ConnectionPhase::ReadingHeaders, 10000, false,
        Expiry::RequestLate);
    row("body, in time", ConnectionPhase::ReadingBody, 9999, true, Expiry::None);
    row("body, late", ConnectionPhase::ReadingBody, 10000, false, Expiry::RequestLate);
    row("answering, never", ConnectionPhase::Answering, 3600000, true, Expiry::None);
}

void TestLimits::expiryInEachPhase()
{
    QFETCH(int, phase);
    QFETCH(int, elapsedMs);
    QFETCH(bool, busy);
    QFETCH(int, expected);
    const ConnectionLimits limits;
    QCOMPARE(
        int(expiryOf(ConnectionPhase(phase), std::chrono::milliseconds(elapsedMs), limits, busy)),
        expected);
}

void TestLimits::counterKeepsBothCaps()
{
    ConnectionLimits limits;
    limits.maxConnections = 4;
    limits.maxConnectionsPerAddress = 2;
    ConnectionCounter counter(limits);
    std::string refusal;
    QVERIFY(counter.admit("192.0.2.1", refusal));
    QVERIFY(counter.admit("192.0.2.1", refusal));
    QVERIFY(!counter.admit("192.0.2.1", refusal));
    QVERIFY(refusal.find("from this address") != std::string::npos);
    QVERIFY(counter.admit("192.0.2.2", refusal));
    QVERIFY(counter.admit("2001:db8::1", refusal));
    QVERIFY(!counter.admit("192.0.2.3", refusal));
    QVERIFY(refusal.find("4 connections open") != std::string::npos);
    counter.release("192.0.2.1");
    QCOMPARE(counter.open(), std::size_t(3));
    QVERIFY(counter.admit("192.0.2.1", refusal));
    QVERIFY(limits.busyWith(3) && !limits.busyWith(2));
}

void TestLimits::serveOptions_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<bool>("valid");
    // The values as the check below prints them; threads as 0 while they keep their default.
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const char* arguments, bool valid, const char* values) {
        QTest::newRow(name) << QString::fromLatin1(arguments) << valid
                            << QString::fromLatin1(values);
    };
    row("timeouts",
        "--idle-timeout 2.5 --busy-idle-timeout 0.25 --header-timeout 3 --request-timeout 20", true,
        "2500 250 3000 20000 4096 128 0 0");
    row("caps and threads",
        "--max-connections 100 --max-connections-per-address 0 --threads 4 --log-requests", true,
        "5000 1000 5000 10000 100 0 4 1");
    row("missing value", "--header-timeout", false, "");
    row("not a number", "--idle-timeout soon", false, "");
    row("zero time", "--request-timeout 0", false, "");
    row("over an hour", "--idle-timeout 3601", false, "");
    row("no connections", "--max-connections 0", false, "");
    row("negative cap", "--max-connections-per-address -1", false, "");
    row("too many threads", "--threads 257", false, "");
}

void TestLimits::serveOptions()
{
    QFETCH(QString, arguments);
    QFETCH(bool, valid);
    QFETCH(QString, expected);
    ServiceOptions options;
    const QStringList words = arguments.split(u' ');
    bool allTaken = true;
    for (qsizetype i = 0; i < words.size(); ++i)
        allTaken = allTaken && takeServeOption(words, i, options) == OptionResult::Taken;
    QCOMPARE(allTaken, valid);
    if (!valid)
        return;
    const ConnectionLimits& l = options.limits;
    QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                 .arg(l.idleTimeout.count())
                 .arg(l.busyIdleTimeout.count())
                 .arg(l.headerTimeout.count())
                 .arg(l.requestTimeout.count())
                 .arg(l.maxConnections)
                 .arg(l.maxConnectionsPerAddress)
                 .arg(options.threads == defaultEventThreads() ? 0 : options.threads)
                 .arg(int(options.logRequests)),
             expected);
    qsizetype other = 0;
    QCOMPARE(takeServeOption({QStringLiteral("--db")}, other, options),
             OptionResult::NotAServeOption);
}

void TestLimits::logLeavesOutBurstsAndCountsThem()
{
    std::FILE* file = std::tmpfile();
    OperatorLog log(file, 10);
    const auto start = Clock::now();
    int written = 0;
    for (int i = 0; i < 1000; ++i)
        written += log.connectionEvent("refused 192.0.2.1:4000: cap", start + i * 100us) ? 1 : 0;
    QCOMPARE(written, 10);
    log.flushLeftOut(start + 500ms); // the burst's second is not over yet
    log.flushLeftOut(start + 1100ms);
    QVERIFY(log.connectionEvent("closed 192.0.2.1:4001: late", start + 1200ms));
    log.request("192.0.2.1:4002 POST /trfc/ 200 31 0.05 ms");
    std::fflush(file);
    std::rewind(file);
    std::string text(1 << 16, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    const QStringList lines = QString::fromStdString(text).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 13);
    QVERIFY2(lines[10].endsWith(u" 990 more refused or timed-out connections not logged"),
             qPrintable(lines[10]));
    QVERIFY(lines[11].endsWith(u"closed 192.0.2.1:4001: late"));
    QVERIFY(lines[0].contains(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT[0-9:]{8}Z "
                                                                "refused"))));
}

void TestLimits::slowRequestsAreCutAtTheirDeadline_data()
{
    QTest::addColumn<int>("headerMs");
    QTest::addColumn<int>("requestMs");
    QTest::addColumn<bool>("headersInTime"); // else only the request line, then a byte at a time
    QTest::addColumn<int>("latestMs");       // 0: not checked
    QTest::addColumn<QString>("logged");
    QTest::newRow("headers") << 400 << 10000 << false << 1500
                             << QStringLiteral("headers not complete within 0.4 s");
    QTest::newRow("body") << 300 << 600 << true << 0
                          << QStringLiteral("request not complete within 0.6 s");
}

void TestLimits::slowRequestsAreCutAtTheirDeadline()
{
    QFETCH(int, headerMs);
    QFETCH(int, requestMs);
    QFETCH(bool, headersInTime);
    QFETCH(int, latestMs);
    QFETCH(QString, logged);
    RunningService server(withLimits([&](ConnectionLimits& l) {
        l.headerTimeout = std::chrono::milliseconds(headerMs);
        l.requestTimeout = std::chrono::milliseconds(requestMs);
    }));
    LoopbackConnection slow(server.port());
    const std::string request = shinjukuRequest(123);
    const std::size_t atOnce =
        headersInTime ? request.find("\r\n\r\n") + 4 : request.find("\r\n") + 2;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(slow.send(request.substr(0, atOnce)));
    bool closed = false;
    for (std::size_t i = atOnce; i < request.size() && !closed; ++i)
        closed = !slow.send(request.substr(i, 1)) || slow.closedWithin(50ms);
    const qint64 held = clock.elapsed();
    QVERIFY2(closed, "the slow request was not cut");
    QVERIFY2(held >= (headersInTime ? requestMs : headerMs) - 50 &&
                 (latestMs == 0 || held < latestMs),
             qPrintable(QString::number(held)));
    QVERIFY(logsSoon(server, logged));
    QCOMPARE(server.askShinjuku(), shinjukuAnswer());
}

void TestLimits::idleKeepAliveIsClosed()
{
    RunningService server(withLimits([](ConnectionLimits& l) { l.idleTimeout = 400ms; }));
    LoopbackConnection kept(server.port());
    // A request every 200 ms keeps the connection; then silence closes it.
    for (int serial : {1, 2, 3, 4}) {
        QVERIFY(answeredOn(kept, serial));
        QVERIFY(!kept.closedWithin(200ms));
    }
    QElapsedTimer clock;
    clock.start();
    QVERIFY(kept.closedWithin(3000ms));
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(logsSoon(server, QStringLiteral("no request within 0.4 s")));
    // A connection that never sends a request goes the same way.
    LoopbackConnection silent(server.port());
    QVERIFY(silent.closedWithin(3000ms));
}

void TestLimits::idleKeepAliveIsClosedSoonerWhenBusy()
{
    // Three of four places taken: busy, so the short idle time applies.
    RunningService server(withLimits([](ConnectionLimits& l) {
        l.maxConnections = 4;
        l.idleTimeout = 30s;
        l.busyIdleTimeout = 300ms;
    }));
    auto idle = heldConnections(server, 3);
    QCOMPARE(idle.size(), std::size_t(3));
    // The oldest is idle longest and goes while three are open. Once fewer than half the places
    // are taken the server is no longer busy, and the others keep the long idle time.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(idle.front()->closedWithin(5000ms));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(logsSoon(server, QStringLiteral("no request within 0.3 s (busy)")));
    idle.clear();
    QTest::qWait(300); // the server sees the others go
    // One connection alone is not busy: it stays.
    LoopbackConnection alone(server.port());
    QVERIFY(answeredOn(alone, 9));
    QVERIFY(!alone.closedWithin(800ms));
}

void TestLimits::pipelinedRequestsAreAnsweredInOrder_data()
{
    QTest::addColumn<int>("requests");
    QTest::newRow("10") << 10;
    QTest::newRow("100") << 100;
}

void TestLimits::pipelinedRequestsAreAnsweredInOrder()
{
    QFETCH(int, requests);
    RunningService server(loopbackOptions());
    LoopbackConnection connection(server.port());
    std::string all;
    for (int serial = 1; serial <= requests; ++serial)
        all += serial % 10 == 7 ? getRequest("/missing") : shinjukuRequest(serial);
    QVERIFY(connection.send(all)); // one write
    for (int serial = 1; serial <= requests; ++serial) {
        const auto reply = connection.read(5000ms);
        QVERIFY2(reply, qPrintable(QStringLiteral("answer %1 of %2").arg(serial).arg(requests)));
        if (serial % 10 == 7) {
            QCOMPARE(reply->status, 404);
            continue;
        }
        QCOMPARE(reply->status, 200);
        QCOMPARE(QByteArray::fromStdString(reply->body), shinjukuAnswerFor(serial));
    }
    // The connection is still good for more.
    QVERIFY(answeredOn(connection, 777));
}

void TestLimits::connectionCapIsReached_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("perAddress");
    QTest::addColumn<QString>("logged");
    QTest::newRow("in all") << 3 << 0 << QStringLiteral("3 connections open, the most allowed");
    QTest::newRow("per address") << 100 << 3
                                 << QStringLiteral("3 connections open from this address");
}

void TestLimits::connectionCapIsReached()
{
    QFETCH(int, total);
    QFETCH(int, perAddress);
    QFETCH(QString, logged);
    ServiceOptions options = withLimits([&](ConnectionLimits& l) {
        l.maxConnections = std::size_t(total);
        l.maxConnectionsPerAddress = std::size_t(perAddress);
        l.busyIdleTimeout = l.idleTimeout; // busy or not, the connections stay
    });
    options.threads = 2; // each thread accepts on its own: the counts must still add up
    RunningService server(options);
    auto open = heldConnections(server, 3);
    QCOMPARE(open.size(), std::size_t(3));
    LoopbackConnection refused(server.port());
    refused.send(shinjukuRequest(4));
    QVERIFY(!refused.read(2000ms));
    QVERIFY(refused.closedWithin(2000ms));
    QVERIFY(logsSoon(server, logged));
    // The open ones still work, and a closed one makes room.
    QVERIFY(answeredOn(*open[0], 5));
    open.pop_back();
    QVERIFY(QTest::qWaitFor([&] { return !server.askShinjuku().isEmpty(); }, 3000));
}

void TestLimits::headersUpToTheirLimitAreRead_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("status");
    // Cookies are parsed into the connection's memory too, so fewer of them fit.
    QTest::newRow("a long proxy header") << QStringLiteral("X-Forwarded-For") << 7000 << 200;
    QTest::newRow("a cookie") << QStringLiteral("Cookie") << 3500 << 200;
    QTest::newRow("past the memory of a connection")
        << QStringLiteral("X-Forwarded-For") << 40000 << 431;
}

void TestLimits::headersUpToTheirLimitAreRead()
{
    QFETCH(QString, header);
    QFETCH(int, bytes);
    QFETCH(int, status);
    RunningService server(loopbackOptions());
    std::string request = shinjukuRequest(123);
    request.insert(request.find("\r\n") + 2,
                   header.toStdString() + ": " + std::string(std::size_t(bytes), 'c') + "\r\n");
    const auto reply = exchange(server.port(), request);
    QVERIFY(reply);
    QCOMPARE(reply->status, status);
    if (status == 200)
        QCOMPARE(QByteArray::fromStdString(reply->body), shinjukuAnswerFor(123));
    QCOMPARE(server.askShinjuku(), shinjukuAnswer());
}

void TestLimits::normalClientIsAnsweredQuicklyThroughout()
{
    // Beside 32 clients sending headers a byte at a time and 16 idle keep-alive connections,
    // on one event thread, with the default limits.
    ServiceOptions options = loopbackOptions();
    options.threads = 1;
    RunningService server(options);
    const auto idle = heldConnections(server, 16);
    QCOMPARE(idle.size(), std::size_t(16));
    std::vector<std::unique_ptr<DripClient>> slow;
    for (int i = 0; i < 32; ++i)
        slow.push_back(std::make_unique<DripClient>(server.port(), 100ms));
    qint64 slowest = 0;
    for (int i = 0; i < 40; ++i) {
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(server.askShinjuku(), shinjukuAnswer());
        slowest = std::max(slowest, clock.elapsed());
        std::this_thread::sleep_for(25ms);
    }
    qInfo("slowest of 40 answers beside 32 slow and 16 idle clients: %lld ms", slowest);
    QVERIFY2(slowest < 500, qPrintable(QString::number(slowest)));
    for (const auto& connection : idle)
        QVERIFY(!connection->closedWithin(0ms)); // still held: within the idle time
}

void TestLimits::requestLogHasOneLinePerRequest()
{
    ServiceOptions options = loopbackOptions();
    options.logRequests = true;
    RunningService server(options);
    QCOMPARE(server.askShinjuku(), shinjukuAnswer());
    QVERIFY(exchange(server.port(), getRequest("/nothing")));
    QVERIFY(QTest::qWaitFor([&] {
        const QString log = QString::fromStdString(server.logText());
        return log.contains(QRegularExpression(
                   QStringLiteral("Z 127\\.0\\.0\\.1:\\d+ POST /trfc/ 200 31 [0-9.]+ ms\n"))) &&
               log.contains(QRegularExpression(QStringLiteral("GET /nothing 404 0 ")));
    }));
    const QString log = QString::fromStdString(server.logText());
    QVERIFY2(log.count(u'\n') == 2, qPrintable(log));
}

static RegisterTest<TestLimits> registerLimits;

#include "test_limits.moc"
