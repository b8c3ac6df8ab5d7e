// The SQLite layer: opening, schema operations, statements, transactions, locking.
#include "databasetesthelpers.h"
#include "store/database.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

using namespace ridelog;

using ridelog::test::errorTextOf;
using ridelog::test::fileBytes;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

const ColumnDefinition kPairColumns[] = {
    {QStringLiteral("k"), ColumnType::SmallInt},
    {QStringLiteral("t"), ColumnType::Text255},
};

// Adds a row (k, t) to the table t.
Statement addPair(Database& db)
{
    return db.prepareAddRow(QStringLiteral("t"), {QStringLiteral("k"), QStringLiteral("t")});
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }
    Database createFresh(const QString& name)
    {
        return Database::open(path(name), Database::OpenMode::CreateIfMissing, 1000);
    }
    // A fresh database with the table t (k SMALLINT, t VARCHAR(255)).
    Database pairTable(const QString& name)
    {
        Database db = createFresh(name);
        db.createTable(QStringLiteral("t"), kPairColumns);
        return db;
    }

private slots:
    // ---- Names and types
    void quoteIdentifier_data();
    void quoteIdentifier();

    // ---- Opening
    void openExistingFailsForMissingFile();
    void createMakesAnEmptyDatabase();
    void fileThatIsNotADatabaseIsLeftUnchanged_data();
    void fileThatIsNotADatabaseIsLeftUnchanged();
    void emptyFileCountsAsEmptyDatabase();

    // ---- Tables
    void tableWhoseNameStartsWithADigit();
    void createTableKeepsColumnOrderAndTypes();
    void droppingAMissingTableRaisesEngineText();

    // ---- Statements
    void rowsComeBackInTableOrder();
    void existenceQueryFindsNegativeValues();
    void fieldEditChangesOnlyThatField();
    void nullTextReadsEmpty();
    void unboundParameterIsRefused();
    void quotedValuesAreNeverSql();
    void failedStatementCarriesEngineText();

    // ---- Transactions and locking
    void transactionKeepsRowsOnlyWhenCommitted_data();
    void transactionKeepsRowsOnlyWhenCommitted();
    void lockedDatabaseFailsAfterBusyTimeout();
    void lockReleasedWithinBusyTimeoutIsWaitedFor();
};

void TestDatabase::quoteIdentifier_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("card table") << QStringLiteral("20114A1B2C3D4E5F6")
                                << QStringLiteral("\"20114A1B2C3D4E5F6\"");
    QTest::newRow("name table") << QStringLiteral("ipn") << QStringLiteral("\"ipn\"");
    QTest::newRow("inner quote") << QStringLiteral("a\"b") << QStringLiteral("\"a\"\"b\"");
    QTest::newRow("digit only") << QStringLiteral("2") << QStringLiteral("\"2\"");
}

void TestDatabase::quoteIdentifier()
{
    QFETCH(QString, name);
    QFETCH(QString, quoted);
    QCOMPARE(ridelog::quoteIdentifier(name), quoted);
}

void TestDatabase::openExistingFailsForMissingFile()
{
    const QString file = path(QStringLiteral("missing.sqlite"));
    const QString text =
        errorTextOf([&] { Database::open(file, Database::OpenMode::ExistingFile, 100); });
    QCOMPARE(text, QStringLiteral("unable to open database file"));
    QVERIFY(!QFile::exists(file));
}

void TestDatabase::createMakesAnEmptyDatabase()
{
    {
        Database db = createFresh(QStringLiteral("new.sqlite"));
        QVERIFY(db.isOpen());
        QVERIFY(!db.tableExists(QStringLiteral("ipn")));
        db.createTable(QStringLiteral("ipn"), kPairColumns);
    }
    Database again =
        Database::open(path(QStringLiteral("new.sqlite")), Database::OpenMode::ExistingFile, 100);
    QVERIFY(again.tableExists(QStringLiteral("ipn")));
    again.close();
    QVERIFY(!again.isOpen());
}

