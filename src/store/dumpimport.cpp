#include "store/dumpimport.h"

#include "store/cardlibrary.h"
#include "store/historystore.h"

namespace ridelog {

DumpImportResult storeCardDump(const card::CardDump& dump, HistoryStore& store,
                               CardLibrary& library)
{
    DumpImportResult result;
    result.kind = dump.kind;
    result.idmText = dump.idmText;
    for (const HistoryBlock& block : dump.blocks)
        result.blocksInFile += terminalTypeName(block[0]).isEmpty() ? 0 : 1;
    if (result.blocksInFile == 0) {
        result.reason = QStringLiteral("the file holds no history entry");
        return result;
    }
    try {
        CardBlockSet blocks;
        if (store.LoadStoredBlocks(dump.idmText, blocks) == HistoryStore::LoadOutcome::NotLoaded) {
            result.reason = store.notKeptReason().section(u'\n', 1);
            if (result.reason.isEmpty())
                result.reason = QStringLiteral("the history database cannot be used");
            return result;
        }
        HistoryStore::MergeCardBlocks(blocks, dump.blocks);
        result.added = store.StoreNewBlocks(dump.idmText, blocks);
    } catch (const DatabaseError& error) {
        result.reason = error.message();
        return result;
    }
    if (!store.isKeepingHistory()) {
        result.reason = store.notKeptReason().section(u'\n', 1);
        return result;
    }
    library.setDatabasePath(store.DatabasePath());
    library.noteCardRead(dump.idmText,
                         dump.readAt.isValid() ? dump.readAt : QDateTime::currentDateTimeUtc());
    result.stored = true;
    return result;
}

DumpImportResult importCardDump(const QString& path, HistoryStore& store, CardLibrary& library)
{
    const card::CardDumpResult parsed = card::readCardDump(path);
    if (!parsed.dump) {
        DumpImportResult result;
        result.path = path;
        result.reason = parsed.errorLine > 0
                            ? QStringLiteral("line %1: %2").arg(parsed.errorLine).arg(parsed.error)
                            : parsed.error;
        return result;
    }
    DumpImportResult result = storeCardDump(*parsed.dump, store, library);
    result.path = path;
    return result;
}

} // namespace ridelog
