// The name refresh of a read card: which rows ask, what lands in the list, the records and the
// caches, and what happens when the user reads the next card, cancels or quits meanwhile.
#include "namerefreshfixture.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

using namespace ridelog;
using namespace ridelog::test;

Q_DECLARE_METATYPE(std::vector<ridelog::HistoryRecord>)

class TestNameRefresh : public QObject
{
    Q_OBJECT

private slots:
    // Steps on the window's data
    void collectItemsFollowsListRows();
    void tableKeysMustBeSerials();
    // The whole refresh
    void refreshNamesTheList_data();
    void refreshNamesTheList();
    void refreshFillsCachesForTheNextRead();
    void nothingToAskSendsNoRequest();
    void serverChoice();
    // The user goes on meanwhile
    void newReadWhileRefreshPending();
    void staleAnswerNeverLands();
    void cancelOrShutdownDuringRefresh_data();
    void cancelOrShutdownDuringRefresh();
    void listGoneBeforeAnswer();
};

void TestNameRefresh::collectItemsFollowsListRows()
{
    RefreshDesk desk;
    desk.fillCard();
    // A row without record is skipped; a row with an empty serial ends the list.
    desk.list.insertRow(1, {new QStandardItem(QStringLiteral("999"))});
    desk.list.appendRow({new QStandardItem(QString())});
    desk.records.insert(busRecord(1, {1, 1}));
    desk.list.appendRow({new QStandardItem(QStringLiteral("1"))});
    QCOMPARE(collectNameItems(desk.list, desk.records),
             shopItem(125, {1, 199, 40000}) + busItem(124, {32769, 5}) +
                 railEntryItem(123, {0, 37, 10}) + railExitItem(123, {0, 37, 25}));

    // A rail record with a (0, 0, 0) entry asks only for its exit.
    RefreshDesk exitOnly;
    exitOnly.replaceCard({railRecord(7, {}, {0, 37, 25})});
    QCOMPARE(collectNameItems(exitOnly.list, exitOnly.records), railExitItem(7, {0, 37, 25}));
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
    RefreshDesk desk;
    desk.replaceCard({railRecord(0, {0, 1, 1}, {})});
    NameRefreshTable table;
    table.rowFor(QStringLiteral("x")).entryName = QStringLiteral("wrong");
    applyNameAnswer(desk.list, desk.records, table, desk.caches);
    QVERIFY(desk.records.find(0)->entryName.isEmpty());
    QCOMPARE(desk.text(0, 4), QStringLiteral("c4"));
    QVERIFY(desk.caches.stations.empty());
}

void TestNameRefresh::refreshNamesTheList_data()
{
    QTest::addColumn<std::vector<HistoryRecord>>("records");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("items");       // what the request asks for
    QTest::addColumn<QStringList>("columns"); // entry and exit column of each row, newest first

    const QString shibuya = QStringLiteral("渋谷(JR：山手線)");
    const QString shop = QStringLiteral("売店(K社)");
    const QString stop = QStringLiteral("駅前(A社:X系統)");
    QTest::newRow("one card") << RefreshDesk::cardRecords() << kFullAnswer
                              << shopItem(125, {1, 199, 40000}) + busItem(124, {32769, 5}) +
                                     railEntryItem(123, {0, 37, 10}) +
                                     railExitItem(123, {0, 37, 25})
                              << QStringList{QStringLiteral("c4|c5"), shop + QStringLiteral("|c5"),
                                             stop + QStringLiteral("|c5"),
                                             kShinjuku + u'|' + shibuya};

    // A stored history repeats its stations, stops and shops: each key goes out once, with
    // its highest row, and the answer names every row that has it. A known rail name is not
    // replaced, and a key nobody answered stays without one.
    HistoryRecord named = railRecord(10, {0, 37, 10}, {0, 1, 1});
    named.entryName = QStringLiteral("旧名");
    QTest::newRow("keys repeating across rows and columns")
        << std::vector<HistoryRecord>{named,
                                      railRecord(20, {0, 37, 25}, {0, 37, 10}),
                                      busRecord(30, {32769, 5}),
                                      busRecord(35, {32769, 5}),
                                      shopRecord(40, {1, 199, 40000}),
                                      shopRecord(45, {1, 199, 40000}),
                                      railRecord(50, {0, 37, 10}, {0, 37, 25})}
        << QStringLiteral("5002,JR,山手,新宿:5004,JR,山手,渋谷:"
                          "4511,K社,売店, , :3520,A社,駅前,X系統:")
        << railEntryItem(50, {0, 37, 10}) + railExitItem(50, {0, 37, 25}) +
               shopItem(45, {1, 199, 40000}) + busItem(35, {32769, 5}) + railExitItem(10, {0, 1, 1})
        << QStringList{kShinjuku + u'|' + shibuya,   shop + QStringLiteral("|c5"),
                       shop + QStringLiteral("|c5"), stop + QStringLiteral("|c5"),
                       stop + QStringLiteral("|c5"), shibuya + u'|' + kShinjuku,
                       QStringLiteral("c4|c5")};
}

