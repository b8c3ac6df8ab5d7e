// FeliCa frames against exact bytes, response checks, PMm time-outs, and the chunked read
// with its retries against a scripted card.
#include "card/felicaprotocol.h"
#include "card/felicaread.h"

#include <QRandomGenerator>
#include <QTest>
#include <deque>

using namespace ridelog::card;
using namespace std::chrono_literals;

namespace {

const felica::Idm kIdm{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
const felica::Idm kOtherIdm{0x01, 0x2E, 0x44, 0xA0, 0xB1, 0xC2, 0xD3, 0xE4};

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// A card's answer to Polling, without request data.
const QByteArray kPollingAnswer = hex("1201"
                                      "0102030405060708"
                                      "100B4B428485D0FF");

// frame with byte index set to value.
QByteArray withByte(QByteArray frame, qsizetype index, int value)
{
    frame[index] = char(value);
    return frame;
}

QByteArray blockListOf(int first, int count)
{
    QByteArray list;
    for (int i = first; i < first + count; ++i) {
        list.append(char(0x80));
        list.append(char(i));
    }
    return list;
}

QByteArray blockBytes(int number)
{
    return QByteArray(felica::kBlockSize, char(number));
}

// A card driven by a script: each command is answered by a function of the parsed request and
// of how many commands came before it.
class ScriptedBackend : public ReaderBackend
{
public:
    using Answer = std::function<TransceiveResult(const felica::ReadCommand&, int call)>;

    QString name() const override { return QStringLiteral("scripted"); }
    bool open(QString*) override { return true; }
    void close() override {}
    void startPresenceMonitor(std::uint16_t, PresenceListener) override {}
    void stopPresenceMonitor() override {}

    TransceiveResult transceive(const QByteArray& frame, std::chrono::milliseconds timeout) override
    {
        timeouts.push_back(timeout);
        const auto command = felica::parseReadWithoutEncryptionFrame(frame);
        if (!command) {
            sizes.push_back(-1);
            return {TransceiveStatus::Error, {}, QStringLiteral("not a read")};
        }
        sizes.push_back(command->blockCount);
        return answer(*command, int(sizes.size()) - 1);
    }

    static std::vector<int> numbersOf(const felica::ReadCommand& command)
    {
        std::vector<int> numbers;
        for (qsizetype i = 1; i < command.blockList.size(); i += 2)
            numbers.push_back(std::uint8_t(command.blockList[i]));
        return numbers;
    }

    static TransceiveResult blocksFor(const felica::ReadCommand& command,
                                      const felica::Idm& idm = kIdm)
    {
        QByteArray data;
        for (int n : numbersOf(command))
            data.append(blockBytes(n));
        return {TransceiveStatus::Ok, felica::readResponseFrame(idm, data), {}};
    }

    static TransceiveResult status(std::uint8_t sf1, std::uint8_t sf2)
    {
        return {TransceiveStatus::Ok, felica::readErrorFrame(kIdm, sf1, sf2), {}};
    }

    static TransceiveResult failure(TransceiveStatus status) { return {status, {}, {}}; }

    Answer answer = [](const felica::ReadCommand& command, int) { return blocksFor(command); };
    std::vector<int> sizes;
    std::vector<std::chrono::milliseconds> timeouts;
};

BlockReadOutcome readTwenty(ScriptedBackend& backend, const ReadPlan& plan = {})
{
    return readBlocks(backend, kIdm, felica::kDefaultPmm, hex("0F09"), blockListOf(0, 20), plan);
}

QByteArray expectedData(int count)
{
    QByteArray data;
    for (int i = 0; i < count; ++i)
        data.append(blockBytes(i));
    return data;
}

} // namespace

Q_DECLARE_METATYPE(ScriptedBackend::Answer)

class TestFelica : public QObject
{
    Q_OBJECT

private slots:
    // Frames
    void pollingFrameBytes_data();
    void pollingFrameBytes();
    void pollingResponseParsed();
    void pollingResponseRejected_data();
    void pollingResponseRejected();
    void readFrameBytes();
    void readFrameRefusesBadLists_data();
    void readFrameRefusesBadLists();
    void readCommandRoundTrip();
    void readResponseBlocksAndStatus();
    void readResponseRejected_data();
    void readResponseRejected();
    void everyTruncationIsRejected();
    void randomFramesKeepTheInvariants();

    // Time-outs
    void pmmTimeouts_data();
    void pmmTimeouts();

