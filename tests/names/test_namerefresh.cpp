#include "fakenameserver.h"
#include "namedata/cp932.h"
#include "names/nameexchange.h"
#include "names/nameprotocol.h"
#include "names/namerefresh.h"
#include "names/namerefresher.h"
#include "testpaths.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace ridelog;
using namespace std::chrono_literals;

class TestNameRefresh : public QObject
{
    Q_OBJECT

private slots:
    void init();
    // One exchange against a local server
    void requestOnTheWire();
    void loopbackBypassesSystemProxy();
    void cookiesNeverSent();
    void errorStatusOverTheWire_data();
    void errorStatusOverTheWire();
    void refusedConnection();
    void hangingServerTimesOut();
    void unansweredConnectTimesOut();
    void tricklingAnswerEndsAtTotalTimeOut();
    void garbageBytes();
    void oversizedAnswerCutOff();
    void answerAtTheBound_data();
    void answerAtTheBound();
    // Steps on the dialog's data
    void collectItemsFollowsListRows();
    void tableKeysMustBeSerials();
    // The whole refresh
    void refreshUpdatesListCachesAndRecords();
    void oneItemPerKeyNamesEveryRow();
    void nothingToAskSendsNoRequest();
    void serverErrorChangesNothing();
    void newReadWhileRefreshPending();
    void staleAnswerNeverLands();
    void cancelDuringRefresh();
    void shutdownDuringRefresh();
    void listGoneBeforeAnswer();
    void serverChoice();
    // Which source answers
    void nameSources_data();
    void nameSources();
    void unreachableServerFallsBack_data();
    void unreachableServerFallsBack();
    void noNetworkAtAll();

private:
    // Runs one refresh of the sample card against server with the program's names file and
    // returns pane 0's text.
    QString refreshWithBuiltinNames(const QUrl& server, const NameTimeouts& timeouts);
    void fillCard();
    void fillList();
    QString listText(int row, int column) const;

    HistoryRecordSet records_;
    NameCaches caches_;
    NameRefreshTable table_;
    QStandardItemModel list_;
};

namespace {

const QString kIdm = QStringLiteral("0123456789ABCDEF");
const NameTimeouts kShortTimeouts{300ms, 1000ms};

HistoryRecord railRecord(std::uint32_t serial, StationKey entry, StationKey exit)
{
    HistoryRecord record;
    record.kind = RecordKind::Rail;
    record.serial = serial;
    record.entryKey = entry;
    record.exitKey = exit;
    return record;
}

HistoryRecord busRecord(std::uint32_t serial, BusStopKey key)
{
    HistoryRecord record;
    record.kind = RecordKind::Bus;
    record.serial = serial;
    record.busKey = key;
    return record;
}

HistoryRecord shopRecord(std::uint32_t serial, ShopKey key)
{
    HistoryRecord record;
    record.kind = RecordKind::Shop;
    record.serial = serial;
    record.shopKey = key;
    return record;
}

DisplayFlags allParts()
{
    DisplayFlags flags;
    flags.railCompanyShown = flags.railLineShown = true;
    flags.busCompanyShown = flags.busRouteShown = true;
    flags.shopInfoShown = flags.shopCompanyShown = flags.shopNameShown = true;
    flags.shopRegisterShown = false;
    return flags;
}

// Answers every request with the same records.
FakeNameServer::Responder answering(const QString& records)
{
    const QByteArray body = cp932::encode(records);
    return [body](const FakeNameServer::Request&) { return FakeNameServer::response(200, body); };
}

const QString kFullAnswer = QStringLiteral("12302,JR,山手,新宿:12304,JR,山手,渋谷:"
                                           "12420,A社,駅前,X系統:12511,K社,売店, , :");

} // namespace

void TestNameRefresh::init()
{
    records_.clear();
    caches_.stations.clear();
    caches_.busStops.clear();
    caches_.shops.clear();
    table_.clear();
    list_.clear();
    list_.setColumnCount(7);
}

// Newest first, as the list shows them: a named rail record, a shop, a bus stop and an
// unnamed rail journey.
void TestNameRefresh::fillCard()
{
    HistoryRecord named = railRecord(126, {0, 1, 1}, {0, 1, 2});
    named.entryName = QStringLiteral("東京");
    named.exitName = QStringLiteral("神田");
    records_.insert(named);
    records_.insert(shopRecord(125, {1, 199, 40000}));
    records_.insert(busRecord(124, {32769, 5}));
    records_.insert(railRecord(123, {0, 37, 10}, {0, 37, 25}));
    fillList();
}

void TestNameRefresh::fillList()
{
    list_.setRowCount(0);
    std::vector<const HistoryRecord*> newestFirst;
    for (const HistoryRecord& record : records_)
        newestFirst.insert(newestFirst.begin(), &record);
    for (const HistoryRecord* record : newestFirst) {
        QList<QStandardItem*> row;
        row << new QStandardItem(QString::number(record->serial));
        for (int column = 1; column < 7; ++column)
            row << new QStandardItem(QStringLiteral("c%1").arg(column));
        list_.appendRow(row);
    }
}

