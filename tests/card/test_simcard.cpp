// The simulated card: its card files (what parses, what is refused with its line, the sample
// cards that come with the program) and what it answers, frame by frame.
#include "card/history.h"
#include "simulatedcardfixture.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTest>
#include <cstdlib>

using namespace ridelog;
using namespace ridelog::card;
using namespace ridelog::card::testing;

Q_DECLARE_METATYPE(std::optional<int>)

namespace {

template <std::size_t N> QByteArray bytesOf(const std::array<std::uint8_t, N>& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(N));
}

// The small card with a gate log of three blocks (the first two left out) and an empty service.
const QByteArray kCardWithServices = kSmallCard + "service 108F\n"
                                                  "block 2 A0002507100035840827000000000000\n"
                                                  "service 1808\n";

// A refusal of a read: status flags FF and the given second flag.
QByteArray refusal(const char* flag2)
{
    return hex("0C070102030405060708FF") + hex(flag2);
}

} // namespace

class TestSimCard : public QObject
{
    Q_OBJECT

private slots:
    // Card files
    void wellFormedFiles_data();
    void wellFormedFiles();
    void malformedFiles_data();
    void malformedFiles();
    void serviceSections();
    void sampleCardsAreConsistent();

    // Frame-level answers
    void pollingAnswers_data();
    void pollingAnswers();
    void readAnswers_data();
    void readAnswers();
    void requestServiceTellsWhatTheCardLacks();
    void garbageGetsNoAnswer_data();
    void garbageGetsNoAnswer();
    void randomInputNeverBreaksTheCard();
};

void TestSimCard::wellFormedFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("idm");
    QTest::addColumn<QByteArray>("pmm");
    QTest::addColumn<int>("block");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("maxBlocksPerRead");
    QTest::addColumn<std::optional<int>>("failAfter");
    const QByteArray defaultPmm = hex("100B4B428485D0FF");
    const QByteArray idm = hex("0102030405060708");
    QTest::newRow("small card") << kSmallCard << idm << defaultPmm << 1
                                << hex("C746000018D8ABA02927920900002100") << 15
                                << std::optional<int>();
    QTest::newRow("hex in either case with blanks")
        << QByteArray("idm 01 2e 44a0 B1c2 d3E4\npmm 01020304 05060708\n"
                      "block 19 ff FF ff ff 00 00 00 00 00 00 00 00 00 00 00 0a\n")
        << hex("012E44A0B1C2D3E4") << hex("0102030405060708") << 19
        << hex("FFFFFFFF00000000000000000000000A") << 15 << std::optional<int>();
    QTest::newRow("comments, blank lines, CR LF and BOM")
        << QByteArray("\xEF\xBB\xBF# 新宿 card\r\n\r\n   idm 0102030405060708   # the IDm\r\n"
                      "\tblock 3 00112233445566778899AABBCCDDEEFF\r\n# end")
        << idm << defaultPmm << 3 << hex("00112233445566778899AABBCCDDEEFF") << 15
        << std::optional<int>();
    QTest::newRow("knobs") << kSmallCard + "max-blocks-per-read 4\nfail-after 0\n"
                           << idm << defaultPmm << 0 << hex("C746000018D93D802928FC0800002200") << 4
                           << std::optional<int>(0);
}

void TestSimCard::wellFormedFiles()
{
    QFETCH(QByteArray, text);
    QFETCH(int, block);
    const auto result = parseCardFile(text);
    QVERIFY2(result.card, qPrintable(result.error));
    QTEST(bytesOf(result.card->idm), "idm");
    QTEST(bytesOf(result.card->pmm), "pmm");
    QTEST(bytesOf(result.card->blocks[std::size_t(block)]), "bytes");
    // No row lists block 2: a block the file leaves out is all zero.
    QCOMPARE(result.card->blocks[2], SimulatedBlock{});
    QTEST(result.card->maxBlocksPerRead, "maxBlocksPerRead");
    QTEST(result.card->failAfter, "failAfter");
}

void TestSimCard::malformedFiles_data()
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

void TestSimCard::malformedFiles()
{
    QFETCH(QByteArray, text);
    QFETCH(int, line);
    const auto result = parseCardFile(text);
    QVERIFY(!result.card);
    QCOMPARE(result.errorLine, line);
    QVERIFY(!result.error.isEmpty());
}

void TestSimCard::serviceSections()
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
}