void TestDatabase::fileThatIsNotADatabaseIsLeftUnchanged_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("engineText");
    QByteArray text = QByteArrayLiteral("my travel notes, not a database\n").repeated(200);
    QTest::newRow("text, open") << text << int(Database::OpenMode::ExistingFile)
                                << QStringLiteral("file is not a database");
    QTest::newRow("text, create") << text << int(Database::OpenMode::CreateIfMissing)
                                  << QStringLiteral("file is not a database");
    // A database header followed by garbage: the file looks like SQLite but is damaged.
    QByteArray damaged = QByteArrayLiteral("SQLite format 3");
    damaged.append('\0');
    damaged.append(QByteArray(4080, '\xA5'));
    QTest::newRow("damaged header") << damaged << int(Database::OpenMode::ExistingFile)
                                    << QStringLiteral("file is not a database");
}

void TestDatabase::fileThatIsNotADatabaseIsLeftUnchanged()
{
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    QFETCH(QString, engineText);
    const QString file = path(QStringLiteral("notes.sqlite"));
    writeFile(file, content);
    const QString text = errorTextOf([&] { Database::open(file, Database::OpenMode(mode), 100); });
    QCOMPARE(text, engineText);
    QCOMPARE(fileBytes(file), content);
    QVERIFY(!QFile::exists(file + QStringLiteral("-journal")));
}

void TestDatabase::emptyFileCountsAsEmptyDatabase()
{
    const QString file = path(QStringLiteral("empty.sqlite"));
    writeFile(file, QByteArray());
    Database db = Database::open(file, Database::OpenMode::ExistingFile, 100);
    QVERIFY(!db.tableExists(QStringLiteral("bus")));
}

void TestDatabase::tableWhoseNameStartsWithADigit()
{
    Database db = createFresh(QStringLiteral("digits.sqlite"));
    const ColumnDefinition columns[] = {{QStringLiteral("seq"), ColumnType::Long}};
    db.createTable(QStringLiteral("20000000000000001"), columns);
    QVERIFY(db.tableExists(QStringLiteral("20000000000000001")));
    QVERIFY(!db.tableExists(QStringLiteral("2")));
    Statement add = db.prepareAddRow(QStringLiteral("20000000000000001"), {QStringLiteral("seq")});
    add.bind(1, std::int64_t(7));
    add.run();
    Statement rows =
        db.prepareReadAll(QStringLiteral("20000000000000001"), {QStringLiteral("seq")});
    QVERIFY(rows.step());
    QCOMPARE(rows.integerAt(0), 7);
}

void TestDatabase::createTableKeepsColumnOrderAndTypes()
{
    Database db = createFresh(QStringLiteral("types.sqlite"));
    const ColumnDefinition columns[] = {
        {QStringLiteral("ac"), ColumnType::SmallInt},
        {QStringLiteral("nm"), ColumnType::Text255},
        {QStringLiteral("b1"), ColumnType::Long},
    };
    db.createTable(QStringLiteral("t"), columns);
    Statement info(db,
                   QStringLiteral("SELECT name, type FROM pragma_table_info('t') ORDER BY cid"));
    QStringList seen;
    while (info.step())
        seen << info.textAt(0) + QLatin1Char(' ') + info.textAt(1);
    QCOMPARE(seen, (QStringList{QStringLiteral("ac SMALLINT"), QStringLiteral("nm VARCHAR(255)"),
                                QStringLiteral("b1 INTEGER")}));
}

void TestDatabase::droppingAMissingTableRaisesEngineText()
{
    Database db = createFresh(QStringLiteral("drop.sqlite"));
    QCOMPARE(errorTextOf([&] { db.dropTable(QStringLiteral("2")); }),
             QStringLiteral("no such table: 2"));
    db.createTable(QStringLiteral("2"), kPairColumns);
    db.dropTable(QStringLiteral("2"));
    QVERIFY(!db.tableExists(QStringLiteral("2")));
}

