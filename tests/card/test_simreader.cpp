// The simulated reader: card files, frame-level answers, the fault knobs, and the reader
// library reading through it.
#include "card/cardread.h"
#include "card/history.h"
#include "card/readerfactory.h"
#include "card/readerlibrary.h"
#include "card/simulatedcard.h"
#include "card/simulatedreader.h"
#include "support/cardfile.h"
#include "testpaths.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

using namespace ridelog;
using namespace ridelog::card;
using ridelog::test::placeCard;

Q_DECLARE_METATYPE(std::optional<ridelog::card::CardKind>)

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text));
}

const felica::Idm kIdm{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

const QByteArray kSmallCard = "idm 0102030405060708\n"
                              "block 0 C746000018D93D802928FC0800002200\n"
                              "block 1 C7 46 00 00 18 D8 AB A0 29 27 92 09 00 00 21 00\n";

SimulatedCard cardOf(const QByteArray& text)
{
    const auto result = parseCardFile(text);
    if (!result.card)
        qFatal("test card does not parse");
    return *result.card;
}

QByteArray readFrame(const felica::Idm& idm, int first, int count,
                     const QByteArray& services = hex("0F09"))
{
    QByteArray list;
    for (int i = first; i < first + count; ++i)
        list.append(char(0x80)).append(char(i));
    return felica::readWithoutEncryptionFrame(idm, services, list);
}

// A library reading from a simulated reader on its own folder.
struct SimulatedSetup
{
    QTemporaryDir dir;
    ReaderLibrary library{ReaderConfig{QStringLiteral("virtual:") + dir.path()}};
    ReaderContext context;

    bool open() { return dir.isValid() && openReader(library, context) == 0; }
};

} // namespace

class TestSimReader : public QObject
{
    Q_OBJECT

private slots:
    // Card files
    void smallCardParses();
    void hexInEitherCaseWithBlanks();
    void commentsBlankLinesCrLfAndBom();
    void knobsParse();
    void malformedFiles_data();
    void malformedFiles();
    void sampleCardsAreConsistent();
    void serviceSections();

    // Frame-level answers
    void pollingAnswers_data();
    void pollingAnswers();
    void pollingRequestData();
    void readAnswersBlocks();
    void readChecksTheCard_data();
    void readChecksTheCard();
    void garbageGetsNoAnswer_data();
    void garbageGetsNoAnswer();
    void randomInputNeverBreaksTheCard();

    // The backend and the reader library over it
    void normalReadIsThreeCommands();
    void readBringsGateLogAndKind();
    void refusedExtrasLeaveTheHistoryAlone_data();
    void refusedExtrasLeaveTheHistoryAlone();
    void unlistedBlocksReadAsZero();
    void smallChunkCardStillReadsFully();
    void failAfterMidReadThenNextPlacementReads();
    void malformedCardFailsTheReadWithWarning();
    void noCardFailsTheRead();
    void firstCardFileInNameOrder();
    void ignoredNames();
    void openCreatesTheFolder();
    void openFailsOnAFile();
    void factoryReaderOptions_data();
    void factoryReaderOptions();
    void openReaderResults();
    void closeReaderClearsTheFlags();
};

void TestSimReader::smallCardParses()
{
    const auto result = parseCardFile(kSmallCard);
    QVERIFY2(result.card, qPrintable(result.error));
    QCOMPARE(result.card->idm, kIdm);
    QCOMPARE(result.card->pmm, felica::kDefaultPmm);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(result.card->blocks[1].data()), 16),
             hex("C746000018D8ABA029279209000021 00"));
    QCOMPARE(result.card->blocks[2], (std::array<std::uint8_t, 16>{}));
    QCOMPARE(result.card->maxBlocksPerRead, 15);
    QVERIFY(!result.card->failAfter);
}

void TestSimReader::hexInEitherCaseWithBlanks()
{
    const auto card = cardOf("idm 01 2e 44a0 B1c2 d3E4\npmm 01020304 05060708\n"
                             "block 19 ff FF ff ff 00 00 00 00 00 00 00 00 00 00 00 0a\n");
    QCOMPARE(card.idm, (felica::Idm{0x01, 0x2E, 0x44, 0xA0, 0xB1, 0xC2, 0xD3, 0xE4}));
    QCOMPARE(card.pmm, (felica::Pmm{1, 2, 3, 4, 5, 6, 7, 8}));
    QCOMPARE(card.blocks[19][0], std::uint8_t(0xFF));
    QCOMPARE(card.blocks[19][15], std::uint8_t(0x0A));
}