QString TestNameRefresh::listText(int row, int column) const
{
    return list_.data(list_.index(row, column), Qt::DisplayRole).toString();
}

void TestNameRefresh::requestOnTheWire()
{
    FakeNameServer server;
    QVERIFY(server.listening());
    server.respondWith(answering(QStringLiteral("12302,JR,山手,新宿:")));
    const QString items = railEntryItem(123, {0, 37, 10}) + railExitItem(123, {0, 37, 25});
    NameRefreshTable table;
    QCOMPARE(RequestNames(table, items, allParts(), server.url(), kShortTimeouts), QString());
    QCOMPARE(table.rowFor(QStringLiteral("123")).entryName, QStringLiteral("新宿(JR：山手線)"));

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

void TestNameRefresh::loopbackBypassesSystemProxy()
{
    // The system names a proxy that answers everything with 502; Qt reaches a server on this
    // machine directly all the same.
    FakeNameServer proxy;
    proxy.respondWith(
        [](const FakeNameServer::Request&) { return FakeNameServer::response(502, {}); });
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

void TestNameRefresh::cookiesNeverSent()
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

void TestNameRefresh::errorStatusOverTheWire_data()
{
    QTest::addColumn<int>("status");
    QTest::newRow("404") << 404;
    QTest::newRow("500") << 500;
}

void TestNameRefresh::errorStatusOverTheWire()
{
    QFETCH(int, status);
    FakeNameServer server;
    server.respondWith([status](const FakeNameServer::Request&) {
        return FakeNameServer::response(status, "12302,JR,Y,S:");
    });
    NameRefreshTable table;
    QCOMPARE(RequestNames(table, busItem(1, {}), {}, server.url(), kShortTimeouts),
             QStringLiteral("Error %1").arg(status));
    QVERIFY(table.empty());
}

void TestNameRefresh::refusedConnection()
{
    QUrl closed;
    {
        FakeNameServer gone;
        closed = gone.url();
    }
    NameRefreshTable table;
    QElapsedTimer clock;
    clock.start();
    const QString result = RequestNames(table, busItem(1, {}), {}, closed, kShortTimeouts);
    qInfo("refused: %s", qPrintable(result));
    QVERIFY2(!result.isEmpty() && !result.startsWith(QStringLiteral("Error ")), qPrintable(result));
    QVERIFY(result.size() <= 511);
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(table.empty());
}

void TestNameRefresh::hangingServerTimesOut()
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

// A listening socket whose accept queue is full: the kernel drops further connection
// attempts, so connecting hangs as with a server behind a black hole.
void TestNameRefresh::unansweredConnectTimesOut()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(listener >= 0);
    std::vector<int> clients;
    const auto closeAll = qScopeGuard([&] {
        for (const int client : clients)
            ::close(client);
        ::close(listener);
    });
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0);
    QVERIFY(::listen(listener, 0) == 0);
    QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    for (int i = 0; i < 4; ++i) {
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        clients.push_back(client);
        ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    const QUrl server(QStringLiteral("http://127.0.0.1:%1/").arg(ntohs(address.sin_port)));
    NameRefreshTable table;
    QElapsedTimer clock;
    clock.start();
    const QString result = RequestNames(table, busItem(1, {}), {}, server, {300ms, 5000ms});
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(result, QStringLiteral("Connection to the name server timed out"));
    // The connect time-out (300 ms), not the 5 s of the whole exchange.
    QVERIFY2(elapsed < 4000, qPrintable(QString::number(elapsed)));
    QVERIFY(table.empty());
}

// A server that keeps sending, a byte at a time, never goes silent long enough for the
// transfer time-out; the time-out for the whole exchange ends it.
void TestNameRefresh::tricklingAnswerEndsAtTotalTimeOut()
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

void TestNameRefresh::garbageBytes()
{
    FakeNameServer server;
    server.respondWith([](const FakeNameServer::Request&) {
        static const char bytes[] = "\x00\xff\x81:garbage,\x7f\r\n\r\n\xfe";
        return QByteArray(bytes, sizeof bytes - 1);
    });
    NameRefreshTable table;
    const QString result = RequestNames(table, busItem(1, {}), {}, server.url(), kShortTimeouts);
    qInfo("garbage: %s", qPrintable(result));
    QVERIFY2(!result.isEmpty(), "garbage must not count as an answer");
    QVERIFY(table.empty());
}

void TestNameRefresh::oversizedAnswerCutOff()
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

void TestNameRefresh::answerAtTheBound_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("cutOff");
    QTest::newRow("exactly 1 MiB") << kMaxNameAnswerBytes << false;
    QTest::newRow("one byte more") << kMaxNameAnswerBytes + 1 << true;
}