void TestSimCard::sampleCardsAreConsistent()
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
            const HistoryBlock& newer = result.card->blocks[std::size_t(i)];
            const HistoryBlock& older = result.card->blocks[std::size_t(i + 1)];
            QCOMPARE(blockSerial(newer), blockSerial(older) + 1);
            QVERIFY(!terminalTypeName(newer[0]).isEmpty());
            QVERIFY(std::abs(blockBalance(newer) - blockBalance(older)) <= 10000);
            QVERIFY((newer[4] << 8 | newer[5]) >=
                    (older[4] << 8 | older[5])); // dates never go back
        }
    }
}

void TestSimCard::pollingAnswers_data()
{
    QTest::addColumn<int>("systemCode");
    QTest::addColumn<int>("requestCode");
    QTest::addColumn<QByteArray>("answer"); // empty: none
    const QByteArray plain = hex("1201"
                                 "0102030405060708"
                                 "100B4B428485D0FF");
    QTest::newRow("transit") << 0x0003 << 0 << plain;
    QTest::newRow("any") << 0xFFFF << 0 << plain;
    QTest::newRow("wildcard high byte") << 0xFF03 << 0 << plain;
    QTest::newRow("common area") << 0xFE00 << 0 << QByteArray();
    QTest::newRow("other") << 0x8008 << 0 << QByteArray();
    QTest::newRow("zero") << 0x0000 << 0 << QByteArray();
    QTest::newRow("system code requested") << 0xFFFF << 1
                                           << hex("1401"
                                                  "0102030405060708"
                                                  "100B4B428485D0FF"
                                                  "0003");
}

void TestSimCard::pollingAnswers()
{
    QFETCH(int, systemCode);
    QFETCH(int, requestCode);
    const auto answer =
        answerCommand(cardOf(kSmallCard), felica::pollingFrame(std::uint16_t(systemCode),
                                                               std::uint8_t(requestCode), 0));
    QTEST(answer.value_or(QByteArray()), "answer");
}

void TestSimCard::readAnswers_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("answer"); // empty: none
    const felica::Idm other{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x09};
    QTest::newRow("blocks 0 to 2") << readFrame(kIdm, 0, 3)
                                   << hex("3D07"
                                          "0102030405060708"
                                          "000003"
                                          "C746000018D93D802928FC0800002200"
                                          "C746000018D8ABA02927920900002100"
                                          "00000000000000000000000000000000");
    QTest::newRow("other card's IDm") << readFrame(other, 0, 1) << QByteArray();
    QTest::newRow("a service the card lacks")
        << readFrame(kIdm, 0, 1, hex("8B00")) << refusal("A6");
    QTest::newRow("second service unknown")
        << readFrame(kIdm, 0, 1, hex("0F098B00")) << refusal("A6");
    QTest::newRow("block 20") << readFrame(kIdm, 19, 2) << refusal("A8");
    QTest::newRow("16 blocks") << readFrame(kIdm, 0, 16) << refusal("A2");
    QTest::newRow("service index out of list")
        << felica::readWithoutEncryptionFrame(kIdm, hex("0F09"), hex("8100")) << refusal("A3");
    QTest::newRow("access mode") << felica::readWithoutEncryptionFrame(kIdm, hex("0F09"),
                                                                       hex("9000"))
                                 << refusal("A7");
    QTest::newRow("3-byte element")
        << felica::readWithoutEncryptionFrame(kIdm, hex("0F09"), hex("000100"))
        << felica::readResponseFrame(kIdm, hex("C746000018D8ABA02927920900002100"));
    QTest::newRow("two services at once")
        << felica::readWithoutEncryptionFrame(kIdm, hex("0F098F10"), hex("80008102"))
        << felica::readResponseFrame(kIdm, hex("C746000018D93D802928FC0800002200"
                                               "A0002507100035840827000000000000"));
    QTest::newRow("past the end of the gate log")
        << readFrame(kIdm, 3, 1, hex("8F10")) << refusal("A8");
}

void TestSimCard::readAnswers()
{
    QFETCH(QByteArray, frame);
    const auto got = answerCommand(cardOf(kCardWithServices), frame);
    QTEST(got.value_or(QByteArray()), "answer");
}

void TestSimCard::requestServiceTellsWhatTheCardLacks()
{
    const SimulatedCard card = cardOf(kCardWithServices);
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

void TestSimCard::garbageGetsNoAnswer_data()
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

void TestSimCard::garbageGetsNoAnswer()
{
    QFETCH(QByteArray, frame);
    QVERIFY(!answerCommand(cardOf(kSmallCard), frame));
}

void TestSimCard::randomInputNeverBreaksTheCard()
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

QTEST_GUILESS_MAIN(TestSimCard)
#include "test_simcard.moc"
