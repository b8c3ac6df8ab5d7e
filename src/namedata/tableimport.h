// Import of the public code tables: the hex station tables (area, line, station, company, line
// name, station name[, note]), the decimal one under the headings AreaCode, LineCode,
// StationCode (its rows at area 0, line 0 are left out: other tables keep test terminals there),
// and the all-sheets table of 15 columns whose "src" column picks
// rail stations (suica_rail), bus stops (iruca_bus) or shops (suica_pos).
#pragma once

#include "namedata/namedirectory.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace ridelog::nameserver {

struct ImportReport
{
    QString source;
    bool opened = true; // false when the file could not be read at all
    QString openError;
    int rows = 0; // data rows, the header not counted
    int railAdded = 0;
    int busAdded = 0;
    int shopsAdded = 0;
    int duplicates = 0;    // rows whose key an earlier row of the same table named; it stays
    int namedEarlier = 0;  // rows whose key an earlier table named; that table's row stays
    int unreadable = 0;    // rows that could not be read: columns, codes, encoding, garbled text
    int otherSheets = 0;   // rows of sheets the server does not serve
    int testTerminals = 0; // rows of the decimal table at area 0, line 0
    QStringList problems;  // the first few unreadable rows as "line N: reason"

    QString summary() const;
};

// Reads one table file into `directory`; earlier entries win over later ones.
ImportReport importTableFile(const QString& path, NameDirectory& directory);

// The same for table content already in memory; `source` names it in the report.
ImportReport importTableContent(const QByteArray& content, const QString& source,
                                NameDirectory& directory);

// "山手線" -> "山手": the display adds "線" itself.
QString lineNameWithoutSuffix(const QString& lineName);

} // namespace ridelog::nameserver
