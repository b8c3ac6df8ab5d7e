// Stand-in for the history store until it is merged, with the same names and signatures.
// Keeps card tables in memory.
#pragma once

#include "card/history.h"
#include "store/namecache.h"

#include <QByteArray>
#include <QString>
#include <exception>
#include <functional>
#include <map>
#include <span>

namespace ridelog {

enum class BlockOrigin
{
    CardTable,
    Card
};

struct CardBlock
{
    HistoryBlock block{};
    BlockOrigin origin = BlockOrigin::Card;
};

class CardBlockSet
{
    using Map = std::map<std::uint32_t, CardBlock>;

public:
    bool insert(const HistoryBlock& block, BlockOrigin origin)
    {
        return blocks_.try_emplace(blockSerial(block), CardBlock{block, origin}).second;
    }
    void clear() { blocks_.clear(); }
    bool empty() const { return blocks_.empty(); }
    std::size_t size() const { return blocks_.size(); }
    Map::const_iterator begin() const { return blocks_.begin(); }
    Map::const_iterator end() const { return blocks_.end(); }

private:
    Map blocks_;
};

class DatabaseError : public std::exception
{
public:
    DatabaseError(int engineCode, QString message)
        : engineCode_(engineCode)
        , message_(std::move(message))
        , utf8_(message_.toUtf8())
    {}
    int engineCode() const { return engineCode_; }
    const QString& message() const { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    int engineCode_;
    QString message_;
    QByteArray utf8_;
};

class HistoryStore
{
public:
    using ProblemReporter = std::function<void(const QString& engineText)>;

    void setProblemReporter(ProblemReporter reporter) { reporter_ = std::move(reporter); }
    void OpenDatabaseAtStart(NameCaches& caches);
    int EnsureDatabaseOpen();
    void CloseDatabase() {}
    void DropDatabaseObject() {}
    void LoadStoredBlocks(const QString& idmText, CardBlockSet& blocks);
    static void MergeCardBlocks(CardBlockSet& blocks, std::span<const HistoryBlock> cardBlocks);
    int StoreNewBlocks(const QString& idmText, CardBlockSet& blocks);
    static void BuildRecordSet(const CardBlockSet& blocks, NameCaches& caches,
                               HistoryRecordSet& records);
    bool WriteBackNames(NameCaches& caches);

    // Stand-in only.
    void setFailing(bool failing) { failing_ = failing; }
    int writeBacks() const { return writeBacks_; }

private:
    std::map<QString, std::map<std::uint32_t, HistoryBlock>> tables_;
    ProblemReporter reporter_;
    bool failing_ = false;
    int writeBacks_ = 0;
};

} // namespace ridelog
