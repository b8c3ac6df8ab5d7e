// The store of the main dialog: data folder, schema, card history, name tables, clearing,
// write-back and the faults around them.
#include "databasetesthelpers.h"
#include "session/cardsession.h"
#include "store/gatelogstore.h"
#include "store/historystore.h"
#include "support/cardblocks.h"
#include "support/gatehistory.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace ridelog;

using ridelog::test::errorTextOf;
using ridelog::test::fileBytes;

using ridelog::test::cardBlocks;
using ridelog::test::railBlock;

namespace {

const QString kIdm = QStringLiteral("0114A1B2C3D4E5F6");
const QString kCardTable = QStringLiteral("20114A1B2C3D4E5F6");

Database openForInspection(const QString& path)
{
    return Database::open(path, Database::OpenMode::ExistingFile, 1000);
}

std::int64_t rowCount(const QString& dbPath, const QString& table)
{
    Database db = openForInspection(dbPath);
    Statement count(db, QStringLiteral("SELECT count(*) FROM %1").arg(quoteIdentifier(table)));
    count.step();
    return count.integerAt(0);
}

bool hasTable(const QString& dbPath, const QString& table)
{
    Database db = openForInspection(dbPath);
    return db.tableExists(table);
}

QStringList tableColumns(Database& db, const QString& table)
{
    Statement info(db, QStringLiteral("SELECT name, type FROM pragma_table_info(?1) ORDER BY cid"));
    info.bind(1, table);
    QStringList columns;
    while (info.step())
        columns << info.textAt(0) + QLatin1Char(' ') + info.textAt(1);
    return columns;
}

// One card read as the main window runs it, through the card session.
struct ReadResult
{
    CardBlockSet blocks;
    HistoryRecordSet records;
    int added = 0;
};

ReadResult readCard(CardSession& session, const std::vector<HistoryBlock>& blocks,
                    const QString& idm = kIdm)
{
    card::CardReadResult card;
    card.ok = true;
    card.idmText = idm;
    card.blockCount = int(blocks.size());
    card.blocks = blocks;
    const int added = session.takeRead(card).storedBlocks;
    return {session.cardBlocks(), session.records(), added};
}

} // namespace

