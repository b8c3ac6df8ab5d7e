// The history written for spreadsheets and programs: UTF-8 CSV with a header row, and JSON.
// Both carry one value per fact; the list's own CSV and text formats are in store/listexport.h.
#pragma once

#include "card/cardkind.h"
#include "report/expenseentries.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <span>

namespace ridelog {

// The header row of the CSV form, in column order.
QStringList expenseCsvHeader();

// A byte order mark, the header row and one row per entry in the order given, CR LF line ends,
// fields quoted by RFC 4180 where they need it. An unknown amount (the oldest entry, or one
// after missing history) is an empty field; history_gap_before tells the second case.
QByteArray expenseCsvBytes(std::span<const ExpenseEntry> entries, const QString& idmText);

// {"card": {"idm", "entries", "first_date", "last_date", "nickname", "kind"}, "entries": [...]}:
// numbers as numbers, dates as ISO texts, names and codes apart, null where a fact is not known
// (kind: the shown name of the kind of card, null when it was never told). UTF-8, LF.
QByteArray expenseJsonBytes(std::span<const ExpenseEntry> entries, const QString& idmText,
                            const QString& nickname = QString(),
                            std::optional<card::CardKind> kind = std::nullopt);

// A text as a JSON string literal, quotes included.
void appendJsonString(QByteArray& out, const QString& text);

} // namespace ridelog
