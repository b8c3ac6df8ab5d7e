#include "ui/pending/storestub.h"

namespace ridelog::store {

void HistoryStore::OpenDatabaseAtStart(NameCaches&)
{
    if (failing_)
        throw DatabaseError(QStringLiteral("unable to open database file"));
}

bool HistoryStore::EnsureDatabaseOpen()
{
    open_ = !failing_;
    return open_;
}

void HistoryStore::LoadStoredBlocks(const QString& idmText, CardBlockSet& blocks)
{
    if (!open_)
        return;
    auto it = tables_.find(idmText);
    if (it != tables_.end())
        blocks.insert(it->second.begin(), it->second.end());
    open_ = false;
}

void HistoryStore::MergeCardBlocks(CardBlockSet& blocks, const HistoryBlock* fresh, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!terminalTypeName(fresh[i][0]).isEmpty())
            blocks.try_emplace(blockSerial(fresh[i]), fresh[i]);
    }
}

void HistoryStore::StoreNewBlocks(const QString& idmText, const CardBlockSet& blocks)
{
    if (blocks.empty() || failing_)
        return;
    auto& table = tables_[idmText];
    table.insert(blocks.begin(), blocks.end());
}

void HistoryStore::BuildRecordSet(const CardBlockSet& blocks, NameCaches& caches,
                                  HistoryRecordSet& records)
{
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it)
        records.insert(
            decodeHistoryBlock(it->second, caches.stations, caches.busStops, caches.shops));
}

void HistoryStore::WriteBackNames(const NameCaches&)
{
    if (failing_)
        throw DatabaseError(QStringLiteral("disk I/O error"));
    ++writeBacks_;
}

void HistoryStore::CloseDatabase()
{
    open_ = false;
}

} // namespace ridelog::store
