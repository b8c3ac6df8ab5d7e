// The content of a transport expense claim (交通費精算書): which entries of a card's history it
// lists, one line each, with totals per month and in all. Only facts; claimformpainter.h lays
// them out on A4 pages.
//
// What is counted: the amount of each listed journey or purchase whose amount is known. Charges
// put money on the card and are never listed. An entry whose amount spans missed history, and
// the oldest entry of the history (no balance before it), are listed with their mark but not
// summed.
#pragma once

#include "report/expenseentries.h"

#include <QDate>
#include <QString>
#include <optional>
#include <span>
#include <vector>

namespace ridelog {

struct ClaimRequest
{
    QDate from; // invalid: open
    QDate to;
    bool claimedOnly = false; // only the entries marked 精算
    QString claimant;         // name
    QString department;
    QString cardName; // nickname, or the IDm
    QDate madeOn;     // the date the form is made
};

enum class ClaimAmount
{
    Counted,
    SpansGap, // entries may be missing before it: marked, not summed
    Unknown,  // the oldest entry: no balance before it
};

struct ClaimLine
{
    std::uint32_t serial = 0;
    QDate date; // invalid when the card's date does not exist
    RecordKind kind = RecordKind::None;
    QString from; // entry station, bus stop or shop (name, else its code)
    QString to;   // exit station; empty for bus and shop
    QString purpose;
    std::int32_t amount = 0;
    ClaimAmount amountState = ClaimAmount::Counted;
    TapTime entryTime; // at the gates; unknown for most entries
    TapTime exitTime;
};

struct ClaimMonth
{
    int year = 0; // 0: entries whose date does not exist
    int month = 0;
    std::vector<ClaimLine> lines; // oldest first
    qint64 total = 0;             // of the counted lines
};

struct ClaimForm
{
    ClaimRequest request;
    std::vector<ClaimMonth> months; // ascending; undated lines last
    qint64 total = 0;
    int lineCount = 0;
    int uncounted = 0; // lines marked, not summed
};

// Whether an entry belongs on a claim at all: anything but a charge.
bool isClaimableEntry(const ExpenseEntry& entry);

// The place as the form shows it: the name, else the code as the list shows it.
QString claimPlaceText(const PlaceFacts& place);

// The form for the entries (ascending serial, with their notes attached) within the request.
ClaimForm buildClaimForm(std::span<const ExpenseEntry> ascending, const ClaimRequest& request);

} // namespace ridelog
