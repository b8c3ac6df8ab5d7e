#include "backendtesthelpers.h"
#include "card/backends/rcs380backend.h"
#include "card/backends/rcs380frames.h"
#include "fakes/fakeusbtransport.h"

#include <QRandomGenerator>
#include <QTest>
#include <atomic>

using namespace ridelog::card;
using namespace std::chrono_literals;
using namespace ridelog::card::testing;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// The frames of a read as they travel over USB, written out byte by byte.
// InCommRF, time-out 100 ms (1010 units of 0.1 ms), Polling for system code 0003.
const char wirePolling[] = "0000ffffff0a00f6d604f2030600000301002700";
const char wirePollingAnswer[] = "0000ffffff1b00e5d70500000000001401012e44a0b1c2d3e4100b4b428485d0"
                                 "ff00034f00";
// InCommRF, time-out 100 ms, Read Without Encryption of block 0 of service 090F.
const char wireRead[] = "0000ffffff1400ecd604f2031006012e44a0b1c2d3e4010f090180004400";
const char wireReadAnswer[] = "0000ffffff2400dcd70500000000001d07012e44a0b1c2d3e400000116010002"
                              "2d1ce87a10018c13000000014d00";

const QByteArray pollingFrame = hex("060000030100");
const QByteArray pollingResponse = hex("1401012e44a0b1c2d3e4100b4b428485d0ff0003");
const QByteArray readFrame = hex("1006012e44a0b1c2d3e4010f09018000");
const QByteArray readResponse = hex("1d07012e44a0b1c2d3e4000001160100022d1ce87a10018c1300000001");

void scriptClose(UsbScript& script)
{
    expectWire(script, wireSwitchRfOff, wireSwitchRfOk);
    script.expectWrite(hex(wireAck));
}

// InCommRF of frame with the 100 ms time-out, answered by the given USB frame.
void scriptCommunicate(UsbScript& script, const QByteArray& frame, const QByteArray& answer)
{
    script.expectWrite(rcs380::encodeFrame(hex("d604f203") + frame));
    script.answer(hex(wireAck));
    script.answer(answer);
}

QByteArray inCommRfAnswer(const char* statusAndFrame)
{
    return rcs380::encodeFrame(hex("d705") + hex(statusAndFrame));
}

// Polling for system code 0003 with the short presence time-out (20 ms: 210 units).
const QByteArray presencePolling = rcs380::encodeFrame(hex("d604d200") + pollingFrame);

void scriptPresencePoll(UsbScript& script, const QByteArray& answer)
{
    script.expectWrite(presencePolling);
    script.answer(hex(wireAck));
    script.answer(answer);
}

struct Rig
{
    std::shared_ptr<UsbScript> script = std::make_shared<UsbScript>();
    std::unique_ptr<Rcs380Backend> backend;

    Rig()
    {
        auto shared = script;
        backend = std::make_unique<Rcs380Backend>(
            [shared](QString*) { return std::make_unique<testing::FakeUsbTransport>(shared); });
    }

    QString problems() { return script->problemList().join(QLatin1Char('\n')); }

    // Scripts the reader's start-up and opens the backend over it.
    bool openAfterStartUp()
    {
        scriptRcs380StartUp(*script);
        return backend->open(nullptr);
    }
};

} // namespace

class TestRcs380 : public QObject
{
    Q_OBJECT

private slots:
    void init() { rig_ = std::make_unique<Rig>(); }
    void cleanup();

    // Framing
    void rejectsBadFrames_data();
    void rejectsBadFrames();
    void randomBytesNeverDecodeWrongly();

    // Start-up and exchange
    void startUpSendsEveryCommandInOrder_data();
    void startUpSendsEveryCommandInOrder();
    void pollingAndReadExchangeFrameByFrame();
    void extraCommandsExchangeFrameByFrame();

    // Faults
    void openerFailureIsPassedOn();
    void faultyAnswerStopsStartUp_data();
    void faultyAnswerStopsStartUp();
    void badInCommRfAnswersFailTheRead_data();
    void badInCommRfAnswersFailTheRead();
    void cardRemovedBetweenChunks();
    void usbTimeoutCancelsTheCommand();
    void unpluggedMidReadIsReportedAndLater();
    void framesThatCannotGoAreNotSent();

    // Presence
    void presenceMonitorFollowsCardsAndTheReader();
    void presenceBeforeOpenSeesNoCard();

private:
    std::unique_ptr<Rig> rig_;
};

