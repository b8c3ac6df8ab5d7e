// The store of the main dialog: data folder, schema, encodings and the card history.
#include "historystorefixture.h"

using namespace ridelog;
using namespace ridelog::test;

class TestHistoryStore : public QObject, HistoryStoreFixture
{
    Q_OBJECT

private slots:
    void init() { setUpHome(); }
    void cleanup() { tearDownHome(); }

    // ---- Data folder and schema
    void firstStartCreatesFolderFileAndNameTables();
    void schemaOfNameTables_data();
    void schemaOfNameTables();
    void schemaOfCardTable();
    void withoutDataFolderNoObjectCanBeMade();
    void foreignFileIsNeverWritten_data();
    void foreignFileIsNeverWritten();

    // ---- Encodings
    void storedRowHoldsSignedWordsAndSerial();
    void keyPartsRoundTrip_data();
    void keyPartsRoundTrip();

    // ---- Card block set
    void cardBlockSetOrdersBySerialBytes();
    void cardBlockSetFirstInsertWins();

    // ---- Card history
    void firstReadStoresEveryUsedBlock_data();
    void firstReadStoresEveryUsedBlock();
    void readingTheSameCardTwiceInsertsNothing();
    void historyThatMovedOnListsTheUnionStoredBlockWins();
    void twoRowsOfOneSerialEarlierWins();
    void mergeSkipsUnnamedTerminalTypes();
    void buildRecordSetDecodesEveryBlockWithNames();
    void databaseObjectLifecycle();
    void freshBlockAlreadyInTableIsNotAddedAgain();
};

// ------------------------------------------------------------------- Data folder and schema

void TestHistoryStore::foreignFileIsNeverWritten_data()
{
    QTest::addColumn<QStringList>("schema"); // what another program (or the user) made
    QTest::addColumn<bool>("foreign");
    const QString ipn = QStringLiteral("CREATE TABLE ipn (\"ac\" SMALLINT, \"lc\" SMALLINT, "
                                       "\"sc\" SMALLINT, \"an\" VARCHAR(255), \"ln\" "
                                       "VARCHAR(255), \"sn\" VARCHAR(255), \"nm\" VARCHAR(255))");
    const QString card = QStringLiteral("CREATE TABLE \"20114A1B2C3D4E5F6\" (\"seq\" INTEGER, "
                                        "\"b1\" INTEGER, \"b2\" INTEGER, \"b3\" INTEGER, "
                                        "\"b4\" INTEGER)");
    QTest::newRow("the name server's names file")
        << QStringList{QStringLiteral("CREATE TABLE rail (area, line, station, company)"),
                       QStringLiteral("CREATE TABLE bus (first_code, second_code, company, stop)"),
                       QStringLiteral("CREATE TABLE info (name, value)")}
        << true;
    QTest::newRow("another program's tables")
        << QStringList{QStringLiteral("CREATE TABLE users (id INTEGER, name TEXT)")} << true;
    QTest::newRow("ipn with other columns")
        << QStringList{QStringLiteral("CREATE TABLE ipn (code TEXT, name TEXT)")} << true;
    QTest::newRow("card table with an extra column")
        << QStringList{ipn, QStringLiteral("CREATE TABLE \"20114A1B2C3D4E5F6\" (seq INTEGER, "
                                           "b1 INTEGER, b2 INTEGER, b3 INTEGER, b4 INTEGER, x)")}
        << true;
    QTest::newRow("a view named bus")
        << QStringList{ipn, QStringLiteral("CREATE VIEW bus AS SELECT * FROM ipn")} << true;
    QTest::newRow("IPN in capitals")
        << QStringList{QString(ipn).replace(QStringLiteral("TABLE ipn"),
                                            QStringLiteral("TABLE IPN"))}
        << true;
    QTest::newRow("ours with the user's own view and table")
        << QStringList{ipn, card,
                       QStringLiteral("CREATE VIEW fares AS SELECT b2 FROM \"20114A1B2C3D4E5F6\""),
                       QStringLiteral("CREATE TABLE my_notes (text)")}
        << false;
    QTest::newRow("ours with a cards table of other columns")
        << QStringList{ipn, card, QStringLiteral("CREATE TABLE cards (idm TEXT)")} << false;
    QTest::newRow("an empty file") << QStringList{} << false;
}

