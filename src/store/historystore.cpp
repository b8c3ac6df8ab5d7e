#include "store/historystore.h"

#include "store/databaseproblem.h"
#include "store/gatelogstore.h"
#include "store/nametablerows.h"
#include "store/notestore.h"
#include "store/ownedschema.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <array>
#include <map>
#include <sqlite3.h>
#include <vector>

namespace ridelog {

namespace {

// Blocks of a card are looked up by b4 (serial and region byte) before they are added.
void ensureCardTableIndex(Database& database, const QString& table)
{
    database.execute(
        QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (\"b4\")")
            .arg(quoteIdentifier(table + QStringLiteral("_b4")), quoteIdentifier(table)));
}

} // namespace

// Closes the file when an operation ends, also when it ends with an exception.
class HistoryStore::OperationScope
{
public:
    explicit OperationScope(HistoryStore& store)
        : store_(store)
    {}
    ~OperationScope() { store_.closeDatabase(); }
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;

private:
    HistoryStore& store_;
};

HistoryStore::~HistoryStore() = default;

QString HistoryStore::dataFolderPath()
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty())
        return QString();
    return QDir(dataHome).filePath(QStringLiteral("Tanpopo/Hotaru/Trfc")) + QLatin1Char('/');
}

QString HistoryStore::dataFolderLocation()
{
    const QString folder = dataFolderPath();
    if (!folder.isEmpty())
        QDir().mkpath(folder);
    return folder;
}

DatabaseState HistoryStore::state() const
{
    if (!objectPresent_)
        return DatabaseState::None;
    return connection_ ? DatabaseState::Open : DatabaseState::Closed;
}

void HistoryStore::reportProblem(const DatabaseError& problem)
{
    if (problem.message() == lastReportedProblem_)
        return;
    lastReportedProblem_ = problem.message();
    if (reporter_)
        reporter_(problem);
}

void HistoryStore::noteFailure(const DatabaseError& error)
{
    if (isDamageCode(error.engineCode()))
        markDamaged(error.engineCode(), error.message());
    else
        notKeptReason_ = databaseProblemText(error.engineCode()) + u'\n' + error.message();
}

void HistoryStore::markDamaged(int engineCode, const QString& engineText)
{
    damaged_ = true;
    damageCode_ = engineCode;
    damageText_ = engineText;
    notKeptReason_ = databaseProblemText(engineCode) + u'\n' + engineText;
}

void HistoryStore::historyKept()
{
    if (!damaged_)
        notKeptReason_.clear();
}

void HistoryStore::requireWritable() const
{
    if (damaged_)
        throw DatabaseError(damageCode_, damageText_);
}

bool HistoryStore::makeDatabaseObject()
{
    if (objectPresent_)
        return true;
    if (dataFolder_.isEmpty()) {
        notKeptReason_ = noDataFolderReason();
        return false;
    }
    objectPresent_ = true;
    return true;
}

int HistoryStore::openDatabaseFile()
{
    const QString path = databasePath();
    // A file that is there but cannot be opened as a database is never created anew: it may be
    // the user's history in a state this program does not understand.
    const bool fileExists = QFileInfo::exists(path);
    // A new file takes the place of one that was damaged.
    if (!fileExists && damaged_) {
        damaged_ = false;
        notKeptReason_.clear();
    }
    try {
        connection_ = std::make_unique<Database>(Database::open(
            path,
            fileExists ? Database::OpenMode::ExistingFile : Database::OpenMode::CreateIfMissing,
            busyTimeoutMs_));
        if (const std::optional<QString> foreign = foreignSchemaReason(*connection_)) {
            // Another program's file: nothing is read from it as history, nothing written.
            connection_.reset();
            throw DatabaseError(SQLITE_NOTADB,
                                QStringLiteral("%1 is not a Ridelog history file: %2")
                                    .arg(QDir::toNativeSeparators(path), *foreign));
        }
        lastReportedProblem_.clear();
        return 0;
    } catch (const DatabaseError& error) {
        noteFailure(error);
        if (fileExists)
            reportProblem(error);
        return -2;
    }
}

