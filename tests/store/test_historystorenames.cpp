// The name tables of the store: loading them at start-up and writing the names back.
#include "historystorefixture.h"

using namespace ridelog;
using namespace ridelog::test;

class TestHistoryStoreNames : public QObject, HistoryStoreFixture
{
    Q_OBJECT

private slots:
    void init() { setUpHome(); }
    void cleanup() { tearDownHome(); }

    // ---- Name tables at start-up
    void fileLackingBusTableGetsOnlyThatTable();
    void laterRowOfOneKeyWins();
    void nullTextsReadEmpty();
    void rowsWithoutNamePartsAreIgnored();
    void emptyOrMissingTableLeavesCacheUnchanged();
    void nameTableMissingAColumnReportsEngineText();

    // ---- Write-back
    void writeBackInsertsRowWithNullsForEmptyParts();
    void writeBackChangesOnlyNmOfExistingRow();
    void writeBackSkipsEntriesWithoutName();
    void writeBackMatchesLargeKeyPartsWithoutDuplicates();
    void writeBackVisitsKeysInOrder();
    void writeBackCreatesMissingTable();
    void writtenNamesLoadAgainAtNextStart();
};

// ----------------------------------------------------------------- Name tables at start-up

void TestHistoryStoreNames::fileLackingBusTableGetsOnlyThatTable()
{
    prepareNameTables(
        {NameTable::Stations, NameTable::Shops},
        {QStringLiteral("INSERT INTO ipn VALUES (0, 37, 10, 'JR', '山手', '渋谷', '渋谷')"),
         QStringLiteral(
             "INSERT INTO bpn VALUES (1, 199, -25536, 'A社', '店', 'レジ1', 'x', 'A店')")});
    HistoryStore store;
    NameCaches caches = startStore(store);
    QVERIFY(hasTable(dbPath(), QStringLiteral("bus")));
    QCOMPARE(rowCount(dbPath(), QStringLiteral("ipn")), 1);
    QCOMPARE(rowCount(dbPath(), QStringLiteral("bpn")), 1);
    QCOMPARE(rowCount(dbPath(), QStringLiteral("bus")), 0);
    QCOMPARE(caches.stations.size(), std::size_t(1));
    QCOMPARE(caches.stations.EntryFor({0, 37, 10}).nm, QStringLiteral("渋谷"));
    QCOMPARE(caches.stations.EntryFor({0, 37, 10}).ln, QStringLiteral("山手"));
    QVERIFY(caches.shops.contains({1, 199, 40000}));
    QCOMPARE(caches.shops.EntryFor({1, 199, 40000}).ap, QStringLiteral("x"));
    QCOMPARE(caches.shops.EntryFor({1, 199, 40000}).nm, QStringLiteral("A店"));
}

void TestHistoryStoreNames::laterRowOfOneKeyWins()
{
    prepareNameTables(
        {NameTable::BusStops},
        {QStringLiteral("INSERT INTO bus VALUES (-32767, 5, 'a1', 'l1', 's1', 'first')"),
         QStringLiteral("INSERT INTO bus VALUES (-32767, 5, 'a2', 'l2', NULL, 'second')")});
    HistoryStore store;
    NameCaches caches = startStore(store);
    QCOMPARE(caches.busStops.size(), std::size_t(1));
    QCOMPARE(namePartsOf(caches.busStops.EntryFor({32769, 5})),
             (QStringList{QStringLiteral("a2"), QStringLiteral("l2"), QString(),
                          QStringLiteral("second")}));
}

void TestHistoryStoreNames::nullTextsReadEmpty()
{
    prepareNameTables(
        {NameTable::Stations},
        {QStringLiteral("INSERT INTO ipn (ac, lc, sc, sn, nm) VALUES (257, 1, 2, 's', 'n')")});
    HistoryStore store;
    NameCaches caches = startStore(store);
    QVERIFY(caches.stations.contains({1, 1, 2})); // low 8 bits of 257
    QCOMPARE(namePartsOf(caches.stations.EntryFor({1, 1, 2})),
             (QStringList{QString(), QString(), QStringLiteral("s"), QStringLiteral("n")}));
}

