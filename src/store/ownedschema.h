// The tables the program owns in ekdb.sqlite, each with its exact columns, and the check that a
// file is the program's own before anything is written into it.
//
// A file is used only when it holds no table at all (a new file) or at least one of the tables
// below, each with exactly its columns, and when nothing else there bears the name of one of
// them (a view, an index, a table that differs only in letter case). A table of the history
// (ipn, bus, bpn, a card table) with other columns makes the whole file foreign: it is another
// program's file, such as the name server's names file, and is never written. Tables the list
// does not know (a user's own view or table) are left alone and do not matter.
//
// A new table of the program is registered in ownedTables() (ownedschema.cpp) with its columns;
// an addition whose columns differ only turns that addition off (its own code sees the columns
// and leaves the table as it is), because the history beside it is still the user's.
#pragma once

#include "store/database.h"

#include <QString>
#include <optional>
#include <span>
#include <vector>

namespace ridelog {

enum class TableRole
{
    History,  // the name tables and the card tables: the file stands or falls with them
    Addition, // cards and later additions: a foreign table of that name is only left alone
};

struct OwnedTable
{
    QString name;              // the exact name; for the card tables the "2" they begin with
    bool isCardTables = false; // "2" followed by 16 upper-case hexadecimal digits
    std::span<const ColumnDefinition> columns;
    TableRole role = TableRole::History;

    bool matches(const QString& tableName, Qt::CaseSensitivity sensitivity) const;
};

// Every table the program creates.
const std::vector<OwnedTable>& ownedTables();

// Why the open file is not the program's, or nothing when it is.
std::optional<QString> foreignSchemaReason(Database& database);

} // namespace ridelog