void TestSimReader::commentsBlankLinesCrLfAndBom()
{
    const auto card =
        cardOf("\xEF\xBB\xBF# 新宿 card\r\n\r\n   idm 0102030405060708   # the IDm\r\n"
               "\tblock 3 00112233445566778899AABBCCDDEEFF\r\n# end");
    QCOMPARE(card.idm, kIdm);
    QCOMPARE(card.blocks[3][15], std::uint8_t(0xFF));
}

void TestSimReader::knobsParse()
{
    const auto card = cardOf(kSmallCard + "max-blocks-per-read 4\nfail-after 0\n");
    QCOMPARE(card.maxBlocksPerRead, 4);
    QCOMPARE(card.failAfter, std::optional<int>(0));
}

void TestSimReader::malformedFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");
    const QByteArray idm = "idm 0102030405060708\n";
    QTest::newRow("empty file") << QByteArray() << 0;
    QTest::newRow("missing idm") << QByteArray("block 0 C746000018D93D802928FC0800002200\n") << 0;
    QTest::newRow("bad hex digit") << idm + "block 0 C746000018D93D802928FC08000022G0\n" << 2;
    QTest::newRow("block too short") << idm + "block 0 C746000018D93D802928FC08000022\n" << 2;
    QTest::newRow("block too long") << idm + "block 0 C746000018D93D802928FC080000220000\n" << 2;
    QTest::newRow("odd digits") << idm + "block 0 C74 6000018D93D802928FC0800002200\n" << 2;
    QTest::newRow("block 20") << idm + "block 20 C746000018D93D802928FC0800002200\n" << 2;
    QTest::newRow("block -1") << idm + "block -1 C746000018D93D802928FC0800002200\n" << 2;
    QTest::newRow("block x") << idm + "block x C746000018D93D802928FC0800002200\n" << 2;
    QTest::newRow("block without bytes") << idm + "block 1\n" << 2;
    QTest::newRow("block twice") << idm + "block 1 00000000000000000000000000000000\n"
                                          "block 1 00000000000000000000000000000000\n"
                                 << 3;
    QTest::newRow("idm too short") << QByteArray("idm 01020304050607\n") << 1;
    QTest::newRow("idm too long") << QByteArray("\n\nidm 010203040506070809\n") << 3;
    QTest::newRow("pmm short") << idm + "pmm 100B4B4284\n" << 2;
    QTest::newRow("unknown item") << idm + "colour red\n" << 2;
    QTest::newRow("max-blocks 0") << idm + "max-blocks-per-read 0\n" << 2;
    QTest::newRow("max-blocks 16") << idm + "max-blocks-per-read 16\n" << 2;
    QTest::newRow("fail-after -1") << idm + "fail-after -1\n" << 2;
    QTest::newRow("fail-after two numbers") << idm + "fail-after 1 2\n" << 2;
    QTest::newRow("service without code") << idm + "service\n" << 2;
    QTest::newRow("service code too short") << idm + "service 10\n" << 2;
    QTest::newRow("service code not hex") << idm + "service 108G\n" << 2;
    QTest::newRow("service twice") << idm + "service 108F\nservice 1808\nservice 108F\n" << 4;
    QTest::newRow("gate log block 3")
        << idm + "service 108F\nblock 3 20002507200035840842AA0000000000\n"
        << 3;
    QTest::newRow("gate log block twice") << idm + "service 108F\n"
                                                   "block 1 20002507200035840842AA0000000000\n"
                                                   "block 1 20002507200035840842AA0000000000\n"
                                          << 4;
    QTest::newRow("gate log block short")
        << idm + "service 108F\nblock 0 20002507200035840842AA00\n"
        << 3;
    QTest::newRow("binary garbage") << QByteArray("\x00\xFF\xFE idm\x01", 9) << 1;
}