void TestNameRefresh::refreshNamesTheList()
{
    QFETCH(std::vector<HistoryRecord>, records);
    QFETCH(QString, items);
    QFETCH(QStringList, columns);
    QFETCH(QString, answer);
    RefreshDesk desk;
    desk.replaceCard(records);
    QCOMPARE(collectNameItems(desk.list, desk.records), items);
    FakeNameServer server;
    server.respondWith(answering(answer));
    WatchedRefresher watched(server.url());
    // Every change of the list happens on this (the user-interface) thread.
    QList<QThread*> changingThreads;
    QObject connectionScope;
    connect(
        &desk.list, &QAbstractItemModel::dataChanged, &connectionScope,
        [&] { changingThreads << QThread::currentThread(); }, Qt::DirectConnection);
    watched.start(desk);
    QVERIFY(watched.refresher.isRunning());
    QVERIFY(changingThreads.isEmpty()); // nothing lands before the answer is back
    QVERIFY(watched.finished.wait(10000));
    QVERIFY(!watched.refresher.isRunning());
    QCOMPARE(watched.status.size(), 1);
    QCOMPARE(watched.statusText(), kIdm + QStringLiteral(" ok"));
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(server.requests().first().body, nameRequestBody(items));

    // The records take the names of their rows; each named cell was one change of the list.
    qsizetype namedCells = 0;
    for (int row = 0; row < desk.list.rowCount(); ++row) {
        QCOMPARE(desk.text(row, 4) + u'|' + desk.text(row, 5), columns.at(row));
        QCOMPARE(desk.text(row, 3), QStringLiteral("c3"));
        const std::uint32_t serial = desk.text(row, 0).toUInt();
        const auto before =
            std::find_if(records.begin(), records.end(),
                         [&](const HistoryRecord& r) { return r.serial == serial; });
        const QStringList names = columns.at(row).split(u'|');
        namedCells += (names[0] != QStringLiteral("c4")) + (names[1] != QStringLiteral("c5"));
        QCOMPARE(desk.records.find(serial)->entryName,
                 names[0] == QStringLiteral("c4") ? before->entryName : names[0]);
        QCOMPARE(desk.records.find(serial)->exitName,
                 names[1] == QStringLiteral("c5") ? before->exitName : names[1]);
    }
    QCOMPARE(changingThreads.size(), namedCells);
    QCOMPARE(changingThreads.count(QThread::currentThread()), changingThreads.size());
}