// Whatever a test looked at, every write carried the bytes due and nothing was left unread.
void TestRcs380::cleanup()
{
    const QString problems = rig_->problems();
    rig_.reset();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestRcs380::rejectsBadFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << hex("123456789abcdef0");
    QTest::newRow("preamble only") << hex("0000ffffff");
    QTest::newRow("wrong length checksum") << hex("0000ffffff0400fdd7211101f600");
    QTest::newRow("wrong data checksum") << hex("0000ffffff0400fcd7211101f700");
    QTest::newRow("short") << hex("0000ffffff0400fcd72111");
    QTest::newRow("oversized") << hex("0000ffffff0400fcd7211101f60000");
    QTest::newRow("no postamble") << hex("0000ffffff0400fcd7211101f601");
    QTest::newRow("length beyond frame") << hex("0000ffffffff00010000");
}

void TestRcs380::rejectsBadFrames()
{
    QFETCH(QByteArray, bytes);
    const rcs380::DecodedFrame frame = rcs380::decodeFrame(bytes);
    QCOMPARE(frame.kind, rcs380::FrameKind::Invalid);
    QVERIFY(!frame.problem.isEmpty());
}

void TestRcs380::randomBytesNeverDecodeWrongly()
{
    QRandomGenerator random(20261207);
    const QByteArray valid = hex(wireReadAnswer);
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes = valid;
        if (round % 2 == 0) {
            bytes.resize(random.bounded(int(valid.size()) + 8));
            for (char& byte : bytes)
                byte = char(random.bounded(256));
        } else {
            bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
        }
        const rcs380::DecodedFrame frame = rcs380::decodeFrame(bytes);
        if (frame.kind == rcs380::FrameKind::Data) {
            // Only a frame whose every check holds: it encodes back to the same bytes.
            QCOMPARE(rcs380::encodeFrame(frame.payload), bytes);
        } else if (frame.kind == rcs380::FrameKind::Invalid) {
            QVERIFY(!frame.problem.isEmpty());
        }
    }
}

void TestRcs380::startUpSendsEveryCommandInOrder_data()
{
    QTest::addColumn<QList<QByteArray>>("stale");
    QTest::newRow("a fresh reader") << QList<QByteArray>();
    QTest::newRow("answers of a killed program drained")
        << QList<QByteArray>{hex(wirePollingAnswer), hex(wireAck)};
}

// The start-up, every frame written and read byte for byte, then the name with the firmware,
// and the close.
void TestRcs380::startUpSendsEveryCommandInOrder()
{
    QFETCH(QList<QByteArray>, stale);
    QCOMPARE(rig_->backend->name(), QStringLiteral("Sony PaSoRi RC-S380 (libusb)"));
    scriptRcs380StartUp(*rig_->script, stale);
    QString error;
    QVERIFY2(rig_->backend->open(&error), qPrintable(error));
    QVERIFY2(rig_->script->finished(), "start-up stopped early");
    QCOMPARE(rig_->backend->name(), QStringLiteral("Sony RC-S380/P (libusb、ファームウェア 1.11)"));

    scriptClose(*rig_->script);
    rig_->backend->close();
    QVERIFY(rig_->script->finished());
}

void TestRcs380::pollingAndReadExchangeFrameByFrame()
{
    QVERIFY(rig_->openAfterStartUp());

    expectWire(*rig_->script, wirePolling, wirePollingAnswer);
    expectWire(*rig_->script, wireRead, wireReadAnswer);

    const TransceiveResult polled = rig_->backend->transceive(pollingFrame, 100ms);
    QCOMPARE(polled.status, TransceiveStatus::Ok);
    QCOMPARE(polled.frame.toHex(), pollingResponse.toHex());

    const TransceiveResult read = rig_->backend->transceive(readFrame, 100ms);
    QCOMPARE(read.status, TransceiveStatus::Ok);
    QCOMPARE(read.frame.toHex(), readResponse.toHex());
    QVERIFY(rig_->script->finished());
}

void TestRcs380::extraCommandsExchangeFrameByFrame()
{
    QVERIFY(rig_->openAfterStartUp());
    // InCommRF with the time-outs the card's PMm gives: 44 ms (450 units), 78 ms (790 units).
    expectWire(*rig_->script,
               "0000ffffff1800e8d604c2011406012e44a0b1c2d3e4018f1003800080018002e600",
               "0000ffffff4400bcd70500000000003d07012e44a0b1c2d3e400000320002507200035840842aa00"
               "00000000a000250a1000358408270000000000002000250a2000357d1905aa0000000000d700");
    rig_->script->expectWrite(hex(
        "0000ffffff4b00b5d60416034702012e44a0b1c2d3e41e08180a18c818ca18c81cca1c081d0a1d481a4a1a88"
        "1a8a1a08960a9648244a2488248a24c824ca2408250a2548254a25481f4a1fc81fca1f08200a20cd00"));
    rig_->script->answer(hex(wireAck));
    rig_->script->answer(hex("0000ffffff4e00b2d70500000000004703012e44a0b1c2d3e41e0000") +
                         QByteArray(58, char(0xff)) + hex("b900"));
    const QString problem = testing::sendExtraCommands(*rig_->backend);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY(rig_->script->finished());
}