void TestSimReader::malformedFiles()
{
    QFETCH(QByteArray, text);
    QFETCH(int, line);
    const auto result = parseCardFile(text);
    QVERIFY(!result.card);
    QCOMPARE(result.errorLine, line);
    QVERIFY(!result.error.isEmpty());
}

void TestSimReader::sampleCardsAreConsistent()
{
    // Every sample card parses, and its entries chain: serials count down by one from block
    // 0, and each entry's balance differs from the next older one by a plausible amount.
    const QDir dir(QStringLiteral(RIDELOG_SAMPLE_CARDS_DIR));
    const QStringList names = dir.entryList({QStringLiteral("*.card")}, QDir::Files);
    QVERIFY(names.size() >= 2);
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const auto result = parseCardFile(file.readAll());
        QVERIFY2(result.card, qPrintable(name + QStringLiteral(": ") + result.error));
        int used = 0;
        while (used < kSimulatedHistoryBlocks && result.card->blocks[std::size_t(used)][0] != 0)
            ++used;
        QVERIFY2(used >= 3, qPrintable(name));
        for (int i = 0; i + 1 < used; ++i) {
            HistoryBlock newer, older;
            std::copy(result.card->blocks[std::size_t(i)].begin(),
                      result.card->blocks[std::size_t(i)].end(), newer.begin());
            std::copy(result.card->blocks[std::size_t(i + 1)].begin(),
                      result.card->blocks[std::size_t(i + 1)].end(), older.begin());
            QCOMPARE(blockSerial(newer), blockSerial(older) + 1);
            QVERIFY(!terminalTypeName(newer[0]).isEmpty());
            QVERIFY(std::abs(blockBalance(newer) - blockBalance(older)) <= 10000);
            QVERIFY((newer[4] << 8 | newer[5]) >=
                    (older[4] << 8 | older[5])); // dates never go back
        }
    }
}

void TestSimReader::serviceSections()
{
    const SimulatedCard card =
        cardOf(kSmallCard + "service 108F\n"
                            "block 2 A0002507100035840827 000000000000\n"
                            "service 1808\n"
                            "service 090F\n"
                            "block 5 16 01 00 00 35 84 25 07 25 0A 2A 0F 00 01 A6 00\n"
                            "service 8FD8 # a service with blocks of its own\n"
                            "block 1 0102030405060708090A0B0C0D0E0F10\n");
    QCOMPARE(card.blocks[0][0], std::uint8_t(0xC7));
    QCOMPARE(card.blocks[5][14], std::uint8_t(0xA6)); // back in 090F after "service 090F"
    const SimulatedService* gateLog = card.service(felica::kGateLogServiceCode);
    QVERIFY(gateLog);
    QCOMPARE(gateLog->blocks.size(), std::size_t(3));
    QCOMPARE(gateLog->blocks[0], SimulatedBlock{});
    QCOMPARE(gateLog->blocks[2][9], std::uint8_t(0x27));
    QVERIFY(card.service(0x1808) && card.service(0x1808)->blocks.empty());
    QCOMPARE(card.service(0x8FD8)->blocks.size(), std::size_t(2));
    QVERIFY(!card.service(0x1CC8));

    // Reads of several services at once, and blocks past the end of a service.
    const QByteArray both =
        felica::readWithoutEncryptionFrame(kIdm, hex("0F098F10"), hex("80008102"));
    const auto answer = felica::parseReadResponse(*answerCommand(card, both), kIdm, 2);
    QCOMPARE(answer.kind, felica::ReadAnswer::Kind::Blocks);
    QCOMPARE(std::uint8_t(answer.blockData[0]), std::uint8_t(0xC7));
    QCOMPARE(std::uint8_t(answer.blockData[16]), std::uint8_t(0xA0));
    const auto past = felica::parseReadResponse(
        *answerCommand(card, readFrame(kIdm, 3, 1, hex("8F10"))), kIdm, 1);
    QCOMPARE(past.statusFlag2, felica::kStatusIllegalBlockNumber);
    const auto absent = felica::parseReadResponse(
        *answerCommand(card, readFrame(kIdm, 0, 1, hex("C81C"))), kIdm, 1);
    QCOMPARE(absent.statusFlag2, std::uint8_t(0xA6));

    // Request Service: key version FFFF for what the card lacks.
    const std::uint16_t codes[] = {0x090F, 0x108F, 0x1808, 0x1CC8};
    const auto versions = felica::parseRequestServiceResponse(
        *answerCommand(card, felica::requestServiceFrame(kIdm, codes)), kIdm, 4);
    QVERIFY(versions);
    QCOMPARE(*versions, (std::vector<std::uint16_t>{0x0000, 0x0000, 0x0000, 0xFFFF}));
    // Another card's IDm gets no answer.
    felica::Idm other = kIdm;
    other[7] ^= 1;
    QVERIFY(!answerCommand(card, felica::requestServiceFrame(other, codes)));
}

