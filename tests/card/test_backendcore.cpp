// The FeliCa core and the reader library, unchanged, over every hardware backend: each backend
// talks to an emulated reader (RC-S380 USB frames, PC/SC APDUs of each reader family, libnfc
// calls) with a sample card on it.
#include "testpaths.h"
#include "tracesession.h"

#include <QTest>

using namespace ridelog::card;
using namespace ridelog::card::testing;

namespace {

enum class Reader
{
    Rcs380,
    Rcs300,
    Acr122,
    Acr1252,
    Rcs370,
};

std::unique_ptr<ReaderBackend> backendFor(Reader reader, std::shared_ptr<EmulatedCard> card)
{
    switch (reader) {
    case Reader::Rcs380:
        return std::make_unique<Rcs380Backend>(
            [card](QString*) { return std::make_unique<EmulatedRcs380Transport>(card); });
    case Reader::Rcs300:
        return std::make_unique<PcscBackend>(std::make_unique<EmulatedPcscApi>(
            QStringLiteral("Sony FeliCa Port/PaSoRi 4.0 00 00"), card));
    case Reader::Acr122:
        return std::make_unique<PcscBackend>(std::make_unique<EmulatedPcscApi>(
            QStringLiteral("ACS ACR122U PICC Interface 00 00"), card));
    case Reader::Acr1252:
        return std::make_unique<PcscBackend>(std::make_unique<EmulatedPcscApi>(
            QStringLiteral("ACS ACR1252 1S CL Reader [ACR1252 Reader PICC] 00 00"), card));
    case Reader::Rcs370:
        return std::make_unique<LibnfcBackend>(std::make_unique<EmulatedLibnfcApi>(card));
    }
    return nullptr;
}

// The card on the reader, leaving the field after it gave answersBeforeLeaving answers.
std::shared_ptr<EmulatedCard> leavingAfter(const SimulatedCard& card, int answersBeforeLeaving)
{
    auto emulated = emulatedCardOf(card);
    auto answered = std::make_shared<std::atomic<int>>(0);
    EmulatedCard* self = emulated.get();
    emulated->answer = [card, answersBeforeLeaving, answered,
                        self](const QByteArray& frame) -> std::optional<QByteArray> {
        if (*answered >= answersBeforeLeaving) {
            self->inField = false;
            return std::nullopt;
        }
        ++*answered;
        return answerCommand(card, frame);
    };
    return emulated;
}

class FakeDialog : public QObject
{};

} // namespace

class TestBackendCore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsTheWholeHistory_data() { addReaders(); }
    void readsTheWholeHistory();
    void cardLeavingMidReadFailsOnlyThatRead_data() { addReaders(); }
    void cardLeavingMidReadFailsOnlyThatRead();
    void cardEventsComeFromThePresenceMonitor_data() { addReaders(); }
    void cardEventsComeFromThePresenceMonitor();

private:
    void addReaders();
    SimulatedCard card_;
};

void TestBackendCore::initTestCase()
{
    const std::optional<SimulatedCard> card =
        cardFromFile(QStringLiteral(RIDELOG_SAMPLE_CARDS_DIR "/commuter.card"));
    QVERIFY2(card, "data/sample-cards/commuter.card is missing or broken");
    card_ = *card;
}

void TestBackendCore::addReaders()
{
    QTest::addColumn<Reader>("reader");
    QTest::addColumn<QString>("name");
    QTest::newRow("RC-S380 (libusb)")
        << Reader::Rcs380 << QStringLiteral("Sony RC-S380/S (libusb、ファームウェア 1.11)");
    QTest::newRow("RC-S300 (PC/SC transparent)")
        << Reader::Rcs300 << QStringLiteral("Sony FeliCa Port/PaSoRi 4.0 00 00 (PC/SC)");
    QTest::newRow("ACR122U (PC/SC)")
        << Reader::Acr122 << QStringLiteral("ACS ACR122U PICC Interface 00 00 (PC/SC)");
    QTest::newRow("ACR1252U (PC/SC)")
        << Reader::Acr1252
        << QStringLiteral("ACS ACR1252 1S CL Reader [ACR1252 Reader PICC] 00 00 (PC/SC)");
    QTest::newRow("RC-S370 (libnfc)")
        << Reader::Rcs370 << QStringLiteral("SONY RC-S370 / PN533 (libnfc)");
}

