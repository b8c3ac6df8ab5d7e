// One exchange with the name server on this machine: the request on the wire, proxies and
// cookies, failures and garbage, the bound on the answer, and the time-outs.
#include "namerefreshfixture.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>

using namespace ridelog;
using namespace ridelog::test;

class TestNameExchange : public QObject
{
    Q_OBJECT

private slots:
    void requestOnTheWire();
    void loopbackBypassesSystemProxy();
    void cookiesNeverSent();
    void failedExchangeFillsNothing_data();
    void failedExchangeFillsNothing();
    void oversizedAnswerCutOff();
    void answerAtTheBound_data();
    void answerAtTheBound();
    // Time-outs
    void hangingServerTimesOut();
    void unansweredConnectTimesOut();
    void tricklingAnswerEndsAtTotalTimeOut();
};

void TestNameExchange::requestOnTheWire()
{
    FakeNameServer server;
    QVERIFY(server.listening());
    server.respondWith(answering(QStringLiteral("12302,JR,山手,新宿:")));
    const QString items = railEntryItem(123, {0, 37, 10}) + railExitItem(123, {0, 37, 25});
    NameRefreshTable table;
    QCOMPARE(RequestNames(table, items, allParts(), server.url(), kShortTimeouts), QString());
    QCOMPARE(table.rowFor(QStringLiteral("123")).entryName, kShinjuku);

    QCOMPARE(server.requests().size(), 1);
    const FakeNameServer::Request& request = server.requests().first();
    QVERIFY2(request.head.startsWith("POST /trfc/ HTTP/1.1\r\n"), request.head.constData());
    QCOMPARE(request.body, QByteArray("a=12302%2c0%2c37%2c10%3a12304%2c0%2c37%2c25%3a&p=ap&"));
    QVERIFY(request.head.contains("\r\nContent-type: application/x-www-form-urlencoded\r\n"));
    QCOMPARE(FakeNameServer::headerValue(request.head, "Accept"), QByteArray("text/*"));
    QCOMPARE(FakeNameServer::headerValue(request.head, "User-Agent"),
             QByteArray("Hotaru RLG1.2 (Station: ) Agent"));
    QVERIFY(FakeNameServer::headerValue(request.head, "Cookie").isEmpty());
}

void TestNameExchange::loopbackBypassesSystemProxy()
{
    // The system names a proxy that answers everything with 502; Qt reaches a server on this
    // machine directly all the same.
    FakeNameServer proxy;
    proxy.respondWith(answering(QString(), 502));
    qputenv("http_proxy", proxy.url().toString().toLatin1());
    qputenv("no_proxy", "");
    FakeNameServer server;
    server.respondWith(answering(QStringLiteral("520,A社,駅前, :")));
    NameRefreshTable table;
    const QString result =
        RequestNames(table, busItem(5, {1, 2}), allParts(), server.url(), kShortTimeouts);
    qunsetenv("http_proxy");
    qunsetenv("no_proxy");
    QCOMPARE(result, QString());
    QVERIFY(proxy.requests().isEmpty());
    QCOMPARE(table.rowFor(QStringLiteral("5")).entryName, QStringLiteral("駅前(A社)"));
}

void TestNameExchange::cookiesNeverSent()
{
    FakeNameServer server;
    server.respondWith([](const FakeNameServer::Request&) {
        return QByteArrayLiteral("HTTP/1.1 200 OK\r\nSet-Cookie: session=1; Path=/\r\n"
                                 "Content-Length: 7\r\nConnection: close\r\n\r\nNo data");
    });
    NameExchange exchange;
    QSignalSpy finished(&exchange, &NameExchange::finished);
    for (int i = 0; i < 2; ++i) {
        exchange.start(server.url(), busItem(1, {}), kShortTimeouts);
        QVERIFY(finished.wait(10000));
    }
    QCOMPARE(server.requests().size(), 2);
    QVERIFY(FakeNameServer::headerValue(server.requests().at(1).head, "Cookie").isEmpty());
}

void TestNameExchange::failedExchangeFillsNothing_data()
{
    QTest::addColumn<bool>("serverGone");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("result"); // empty: any error that is no HTTP status
    QTest::newRow("404") << false << FakeNameServer::response(404, "12302,JR,Y,S:")
                         << QStringLiteral("Error 404");
    QTest::newRow("500") << false << FakeNameServer::response(500, "12302,JR,Y,S:")
                         << QStringLiteral("Error 500");
    QTest::newRow("garbage bytes")
        << false << QByteArray("\x00\xff\x81:garbage,\x7f\r\n\r\n\xfe", 18) << QString();
    QTest::newRow("connection refused") << true << QByteArray() << QString();
}

void TestNameExchange::failedExchangeFillsNothing()
{
    QFETCH(bool, serverGone);
    QFETCH(QByteArray, reply);
    QFETCH(QString, result);
    FakeNameServer server;
    server.respondWith([reply](const FakeNameServer::Request&) { return reply; });
    const QUrl url = serverGone ? closedLoopbackUrl() : server.url();
    NameRefreshTable table;
    QElapsedTimer clock;
    clock.start();
    const QString got = RequestNames(table, busItem(1, {}), {}, url, kShortTimeouts);
    qInfo("%s", qPrintable(got));
    if (result.isEmpty())
        QVERIFY2(!got.isEmpty() && !got.startsWith(QStringLiteral("Error ")), qPrintable(got));
    else
        QCOMPARE(got, result);
    QVERIFY(got.size() <= 511);
    if (serverGone)
        QVERIFY(clock.elapsed() < 5000);
    QVERIFY(table.empty());
}