class TestHistoryStore : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> home_;
    QStringList reported_;

    QString dataFolder() const { return home_->filePath(QStringLiteral("Tanpopo/Hotaru/Trfc/")); }
    QString dbPath() const { return dataFolder() + QStringLiteral("ekdb.sqlite"); }
    // Opens store as the program does at start-up; returns the caches it filled.
    NameCaches startStore(HistoryStore& store)
    {
        store.setProblemReporter([this](const DatabaseError& e) { reported_ << e.message(); });
        NameCaches caches;
        store.OpenDatabaseAtStart(caches);
        return caches;
    }
    // The same for the store of a card session; returns the session's caches.
    NameCaches& startStore(CardSession& session)
    {
        session.store().setProblemReporter(
            [this](const DatabaseError& e) { reported_ << e.message(); });
        session.openStore();
        return session.caches();
    }
    void writeGarbageDatabase(const QByteArray& bytes)
    {
        QVERIFY(QDir().mkpath(dataFolder()));
        QFile file(dbPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // A database made by hand, before the program starts.
    Database prepareDatabase()
    {
        QDir().mkpath(dataFolder());
        return Database::open(dbPath(), Database::OpenMode::CreateIfMissing, 1000);
    }

private slots:
    void init();
    void cleanup();

    // ---- Data folder and schema
    void firstStartCreatesFolderFileAndNameTables();
    void schemaOfNameTables_data();
    void schemaOfNameTables();
    void schemaOfCardTable();
    void cardTableName_data();
    void cardTableName();
    void withoutDataFolderNoObjectCanBeMade();
    void foreignFileIsNeverWritten_data();
    void foreignFileIsNeverWritten();

    // ---- Encodings
    void blockWordsAreLittleEndianSigned();
    void storedRowHoldsSignedWordsAndSerial();
    void keyPartsAreStoredSigned();
    void keyPartsReadBack_data();
    void keyPartsReadBack();

    // ---- Name tables at start-up
    void fileLackingBusTableGetsOnlyThatTable();
    void laterRowOfOneKeyWins();
    void nullTextsReadEmpty();
    void rowsWithoutNamePartsAreIgnored();
    void emptyOrMissingTableLeavesCacheUnchanged();
    void nameTableMissingAColumnReportsEngineText();

    // ---- Card block set
    void cardBlockSetOrdersBySerialBytes();
    void cardBlockSetFirstInsertWins();

    // ---- Card history
    void firstReadStoresEveryUsedBlock();
    void readingTheSameCardTwiceInsertsNothing();
    void fifteenZeroBlocksOfTwentyStoreFive();
    void readStoringNothingCreatesNoTable();
    void historyThatMovedOnListsTheUnionStoredBlockWins();
    void twoRowsOfOneSerialEarlierWins();
    void mergeSkipsUnnamedTerminalTypes();
    void buildRecordSetDecodesEveryBlockWithNames();
    void databaseObjectLifecycle();
    void cardTableGetsAnIndexButKeepsItsColumns();
    void freshBlockAlreadyInTableIsNotAddedAgain();
    void gateLogIsKeptAcrossReads();
    void gateLogFailureLeavesTheHistoryStored_data();
    void gateLogFailureLeavesTheHistoryStored();

    // ---- Faults
    void unwritableFolderReadStillListsCard();
    void fileThatIsNotADatabaseStaysUnchanged();
    void problemIsToldAgainAfterTheDatabaseWorkedInBetween();
    void cardTableMissingAColumnReportsEngineText();
    void failedStoreLeavesTableAsBefore();
    void lockedDatabaseIsWaitedForThenReported();
    void lockReleasedInTimeStoresBlocks();

    // ---- Clearing
    void recreateNameTableEmptiesOnlyThatTable();
    void recreateNameTableWithoutDatabase();
    void deleteCardTableRemovesOnlyThatCard();
    void deleteMissingCardTableRaisesEngineText();

    // ---- Write-back
    void writeBackInsertsRowWithNullsForEmptyParts();
    void writeBackChangesOnlyNmOfExistingRow();
    void writeBackSkipsEntriesWithoutName();
    void writeBackMatchesLargeKeyPartsWithoutDuplicates();
    void writeBackVisitsKeysInOrder();
    void writeBackCreatesMissingTable();
    void writeBackWithoutDatabaseWritesNothing();
    void writtenNamesLoadAgainAtNextStart();
};

void TestHistoryStore::init()
{
    home_ = std::make_unique<QTemporaryDir>();
    QVERIFY(home_->isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(home_->path()));
    reported_.clear();
}

void TestHistoryStore::cleanup()
{
    home_.reset();
}

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
    Database db = openForInspection(dbPath());
    Statement tables(db, QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' "
                                        "ORDER BY name"));
    QStringList names;
    while (tables.step())
        names << tables.textAt(0);
    QCOMPARE(names,
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
}

void TestHistoryStore::cardTableName_data()
{
    QTest::addColumn<QString>("idm");
    QTest::addColumn<QString>("table");
    QTest::newRow("example") << kIdm << kCardTable;
    QTest::newRow("digits only") << QStringLiteral("0000000000000001")
                                 << QStringLiteral("20000000000000001");
    QTest::newRow("upper-case AB")
        << QStringLiteral("ABABABABABABABAB") << QStringLiteral("2ABABABABABABABAB");
    QTest::newRow("before first read") << QString() << QStringLiteral("2");
}

void TestHistoryStore::cardTableName()
{
    QFETCH(QString, idm);
    QFETCH(QString, table);
    QCOMPARE(CardTableName(idm), table);
    QCOMPARE(CardTableName(idm).size(), idm.size() + 1);
}

void TestHistoryStore::withoutDataFolderNoObjectCanBeMade()
{
    HistoryStore store; // DataFolder is set only by OpenDatabaseAtStart
    QCOMPARE(store.EnsureDatabaseOpen(), -1);
    QCOMPARE(store.state(), DatabaseState::None);
    CardBlockSet blocks;
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, 2));
    QCOMPARE(store.StoreNewBlocks(kIdm, blocks), 0);
}

