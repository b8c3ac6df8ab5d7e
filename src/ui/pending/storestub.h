// Stand-in for the history store until it is merged: keeps card tables in memory.
#pragma once

#include "card/history.h"
#include "store/namecache.h"

#include <QString>
#include <map>
#include <stdexcept>

namespace ridelog::store {

using CardBlockSet = std::map<std::uint32_t, HistoryBlock>;

class DatabaseError : public std::runtime_error
{
public:
    explicit DatabaseError(const QString& text)
        : std::runtime_error(text.toStdString())
        , text_(text)
    {}
    QString text() const { return text_; }

private:
    QString text_;
};

class HistoryStore
{
public:
    void OpenDatabaseAtStart(NameCaches& caches);
    bool EnsureDatabaseOpen();
    void LoadStoredBlocks(const QString& idmText, CardBlockSet& blocks);
    void MergeCardBlocks(CardBlockSet& blocks, const HistoryBlock* fresh, int count);
    void StoreNewBlocks(const QString& idmText, const CardBlockSet& blocks);
    void BuildRecordSet(const CardBlockSet& blocks, NameCaches& caches, HistoryRecordSet& records);
    void WriteBackNames(const NameCaches& caches);
    void CloseDatabase();

    // Test hook of the stand-in.
    void setFailing(bool failing) { failing_ = failing; }
    int writeBacks() const { return writeBacks_; }

private:
    std::map<QString, CardBlockSet> tables_;
    bool open_ = false;
    bool failing_ = false;
    int writeBacks_ = 0;
};

} // namespace ridelog::store
