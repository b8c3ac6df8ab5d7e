// The steps of a name refresh that work on the dialog's data: collecting the items from the
// history list, and copying the answers into the list, the caches and the records. They run
// on the user-interface thread only.
#pragma once

#include "card/history.h"
#include "namedata/namecache.h"
#include "names/namerefreshtable.h"

#include <QString>
#include <cstdint>
#include <optional>

class QAbstractItemModel;

namespace ridelog {

// The list's columns that a refresh reads and writes (Qt::DisplayRole texts).
inline constexpr int kSerialColumn = 0;
inline constexpr int kEntryNameColumn = 4;
inline constexpr int kExitNameColumn = 5;

// The serial of a list row: its leading decimal digits, 0 when there are none.
std::uint32_t serialOfRowText(const QString& text);

// The serial of a refresh table key: only a key that is all decimal digits and fits 32 bits
// names a record.
std::optional<std::uint32_t> serialOfTableKey(const QString& key);

// The record behind a list row: its column 0 parsed as a serial. A row whose column 0 does not
// begin with a digit (the missed-history marker) has none.
HistoryRecord* recordOfRow(const QAbstractItemModel& rows, int row, HistoryRecordSet& records);
const HistoryRecord* recordOfRow(const QAbstractItemModel& rows, int row,
                                 const HistoryRecordSet& records);

// Rows from the top to the first with an empty column 0: for each row's record, the rail
// names it lacks (entry before exit) and every shop and bus key. Each key is asked once, with
// the first row that has it.
QString collectNameItems(const QAbstractItemModel& rows, const HistoryRecordSet& records);

// Applies one answer to the card on display. The answer's names go into the caches (through
// EntryFor, in ascending key-text order); then every row shows the name its key has, whichever
// row the key was asked with and whichever column it stands in: columns 4 and 5 and the
// record's names. A rail name goes only where the record has none, from the answer or the
// caches; a bus stop or shop that the answer names takes the answer's name in every row.
void applyNameAnswer(QAbstractItemModel& rows, HistoryRecordSet& records,
                     const NameRefreshTable& answer, NameCaches& caches);

} // namespace ridelog
