// Card dumps: the three file kinds, what is refused and why, and the block list round trip.
#include "card/carddump.h"
#include "support/historyfixture.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace ridelog;
using namespace ridelog::card;
using ridelog::test::flipperNfcFile;
using ridelog::test::historyEntries;
using ridelog::test::newestFirst;

namespace {

const QString kIdm = QStringLiteral("0114A1B2C3D4E5F6");

QByteArray replaced(QByteArray text, const QByteArray& from, const QByteArray& to)
{
    return text.replace(from, to);
}

} // namespace

class TestCardDump : public QObject
{
    Q_OBJECT

private slots:
    void flipperFileGivesTheHistoryServiceNewestFirst()
    {
        const auto blocks = newestFirst(historyEntries(0x0102, 20));
        const CardDumpResult result = parseCardDump(flipperNfcFile(kIdm, blocks));
        QVERIFY2(result.dump, qPrintable(result.error));
        QCOMPARE(result.dump->kind, CardDumpKind::FlipperNfc);
        QCOMPARE(result.dump->idmText, kIdm);
        // The attribute block of service 008B is not history.
        QCOMPARE(result.dump->blocks, blocks);
        QVERIFY(!result.dump->readAt.isValid());
    }

    void refusedFlipperFiles_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("reason");
        const QByteArray good = flipperNfcFile(kIdm, newestFirst(historyEntries(40, 20)));
        QTest::newRow("cut short in a block line")
            << good.left(good.size() - 30) << QStringLiteral("block");
        QTest::newRow("cut short between lines")
            << good.left(good.lastIndexOf("Block 0019")) << QStringLiteral("cut short: 19 of 21");
        QTest::newRow("a block of 15 bytes")
            << replaced(good, " 00 |\nBlock 0003", " |\nBlock 0003") << QStringLiteral("15 bytes");
        QTest::newRow("a block of 17 bytes")
            << replaced(good, " 00 |\nBlock 0003", " 00 00 |\nBlock 0003")
            << QStringLiteral("17 bytes");
        QTest::newRow("another system")
            << flipperNfcFile(kIdm, newestFirst(historyEntries(40, 3)), {QStringLiteral("88B4")})
            << QStringLiteral("0x88B4, not the transit system 0x0003");
        QTest::newRow("no history service") << replaced(replaced(good, "Code 090F", "Code 1A8B"),
                                                        "Service code 090F", "Service code 1A8B")
                                            << QStringLiteral("no history service 090F");
        QTest::newRow("FeliCa Lite")
            << replaced(good, "IC Type: FeliCa Standard", "IC Type: FeliCa Lite-S")
            << QStringLiteral("FeliCa Lite-S card");
        QTest::newRow("FeliCa Lite, first data format")
            << replaced(good, "Data format version: 2", "Data format version: 1")
            << QStringLiteral("FeliCa Lite dump");
        QTest::newRow("not FeliCa")
            << replaced(good, "Device type: FeliCa", "Device type: Mifare Classic")
            << QStringLiteral("Mifare Classic card");
        QTest::newRow("a bad hex digit")
            << replaced(good, "Data: 16", "Data: 1G") << QStringLiteral("not hex");
        QTest::newRow("no IDm") << replaced(replaced(good, "Manufacture id", "# id"),
                                            "UID:", "# UID")
                                << QStringLiteral("no IDm");
        QTest::newRow("a Flipper file of another device")
            << QByteArray("Filetype: Flipper RFID key\nVersion: 1\n")
            << QStringLiteral("not of an NFC device");
    }

    void refusedFlipperFiles()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, reason);
        const CardDumpResult result = parseCardDump(text);
        QVERIFY(!result.dump);
        QVERIFY2(result.error.contains(reason), qPrintable(result.error));
    }

    void blockListsRoundTripEveryByte()
    {
        const auto blocks = historyEntries(0xFFFD00, 768); // serials up to the 24-bit limit
        const QDateTime readAt(QDate(2024, 5, 1), QTime(0, 30), Qt::UTC);
        const QByteArray text = cardBlockListText(kIdm, blocks, readAt);
        const CardDumpResult result = parseCardDump(text);
        QVERIFY2(result.dump, qPrintable(result.error));
        QCOMPARE(result.dump->kind, CardDumpKind::BlockList);
        QCOMPARE(result.dump->idmText, kIdm);
        QCOMPARE(result.dump->readAt, readAt);
        QCOMPARE(result.dump->blocks, newestFirst(blocks));
        // Written again, the same bytes.
        QCOMPARE(cardBlockListText(kIdm, newestFirst(result.dump->blocks), readAt), text);
        // CR LF line ends read the same.
        QCOMPARE(parseCardDump(QByteArray(text).replace("\n", "\r\n")).dump->blocks,
                 result.dump->blocks);
    }

    void refusedBlockLists_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("line");
        const QByteArray head = "# Ridelog card blocks 1\nidm\t0114A1B2C3D4E5F6\n";
        QTest::newRow("serial does not match")
            << head + "block\t7\tC746000018D93D802928FC0800000600\n"
            << 3;
        QTest::newRow("short block") << head + "block\t6\tC746000018D93D80\n" << 3;
        QTest::newRow("serial twice") << head + "block\t6\tC746000018D93D802928FC0800000600\n"
                                                "block\t6\tC746000018D93D802928FC0800000600\n"
                                      << 4;
        QTest::newRow("unknown line") << head + "blocks\t6\n" << 3;
        QTest::newRow("bad time") << head + "read\tyesterday\n" << 3;
        QTest::newRow("no idm") << QByteArray("# Ridelog card blocks 1\n") << 0;
    }

    void refusedBlockLists()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, line);
        const CardDumpResult result = parseCardDump(text);
        QVERIFY(!result.dump);
        QVERIFY(!result.error.isEmpty());
        QCOMPARE(result.errorLine, line);
    }

    void filesAreOnlyReadAndHugeOnesRefusedUnread()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("card.nfc"));
        const QByteArray text = flipperNfcFile(kIdm, newestFirst(historyEntries(9, 20)));
        QVERIFY(test::writeFile(path, text));
        const QDateTime modified = QFileInfo(path).lastModified();
        const CardDumpResult result = readCardDump(path);
        QVERIFY(result.dump);
        // A file without a time of its own is dated by its modification time.
        QCOMPARE(result.dump->readAt.toSecsSinceEpoch(), modified.toSecsSinceEpoch());
        QCOMPARE(test::fileBytes(path), text);

        // A 1 GB file (sparse: it takes no disk space) is refused by its size alone.
        const QString huge = dir.filePath(QStringLiteral("huge.nfc"));
        QFile file(huge);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(1) << 30));
        file.close();
        QElapsedTimer timer;
        timer.start();
        const CardDumpResult refused = readCardDump(huge);
        QVERIFY(timer.elapsed() < 1000);
        QVERIFY(!refused.dump);
        QVERIFY2(refused.error.contains(QStringLiteral("too large")), qPrintable(refused.error));
        QVERIFY(!readCardDump(dir.filePath(QStringLiteral("missing.nfc"))).dump);
        QVERIFY(!readCardDump(dir.path()).dump);
    }
};

QTEST_GUILESS_MAIN(TestCardDump)
#include "test_carddump.moc"