void TestNameRefresh::answerAtTheBound()
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

void TestNameRefresh::collectItemsFollowsListRows()
{
    fillCard();
    // A row without record is skipped; a row with an empty serial ends the list.
    list_.insertRow(1, {new QStandardItem(QStringLiteral("999"))});
    list_.appendRow({new QStandardItem(QString())});
    HistoryRecord hidden = busRecord(1, {1, 1});
    records_.insert(hidden);
    list_.appendRow({new QStandardItem(QStringLiteral("1"))});
    QCOMPARE(collectNameItems(list_, records_),
             shopItem(125, {1, 199, 40000}) + busItem(124, {32769, 5}) +
                 railEntryItem(123, {0, 37, 10}) + railExitItem(123, {0, 37, 25}));

    // A rail record with a (0, 0, 0) entry asks only for its exit.
    init();
    records_.insert(railRecord(7, {}, {0, 37, 25}));
    fillList();
    QCOMPARE(collectNameItems(list_, records_), railExitItem(7, {0, 37, 25}));
}

void TestNameRefresh::tableKeysMustBeSerials()
{
    QCOMPARE(serialOfRowText(QStringLiteral("123abc")), 123u);
    QCOMPARE(serialOfRowText(QStringLiteral("abc")), 0u);
    QCOMPARE(serialOfRowText(QStringLiteral("99999999999")), 0u);
    QCOMPARE(serialOfTableKey(QStringLiteral("123")), std::optional<std::uint32_t>(123));
    QCOMPARE(serialOfTableKey(QStringLiteral("12x")), std::nullopt);
    QCOMPARE(serialOfTableKey(QStringLiteral("\r123")), std::nullopt);
    QCOMPARE(serialOfTableKey(QString()), std::nullopt);

    // A key that is not a serial never names record 0.
    records_.insert(railRecord(0, {0, 1, 1}, {}));
    NameRefreshTable table;
    table.rowFor(QStringLiteral("x")).entryName = QStringLiteral("wrong");
    fillList();
    applyNameAnswer(list_, records_, table, caches_);
    QVERIFY(records_.find(0)->entryName.isEmpty());
    QCOMPARE(listText(0, 4), QStringLiteral("c4"));
    QVERIFY(caches_.stations.empty());
}

void TestNameRefresh::refreshUpdatesListCachesAndRecords()
{
    fillCard();
    FakeNameServer server;
    server.respondWith(answering(kFullAnswer));
    NameRefresher refresher;
    refresher.setServerUrl(server.url());
    refresher.setTimeouts(kShortTimeouts);
    QSignalSpy status(&refresher, &NameRefresher::statusText);
    QSignalSpy finished(&refresher, &NameRefresher::finished);

    // Every change of the list happens on this (the user-interface) thread.
    QList<QThread*> changingThreads;
    QObject connectionScope;
    connect(
        &list_, &QAbstractItemModel::dataChanged, &connectionScope,
        [&] { changingThreads << QThread::currentThread(); }, Qt::DirectConnection);
    refresher.start(list_, records_, caches_, table_, kIdm, allParts());
    QVERIFY(refresher.isRunning());
    // Nothing lands before the answer is back on this thread.
    QVERIFY(records_.find(123)->entryName.isEmpty());
    QVERIFY(finished.wait(10000));
    QVERIFY(!refresher.isRunning());
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.first().first().toString(), kIdm + QStringLiteral(" ok"));
    QCOMPARE(server.requests().first().body,
             nameRequestBody(shopItem(125, {1, 199, 40000}) + busItem(124, {32769, 5}) +
                             railEntryItem(123, {0, 37, 10}) + railExitItem(123, {0, 37, 25})));

    QCOMPARE(changingThreads.size(), 4);
    QVERIFY(changingThreads.count(QThread::currentThread()) == changingThreads.size());

    // List rows: 126, 125, 124, 123.
    QCOMPARE(listText(0, 4), QStringLiteral("c4"));
    QCOMPARE(listText(1, 4), QStringLiteral("売店(K社)"));
    QCOMPARE(listText(1, 5), QStringLiteral("c5"));
    QCOMPARE(listText(2, 4), QStringLiteral("駅前(A社:X系統)"));
    QCOMPARE(listText(3, 4), QStringLiteral("新宿(JR：山手線)"));
    QCOMPARE(listText(3, 5), QStringLiteral("渋谷(JR：山手線)"));
    QCOMPARE(listText(3, 3), QStringLiteral("c3"));

    QCOMPARE(records_.find(123)->entryName, QStringLiteral("新宿(JR：山手線)"));
    QCOMPARE(records_.find(123)->exitName, QStringLiteral("渋谷(JR：山手線)"));
    QCOMPARE(records_.find(124)->entryName, QStringLiteral("駅前(A社:X系統)"));
    QCOMPARE(records_.find(125)->entryName, QStringLiteral("売店(K社)"));
    QCOMPARE(records_.find(126)->entryName, QStringLiteral("東京"));

    const NameEntry& shinjuku = caches_.stations.EntryFor({0, 37, 10});
    QCOMPARE(shinjuku.an, QStringLiteral("JR"));
    QCOMPARE(shinjuku.ln, QStringLiteral("山手"));
    QCOMPARE(shinjuku.sn, QStringLiteral("新宿"));
    QCOMPARE(shinjuku.nm, QStringLiteral("新宿(JR：山手線)"));
    QCOMPARE(caches_.stations.EntryFor({0, 37, 25}).sn, QStringLiteral("渋谷"));
    const NameEntry& stop = caches_.busStops.EntryFor({32769, 5});
    QCOMPARE(stop.ln, QStringLiteral("駅前"));
    QCOMPARE(stop.sn, QStringLiteral("X系統"));
    const ShopNameEntry& shop = caches_.shops.EntryFor({1, 199, 40000});
    QCOMPARE(shop.ln, QStringLiteral("売店"));
    QVERIFY(shop.sn.isEmpty());
    QVERIFY(shop.ap.isEmpty());
    QCOMPARE(shop.nm, QStringLiteral("売店(K社)"));
    QCOMPARE(table_.rowFor(QStringLiteral("123")).exitSn, QStringLiteral("渋谷"));

    // The second read of the same card asks for no rail name any more.
    fillList();
    refresher.start(list_, records_, caches_, table_, kIdm, allParts());
    QVERIFY(finished.wait(10000));
    QCOMPARE(server.requests().size(), 2);
    QCOMPARE(server.requests().at(1).body,
             nameRequestBody(shopItem(125, {1, 199, 40000}) + busItem(124, {32769, 5})));
}

