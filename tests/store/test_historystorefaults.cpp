// The store of the main dialog when things go wrong (unwritable folders, foreign and damaged
// files, locks, a failing gate log), the gate log across reads, and clearing.
#include "historystorefixture.h"

using namespace ridelog;
using namespace ridelog::test;

class TestHistoryStoreFaults : public QObject, HistoryStoreFixture
{
    Q_OBJECT

private slots:
    void init() { setUpHome(); }
    void cleanup() { tearDownHome(); }

    // ---- Faults
    void gateLogIsKeptAcrossReads();
    void gateLogFailureLeavesTheHistoryStored_data();
    void gateLogFailureLeavesTheHistoryStored();
    void unusableDatabaseStillListsTheCard_data();
    void unusableDatabaseStillListsTheCard();
    void problemIsToldAgainAfterTheDatabaseWorkedInBetween();
    void cardTableMissingAColumnReportsEngineText();
    void failedStoreLeavesTableAsBefore();
    void lockedDatabaseIsWaitedForThenReported();
    void lockReleasedInTimeStoresBlocks();

    // ---- Clearing
    void recreateNameTableEmptiesOnlyThatTable();
    void deleteCardTableRemovesOnlyThatCard();
    void deleteMissingCardTableRaisesEngineText();
};

// --------------------------------------------------------------------------------- Faults

void TestHistoryStoreFaults::unusableDatabaseStillListsTheCard_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: a plain file blocks the data folder
    QTest::addColumn<QStringList>("reported");
    QTest::newRow("a file where the data folder should be") << QByteArray() << QStringList{};
    QTest::newRow("a file that is not a database")
        << QByteArrayLiteral("2024-04-01 Shibuya -> Shinjuku 170 yen\n").repeated(300)
        << QStringList{QStringLiteral("file is not a database")};
}

// The card is listed all the same; nothing is written, the file keeps every byte and the user
// is told once, not at every operation.
void TestHistoryStoreFaults::unusableDatabaseStillListsTheCard()
{
    QFETCH(QByteArray, content);
    if (content.isEmpty()) {
        QFile blocker(home_->filePath(QStringLiteral("Tanpopo")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    } else {
        writeGarbageDatabase(content);
    }
    CardSession session;
    HistoryStore& store = session.store();
    NameCaches& caches = startStore(session);
    QCOMPARE(store.state(), DatabaseState::None);
    const ReadResult read = readCard(session, cardBlocks(1, 20));
    QCOMPARE(read.records.size(), std::size_t(20));
    QCOMPARE(read.added, 0);
    QCOMPARE(store.EnsureDatabaseOpen(), -2);
    caches.stations.EntryFor({0, 1, 2}).nm = QStringLiteral("駅");
    QVERIFY(!store.WriteBackNames(caches));
    QVERIFY(!store.recreateNameTable(NameTable::Stations));
    QVERIFY(!store.recreateNameTable(NameTable::BusStops));
    QVERIFY(!store.deleteCardTable(kIdm));
    QTEST(reported_, "reported");
    if (!content.isEmpty())
        QCOMPARE(fileBytes(dbPath()), content);
    QVERIFY(!QFile::exists(dbPath() + QStringLiteral("-journal")));
}

void TestHistoryStoreFaults::problemIsToldAgainAfterTheDatabaseWorkedInBetween()
{
    writeGarbageDatabase(QByteArrayLiteral("garbage"));
    CardSession session;
    startStore(session);
    QCOMPARE(reported_.size(), 1);
    // The user moves the file away: the next read creates a fresh database and stores.
    QVERIFY(QFile::rename(dbPath(), dbPath() + QStringLiteral(".saved")));
    QCOMPARE(readCard(session, cardBlocks(1, 3)).added, 3);
    QCOMPARE(reported_.size(), 1);
    QVERIFY(QFile::remove(dbPath()));
    writeGarbageDatabase(QByteArrayLiteral("garbage again"));
    QCOMPARE(readCard(session, cardBlocks(1, 3)).records.size(), std::size_t(3));
    QCOMPARE(reported_.size(), 2);
    QCOMPARE(reported_.last(), QStringLiteral("file is not a database"));
}

void TestHistoryStoreFaults::cardTableMissingAColumnReportsEngineText()
{
    CardSession session;
    HistoryStore& store = session.store();
    startStore(session);
    {
        Database db = openForInspection(dbPath());
        db.execute(QStringLiteral("CREATE TABLE \"%1\" (seq INTEGER, b1 INTEGER, b2 INTEGER, "
                                  "b3 INTEGER)")
                       .arg(kCardTable));
        db.execute(QStringLiteral("INSERT INTO \"%1\" VALUES (1, 2, 3, 4)").arg(kCardTable));
    }
    const QByteArray before = fileBytes(dbPath());
    CardBlockSet blocks;
    HistoryStore::LoadOutcome outcome = HistoryStore::LoadOutcome::Loaded;
    QCOMPARE(errorTextOf([&] { outcome = store.LoadStoredBlocks(kIdm, blocks); }), QString());
    QVERIFY(outcome == HistoryStore::LoadOutcome::NotLoaded);
    QVERIFY(blocks.empty());
    QVERIFY(!store.isKeepingHistory());
    QVERIFY2(store.notKeptReason().contains(kCardTable + QStringLiteral(" has the columns")),
             qPrintable(store.notKeptReason()));
    // The file is not the program's any more: this read and every other card's store nothing.
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, 3));
    const std::vector<HistoryBlock> taps{
        ridelog::testing::gateBlock(0x20, ridelog::testing::kShibuya, QDate(2026, 12, 7), 8, 45)};
    QCOMPARE(store.StoreNewBlocks(kIdm, blocks, taps), 0);
    QVERIFY(!hasTable(dbPath(), GateLogStore::tableName()));
    const ReadResult other =
        readCard(session, cardBlocks(1, 3), QStringLiteral("00000000000000AA"));
    QCOMPARE(other.added, 0);
    QCOMPARE(fileBytes(dbPath()), before);
}