void TestSimReader::pollingAnswers_data()
{
    QTest::addColumn<int>("systemCode");
    QTest::addColumn<bool>("answers");
    QTest::newRow("transit") << 0x0003 << true;
    QTest::newRow("any") << 0xFFFF << true;
    QTest::newRow("wildcard high byte") << 0xFF03 << true;
    QTest::newRow("common area") << 0xFE00 << false;
    QTest::newRow("other") << 0x8008 << false;
    QTest::newRow("zero") << 0x0000 << false;
}

void TestSimReader::pollingAnswers()
{
    QFETCH(int, systemCode);
    QFETCH(bool, answers);
    const auto answer =
        answerCommand(cardOf(kSmallCard), felica::pollingFrame(std::uint16_t(systemCode), 0, 0));
    QCOMPARE(bool(answer), answers);
    if (answers)
        QCOMPARE(*answer, hex("1201"
                              "0102030405060708"
                              "100B4B428485D0FF"));
}

void TestSimReader::pollingRequestData()
{
    const auto answer = answerCommand(cardOf(kSmallCard), felica::pollingFrame(0xFFFF, 1, 0));
    QVERIFY(answer);
    QCOMPARE(*answer, hex("1401"
                          "0102030405060708"
                          "100B4B428485D0FF"
                          "0003"));
}

void TestSimReader::readAnswersBlocks()
{
    const auto answer = answerCommand(cardOf(kSmallCard), readFrame(kIdm, 0, 3));
    QVERIFY(answer);
    QCOMPARE(*answer, hex("3D07"
                          "0102030405060708"
                          "000003"
                          "C746000018D93D802928FC0800002200"
                          "C746000018D8ABA02927920900002100"
                          "00000000000000000000000000000000"));
}

void TestSimReader::readChecksTheCard_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("answer");
    const felica::Idm other{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x09};
    QTest::newRow("other card's IDm") << readFrame(other, 0, 1) << QByteArray();
    QTest::newRow("other service") << readFrame(kIdm, 0, 1, hex("8B00"))
                                   << hex("0C07"
                                          "0102030405060708"
                                          "FFA6");
    QTest::newRow("second service unknown") << readFrame(kIdm, 0, 1, hex("0F098B00"))
                                            << hex("0C07"
                                                   "0102030405060708"
                                                   "FFA6");
    QTest::newRow("block 20") << readFrame(kIdm, 19, 2)
                              << hex("0C07"
                                     "0102030405060708"
                                     "FFA8");
    QTest::newRow("16 blocks") << readFrame(kIdm, 0, 16)
                               << hex("0C07"
                                      "0102030405060708"
                                      "FFA2");
    QTest::newRow("service index out of list")
        << felica::readWithoutEncryptionFrame(kIdm, hex("0F09"), hex("8100"))
        << hex("0C07"
               "0102030405060708"
               "FFA3");
    QTest::newRow("access mode") << felica::readWithoutEncryptionFrame(kIdm, hex("0F09"),
                                                                       hex("9000"))
                                 << hex("0C07"
                                        "0102030405060708"
                                        "FFA7");
    QTest::newRow("3-byte element")
        << felica::readWithoutEncryptionFrame(kIdm, hex("0F09"), hex("000100"))
        << felica::readResponseFrame(kIdm, hex("C746000018D8ABA02927920900002100"));
}

void TestSimReader::readChecksTheCard()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, answer);
    const auto got = answerCommand(cardOf(kSmallCard), frame);
    QCOMPARE(got.value_or(QByteArray()), answer);
}