// A stored history repeats its stations, stops and shops: each key goes out once, with its
// highest row, and the answer names every row that has it.
void TestNameRefresh::oneItemPerKeyNamesEveryRow()
{
    HistoryRecord named = railRecord(10, {0, 37, 10}, {0, 1, 1});
    named.entryName = QStringLiteral("旧名");
    records_.insert(named);                                    // row 4: keeps its entry name
    records_.insert(railRecord(20, {0, 37, 25}, {0, 37, 10})); // row 3: the exit was asked as entry
    records_.insert(busRecord(30, {32769, 5}));                // row 2
    records_.insert(shopRecord(40, {1, 199, 40000}));          // row 1
    records_.insert(railRecord(50, {0, 37, 10}, {0, 37, 25})); // row 0: asks both stations
    records_.insert(shopRecord(45, {1, 199, 40000}));
    records_.insert(busRecord(35, {32769, 5}));
    fillList(); // 50, 45, 40, 35, 30, 20, 10
    QCOMPARE(collectNameItems(list_, records_),
             railEntryItem(50, {0, 37, 10}) + railExitItem(50, {0, 37, 25}) +
                 shopItem(45, {1, 199, 40000}) + busItem(35, {32769, 5}) +
                 railExitItem(10, {0, 1, 1}));

    FakeNameServer server;
    server.respondWith(answering(QStringLiteral("5002,JR,山手,新宿:5004,JR,山手,渋谷:"
                                                "4511,K社,売店, , :3520,A社,駅前,X系統:")));
    NameRefresher refresher;
    refresher.setServerUrl(server.url());
    refresher.setTimeouts(kShortTimeouts);
    QSignalSpy finished(&refresher, &NameRefresher::finished);
    refresher.start(list_, records_, caches_, table_, kIdm, allParts());
    QVERIFY(finished.wait(10000));
    QCOMPARE(server.requests().size(), 1);

    const QString shinjuku = QStringLiteral("新宿(JR：山手線)");
    const QString shibuya = QStringLiteral("渋谷(JR：山手線)");
    const QString shop = QStringLiteral("売店(K社)");
    const QString stop = QStringLiteral("駅前(A社:X系統)");
    const struct
    {
        int row;
        QString entry;
        QString exit;
    } expected[] = {{0, shinjuku, shibuya},
                    {1, shop, QStringLiteral("c5")},
                    {2, shop, QStringLiteral("c5")},
                    {3, stop, QStringLiteral("c5")},
                    {4, stop, QStringLiteral("c5")},
                    {5, shibuya, shinjuku},
                    {6, QStringLiteral("c4"), QStringLiteral("c5")}};
    for (const auto& row : expected) {
        QCOMPARE(listText(row.row, 4), row.entry);
        QCOMPARE(listText(row.row, 5), row.exit);
    }
    QCOMPARE(records_.find(20)->entryName, shibuya);
    QCOMPARE(records_.find(20)->exitName, shinjuku);
    QCOMPARE(records_.find(30)->entryName, stop);
    QCOMPARE(records_.find(40)->entryName, shop);
    // A known rail name is not replaced, and a key nobody answered stays without one.
    QCOMPARE(records_.find(10)->entryName, QStringLiteral("旧名"));
    QVERIFY(records_.find(10)->exitName.isEmpty());
}

