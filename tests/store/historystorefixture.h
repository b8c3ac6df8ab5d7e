// What the tests of the history store share: a data folder of their own, the store opened as
// the program opens it, and ways to look into the database file.
#pragma once

#include "databasetesthelpers.h"
#include "session/cardsession.h"
#include "store/gatelogstore.h"
#include "store/historystore.h"
#include "support/cardblocks.h"
#include "support/gatehistory.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace ridelog::test {

inline const QString kIdm = QStringLiteral("0114A1B2C3D4E5F6");
inline const QString kCardTable = QStringLiteral("20114A1B2C3D4E5F6");

inline Database openForInspection(const QString& path)
{
    return Database::open(path, Database::OpenMode::ExistingFile, 1000);
}

inline std::int64_t rowCount(const QString& dbPath, const QString& table)
{
    Database db = openForInspection(dbPath);
    Statement count(db, QStringLiteral("SELECT count(*) FROM %1").arg(quoteIdentifier(table)));
    count.step();
    return count.integerAt(0);
}

inline bool hasTable(const QString& dbPath, const QString& table)
{
    Database db = openForInspection(dbPath);
    return db.tableExists(table);
}

inline QStringList tableColumns(Database& db, const QString& table)
{
    Statement info(db, QStringLiteral("SELECT name, type FROM pragma_table_info(?1) ORDER BY cid"));
    info.bind(1, table);
    QStringList columns;
    while (info.step())
        columns << info.textAt(0) + QLatin1Char(' ') + info.textAt(1);
    return columns;
}

// The rows sql selects, each as the texts of its first columns joined by '|' (NULL: "NULL").
inline QStringList selectedRows(const QString& dbPath, const QString& sql, int columns)
{
    Database db = openForInspection(dbPath);
    Statement rows(db, sql);
    QStringList selected;
    while (rows.step()) {
        QStringList row;
        for (int column = 0; column < columns; ++column)
            row << (rows.isNullAt(column) ? QStringLiteral("NULL") : rows.textAt(column));
        selected << row.join(u'|');
    }
    return selected;
}

inline QStringList namePartsOf(const NameEntry& entry)
{
    return {entry.an, entry.ln, entry.sn, entry.nm};
}

// One card read as the main window runs it, through the card session.
struct ReadResult
{
    CardBlockSet blocks;
    HistoryRecordSet records;
    int added = 0;
};

inline ReadResult readCard(CardSession& session, const std::vector<HistoryBlock>& blocks,
                           const QString& idm = kIdm)
{
    card::CardReadResult card;
    card.ok = true;
    card.idmText = idm;
    card.blockCount = int(blocks.size());
    card.blocks = blocks;
    const int added = session.takeRead(card).storedBlocks;
    return {session.cardBlocks(), session.records(), added};
}

// Test classes derive from this (after QObject) and call setUpHome() from init() and
// tearDownHome() from cleanup().
class HistoryStoreFixture
{
protected:
    void setUpHome()
    {
        home_ = std::make_unique<QTemporaryDir>();
        QVERIFY(home_->isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(home_->path()));
        reported_.clear();
    }
    void tearDownHome() { home_.reset(); }

    std::unique_ptr<QTemporaryDir> home_;
    QStringList reported_;

    QString dataFolder() const { return home_->filePath(QStringLiteral("Tanpopo/Hotaru/Trfc/")); }
    QString dbPath() const { return dataFolder() + QStringLiteral("ekdb.sqlite"); }
    // Opens store as the program does at start-up; returns the caches it filled.
    NameCaches startStore(HistoryStore& store)
    {
        store.setProblemReporter([this](const DatabaseError& e) { reported_ << e.message(); });
        NameCaches caches;
        store.OpenDatabaseAtStart(caches);
        return caches;
    }
    // The same for the store of a card session; returns the session's caches.
    NameCaches& startStore(CardSession& session)
    {
        session.store().setProblemReporter(
            [this](const DatabaseError& e) { reported_ << e.message(); });
        session.openStore();
        return session.caches();
    }
    void writeGarbageDatabase(const QByteArray& bytes)
    {
        QVERIFY(QDir().mkpath(dataFolder()));
        QFile file(dbPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // A database made by hand, before the program starts.
    Database prepareDatabase()
    {
        QDir().mkpath(dataFolder());
        return Database::open(dbPath(), Database::OpenMode::CreateIfMissing, 1000);
    }
    // The same with these name tables, and then the statements run in it.
    void prepareNameTables(std::initializer_list<NameTable> tables, const QStringList& statements)
    {
        Database db = prepareDatabase();
        for (const NameTable table : tables)
            HistoryStore::EnsureNameTable(db, table);
        for (const QString& statement : statements)
            db.execute(statement);
    }
};

} // namespace ridelog::test
