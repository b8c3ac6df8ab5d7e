// The local store of the main dialog: the data folder, the database object and every operation
// that reads or writes ekdb.sqlite.
//
// The database file is opened at the start of each operation and closed at its end; between
// operations only the "database object" lives on (state(): None, Closed, Open-during-an-operation).
// Operations that cannot reach the database go on without it and say so through their result;
// any other database failure throws DatabaseError, whose message() is the engine's text for the
// user. The connection is closed before the exception leaves the store.
//
// Order of use (all on the user-interface thread). Every call may throw DatabaseError: catch it,
// show message() through MessageBox::show and end that action. The card read and the stored
// card are run by CardSession (src/session), which owns the store of the card on display:
//
//   start-up      store.setProblemReporter(show the text in a message box);
//                 store.OpenDatabaseAtStart(caches);
//
//   card read     store.LoadStoredBlocks(idmText, blocks);
//                 HistoryStore::MergeCardBlocks(blocks, cardBlocks);
//                 store.StoreNewBlocks(idmText, blocks);   // unless the load failed
//                 HistoryStore::BuildRecordSet(blocks, caches, records);
//
//   clear names   false from store.recreateNameTable(NameTable::Stations): show
//                 "データベースにアクセスできません"; true: caches.stations.clear(),
//                 empty the list, read again
//   clear history false from store.deleteCardTable(idmText): the same message;
//                 true: empty the list, read again
//
//   shutdown      store.WriteBackNames(caches);       // false: no database, nothing written
//                 store.dropDatabaseObject();
#pragma once

#include "card/history.h"
#include "namedata/namecache.h"
#include "store/cardblockset.h"
#include "store/database.h"
#include "store/schema.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <vector>

namespace ridelog {

enum class DatabaseState
{
    None,
    Closed,
    Open
};

// The PascalCase steps (LoadStoredBlocks, StoreNewBlocks, WriteBackNames, ...) keep the names
// the program has always given them; everything else is camelCase.
class HistoryStore
{
public:
    static constexpr int kDefaultBusyTimeoutMs = 3000;

    // Receives the engine's failure when an existing file cannot be used as the database (not
    // a database, damaged, locked beyond the busy time-out). The file is left untouched and the
    // program goes on without a database. The same text is reported once until the database
    // opens again, so a damaged file does not bring up a message at every card read.
    using ProblemReporter = std::function<void(const DatabaseError& problem)>;

    // What LoadStoredBlocks found.
    enum class LoadOutcome
    {
        Loaded,        // the card's table was read
        NothingStored, // the card has no table yet
        NotLoaded,     // the history could not be read: this read stores nothing
    };

    HistoryStore() = default;
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // XDG data home + "Tanpopo/Hotaru/Trfc/", created when missing; always ends in "/".
    // Empty when the system names no data location.
    static QString dataFolderLocation();
    // The same folder without creating it; for readers that must not change anything.
    static QString dataFolderPath();
    static QString databaseFileName() { return QStringLiteral("ekdb.sqlite"); }

    const QString& DataFolder() const { return dataFolder_; }
    QString databasePath() const { return dataFolder_ + databaseFileName(); }
    DatabaseState state() const;

    void setProblemReporter(ProblemReporter reporter) { reporter_ = std::move(reporter); }
    // How long an operation waits for a database locked by another process.
    void setBusyTimeout(int milliseconds) { busyTimeoutMs_ = milliseconds; }

    // ---- Start-up and the database object

    // Sets DataFolder, opens or creates the file, makes sure of ipn, bus and bpn and loads the
    // three caches from them, then closes the file. Without a usable file the object is dropped
    // (state() None) and the caches stay as they are. Throws DatabaseError for other failures.
    void OpenDatabaseAtStart(NameCaches& caches);
    // 0: open; -1: no database object could be made (no data folder); -2: the file could be
    // neither opened nor created. Leaves the object in place on failure.
    int EnsureDatabaseOpen();
    // Ends the current operation: the file is closed, the object stays.
    void closeDatabase();
    // Closes the file and drops the object (shutdown, or a read without a usable database).
    void dropDatabaseObject();

    // ---- The card read, in this order