void TestSimReader::garbageGetsNoAnswer_data()
{
    QTest::addColumn<QByteArray>("frame");
    QByteArray wrongLength = felica::pollingFrame(0x0003, 0, 0);
    wrongLength[0] = char(7);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("length byte only") << hex("01");
    QTest::newRow("wrong length byte") << wrongLength;
    QTest::newRow("short polling") << hex("05000003 00");
    QTest::newRow("long polling") << hex("07000003000000");
    QTest::newRow("unknown command") << hex("0A04"
                                            "0102030405060708");
    QTest::newRow("cut read") << readFrame(kIdm, 0, 2).chopped(1);
    QTest::newRow("read without services") << hex("0C06"
                                                  "0102030405060708"
                                                  "0000");
}

void TestSimReader::garbageGetsNoAnswer()
{
    QFETCH(QByteArray, frame);
    QVERIFY(!answerCommand(cardOf(kSmallCard), frame));
}

void TestSimReader::randomInputNeverBreaksTheCard()
{
    // Mutated card files either parse or name a line within the file; mutated commands get
    // no answer or an answer that is itself a well-formed response for this card.
    QRandomGenerator random(1207);
    const QByteArray text = kSmallCard + "pmm 100B4B428485D0FF\nmax-blocks-per-read 15\n";
    const qsizetype lines = text.count('\n');
    const SimulatedCard card = cardOf(kSmallCard);
    for (int round = 0; round < 5000; ++round) {
        QByteArray mutated = text;
        for (int flips = random.bounded(1, 4); flips > 0; --flips)
            mutated[random.bounded(mutated.size())] = char(random.bounded(256));
        const auto result = parseCardFile(mutated);
        QVERIFY(result.card || !result.error.isEmpty());
        QVERIFY(result.errorLine >= 0 && result.errorLine <= lines + 1);

        QByteArray frame = random.bounded(2)
                               ? felica::pollingFrame(0x0003, 0, 0)
                               : readFrame(kIdm, random.bounded(20), 1 + random.bounded(3));
        frame[random.bounded(frame.size())] = char(random.bounded(256));
        const auto answer = answerCommand(card, frame);
        if (!answer)
            continue;
        QCOMPARE(std::uint8_t(answer->at(0)), std::uint8_t(answer->size()));
        if (answer->at(1) == char(felica::kPollingResponse))
            QVERIFY(felica::parsePollingResponse(*answer));
        else
            QVERIFY(felica::parseReadResponse(*answer, kIdm, (answer->size() - 13) / 16).kind !=
                    felica::ReadAnswer::Kind::Malformed);
    }
}

void TestSimReader::normalReadIsThreeCommands()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    QVERIFY(QFile::copy(QStringLiteral(RIDELOG_SAMPLE_CARDS_DIR "/commuter.card"),
                        setup.dir.filePath(QStringLiteral("commuter.card"))));
    const CardReadResult card = readCardHistory(setup.library, setup.context);
    QVERIFY2(card.ok, qPrintable(setup.library.lastError()));
    QCOMPARE(setup.library.commandsOfLastRead(), 3);
    QCOMPARE(card.idmText, QStringLiteral("012E44A0B1C2D3E4"));
    QCOMPARE(setup.context.cardIdBuffer, card.idm);
    QCOMPARE(card.pmm, felica::kDefaultPmm);
    QCOMPARE(card.blockCount, 20);
    QCOMPARE(card.blocks.size(), std::size_t(20));
    QCOMPARE(blockBalance(card.blocks[0]), 3882);
    QCOMPARE(blockSerial(card.blocks[6]), 0x1A0u);
}