void TestRcs380::openerFailureIsPassedOn()
{
    const QString permission =
        QStringLiteral("permission denied opening the Sony PaSoRi RC-S380: install "
                       "data/60-ridelog-readers.rules (udev) and replug the reader");
    Rcs380Backend backend([&](QString* error) -> std::unique_ptr<UsbBulkTransport> {
        *error = permission;
        return nullptr;
    });
    QString error;
    QVERIFY(!backend.open(&error));
    QCOMPARE(error, permission);
    QCOMPARE(backend.transceive(pollingFrame, 100ms).status, TransceiveStatus::Error);
}

// An answer to the first command of the start-up that is not what the reader should say: the
// start-up stops there and says why.
void TestRcs380::faultyAnswerStopsStartUp_data()
{
    QTest::addColumn<bool>("acknowledged");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("problem");
    QTest::newRow("status 01") << true << hex("0000ffffff0300fdd72b01fd00")
                               << QStringLiteral("status 1");
    QTest::newRow("answer without ACK first")
        << false << hex(wireSetCommandTypeOk) << QStringLiteral("did not acknowledge");
}

void TestRcs380::faultyAnswerStopsStartUp()
{
    QFETCH(bool, acknowledged);
    QFETCH(QByteArray, answer);
    QFETCH(QString, problem);
    rig_->script->expectWrite(hex(wireAck));
    rig_->script->answerStatus(UsbStatus::Timeout);
    rig_->script->expectWrite(hex(wireSetCommandType));
    if (acknowledged)
        rig_->script->answer(hex(wireAck));
    rig_->script->answer(answer);
    rig_->script->quietWhenExhausted = true;
    QString error;
    QVERIFY(!rig_->backend->open(&error));
    QVERIFY2(error.contains(problem), qPrintable(error));
}

void TestRcs380::badInCommRfAnswersFailTheRead_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("problem");
    QByteArray wrongChecksum = hex(wireReadAnswer);
    wrongChecksum[wrongChecksum.size() - 2] = char(wrongChecksum[wrongChecksum.size() - 2] + 1);
    QTest::newRow("wrong data checksum") << wrongChecksum << QStringLiteral("checksum");
    QByteArray truncated = hex(wireReadAnswer);
    truncated.chop(5);
    QTest::newRow("short USB frame") << truncated << QStringLiteral("does not match");
    QTest::newRow("oversized USB frame")
        << hex(wireReadAnswer) + hex("0000") << QStringLiteral("does not match");
    QTest::newRow("garbage") << hex("deadbeef") << QStringLiteral("not a reader frame");
    QTest::newRow("status without frame")
        << inCommRfAnswer("00000000") << QStringLiteral("short InCommRF");
    QTest::newRow("card frame length wrong")
        << inCommRfAnswer("00000000001d0701") << QStringLiteral("garbled");
    QTest::newRow("card frame empty") << inCommRfAnswer("0000000000") << QStringLiteral("garbled");
    QTest::newRow("CRC error") << inCommRfAnswer("0400000000") << QStringLiteral("error 00000004");
    QTest::newRow("wrong response code")
        << rcs380::encodeFrame(hex("d7070000000000")) << QStringLiteral("unexpected response");
    QTest::newRow("ack instead of data") << hex(wireAck) << QStringLiteral("unexpected ACK");
}

void TestRcs380::badInCommRfAnswersFailTheRead()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, problem);
    QVERIFY(rig_->openAfterStartUp());
    scriptCommunicate(*rig_->script, readFrame, answer);
    const TransceiveResult result = rig_->backend->transceive(readFrame, 100ms);
    QCOMPARE(result.status, TransceiveStatus::Error);
    QVERIFY2(result.error.contains(problem), qPrintable(result.error));
    QVERIFY(result.frame.isEmpty());

    // The reader stays usable: the next Polling goes through.
    expectWire(*rig_->script, wirePolling, wirePollingAnswer);
    QCOMPARE(rig_->backend->transceive(pollingFrame, 100ms).status, TransceiveStatus::Ok);
}

// The card taken off after the first chunk: the reader's receive time-out is a time-out for
// the read and no card for the next Polling.
void TestRcs380::cardRemovedBetweenChunks()
{
    QVERIFY(rig_->openAfterStartUp());
    expectWire(*rig_->script, wireRead, wireReadAnswer);
    scriptCommunicate(*rig_->script, readFrame, inCommRfAnswer("8000000000"));
    scriptCommunicate(*rig_->script, pollingFrame, inCommRfAnswer("8000000000"));
    QCOMPARE(rig_->backend->transceive(readFrame, 100ms).status, TransceiveStatus::Ok);
    const TransceiveResult second = rig_->backend->transceive(readFrame, 100ms);
    QCOMPARE(second.status, TransceiveStatus::Timeout);
    QVERIFY(second.frame.isEmpty());
    QCOMPARE(rig_->backend->transceive(pollingFrame, 100ms).status, TransceiveStatus::NoCard);
}

