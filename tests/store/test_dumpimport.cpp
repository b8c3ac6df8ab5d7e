// Card dumps stored as reads: the same blocks as a read of the card, the union with what is
// stored, the file's date, and the dumps that are refused.
#include "databasetesthelpers.h"
#include "store/cardlibrary.h"
#include "store/dumpimport.h"
#include "store/historystore.h"
#include "support/historyfixture.h"
#include "testfiles.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace ridelog;
using ridelog::test::fileBytes;
using ridelog::test::flipperNfcFile;
using ridelog::test::historyEntries;
using ridelog::test::newestFirst;
using ridelog::test::storedBlocks;
using ridelog::test::storedRowCount;

namespace {

const QString kIdm = QStringLiteral("0114A1B2C3D4E5F6");

// The store of a data folder of its own, opened as the window opens it.
struct Store
{
    QTemporaryDir dir;
    HistoryStore store;
    CardLibrary library;
    NameCaches caches;

    Store()
    {
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
        store.OpenDatabaseAtStart(caches);
        library.setDatabasePath(store.databasePath());
    }
    ~Store() { qunsetenv("XDG_DATA_HOME"); }

    // What a read of a card with these blocks stores.
    int read(const std::vector<HistoryBlock>& cardBlocks)
    {
        CardBlockSet blocks;
        store.LoadStoredBlocks(kIdm, blocks);
        HistoryStore::MergeCardBlocks(blocks, cardBlocks);
        return store.StoreNewBlocks(kIdm, blocks);
    }

    QString database() const { return store.databasePath(); }

    DumpImportResult import(const QString& path)
    {
        return importCardDumps({path}, database(), 1000).front();
    }

    QString file(const QString& name, const QByteArray& bytes) const
    {
        const QString path = dir.filePath(name);
        return test::writeFile(path, bytes) ? path : QString();
    }
};

} // namespace

class TestDumpImport : public QObject
{
    Q_OBJECT

private slots:
    void everyKindStoresWhatAReadOfTheCardStores()
    {
        // Twenty slots: fifteen used, five empty, as on a fairly new card.
        auto card = newestFirst(historyEntries(300, 15));
        card.resize(20);
        Store reader;
        QCOMPARE(reader.read(card), 15);

        QByteArray cardFile = "idm " + kIdm.toLatin1() + '\n';
        for (std::size_t i = 0; i < card.size(); ++i)
            cardFile += "block " + QByteArray::number(int(i)) + ' ' +
                        test::blockHex(card[i], "").toLatin1() + '\n';
        const auto ascending = historyEntries(300, 15);
        const std::vector<std::pair<QString, QByteArray>> files{
            {QStringLiteral("commuter.card"), cardFile},
            {QStringLiteral("commuter.nfc"), flipperNfcFile(kIdm, card)},
            {QStringLiteral("commuter.blocks"),
             card::cardBlockListText(kIdm, ascending, QDateTime())},
        };
        for (const auto& [name, bytes] : files) {
            Store importer;
            const QString path = importer.file(name, bytes);
            const DumpImportResult result = importer.import(path);
            QVERIFY2(result.stored, qPrintable(name + QStringLiteral(": ") + result.reason));
            QCOMPARE(result.idmText, kIdm);
            QCOMPARE(result.added, 15);
            QCOMPARE(storedBlocks(importer.database(), kIdm),
                     storedBlocks(reader.database(), kIdm));
            QCOMPARE(fileBytes(path), bytes);
            // Once more: nothing new, nothing stored twice.
            QCOMPARE(importer.import(path).added, 0);
            QCOMPARE(storedRowCount(importer.database(), kIdm), qint64(15));
        }
    }