void TestNameRefresh::nothingToAskSendsNoRequest()
{
    HistoryRecord named = railRecord(5, {0, 1, 1}, {});
    named.entryName = QStringLiteral("東京");
    records_.insert(named);
    fillList();
    FakeNameServer server;
    NameRefresher refresher;
    refresher.setServerUrl(server.url());
    QSignalSpy status(&refresher, &NameRefresher::statusText);
    QSignalSpy finished(&refresher, &NameRefresher::finished);
    refresher.start(list_, records_, caches_, table_, kIdm, allParts());
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.first().first().toString(), kIdm + QStringLiteral(" OK"));
    QCOMPARE(finished.size(), 1);
    QVERIFY(!refresher.isRunning());
    QTest::qWait(50);
    QVERIFY(server.requests().isEmpty());
}

void TestNameRefresh::serverErrorChangesNothing()
{
    fillCard();
    FakeNameServer server;
    server.respondWith([](const FakeNameServer::Request&) {
        return FakeNameServer::response(500, cp932::encode(kFullAnswer));
    });
    NameRefresher refresher;
    refresher.setServerUrl(server.url());
    QSignalSpy status(&refresher, &NameRefresher::statusText);
    QSignalSpy finished(&refresher, &NameRefresher::finished);
    refresher.start(list_, records_, caches_, table_, kIdm, allParts());
    QVERIFY(finished.wait(10000));
    QCOMPARE(status.first().first().toString(),
             kIdm + QStringLiteral(" 駅名サーバーのエラー (Error 500)"));
    QVERIFY(status.first().at(1).toString().contains(QStringLiteral("Error 500")));
    for (int row = 0; row < list_.rowCount(); ++row) {
        QCOMPARE(listText(row, 4), QStringLiteral("c4"));
        QCOMPARE(listText(row, 5), QStringLiteral("c5"));
    }
    QVERIFY(records_.find(123)->entryName.isEmpty());
    QVERIFY(caches_.stations.empty());
    QVERIFY(caches_.busStops.empty());
    QVERIFY(caches_.shops.empty());
    for (const auto& [key, row] : table_)
        QCOMPARE(row, NameRefreshRow());
}

void TestNameRefresh::newReadWhileRefreshPending()
{
    fillCard();
    FakeNameServer server;
    // The first read's answer is held back until the second read has started.
    QByteArray heldBack;
    server.respondWith([&](const FakeNameServer::Request& request) {
        if (request.body.contains("12302"))
            return QByteArray(); // held
        return FakeNameServer::response(200, cp932::encode(QStringLiteral("720,B社,本町, :")));
    });
    NameRefresher refresher;
    refresher.setServerUrl(server.url());
    refresher.setTimeouts(kShortTimeouts);
    QSignalSpy status(&refresher, &NameRefresher::statusText);
    QSignalSpy finished(&refresher, &NameRefresher::finished);
    refresher.start(list_, records_, caches_, table_, kIdm, allParts());
    const std::uint64_t first = refresher.generation();
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 10000);

    // The next read: a new card with one bus record.
    refresher.cancel();
    records_.clear();
    table_.clear();
    records_.insert(busRecord(7, {2, 3}));
    fillList();
    refresher.start(list_, records_, caches_, table_, QStringLiteral("FEDCBA9876543210"),
                    allParts());
    QVERIFY(refresher.generation() > first);
    QVERIFY(finished.wait(10000));
    // Past the first read's time-out: nothing of it may come.
    QTest::qWait(1200);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.first().first().toString(), QStringLiteral("FEDCBA9876543210 ok"));
    QCOMPARE(list_.rowCount(), 1);
    QCOMPARE(listText(0, 4), QStringLiteral("本町(B社)"));
    QCOMPARE(table_.size(), std::size_t(1));
    QVERIFY(caches_.stations.empty());
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 10000);
}