void TestDatabase::rowsComeBackInTableOrder()
{
    Database db = pairTable(QStringLiteral("order.sqlite"));
    Statement add = addPair(db);
    for (const int k : {30, 10, 20}) {
        add.bind(1, std::int64_t(k));
        add.bind(2, QString::number(k));
        add.run();
        add.reset();
    }
    Statement rows =
        db.prepareReadAll(QStringLiteral("t"), {QStringLiteral("k"), QStringLiteral("t")}, true);
    QList<int> keys;
    std::int64_t lastRowId = 0;
    while (rows.step()) {
        QVERIFY(rows.integerAt(0) > lastRowId);
        lastRowId = rows.integerAt(0);
        keys << int(rows.integerAt(1));
        QCOMPARE(rows.textAt(2), QString::number(rows.integerAt(1)));
    }
    QCOMPARE(keys, (QList<int>{30, 10, 20}));
}

void TestDatabase::existenceQueryFindsNegativeValues()
{
    Database db = createFresh(QStringLiteral("exists.sqlite"));
    const ColumnDefinition columns[] = {{QStringLiteral("b1"), ColumnType::Long},
                                        {QStringLiteral("b2"), ColumnType::Long}};
    db.createTable(QStringLiteral("2AB"), columns);
    Statement add =
        db.prepareAddRow(QStringLiteral("2AB"), {QStringLiteral("b1"), QStringLiteral("b2")});
    add.bind(1, std::int64_t(-2080177663));
    add.bind(2, std::int64_t(5));
    add.run();
    Statement query = db.prepareExistenceQuery(QStringLiteral("2AB"),
                                               {QStringLiteral("b1"), QStringLiteral("b2")});
    query.bind(1, std::int64_t(-2080177663));
    query.bind(2, std::int64_t(5));
    QVERIFY(query.step());
    query.reset();
    query.bind(2, std::int64_t(6));
    QVERIFY(!query.step());
}

void TestDatabase::fieldEditChangesOnlyThatField()
{
    Database db = pairTable(QStringLiteral("edit.sqlite"));
    Statement add = addPair(db);
    add.bind(1, std::int64_t(1));
    add.bind(2, QStringLiteral("old"));
    add.run();
    Statement edit = db.prepareFieldEdit(QStringLiteral("t"), QStringLiteral("t"));
    edit.bind(1, QStringLiteral("新しい名前"));
    edit.bind(2, std::int64_t(1));
    edit.run();
    Statement rows =
        db.prepareReadAll(QStringLiteral("t"), {QStringLiteral("k"), QStringLiteral("t")});
    QVERIFY(rows.step());
    QCOMPARE(rows.integerAt(0), 1);
    QCOMPARE(rows.textAt(1), QStringLiteral("新しい名前"));
    QVERIFY(!rows.step());
}

void TestDatabase::nullTextReadsEmpty()
{
    Database db = pairTable(QStringLiteral("null.sqlite"));
    Statement add = addPair(db);
    add.bind(1, std::int64_t(1));
    add.bindTextOrNull(2, QString());
    add.run();
    Statement rows = db.prepareReadAll(QStringLiteral("t"), {QStringLiteral("t")});
    QVERIFY(rows.step());
    QVERIFY(rows.isNullAt(0));
    QCOMPARE(rows.textAt(0), QString());
    QVERIFY(rows.textAt(0).isEmpty());
}

void TestDatabase::unboundParameterIsRefused()
{
    Database db = pairTable(QStringLiteral("unbound.sqlite"));
    Statement add = addPair(db);
    add.bind(1, std::int64_t(1));
    QVERIFY_THROWS_EXCEPTION(std::logic_error, add.run());
    Statement count(db, QStringLiteral("SELECT count(*) FROM \"t\""));
    QVERIFY(count.step());
    QCOMPARE(count.integerAt(0), 0);
}