// A file that is not this program's keeps every byte, through start-up, a read and shutdown,
// and the sign says why history is not kept; a file of ours with additions of the user's works.
void TestHistoryStore::foreignFileIsNeverWritten()
{
    QFETCH(QStringList, schema);
    QFETCH(bool, foreign);
    {
        Database database = prepareDatabase();
        for (const QString& statement : schema)
            database.execute(statement);
        if (schema.isEmpty())
            database.execute(QStringLiteral("PRAGMA user_version = 0"));
    }
    const QByteArray before = fileBytes(dbPath());

    CardSession session;
    HistoryStore& store = session.store();
    NameCaches& caches = startStore(session);
    caches.stations.EntryFor({0, 0x25, 0x0C}) = {QStringLiteral("JR"), QStringLiteral("山手"),
                                                 QStringLiteral("新宿"), QStringLiteral("新宿")};
    const ReadResult read = readCard(session, cardBlocks(1, 5));
    QCOMPARE(read.records.size(), std::size_t(5)); // the card's history is listed either way
    const bool wroteBack = store.WriteBackNames(caches);
    store.dropDatabaseObject();

    if (foreign) {
        QCOMPARE(fileBytes(dbPath()), before);
        QCOMPARE(read.added, 0);
        QVERIFY(!wroteBack);
        QVERIFY2(store.notKeptReason().contains(QStringLiteral("is not a Ridelog history file")),
                 qPrintable(store.notKeptReason()));
        QCOMPARE(reported_.size(), 1); // said once, not at every operation
    } else {
        QCOMPARE(read.added, 5);
        QVERIFY(wroteBack);
        QVERIFY(store.isKeepingHistory());
        QCOMPARE(rowCount(dbPath(), kCardTable), 5);
        for (const QString& statement : schema) {
            const QString name = statement.section(u' ', 2, 2).remove(u'"');
            Database database = openForInspection(dbPath());
            Statement kept(database, QStringLiteral("SELECT 1 FROM sqlite_master WHERE name=?1"));
            kept.bind(1, name);
            QVERIFY2(kept.step(), qPrintable(name));
        }
    }
}

void TestHistoryStore::firstStartCreatesFolderFileAndNameTables()
{
    QVERIFY(!QDir(dataFolder()).exists());
    HistoryStore store;
    NameCaches caches = startStore(store);
    QCOMPARE(store.DataFolder(), dataFolder());
    QVERIFY(store.DataFolder().endsWith(QLatin1Char('/')));
    QVERIFY(QDir(dataFolder()).exists());
    QCOMPARE(store.databasePath(), dbPath());
    QVERIFY(QFile::exists(dbPath()));
    QCOMPARE(store.state(), DatabaseState::Closed);
    QCOMPARE(selectedRows(dbPath(),
                          QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' "
                                         "ORDER BY name"),
                          1),
             (QStringList{QStringLiteral("bpn"), QStringLiteral("bus"), QStringLiteral("ipn")}));
    QVERIFY(caches.stations.empty() && caches.busStops.empty() && caches.shops.empty());
    QVERIFY(reported_.isEmpty());
}

void TestHistoryStore::schemaOfNameTables_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("columns");
    const auto key = [](const char* name) {
        return QLatin1String(name) + QStringLiteral(" SMALLINT");
    };
    const auto text = [](const char* name) {
        return QLatin1String(name) + QStringLiteral(" VARCHAR(255)");
    };
    QTest::newRow("ipn") << QStringLiteral("ipn")
                         << QStringList{key("ac"),  key("lc"),  key("sc"), text("an"),
                                        text("ln"), text("sn"), text("nm")};
    QTest::newRow("bus") << QStringLiteral("bus")
                         << QStringList{key("ac"),  key("lc"),  text("an"),
                                        text("ln"), text("sn"), text("nm")};
    QTest::newRow("bpn") << QStringLiteral("bpn")
                         << QStringList{key("ac"),  key("lc"),  key("sc"),  text("an"),
                                        text("ln"), text("sn"), text("ap"), text("nm")};
}

void TestHistoryStore::schemaOfNameTables()
{
    QFETCH(QString, table);
    QFETCH(QStringList, columns);
    HistoryStore store;
    NameCaches caches = startStore(store);
    Database db = openForInspection(dbPath());
    QCOMPARE(tableColumns(db, table), columns);
}

