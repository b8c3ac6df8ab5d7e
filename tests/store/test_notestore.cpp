// Notes on history entries: purposes and claim marks beside the card tables.
#include "databasetesthelpers.h"
#include "store/database.h"
#include "store/historystore.h"
#include "store/notestore.h"
#include "support/cardblocks.h"
#include "support/storedcard.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace ridelog;
using namespace ridelog::test;

namespace {

const QString kIdmA = QStringLiteral("0102030405060708");
const QString kIdmB = QStringLiteral("A1B2C3D4E5F60718");

struct NotesFixture
{
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("ekdb.sqlite"));
    NoteStore notes{path, 200};

    NotesFixture()
    {
        // Two cards whose serials overlap, as they do on real cards.
        QList<HistoryBlock> blocks;
        for (std::uint32_t serial = 100; serial < 140; ++serial)
            blocks.append(railBlock(serial, 5000 - int(serial)));
        storeCardBlocks(path, kIdmA, blocks);
        storeCardBlocks(path, kIdmB, blocks.mid(0, 10));
    }

    NoteWriteOutcome set(const QString& idm, std::vector<std::uint32_t> serials, NoteChange change,
                         qint64 now = 1'765'000'000)
    {
        return notes.setNotes(idm, serials, change, now);
    }

    // "serial purpose claimed" of every note of the card, by serial.
    QStringList rows(const QString& idm)
    {
        QStringList rows;
        for (const auto& [serial, note] : notes.notesOf(idm).notes)
            rows.append(QStringLiteral("%1 %2 %3").arg(serial).arg(note.purpose).arg(note.claimed));
        return rows;
    }

    bool hasNotesTable()
    {
        Database database = Database::open(path, Database::OpenMode::ExistingFile, 1000);
        return database.tableExists(NoteStore::notesTableName());
    }
};

NoteChange purposeOnly(const QString& text)
{
    return NoteChange{text, std::nullopt};
}

NoteChange claimOnly(bool claimed)
{
    return NoteChange{std::nullopt, claimed};
}

} // namespace

class TestNoteStore : public QObject
{
    Q_OBJECT

private slots:
    void purposeIsCleaned_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        const QString longText(100'000, u'字');
        QTest::newRow("plain") << QStringLiteral("顧客訪問（渋谷）")
                               << QStringLiteral("顧客訪問（渋谷）");
        QTest::newRow("blanks around") << QStringLiteral("  会議 \t") << QStringLiteral("会議");
        QTest::newRow("line breaks")
            << QStringLiteral("本社\r\n会議") << QStringLiteral("本社  会議");
        QTest::newRow("NUL and controls")
            << (QStringLiteral("A") + QChar(0) + QStringLiteral("B\x1b[31mC") + QChar(0x7F) +
                QChar(0x85) + QChar(0x9B))
            << QStringLiteral("AB[31mC");
        QTest::newRow("direction marks")
            << (QStringLiteral("出張") + QChar(0x202E) + QStringLiteral("fdp.exe") + QChar(0x202C) +
                QChar(0x200F) + QChar(0x2067) + QStringLiteral("x") + QChar(0x2069) + QChar(0xFEFF))
            << QStringLiteral("出張fdp.exex");
        QTest::newRow("100000 characters") << longText << longText.left(kPurposeMaxLength);
        // 199 characters and a character outside the BMP: 200 characters, 201 UTF-16 units.
        const QString emoji = QString::fromUcs4(U"\U0001F683");
        QTest::newRow("pair kept whole at the end")
            << (QString(199, u'a') + emoji + emoji) << (QString(199, u'a') + emoji);
        QTest::newRow("only controls") << (QString(QChar(0)) + QChar(0x202E)) << QString();
    }

