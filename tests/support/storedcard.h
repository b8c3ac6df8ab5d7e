// Card histories written straight into a database file the way a read stores them, for the
// tests of the store, notes, the claim form, the card library and the command line.
#pragma once

#include "store/database.h"
#include "store/historystore.h"
#include "store/schema.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace ridelog::test {

// Adds the blocks to the card's table in the open database as the program stores them (seq and
// the four words), creating the table as needed.
template <typename Blocks>
void addCardRows(Database& database, const QString& idm, const Blocks& blocks)
{
    const QString table = CardTableName(idm);
    if (!database.tableExists(table))
        HistoryStore::CreateCardTable(database, table);
    QStringList columns = cardBlockColumns();
    columns.prepend(QStringLiteral("seq"));
    Statement add = database.prepareAddRow(table, columns);
    for (const HistoryBlock& block : blocks) {
        const BlockWords words = blockWords(block);
        add.bind(1, std::int64_t(blockSerial(block)));
        for (int w = 0; w < 4; ++w)
            add.bind(w + 2, words[std::size_t(w)]);
        add.run();
        add.reset();
    }
}

// The same in the file at path, in one transaction, creating the file as needed.
template <typename Blocks>
void storeCardBlocks(const QString& path, const QString& idm, const Blocks& blocks)
{
    Database database = Database::open(path, Database::OpenMode::CreateIfMissing, 1000);
    Transaction transaction(database);
    addCardRows(database, idm, blocks);
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