void TestNameRefresh::refreshFillsCachesForTheNextRead()
{
    RefreshDesk desk;
    desk.fillCard();
    FakeNameServer server;
    server.respondWith(answering(kFullAnswer));
    WatchedRefresher watched(server.url());
    watched.start(desk);
    QVERIFY(watched.finished.wait(10000));
    const NameEntry& shinjuku = desk.caches.stations.EntryFor({0, 37, 10});
    QCOMPARE(shinjuku.an, QStringLiteral("JR"));
    QCOMPARE(shinjuku.ln, QStringLiteral("山手"));
    QCOMPARE(shinjuku.sn, QStringLiteral("新宿"));
    QCOMPARE(shinjuku.nm, kShinjuku);
    QCOMPARE(desk.caches.stations.EntryFor({0, 37, 25}).sn, QStringLiteral("渋谷"));
    const NameEntry& stop = desk.caches.busStops.EntryFor({32769, 5});
    QCOMPARE(stop.ln, QStringLiteral("駅前"));
    QCOMPARE(stop.sn, QStringLiteral("X系統"));
    const ShopNameEntry& shop = desk.caches.shops.EntryFor({1, 199, 40000});
    QCOMPARE(shop.ln, QStringLiteral("売店"));
    QVERIFY(shop.sn.isEmpty());
    QVERIFY(shop.ap.isEmpty());
    QCOMPARE(shop.nm, QStringLiteral("売店(K社)"));
    QCOMPARE(desk.table.rowFor(QStringLiteral("123")).exitSn, QStringLiteral("渋谷"));

    // The second read of the same card asks for no rail name any more.
    desk.fillList();
    watched.start(desk);
    QVERIFY(watched.finished.wait(10000));
    QCOMPARE(server.requests().size(), 2);
    QCOMPARE(server.requests().at(1).body,
             nameRequestBody(shopItem(125, {1, 199, 40000}) + busItem(124, {32769, 5})));
}

void TestNameRefresh::nothingToAskSendsNoRequest()
{
    HistoryRecord named = railRecord(5, {0, 1, 1}, {});
    named.entryName = QStringLiteral("東京");
    RefreshDesk desk;
    desk.replaceCard({named});
    FakeNameServer server;
    WatchedRefresher watched(server.url());
    // The status text reaches the callback as well as the signal, at once.
    QStringList texts;
    watched.refresher.setStatusTextCallback(
        [&](const QString& text, const QString&) { texts << text; });
    watched.start(desk);
    QCOMPARE(watched.status.size(), 1);
    QCOMPARE(watched.statusText(), kIdm + QStringLiteral(" OK"));
    QCOMPARE(texts, QStringList{kIdm + QStringLiteral(" OK")});
    QCOMPARE(watched.finished.size(), 1);
    QVERIFY(!watched.refresher.isRunning());
    QTest::qWait(50);
    QVERIFY(server.requests().isEmpty());
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
}

void TestNameRefresh::newReadWhileRefreshPending()
{
    RefreshDesk desk;
    desk.fillCard();
    FakeNameServer server;
    // The first read's answer is held back until the second read has started.
    server.respondWith([&](const FakeNameServer::Request& request) {
        if (request.body.contains("12302"))
            return QByteArray(); // held
        return FakeNameServer::response(200, cp932::encode(QStringLiteral("720,B社,本町, :")));
    });
    WatchedRefresher watched(server.url());
    watched.start(desk);
    const std::uint64_t first = watched.refresher.generation();
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 10000);

    // The next read: a new card with one bus record.
    watched.refresher.cancel();
    desk.replaceCard({busRecord(7, {2, 3})});
    watched.start(desk, kOtherIdm);
    QVERIFY(watched.refresher.generation() > first);
    QVERIFY(watched.finished.wait(10000));
    // Past the first read's time-out: nothing of it may come.
    QTest::qWait(1200);
    QCOMPARE(watched.finished.size(), 1);
    QCOMPARE(watched.status.size(), 1);
    QCOMPARE(watched.statusText(), kOtherIdm + QStringLiteral(" ok"));
    QCOMPARE(desk.list.rowCount(), 1);
    QCOMPARE(desk.text(0, 4), QStringLiteral("本町(B社)"));
    QCOMPARE(desk.table.size(), std::size_t(1));
    QVERIFY(desk.caches.stations.empty());
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 10000);
}