// Card A's answer is in and being read when card B's read starts; B has a journey with the
// same serial. Nothing of A's answer may land in B's list, caches, records or table.
void TestNameRefresh::staleAnswerNeverLands()
{
    fillCard();
    FakeNameServer server;
    int requests = 0;
    server.respondWith([&](const FakeNameServer::Request&) {
        // A is answered; B's answer never comes.
        return ++requests == 1 ? FakeNameServer::response(200, cp932::encode(kFullAnswer))
                               : QByteArray();
    });
    NameRefresher refresher;
    refresher.setServerUrl(server.url());
    refresher.setTimeouts({5000ms, 10000ms});
    QSignalSpy status(&refresher, &NameRefresher::statusText);
    QSignalSpy finished(&refresher, &NameRefresher::finished);
    bool secondReadStarted = false;
    connect(&refresher, &NameRefresher::answerArrived, this, [&] {
        if (secondReadStarted)
            return;
        secondReadStarted = true;
        refresher.cancel();
        records_.clear();
        table_.clear();
        records_.insert(railRecord(123, {0, 2, 5}, {0, 2, 6}));
        fillList();
        refresher.start(list_, records_, caches_, table_, QStringLiteral("FEDCBA9876543210"),
                        allParts());
    });
    refresher.start(list_, records_, caches_, table_, kIdm, allParts());
    QTRY_VERIFY_WITH_TIMEOUT(secondReadStarted, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 2, 10000);
    QTest::qWait(300); // A's parse is long over
    QVERIFY(refresher.isRunning());
    QCOMPARE(finished.size(), 0);
    QCOMPARE(status.size(), 0);
    QVERIFY(table_.empty());
    QCOMPARE(listText(0, 4), QStringLiteral("c4"));
    QVERIFY(records_.begin()->entryName.isEmpty());
    QVERIFY(caches_.stations.empty());
    refresher.cancel();
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 10000);
}

void TestNameRefresh::cancelDuringRefresh()
{
    fillCard();
    FakeNameServer server;
    bool answerNow = false;
    server.respondWith([&](const FakeNameServer::Request&) {
        return answerNow ? FakeNameServer::response(200, cp932::encode(kFullAnswer)) : QByteArray();
    });
    NameRefresher refresher;
    refresher.setServerUrl(server.url());
    refresher.setTimeouts({5000ms, 10000ms});
    QSignalSpy finished(&refresher, &NameRefresher::finished);
    QSignalSpy status(&refresher, &NameRefresher::statusText);
    refresher.start(list_, records_, caches_, table_, kIdm, allParts());
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 10000);
    QElapsedTimer clock;
    clock.start();
    refresher.cancel();
    // No waiting for the server: that would take its 5 s time-out. The bound leaves room for a
    // machine under load.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!refresher.isRunning());
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 10000);
    QCOMPARE(finished.size(), 0);
    QCOMPARE(status.size(), 0);
    QVERIFY(records_.find(123)->entryName.isEmpty());

    // The refresher stays usable.
    answerNow = true;
    refresher.start(list_, records_, caches_, table_, kIdm, allParts());
    QVERIFY(finished.wait(10000));
    QCOMPARE(records_.find(123)->entryName, QStringLiteral("新宿(JR：山手線)"));
}

void TestNameRefresh::shutdownDuringRefresh()
{
    fillCard();
    FakeNameServer server;
    server.respondWith([](const FakeNameServer::Request&) { return QByteArray(); });
    auto refresher = std::make_unique<NameRefresher>();
    refresher->setServerUrl(server.url());
    refresher->setTimeouts({5000ms, 10000ms});
    refresher->start(list_, records_, caches_, table_, kIdm, allParts());
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 10000);
    QElapsedTimer clock;
    clock.start();
    refresher.reset();
    // Well below the server's 5 s time-out, with room for a machine under load.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 10000);
    QTest::qWait(50);
    QCOMPARE(listText(3, 4), QStringLiteral("c4"));
    QVERIFY(caches_.stations.empty());
}

void TestNameRefresh::listGoneBeforeAnswer()
{
    fillCard();
    auto list = std::make_unique<QStandardItemModel>();
    list->appendRow({new QStandardItem(QStringLiteral("123"))});
    FakeNameServer server;
    server.respondWith(answering(kFullAnswer));
    NameRefresher refresher;
    refresher.setServerUrl(server.url());
    QSignalSpy finished(&refresher, &NameRefresher::finished);
    refresher.start(*list, records_, caches_, table_, kIdm, allParts());
    list.reset();
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!refresher.isRunning(), 10000);
    QCOMPARE(finished.size(), 0);
    QVERIFY(records_.find(123)->entryName.isEmpty());
}

void TestNameRefresh::serverChoice()
{
    NameRefresher refresher;
    QCOMPARE(refresher.serverUrl(), defaultNameServerUrl());
    refresher.setServer(QStringLiteral("http://127.0.0.1:8780"));
    QCOMPARE(refresher.serverUrl(), QUrl(QStringLiteral("http://127.0.0.1:8780")));
    refresher.setServer(QString());
    QCOMPARE(refresher.serverUrl(), defaultNameServerUrl());
    refresher.setServer(QStringLiteral("file:///etc/passwd"));
    QCOMPARE(refresher.serverUrl(), defaultNameServerUrl());

    // The status text reaches the callback as well as the signal.
    QStringList texts;
    refresher.setStatusTextCallback([&](const QString& text, const QString&) { texts << text; });
    HistoryRecord named = railRecord(5, {0, 1, 1}, {});
    named.entryName = QStringLiteral("東京");
    records_.insert(named);
    fillList();
    refresher.start(list_, records_, caches_, table_, kIdm, allParts());
    QCOMPARE(texts, QStringList{kIdm + QStringLiteral(" OK")});
}

