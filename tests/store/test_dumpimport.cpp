// Card dumps stored as reads: the same blocks as a read of the card, the union with what is
// stored, the file's date, and the dumps that are refused.
#include "store/cardlibrary.h"
#include "store/dumpimport.h"
#include "store/historystore.h"
#include "support/historyfixture.h"
#include "testfiles.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace ridelog;
using ridelog::test::flipperNfcFile;
using ridelog::test::historyEntries;
using ridelog::test::storedBlocks;
using ridelog::test::storedRowCount;

namespace {

const QString kIdm = QStringLiteral("0114A1B2C3D4E5F6");

std::vector<HistoryBlock> newestFirst(std::vector<HistoryBlock> blocks)
{
    std::reverse(blocks.begin(), blocks.end());
    return blocks;
}

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
        library.setDatabasePath(store.DatabasePath());
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
                        test::hexOf(card[i], "").toLatin1() + '\n';
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
            const DumpImportResult result = importCardDump(path, importer.store, importer.library);
            QVERIFY2(result.stored, qPrintable(name + QStringLiteral(": ") + result.reason));
            QCOMPARE(result.idmText, kIdm);
            QCOMPARE(result.added, 15);
            QCOMPARE(storedBlocks(importer.store.DatabasePath(), kIdm),
                     storedBlocks(reader.store.DatabasePath(), kIdm));
            QCOMPARE(test::fileBytes(path), bytes);
            // Once more: nothing new, nothing stored twice.
            QCOMPARE(importCardDump(path, importer.store, importer.library).added, 0);
            QCOMPARE(storedRowCount(importer.store.DatabasePath(), kIdm), qint64(15));
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
        const DumpImportResult result = importCardDump(path, store.store, store.library);
        QVERIFY(result.stored);
        QCOMPARE(result.added, 10);
        const auto blocks = storedBlocks(store.store.DatabasePath(), kIdm);
        QCOMPARE(blocks.size(), std::size_t(40));
        QCOMPARE(blocks.at(25), stored[24]);
    }

    void theReadIsDatedByTheFile()
    {
        Store store;
        const QDateTime readAt(QDate(2023, 11, 3), QTime(8, 15), Qt::UTC);
        const QString path =
            store.file(QStringLiteral("old.blocks"),
                       card::cardBlockListText(kIdm, historyEntries(1, 5), readAt));
        QVERIFY(importCardDump(path, store.store, store.library).stored);
        const auto card = store.library.card(kIdm);
        QVERIFY(card);
        QCOMPARE(card->firstRead, readAt);
        QCOMPARE(card->lastRead, readAt);
    }

    void refusedDumpsStoreNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const auto blocks = newestFirst(historyEntries(1, 20));
        QTest::newRow("another system")
            << flipperNfcFile(kIdm, blocks, {QStringLiteral("FE00")}) << QStringLiteral("0x0003");
        QTest::newRow("no history service")
            << flipperNfcFile(kIdm, blocks).replace("090F", "050F") << QStringLiteral("090F");
        QTest::newRow("cut short")
            << flipperNfcFile(kIdm, blocks).left(1200) << QStringLiteral("line");
        QTest::newRow("only empty slots")
            << flipperNfcFile(kIdm, std::vector<HistoryBlock>(20)) << QStringLiteral("no history");
        QTest::newRow("garbage") << QByteArray("\x89PNG\r\n\x1a\n", 8) << QStringLiteral("line 1");
    }

    void refusedDumpsStoreNothing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        Store store;
        const QString path = store.file(QStringLiteral("dump.nfc"), bytes);
        const DumpImportResult result = importCardDump(path, store.store, store.library);
        QVERIFY(!result.stored);
        QVERIFY2(result.reason.contains(reason), qPrintable(result.reason));
        QCOMPARE(storedRowCount(store.store.DatabasePath(), kIdm), qint64(0));
        QVERIFY(!store.library.card(kIdm));
        QCOMPARE(test::fileBytes(path), bytes);
    }
};

QTEST_GUILESS_MAIN(TestDumpImport)
#include "test_dumpimport.moc"