// The card table keeps its five columns; the look-up of a block before adding it uses an index.
void TestHistoryStore::schemaOfCardTable()
{
    CardSession session;
    startStore(session);
    readCard(session, cardBlocks(1, 3));
    Database db = openForInspection(dbPath());
    QCOMPARE(tableColumns(db, kCardTable),
             (QStringList{QStringLiteral("seq INTEGER"), QStringLiteral("b1 INTEGER"),
                          QStringLiteral("b2 INTEGER"), QStringLiteral("b3 INTEGER"),
                          QStringLiteral("b4 INTEGER")}));
    Statement plan(db, QStringLiteral("EXPLAIN QUERY PLAN SELECT 1 FROM \"%1\" WHERE b1=1 AND "
                                      "b2=2 AND b3=3 AND b4=4")
                           .arg(kCardTable));
    QString details;
    while (plan.step())
        details += plan.textAt(3);
    QVERIFY2(details.contains(QStringLiteral("USING INDEX")), qPrintable(details));
}

void TestHistoryStore::withoutDataFolderNoObjectCanBeMade()
{
    HistoryStore store; // DataFolder is set only by OpenDatabaseAtStart
    QCOMPARE(store.EnsureDatabaseOpen(), -1);
    QCOMPARE(store.state(), DatabaseState::None);
    CardBlockSet blocks;
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, 2));
    QCOMPARE(store.StoreNewBlocks(kIdm, blocks), 0);
    QVERIFY(!store.recreateNameTable(NameTable::Stations));
    QVERIFY(!store.deleteCardTable(kIdm));
}

// ------------------------------------------------------------------------------ Encodings

void TestHistoryStore::storedRowHoldsSignedWordsAndSerial()
{
    CardSession session;
    HistoryStore& store = session.store();
    startStore(session);
    HistoryBlock block = railBlock(0x0A0B0C);
    block[4] = 0x01;
    block[5] = 0x02;
    block[6] = 0x03;
    block[7] = 0x84;
    block[15] = 0x81;
    const ReadResult read = readCard(session, {block});
    QCOMPARE(read.added, 1);
    QCOMPARE(selectedRows(dbPath(), QStringLiteral("SELECT * FROM \"%1\"").arg(kCardTable), 5),
             QStringList{QStringLiteral("%1|%2|%3|%4|%5")
                             .arg(0x0A0B0C)
                             .arg(0x116)
                             .arg(-2080177663)
                             .arg(blockWords(block)[2])
                             .arg(std::int32_t(0x810C0B0Au))});
    // And it comes back byte for byte.
    CardBlockSet loaded;
    store.LoadStoredBlocks(kIdm, loaded);
    QCOMPARE(loaded.size(), std::size_t(1));
    QCOMPARE(loaded.find(0x0A0B0C)->block, block);
    QCOMPARE(loaded.find(0x0A0B0C)->origin, BlockOrigin::CardTable);
}

// A 16-bit key part is stored as a signed SMALLINT and read back whole, or by its low 8 bits.
void TestHistoryStore::keyPartsRoundTrip_data()
{
    QTest::addColumn<int>("all16");
    QTest::addColumn<qlonglong>("stored");
    QTest::addColumn<int>("low8");
    QTest::newRow("small") << 37 << 37LL << 37;
    QTest::newRow("200") << 200 << 200LL << 200;
    QTest::newRow("above 8 bits") << 257 << 257LL << 1;
    QTest::newRow("largest positive") << 32767 << 32767LL << 255;
    QTest::newRow("negative 16-bit") << 32769 << -32767LL << 1;
    QTest::newRow("minus one") << 65535 << -1LL << 255;
}

void TestHistoryStore::keyPartsRoundTrip()
{
    QFETCH(int, all16);
    QFETCH(qlonglong, stored);
    QFETCH(int, low8);
    QCOMPARE(qlonglong(storedKeyPart(std::uint16_t(all16))), stored);
    QCOMPARE(int(keyPart16(stored)), all16);
    QCOMPARE(int(keyPartLow8(stored)), low8);
}

// --------------------------------------------------------------------------- Card history

void TestHistoryStore::cardBlockSetOrdersBySerialBytes()
{
    CardBlockSet blocks;
    for (const std::uint32_t serial : {0x010000u, 0x00FFFFu, 0x000100u, 0xFFFFFFu, 0x000001u})
        QVERIFY(blocks.insert(railBlock(serial), BlockOrigin::Card));
    QList<std::uint32_t> order;
    for (const auto& [serial, entry] : blocks) {
        QCOMPARE(blockSerial(entry.block), serial);
        order << serial;
    }
    QCOMPARE(order, (QList<std::uint32_t>{0x000001u, 0x000100u, 0x00FFFFu, 0x010000u, 0xFFFFFFu}));
}

