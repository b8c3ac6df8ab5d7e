// The card on display: everything one card shown in the window owns, and the two ways a card
// comes onto display, a read and the stored history of a card shown without reading it.
//
// The session knows no widget. The window, the command line, the tests and the benchmarks
// drive it the same way:
//
//   start-up      session.store().setProblemReporter(...); session.openStore();
//   card read     session.forgetCard();                  // before the reader is asked
//                 card = readCardHistory(library, context);
//                 if (card.ok) outcome = session.takeRead(card);
//                 ... show records(), balance(), missedHistory(); start the name refresh ...
//   stored card   outcome = session.showStoredCard(idmText);
//   shutdown      session.writeBackNames();
//
// The names HistoryRecordSet, CardBlockSet, NameRefreshTable and the steps of the store
// (LoadStoredBlocks, MergeCardBlocks, StoreNewBlocks, BuildRecordSet) are the program's
// long-standing names and are kept as they are.
#pragma once

#include "card/cardread.h"
#include "card/gatelog.h"
#include "card/history.h"
#include "namedata/namecache.h"
#include "names/namerefreshtable.h"
#include "store/cardblockset.h"
#include "store/database.h"
#include "store/historystore.h"
#include "store/missedhistory.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace ridelog {

class CardSession
{
public:
    // Why the blocks of a read were not stored.
    enum class NotStored
    {
        None,             // stored, or nothing new to store
        HistoryNotLoaded, // the stored history could not be read first: storing would double it
        StoreFailed,      // the database failed while storing; the table is as it was
    };

    // What a read did with the card's history.
    struct ReadOutcome
    {
        HistoryStore::LoadOutcome loaded = HistoryStore::LoadOutcome::NotLoaded;
        int storedBlocks = 0; // rows added to the card's table
        NotStored notStored = NotStored::None;
        // Database failures, in the order they happened; the read went on after each.
        std::vector<DatabaseError> problems;
    };

    // What showing a stored card did.
    struct StoredCardOutcome
    {
        HistoryStore::LoadOutcome loaded = HistoryStore::LoadOutcome::NotLoaded;
        std::optional<DatabaseError> problem;
    };

    // Called with the records of the card on display just before they are emptied, so that
    // whoever shows them (the history list) can keep them; what is left in them is dropped.
    using RecordsLeaving = std::function<void(HistoryRecordSet& records)>;

    CardSession() = default;
    CardSession(const CardSession&) = delete;
    CardSession& operator=(const CardSession&) = delete;

    void setRecordsLeaving(RecordsLeaving observer) { recordsLeaving_ = std::move(observer); }

    // Start-up: the data folder, the database and the three name caches. A failure is returned;
    // the program goes on without a database.
    std::optional<DatabaseError> openStore();

    // Empties the records, the blocks, the refresh table and the missed history of the card on
    // display. The IDm, the balance and what the last read delivered stay.
    void forgetCard();

    // A read that the card answered (card.ok): the stored history is loaded, the fresh blocks
    // merged in (the stored block of a serial wins), the new ones stored and the whole set
    // decoded into records(). The card read becomes the card on display.
    ReadOutcome takeRead(const card::CardReadResult& card);

    // The stored history of a card, without reading it, becomes the card on display (with no
    // records when the card has no table or its history cannot be read).
    StoredCardOutcome showStoredCard(const QString& idmText);
    // Stored blocks loaded elsewhere (the command line reads the file read-only), decoded
    // into records() as the stored history of the card.
    void showStoredBlocks(const QString& idmText, CardBlockSet blocks);

    // Shutdown: every named cache entry into the name tables; the database object goes.
    std::optional<DatabaseError> writeBackNames();

    HistoryStore& store() { return store_; }
    const HistoryStore& store() const { return store_; }
    NameCaches& caches() { return caches_; }
    HistoryRecordSet& records() { return records_; }
    const HistoryRecordSet& records() const { return records_; }
    CardBlockSet& cardBlocks() { return cardBlocks_; }
    NameRefreshTable& nameRefreshTable() { return refreshTable_; }
    const std::optional<MissedHistory>& missedHistory() const { return missed_; }
    // The gate times of the journeys on display: every stored tap of the card (and those the
    // read just brought) matched to records().
    const GateTimes& gateTimes() const { return gateTimes_; }
    // The kind of card the last read told; none when the card did not answer, or for a stored
    // card.
    const std::optional<card::CardKind>& kindOfLastRead() const { return kindOfLastRead_; }

    // The card on display: empty before the first read or stored card.
    const QString& idmText() const { return idmText_; }
    // The IDm of the card read last; all zero before the first read.
    const card::felica::Idm& idm() const { return idm_; }
    // The balance of the card on display: block 0 of a read's answer, or the newest stored
    // entry of a stored card; none when there is nothing to show it from.
    std::optional<int> balance() const { return balance_; }
    bool isShowingStoredCard() const { return showingStored_; }
    // The card read last (not a stored card shown since); empty before the first read.
    const QString& lastReadIdm() const { return lastReadIdm_; }
    // The serials the card delivered at its last read; none for another card, or before.
    std::set<std::uint32_t> deliveredSerials(const QString& idmText) const;

private:
    template <typename Step> bool runStoreStep(Step step, std::vector<DatabaseError>& problems);
    void noteCardRead(const card::CardReadResult& card);
    void matchGateLog();

    HistoryStore store_;
    NameCaches caches_;
    HistoryRecordSet records_;
    CardBlockSet cardBlocks_;
    NameRefreshTable refreshTable_;
    std::optional<MissedHistory> missed_;
    std::vector<HistoryBlock> gateLog_;
    GateTimes gateTimes_;
    std::optional<card::CardKind> kindOfLastRead_;
    RecordsLeaving recordsLeaving_;

    card::felica::Idm idm_{};
    QString idmText_;
    std::optional<int> balance_;
    bool showingStored_ = false;
    QString lastReadIdm_;
    std::set<std::uint32_t> deliveredSerials_;
};

} // namespace ridelog