// ------------------------------------------------------------------------------ Encodings

void TestHistoryStore::blockWordsAreLittleEndianSigned()
{
    HistoryBlock block{};
    block[4] = 0x01;
    block[5] = 0x02;
    block[6] = 0x03;
    block[7] = 0x84;
    block[0] = 0x16;
    block[15] = 0xFF;
    block[12] = 0x80;
    const BlockWords words = blockWords(block);
    QCOMPARE(words[0], 0x16);
    QCOMPARE(words[1], -2080177663);
    QCOMPARE(words[2], 0);
    QCOMPARE(words[3], std::int32_t(0xFF000080u));
    QCOMPARE(blockFromWords(words), block);
}

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
    Database db = openForInspection(dbPath());
    Statement rows = db.prepareReadAll(kCardTable, {QStringLiteral("seq"), QStringLiteral("b1"),
                                                    QStringLiteral("b2"), QStringLiteral("b3"),
                                                    QStringLiteral("b4")});
    QVERIFY(rows.step());
    QCOMPARE(rows.integerAt(0), 0x0A0B0C);
    QCOMPARE(rows.integerAt(1), std::int64_t(0x00000116));
    QCOMPARE(rows.integerAt(2), -2080177663);
    QCOMPARE(rows.integerAt(3), std::int64_t(blockWords(block)[2]));
    QCOMPARE(rows.integerAt(4), std::int64_t(std::int32_t(0x810C0B0Au)));
    QVERIFY(!rows.step());
    // And it comes back byte for byte.
    CardBlockSet loaded;
    store.LoadStoredBlocks(kIdm, loaded);
    QCOMPARE(loaded.size(), std::size_t(1));
    QCOMPARE(loaded.find(0x0A0B0C)->block, block);
    QCOMPARE(loaded.find(0x0A0B0C)->origin, BlockOrigin::CardTable);
}

void TestHistoryStore::keyPartsAreStoredSigned()
{
    QCOMPARE(storedKeyPart(32769), std::int16_t(-32767));
    QCOMPARE(storedKeyPart(65535), std::int16_t(-1));
    QCOMPARE(storedKeyPart(32767), std::int16_t(32767));
    QCOMPARE(storedKeyPart(200), std::int16_t(200));
}

void TestHistoryStore::keyPartsReadBack_data()
{
    QTest::addColumn<qlonglong>("stored");
    QTest::addColumn<int>("low8");
    QTest::addColumn<int>("all16");
    QTest::newRow("small") << 37LL << 37 << 37;
    QTest::newRow("negative 16-bit") << -32767LL << 1 << 32769;
    QTest::newRow("minus one") << -1LL << 255 << 65535;
    QTest::newRow("above 8 bits") << 257LL << 1 << 257;
    QTest::newRow("200") << 200LL << 200 << 200;
}

void TestHistoryStore::keyPartsReadBack()
{
    QFETCH(qlonglong, stored);
    QFETCH(int, low8);
    QFETCH(int, all16);
    QCOMPARE(int(keyPartLow8(stored)), low8);
    QCOMPARE(int(keyPart16(stored)), all16);
}

// ----------------------------------------------------------------- Name tables at start-up