void TestBackendCore::readsTheWholeHistory()
{
    QFETCH(Reader, reader);
    QFETCH(QString, name);
    auto card = emulatedCardOf(card_);
    ReaderLibrary library(backendFor(reader, card));
    ReaderContext context;
    QCOMPARE(openReader(library, context), 0);
    QCOMPARE(library.readerName(), name);

    // A card that takes few blocks at once answers more with status FF A2: the read goes in
    // fours, with more commands, to the same blocks.
    SimulatedCard fours = card_;
    fours.maxBlocksPerRead = 4;
    std::vector<int> commands;
    for (const SimulatedCard& answering : {card_, fours}) {
        card->answer = [answering](const QByteArray& frame) {
            return answerCommand(answering, frame);
        };
        const CardReadResult result = readCardHistory(library, context);
        QVERIFY2(result.ok, qPrintable(library.lastError()));
        QCOMPARE(result.idm, card_.idm);
        QCOMPARE(result.blockCount, kCardHistoryBlocks);
        for (int i = 0; i < kCardHistoryBlocks; ++i)
            QCOMPARE(result.blocks[std::size_t(i)], card_.blocks[std::size_t(i)]);
        commands.push_back(library.commandsOfLastRead());
    }
    QCOMPARE(commands.front(), 3); // Polling and two chunks of the read
    QVERIFY(commands.back() > 3);
    closeReader(library, context);
}

void TestBackendCore::cardLeavingMidReadFailsOnlyThatRead()
{
    QFETCH(Reader, reader);
    auto card = leavingAfter(card_, 2); // Polling and the first chunk, then gone
    ReaderLibrary library(backendFor(reader, card));
    ReaderContext context;
    QCOMPARE(openReader(library, context), 0);
    const CardReadResult failed = readCardHistory(library, context);
    QVERIFY(!failed.ok);
    QCOMPARE(failed.blockCount, 0);
    QVERIFY(!library.lastError().isEmpty());

    // Put back on the reader, the card reads in full.
    card->answer = [this](const QByteArray& frame) { return answerCommand(card_, frame); };
    card->inField = true;
    const CardReadResult again = readCardHistory(library, context);
    QVERIFY2(again.ok, qPrintable(library.lastError()));
    QCOMPARE(again.blockCount, kCardHistoryBlocks);
}

void TestBackendCore::cardEventsComeFromThePresenceMonitor()
{
    QFETCH(Reader, reader);
    auto card = emulatedCardOf(card_);
    ReaderLibrary library(backendFor(reader, card));
    ReaderContext context;
    QCOMPARE(openReader(library, context), 0);

    FakeDialog dialog;
    int goodReads = 0;
    int failedReads = 0;
    int losses = 0;
    CardEventFilter filter({[&] {
                                const CardReadResult result = readCardHistory(library, context);
                                ++(result.ok ? goodReads : failedReads);
                            },
                            [&] { ++losses; }},
                           &dialog);
    dialog.installEventFilter(&filter);
    startCardPolling(&library, &context, filter, &dialog);
    QVERIFY(context.pollingStarted);

    QTRY_COMPARE_WITH_TIMEOUT(goodReads, 1, 5000);
    card->inField = false;
    QTRY_COMPARE_WITH_TIMEOUT(losses, 1, 5000);
    card->inField = true;
    QTRY_COMPARE_WITH_TIMEOUT(goodReads, 2, 5000);
    QCOMPARE(failedReads, 0);
    closeReader(library, context);
}

QTEST_GUILESS_MAIN(TestBackendCore)
#include "test_backendcore.moc"
