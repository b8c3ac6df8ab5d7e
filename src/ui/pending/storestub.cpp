#include "ui/pending/storestub.h"

namespace ridelog {

void HistoryStore::OpenDatabaseAtStart(NameCaches&)
{
    if (failing_)
        throw DatabaseError(14, QStringLiteral("unable to open database file"));
}

int HistoryStore::EnsureDatabaseOpen()
{
    return failing_ ? -2 : 0;
}

void HistoryStore::LoadStoredBlocks(const QString& idmText, CardBlockSet& blocks)
{
    if (failing_)
        return;
    auto it = tables_.find(idmText);
    if (it == tables_.end())
        return;
    for (const auto& [serial, block] : it->second)
        blocks.insert(block, BlockOrigin::CardTable);
}

void HistoryStore::MergeCardBlocks(CardBlockSet& blocks, std::span<const HistoryBlock> cardBlocks)
{
    for (const HistoryBlock& block : cardBlocks) {
        if (!terminalTypeName(block[0]).isEmpty())
            blocks.insert(block, BlockOrigin::Card);
    }
}

int HistoryStore::StoreNewBlocks(const QString& idmText, CardBlockSet& blocks)
{
    if (blocks.empty() || failing_)
        return 0;
    auto& table = tables_[idmText];
    int added = 0;
    for (const auto& [serial, block] : blocks)
        added += table.try_emplace(serial, block.block).second ? 1 : 0;
    return added;
}

void HistoryStore::BuildRecordSet(const CardBlockSet& blocks, NameCaches& caches,
                                  HistoryRecordSet& records)
{
    for (auto it = blocks.end(); it != blocks.begin();) {
        --it;
        records.insert(
            decodeHistoryBlock(it->second.block, caches.stations, caches.busStops, caches.shops));
    }
}

bool HistoryStore::WriteBackNames(NameCaches&)
{
    if (failing_)
        return false;
    ++writeBacks_;
    return true;
}

} // namespace ridelog
