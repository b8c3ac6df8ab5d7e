// The facts of each history entry as the expense exports and the totals use them: dates as
// dates, amounts as signed numbers, names and codes apart, and the entries whose amount is not
// known marked as such instead of being counted.
#pragma once

#include "card/gatelog.h"
#include "card/history.h"
#include "store/notestore.h"

#include <QDate>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ridelog {

struct NameCaches;

// How far the amount of an entry can be trusted.
enum class AmountState
{
    Known,      // the previous entry is present: amount is what this entry cost or charged
    FirstEntry, // the oldest stored entry: there is no balance before it
    SpansGap,   // entries may be missing before this one: amount covers all of them
};

// A station, bus stop or shop: the shown name (empty when none is known) and its code.
struct PlaceFacts
{
    QString name;
    std::array<int, 3> code{}; // the key's parts
    int codeParts = 0;         // 0: no place; 2 for a bus stop, 3 otherwise

    bool isNone() const { return codeParts == 0; }
};

struct ExpenseEntry
{
    std::uint32_t serial = 0;
    QDate date;    // invalid when the date on the card does not exist
    int hour = -1; // time of day, shop entries only; -1 when not known
    int minute = -1;
    RecordKind kind = RecordKind::None;
    std::uint8_t terminalType = 0;
    std::uint8_t processType = 0;
    PlaceFacts entry; // entry station, bus stop or shop
    PlaceFacts exit;  // exit station; none for bus and shop entries
    // The previous entry's balance minus this one's: a payment is positive, a charge negative.
    // 0 for the first entry.
    std::int32_t amount = 0;
    AmountState amountState = AmountState::Known;
    std::int32_t balance = 0;
    QString purpose;      // the user's note; empty when none
    bool claimed = false; // marked 精算 by the user
    // Gate times of a journey, from the gate log; unknown for most entries.
    TapTime entryTime;
    TapTime exitTime;

    bool amountKnown() const { return amountState == AmountState::Known; }
};

// "rail", "bus", "shop" (or "" for none).
QString kindKeyword(RecordKind kind);
// The date of a history entry; invalid when the card's date does not exist.
QDate recordDate(const HistoryRecord& record);
// The date as 2026-12-04; empty when invalid.
QString isoDateText(const QDate& date);
// The time as 09:21; empty when not known.
QString isoTimeText(const ExpenseEntry& entry);

// Every record in ascending serial order. gapBeforeSerial names the entry before which history
// may be missing (its amount then spans the gap). With caches, shown names come from their
// current entries (what the list shows after a change of the display settings); without, from
// the records.
std::vector<ExpenseEntry> expenseEntries(const HistoryRecordSet& records,
                                         std::optional<std::uint32_t> gapBeforeSerial,
                                         NameCaches* caches = nullptr);

// Sets purpose and claim mark of every entry that has a note.
void attachNotes(std::span<ExpenseEntry> entries, const CardNotes& notes);
// Gives the journeys their gate times.
void addGateTimes(std::span<ExpenseEntry> entries, const GateTimes& times);

// The entries with the given serials, in the order given; serials without an entry are left out.
std::vector<ExpenseEntry> entriesInOrder(std::span<const ExpenseEntry> ascending,
                                         std::span<const std::uint32_t> serials);

// The entries dated within [from, to] (either end may be open), newest first: the list's order.
// With no bound at all, entries with an impossible date are kept too.
std::vector<ExpenseEntry> entriesNewestFirst(std::span<const ExpenseEntry> ascending,
                                             const QDate& from, const QDate& to);

} // namespace ridelog