namespace {

enum class ServerKind
{
    Refused,
    Answers500,
    AnswersGarbage,
    AnswersNames,
};

} // namespace

void TestNameRefresh::nameSources_data()
{
    QTest::addColumn<int>("server");
    QTest::addColumn<bool>("builtinOnly");
    QTest::addColumn<bool>("namesFile");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("entryName"); // column 4 of the unnamed rail journey
    QTest::addColumn<int>("requests");

    const QString builtinName = QStringLiteral("新宿(東日本旅客鉄道：山手線)");
    const QString c4 = QStringLiteral("c4");
    QTest::newRow("builtin alone opens no socket") << int(ServerKind::AnswersNames) << true << true
                                                   << QStringLiteral("ok") << builtinName << 0;
    QTest::newRow("unreachable server: built-in names")
        << int(ServerKind::Refused) << false << true
        << QStringLiteral("内蔵の駅名を使用 (駅名サーバー不通)") << builtinName << 0;
    QTest::newRow("unreachable server, no names file")
        << int(ServerKind::Refused) << false << false
        << QStringLiteral("駅名サーバーに接続できません") << c4 << 0;
    QTest::newRow("builtin alone, no names file")
        << int(ServerKind::AnswersNames) << true << false
        << QStringLiteral("内蔵の駅名データを読めません") << c4 << 0;
    QTest::newRow("HTTP error: no stand-in")
        << int(ServerKind::Answers500) << false << true
        << QStringLiteral("駅名サーバーのエラー (Error 500)") << c4 << 1;
    QTest::newRow("malformed answer: no stand-in")
        << int(ServerKind::AnswersGarbage) << false << true << QStringLiteral("ok") << c4 << 1;
    QTest::newRow("server answers")
        << int(ServerKind::AnswersNames) << false << true << QStringLiteral("ok")
        << QStringLiteral("新宿(JR：山手線)") << 1;
}

void TestNameRefresh::nameSources()
{
    QFETCH(int, server);
    QFETCH(bool, builtinOnly);
    QFETCH(bool, namesFile);
    QFETCH(QString, status);
    QFETCH(QString, entryName);
    QFETCH(int, requests);

    fillCard();
    auto fake = std::make_unique<FakeNameServer>();
    const QUrl url = fake->url();
    if (server == int(ServerKind::Refused))
        fake.reset();
    else if (server == int(ServerKind::Answers500))
        fake->respondWith([](const FakeNameServer::Request&) {
            return FakeNameServer::response(500, cp932::encode(kFullAnswer));
        });
    else if (server == int(ServerKind::AnswersGarbage))
        fake->respondWith(answering(QStringLiteral("\x01\x02<html>not names</html>")));
    else
        fake->respondWith(answering(kFullAnswer));

    NameRefresher refresher;
    refresher.setServerUrl(url);
    refresher.setTimeouts(kShortTimeouts);
    refresher.setBuiltinOnly(builtinOnly);
    refresher.setBuiltinNames(std::make_shared<BuiltinNames>(
        namesFile ? QStringLiteral(RIDELOG_BINARY_DIR "/share/ridelog/names.sqlite")
                  : QStringLiteral(RIDELOG_BINARY_DIR "/no-such-names.sqlite")));
    QSignalSpy statusSpy(&refresher, &NameRefresher::statusText);
    QSignalSpy finished(&refresher, &NameRefresher::finished);
    refresher.start(list_, records_, caches_, table_, kIdm, allParts());
    QVERIFY(finished.wait(10000));
    QCOMPARE(statusSpy.size(), 1);
    QCOMPARE(statusSpy.first().at(0).toString(), kIdm + u' ' + status);
    const QString toolTip = statusSpy.first().at(1).toString();
    QVERIFY2(!toolTip.isEmpty(), qPrintable(toolTip));
    QVERIFY2(toolTip.contains(QStringLiteral("内蔵")) ==
                 (builtinOnly || server == int(ServerKind::Refused)),
             qPrintable(toolTip));
    QCOMPARE(listText(3, 4), entryName);
    // The exit station of the journey is in no table: the built-in names leave it a code.
    if (entryName.contains(QStringLiteral("東日本旅客鉄道")))
        QCOMPARE(listText(3, 5), QStringLiteral("c5"));
    if (fake)
        QCOMPARE(fake->requests().size(), requests);
    // Names of either source land in the caches the same way.
    QCOMPARE(caches_.stations.EntryFor({0, 37, 10}).nm,
             entryName == QStringLiteral("c4") ? QString() : entryName);
}