void TestSimReader::readBringsGateLogAndKind()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    QVERIFY(QFile::copy(QStringLiteral(RIDELOG_SAMPLE_CARDS_DIR "/commuter.card"),
                        setup.dir.filePath(QStringLiteral("commuter.card"))));
    const CardReadResult card = readCardHistory(setup.library, setup.context);
    QVERIFY2(card.ok, qPrintable(setup.library.lastError()));
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
    QVERIFY(placeCard(setup.dir.path(), QStringLiteral("a.card"), kSmallCard));
    const CardReadResult plain = readCardHistory(setup.library, setup.context);
    QVERIFY(plain.ok);
    QVERIFY(QFile::remove(setup.dir.filePath(QStringLiteral("a.card"))));
    QVERIFY(!readCardHistory(setup.library, setup.context).ok);

    QVERIFY(placeCard(setup.dir.path(), QStringLiteral("a.card"), kSmallCard + knobs));
    const CardReadResult card = readCardHistory(setup.library, setup.context);
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

void TestSimReader::unlistedBlocksReadAsZero()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    QVERIFY(placeCard(setup.dir.path(), QStringLiteral("a.card"), kSmallCard));
    const CardReadResult card = readCardHistory(setup.library, setup.context);
    QVERIFY(card.ok);
    QCOMPARE(card.blocks[0][0], std::uint8_t(0xC7));
    for (int i = 2; i < 20; ++i)
        QCOMPARE(card.blocks[std::size_t(i)], HistoryBlock{});
}

void TestSimReader::smallChunkCardStillReadsFully()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    QVERIFY(placeCard(setup.dir.path(), QStringLiteral("a.card"),
                      kSmallCard + "max-blocks-per-read 4\n"));
    const CardReadResult card = readCardHistory(setup.library, setup.context);
    QVERIFY(card.ok);
    QCOMPARE(card.blockCount, 20);
    QCOMPARE(card.blocks[1][5], std::uint8_t(0xD8));
    // polling, 12 refused, 3 x 4, 8 refused, 2 x 4
    QCOMPARE(setup.library.commandsOfLastRead(), 8);

    // A card taking single blocks only: every chunk falls back twice.
    QVERIFY(placeCard(setup.dir.path(), QStringLiteral("a.card"),
                      kSmallCard + "max-blocks-per-read 1\n"));
    const CardReadResult single = readCardHistory(setup.library, setup.context);
    QVERIFY(single.ok);
    QCOMPARE(single.blocks[0][0], std::uint8_t(0xC7));
    QCOMPARE(setup.library.commandsOfLastRead(), 1 + 1 + 3 + 12 + 1 + 2 + 8);
}

void TestSimReader::failAfterMidReadThenNextPlacementReads()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    // Polling and the first chunk are answered, then the card is gone from the field.
    QVERIFY(placeCard(setup.dir.path(), QStringLiteral("a.card"), kSmallCard + "fail-after 2\n"));
    const CardReadResult failed = readCardHistory(setup.library, setup.context);
    QVERIFY(!failed.ok);
    QVERIFY(failed.idmText.isEmpty());
    QVERIFY(failed.blocks.empty());
    // Still the same placement: the card stays silent.
    QVERIFY(!readCardHistory(setup.library, setup.context).ok);
    QCOMPARE(setup.library.commandsOfLastRead(), 1);

    // Taken off and put back: it answers two commands again, so another knob value reads.
    QVERIFY(QFile::remove(setup.dir.filePath(QStringLiteral("a.card"))));
    QVERIFY(!readCardHistory(setup.library, setup.context).ok);
    QVERIFY(placeCard(setup.dir.path(), QStringLiteral("a.card"), kSmallCard + "fail-after 3\n"));
    const CardReadResult card = readCardHistory(setup.library, setup.context);
    QVERIFY2(card.ok, qPrintable(setup.library.lastError()));
    QCOMPARE(card.blocks[0][0], std::uint8_t(0xC7));
}

void TestSimReader::malformedCardFailsTheReadWithWarning()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    QVERIFY(placeCard(setup.dir.path(), QStringLiteral("bad.card"),
                      "idm 0102030405060708\nblock 0 C746000018D93D802928FC08000022ZZ\n"));
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("bad\\.card:2: bad hex digit")));
    QVERIFY(!readCardHistory(setup.library, setup.context).ok);
    // Warned once per placement, not once per command.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    QVERIFY(!readCardHistory(setup.library, setup.context).ok);
}

void TestSimReader::noCardFailsTheRead()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    QVERIFY(!readCardHistory(setup.library, setup.context).ok);
    QVERIFY(!setup.library.lastError().isEmpty());
    QCOMPARE(setup.library.commandsOfLastRead(), 1);
}