// Card A's answer is in and being read when card B's read starts; B has a journey with the
// same serial. Nothing of A's answer may land in B's list, caches, records or table.
void TestNameRefresh::staleAnswerNeverLands()
{
    RefreshDesk desk;
    desk.fillCard();
    FakeNameServer server;
    int requests = 0;
    server.respondWith([&](const FakeNameServer::Request&) {
        // A is answered; B's answer never comes.
        return ++requests == 1 ? FakeNameServer::response(200, cp932::encode(kFullAnswer))
                               : QByteArray();
    });
    WatchedRefresher watched(server.url(), {5000ms, 10000ms});
    bool secondReadStarted = false;
    connect(&watched.refresher, &NameRefresher::answerArrived, this, [&] {
        if (secondReadStarted)
            return;
        secondReadStarted = true;
        watched.refresher.cancel();
        desk.replaceCard({railRecord(123, {0, 2, 5}, {0, 2, 6})});
        watched.start(desk, kOtherIdm);
    });
    watched.start(desk);
    QTRY_VERIFY_WITH_TIMEOUT(secondReadStarted, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 2, 10000);
    QTest::qWait(300); // A's parse is long over
    QVERIFY(watched.refresher.isRunning());
    QCOMPARE(watched.finished.size(), 0);
    QCOMPARE(watched.status.size(), 0);
    QVERIFY(desk.table.empty());
    QCOMPARE(desk.text(0, 4), QStringLiteral("c4"));
    QVERIFY(desk.records.begin()->entryName.isEmpty());
    QVERIFY(desk.caches.stations.empty());
    watched.refresher.cancel();
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 10000);
}

void TestNameRefresh::cancelOrShutdownDuringRefresh_data()
{
    QTest::addColumn<bool>("shutdown"); // the refresher is destroyed rather than cancelled
    QTest::newRow("cancel") << false;
    QTest::newRow("shutdown") << true;
}

void TestNameRefresh::cancelOrShutdownDuringRefresh()
{
    QFETCH(bool, shutdown);
    RefreshDesk desk;
    desk.fillCard();
    FakeNameServer server;
    bool answerNow = false;
    server.respondWith([&](const FakeNameServer::Request&) {
        return answerNow ? FakeNameServer::response(200, cp932::encode(kFullAnswer)) : QByteArray();
    });
    auto watched = std::make_unique<WatchedRefresher>(server.url(), NameTimeouts{5000ms, 10000ms});
    watched->start(desk);
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 10000);
    QElapsedTimer clock;
    clock.start();
    if (shutdown)
        watched.reset();
    else
        watched->refresher.cancel();
    // No waiting for the server: that would take its 5 s time-out. The bound leaves room for a
    // machine under load.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 10000);
    QTest::qWait(50);
    QCOMPARE(desk.text(3, 4), QStringLiteral("c4"));
    QVERIFY(desk.records.find(123)->entryName.isEmpty());
    QVERIFY(desk.caches.stations.empty());
    if (shutdown)
        return;
    QVERIFY(!watched->refresher.isRunning());
    QCOMPARE(watched->finished.size(), 0);
    QCOMPARE(watched->status.size(), 0);

    // The refresher stays usable.
    answerNow = true;
    watched->start(desk);
    QVERIFY(watched->finished.wait(10000));
    QCOMPARE(desk.records.find(123)->entryName, kShinjuku);
}

void TestNameRefresh::listGoneBeforeAnswer()
{
    RefreshDesk desk;
    desk.fillCard();
    auto list = std::make_unique<QStandardItemModel>();
    list->appendRow({new QStandardItem(QStringLiteral("123"))});
    FakeNameServer server;
    server.respondWith(answering(kFullAnswer));
    WatchedRefresher watched(server.url());
    watched.refresher.start(*list, desk.records, desk.caches, desk.table, kIdm, allParts());
    list.reset();
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!watched.refresher.isRunning(), 10000);
    QCOMPARE(watched.finished.size(), 0);
    QVERIFY(desk.records.find(123)->entryName.isEmpty());
}

QTEST_GUILESS_MAIN(TestNameRefresh)
#include "test_namerefresh.moc"