    void aDumpJoinsTheStoredHistoryAndAStoredBlockWins()
    {
        Store store;
        const auto stored = historyEntries(1, 30);
        QCOMPARE(store.read(newestFirst(stored)), 30);
        auto later = historyEntries(11, 30); // serials 11 to 40
        later[14][10] ^= 0x01;               // serial 25 with another balance
        const QString path =
            store.file(QStringLiteral("later.nfc"), flipperNfcFile(kIdm, newestFirst(later)));
        const DumpImportResult result = store.import(path);
        QVERIFY(result.stored);
        QCOMPARE(result.added, 10);
        const auto blocks = storedBlocks(store.database(), kIdm);
        QCOMPARE(blocks.size(), std::size_t(40));
        QCOMPARE(blocks.at(25), stored[24]);
    }

    void manyDumpsAtOnceAreReadsInTheirOrder()
    {
        Store store;
        const QDateTime later(QDate(2024, 3, 1), QTime(8, 0), Qt::UTC);
        const QDateTime earlier(QDate(2023, 9, 1), QTime(8, 0), Qt::UTC);
        const QString first =
            store.file(QStringLiteral("march.blocks"),
                       card::cardBlockListText(kIdm, historyEntries(50, 20), later));
        const QString second =
            store.file(QStringLiteral("september.blocks"),
                       card::cardBlockListText(kIdm, historyEntries(35, 20), earlier));
        const QString broken =
            store.file(QStringLiteral("broken.nfc"), "Filetype: Flipper NFC device\n");
        const auto results = importCardDumps({first, broken, second}, store.database(), 1000);
        QCOMPARE(results.size(), std::size_t(3));
        QCOMPARE(results[0].added, 20);
        QVERIFY(!results[1].stored);
        QCOMPARE(results[2].added, 15); // serials 35 to 49; 50 to 54 came with the first file
        QCOMPARE(storedBlocks(store.database(), kIdm).size(), std::size_t(35));
        // An older dump does not move the last read back.
        const auto card = store.library.card(kIdm);
        QCOMPARE(card->firstRead, earlier);
        QCOMPARE(card->lastRead, later);
    }

    void refusedDumpsStoreNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("damaged"); // our history
        const auto blocks = newestFirst(historyEntries(1, 20));
        QTest::newRow("another system") << flipperNfcFile(kIdm, blocks, {QStringLiteral("FE00")})
                                        << QStringLiteral("0x0003") << false;
        QTest::newRow("no history service") << flipperNfcFile(kIdm, blocks).replace("090F", "050F")
                                            << QStringLiteral("090F") << false;
        QTest::newRow("cut short")
            << flipperNfcFile(kIdm, blocks).left(1200) << QStringLiteral("line") << false;
        QTest::newRow("only empty slots") << flipperNfcFile(kIdm, std::vector<HistoryBlock>(20))
                                          << QStringLiteral("no history") << false;
        QTest::newRow("garbage") << QByteArray("\x89PNG\r\n\x1a\n", 8) << QStringLiteral("line 1")
                                 << false;
        QTest::newRow("our history damaged")
            << flipperNfcFile(kIdm, newestFirst(historyEntries(15, 20)))
            << QStringLiteral("damaged") << true;
    }

    void refusedDumpsStoreNothing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        QFETCH(bool, damaged);
        Store store;
        if (damaged) {
            QCOMPARE(store.read(newestFirst(historyEntries(1, 20))), 20);
            test::HistoryFileWriter(store.database())
                .card(QStringLiteral("0101010012345678"), historyEntries(1, 4000));
            QVERIFY(test::damageFileMiddle(store.database(), 8192, '\x44'));
        }
        const QByteArray before = fileBytes(store.database());
        const QString path = store.file(QStringLiteral("dump.nfc"), bytes);
        const DumpImportResult result = store.import(path);
        QVERIFY(!result.stored);
        QVERIFY2(result.reason.contains(reason), qPrintable(result.reason));
        QCOMPARE(fileBytes(store.database()), before);
        QCOMPARE(fileBytes(path), bytes);
    }
};

QTEST_GUILESS_MAIN(TestDumpImport)
#include "test_dumpimport.moc"
