// Totals of a card's history per month and over a date range: what was spent on rail and bus
// journeys and on purchases, what was charged, and the balance at the end. Amounts that span
// missing history are kept apart and flagged, never added to the fares.
#pragma once

#include "report/expenseentries.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <optional>
#include <span>
#include <vector>

namespace ridelog {

struct ExpenseTotals
{
    int entries = 0;
    int railJourneys = 0; // rail entries other than charges (fares, ticket purchases, ...)
    qint64 railFares = 0; // yen
    int busJourneys = 0;
    qint64 busFares = 0;
    int charges = 0;
    qint64 charged = 0; // yen put on the card, a positive number
    int purchases = 0;  // shop entries other than charges; a cancellation counts negative
    qint64 purchased = 0;
    int gaps = 0;           // entries before which history may be missing
    qint64 unaccounted = 0; // balance change across those gaps, in none of the sums above
    int unknownAmounts = 0; // the oldest entry of the history: no balance before it
    std::optional<std::int32_t> closingBalance; // balance after the last entry

    qint64 spending() const { return railFares + busFares + purchased; }
    friend bool operator==(const ExpenseTotals&, const ExpenseTotals&) = default;
};

struct MonthTotals
{
    int year = 0;
    int month = 0;
    ExpenseTotals totals;

    QString monthText() const; // 2026-12
};

struct TotalsReport
{
    QDate from; // the range asked for; invalid ends are open
    QDate to;
    std::vector<MonthTotals> months; // ascending, only months with entries
    ExpenseTotals total;             // the whole range
    int undated = 0;                 // entries whose date does not exist, in no month
};

// Process types that put money on the card.
bool isChargeProcess(std::uint8_t processType);

// Adds one entry to a sum. Entries must be added in ascending serial order.
void addToTotals(ExpenseTotals& totals, const ExpenseEntry& entry);

// The entries (ascending serial) dated within [from, to], by month and in all.
TotalsReport expenseTotals(std::span<const ExpenseEntry> ascending, const QDate& from,
                           const QDate& to);

// Renderings for the command line: a table for people, CSV (ASCII, CR LF) and JSON (UTF-8).
QByteArray totalsText(const TotalsReport& report, const QString& idmText);
QByteArray totalsCsv(const TotalsReport& report);
QByteArray totalsJson(const TotalsReport& report, const QString& idmText);

} // namespace ridelog