void TestHistoryStoreFaults::failedStoreLeavesTableAsBefore()
{
    CardSession session;
    HistoryStore& store = session.store();
    startStore(session);
    readCard(session, cardBlocks(1, 5));
    {
        // The engine refuses the third of the new rows, as a full disk would.
        Database db = openForInspection(dbPath());
        db.execute(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON \"%1\" WHEN NEW.seq = 8 "
                                  "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END")
                       .arg(kCardTable));
    }
    CardBlockSet blocks;
    store.LoadStoredBlocks(kIdm, blocks);
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, 10));
    QCOMPARE(errorTextOf([&] { store.StoreNewBlocks(kIdm, blocks); }),
             QStringLiteral("database or disk is full"));
    QCOMPARE(rowCount(dbPath(), kCardTable), 5);
    QCOMPARE(blocks.find(6)->origin, BlockOrigin::Card);
    QCOMPARE(store.state(), DatabaseState::Closed);
    {
        Database db = openForInspection(dbPath());
        db.execute(QStringLiteral("DROP TRIGGER refuse"));
    }
    // The blocks are still on the card: the next read stores them.
    const ReadResult next = readCard(session, cardBlocks(1, 10));
    QCOMPARE(next.added, 5);
    QCOMPARE(rowCount(dbPath(), kCardTable), 10);
}

void TestHistoryStoreFaults::lockedDatabaseIsWaitedForThenReported()
{
    CardSession session;
    HistoryStore& store = session.store();
    startStore(session);
    readCard(session, cardBlocks(1, 3));
    store.setBusyTimeout(200);
    Database other = openForInspection(dbPath());

    // Another process is writing: storing waits, then fails with the engine's text.
    other.execute(QStringLiteral("BEGIN IMMEDIATE"));
    CardBlockSet blocks;
    store.LoadStoredBlocks(kIdm, blocks);
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, 6));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(errorTextOf([&] { store.StoreNewBlocks(kIdm, blocks); }),
             QStringLiteral("database is locked"));
    QVERIFY(timer.elapsed() >= 150);
    other.execute(QStringLiteral("ROLLBACK"));

    // Another process holds the file exclusively: the read goes on without the database and
    // the user is told why.
    other.execute(QStringLiteral("BEGIN EXCLUSIVE"));
    const ReadResult read = readCard(session, cardBlocks(1, 6));
    QCOMPARE(read.records.size(), std::size_t(6));
    QCOMPARE(reported_, QStringList{QStringLiteral("database is locked")});
    other.execute(QStringLiteral("ROLLBACK"));
    QCOMPARE(rowCount(dbPath(), kCardTable), 3);
}