    // Loads every block of the card's table into blocks (table order; the first row of a serial
    // wins). Without a usable database, or when the card has no table yet, nothing is loaded and
    // the database object is dropped. When the history cannot be read (locked, damaged, or a
    // failure while reading, which is thrown after the outcome is noted) nothing at all is put
    // into blocks and the StoreNewBlocks of the same card stores nothing, so a block the card
    // still holds is never stored a second time beside the stored one.
    //
    // With gateLog, the card's stored gate-log blocks go there too (none when they cannot be
    // read: the history is loaded all the same).
    LoadOutcome LoadStoredBlocks(const QString& idmText, CardBlockSet& blocks,
                                 std::vector<HistoryBlock>* gateLog = nullptr);
    // Adds the blocks just read from the card (newest first) whose terminal type has a name; a
    // block whose serial is present already is ignored, so a stored block wins.
    static void MergeCardBlocks(CardBlockSet& blocks, std::span<const HistoryBlock> cardBlocks);
    // Adds to the card's table, in one transaction, every block read from the card that the
    // table lacks; creates the table only when there is something to store. Returns the number
    // of rows added (0 also when the database cannot be reached). On failure the table is as it
    // was before the call.
    //
    // gateLog: the gate-log blocks the card gave; those the store lacks are added in the same
    // transaction (gatelogstore.h), when the history could be loaded. A failure of the gate log
    // leaves the history stored as it would be without it, and is a line in the log.
    int StoreNewBlocks(const QString& idmText, CardBlockSet& blocks,
                       std::span<const HistoryBlock> gateLog = {},
                       const QDateTime& when = QDateTime::currentDateTimeUtc());
    // Decodes every block, highest serial first, with names from the caches (which may gain
    // empty entries), into records.
    static void BuildRecordSet(const CardBlockSet& blocks, NameCaches& caches,
                               HistoryRecordSet& records);

    // ---- Clearing commands; false when the database cannot be reached (nothing changed)

    // Deletes the name table and creates it again empty. Emptying the cache is the caller's.
    bool recreateNameTable(NameTable table);
    // Deletes the card's table and the card's notes; throws DatabaseError ("no such table:
    // ...") when the table is missing.
    bool deleteCardTable(const QString& idmText);
    // The serials stored for the card; none when the card has no table. False when the
    // database cannot be reached.
    bool storedSerials(const QString& idmText, std::optional<std::set<std::uint32_t>>& serials);

    // ---- Whether history is being kept

    // Empty while every read is stored; otherwise why not (the engine's text on a second line).
    const QString& notKeptReason() const { return notKeptReason_; }
    bool isKeepingHistory() const { return notKeptReason_.isEmpty(); }
    // A file the engine reported as damaged (or as no database) is never written again in this
    // run: storing, clearing and the write-back leave it alone. Only a new file, made after the
    // damaged one was moved away, is written.
    bool isDamaged() const { return damaged_; }
    void markDamaged(int engineCode, const QString& engineText);

    // ---- Shutdown

    // Writes every cache entry with a non-empty nm to its table: a key without a row gets a new
    // row (empty name parts stay Null), a key with rows gets its nm changed. One transaction per
    // table. Returns false when the database cannot be reached and nothing was written.
    bool WriteBackNames(NameCaches& caches);

    // ---- Steps that work on an open database

    static void EnsureNameTable(Database& database, NameTable table);
    // Every row of an existing card table into blocks (table order; the first row of a serial
    // wins), marked as stored.
    static void ReadCardTable(Database& database, const QString& table, CardBlockSet& blocks);
    // Adds the blocks read from the card (origin Card) that the table lacks, creating the table
    // when needed, inside the caller's transaction. Returns the number of rows added.
    static int AddFreshBlocks(Database& database, const QString& table, const CardBlockSet& blocks);
    static void CreateCardTable(Database& database, const QString& name);
    // Fills the cache from its table in table order (a later row of one key wins). A missing or
    // empty table leaves the cache as it was.
    static void LoadNameCache(Database& database, StationNameCache& cache);
    static void LoadNameCache(Database& database, BusStopNameCache& cache);
    static void LoadNameCache(Database& database, ShopNameCache& cache);

private:
    class OperationScope;

    int openDatabaseFile();
    bool makeDatabaseObject();
    void reportProblem(const DatabaseError& problem);
    // Notes what a failure means for keeping history; damage is remembered for the run.
    void noteFailure(const DatabaseError& error);
    void historyKept();
    void requireWritable() const;
    static int storeBlocks(Database& database, const QString& table, const CardBlockSet& blocks,
                           const std::vector<std::uint32_t>& fresh);
    void loadGateLog(const QString& idmText, std::vector<HistoryBlock>* gateLog);
    std::vector<HistoryBlock> newGateLogBlocks(const QString& idmText,
                                               std::span<const HistoryBlock> gateLog) const;
    static void storeGateLog(Database& database, const QString& idmText,
                             std::span<const HistoryBlock> blocks, const QDateTime& when);

    QString dataFolder_;
    bool objectPresent_ = false;
    std::unique_ptr<Database> connection_;
    int busyTimeoutMs_ = kDefaultBusyTimeoutMs;
    ProblemReporter reporter_;
    QString lastReportedProblem_;
    QString notKeptReason_;
    bool damaged_ = false;
    int damageCode_ = 0;
    QString damageText_;
    // The card whose history the last LoadStoredBlocks could not read.
    QString unloadedCard_;
    // The gate-log blocks stored for the card of the last LoadStoredBlocks.
    QString gateLogCard_;
    std::vector<HistoryBlock> storedGateLog_;
};

} // namespace ridelog
