// Missed history: a card keeps only its newest entries, so entries made between two reads can be
// lost. The signs of that, and the order in which the history is shown with its marker.
#pragma once

#include "card/history.h"
#include "store/cardblockset.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ridelog {

// How many history entries a card holds.
constexpr std::size_t kCardHistoryCapacity = 20;

// Entries may be missing between the newest stored entry and the oldest entry of the read.
struct MissedHistory
{
    // The oldest entry the read brought: its amount spans the missing entries.
    std::uint32_t oldestFreshSerial = 0;
    friend bool operator==(const MissedHistory&, const MissedHistory&) = default;
};

// stored: the card's blocks loaded from its table before the read's blocks are merged (blocks
// of other origin are not counted). fresh: the blocks the read brought, as the card delivered
// them; slots without a named terminal type are no entries. Entries may have been lost when
// the card had stored history, the read brought a full card of entries and none of them is
// stored. Serials are not consecutive on real cards, so a jump in serials tells nothing.
std::optional<MissedHistory> findMissedHistory(const CardBlockSet& stored,
                                               std::span<const HistoryBlock> fresh);

// Item roles of the history list beyond Qt's, for whoever reads its rows.
enum HistoryRole : int
{
    // true on the marker row of missed history
    MissedHistoryMarkerRole =
        0x0100 + 1, // Qt::UserRole + 1
                    // the address of the row's record as quintptr; 0 on the marker row
    HistoryRecordRole = 0x0100 + 2,
};

// One row of the history in the order it is shown by default (newest first): a record, or
// the marker of missed history (record null), which sits right below the oldest fresh entry.
struct HistoryRow
{
    const HistoryRecord* record = nullptr;
    bool isMissedHistoryMarker() const { return record == nullptr; }
};

std::vector<HistoryRow> historyRowsNewestFirst(const HistoryRecordSet& records,
                                               const std::optional<MissedHistory>& missed);

// Whether the record's amount spans missing entries and so is no single fare.
bool amountSpansMissedHistory(const HistoryRecord& record,
                              const std::optional<MissedHistory>& missed);

// Texts of the marker row and of the marked amount, shared by the list and the exports.
QString missedHistoryMarkerText();    // in the 処理 column of the marker row
QString missedHistoryMarkerToolTip(); // why entries may be missing
QString spanningAmountMark();         // put before a marked amount
QString spanningAmountToolTip();

} // namespace ridelog
