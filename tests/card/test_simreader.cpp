// The simulated reader as a backend: the reader library reading card files from its folder,
// the fault knobs, placements, and opening and closing.
#include "card/history.h"
#include "card/readerfactory.h"
#include "card/simulatedreader.h"
#include "simulatedcardfixture.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

using namespace ridelog;
using namespace ridelog::card;
using namespace ridelog::card::testing;

Q_DECLARE_METATYPE(std::optional<ridelog::card::CardKind>)

class TestSimReader : public QObject
{
    Q_OBJECT

private slots:
    void sampleCardReadsWhole();
    void refusedExtrasLeaveTheHistoryAlone_data();
    void refusedExtrasLeaveTheHistoryAlone();
    void smallChunksStillReadFully_data();
    void smallChunksStillReadFully();
    void failAfterMidReadThenNextPlacementReads();
    void malformedCardFailsTheReadWithWarning();
    void onlyCardFilesAreCards();
    void factoryReaderOptions_data();
    void factoryReaderOptions();
    void openReaderResults_data();
    void openReaderResults();
    void unopenedBackendFailsCleanly();
};

void TestSimReader::sampleCardReadsWhole()
{
    // The history in three commands (polling and two chunks), then two more for the gate log
    // and the kind of card.
    SimulatedSetup setup;
    QVERIFY(setup.open());
    QVERIFY(QFile::copy(QStringLiteral(RIDELOG_SAMPLE_CARDS_DIR "/commuter.card"),
                        setup.dir.filePath(QStringLiteral("commuter.card"))));
    const CardReadResult card = setup.read();
    QVERIFY2(card.ok, qPrintable(setup.library.lastError()));
    QCOMPARE(setup.library.commandsOfLastRead(), 3);
    QCOMPARE(card.idmText, QStringLiteral("012E44A0B1C2D3E4"));
    QCOMPARE(setup.context.cardIdBuffer, card.idm);
    QCOMPARE(card.pmm, felica::kDefaultPmm);
    QCOMPARE(card.blockCount, 20);
    QCOMPARE(card.blocks.size(), std::size_t(20));
    QCOMPARE(blockBalance(card.blocks[0]), 3882);
    QCOMPARE(blockSerial(card.blocks[6]), 0x1A0u);

    QCOMPARE(setup.library.commandsAfterLastRead(), 2);
    QVERIFY(card.gateLogRead);
    QCOMPARE(card.gateLog.size(), std::size_t(3));
    QCOMPARE(card.gateLog[0][0], std::uint8_t(0x20));
    QCOMPARE(card.gateLog[1][9], std::uint8_t(0x27));
    QCOMPARE(card.kind, std::optional<CardKind>(CardKind::Suica));
}

void TestSimReader::refusedExtrasLeaveTheHistoryAlone_data()
{
    QTest::addColumn<QByteArray>("knobs");
    QTest::addColumn<bool>("gateLogRead");
    QTest::addColumn<std::optional<CardKind>>("kind");

    QTest::newRow("a card without a gate log")
        << QByteArray() << false << std::optional<CardKind>(CardKind::Unknown);
    QTest::newRow("gone after the history")
        << QByteArray("service 108F\nfail-after 3\n") << false << std::optional<CardKind>();
    QTest::newRow("gone after the gate log")
        << QByteArray("service 108F\nfail-after 4\n") << true << std::optional<CardKind>();
    QTest::newRow("a PASMO without a gate log")
        << QByteArray("service 1CC8\nservice 1D08\n") << false
        << std::optional<CardKind>(CardKind::Pasmo);
}

void TestSimReader::refusedExtrasLeaveTheHistoryAlone()
{
    QFETCH(QByteArray, knobs);
    SimulatedSetup setup;
    QVERIFY(setup.open());
    QVERIFY(setup.place(QStringLiteral("a.card"), kSmallCard));
    const CardReadResult plain = setup.read();
    QVERIFY(plain.ok);
    QVERIFY(setup.remove(QStringLiteral("a.card")));
    QVERIFY(!setup.read().ok);

    QVERIFY(setup.place(QStringLiteral("a.card"), kSmallCard + knobs));
    const CardReadResult card = setup.read();
    QVERIFY2(card.ok, qPrintable(setup.library.lastError()));
    QCOMPARE(card.blocks, plain.blocks);
    QCOMPARE(card.idmText, plain.idmText);
    QCOMPARE(setup.library.commandsOfLastRead(), 3);
    QVERIFY(setup.library.commandsAfterLastRead() <= 2);
    QTEST(card.gateLogRead, "gateLogRead");
    QTEST(card.kind, "kind");
    if (!card.gateLogRead)
        QVERIFY(card.gateLog.empty());
}

