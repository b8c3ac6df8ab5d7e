// The card library in ekdb.sqlite and the signs of missed history.
#include "databasetesthelpers.h"
#include "store/cardlibrary.h"
#include "store/database.h"
#include "store/historystore.h"
#include "store/missedhistory.h"
#include "store/schema.h"
#include "support/cardblocks.h"
#include "support/damageddatabase.h"
#include "support/storedcard.h"
#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace ridelog;
using ridelog::test::fileBytes;
using ridelog::test::makeBlock;
using ridelog::test::railBlock;

Q_DECLARE_METATYPE(std::optional<ridelog::card::CardKind>)

namespace {

const QString kIdmA = QStringLiteral("0102030405060708");
const QString kIdmB = QStringLiteral("A1B2C3D4E5F60718");

HistoryBlock datedBlock(std::uint32_t serial, int year, int month, int day)
{
    return makeBlock({.year = year, .month = month, .day = day, .balance = 1000, .serial = serial});
}

struct LibraryFixture
{
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("ekdb.sqlite"));

    Database open() { return Database::open(path, Database::OpenMode::CreateIfMissing, 1000); }

    void storeBlocks(const QString& idm, const QList<HistoryBlock>& blocks)
    {
        test::storeCardBlocks(path, idm, blocks);
    }
};

} // namespace

class TestCardLibrary : public QObject
{
    Q_OBJECT

private slots:
    void listsCardsFromHistoryTablesAndKeepsTheFirstRead()
    {
        LibraryFixture f;
        // Table order is not serial order, and one serial stored twice counts once.
        f.storeBlocks(kIdmA, {datedBlock(7, 2024, 3, 5), datedBlock(3, 2023, 12, 1),
                              datedBlock(5, 2024, 1, 9), datedBlock(7, 2024, 3, 5)});
        f.storeBlocks(kIdmB, {datedBlock(0x010203, 2020, 2, 29)});
        {
            Database database = f.open();
            database.createTable(QStringLiteral("2XYZ"), cardTableColumns()); // not a card's name
            HistoryStore::EnsureNameTable(database, NameTable::Stations);
        }
        CardLibrary library(f.path);
        const auto cards = library.cards();
        QCOMPARE(cards.size(), std::size_t(2));
        QCOMPARE(cards[0].idmText, kIdmA);
        QCOMPARE(cards[0].entryCount, 3);
        QCOMPARE(cards[0].newestEntryDate, QDate(2024, 3, 5));
        QCOMPARE(cards[0].shownName(), kIdmA);
        QCOMPARE(cards[1].idmText, kIdmB);
        QCOMPARE(cards[1].newestEntryDate, QDate(2020, 2, 29));

        // The first read makes the cards table; a later one keeps the first.
        const QDateTime first = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
        const QDateTime later = first.addDays(3);
        QVERIFY(library.noteCardRead(kIdmA, first));
        QVERIFY(library.noteCardRead(kIdmA, later));
        const auto card = library.card(kIdmA);
        QVERIFY(card);
        QCOMPARE(card->firstRead, first);
        QCOMPARE(card->lastRead, later);
        Database database = f.open();
        QCOMPARE(CardLibrary::cardsTableState(database), CardsTableState::Usable);
        QCOMPARE(test::queryTexts(database, QStringLiteral("SELECT COUNT(*) FROM cards")),
                 QStringList{QStringLiteral("1")});
    }

    void olderFileStartsWithoutCardsTable()
    {
        QTemporaryDir dir;
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        HistoryStore store;
        NameCaches caches;
        store.OpenDatabaseAtStart(caches);
        QCOMPARE(store.state(), DatabaseState::Closed);
        Database database =
            Database::open(store.databasePath(), Database::OpenMode::ExistingFile, 1000);
        QCOMPARE(CardLibrary::cardsTableState(database), CardsTableState::Missing);
        QVERIFY(CardLibrary(store.databasePath()).cards().empty());
    }

