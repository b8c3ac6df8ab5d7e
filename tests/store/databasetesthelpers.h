// Helpers the tests of the database layer, the history store and the files beside it share.
#pragma once

#include "store/database.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <functional>

namespace ridelog::test {

// The engine's text of the DatabaseError that action throws; empty when it throws none.
inline QString errorTextOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const DatabaseError& error) {
        return error.message();
    }
    return QString();
}

// The first column of every row the query gives, as text.
inline QStringList queryTexts(Database& database, const QString& sql)
{
    Statement rows(database, sql);
    QStringList texts;
    while (rows.step())
        texts.append(rows.textAt(0));
    return texts;
}

inline QStringList queryTexts(const QString& path, const QString& sql)
{
    Database database = Database::open(path, Database::OpenMode::ReadOnly, 1000);
    return queryTexts(database, sql);
}

// Overwrites length bytes from the middle of the file on (past the header and the schema), as
// a failing disk leaves them.
inline bool damageFileMiddle(const QString& path, qint64 length, char fill = '\x5A')
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.seek(file.size() / 2) &&
           file.write(QByteArray(length, fill)) == length;
}

} // namespace ridelog::test