void TestHistoryStore::fileLackingBusTableGetsOnlyThatTable()
{
    {
        Database db = prepareDatabase();
        HistoryStore::EnsureNameTable(db, NameTable::Stations);
        HistoryStore::EnsureNameTable(db, NameTable::Shops);
        db.execute(
            QStringLiteral("INSERT INTO ipn VALUES (0, 37, 10, 'JR', '山手', '渋谷', '渋谷')"));
        db.execute(QStringLiteral(
            "INSERT INTO bpn VALUES (1, 199, -25536, 'A社', '店', 'レジ1', 'x', 'A店')"));
    }
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

void TestHistoryStore::laterRowOfOneKeyWins()
{
    {
        Database db = prepareDatabase();
        HistoryStore::EnsureNameTable(db, NameTable::BusStops);
        db.execute(QStringLiteral("INSERT INTO bus VALUES (-32767, 5, 'a1', 'l1', 's1', 'first')"));
        db.execute(
            QStringLiteral("INSERT INTO bus VALUES (-32767, 5, 'a2', 'l2', NULL, 'second')"));
    }
    HistoryStore store;
    NameCaches caches = startStore(store);
    QCOMPARE(caches.busStops.size(), std::size_t(1));
    const NameEntry& entry = caches.busStops.EntryFor({32769, 5});
    QCOMPARE(entry.an, QStringLiteral("a2"));
    QCOMPARE(entry.ln, QStringLiteral("l2"));
    QCOMPARE(entry.sn, QString());
    QCOMPARE(entry.nm, QStringLiteral("second"));
}

void TestHistoryStore::nullTextsReadEmpty()
{
    {
        Database db = prepareDatabase();
        HistoryStore::EnsureNameTable(db, NameTable::Stations);
        db.execute(
            QStringLiteral("INSERT INTO ipn (ac, lc, sc, sn, nm) VALUES (257, 1, 2, 's', 'n')"));
    }
    HistoryStore store;
    NameCaches caches = startStore(store);
    QVERIFY(caches.stations.contains({1, 1, 2})); // low 8 bits of 257
    const NameEntry& entry = caches.stations.EntryFor({1, 1, 2});
    QVERIFY(entry.an.isEmpty() && entry.ln.isEmpty());
    QCOMPARE(entry.sn, QStringLiteral("s"));
    QCOMPARE(entry.nm, QStringLiteral("n"));
}

// Placeholders that were composed from no parts and stored: ignored at loading, so the keys
// are asked for again, and a named row of the same key keeps its name.
void TestHistoryStore::rowsWithoutNamePartsAreIgnored()
{
    {
        Database db = prepareDatabase();
        for (const auto table : {NameTable::Stations, NameTable::BusStops, NameTable::Shops})
            HistoryStore::EnsureNameTable(db, table);
        db.execute(QStringLiteral("INSERT INTO ipn VALUES (0, 1, 2, NULL, NULL, NULL, '(線)')"));
        db.execute(QStringLiteral("INSERT INTO ipn VALUES (0, 1, 3, 'JR', '山手', '新宿', 'n')"));
        db.execute(QStringLiteral("INSERT INTO ipn VALUES (0, 1, 3, '', '', '', '(：線)')"));
        db.execute(QStringLiteral("INSERT INTO bus VALUES (4, 5, NULL, '', NULL, '()')"));
        db.execute(QStringLiteral("INSERT INTO bpn VALUES (1, 199, 7, NULL, NULL, NULL, '', ' ')"));
        db.execute(
            QStringLiteral("INSERT INTO bpn VALUES (1, 199, 8, NULL, NULL, NULL, 'x', ' ')"));
    }
    HistoryStore store;
    NameCaches caches = startStore(store);
    QVERIFY(!caches.stations.contains({0, 1, 2}));
    QCOMPARE(caches.stations.EntryFor({0, 1, 3}).nm, QStringLiteral("n"));
    QVERIFY(caches.busStops.empty());
    QVERIFY(!caches.shops.contains({1, 199, 7}));
    QVERIFY(caches.shops.contains({1, 199, 8})); // the fourth shop field is a part
}

void TestHistoryStore::emptyOrMissingTableLeavesCacheUnchanged()
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

void TestHistoryStore::nameTableMissingAColumnReportsEngineText()
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

void TestHistoryStore::firstReadStoresEveryUsedBlock()
{
    CardSession session;
    startStore(session);
    const ReadResult read = readCard(session, cardBlocks(101, 120));
    QCOMPARE(read.added, 20);
    QCOMPARE(read.records.size(), std::size_t(20));
    QCOMPARE(rowCount(dbPath(), kCardTable), 20);
    for (const auto& [serial, entry] : read.blocks)
        QCOMPARE(entry.origin, BlockOrigin::CardTable);
    // Rows are added in ascending serial order.
    Database db = openForInspection(dbPath());
    Statement rows = db.prepareReadAll(kCardTable, {QStringLiteral("seq")});
    std::int64_t expected = 101;
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

void TestHistoryStore::fifteenZeroBlocksOfTwentyStoreFive()
{
    CardSession session;
    startStore(session);
    std::vector<HistoryBlock> card = cardBlocks(1, 5);
    card.resize(20, HistoryBlock{});
    const ReadResult read = readCard(session, card);
    QCOMPARE(read.added, 5);
    QCOMPARE(read.records.size(), std::size_t(5));
    QCOMPARE(rowCount(dbPath(), kCardTable), 5);
}

void TestHistoryStore::readStoringNothingCreatesNoTable()
{
    CardSession session;
    startStore(session);
    const ReadResult empty = readCard(session, std::vector<HistoryBlock>(20));
    QCOMPARE(empty.added, 0);
    QVERIFY(empty.records.empty());
    const ReadResult none = readCard(session, {});
    QVERIFY(none.records.empty());
    QVERIFY(!hasTable(dbPath(), kCardTable));
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
        Statement add = db.prepareAddRow(kCardTable, {QStringLiteral("seq"), QStringLiteral("b1"),
                                                      QStringLiteral("b2"), QStringLiteral("b3"),
                                                      QStringLiteral("b4")});
        for (const int balance : {500, 700}) {
            const BlockWords words = blockWords(railBlock(42, balance));
            add.bind(1, std::int64_t(42));
            for (int w = 0; w < 4; ++w)
                add.bind(w + 2, words[std::size_t(w)]);
            add.run();
            add.reset();
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

void TestHistoryStore::cardTableGetsAnIndexButKeepsItsColumns()
{
    CardSession session;
    startStore(session);
    readCard(session, cardBlocks(1, 4));
    Database db = openForInspection(dbPath());
    Statement plan(db, QStringLiteral("EXPLAIN QUERY PLAN SELECT 1 FROM \"%1\" WHERE b1=1 AND "
                                      "b2=2 AND b3=3 AND b4=4")
                           .arg(kCardTable));
    QString details;
    while (plan.step())
        details += plan.textAt(3);
    QVERIFY2(details.contains(QStringLiteral("USING INDEX")), qPrintable(details));
    QCOMPARE(tableColumns(db, kCardTable).size(), 5);
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

// --------------------------------------------------------------------------------- Faults

void TestHistoryStore::unwritableFolderReadStillListsCard()
{
    // A plain file where the data folder should be: nothing can be created below it.
    QFile blocker(home_->filePath(QStringLiteral("Tanpopo")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    CardSession session;
    HistoryStore& store = session.store();
    NameCaches& caches = startStore(session);
    QCOMPARE(store.state(), DatabaseState::None);
    const ReadResult read = readCard(session, cardBlocks(1, 20));
    QCOMPARE(read.records.size(), std::size_t(20));
    QCOMPARE(read.added, 0);
    QCOMPARE(store.EnsureDatabaseOpen(), -2);
    QVERIFY(!store.recreateNameTable(NameTable::Stations));
    QVERIFY(!store.deleteCardTable(kIdm));
    QVERIFY(!store.WriteBackNames(caches));
    QVERIFY(reported_.isEmpty());
}

void TestHistoryStore::fileThatIsNotADatabaseStaysUnchanged()
{
    const QByteArray notes =
        QByteArrayLiteral("2024-04-01 Shibuya -> Shinjuku 170 yen\n").repeated(300);
    writeGarbageDatabase(notes);
    CardSession session;
    HistoryStore& store = session.store();
    NameCaches& caches = startStore(session);
    QCOMPARE(store.state(), DatabaseState::None);
    QCOMPARE(reported_, QStringList{QStringLiteral("file is not a database")});

    const ReadResult read = readCard(session, cardBlocks(1, 20));
    QCOMPARE(read.records.size(), std::size_t(20));
    QCOMPARE(read.added, 0);
    caches.stations.EntryFor({0, 1, 2}).nm = QStringLiteral("駅");
    QVERIFY(!store.WriteBackNames(caches));
    QVERIFY(!store.recreateNameTable(NameTable::BusStops));
    QVERIFY(!store.deleteCardTable(kIdm));
    // Told once, not at every operation.
    QCOMPARE(reported_.size(), 1);
    QCOMPARE(fileBytes(dbPath()), notes);
    QVERIFY(!QFile::exists(dbPath() + QStringLiteral("-journal")));
}

void TestHistoryStore::problemIsToldAgainAfterTheDatabaseWorkedInBetween()
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

void TestHistoryStore::cardTableMissingAColumnReportsEngineText()
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

void TestHistoryStore::gateLogIsKeptAcrossReads()
{
    using namespace ridelog::testing;
    HistoryStore store;
    NameCaches caches = startStore(store);
    const QDate day(2026, 12, 7);
    const HistoryBlock morningExit = gateBlock(0x20, kShibuya, day, 8, 45, 170);
    const HistoryBlock morningEntry = gateBlock(0xA0, kShinjuku, day, 8, 29);
    const HistoryBlock eveningEntry = gateBlock(0xA0, kShibuya, day, 18, 10);
    const QDateTime firstRead = QDateTime::fromSecsSinceEpoch(1796000000, Qt::UTC);

    // A read whose gate log is empty creates no table.
    CardBlockSet blocks;
    store.LoadStoredBlocks(kIdm, blocks);
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, 3));
    const std::vector<HistoryBlock> emptyLog(3);
    QCOMPARE(store.StoreNewBlocks(kIdm, blocks, emptyLog, firstRead), 3);
    QVERIFY(!hasTable(dbPath(), GateLogStore::tableName()));

    // The gate log comes in the read's own transaction, empty slots left out.
    blocks = CardBlockSet();
    store.LoadStoredBlocks(kIdm, blocks);
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, 4));
    const std::vector<HistoryBlock> first{morningExit, morningEntry, HistoryBlock{}};
    QCOMPARE(store.StoreNewBlocks(kIdm, blocks, first, firstRead), 1);
    QCOMPARE(rowCount(dbPath(), GateLogStore::tableName()), 2);

    // The same history again with one new tap: only the tap is added.
    std::vector<HistoryBlock> stored;
    blocks = CardBlockSet();
    store.LoadStoredBlocks(kIdm, blocks, &stored);
    QCOMPARE(stored, (std::vector<HistoryBlock>{morningExit, morningEntry}));
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, 4));
    const std::vector<HistoryBlock> second{eveningEntry, morningExit, morningEntry};
    QCOMPARE(store.StoreNewBlocks(kIdm, blocks, second, firstRead.addSecs(3600)), 0);
    QCOMPARE(rowCount(dbPath(), GateLogStore::tableName()), 3);
    // Reading it once more adds nothing.
    blocks = CardBlockSet();
    store.LoadStoredBlocks(kIdm, blocks, &stored);
    QCOMPARE(stored.size(), std::size_t(3));
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(1, 4));
    store.StoreNewBlocks(kIdm, blocks, second, firstRead.addSecs(7200));
    QCOMPARE(rowCount(dbPath(), GateLogStore::tableName()), 3);

    Database db = openForInspection(dbPath());
    QCOMPARE(tableColumns(db, GateLogStore::tableName()),
             (QStringList{QStringLiteral("idm VARCHAR(255)"), QStringLiteral("block VARCHAR(255)"),
                          QStringLiteral("firstRead INTEGER")}));
    Statement rows(db, QStringLiteral("SELECT idm, block, firstRead FROM gatelog ORDER BY rowid"));
    QVERIFY(rows.step());
    QCOMPARE(rows.textAt(0), kIdm);
    QCOMPARE(rows.textAt(1), QStringLiteral("20002507200035870845AA0000000000"));
    QCOMPARE(rows.integerAt(2), firstRead.toSecsSinceEpoch());
    QVERIFY(rows.step() && rows.step());
    QCOMPARE(rows.integerAt(2), firstRead.addSecs(3600).toSecsSinceEpoch());
    // Another card's read sees none of them.
    std::vector<HistoryBlock> others{morningExit};
    CardBlockSet otherBlocks;
    store.LoadStoredBlocks(QStringLiteral("00000000000000AA"), otherBlocks, &others);
    QVERIFY(others.empty());
}