    void cardsTableThatCannotBeWrittenIsLeftAlone_data()
    {
        QTest::addColumn<QString>("definition");
        QTest::newRow("other columns")
            << QStringLiteral("CREATE TABLE cards (idm TEXT, name TEXT)");
        QTest::newRow("columns in another order")
            << QStringLiteral("CREATE TABLE cards (nickname TEXT, idm TEXT, firstRead INTEGER, "
                              "lastRead INTEGER)");
        QTest::newRow("a view") << QStringLiteral("CREATE VIEW cards AS SELECT 1 AS idm, 2 AS x");
        QTest::newRow("its page damaged") << QStringLiteral("damaged");
        QTest::newRow("no database file") << QString();
    }

    void cardsTableThatCannotBeWrittenIsLeftAlone()
    {
        QFETCH(QString, definition);
        LibraryFixture f;
        CardLibrary library(f.path);
        if (!definition.isEmpty())
            f.storeBlocks(kIdmA, {railBlock(1, 500), railBlock(2, 300)});
        if (definition == u"damaged") {
            QVERIFY(library.renameCard(kIdmA, QStringLiteral("通勤")));
            QVERIFY(test::damageTableRootPage(f.path, QStringLiteral("cards")));
        } else if (!definition.isEmpty()) {
            Database database = f.open();
            database.execute(definition);
            if (definition.contains(QStringLiteral("TABLE")))
                database.execute(
                    QStringLiteral("INSERT INTO cards (idm) VALUES ('%1')").arg(kIdmA));
        }
        const QByteArray before = fileBytes(f.path);
        QVERIFY(!library.noteCardRead(kIdmA, QDateTime::currentDateTimeUtc()));
        QVERIFY(!library.renameCard(kIdmA, QStringLiteral("別名")));
        const auto cards = library.cards();
        QCOMPARE(cards.size(), std::size_t(definition.isEmpty() ? 0 : 1));
        if (!definition.isEmpty()) {
            QCOMPARE(cards[0].entryCount, 2);
            QCOMPARE(cards[0].shownName(), kIdmA); // a nickname in a damaged page is not read
        }
        QCOMPARE(fileBytes(f.path), before);
        QCOMPARE(QFile::exists(f.path), !definition.isEmpty());
        QVERIFY(CardLibrary().cards().empty()); // no data folder at all
    }

    void nicknameRoundTrip_data()
    {
        QTest::addColumn<QString>("nickname");
        QTest::addColumn<QString>("shown");
        QTest::newRow("quotes and comma")
            << QStringLiteral("\"仕事\", 'Suica'") << QStringLiteral("\"仕事\", 'Suica'");
        QTest::newRow("outside code page 932")
            << QStringLiteral("𠮷野家😀 한국") << QStringLiteral("𠮷野家😀 한국");
        QTest::newRow("semicolon and SQL") << QStringLiteral("a'); DROP TABLE cards;--")
                                           << QStringLiteral("a'); DROP TABLE cards;--");
        QTest::newRow("empty restores the IDm") << QString() << kIdmA;
        QTest::newRow("blank restores the IDm") << QStringLiteral("  \t") << kIdmA;
    }

    void nicknameRoundTrip()
    {
        QFETCH(QString, nickname);
        QFETCH(QString, shown);
        LibraryFixture f;
        f.storeBlocks(kIdmA, {railBlock(1, 500)});
        CardLibrary library(f.path);
        QVERIFY(library.renameCard(kIdmA, QStringLiteral("前の名前")));
        QVERIFY(library.renameCard(kIdmA, nickname));
        QCOMPARE(library.card(kIdmA)->shownName(), shown);
        // A later read keeps the name.
        QVERIFY(library.noteCardRead(kIdmA, QDateTime::currentDateTimeUtc()));
        QCOMPARE(library.card(kIdmA)->shownName(), shown);
    }

    void kindOfCardIsKept_data()
    {
        using card::CardKind;
        QTest::addColumn<QList<CardKind>>("told");
        QTest::addColumn<std::optional<CardKind>>("kept");
        QTest::newRow("never told") << QList<CardKind>{} << std::optional<CardKind>();
        QTest::newRow("Suica") << QList<CardKind>{CardKind::Suica}
                               << std::optional<CardKind>(CardKind::Suica);
        QTest::newRow("unknown") << QList<CardKind>{CardKind::Unknown}
                                 << std::optional<CardKind>(CardKind::Unknown);
        QTest::newRow("unknown does not replace PASMO")
            << QList<CardKind>{CardKind::Pasmo, CardKind::Unknown}
            << std::optional<CardKind>(CardKind::Pasmo);
        QTest::newRow("a kind replaces unknown")
            << QList<CardKind>{CardKind::Unknown, CardKind::Icoca}
            << std::optional<CardKind>(CardKind::Icoca);
    }