    // Chunked read
    void chunkedRead_data();
    void chunkedRead();
    void badPlanIsRefused();
};

void TestFelica::pollingFrameBytes_data()
{
    QTest::addColumn<int>("systemCode");
    QTest::addColumn<int>("requestCode");
    QTest::addColumn<int>("timeSlot");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("transit") << 0x0003 << 0 << 0 << hex("060000030000");
    QTest::newRow("any card") << 0xFFFF << 0 << 1 << hex("0600FFFF0001");
    QTest::newRow("big-endian") << 0x12FE << 1 << 3 << hex("060012FE0103");
}

void TestFelica::pollingFrameBytes()
{
    QFETCH(int, systemCode);
    QFETCH(int, requestCode);
    QFETCH(int, timeSlot);
    QFETCH(QByteArray, frame);
    QCOMPARE(felica::pollingFrame(std::uint16_t(systemCode), std::uint8_t(requestCode),
                                  std::uint8_t(timeSlot)),
             frame);
}

void TestFelica::pollingResponseParsed()
{
    const auto answer = felica::parsePollingResponse(kPollingAnswer);
    QVERIFY(answer);
    QCOMPARE(answer->idm, kIdm);
    QCOMPARE(answer->pmm, felica::kDefaultPmm);
    QVERIFY(answer->requestData.isEmpty());

    const auto withSystem =
        felica::parsePollingResponse(withByte(kPollingAnswer + hex("0003"), 0, 0x14));
    QVERIFY(withSystem);
    QCOMPARE(withSystem->requestData, hex("0003"));
}

void TestFelica::pollingResponseRejected_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("length byte too big") << withByte(kPollingAnswer, 0, 0x13);
    QTest::newRow("length byte too small") << withByte(kPollingAnswer, 0, 0x11);
    QTest::newRow("short") << withByte(kPollingAnswer.chopped(2), 0, 0x10);
    QTest::newRow("long") << withByte(kPollingAnswer + hex("00030000"), 0, 0x16);
    QTest::newRow("wrong code") << withByte(kPollingAnswer, 1, 0x07);
    QTest::newRow("odd extra byte") << withByte(kPollingAnswer + hex("00"), 0, 0x13);
}

void TestFelica::pollingResponseRejected()
{
    QFETCH(QByteArray, frame);
    QVERIFY(!felica::parsePollingResponse(frame));
}

void TestFelica::readFrameBytes()
{
    QCOMPARE(felica::readWithoutEncryptionFrame(kIdm, hex("0F09"), blockListOf(0, 2)),
             hex("1206"
                 "0102030405060708"
                 "01"
                 "0F09"
                 "02"
                 "8000"
                 "8001"));
    // 12 blocks: 14 + 2 x 12 = 38 bytes, block numbers 8 to 19
    const QByteArray twelve =
        felica::readWithoutEncryptionFrame(kIdm, hex("0F09"), blockListOf(8, 12));
    QCOMPARE(twelve.size(), 38);
    QCOMPARE(std::uint8_t(twelve[0]), 38);
    QCOMPARE(twelve.sliced(10, 4), hex("010F090C"));
    QCOMPARE(twelve.sliced(14), blockListOf(8, 12));
    // a 3-byte element (block number little-endian) next to a 2-byte one
    QCOMPARE(felica::readWithoutEncryptionFrame(kIdm, hex("0F09"),
                                                hex("000201"
                                                    "8005")),
             hex("1306"
                 "0102030405060708"
                 "01"
                 "0F09"
                 "02"
                 "000201"
                 "8005"));
}

void TestFelica::readFrameRefusesBadLists_data()
{
    QTest::addColumn<QByteArray>("services");
    QTest::addColumn<QByteArray>("blocks");
    QTest::newRow("no service") << QByteArray() << blockListOf(0, 1);
    QTest::newRow("half a service") << hex("0F") << blockListOf(0, 1);
    QTest::newRow("17 services") << QByteArray(34, char(0x0F)) << blockListOf(0, 1);
    QTest::newRow("no block") << hex("0F09") << QByteArray();
    QTest::newRow("cut element") << hex("0F09") << hex("800080");
    QTest::newRow("cut 3-byte element") << hex("0F09") << hex("0001");
    QTest::newRow("over 255 bytes") << hex("0F09") << blockListOf(0, 121);
}

void TestFelica::readFrameRefusesBadLists()
{
    QFETCH(QByteArray, services);
    QFETCH(QByteArray, blocks);
    QVERIFY(felica::readWithoutEncryptionFrame(kIdm, services, blocks).isEmpty());
}