// Placeholders that were composed from no parts and stored: ignored at loading, so the keys
// are asked for again, and a named row of the same key keeps its name.
void TestHistoryStoreNames::rowsWithoutNamePartsAreIgnored()
{
    prepareNameTables(
        {NameTable::Stations, NameTable::BusStops, NameTable::Shops},
        {QStringLiteral("INSERT INTO ipn VALUES (0, 1, 2, NULL, NULL, NULL, '(線)')"),
         QStringLiteral("INSERT INTO ipn VALUES (0, 1, 3, 'JR', '山手', '新宿', 'n')"),
         QStringLiteral("INSERT INTO ipn VALUES (0, 1, 3, '', '', '', '(：線)')"),
         QStringLiteral("INSERT INTO bus VALUES (4, 5, NULL, '', NULL, '()')"),
         QStringLiteral("INSERT INTO bpn VALUES (1, 199, 7, NULL, NULL, NULL, '', ' ')"),
         QStringLiteral("INSERT INTO bpn VALUES (1, 199, 8, NULL, NULL, NULL, 'x', ' ')")});
    HistoryStore store;
    NameCaches caches = startStore(store);
    QVERIFY(!caches.stations.contains({0, 1, 2}));
    QCOMPARE(caches.stations.EntryFor({0, 1, 3}).nm, QStringLiteral("n"));
    QVERIFY(caches.busStops.empty());
    QVERIFY(!caches.shops.contains({1, 199, 7}));
    QVERIFY(caches.shops.contains({1, 199, 8})); // the fourth shop field is a part
}

void TestHistoryStoreNames::emptyOrMissingTableLeavesCacheUnchanged()
{
    Database db = prepareDatabase();
    StationNameCache stations;
    stations.EntryFor({1, 2, 3}).nm = QStringLiteral("kept");
    HistoryStore::LoadNameCache(db, stations); // no table at all
    QCOMPARE(stations.size(), std::size_t(1));
    HistoryStore::EnsureNameTable(db, NameTable::Stations);
    HistoryStore::LoadNameCache(db, stations); // table without rows
    QCOMPARE(stations.size(), std::size_t(1));
    QCOMPARE(stations.EntryFor({1, 2, 3}).nm, QStringLiteral("kept"));
    db.execute(QStringLiteral("INSERT INTO ipn (ac, lc, sc, sn, nm) VALUES (4, 5, 6, 's', 'new')"));
    HistoryStore::LoadNameCache(db, stations); // rows replace the cache
    QCOMPARE(stations.size(), std::size_t(1));
    QVERIFY(stations.contains({4, 5, 6}));
}

void TestHistoryStoreNames::nameTableMissingAColumnReportsEngineText()
{
    {
        Database db = prepareDatabase();
        db.execute(QStringLiteral("CREATE TABLE ipn (ac SMALLINT, lc SMALLINT, sc SMALLINT, "
                                  "an VARCHAR(255), nm VARCHAR(255))"));
        db.execute(QStringLiteral("INSERT INTO ipn VALUES (1, 2, 3, 'a', 'n')"));
    }
    const QByteArray before = fileBytes(dbPath());
    HistoryStore store;
    QCOMPARE(errorTextOf([&] { startStore(store); }), QString());
    QCOMPARE(reported_.size(), 1);
    QVERIFY2(reported_[0].contains(QStringLiteral(
                 "the table ipn has the columns ac SMALLINT, lc SMALLINT, sc SMALLINT, an "
                 "VARCHAR(255), nm VARCHAR(255) instead of ac SMALLINT")),
             qPrintable(reported_[0]));
    QCOMPARE(store.state(), DatabaseState::None);
    QVERIFY(!store.isKeepingHistory());
    QCOMPARE(fileBytes(dbPath()), before);
}

// ----------------------------------------------------------------------------- Write-back

void TestHistoryStoreNames::writeBackInsertsRowWithNullsForEmptyParts()
{
    HistoryStore store;
    NameCaches caches = startStore(store);
    NameEntry& station = caches.stations.EntryFor({0, 37, 10});
    station.an = QStringLiteral("JR東日本");
    station.nm = QStringLiteral("渋谷");
    ShopNameEntry& shop = caches.shops.EntryFor({1, 199, 40000});
    shop.ap = QStringLiteral("4");
    shop.nm = QStringLiteral("店");
    QVERIFY(store.WriteBackNames(caches));
    QCOMPARE(store.state(), DatabaseState::Closed);
    QCOMPARE(
        selectedRows(dbPath(), QStringLiteral("SELECT ac, lc, sc, an, ln, sn, nm FROM ipn"), 7),
        QStringList{QStringLiteral("0|37|10|JR東日本|NULL|NULL|渋谷")});
    QCOMPARE(selectedRows(dbPath(), QStringLiteral("SELECT sc, an, ap, nm FROM bpn"), 4),
             QStringList{QStringLiteral("-25536|NULL|4|店")});
}

void TestHistoryStoreNames::writeBackChangesOnlyNmOfExistingRow()
{
    prepareNameTables(
        {NameTable::Stations},
        {QStringLiteral(
            "INSERT INTO ipn VALUES (0, 37, 10, 'old an', 'old ln', 'old sn', 'old nm')")});
    HistoryStore store;
    NameCaches caches = startStore(store);
    NameEntry& entry = caches.stations.EntryFor({0, 37, 10});
    entry.an = QStringLiteral("new an");
    entry.nm = QStringLiteral("new nm");
    QVERIFY(store.WriteBackNames(caches));
    QCOMPARE(selectedRows(dbPath(), QStringLiteral("SELECT an, ln, sn, nm FROM ipn"), 4),
             QStringList{QStringLiteral("old an|old ln|old sn|new nm")});
}

