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
using ridelog::test::queryTexts;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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

// "k t" of every row of the table t, in table order; "<null>" for a NULL text.
QStringList pairs(Database& db)
{
    return queryTexts(db, QStringLiteral("SELECT k || ' ' || ifnull(t, '<null>') FROM t"));
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }
    // A file of its own for each row of a data-driven test.
    static QString rowFile() { return QString::fromUtf8(QTest::currentDataTag()); }
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
    void quoteIdentifier_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("card table")
            << QStringLiteral("20114A1B2C3D4E5F6") << QStringLiteral("\"20114A1B2C3D4E5F6\"");
        QTest::newRow("name table") << QStringLiteral("ipn") << QStringLiteral("\"ipn\"");
        QTest::newRow("inner quote") << QStringLiteral("a\"b") << QStringLiteral("\"a\"\"b\"");
        QTest::newRow("digit only") << QStringLiteral("2") << QStringLiteral("\"2\"");
    }

    void quoteIdentifier()
    {
        QFETCH(QString, name);
        QFETCH(QString, quoted);
        QCOMPARE(ridelog::quoteIdentifier(name), quoted);
    }

    void filesThatAreNoDatabaseAreLeftUnchanged_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file at all
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("engineText"); // empty: opened
        const int existing = int(Database::OpenMode::ExistingFile);
        QTest::newRow("missing") << QByteArray() << existing
                                 << QStringLiteral("unable to open database file");
        const QByteArray text =
            QByteArrayLiteral("my travel notes, not a database\n").repeated(200);
        QTest::newRow("text, open") << text << existing << QStringLiteral("file is not a database");
        QTest::newRow("text, create") << text << int(Database::OpenMode::CreateIfMissing)
                                      << QStringLiteral("file is not a database");
        // A database header followed by garbage: the file looks like SQLite but is damaged.
        const QByteArray damaged =
            QByteArrayLiteral("SQLite format 3") + '\0' + QByteArray(4080, '\xA5');
        QTest::newRow("damaged header")
            << damaged << existing << QStringLiteral("file is not a database");
        QTest::newRow("empty file: an empty database") << QByteArray("") << existing << QString();
    }

    void filesThatAreNoDatabaseAreLeftUnchanged()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, mode);
        const QString file = path(rowFile());
        QVERIFY(content.isNull() || writeFile(file, content));
        const QString text = errorTextOf([&] {
            QVERIFY(!Database::open(file, Database::OpenMode(mode), 100)
                         .tableExists(QStringLiteral("bus")));
        });
        QTEST(text, "engineText");
        if (content.isNull())
            QVERIFY(!QFile::exists(file));
        else
            QCOMPARE(fileBytes(file), content);
        QVERIFY(!QFile::exists(file + QStringLiteral("-journal")));
    }

    void tablesAreMadeFoundAndDropped()
    {
        // Card tables are named by digits; their columns keep their order and declared types.
        const QString card = QStringLiteral("20000000000000001");
        const ColumnDefinition columns[] = {
            {QStringLiteral("ac"), ColumnType::SmallInt},
            {QStringLiteral("nm"), ColumnType::Text255},
            {QStringLiteral("b1"), ColumnType::Long},
        };
        {
            Database db = createFresh(QStringLiteral("tables.sqlite"));
            QVERIFY(db.isOpen());
            QVERIFY(!db.tableExists(card));
            db.createTable(card, columns);
        }
        Database db = Database::open(path(QStringLiteral("tables.sqlite")),
                                     Database::OpenMode::ExistingFile, 100);
        QVERIFY(db.tableExists(card));
        QVERIFY(!db.tableExists(QStringLiteral("2")));
        QCOMPARE(queryTexts(db, QStringLiteral("SELECT name || ' ' || type FROM "
                                               "pragma_table_info('%1') ORDER BY cid")
                                    .arg(card)),
                 (QStringList{QStringLiteral("ac SMALLINT"), QStringLiteral("nm VARCHAR(255)"),
                              QStringLiteral("b1 INTEGER")}));
        {
            Statement add = db.prepareAddRow(card, {QStringLiteral("b1")});
            add.bind(1, std::int64_t(7));
            add.run();
            Statement rows = db.prepareReadAll(card, {QStringLiteral("b1")});
            QVERIFY(rows.step());
            QCOMPARE(rows.integerAt(0), 7);
        }
        QCOMPARE(errorTextOf([&] { db.dropTable(QStringLiteral("2")); }),
                 QStringLiteral("no such table: 2"));
        db.dropTable(card);
        QVERIFY(!db.tableExists(card));
        db.close();
        QVERIFY(!db.isOpen());
    }

    void rowsComeBackInTableOrderAreFoundAndEdited()
    {
        Database db = pairTable(QStringLiteral("rows.sqlite"));
        const QString hostile = QStringLiteral("x'); DROP TABLE t; --");
        Statement add = addPair(db);
        const std::int64_t negativeWord = -2080177663; // a block word as the card tables hold it
        for (const std::int64_t k : {std::int64_t(30), negativeWord}) {
            add.bind(1, k);
            add.bind(2, hostile);
            add.run();
            add.reset();
        }
        add.bind(1, std::int64_t(20));
        add.bindTextOrNull(2, QString());
        add.run();
        Statement edit = db.prepareFieldEdit(QStringLiteral("t"), QStringLiteral("t"));
        edit.bind(1, QStringLiteral("新しい名前"));
        edit.bind(2, std::int64_t(1));
        edit.run();

        Statement rows = db.prepareReadAll(QStringLiteral("t"),
                                           {QStringLiteral("k"), QStringLiteral("t")}, true);
        QStringList seen;
        std::int64_t lastRowId = 0;
        while (rows.step()) {
            QVERIFY(rows.integerAt(0) > lastRowId);
            lastRowId = rows.integerAt(0);
            if (rows.isNullAt(2))
                QCOMPARE(rows.textAt(2), QString()); // a NULL text reads as an empty one
            seen << QString::number(rows.integerAt(1)) + u' ' +
                        (rows.isNullAt(2) ? QStringLiteral("<null>") : rows.textAt(2));
        }
        QCOMPARE(seen, (QStringList{QStringLiteral("30 新しい名前"),
                                    QStringLiteral("-2080177663 ") + hostile,
                                    QStringLiteral("20 <null>")}));

        Statement query = db.prepareExistenceQuery(QStringLiteral("t"),
                                                   {QStringLiteral("k"), QStringLiteral("t")});
        query.bind(1, negativeWord);
        query.bind(2, hostile);
        QVERIFY(query.step());
        query.reset();
        query.bind(2, QStringLiteral("新しい名前"));
        QVERIFY(!query.step());
    }

    void failuresAreRefusedWithTheEngineText()
    {
        Database db = pairTable(QStringLiteral("fail.sqlite"));
        Statement add = addPair(db);
        add.bind(1, std::int64_t(1));
        QVERIFY_THROWS_EXCEPTION(std::logic_error, add.run()); // parameter 2 is not bound
        QCOMPARE(pairs(db), QStringList());
        QCOMPARE(
            errorTextOf([&] { db.prepareReadAll(QStringLiteral("t"), {QStringLiteral("b4")}); }),
            QStringLiteral("no such column: b4"));
        QCOMPARE(errorTextOf([&] { db.prepareAddRow(QStringLiteral("u"), {QStringLiteral("k")}); }),
                 QStringLiteral("no such table: u"));
        // A runtime failure (constraint) arrives through step().
        db.execute(QStringLiteral("CREATE TABLE c (v INTEGER NOT NULL)"));
        Statement addNull = db.prepareAddRow(QStringLiteral("c"), {QStringLiteral("v")});
        addNull.bindNull(1);
        QCOMPARE(errorTextOf([&] { addNull.run(); }),
                 QStringLiteral("NOT NULL constraint failed: c.v"));
    }

    void transactionKeepsRowsOnlyWhenCommitted_data()
    {
        QTest::addColumn<bool>("commit");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("rolled back without commit") << false << QStringList();
        QTest::newRow("commit keeps rows") << true << QStringList{QStringLiteral("1 one")};
    }

    void transactionKeepsRowsOnlyWhenCommitted()
    {
        QFETCH(bool, commit);
        Database db = pairTable(rowFile());
        {
            Transaction transaction(db);
            Statement add = addPair(db);
            add.bind(1, std::int64_t(1));
            add.bind(2, QStringLiteral("one"));
            add.run();
            if (commit)
                transaction.commit();
        }
        QTEST(pairs(db), "rows");
    }

    void aLockIsWaitedForUpToTheBusyTimeout_data()
    {
        QTest::addColumn<int>("busyTimeout");
        QTest::addColumn<int>("releaseAfter"); // ms; -1: held past the busy timeout
        QTest::addColumn<QString>("engineText");
        QTest::newRow("released in time") << 5000 << 150 << QString();
        QTest::newRow("held too long") << 200 << -1 << QStringLiteral("database is locked");
    }

    void aLockIsWaitedForUpToTheBusyTimeout()
    {
        QFETCH(int, busyTimeout);
        QFETCH(int, releaseAfter);
        QFETCH(QString, engineText);
        Database holder = pairTable(rowFile());
        Database other =
            Database::open(path(rowFile()), Database::OpenMode::ExistingFile, busyTimeout);
        holder.execute(QStringLiteral("BEGIN EXCLUSIVE"));
        std::thread release([&holder, releaseAfter] {
            if (releaseAfter < 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(releaseAfter));
            holder.execute(QStringLiteral("COMMIT"));
        });
        QElapsedTimer timer;
        timer.start();
        const QString text = errorTextOf([&] {
            Transaction transaction(other);
            Statement add = other.prepareAddRow(QStringLiteral("t"), {QStringLiteral("k")});
            add.bind(1, std::int64_t(3));
            add.run();
            transaction.commit();
        });
        const qint64 waited = timer.elapsed();
        release.join();
        QCOMPARE(text, engineText);
        if (releaseAfter < 0) {
            QVERIFY2(waited >= 150, qPrintable(QString::number(waited)));
            holder.execute(QStringLiteral("ROLLBACK"));
        }
        QCOMPARE(pairs(holder).size(), engineText.isEmpty() ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "test_database.moc"