void TestFelica::readCommandRoundTrip()
{
    const QByteArray frame =
        felica::readWithoutEncryptionFrame(kIdm, hex("0F09"), blockListOf(3, 5));
    const auto command = felica::parseReadWithoutEncryptionFrame(frame);
    QVERIFY(command);
    QCOMPARE(command->idm, kIdm);
    QCOMPARE(command->serviceCodeList, hex("0F09"));
    QCOMPARE(command->blockCount, 5);
    QCOMPARE(command->blockList, blockListOf(3, 5));
    // The declared count must match the list.
    QByteArray lying = frame;
    lying[13] = char(6);
    QVERIFY(!felica::parseReadWithoutEncryptionFrame(lying));
    QVERIFY(!felica::parseReadWithoutEncryptionFrame(frame.chopped(1)));
}

void TestFelica::readResponseBlocksAndStatus()
{
    const QByteArray data = blockBytes(1) + blockBytes(2);
    const QByteArray frame = felica::readResponseFrame(kIdm, data);
    QCOMPARE(frame.left(13), hex("2D07"
                                 "0102030405060708"
                                 "0000"
                                 "02"));
    QCOMPARE(frame.size(), 45);
    const auto answer = felica::parseReadResponse(frame, kIdm, 2);
    QCOMPARE(answer.kind, felica::ReadAnswer::Kind::Blocks);
    QCOMPARE(answer.blockData, data);

    const QByteArray refusal = felica::readErrorFrame(kIdm, 0xFF, 0xA2);
    QCOMPARE(refusal, hex("0C07"
                          "0102030405060708"
                          "FFA2"));
    const auto status = felica::parseReadResponse(refusal, kIdm, 12);
    QCOMPARE(status.kind, felica::ReadAnswer::Kind::Status);
    QCOMPARE(status.statusFlag1, std::uint8_t(0xFF));
    QCOMPARE(status.statusFlag2, std::uint8_t(0xA2));
}

void TestFelica::readResponseRejected_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("expected");
    const QByteArray good = felica::readResponseFrame(kIdm, blockBytes(0) + blockBytes(1));
    QTest::newRow("empty") << QByteArray() << 2;
    QTest::newRow("only a length byte") << hex("01") << 2;
    QTest::newRow("wrong response code") << withByte(good, 1, 0x01) << 2;
    QTest::newRow("other card") << felica::readResponseFrame(kOtherIdm,
                                                             blockBytes(0) + blockBytes(1))
                                << 2;
    QTest::newRow("count byte lies") << withByte(good, 12, 3) << 2;
    QTest::newRow("fewer blocks than asked") << good << 3;
    QTest::newRow("more blocks than asked") << good << 1;
    QTest::newRow("length byte says more") << withByte(good, 0, int(good.size()) + 1) << 2;
    QTest::newRow("trailing byte") << good + hex("00") << 2;
    QTest::newRow("status frame with data")
        << felica::readErrorFrame(kIdm, 0xFF, 0xA2) + hex("00") << 2;
}

void TestFelica::readResponseRejected()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, expected);
    QCOMPARE(felica::parseReadResponse(frame, kIdm, expected).kind,
             felica::ReadAnswer::Kind::Malformed);
}

void TestFelica::everyTruncationIsRejected()
{
    // Cutting a good answer anywhere, with the length byte fixed up or not, never yields data.
    const QByteArray good = felica::readResponseFrame(kIdm, expectedData(12));
    for (qsizetype size = 0; size < good.size(); ++size) {
        QByteArray cut = good.left(size);
        QCOMPARE(felica::parseReadResponse(cut, kIdm, 12).kind,
                 felica::ReadAnswer::Kind::Malformed);
        if (size > 0) {
            cut[0] = char(size);
            QVERIFY(felica::parseReadResponse(cut, kIdm, 12).kind !=
                    felica::ReadAnswer::Kind::Blocks);
            QVERIFY(!felica::parsePollingResponse(cut) || size == 18);
        }
    }
}