void TestHistoryStore::gateLogFailureLeavesTheHistoryStored_data()
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

void TestHistoryStore::gateLogFailureLeavesTheHistoryStored()
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

void TestHistoryStore::failedStoreLeavesTableAsBefore()
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

void TestHistoryStore::lockedDatabaseIsWaitedForThenReported()
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

void TestHistoryStore::lockReleasedInTimeStoresBlocks()
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

void TestHistoryStore::recreateNameTableEmptiesOnlyThatTable()
{
    {
        Database db = prepareDatabase();
        for (const auto t : {NameTable::Stations, NameTable::BusStops, NameTable::Shops})
            HistoryStore::EnsureNameTable(db, t);
        db.execute(QStringLiteral("INSERT INTO ipn (ac, lc, sc, nm) VALUES (1, 2, 3, 'a')"));
        db.execute(QStringLiteral("INSERT INTO bus (ac, lc, nm) VALUES (1, 2, 'b')"));
        db.execute(QStringLiteral("INSERT INTO bpn (ac, lc, sc, nm) VALUES (1, 2, 3, 'c')"));
    }
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

void TestHistoryStore::recreateNameTableWithoutDatabase()
{
    HistoryStore store;
    QVERIFY(!store.recreateNameTable(NameTable::Stations));
    QVERIFY(!store.deleteCardTable(kIdm));
}

void TestHistoryStore::deleteCardTableRemovesOnlyThatCard()
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

void TestHistoryStore::deleteMissingCardTableRaisesEngineText()
{
    HistoryStore store;
    NameCaches caches = startStore(store);
    QCOMPARE(errorTextOf([&] { store.deleteCardTable(QString()); }),
             QStringLiteral("no such table: 2"));
    QCOMPARE(store.state(), DatabaseState::Closed);
    QCOMPARE(errorTextOf([&] { store.deleteCardTable(kIdm); }),
             QStringLiteral("no such table: ") + kCardTable);
}

// ----------------------------------------------------------------------------- Write-back

void TestHistoryStore::writeBackInsertsRowWithNullsForEmptyParts()
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
    Database db = openForInspection(dbPath());
    Statement ipn(db, QStringLiteral("SELECT ac, lc, sc, an, ln IS NULL, sn IS NULL, nm FROM ipn"));
    QVERIFY(ipn.step());
    QCOMPARE(ipn.integerAt(0), 0);
    QCOMPARE(ipn.integerAt(1), 37);
    QCOMPARE(ipn.integerAt(2), 10);
    QCOMPARE(ipn.textAt(3), QStringLiteral("JR東日本"));
    QCOMPARE(ipn.integerAt(4), 1);
    QCOMPARE(ipn.integerAt(5), 1);
    QCOMPARE(ipn.textAt(6), QStringLiteral("渋谷"));
    QVERIFY(!ipn.step());
    Statement bpn(db, QStringLiteral("SELECT sc, an IS NULL, ap, nm FROM bpn"));
    QVERIFY(bpn.step());
    QCOMPARE(bpn.integerAt(0), -25536);
    QCOMPARE(bpn.integerAt(1), 1);
    QCOMPARE(bpn.textAt(2), QStringLiteral("4"));
    QCOMPARE(bpn.textAt(3), QStringLiteral("店"));
}