void TestRcs380::usbTimeoutCancelsTheCommand()
{
    QVERIFY(rig_->openAfterStartUp());
    rig_->script->expectWrite(hex(wireRead));
    rig_->script->answer(hex(wireAck));
    rig_->script->answerStatus(UsbStatus::Timeout);
    rig_->script->expectWrite(hex(wireAck)); // cancels the InCommRF still running
    const TransceiveResult result = rig_->backend->transceive(readFrame, 100ms);
    QCOMPARE(result.status, TransceiveStatus::Timeout);
    QVERIFY(rig_->script->finished());
}

void TestRcs380::unpluggedMidReadIsReportedAndLater()
{
    QVERIFY(rig_->openAfterStartUp());
    rig_->script->expectWrite(hex(wireRead));
    rig_->script->answer(hex(wireAck));
    rig_->script->answerStatus(UsbStatus::NoDevice); // LIBUSB_ERROR_NO_DEVICE
    const TransceiveResult result = rig_->backend->transceive(readFrame, 100ms);
    QCOMPARE(result.status, TransceiveStatus::Error);
    QCOMPARE(result.error, QStringLiteral("the RC-S380 reader was unplugged"));

    // Later calls fail at once without touching the gone device; closing writes nothing.
    const int writesBefore = int(rig_->script->written.size());
    QCOMPARE(rig_->backend->transceive(pollingFrame, 100ms).status, TransceiveStatus::Error);
    rig_->backend->close();
    QCOMPARE(int(rig_->script->written.size()), writesBefore);
}

// Before the reader is open, and frames that are no FeliCa command, go nowhere.
void TestRcs380::framesThatCannotGoAreNotSent()
{
    const TransceiveResult closed = rig_->backend->transceive(pollingFrame, 100ms);
    QCOMPARE(closed.status, TransceiveStatus::Error);
    QVERIFY(!closed.error.isEmpty());
    QVERIFY(rig_->script->written.isEmpty());

    QVERIFY(rig_->openAfterStartUp());
    const int writesBefore = int(rig_->script->written.size());
    QCOMPARE(rig_->backend->transceive(hex("0906"), 100ms).status, TransceiveStatus::Error);
    QCOMPARE(rig_->backend->transceive(QByteArray(), 100ms).status, TransceiveStatus::Error);
    QCOMPARE(int(rig_->script->written.size()), writesBefore);
}

// A card arrives, stays, leaves and comes back; the reader is unplugged under it and plugged
// in again (a whole start-up), and the card is found again.
void TestRcs380::presenceMonitorFollowsCardsAndTheReader()
{
    QVERIFY(rig_->openAfterStartUp());
    scriptPresencePoll(*rig_->script, hex(wirePollingAnswer));
    scriptPresencePoll(*rig_->script, hex(wirePollingAnswer));
    scriptPresencePoll(*rig_->script, inCommRfAnswer("8000000000"));
    scriptPresencePoll(*rig_->script, hex(wirePollingAnswer));
    rig_->script->expectWrite(presencePolling, UsbStatus::NoDevice); // unplugged
    scriptRcs380StartUp(*rig_->script);                              // plugged in again
    scriptPresencePoll(*rig_->script, hex(wirePollingAnswer));
    rig_->script->quietWhenExhausted = true;

    PresenceRecorder presence;
    rig_->backend->startPresenceMonitor(0x0003, presence.listener());
    QTRY_VERIFY_WITH_TIMEOUT(rig_->script->finished(), 10000);
    const QList<bool> expected{true, false, true, false, true};
    QTRY_COMPARE_WITH_TIMEOUT(presence.events(), expected, 10000);
    rig_->backend->stopPresenceMonitor();

    // The reader works again for reads.
    rig_->script->quietWhenExhausted = false;
    expectWire(*rig_->script, wireRead, wireReadAnswer);
    QCOMPARE(rig_->backend->transceive(readFrame, 100ms).status, TransceiveStatus::Ok);
}

void TestRcs380::presenceBeforeOpenSeesNoCard()
{
    std::atomic<int> calls{0};
    rig_->backend->startPresenceMonitor(0x0003, [&](bool) { ++calls; });
    QTest::qWait(700);
    rig_->backend->stopPresenceMonitor();
    QCOMPARE(calls.load(), 0);
    QVERIFY(rig_->script->written.isEmpty());
}

QTEST_GUILESS_MAIN(TestRcs380)
#include "test_rcs380.moc"