void TestHistoryStoreFaults::lockReleasedInTimeStoresBlocks()
{
    CardSession session;
    HistoryStore& store = session.store();
    startStore(session);
    readCard(session, cardBlocks(1, 3));
    store.setBusyTimeout(5000);
    Database other = openForInspection(dbPath());
    other.execute(QStringLiteral("BEGIN IMMEDIATE"));
    std::thread release([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        other.execute(QStringLiteral("COMMIT"));
    });
    const ReadResult read = readCard(session, cardBlocks(1, 6));
    release.join();
    QCOMPARE(read.added, 3);
    QVERIFY(reported_.isEmpty());
}

// ------------------------------------------------------------------------------- Clearing

void TestHistoryStoreFaults::recreateNameTableEmptiesOnlyThatTable()
{
    prepareNameTables({NameTable::Stations, NameTable::BusStops, NameTable::Shops},
                      {QStringLiteral("INSERT INTO ipn (ac, lc, sc, nm) VALUES (1, 2, 3, 'a')"),
                       QStringLiteral("INSERT INTO bus (ac, lc, nm) VALUES (1, 2, 'b')"),
                       QStringLiteral("INSERT INTO bpn (ac, lc, sc, nm) VALUES (1, 2, 3, 'c')")});
    CardSession session;
    HistoryStore& store = session.store();
    startStore(session);
    readCard(session, cardBlocks(1, 2));
    QVERIFY(store.recreateNameTable(NameTable::Shops));
    QCOMPARE(store.state(), DatabaseState::Closed);
    QCOMPARE(rowCount(dbPath(), QStringLiteral("bpn")), 0);
    QCOMPARE(rowCount(dbPath(), QStringLiteral("ipn")), 1);
    QCOMPARE(rowCount(dbPath(), QStringLiteral("bus")), 1);
    QCOMPARE(rowCount(dbPath(), kCardTable), 2);
    Database db = openForInspection(dbPath());
    QCOMPARE(tableColumns(db, QStringLiteral("bpn")).size(), 8);
}

void TestHistoryStoreFaults::deleteCardTableRemovesOnlyThatCard()
{
    CardSession session;
    HistoryStore& store = session.store();
    startStore(session);
    readCard(session, cardBlocks(1, 35));
    readCard(session, cardBlocks(1, 4), QStringLiteral("00000000000000AA"));
    QVERIFY(store.deleteCardTable(kIdm));
    QVERIFY(!hasTable(dbPath(), kCardTable));
    QCOMPARE(rowCount(dbPath(), QStringLiteral("200000000000000AA")), 4);
    QVERIFY(hasTable(dbPath(), QStringLiteral("ipn")));
    // The card still holds its last 20: the next read stores just those.
    const ReadResult read = readCard(session, cardBlocks(16, 35));
    QCOMPARE(read.added, 20);
    QCOMPARE(read.records.size(), std::size_t(20));
}

void TestHistoryStoreFaults::deleteMissingCardTableRaisesEngineText()
{
    HistoryStore store;
    NameCaches caches = startStore(store);
    QCOMPARE(errorTextOf([&] { store.deleteCardTable(QString()); }),
             QStringLiteral("no such table: 2"));
    QCOMPARE(store.state(), DatabaseState::Closed);
    QCOMPARE(errorTextOf([&] { store.deleteCardTable(kIdm); }),
             QStringLiteral("no such table: ") + kCardTable);
}

// One read of the card's serials 1 to highest with its gate log, as the session stores it;
// stored receives the gate log the store held before this read.
static int storeRead(HistoryStore& store, std::uint32_t highest,
                     const std::vector<HistoryBlock>& gateLog, const QDateTime& when,
                     std::vector<HistoryBlock>* stored = nullptr)
{
    CardBlockSet blocks;
    store.LoadStoredBlocks(kIdm, blocks, stored);
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, highest));
    return store.StoreNewBlocks(kIdm, blocks, gateLog, when);
}