void TestHistoryStore::writeBackChangesOnlyNmOfExistingRow()
{
    {
        Database db = prepareDatabase();
        HistoryStore::EnsureNameTable(db, NameTable::Stations);
        db.execute(QStringLiteral(
            "INSERT INTO ipn VALUES (0, 37, 10, 'old an', 'old ln', 'old sn', 'old nm')"));
    }
    HistoryStore store;
    NameCaches caches = startStore(store);
    NameEntry& entry = caches.stations.EntryFor({0, 37, 10});
    entry.an = QStringLiteral("new an");
    entry.nm = QStringLiteral("new nm");
    QVERIFY(store.WriteBackNames(caches));
    Database db = openForInspection(dbPath());
    Statement rows(db, QStringLiteral("SELECT an, ln, sn, nm FROM ipn"));
    QVERIFY(rows.step());
    QCOMPARE(rows.textAt(0), QStringLiteral("old an"));
    QCOMPARE(rows.textAt(1), QStringLiteral("old ln"));
    QCOMPARE(rows.textAt(2), QStringLiteral("old sn"));
    QCOMPARE(rows.textAt(3), QStringLiteral("new nm"));
    QVERIFY(!rows.step());
}

void TestHistoryStore::writeBackSkipsEntriesWithoutName()
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