void TestDatabase::quotedValuesAreNeverSql()
{
    Database db = pairTable(QStringLiteral("inject.sqlite"));
    const QString hostile = QStringLiteral("x'); DROP TABLE t; --");
    Statement add = addPair(db);
    add.bind(1, std::int64_t(1));
    add.bind(2, hostile);
    add.run();
    QVERIFY(db.tableExists(QStringLiteral("t")));
    Statement rows = db.prepareReadAll(QStringLiteral("t"), {QStringLiteral("t")});
    QVERIFY(rows.step());
    QCOMPARE(rows.textAt(0), hostile);
}

void TestDatabase::failedStatementCarriesEngineText()
{
    Database db = pairTable(QStringLiteral("fail.sqlite"));
    QCOMPARE(errorTextOf([&] { db.prepareReadAll(QStringLiteral("t"), {QStringLiteral("b4")}); }),
             QStringLiteral("no such column: b4"));
    QCOMPARE(errorTextOf([&] { db.prepareAddRow(QStringLiteral("u"), {QStringLiteral("k")}); }),
             QStringLiteral("no such table: u"));
    // A runtime failure (constraint) arrives through step().
    db.execute(QStringLiteral("CREATE TABLE c (v INTEGER NOT NULL)"));
    Statement add = db.prepareAddRow(QStringLiteral("c"), {QStringLiteral("v")});
    add.bindNull(1);
    QCOMPARE(errorTextOf([&] { add.run(); }), QStringLiteral("NOT NULL constraint failed: c.v"));
}

void TestDatabase::transactionKeepsRowsOnlyWhenCommitted_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("commit");
    QTest::addColumn<int>("rows");
    QTest::newRow("rolled back without commit") << QStringLiteral("rollback.sqlite") << false << 0;
    QTest::newRow("commit keeps rows") << QStringLiteral("commit.sqlite") << true << 1;
}

void TestDatabase::transactionKeepsRowsOnlyWhenCommitted()
{
    QFETCH(QString, file);
    QFETCH(bool, commit);
    QFETCH(int, rows);
    Database db = pairTable(file);
    {
        Transaction transaction(db);
        Statement add = db.prepareAddRow(QStringLiteral("t"), {QStringLiteral("k")});
        add.bind(1, std::int64_t(1));
        add.run();
        if (commit)
            transaction.commit();
    }
    Statement count(db, QStringLiteral("SELECT count(*) FROM t"));
    QVERIFY(count.step());
    QCOMPARE(count.integerAt(0), rows);
}

void TestDatabase::lockedDatabaseFailsAfterBusyTimeout()
{
    Database holder = pairTable(QStringLiteral("locked.sqlite"));
    Database other = Database::open(path(QStringLiteral("locked.sqlite")),
                                    Database::OpenMode::ExistingFile, 200);
    holder.execute(QStringLiteral("BEGIN IMMEDIATE"));
    QElapsedTimer timer;
    timer.start();
    const QString text = errorTextOf([&] { Transaction transaction(other); });
    QCOMPARE(text, QStringLiteral("database is locked"));
    QVERIFY2(timer.elapsed() >= 150, qPrintable(QString::number(timer.elapsed())));
    holder.execute(QStringLiteral("ROLLBACK"));
}

void TestDatabase::lockReleasedWithinBusyTimeoutIsWaitedFor()
{
    Database holder = pairTable(QStringLiteral("waited.sqlite"));
    Database other = Database::open(path(QStringLiteral("waited.sqlite")),
                                    Database::OpenMode::ExistingFile, 5000);
    holder.execute(QStringLiteral("BEGIN EXCLUSIVE"));
    std::thread release([&holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        holder.execute(QStringLiteral("COMMIT"));
    });
    Transaction transaction(other);
    Statement add = other.prepareAddRow(QStringLiteral("t"), {QStringLiteral("k")});
    add.bind(1, std::int64_t(3));
    add.run();
    transaction.commit();
    release.join();
    Statement count(holder, QStringLiteral("SELECT count(*) FROM t"));
    QVERIFY(count.step());
    QCOMPARE(count.integerAt(0), 1);
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "test_database.moc"