void TestHistoryStoreFaults::gateLogIsKeptAcrossReads()
{
    using namespace ridelog::testing;
    HistoryStore store;
    NameCaches caches = startStore(store);
    const QDate day(2026, 12, 7);
    const HistoryBlock morningExit = gateBlock(0x20, kShibuya, day, 8, 45, 170);
    const HistoryBlock morningEntry = gateBlock(0xA0, kShinjuku, day, 8, 29);
    const HistoryBlock eveningEntry = gateBlock(0xA0, kShibuya, day, 18, 10);
    const QDateTime firstRead = QDateTime::fromSecsSinceEpoch(1796000000, Qt::UTC);
    const QString gateLog = GateLogStore::tableName();

    // A read whose gate log is empty creates no table.
    QCOMPARE(storeRead(store, 3, std::vector<HistoryBlock>(3), firstRead), 3);
    QVERIFY(!hasTable(dbPath(), gateLog));
    // The gate log comes in the read's own transaction, empty slots left out.
    QCOMPARE(storeRead(store, 4, {morningExit, morningEntry, HistoryBlock{}}, firstRead), 1);
    QCOMPARE(rowCount(dbPath(), gateLog), 2);
    // The same history again with one new tap: only the tap is added.
    const std::vector<HistoryBlock> second{eveningEntry, morningExit, morningEntry};
    std::vector<HistoryBlock> stored;
    QCOMPARE(storeRead(store, 4, second, firstRead.addSecs(3600), &stored), 0);
    QCOMPARE(stored, (std::vector<HistoryBlock>{morningExit, morningEntry}));
    QCOMPARE(rowCount(dbPath(), gateLog), 3);
    // Reading it once more adds nothing.
    storeRead(store, 4, second, firstRead.addSecs(7200), &stored);
    QCOMPARE(stored.size(), std::size_t(3));
    QCOMPARE(rowCount(dbPath(), gateLog), 3);

    Database db = openForInspection(dbPath());
    QCOMPARE(tableColumns(db, gateLog),
             (QStringList{QStringLiteral("idm VARCHAR(255)"), QStringLiteral("block VARCHAR(255)"),
                          QStringLiteral("firstRead INTEGER")}));
    const QStringList rows = selectedRows(
        dbPath(), QStringLiteral("SELECT idm, block, firstRead FROM gatelog ORDER BY rowid"), 3);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0], kIdm + QStringLiteral("|20002507200035870845AA0000000000|") +
                          QString::number(firstRead.toSecsSinceEpoch()));
    QVERIFY(rows[2].endsWith(u'|' + QString::number(firstRead.addSecs(3600).toSecsSinceEpoch())));
    // Another card's read sees none of them.
    std::vector<HistoryBlock> others{morningExit};
    CardBlockSet otherBlocks;
    store.LoadStoredBlocks(QStringLiteral("00000000000000AA"), otherBlocks, &others);
    QVERIFY(others.empty());
}

void TestHistoryStoreFaults::gateLogFailureLeavesTheHistoryStored_data()
{
    QTest::addColumn<QString>("gateLogSetUp");
    QTest::addColumn<int>("gateLogRows");
    QTest::newRow("a full disk for the gate log")
        << QStringLiteral("CREATE TABLE gatelog (idm VARCHAR(255), block VARCHAR(255), "
                          "firstRead INTEGER)|CREATE TRIGGER refuse BEFORE INSERT ON gatelog "
                          "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END")
        << 0;
    QTest::newRow("a gatelog table of other columns")
        << QStringLiteral("CREATE TABLE gatelog (idm TEXT, tap BLOB)|"
                          "INSERT INTO gatelog VALUES ('x', 'y')")
        << 1;
}

void TestHistoryStoreFaults::gateLogFailureLeavesTheHistoryStored()
{
    QFETCH(QString, gateLogSetUp);
    HistoryStore store;
    NameCaches caches = startStore(store);
    {
        Database db = openForInspection(dbPath());
        for (const QString& statement : gateLogSetUp.split(QLatin1Char('|')))
            db.execute(statement);
    }
    CardBlockSet blocks;
    std::vector<HistoryBlock> stored;
    store.LoadStoredBlocks(kIdm, blocks, &stored);
    QVERIFY(stored.empty());
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, 5));
    const std::vector<HistoryBlock> taps{
        ridelog::testing::gateBlock(0x20, ridelog::testing::kShibuya, QDate(2026, 12, 7), 8, 45)};
    QCOMPARE(store.StoreNewBlocks(kIdm, blocks, taps), 5);
    QCOMPARE(rowCount(dbPath(), kCardTable), 5);
    QTEST(int(rowCount(dbPath(), GateLogStore::tableName())), "gateLogRows");
    QVERIFY(store.isKeepingHistory());
}

QTEST_GUILESS_MAIN(TestHistoryStoreFaults)
#include "test_historystorefaults.moc"