void TestSimReader::smallChunksStillReadFully_data()
{
    QTest::addColumn<QByteArray>("knobs");
    QTest::addColumn<int>("commands");
    QTest::newRow("15 blocks a read") << QByteArray() << 3; // polling, 15, 5
    // polling, 12 refused, 3 x 4, 8 refused, 2 x 4
    QTest::newRow("4 blocks a read") << QByteArray("max-blocks-per-read 4\n") << 8;
    // Single blocks only: every chunk falls back twice.
    QTest::newRow("1 block a read")
        << QByteArray("max-blocks-per-read 1\n") << 1 + 1 + 3 + 12 + 1 + 2 + 8;
}

void TestSimReader::smallChunksStillReadFully()
{
    QFETCH(QByteArray, knobs);
    SimulatedSetup setup;
    QVERIFY(setup.open());
    QVERIFY(setup.place(QStringLiteral("a.card"), kSmallCard + knobs));
    const CardReadResult card = setup.read();
    QVERIFY2(card.ok, qPrintable(setup.library.lastError()));
    QCOMPARE(card.blockCount, 20);
    QCOMPARE(card.blocks[0][0], std::uint8_t(0xC7));
    QCOMPARE(card.blocks[1][5], std::uint8_t(0xD8));
    // The blocks the file leaves out read as zero.
    for (std::size_t i = 2; i < 20; ++i)
        QCOMPARE(card.blocks[i], HistoryBlock{});
    QTEST(setup.library.commandsOfLastRead(), "commands");
}

void TestSimReader::failAfterMidReadThenNextPlacementReads()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    // Polling and the first chunk are answered, then the card is gone from the field.
    QVERIFY(setup.place(QStringLiteral("a.card"), kSmallCard + "fail-after 2\n"));
    const CardReadResult failed = setup.read();
    QVERIFY(!failed.ok);
    QVERIFY(failed.idmText.isEmpty());
    QVERIFY(failed.blocks.empty());
    // Still the same placement: the card stays silent.
    QVERIFY(!setup.read().ok);
    QCOMPARE(setup.library.commandsOfLastRead(), 1);

    // Taken off and put back: it answers two commands again, so another knob value reads.
    QVERIFY(setup.remove(QStringLiteral("a.card")));
    QVERIFY(!setup.read().ok);
    QVERIFY(setup.place(QStringLiteral("a.card"), kSmallCard + "fail-after 3\n"));
    const CardReadResult card = setup.read();
    QVERIFY2(card.ok, qPrintable(setup.library.lastError()));
    QCOMPARE(card.blocks[0][0], std::uint8_t(0xC7));
}

void TestSimReader::malformedCardFailsTheReadWithWarning()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    QVERIFY(setup.place(QStringLiteral("bad.card"),
                        "idm 0102030405060708\nblock 0 C746000018D93D802928FC08000022ZZ\n"));
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("bad\\.card:2: bad hex digit")));
    QVERIFY(!setup.read().ok);
    // Warned once per placement, not once per command.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    QVERIFY(!setup.read().ok);
}

void TestSimReader::onlyCardFilesAreCards()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    // An empty folder: no card, found with the polling alone.
    QVERIFY(!setup.read().ok);
    QVERIFY(!setup.library.lastError().isEmpty());
    QCOMPARE(setup.library.commandsOfLastRead(), 1);

    // Hidden, temporary and backup files, another case, a folder and a link are no cards.
    QVERIFY(setup.place(QStringLiteral(".hidden.card"), kSmallCard));
    QVERIFY(setup.place(QStringLiteral("a.card.tmp"), kSmallCard));
    QVERIFY(setup.place(QStringLiteral("a.card~"), kSmallCard));
    QVERIFY(setup.place(QStringLiteral("a.CARD"), kSmallCard));
    QVERIFY(QDir(setup.dir.path()).mkdir(QStringLiteral("0.card")));
    QVERIFY(QFile::link(QStringLiteral(RIDELOG_SAMPLE_CARDS_DIR "/commuter.card"),
                        setup.dir.filePath(QStringLiteral("1.card"))));
    QVERIFY(!setup.read().ok);

    // Of several cards, the first in name order is on the reader.
    QVERIFY(setup.place(QStringLiteral("z.card"), kSmallCard));
    QCOMPARE(setup.read().idmText, QStringLiteral("0102030405060708"));
    QVERIFY(setup.place(QStringLiteral("b.card"), "idm 0000000000000002\n"));
    QVERIFY(setup.place(QStringLiteral("a.card"), "idm 0000000000000001\n"));
    QCOMPARE(setup.read().idmText, QStringLiteral("0000000000000001"));
    QVERIFY(setup.remove(QStringLiteral("a.card")));
    QCOMPARE(setup.read().idmText, QStringLiteral("0000000000000002"));
}

