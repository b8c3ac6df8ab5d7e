// The gate log kept in ekdb.sqlite: every gate-log block ever read from a card, one row per
// distinct block.
//
//   gatelog  idm VARCHAR(255), block VARCHAR(255), firstRead INTEGER
//            (idm: 16 upper-case hexadecimal digits; block: its 16 bytes as 32 upper-case
//             hexadecimal digits; firstRead: seconds since 1970 UTC of the read that brought it)
//
// The table is an addition that touches no other table. It is created by the first read that
// brings a block, inside that read's transaction. A gatelog table with other columns is left
// exactly as it is and nothing is stored in it.
#pragma once

#include "card/history.h"

#include <QDateTime>
#include <QString>
#include <optional>
#include <span>
#include <vector>

namespace ridelog {

class Database;
struct ColumnDefinition;

enum class GateLogTableState
{
    Missing,
    Usable,
    Unusable
};

class GateLogStore
{
public:
    static QString tableName() { return QStringLiteral("gatelog"); }
    static std::span<const ColumnDefinition> tableColumns();

    static GateLogTableState tableState(Database& database);
    // The card's blocks in the order they were stored; none without a usable table.
    static std::vector<HistoryBlock> load(Database& database, const QString& idmText);
    // Adds the blocks the table lacks (all-zero blocks, empty slots, are never stored), creating
    // the table when one is to be added. Runs inside the caller's transaction. Returns the
    // number of rows added; 0 when the table is unusable.
    static int store(Database& database, const QString& idmText,
                     std::span<const HistoryBlock> blocks, const QDateTime& when);

    static QString blockText(const HistoryBlock& block);
    // The block of a stored text (32 hexadecimal digits); none for any other text.
    static std::optional<HistoryBlock> blockFromText(const QString& text);
    static bool isEmptySlot(const HistoryBlock& block);
};

} // namespace ridelog