void TestHistoryStore::cardBlockSetFirstInsertWins()
{
    CardBlockSet blocks;
    QVERIFY(blocks.insert(railBlock(5, 100), BlockOrigin::Card));
    QVERIFY(!blocks.insert(railBlock(5, 200), BlockOrigin::CardTable));
    QVERIFY(blocks.insert(railBlock(3, 300), BlockOrigin::CardTable));
    QVERIFY(!blocks.insert(railBlock(3, 400), BlockOrigin::Card));
    QCOMPARE(blocks.size(), std::size_t(2));
    QCOMPARE(blockBalance(blocks.find(5)->block), 100);
    QCOMPARE(blocks.find(5)->origin, BlockOrigin::Card);
    QCOMPARE(blockBalance(blocks.find(3)->block), 300);
    QCOMPARE(blocks.find(3)->origin, BlockOrigin::CardTable);
    blocks.markStored(5);
    QCOMPARE(blocks.find(5)->origin, BlockOrigin::CardTable);
    QVERIFY(blocks.find(4) == nullptr);
}

void TestHistoryStore::firstReadStoresEveryUsedBlock_data()
{
    QTest::addColumn<int>("firstSerial");
    QTest::addColumn<int>("used");  // blocks with history, from firstSerial up
    QTest::addColumn<int>("zeros"); // empty blocks after them
    QTest::newRow("twenty used") << 101 << 20 << 0;
    QTest::newRow("five used, fifteen zero") << 1 << 5 << 15;
    QTest::newRow("twenty zero") << 1 << 0 << 20;
    QTest::newRow("no blocks") << 1 << 0 << 0;
}

// Every used block becomes a row, in ascending serial order; a read storing nothing creates
// no table.
void TestHistoryStore::firstReadStoresEveryUsedBlock()
{
    QFETCH(int, firstSerial);
    QFETCH(int, used);
    QFETCH(int, zeros);
    CardSession session;
    startStore(session);
    std::vector<HistoryBlock> card;
    if (used > 0)
        card = cardBlocks(std::uint32_t(firstSerial), std::uint32_t(firstSerial + used - 1));
    card.resize(std::size_t(used + zeros), HistoryBlock{});
    const ReadResult read = readCard(session, card);
    QCOMPARE(read.added, used);
    QCOMPARE(read.records.size(), std::size_t(used));
    for (const auto& [serial, entry] : read.blocks)
        QCOMPARE(entry.origin, BlockOrigin::CardTable);
    QCOMPARE(hasTable(dbPath(), kCardTable), used > 0);
    if (used == 0)
        return;
    QCOMPARE(rowCount(dbPath(), kCardTable), used);
    Database db = openForInspection(dbPath());
    Statement rows = db.prepareReadAll(kCardTable, {QStringLiteral("seq")});
    std::int64_t expected = firstSerial;
    while (rows.step())
        QCOMPARE(rows.integerAt(0), expected++);
}

void TestHistoryStore::readingTheSameCardTwiceInsertsNothing()
{
    CardSession session;
    startStore(session);
    const ReadResult first = readCard(session, cardBlocks(1, 20));
    const ReadResult second = readCard(session, cardBlocks(1, 20));
    QCOMPARE(second.added, 0);
    QCOMPARE(rowCount(dbPath(), kCardTable), 20);
    QCOMPARE(second.records.size(), first.records.size());
    auto a = first.records.begin();
    for (const auto& record : second.records) {
        QCOMPARE(record.raw, a->raw);
        ++a;
    }
}

void TestHistoryStore::historyThatMovedOnListsTheUnionStoredBlockWins()
{
    CardSession session;
    startStore(session);
    readCard(session, cardBlocks(1, 20));
    // The card moved on by ten entries; its copy of serial 11 now shows another balance.
    std::vector<HistoryBlock> card = cardBlocks(11, 30);
    card.back() = railBlock(11, 9999);
    const ReadResult read = readCard(session, card);
    QCOMPARE(read.added, 10);
    QCOMPARE(read.records.size(), std::size_t(30));
    QCOMPARE(rowCount(dbPath(), kCardTable), 30);
    QCOMPARE(blockBalance(read.blocks.find(11)->block), 2011);
    QCOMPARE(read.records.find(11)->balance, 2011);
    QCOMPARE(read.records.begin()->serial, 1u);
}