void TestHistoryStore::writeBackMatchesLargeKeyPartsWithoutDuplicates()
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
    QCOMPARE(rowCount(dbPath(), QStringLiteral("bus")), 1);
    QCOMPARE(rowCount(dbPath(), QStringLiteral("bpn")), 1);
    {
        Database db = openForInspection(dbPath());
        Statement bus(db, QStringLiteral("SELECT ac, lc, nm FROM bus"));
        QVERIFY(bus.step());
        QCOMPARE(bus.integerAt(0), -32767);
        QCOMPARE(bus.integerAt(1), -1);
        QCOMPARE(bus.textAt(2), QStringLiteral("second name"));
    }
    HistoryStore next;
    NameCaches loaded = startStore(next);
    QCOMPARE(loaded.busStops.EntryFor({32769, 65535}).nm, QStringLiteral("second name"));
    QCOMPARE(loaded.shops.EntryFor({1, 200, 32768}).nm, QStringLiteral("shop"));
}

void TestHistoryStore::writeBackVisitsKeysInOrder()
{
    HistoryStore store;
    NameCaches caches = startStore(store);
    for (const auto& [key, name] : {std::pair{BusStopKey{0x0201, 0x0000}, u"second"},
                                    std::pair{BusStopKey{0x0102, 0x0001}, u"first"},
                                    std::pair{BusStopKey{0x8000, 0x0000}, u"third"}})
        caches.busStops.EntryFor(key) = {{}, QStringLiteral("stop"), {}, QString::fromUtf16(name)};
    QVERIFY(store.WriteBackNames(caches));
    Database db = openForInspection(dbPath());
    Statement rows = db.prepareReadAll(QStringLiteral("bus"), {QStringLiteral("nm")});
    QStringList names;
    while (rows.step())
        names << rows.textAt(0);
    QCOMPARE(names, (QStringList{QStringLiteral("first"), QStringLiteral("second"),
                                 QStringLiteral("third")}));
}

