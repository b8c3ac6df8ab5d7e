// A database file with stored card histories, written the way the window stores a read, for
// the tests of notes, the claim form and the command line.
#pragma once

#include "store/database.h"
#include "store/historystore.h"
#include "store/schema.h"

#include <QList>
#include <QString>

namespace ridelog::test {

// Adds the blocks to the card's table in the file at path, creating file and table as needed.
inline void storeCardBlocks(const QString& path, const QString& idm,
                            const QList<HistoryBlock>& blocks)
{
    Database database = Database::open(path, Database::OpenMode::CreateIfMissing, 1000);
    Transaction transaction(database);
    const QString table = CardTableName(idm);
    if (!database.tableExists(table))
        HistoryStore::CreateCardTable(database, table);
    Statement add = database.prepareAddRow(table, cardBlockColumns());
    for (const HistoryBlock& block : blocks) {
        const BlockWords words = blockWords(block);
        for (int w = 0; w < 4; ++w)
            add.bind(w + 1, words[std::size_t(w)]);
        add.run();
        add.reset();
    }
    transaction.commit();
}

// Every table's definition and rows as text, to see that an operation left them alone.
inline QString tableDump(const QString& path, const QString& table)
{
    Database database = Database::open(path, Database::OpenMode::ExistingFile, 1000);
    QString dump;
    Statement schema(database, QStringLiteral("SELECT sql FROM sqlite_master WHERE name=?1"));
    schema.bind(1, table);
    while (schema.step())
        dump += schema.textAt(0) + u'\n';
    Statement rows(database, QStringLiteral("SELECT * FROM %1").arg(quoteIdentifier(table)));
    while (rows.step()) {
        for (int c = 0; c < 8; ++c)
            dump += rows.textAt(c) + u'|';
        dump += u'\n';
    }
    return dump;
}

} // namespace ridelog::test
