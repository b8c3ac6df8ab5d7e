// A history file looked at from outside: another computer's ekdb.sqlite, a backup, or the file
// a restore would bring back. The file is opened read-only and never changed.
#pragma once

#include "store/database.h"

#include <QDate>
#include <QString>
#include <QStringList>

namespace ridelog {

enum class HistoryFileState
{
    Usable,
    Missing,     // no such file, or not a regular file
    NotDatabase, // not a database at all
    Damaged,     // a database the engine finds damaged
    Locked,      // another program is writing it; try again later
    Foreign,     // a database, but not one this program keeps
};

struct HistoryFileSummary
{
    HistoryFileState state = HistoryFileState::Missing;
    QString reason;          // why it cannot be used, in English; the engine's text included
    int cards = 0;           // card tables
    qint64 entries = 0;      // one per serial and card, as the list shows them
    QDate newestEntryDate;   // of all cards; null without entries
    QStringList cardTables;  // "2" + IDm, in name order
    QStringList otherTables; // the program's further tables present (names, cards, ...)

    bool usable() const { return state == HistoryFileState::Usable; }
};

// Whether the open database is a history of this program: the check of the tables the program
// owns (ownedschema.h), and at least one table of the history. Empty when so; otherwise why not.
QString foreignTablesReason(Database& database);

// PRAGMA quick_check on an open database: empty when sound, else the engine's findings.
QString quickCheckFindings(Database& database);

// Opens path read-only, runs the quick check, checks the tables and counts the history.
HistoryFileSummary inspectHistoryFile(const QString& path, int busyTimeoutMs);

// Whether a and b are one file (also through links); false when either is missing.
bool isSameFile(const QString& a, const QString& b);

} // namespace ridelog