void HistoryStore::OpenDatabaseAtStart(NameCaches& caches)
{
    dataFolder_ = dataFolderLocation();
    dropDatabaseObject();
    if (!makeDatabaseObject())
        return;
    if (openDatabaseFile() != 0) {
        dropDatabaseObject();
        return;
    }
    OperationScope scope(*this);
    try {
        for (const auto table : {NameTable::Stations, NameTable::BusStops, NameTable::Shops})
            EnsureNameTable(*connection_, table);
        LoadNameCache(*connection_, caches.stations);
        LoadNameCache(*connection_, caches.busStops);
        LoadNameCache(*connection_, caches.shops);
    } catch (const DatabaseError& error) {
        noteFailure(error);
        throw;
    }
    historyKept();
}

int HistoryStore::EnsureDatabaseOpen()
{
    if (!makeDatabaseObject())
        return -1;
    if (connection_)
        return 0;
    return openDatabaseFile();
}

void HistoryStore::closeDatabase()
{
    connection_.reset();
}

void HistoryStore::dropDatabaseObject()
{
    closeDatabase();
    objectPresent_ = false;
}

HistoryStore::LoadOutcome HistoryStore::LoadStoredBlocks(const QString& idmText,
                                                         CardBlockSet& blocks,
                                                         std::vector<HistoryBlock>* gateLog)
{
    unloadedCard_ = idmText;
    gateLogCard_ = idmText;
    storedGateLog_.clear();
    if (gateLog)
        gateLog->clear();
    if (EnsureDatabaseOpen() < 0) {
        dropDatabaseObject();
        if (notKeptReason_.isEmpty() || !damaged_)
            notKeptReason_ = loadFailedReason() + u'\n' + notKeptReason_;
        return LoadOutcome::NotLoaded;
    }
    OperationScope scope(*this);
    const QString table = CardTableName(idmText);
    CardBlockSet loaded;
    try {
        if (!connection_->tableExists(table)) {
            // The card has never been stored; StoreNewBlocks makes the object again.
            dropDatabaseObject();
            unloadedCard_.clear();
            historyKept();
            return LoadOutcome::NothingStored;
        }
        Statement rows = connection_->prepareReadAll(table, cardBlockColumns());
        while (rows.step()) {
            const BlockWords words{std::int32_t(rows.integerAt(0)), std::int32_t(rows.integerAt(1)),
                                   std::int32_t(rows.integerAt(2)),
                                   std::int32_t(rows.integerAt(3))};
            loaded.insert(blockFromWords(words), BlockOrigin::CardTable);
        }
        loadGateLog(idmText, gateLog);
    } catch (const DatabaseError& error) {
        noteFailure(error);
        notKeptReason_ = loadFailedReason() + u'\n' + notKeptReason_;
        throw;
    }
    for (const auto& [serial, entry] : loaded)
        blocks.insert(entry.block, BlockOrigin::CardTable);
    unloadedCard_.clear();
    historyKept();
    return LoadOutcome::Loaded;
}

void HistoryStore::MergeCardBlocks(CardBlockSet& blocks, std::span<const HistoryBlock> cardBlocks)
{
    for (const auto& block : cardBlocks) {
        if (terminalTypeName(block[0]).isEmpty())
            continue;
        blocks.insert(block, BlockOrigin::Card);
    }
}

void HistoryStore::loadGateLog(const QString& idmText, std::vector<HistoryBlock>* gateLog)
{
    try {
        storedGateLog_ = GateLogStore::load(*connection_, idmText);
    } catch (const DatabaseError& error) {
        qInfo().noquote() << QStringLiteral("Card %1: the stored gate log cannot be read (%2)")
                                 .arg(idmText, error.message());
        storedGateLog_.clear();
    }
    if (gateLog)
        *gateLog = storedGateLog_;
}

std::vector<HistoryBlock>
HistoryStore::newGateLogBlocks(const QString& idmText, std::span<const HistoryBlock> gateLog) const
{
    std::vector<HistoryBlock> fresh;
    for (const HistoryBlock& block : gateLog) {
        const bool empty =
            std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0; });
        const bool known =
            gateLogCard_ == idmText &&
            std::find(storedGateLog_.begin(), storedGateLog_.end(), block) != storedGateLog_.end();
        if (!empty && !known && std::find(fresh.begin(), fresh.end(), block) == fresh.end())
            fresh.push_back(block);
    }
    return fresh;
}