void TestNameExchange::oversizedAnswerCutOff()
{
    QByteArray body;
    for (int serial = 1; body.size() < 2 * 1024 * 1024; ++serial)
        body += QByteArray::number(serial) + QByteArrayLiteral("02,JR,Yamanote,Shinjuku:");
    FakeNameServer server;
    server.respondWith(
        [body](const FakeNameServer::Request&) { return FakeNameServer::response(200, body); });
    NameRefreshTable table;
    DisplayFlags flags;
    flags.railCompanyShown = flags.railLineShown = false;
    const QString result = RequestNames(table, busItem(1, {}), flags, server.url(), kShortTimeouts);
    QVERIFY2(result.contains(QStringLiteral("cut off")), qPrintable(result));
    QVERIFY(table.size() > 1000);
    const qsizetype keptBytes = body.first(kMaxNameAnswerBytes).lastIndexOf(':') + 1;
    QCOMPARE(qsizetype(table.size()), body.first(keptBytes).count(':'));
    for (const auto& [key, row] : table)
        QCOMPARE(row.entryName, QStringLiteral("Shinjuku"));
}

void TestNameExchange::answerAtTheBound_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("cutOff");
    QTest::newRow("exactly 1 MiB") << kMaxNameAnswerBytes << false;
    QTest::newRow("one byte more") << kMaxNameAnswerBytes + 1 << true;
}

void TestNameExchange::answerAtTheBound()
{
    QFETCH(qsizetype, size);
    QFETCH(bool, cutOff);
    // One record whose station name fills the answer up to size, then one short record.
    const QByteArray tail = QByteArrayLiteral("45602,J,L,S:");
    const QByteArray head = QByteArrayLiteral("12302,J,L,");
    QByteArray body = head + QByteArray(size - head.size() - 1 - tail.size(), 'x') + ':' + tail;
    QCOMPARE(body.size(), size);
    FakeNameServer server;
    server.respondWith(
        [body](const FakeNameServer::Request&) { return FakeNameServer::response(200, body); });
    NameRefreshTable table;
    const QString result = RequestNames(table, busItem(1, {}), {}, server.url(), kShortTimeouts);
    QCOMPARE(result.isEmpty(), !cutOff);
    QCOMPARE(table.rowFor(QStringLiteral("123")).sn, QString(kMaxNamePartCharacters, u'x'));
    // The last record lies beyond the bound when cut off, and is dropped whole.
    QCOMPARE(table.rowFor(QStringLiteral("456")).sn.isEmpty(), cutOff);
}

void TestNameExchange::hangingServerTimesOut()
{
    FakeNameServer server;
    server.respondWith([](const FakeNameServer::Request&) { return QByteArray(); });
    NameRefreshTable table;
    QElapsedTimer clock;
    clock.start();
    const QString result = RequestNames(table, busItem(1, {}), {}, server.url(), kShortTimeouts);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(result, QStringLiteral("The name server did not answer in time"));
    // The short time-outs, not the default ones of 10 and 30 s.
    QVERIFY2(elapsed >= 250 && elapsed < 5000, qPrintable(QString::number(elapsed)));
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(table.empty());
    // The abandoned connection is closed, not left to the server.
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 10000);
}

void TestNameExchange::unansweredConnectTimesOut()
{
    const UnansweredListener server;
    QVERIFY(!server.url().isEmpty());
    NameRefreshTable table;
    QElapsedTimer clock;
    clock.start();
    const QString result = RequestNames(table, busItem(1, {}), {}, server.url(), {300ms, 5000ms});
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(result, QStringLiteral("Connection to the name server timed out"));
    // The connect time-out (300 ms), not the 5 s of the whole exchange.
    QVERIFY2(elapsed < 4000, qPrintable(QString::number(elapsed)));
    QVERIFY(table.empty());
}

// A server that keeps sending, a byte at a time, never goes silent long enough for the
// transfer time-out; the time-out for the whole exchange ends it.
void TestNameExchange::tricklingAnswerEndsAtTotalTimeOut()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QTimer trickle;
    QPointer<QTcpSocket> socket;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        socket = server.nextPendingConnection();
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        trickle.start(50);
    });
    connect(&trickle, &QTimer::timeout, this, [&] {
        if (socket)
            socket->write("1");
    });
    NameRefreshTable table;
    QElapsedTimer clock;
    clock.start();
    const QString result = RequestNames(
        table, busItem(1, {}), {},
        QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort())), {300ms, 1000ms});
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(result, QStringLiteral("The name server did not answer in time"));
    // The whole exchange's 1 s, not the default 30 s.
    QVERIFY2(elapsed >= 900 && elapsed < 5000, qPrintable(QString::number(elapsed)));
    QVERIFY(table.empty());
}

QTEST_GUILESS_MAIN(TestNameExchange)
#include "test_nameexchange.moc"
