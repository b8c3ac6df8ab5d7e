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

// Rows from the top to the first with an empty column 0: for each row's record, the rail
// names it lacks (entry before exit) and every shop and bus key.
QString collectNameItems(const QAbstractItemModel& list, const HistoryRecordSet& records);

// Sets columns 4 and 5 of every row whose key has names in the table; a row's key missing
// from the table gets an empty table row.
void applyNamesToList(QAbstractItemModel& list, NameRefreshTable& table);

// In ascending key-text order: the learnt names go into the caches (through EntryFor) and
// into the records.
void applyNamesToCachesAndRecords(const NameRefreshTable& table, HistoryRecordSet& records,
                                  NameCaches& caches);

} // namespace ridelog