void TestHistoryStore::writeBackCreatesMissingTable()
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

void TestHistoryStore::writeBackWithoutDatabaseWritesNothing()
{
    writeGarbageDatabase(QByteArrayLiteral("not a database at all, just text"));
    HistoryStore store;
    NameCaches caches = startStore(store);
    caches.stations.EntryFor({1, 2, 3}).nm = QStringLiteral("x");
    QVERIFY(!store.WriteBackNames(caches));
    QCOMPARE(fileBytes(dbPath()), QByteArrayLiteral("not a database at all, just text"));
}

void TestHistoryStore::writtenNamesLoadAgainAtNextStart()
{
    {
        HistoryStore store;
        NameCaches caches = startStore(store);
        NameEntry& entry = caches.stations.EntryFor({0, 37, 10});
        entry.an = QStringLiteral("JR");
        entry.ln = QStringLiteral("山手線");
        entry.sn = QStringLiteral("渋谷");
        entry.nm = QStringLiteral("山手線渋谷");
        QVERIFY(store.WriteBackNames(caches));
        store.dropDatabaseObject();
    }
    HistoryStore store;
    NameCaches caches = startStore(store);
    QCOMPARE(caches.stations.size(), std::size_t(1));
    const NameEntry& entry = caches.stations.EntryFor({0, 37, 10});
    QCOMPARE(entry.an, QStringLiteral("JR"));
    QCOMPARE(entry.ln, QStringLiteral("山手線"));
    QCOMPARE(entry.sn, QStringLiteral("渋谷"));
    QCOMPARE(entry.nm, QStringLiteral("山手線渋谷"));
}

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "test_historystore.moc"