void TestHistoryStoreNames::writeBackSkipsEntriesWithoutName()
{
    HistoryStore store;
    NameCaches caches = startStore(store);
    caches.stations.EntryFor({1, 2, 3}).an = QStringLiteral("company only");
    caches.busStops.EntryFor({4, 5});
    // A name composed from no parts at all is a placeholder, not a name.
    caches.shops.EntryFor({1, 2, 3}).nm = QStringLiteral(" ");
    caches.stations.EntryFor({1, 2, 4}).nm = QStringLiteral("(線)");
    caches.shops.EntryFor({1, 2, 5}) = {QString(), QString(), QString(), QStringLiteral("ap"),
                                        QStringLiteral("named")};
    QVERIFY(store.WriteBackNames(caches));
    QCOMPARE(rowCount(dbPath(), QStringLiteral("ipn")), 0);
    QCOMPARE(rowCount(dbPath(), QStringLiteral("bus")), 0);
    QCOMPARE(rowCount(dbPath(), QStringLiteral("bpn")), 1);
}

void TestHistoryStoreNames::writeBackMatchesLargeKeyPartsWithoutDuplicates()
{
    HistoryStore store;
    NameCaches caches = startStore(store);
    caches.busStops.EntryFor({32769, 65535}) = {
        {}, QStringLiteral("stop"), {}, QStringLiteral("first name")};
    caches.shops.EntryFor({1, 200, 32768}) = {
        {}, QStringLiteral("shop"), {}, {}, QStringLiteral("shop")};
    QVERIFY(store.WriteBackNames(caches));
    caches.busStops.EntryFor({32769, 65535}).nm = QStringLiteral("second name");
    QVERIFY(store.WriteBackNames(caches));
    QCOMPARE(selectedRows(dbPath(), QStringLiteral("SELECT ac, lc, nm FROM bus"), 3),
             QStringList{QStringLiteral("-32767|-1|second name")});
    QCOMPARE(rowCount(dbPath(), QStringLiteral("bpn")), 1);
    HistoryStore next;
    NameCaches loaded = startStore(next);
    QCOMPARE(loaded.busStops.EntryFor({32769, 65535}).nm, QStringLiteral("second name"));
    QCOMPARE(loaded.shops.EntryFor({1, 200, 32768}).nm, QStringLiteral("shop"));
}

void TestHistoryStoreNames::writeBackVisitsKeysInOrder()
{
    HistoryStore store;
    NameCaches caches = startStore(store);
    for (const auto& [key, name] : {std::pair{BusStopKey{0x0201, 0x0000}, u"second"},
                                    std::pair{BusStopKey{0x0102, 0x0001}, u"first"},
                                    std::pair{BusStopKey{0x8000, 0x0000}, u"third"}})
        caches.busStops.EntryFor(key) = {{}, QStringLiteral("stop"), {}, QString::fromUtf16(name)};
    QVERIFY(store.WriteBackNames(caches));
    QCOMPARE(
        selectedRows(dbPath(), QStringLiteral("SELECT nm FROM bus"), 1),
        (QStringList{QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")}));
}

void TestHistoryStoreNames::writeBackCreatesMissingTable()
{
    HistoryStore store;
    NameCaches caches = startStore(store);
    {
        Database db = openForInspection(dbPath());
        db.dropTable(QStringLiteral("bus"));
    }
    caches.busStops.EntryFor({1, 2}) = {{}, QStringLiteral("停留所"), {}, QStringLiteral("停留所")};
    QVERIFY(store.WriteBackNames(caches));
    QCOMPARE(rowCount(dbPath(), QStringLiteral("bus")), 1);
}

void TestHistoryStoreNames::writtenNamesLoadAgainAtNextStart()
{
    {
        HistoryStore store;
        NameCaches caches = startStore(store);
        caches.stations.EntryFor({0, 37, 10}) = {QStringLiteral("JR"), QStringLiteral("山手線"),
                                                 QStringLiteral("渋谷"),
                                                 QStringLiteral("山手線渋谷")};
        QVERIFY(store.WriteBackNames(caches));
        store.dropDatabaseObject();
    }
    HistoryStore store;
    NameCaches caches = startStore(store);
    QCOMPARE(caches.stations.size(), std::size_t(1));
    QCOMPARE(namePartsOf(caches.stations.EntryFor({0, 37, 10})),
             (QStringList{QStringLiteral("JR"), QStringLiteral("山手線"), QStringLiteral("渋谷"),
                          QStringLiteral("山手線渋谷")}));
}

QTEST_GUILESS_MAIN(TestHistoryStoreNames)
#include "test_historystorenames.moc"