    void kindOfCardIsKept()
    {
        QFETCH(QList<card::CardKind>, told);
        LibraryFixture fixture;
        fixture.storeBlocks(kIdmA, {datedBlock(1, 2026, 12, 1)});
        fixture.storeBlocks(kIdmB, {datedBlock(1, 2026, 12, 2)});
        CardLibrary library(fixture.path);
        const QDateTime when = QDateTime::fromSecsSinceEpoch(1796000000, Qt::UTC);
        for (const card::CardKind kind : told)
            QVERIFY(library.noteCardKind(kIdmA, kind, when));
        QTEST(library.card(kIdmA)->kind, "kept");
        QCOMPARE(library.card(kIdmB)->kind, std::nullopt);
        Database database = fixture.open();
        QCOMPARE(database.tableExists(CardLibrary::cardKindTableName()), !told.isEmpty());
    }

    void missedHistory_data()
    {
        QTest::addColumn<QList<int>>("stored");
        QTest::addColumn<QList<int>>("fresh"); // serials; 0 stands for an empty slot
        QTest::addColumn<int>("oldestFresh");  // -1: no missed history

        QList<int> twentyNew;
        for (int serial = 140; serial > 100; serial -= 2)
            twentyNew << serial; // serials jump by two: no sign of a gap by itself
        QTest::newRow("full card, nothing stored") << QList<int>{1, 2, 3} << twentyNew << 102;
        QTest::newRow("no stored history") << QList<int>{} << twentyNew << -1;
        QList<int> overlapping = twentyNew;
        overlapping.last() = 3;
        QTest::newRow("reaches the stored history") << QList<int>{1, 2, 3} << overlapping << -1;
        QList<int> nineteen = twentyNew.mid(0, 19) << 0;
        QTest::newRow("an empty slot: not full") << QList<int>{1, 2, 3} << nineteen << -1;
        QList<int> jumps;
        for (int serial = 50; serial > 10; serial -= 2)
            jumps << serial;
        jumps.last() = 9;
        QTest::newRow("serial jumps with overlap") << QList<int>{1, 5, 9} << jumps << -1;
    }

    void missedHistory()
    {
        QFETCH(QList<int>, stored);
        QFETCH(QList<int>, fresh);
        QFETCH(int, oldestFresh);
        CardBlockSet blocks;
        for (int serial : stored)
            blocks.insert(railBlock(std::uint32_t(serial), 100), BlockOrigin::CardTable);
        std::vector<HistoryBlock> read;
        for (int serial : fresh)
            read.push_back(serial == 0 ? HistoryBlock{} : railBlock(std::uint32_t(serial), 100));
        const auto missed = findMissedHistory(blocks, read);
        QCOMPARE(missed ? int(missed->oldestFreshSerial) : -1, oldestFresh);
    }

    void rowsNewestFirstPlaceTheMarker()
    {
        NameCaches caches;
        HistoryRecordSet records;
        for (std::uint32_t serial : {1u, 2u, 30u, 31u})
            records.insert(decodeHistoryBlock(railBlock(serial, 100), caches.stations,
                                              caches.busStops, caches.shops));
        const auto rows = historyRowsNewestFirst(records, MissedHistory{30});
        QCOMPARE(rows.size(), std::size_t(5));
        QCOMPARE(rows[0].record->serial, 31u);
        QCOMPARE(rows[1].record->serial, 30u);
        QVERIFY(rows[2].isMissedHistoryMarker());
        QCOMPARE(rows[3].record->serial, 2u);
        QCOMPARE(historyRowsNewestFirst(records, std::nullopt).size(), std::size_t(4));
    }
};

QTEST_GUILESS_MAIN(TestCardLibrary)
#include "test_cardlibrary.moc"