void TestSimReader::firstCardFileInNameOrder()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    QVERIFY(placeCard(setup.dir.path(), QStringLiteral("b.card"), "idm 0000000000000002\n"));
    QVERIFY(placeCard(setup.dir.path(), QStringLiteral("a.card"), "idm 0000000000000001\n"));
    QCOMPARE(readCardHistory(setup.library, setup.context).idmText,
             QStringLiteral("0000000000000001"));
    QVERIFY(QFile::remove(setup.dir.filePath(QStringLiteral("a.card"))));
    QCOMPARE(readCardHistory(setup.library, setup.context).idmText,
             QStringLiteral("0000000000000002"));
}

void TestSimReader::ignoredNames()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    const QString dir = setup.dir.path();
    QVERIFY(placeCard(dir, QStringLiteral(".hidden.card"), kSmallCard));
    QVERIFY(placeCard(dir, QStringLiteral("a.card.tmp"), kSmallCard));
    QVERIFY(placeCard(dir, QStringLiteral("a.card~"), kSmallCard));
    QVERIFY(placeCard(dir, QStringLiteral("a.CARD"), kSmallCard));
    QVERIFY(QDir(dir).mkdir(QStringLiteral("0.card")));
    QVERIFY(QFile::link(QStringLiteral(RIDELOG_SAMPLE_CARDS_DIR "/commuter.card"),
                        dir + QStringLiteral("/1.card")));
    QVERIFY(!readCardHistory(setup.library, setup.context).ok);
    QVERIFY(placeCard(dir, QStringLiteral("z.card"), kSmallCard));
    QCOMPARE(readCardHistory(setup.library, setup.context).idmText,
             QStringLiteral("0102030405060708"));
}

void TestSimReader::openCreatesTheFolder()
{
    QTemporaryDir dir;
    const QString cards = dir.filePath(QStringLiteral("new/cards"));
    ReaderLibrary library(ReaderConfig{QStringLiteral("virtual:") + cards});
    ReaderContext context;
    QCOMPARE(openReader(library, context), 0);
    QVERIFY(QFileInfo(cards).isDir());
    QVERIFY(library.readerName().contains(QStringLiteral("cards")));
}

void TestSimReader::openFailsOnAFile()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("plain"));
    QVERIFY(placeCard(dir.path(), QStringLiteral("plain"), "x"));
    SimulatedReaderBackend onFile(file);
    QString error;
    QVERIFY(!onFile.open(&error));
    QVERIFY(error.contains(file));
    SimulatedReaderBackend underFile(file + QStringLiteral("/cards"));
    QVERIFY(!underFile.open(&error));
    // Reading from a backend that is not open fails cleanly.
    QCOMPARE(
        underFile.transceive(felica::pollingFrame(3, 0, 0), std::chrono::milliseconds(10)).status,
        TransceiveStatus::Error);
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

void TestSimReader::openReaderResults()
{
    ReaderContext context;
    ReaderLibrary unknown(ReaderConfig{QStringLiteral("floppy")});
    QCOMPARE(openReader(unknown, context), 1);
    QVERIFY(!context.libraryInitialised);

    ReaderLibrary automatic(ReaderConfig{});
    QCOMPARE(openReader(automatic, context), 2);
    QVERIFY(context.libraryInitialised);
    QVERIFY(!context.readerOpen);
    QVERIFY(!automatic.lastError().isEmpty());
    closeReader(automatic, context);
    QVERIFY(!context.libraryInitialised);
}

void TestSimReader::closeReaderClearsTheFlags()
{
    SimulatedSetup setup;
    QVERIFY(setup.open());
    QVERIFY(setup.context.readerOpen);
    closeReader(setup.library, setup.context);
    QVERIFY(!setup.context.readerOpen && !setup.context.libraryInitialised);
    QVERIFY(setup.library.readerName().isEmpty());
    QVERIFY(!readCardHistory(setup.library, setup.context).ok);
    // The library can be started again.
    QCOMPARE(openReader(setup.library, setup.context), 0);
}

QTEST_GUILESS_MAIN(TestSimReader)
#include "test_simreader.moc"