void HistoryStore::storeGateLog(Database& database, const QString& idmText,
                                std::span<const HistoryBlock> blocks, const QDateTime& when)
{
    if (blocks.empty())
        return;
    // A savepoint of its own, so that a gate log that cannot be stored takes nothing of the
    // history with it.
    database.execute(QStringLiteral("SAVEPOINT gatelog"));
    try {
        GateLogStore::store(database, idmText, blocks, when);
        database.execute(QStringLiteral("RELEASE gatelog"));
    } catch (const DatabaseError& error) {
        qInfo().noquote() << QStringLiteral("Card %1: the gate log is not stored (%2)")
                                 .arg(idmText, error.message());
        database.execute(QStringLiteral("ROLLBACK TO gatelog"));
        database.execute(QStringLiteral("RELEASE gatelog"));
    }
}

int HistoryStore::StoreNewBlocks(const QString& idmText, CardBlockSet& blocks,
                                 std::span<const HistoryBlock> gateLog, const QDateTime& when)
{
    std::vector<std::uint32_t> fresh;
    for (const auto& [serial, entry] : blocks) {
        if (entry.origin == BlockOrigin::Card)
            fresh.push_back(serial);
    }
    const std::vector<HistoryBlock> freshTaps = newGateLogBlocks(idmText, gateLog);
    // Blocks loaded from the table are stored already; without fresh ones there is nothing to do.
    if (fresh.empty() && freshTaps.empty())
        return 0;
    // The card's stored history is unknown, or the file must not be written.
    if (idmText == unloadedCard_ || damaged_)
        return 0;
    if (!makeDatabaseObject())
        return 0;
    if (!connection_ && openDatabaseFile() != 0)
        return 0;
    OperationScope scope(*this);
    Database& database = *connection_;
    const QString table = CardTableName(idmText);
    int added = 0;
    try {
        Transaction transaction(database);
        if (!fresh.empty())
            added = storeBlocks(database, table, blocks, fresh);
        storeGateLog(database, idmText, freshTaps, when);
        transaction.commit();
    } catch (const DatabaseError& error) {
        noteFailure(error);
        throw;
    }
    for (const std::uint32_t serial : fresh)
        blocks.markStored(serial);
    if (gateLogCard_ == idmText)
        storedGateLog_.insert(storedGateLog_.end(), freshTaps.begin(), freshTaps.end());
    historyKept();
    return added;
}

int HistoryStore::storeBlocks(Database& database, const QString& table, const CardBlockSet& blocks,
                              const std::vector<std::uint32_t>& fresh)
{
    if (!database.tableExists(table))
        CreateCardTable(database, table);
    ensureCardTableIndex(database, table);
    Statement isStored = database.prepareExistenceQuery(table, cardBlockColumns());
    Statement addRow = database.prepareAddRow(table, {QStringLiteral("b1"), QStringLiteral("b2"),
                                                      QStringLiteral("b3"), QStringLiteral("b4"),
                                                      QStringLiteral("seq")});
    int added = 0;
    for (const std::uint32_t serial : fresh) {
        const BlockWords words = blockWords(blocks.find(serial)->block);
        for (int w = 0; w < 4; ++w)
            isStored.bind(w + 1, words[std::size_t(w)]);
        const bool stored = isStored.step();
        isStored.reset();
        if (stored)
            continue;
        for (int w = 0; w < 4; ++w)
            addRow.bind(w + 1, words[std::size_t(w)]);
        addRow.bind(5, std::int64_t(serial));
        addRow.run();
        addRow.reset();
        ++added;
    }
    return added;
}

