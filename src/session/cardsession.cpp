#include "session/cardsession.h"

#include "namedata/freedheap.h"

#include <algorithm>
#include <iterator>

namespace ridelog {

template <typename Step>
bool CardSession::runStoreStep(Step step, std::vector<DatabaseError>& problems)
{
    try {
        step();
        return true;
    } catch (const DatabaseError& error) {
        problems.push_back(error);
        return false;
    }
}

std::optional<DatabaseError> CardSession::openStore()
{
    std::vector<DatabaseError> problems;
    runStoreStep([this] { store_.OpenDatabaseAtStart(caches_); }, problems);
    if (problems.empty())
        return std::nullopt;
    return problems.front();
}

void CardSession::forgetCard()
{
    if (recordsLeaving_)
        recordsLeaving_(records_);
    records_.clear();
    missed_.reset();
    gateLog_.clear();
    gateTimes_ = GateTimes();
    cardBlocks_.clear();
    refreshTable_.clear();
}

void CardSession::noteCardRead(const card::CardReadResult& card)
{
    idm_ = card.idm;
    idmText_ = card.idmText;
    lastReadIdm_ = card.idmText;
    showingStored_ = false;
    kindOfLastRead_ = card.kind;
    deliveredSerials_.clear();
    for (const HistoryBlock& block : card.blocks)
        deliveredSerials_.insert(blockSerial(block));
    // Nothing delivered: no balance rather than the one of an empty buffer.
    balance_.reset();
    if (!card.blocks.empty())
        balance_ = blockBalance(card.blocks.front());
}

CardSession::ReadOutcome CardSession::takeRead(const card::CardReadResult& card)
{
    forgetCard();
    noteCardRead(card);
    // Everything below belongs to this card's IDm, whatever the caller does meanwhile.
    const QString idm = card.idmText;
    ReadOutcome outcome;
    runStoreStep([&] { outcome.loaded = store_.LoadStoredBlocks(idm, cardBlocks_, &gateLog_); },
                 outcome.problems);
    missed_ = findMissedHistory(cardBlocks_, card.blocks);
    HistoryStore::MergeCardBlocks(cardBlocks_, card.blocks);
    // Without the stored history the records are what the card holds, and nothing is stored.
    if (outcome.loaded == HistoryStore::LoadOutcome::NotLoaded) {
        outcome.notStored = NotStored::HistoryNotLoaded;
    } else if (!runStoreStep(
                   [&] {
                       outcome.storedBlocks = store_.StoreNewBlocks(idm, cardBlocks_, card.gateLog);
                   },
                   outcome.problems)) {
        outcome.notStored = NotStored::StoreFailed;
    }
    HistoryStore::BuildRecordSet(cardBlocks_, caches_, records_);
    // The taps the card holds count for the times even when they could not be stored.
    for (const HistoryBlock& block : card.gateLog) {
        if (std::find(gateLog_.begin(), gateLog_.end(), block) == gateLog_.end())
            gateLog_.push_back(block);
    }
    matchGateLog();
    returnFreedHeapToSystem();
    return outcome;
}

void CardSession::matchGateLog()
{
    gateTimes_ = matchGateTaps(records_, gateLog_);
}

CardSession::StoredCardOutcome CardSession::showStoredCard(const QString& idmText)
{
    StoredCardOutcome outcome;
    forgetCard();
    std::vector<DatabaseError> problems;
    CardBlockSet blocks;
    std::vector<HistoryBlock> gateLog;
    runStoreStep([&] { outcome.loaded = store_.LoadStoredBlocks(idmText, blocks, &gateLog); },
                 problems);
    if (!problems.empty())
        outcome.problem = problems.front();
    showStoredBlocks(idmText, std::move(blocks));
    gateLog_ = std::move(gateLog);
    matchGateLog();
    returnFreedHeapToSystem();
    return outcome;
}

void CardSession::showStoredBlocks(const QString& idmText, CardBlockSet blocks)
{
    forgetCard();
    cardBlocks_ = std::move(blocks);
    idmText_ = idmText;
    showingStored_ = true;
    HistoryStore::BuildRecordSet(cardBlocks_, caches_, records_);
    // The balance is the newest stored entry's.
    balance_.reset();
    if (!records_.empty())
        balance_ = std::prev(records_.end())->balance;
}

std::optional<DatabaseError> CardSession::writeBackNames()
{
    std::vector<DatabaseError> problems;
    runStoreStep([this] { store_.WriteBackNames(caches_); }, problems);
    store_.dropDatabaseObject();
    if (problems.empty())
        return std::nullopt;
    return problems.front();
}

std::set<std::uint32_t> CardSession::deliveredSerials(const QString& idmText) const
{
    if (idmText.isEmpty() || idmText != lastReadIdm_)
        return {};
    return deliveredSerials_;
}

} // namespace ridelog