QString TestNameRefresh::refreshWithBuiltinNames(const QUrl& server, const NameTimeouts& timeouts)
{
    fillCard();
    NameRefresher refresher;
    refresher.setServerUrl(server);
    refresher.setTimeouts(timeouts);
    refresher.setBuiltinNames(std::make_shared<BuiltinNames>(
        QStringLiteral(RIDELOG_BINARY_DIR "/share/ridelog/names.sqlite")));
    QSignalSpy status(&refresher, &NameRefresher::statusText);
    QSignalSpy finished(&refresher, &NameRefresher::finished);
    refresher.start(list_, records_, caches_, table_, kIdm, allParts());
    if (!finished.wait(10000) || status.size() != 1)
        return QStringLiteral("<no status>");
    qInfo("tooltip: %s", qPrintable(status.first().at(1).toString()));
    return status.first().at(0).toString();
}

namespace {

enum class Unreachable
{
    Refused,
    HostNotFound,
    ProxyRefused,
    ConnectTimesOut,
};

// A port on loopback that nobody listens on.
QUrl closedLoopbackUrl()
{
    FakeNameServer gone;
    return gone.url();
}

} // namespace

void TestNameRefresh::unreachableServerFallsBack_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("connection refused") << int(Unreachable::Refused);
    QTest::newRow("host not found") << int(Unreachable::HostNotFound);
    QTest::newRow("proxy cannot be reached") << int(Unreachable::ProxyRefused);
    QTest::newRow("no connection within the time-out") << int(Unreachable::ConnectTimesOut);
}

// Whatever the reason no server could be reached, the built-in names answer and the status
// says so.
void TestNameRefresh::unreachableServerFallsBack()
{
    QFETCH(int, kind);
    QUrl server = closedLoopbackUrl();
    std::vector<int> sockets;
    const auto cleanUp = qScopeGuard([&] {
        for (const int socket : sockets)
            ::close(socket);
        qunsetenv("http_proxy");
        qunsetenv("no_proxy");
    });
    switch (Unreachable(kind)) {
    case Unreachable::Refused:
        break;
    case Unreachable::HostNotFound:
        // Either the resolver says so at once, or it takes longer than the time-out.
        server = QUrl(QStringLiteral("http://ridelog-no-such-host.invalid/"));
        break;
    case Unreachable::ProxyRefused:
        qputenv("http_proxy", closedLoopbackUrl().toString().toLatin1());
        qputenv("no_proxy", "");
        server = QUrl(QStringLiteral("http://names.example.com/"));
        break;
    case Unreachable::ConnectTimesOut: {
        // A listener whose accept queue is full: the kernel drops further attempts.
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockets.push_back(listener);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0);
        QVERIFY(::listen(listener, 0) == 0);
        QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
        for (int i = 0; i < 4; ++i) {
            sockets.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(sockets.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        server = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(ntohs(address.sin_port)));
        break;
    }
    }
    QCOMPARE(refreshWithBuiltinNames(server, {500ms, 2000ms}),
             kIdm + QStringLiteral(" 内蔵の駅名を使用 (駅名サーバー不通)"));
    QCOMPARE(listText(3, 4), QStringLiteral("新宿(東日本旅客鉄道：山手線)"));
}

// No network at all, not even loopback (a network namespace of its own): the default server
// cannot be reached, and the built-in names answer. The test runs itself in such a namespace
// where the system allows one.
void TestNameRefresh::noNetworkAtAll()
{
    if (qEnvironmentVariableIsSet("RIDELOG_TEST_NO_NETWORK")) {
        // Not even loopback: connecting there fails at once, before any port is tried.
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, 80);
        QVERIFY(!probe.waitForConnected(2000));
        QCOMPARE(probe.error(), QAbstractSocket::NetworkError);
        QCOMPARE(refreshWithBuiltinNames(defaultNameServerUrl(), kShortTimeouts),
                 kIdm + QStringLiteral(" 内蔵の駅名を使用 (駅名サーバー不通)"));
        QCOMPARE(listText(3, 4), QStringLiteral("新宿(東日本旅客鉄道：山手線)"));
        return;
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RIDELOG_TEST_NO_NETWORK"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList self{QCoreApplication::applicationFilePath(),
                           QStringLiteral("noNetworkAtAll")};
    // Unprivileged through a user namespace where allowed, else as root.
    for (const QString& options : {QStringLiteral("-rn"), QStringLiteral("-n")}) {
        child.start(QStringLiteral("unshare"), QStringList{options} + self);
        if (!child.waitForStarted())
            QSKIP("no unshare on this system");
        if (!child.waitForFinished(30000))
            QFAIL("the test in its own network namespace did not end");
        if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
            return;
        const QByteArray output = child.readAll();
        if (output.contains("Start testing"))
            QFAIL(output.constData());
    }
    QSKIP("this system allows no network namespace of our own (unshare)");
}

QTEST_GUILESS_MAIN(TestNameRefresh)
#include "test_namerefresh.moc"