    void purposeIsCleaned()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QCOMPARE(cleanPurpose(typed), stored);
        // And so it is stored and read back.
        NotesFixture fixture;
        QVERIFY(fixture.set(kIdmA, {101}, NoteChange{typed, true}).written());
        QCOMPARE(fixture.notes.notesOf(kIdmA).notes.at(101).purpose, stored);
    }

    void tableIsMadeByTheFirstNoteOnly()
    {
        NotesFixture fixture;
        const QString cardA = tableDump(fixture.path, CardTableName(kIdmA));
        // Reading notes and counting them do not make the table.
        QVERIFY(fixture.notes.notesOf(kIdmA).available);
        QCOMPARE(fixture.rows(kIdmA), QStringList());
        QCOMPARE(fixture.notes.noteCount(kIdmA), 0);
        QVERIFY(!fixture.hasNotesTable());

        QVERIFY(fixture.set(kIdmA, {120}, NoteChange{QStringLiteral("客先"), true}, 42).written());
        QVERIFY(fixture.hasNotesTable());
        QCOMPARE(tableDump(fixture.path, CardTableName(kIdmA)), cardA);
        QCOMPARE(fixture.rows(kIdmA), QStringList{QStringLiteral("120 客先 1")});
        QCOMPARE(fixture.notes.notesOf(kIdmA).notes.at(120).updated, 42);
        // The same serial of the other card has no note.
        QCOMPARE(fixture.rows(kIdmB), QStringList());
    }

    void changesApplyToEverySerialOrToNoneAndEmptyNotesGo()
    {
        NotesFixture fixture;
        QVERIFY(fixture.set(kIdmA, {100, 101, 102}, NoteChange{QStringLiteral("研修"), false})
                    .written());
        QVERIFY(fixture.set(kIdmA, {101, 102}, claimOnly(true)).written());
        QVERIFY(fixture.set(kIdmA, {102}, purposeOnly(QStringLiteral("研修（午後）"))).written());
        const QStringList changed{QStringLiteral("100 研修 0"), QStringLiteral("101 研修 1"),
                                  QStringLiteral("102 研修（午後） 1")};
        QCOMPARE(fixture.rows(kIdmA), changed);

        // 139 is stored for card A, not for card B; 140 is stored for neither.
        const NoteWriteOutcome unknown = fixture.set(kIdmA, {103, 140, 104}, claimOnly(true));
        QCOMPARE(unknown.result, NoteWriteResult::UnknownEntry);
        QCOMPARE(unknown.unknownSerial, 140u);
        QCOMPARE(fixture.set(kIdmB, {139}, claimOnly(true)).result, NoteWriteResult::UnknownEntry);
        QCOMPARE(fixture.set(QStringLiteral("FFFFFFFFFFFFFFFF"), {100}, claimOnly(true)).result,
                 NoteWriteResult::UnknownEntry);
        QCOMPARE(fixture.rows(kIdmA), changed);
        QCOMPARE(fixture.notes.noteCount(kIdmA), 3);

        // A note with neither purpose nor claim goes; blanks and controls alone are no purpose.
        QVERIFY(fixture.set(kIdmA, {100, 101}, purposeOnly(QStringLiteral(" \t"))).written());
        QCOMPARE(fixture.rows(kIdmA),
                 QStringList({QStringLiteral("101  1"), QStringLiteral("102 研修（午後） 1")}));
        QVERIFY(fixture.set(kIdmA, {101}, claimOnly(false)).written());
        QCOMPARE(fixture.notes.noteCount(kIdmA), 1);

        QCOMPARE(NoteStore(fixture.dir.filePath(QStringLiteral("none.sqlite")))
                     .setNotes(kIdmA, std::vector<std::uint32_t>{100}, claimOnly(true), 0)
                     .result,
                 NoteWriteResult::NoDatabase);
    }

    void foreignOrDamagedTableIsLeftAlone_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("other columns")
            << QStringLiteral("CREATE TABLE notes (idm TEXT, seq INTEGER, text TEXT)");
        QTest::newRow("a view") << QStringLiteral("CREATE VIEW notes AS SELECT 1 AS idm");
        QTest::newRow("columns in another order")
            << QStringLiteral("CREATE TABLE notes (seq INTEGER, idm TEXT, purpose TEXT, claim "
                              "INTEGER, updated INTEGER)");
    }

    void foreignOrDamagedTableIsLeftAlone()
    {
        QFETCH(QString, sql);
        NotesFixture fixture;
        {
            Database database =
                Database::open(fixture.path, Database::OpenMode::ExistingFile, 1000);
            database.execute(sql);
        }
        const QString before = tableDump(fixture.path, QStringLiteral("notes"));
        const LoadedNotes loaded = fixture.notes.notesOf(kIdmA);
        QVERIFY(!loaded.available);
        QVERIFY(loaded.notes.empty());
        QCOMPARE(fixture.set(kIdmA, {100}, claimOnly(true)).result, NoteWriteResult::TableUnusable);
        QCOMPARE(fixture.notes.noteCount(kIdmA), 0);
        QCOMPARE(tableDump(fixture.path, QStringLiteral("notes")), before);
        // Clearing the history leaves it alone too.
        Database database = Database::open(fixture.path, Database::OpenMode::ExistingFile, 1000);
        QCOMPARE(NoteStore::deleteNotes(database, kIdmA), 0);
        QVERIFY(database.tableExists(CardTableName(kIdmA)));
    }

    void lockedDatabaseIsReportedAfterTheBusyTime()
    {
        NotesFixture fixture;
        Database writer = Database::open(fixture.path, Database::OpenMode::ExistingFile, 1000);
        Transaction holding(writer);
        QElapsedTimer timer;
        timer.start();
        const NoteWriteOutcome outcome = fixture.set(kIdmA, {100}, claimOnly(true));
        QCOMPARE(outcome.result, NoteWriteResult::Locked);
        QVERIFY(!outcome.engineText.isEmpty());
        QVERIFY(timer.elapsed() >= 150);
        // Reading waits the same time and then goes on without notes.
        QVERIFY(fixture.notes.notesOf(kIdmA).notes.empty());
    }

    void readOnlyFileFails()
    {
        NotesFixture fixture;
        QVERIFY(fixture.set(kIdmA, {100}, claimOnly(true)).written());
        // The engine refuses to write a file opened read-only, whoever runs the test.
        Database database = Database::open(fixture.path, Database::OpenMode::ReadOnly, 1000);
        const NoteWriteOutcome outcome = NoteStore::setNotes(
            database, kIdmA, std::vector<std::uint32_t>{100}, purposeOnly(QStringLiteral("x")), 1);
        QCOMPARE(outcome.result, NoteWriteResult::Failed);
        QVERIFY(!outcome.engineText.isEmpty());
        QCOMPARE(NoteStore::notesOf(database, kIdmA).notes.at(100).purpose, QString());
    }

    void clearingTheHistoryDeletesTheCardsNotes()
    {
        NotesFixture fixture;
        QVERIFY(fixture.set(kIdmA, {100, 101, 102}, claimOnly(true)).written());
        QVERIFY(fixture.set(kIdmB, {100}, claimOnly(true)).written());
        qputenv("XDG_DATA_HOME", QFile::encodeName(fixture.dir.path()));
        HistoryStore store;
        NameCaches caches;
        store.OpenDatabaseAtStart(caches);
        // The store's own file in the data folder: the fixture's file moved there.
        QVERIFY(QFile::remove(store.databasePath()));
        QVERIFY(QFile::copy(fixture.path, store.databasePath()));
        NoteStore notes(store.databasePath());
        QCOMPARE(notes.noteCount(kIdmA), 3);
        QVERIFY(store.deleteCardTable(kIdmA));
        QCOMPARE(notes.noteCount(kIdmA), 0);
        QCOMPARE(notes.noteCount(kIdmB), 1);
        // A failed clearing keeps the notes: the table is gone already.
        QVERIFY(!test::errorTextOf([&] { store.deleteCardTable(kIdmA); }).isEmpty());
        QCOMPARE(notes.noteCount(kIdmB), 1);
    }
};

QTEST_GUILESS_MAIN(TestNoteStore)
#include "test_notestore.moc"