void TestHistoryStore::twoRowsOfOneSerialEarlierWins()
{
    CardSession session;
    startStore(session);
    {
        Database db = openForInspection(dbPath());
        HistoryStore::CreateCardTable(db, kCardTable);
        for (const int balance : {500, 700}) {
            const BlockWords words = blockWords(railBlock(42, balance));
            db.execute(QStringLiteral("INSERT INTO \"%1\" VALUES (42, %2, %3, %4, %5)")
                           .arg(kCardTable)
                           .arg(words[0])
                           .arg(words[1])
                           .arg(words[2])
                           .arg(words[3]));
        }
    }
    const ReadResult read = readCard(session, {});
    QCOMPARE(read.records.size(), std::size_t(1));
    QCOMPARE(read.records.find(42)->balance, 500);
}

void TestHistoryStore::mergeSkipsUnnamedTerminalTypes()
{
    CardBlockSet blocks;
    blocks.insert(railBlock(7, 300), BlockOrigin::CardTable);
    HistoryBlock unnamed = railBlock(8);
    unnamed[0] = 0x01; // a terminal type without a name
    HistoryBlock zero{};
    const HistoryBlock card[] = {railBlock(9), unnamed, railBlock(7, 999), zero};
    HistoryStore::MergeCardBlocks(blocks, card);
    QCOMPARE(blocks.size(), std::size_t(2));
    QVERIFY(blocks.contains(9));
    QVERIFY(!blocks.contains(8));
    QCOMPARE(blockBalance(blocks.find(7)->block), 300);
    QCOMPARE(blocks.find(7)->origin, BlockOrigin::CardTable);
    QCOMPARE(blocks.find(9)->origin, BlockOrigin::Card);
}

void TestHistoryStore::buildRecordSetDecodesEveryBlockWithNames()
{
    NameCaches caches;
    CardBlockSet blocks;
    for (std::uint32_t s = 1; s <= 3; ++s)
        blocks.insert(railBlock(s, 100, 0x10, std::uint8_t(s)), BlockOrigin::Card);
    HistoryRecordSet records;
    HistoryStore::BuildRecordSet(blocks, caches, records);
    QCOMPARE(records.size(), std::size_t(3));
    for (const auto& record : records)
        QCOMPARE(record.raw, blocks.find(record.serial)->block);
    // Looking up the names left empty entries for the later refresh to fill.
    QVERIFY(!caches.stations.empty());
    for (const auto& [key, entry] : caches.stations)
        QVERIFY(entry.nm.isEmpty());
}

void TestHistoryStore::databaseObjectLifecycle()
{
    HistoryStore store;
    NameCaches caches;
    QCOMPARE(store.state(), DatabaseState::None);
    caches = startStore(store);
    QCOMPARE(store.state(), DatabaseState::Closed);
    CardBlockSet blocks;
    store.LoadStoredBlocks(kIdm, blocks); // no card table yet: the object is dropped
    QCOMPARE(store.state(), DatabaseState::None);
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, 2));
    QCOMPARE(store.StoreNewBlocks(kIdm, blocks), 2); // made again, closed at the end
    QCOMPARE(store.state(), DatabaseState::Closed);
    CardBlockSet again;
    store.LoadStoredBlocks(kIdm, again);
    QCOMPARE(store.state(), DatabaseState::Closed);
    QCOMPARE(again.size(), std::size_t(2));
    QCOMPARE(store.EnsureDatabaseOpen(), 0);
    QCOMPARE(store.state(), DatabaseState::Open);
    QCOMPARE(store.EnsureDatabaseOpen(), 0);
    store.closeDatabase();
    QCOMPARE(store.state(), DatabaseState::Closed);
    store.dropDatabaseObject();
    QCOMPARE(store.state(), DatabaseState::None);
}

void TestHistoryStore::freshBlockAlreadyInTableIsNotAddedAgain()
{
    // The table holds the block, but it was not loaded in this read (as when the load could not
    // reach the database): the look-up before adding still finds it.
    CardSession session;
    HistoryStore& store = session.store();
    startStore(session);
    readCard(session, cardBlocks(1, 3));
    CardBlockSet blocks;
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, 5));
    QCOMPARE(store.StoreNewBlocks(kIdm, blocks), 2);
    QCOMPARE(rowCount(dbPath(), kCardTable), 5);
}

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "test_historystore.moc"
