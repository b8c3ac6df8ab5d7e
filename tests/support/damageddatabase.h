// Damage as a failing disk leaves it: one page of a table overwritten in place.
#pragma once

#include "store/database.h"

#include <QFile>
#include <QString>

namespace ridelog::test {

// Overwrites the first bytes of the root page of table; false when the table or the file
// cannot be found.
inline bool damageTableRootPage(const QString& databasePath, const QString& table)
{
    std::int64_t page = 0;
    std::int64_t pageSize = 0;
    {
        Database db = Database::open(databasePath, Database::OpenMode::ExistingFile, 1000);
        Statement root(db, QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name=?1"));
        root.bind(1, table);
        if (!root.step())
            return false;
        page = root.integerAt(0);
        Statement size(db, QStringLiteral("PRAGMA page_size"));
        if (!size.step())
            return false;
        pageSize = size.integerAt(0);
    }
    QFile file(databasePath);
    if (!file.open(QIODevice::ReadWrite) || !file.seek((page - 1) * pageSize))
        return false;
    return file.write(QByteArray(64, '\xEE')) == 64;
}

} // namespace ridelog::test
