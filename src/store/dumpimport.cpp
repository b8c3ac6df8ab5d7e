#include "store/dumpimport.h"

#include "store/cardblockset.h"
#include "store/cardlibrary.h"
#include "store/historyfile.h"
#include "store/historystore.h"
#include "store/schema.h"

#include <QDir>
#include <QFileInfo>
#include <optional>

namespace ridelog {

namespace {

struct ParsedDump
{
    DumpImportResult result;
    std::optional<card::CardDump> dump;
};

ParsedDump parseDumpFile(const QString& path)
{
    ParsedDump parsed;
    parsed.result.path = path;
    card::CardDumpResult read = card::readCardDump(path);
    if (!read.dump) {
        parsed.result.reason =
            read.errorLine > 0 ? QStringLiteral("line %1: %2").arg(read.errorLine).arg(read.error)
                               : read.error;
        return parsed;
    }
    parsed.result.kind = read.dump->kind;
    parsed.result.idmText = read.dump->idmText;
    for (const HistoryBlock& block : read.dump->blocks)
        parsed.result.blocksInFile += terminalTypeName(block[0]).isEmpty() ? 0 : 1;
    if (parsed.result.blocksInFile == 0) {
        parsed.result.reason = QStringLiteral("the file holds no history entry");
        return parsed;
    }
    parsed.dump = std::move(read.dump);
    return parsed;
}

// The store steps of one card read, inside the caller's transaction.
int storeAsRead(Database& database, const card::CardDump& dump)
{
    const QString table = CardTableName(dump.idmText);
    CardBlockSet blocks;
    if (database.tableExists(table))
        HistoryStore::ReadCardTable(database, table, blocks);
    HistoryStore::MergeCardBlocks(blocks, dump.blocks);
    const int added = HistoryStore::AddFreshBlocks(database, table, blocks);
    // The card library is a convenience: an unusable cards table leaves the read stored.
    CardLibrary::noteCardReadInTransaction(database, dump.idmText,
                                           dump.readAt.isValid() ? dump.readAt
                                                                 : QDateTime::currentDateTimeUtc());
    return added;
}

void failAll(std::vector<ParsedDump>& dumps, const QString& reason)
{
    for (ParsedDump& parsed : dumps) {
        if (parsed.dump) {
            parsed.result.stored = false;
            parsed.result.added = 0;
            parsed.result.reason = reason;
        }
    }
}

void storeAll(std::vector<ParsedDump>& dumps, const QString& databasePath, int busyTimeoutMs)
{
    try {
        const bool exists = QFileInfo::exists(databasePath);
        Database database = Database::open(databasePath,
                                           exists ? Database::OpenMode::ExistingFile
                                                  : Database::OpenMode::CreateIfMissing,
                                           busyTimeoutMs);
        if (const QString findings = quickCheckFindings(database); !findings.isEmpty()) {
            failAll(dumps, QStringLiteral("the history database is damaged: ") + findings);
            return;
        }
        Transaction transaction(database);
        for (const auto table : {NameTable::Stations, NameTable::BusStops, NameTable::Shops})
            HistoryStore::EnsureNameTable(database, table);
        for (ParsedDump& parsed : dumps) {
            if (!parsed.dump)
                continue;
            parsed.result.added = storeAsRead(database, *parsed.dump);
            parsed.result.stored = true;
        }
        transaction.commit();
    } catch (const DatabaseError& error) {
        failAll(dumps, error.message());
    }
}

} // namespace

std::vector<DumpImportResult> importCardDumps(const QStringList& paths, const QString& databasePath,
                                              int busyTimeoutMs)
{
    std::vector<ParsedDump> dumps;
    dumps.reserve(std::size_t(paths.size()));
    bool anyUsable = false;
    for (const QString& path : paths) {
        dumps.push_back(parseDumpFile(path));
        anyUsable = anyUsable || dumps.back().dump.has_value();
    }
    if (anyUsable) {
        if (databasePath.isEmpty() || !QFileInfo(databasePath).dir().exists())
            failAll(dumps, QStringLiteral("there is no data folder for the history"));
        else
            storeAll(dumps, databasePath, busyTimeoutMs);
    }
    std::vector<DumpImportResult> results;
    results.reserve(dumps.size());
    for (ParsedDump& parsed : dumps)
        results.push_back(std::move(parsed.result));
    return results;
}

} // namespace ridelog