void HistoryStore::ReadCardTable(Database& database, const QString& table, CardBlockSet& blocks)
{
    Statement rows = database.prepareReadAll(table, cardBlockColumns());
    while (rows.step()) {
        const BlockWords words{std::int32_t(rows.integerAt(0)), std::int32_t(rows.integerAt(1)),
                               std::int32_t(rows.integerAt(2)), std::int32_t(rows.integerAt(3))};
        blocks.insert(blockFromWords(words), BlockOrigin::CardTable);
    }
}

int HistoryStore::AddFreshBlocks(Database& database, const QString& table,
                                 const CardBlockSet& blocks)
{
    std::vector<std::uint32_t> fresh;
    for (const auto& [serial, entry] : blocks) {
        if (entry.origin == BlockOrigin::Card)
            fresh.push_back(serial);
    }
    if (fresh.empty())
        return 0;
    return storeBlocks(database, table, blocks, fresh);
}

void HistoryStore::BuildRecordSet(const CardBlockSet& blocks, NameCaches& caches,
                                  HistoryRecordSet& records)
{
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it)
        records.insert(
            decodeHistoryBlock(it->second.block, caches.stations, caches.busStops, caches.shops));
}

bool HistoryStore::recreateNameTable(NameTable table)
{
    if (EnsureDatabaseOpen() < 0)
        return false;
    OperationScope scope(*this);
    requireWritable();
    try {
        Transaction transaction(*connection_);
        connection_->dropTable(nameTableName(table));
        EnsureNameTable(*connection_, table);
        transaction.commit();
    } catch (const DatabaseError& error) {
        noteFailure(error);
        throw;
    }
    return true;
}

bool HistoryStore::deleteCardTable(const QString& idmText)
{
    if (EnsureDatabaseOpen() < 0)
        return false;
    OperationScope scope(*this);
    requireWritable();
    try {
        // The card's notes go with its history, in the same transaction.
        Transaction transaction(*connection_);
        connection_->dropTable(CardTableName(idmText));
        NoteStore::deleteNotes(*connection_, idmText);
        transaction.commit();
    } catch (const DatabaseError& error) {
        noteFailure(error);
        throw;
    }
    return true;
}

bool HistoryStore::storedSerials(const QString& idmText,
                                 std::optional<std::set<std::uint32_t>>& serials)
{
    serials.reset();
    if (EnsureDatabaseOpen() < 0)
        return false;
    OperationScope scope(*this);
    const QString table = CardTableName(idmText);
    try {
        if (!connection_->tableExists(table))
            return true;
        std::set<std::uint32_t> found;
        Statement rows = connection_->prepareReadAll(table, cardBlockColumns());
        while (rows.step()) {
            const BlockWords words{std::int32_t(rows.integerAt(0)), std::int32_t(rows.integerAt(1)),
                                   std::int32_t(rows.integerAt(2)),
                                   std::int32_t(rows.integerAt(3))};
            found.insert(blockSerial(blockFromWords(words)));
        }
        serials = std::move(found);
    } catch (const DatabaseError& error) {
        noteFailure(error);
        throw;
    }
    return true;
}

bool HistoryStore::WriteBackNames(NameCaches& caches)
{
    if (damaged_ || EnsureDatabaseOpen() < 0)
        return false;
    OperationScope scope(*this);
    try {
        writeBackNameRows(*connection_, caches.stations);
        writeBackNameRows(*connection_, caches.busStops);
        writeBackNameRows(*connection_, caches.shops);
    } catch (const DatabaseError& error) {
        noteFailure(error);
        throw;
    }
    return true;
}

void HistoryStore::EnsureNameTable(Database& database, NameTable table)
{
    const QString name = nameTableName(table);
    if (!database.tableExists(name))
        database.createTable(name, nameTableColumns(table));
}

void HistoryStore::CreateCardTable(Database& database, const QString& name)
{
    database.createTable(name, cardTableColumns());
}

void HistoryStore::LoadNameCache(Database& database, StationNameCache& cache)
{
    loadNameRows(database, cache);
}

void HistoryStore::LoadNameCache(Database& database, BusStopNameCache& cache)
{
    loadNameRows(database, cache);
}

void HistoryStore::LoadNameCache(Database& database, ShopNameCache& cache)
{
    loadNameRows(database, cache);
}

} // namespace ridelog