void TestFelica::randomFramesKeepTheInvariants()
{
    // Mutated and random frames: whatever the parsers accept is consistent with its bytes.
    QRandomGenerator random(20261207);
    const QByteArray good = felica::readResponseFrame(kIdm, expectedData(4));
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        QByteArray frame = (round % 3 == 0)   ? good
                           : (round % 3 == 1) ? kPollingAnswer
                                              : QByteArray();
        if (frame.isEmpty()) {
            frame.resize(random.bounded(0, 80));
            for (auto& c : frame)
                c = char(random.bounded(256));
        } else {
            for (int flips = random.bounded(1, 4); flips > 0; --flips)
                frame[random.bounded(frame.size())] = char(random.bounded(256));
            if (random.bounded(4) == 0)
                frame.truncate(random.bounded(frame.size()));
        }
        const int expected = random.bounded(1, 16);
        const auto read = felica::parseReadResponse(frame, kIdm, expected);
        if (read.kind == felica::ReadAnswer::Kind::Blocks) {
            ++accepted;
            QCOMPARE(read.blockData.size(), qsizetype(expected) * felica::kBlockSize);
            QCOMPARE(frame.right(read.blockData.size()), read.blockData);
            QCOMPARE(frame.sliced(2, 8), QByteArray(reinterpret_cast<const char*>(kIdm.data()), 8));
        }
        if (const auto answer = felica::parsePollingResponse(frame)) {
            ++accepted;
            QCOMPARE(std::uint8_t(frame[0]), std::uint8_t(frame.size()));
            QCOMPARE(answer->pmm[7], std::uint8_t(frame[17]));
        }
        if (const auto command = felica::parseReadWithoutEncryptionFrame(frame))
            QCOMPARE(felica::readWithoutEncryptionFrame(command->idm, command->serviceCodeList,
                                                        command->blockList),
                     frame);
    }
    QVERIFY(accepted > 0); // some mutations only touch block data and stay valid
}

void TestFelica::pmmTimeouts_data()
{
    QTest::addColumn<int>("parameter");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<qint64>("microseconds");
    QTest::addColumn<qint64>("milliseconds");
    // 0x85: A = 5, B = 0, E = 2: 302.064 us x (n + 6) x 16
    QTest::newRow("transit card, 12 blocks") << 0x85 << 12 << qint64(86995) << qint64(87);
    QTest::newRow("transit card, 8 blocks") << 0x85 << 8 << qint64(67663) << qint64(68);
    QTest::newRow("transit card, 1 block") << 0x85 << 1 << qint64(33832) << qint64(34);
    // 0x00: 302.064 us x (n + 1), below the floor
    QTest::newRow("fast card") << 0x00 << 1 << qint64(605) << qint64(20);
    // 0x4B: A = 3, B = 1, E = 1: 302.064 us x (2n + 4) x 4
    QTest::newRow("B and E both count") << 0x4B << 4 << qint64(14500) << qint64(20);
    QTest::newRow("B and E, more blocks") << 0x4B << 15 << qint64(41081) << qint64(42);
    // 0xFF: A = 7, B = 7, E = 3: capped
    QTest::newRow("slowest card") << 0xFF << 15 << qint64(2474509) << qint64(1000);
}

void TestFelica::pmmTimeouts()
{
    QFETCH(int, parameter);
    QFETCH(int, blocks);
    QFETCH(qint64, microseconds);
    QFETCH(qint64, milliseconds);
    felica::Pmm pmm = felica::kDefaultPmm;
    pmm[5] = std::uint8_t(parameter);
    QCOMPARE(qint64(felica::pmmResponseTime(pmm, felica::PmmCommand::Read, blocks).count()),
             microseconds);
    QCOMPARE(qint64(felica::responseTimeout(pmm, felica::PmmCommand::Read, blocks).count()),
             milliseconds);
}