#ifdef RIDELOG_HAVE_LIBNFC
constexpr bool builtWithLibnfc = true;
#else
constexpr bool builtWithLibnfc = false;
#endif
#ifdef RIDELOG_HAVE_PCSC
constexpr bool builtWithPcsc = true;
#else
constexpr bool builtWithPcsc = false;
#endif
#ifdef RIDELOG_HAVE_LIBUSB
constexpr bool builtWithLibusb = true;
#else
constexpr bool builtWithLibusb = false;
#endif

void TestSimReader::factoryReaderOptions_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<bool>("wellFormed");
    QTest::addColumn<bool>("created");
    QTest::newRow("virtual") << QStringLiteral("virtual:/tmp/x") << true << true;
    QTest::newRow("virtual without folder") << QStringLiteral("virtual:") << false << false;
    QTest::newRow("auto") << QStringLiteral("auto") << true << true;
    QTest::newRow("libnfc") << QStringLiteral("libnfc") << true << builtWithLibnfc;
    QTest::newRow("pcsc") << QStringLiteral("pcsc") << true << builtWithPcsc;
    QTest::newRow("pcsc named") << QStringLiteral("pcsc:SONY FeliCa Port/PaSoRi 3.0") << true
                                << builtWithPcsc;
    QTest::newRow("pcsc empty name") << QStringLiteral("pcsc:") << false << false;
    QTest::newRow("rcs380") << QStringLiteral("rcs380") << true << builtWithLibusb;
    QTest::newRow("replay without file") << QStringLiteral("replay:") << false << false;
    QTest::newRow("replay of a missing trace")
        << QStringLiteral("replay:/nonexistent/x.trace") << true << false;
    QTest::newRow("unknown") << QStringLiteral("serial:/dev/ttyUSB0") << false << false;
    QTest::newRow("empty") << QString() << false << false;
}

void TestSimReader::factoryReaderOptions()
{
    QFETCH(QString, reader);
    QFETCH(bool, wellFormed);
    QFETCH(bool, created);
    QCOMPARE(isWellFormedReaderOption(reader), wellFormed);
    QString error;
    const auto backend = createReaderBackend(reader, &error);
    // A hardware backend this build lacks is reported instead of made; creating one opens
    // nothing.
    QCOMPARE(bool(backend), created);
    QCOMPARE(error.isEmpty(), created);
}

void TestSimReader::openReaderResults_data()
{
    QTest::addColumn<QString>("reader"); // %1: a folder of the test's own
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("error"); // a part of the library's last error; %1 as above
    QTest::newRow("unknown reader") << QStringLiteral("floppy") << 1 << QString();
    QTest::newRow("no reader found") << QStringLiteral("auto") << 2 << QString();
    QTest::newRow("folder made") << QStringLiteral("virtual:%1/new/cards") << 0 << QString();
    QTest::newRow("folder is a file")
        << QStringLiteral("virtual:%1/plain") << 2 << QStringLiteral("%1/plain");
    QTest::newRow("folder under a file")
        << QStringLiteral("virtual:%1/plain/cards") << 2 << QStringLiteral("%1/plain");
}

void TestSimReader::openReaderResults()
{
    QFETCH(QString, reader);
    QFETCH(int, result);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(test::placeCard(dir.path(), QStringLiteral("plain"), "x"));
    reader.replace(QLatin1String("%1"), dir.path());
    error.replace(QLatin1String("%1"), dir.path());
    ReaderLibrary library(ReaderConfig{reader});
    ReaderContext context;
    QCOMPARE(openReader(library, context), result);
    QCOMPARE(context.libraryInitialised, result != 1);
    QCOMPARE(context.readerOpen, result == 0);
    if (result == 0) {
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("new/cards"))).isDir());
        QVERIFY(library.readerName().contains(QStringLiteral("cards")));
    } else {
        QVERIFY(!library.lastError().isEmpty());
        QVERIFY2(library.lastError().contains(error), qPrintable(library.lastError()));
    }
    closeReader(library, context);
    QVERIFY(!context.libraryInitialised && !context.readerOpen);
    QVERIFY(library.readerName().isEmpty());
    QVERIFY(!readCardHistory(library, context).ok);
    // The library can be started again.
    QCOMPARE(openReader(library, context), result);
}

void TestSimReader::unopenedBackendFailsCleanly()
{
    SimulatedReaderBackend backend(QStringLiteral("/nonexistent/cards"));
    QCOMPARE(
        backend.transceive(felica::pollingFrame(3, 0, 0), std::chrono::milliseconds(10)).status,
        TransceiveStatus::Error);
}

QTEST_GUILESS_MAIN(TestSimReader)
#include "test_simreader.moc"