// How the read splits the 20 blocks into commands, falls back to fours and ones, and ends,
// against cards that answer in every way they can.
void TestFelica::chunkedRead_data()
{
    using Answer = ScriptedBackend::Answer;
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("blocksRead");
    QTest::addColumn<std::vector<int>>("sizes");
    QTest::addColumn<int>("statusFlags");
    QTest::newRow("a good card: 12 and 8")
        << ScriptedBackend().answer << true << 20 << std::vector<int>{12, 8} << 0;
    // More than 4 blocks per command are refused: after a clean read the flags are 0 again.
    QTest::newRow("status error: retried in fours")
        << Answer([](const felica::ReadCommand& command, int) {
               return command.blockCount > 4 ? ScriptedBackend::status(0xFF, 0xA2)
                                             : ScriptedBackend::blocksFor(command);
           })
        << true << 20 << std::vector<int>{12, 4, 4, 4, 8, 4, 4} << 0;
    // Block 5 cannot be read together with others; alone it answers.
    QTest::newRow("time-out: retried in fours, then ones")
        << Answer([](const felica::ReadCommand& command, int) {
               const auto numbers = ScriptedBackend::numbersOf(command);
               const bool hasFive = std::find(numbers.begin(), numbers.end(), 5) != numbers.end();
               return hasFive && numbers.size() > 1
                          ? ScriptedBackend::failure(TransceiveStatus::Timeout)
                          : ScriptedBackend::blocksFor(command);
           })
        << true << 20 << std::vector<int>{12, 4, 4, 1, 1, 1, 1, 4, 8} << 0;
    // The first chunk answered, then never again: 8 fails, its first 4 fail, the first single
    // block fails: the read is over.
    QTest::newRow("silent card fails the read")
        << Answer([](const felica::ReadCommand& command, int call) {
               return call > 0 ? ScriptedBackend::failure(TransceiveStatus::Timeout)
                               : ScriptedBackend::blocksFor(command);
           })
        << false << 12 << std::vector<int>{12, 8, 4, 1} << 0;
    // A card with only 10 history slots: 12 refused; 0-3, 4-7 read; 8-11 refused; 8, 9 read;
    // 10 does not exist.
    QTest::newRow("missing block ends the read")
        << Answer([](const felica::ReadCommand& command, int) {
               const auto numbers = ScriptedBackend::numbersOf(command);
               return *std::max_element(numbers.begin(), numbers.end()) >= 10
                          ? ScriptedBackend::status(0xFF, felica::kStatusIllegalBlockNumber)
                          : ScriptedBackend::blocksFor(command);
           })
        << true << 10 << std::vector<int>{12, 4, 4, 4, 1, 1, 1}
        << (0xFF00 | felica::kStatusIllegalBlockNumber);
    QTest::newRow("missing first block: an empty read")
        << Answer([](const felica::ReadCommand&, int) {
               return ScriptedBackend::status(0xFF, felica::kStatusIllegalBlockNumber);
           })
        << true << 0 << std::vector<int>{12, 4, 1} << (0xFF00 | felica::kStatusIllegalBlockNumber);
    // The first answer is cut short; the retry gets clean answers.
    QTest::newRow("garbled answer is retried, not trusted")
        << Answer([](const felica::ReadCommand& command, int call) {
               TransceiveResult result = ScriptedBackend::blocksFor(command);
               if (call == 0)
                   result.frame.chop(5);
               return result;
           })
        << true << 20 << std::vector<int>{12, 4, 4, 4, 8} << 0;
    QTest::newRow("another card's IDm is not trusted")
        << Answer([](const felica::ReadCommand& command, int) {
               return ScriptedBackend::blocksFor(command, kOtherIdm);
           })
        << false << 0 << std::vector<int>{12, 4, 1} << 0;
    QTest::newRow("lost card fails at once") << Answer([](const felica::ReadCommand&, int) {
        return ScriptedBackend::failure(TransceiveStatus::NoCard);
    }) << false << 0 << std::vector<int>{12} << 0;
}

void TestFelica::chunkedRead()
{
    QFETCH(ScriptedBackend::Answer, answer);
    QFETCH(bool, ok);
    QFETCH(std::vector<int>, sizes);
    ScriptedBackend backend;
    backend.answer = answer;
    const auto outcome = readTwenty(backend);
    QCOMPARE(outcome.ok, ok);
    QVERIFY2(ok || !outcome.error.isEmpty(), "a failed read says why");
    QTEST(outcome.blocksRead, "blocksRead");
    QCOMPARE(outcome.blockData, expectedData(outcome.blocksRead));
    QCOMPARE(backend.sizes, sizes);
    QCOMPARE(outcome.commands, int(sizes.size()));
    QTEST(outcome.statusFlag1 << 8 | outcome.statusFlag2, "statusFlags");
    // Each command waits as long as the card's PMm gives for its number of blocks.
    for (std::size_t i = 0; i < sizes.size(); ++i)
        QCOMPARE(backend.timeouts[i],
                 felica::responseTimeout(felica::kDefaultPmm, felica::PmmCommand::Read, sizes[i]));
}

void TestFelica::badPlanIsRefused()
{
    ScriptedBackend backend;
    QVERIFY(!readTwenty(backend, ReadPlan{{16, 1}}).ok);
    QVERIFY(!readTwenty(backend, ReadPlan{{}}).ok);
    QVERIFY(!readTwenty(backend, ReadPlan{{0}}).ok);
    QVERIFY(backend.sizes.empty());
    QVERIFY(readTwenty(backend, ReadPlan{{15, 1}}).ok);
    QCOMPARE(backend.sizes, (std::vector<int>{15, 5}));
}

QTEST_GUILESS_MAIN(TestFelica)
#include "test_felica.moc"
