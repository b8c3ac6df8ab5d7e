#include "backendtesthelpers.h"
#include "card/backends/pcscapdus.h"
#include "card/backends/pcscbackend.h"

#include <PCSC/pcsclite.h>
#include <QRandomGenerator>
#include <QTest>
#include <deque>
#include <mutex>
#include <thread>

using ridelog::card::testing::PresenceRecorder;
using namespace ridelog::card;
using namespace std::chrono_literals;
using pcsc::ReaderFamily;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

const QString sonyReader = QStringLiteral("Sony FeliCa Port/PaSoRi 4.0 00 00");
const QString acr122Reader = QStringLiteral("ACS ACR122U PICC Interface 00 00");
const QString acr1252Reader =
    QStringLiteral("ACS ACR1252 1S CL Reader [ACR1252 Reader PICC] 00 00");
const QString tokenReader = QStringLiteral("Yubico YubiKey OTP+FIDO+CCID 00 00");

const QByteArray idm = hex("012e44a0b1c2d3e4");
const QByteArray pollingFrame = hex("060000030100");
const QByteArray pollingResponse = hex("1401012e44a0b1c2d3e4100b4b428485d0ff0003");
const QByteArray readFrame = hex("1006012e44a0b1c2d3e4010f09018000");
const QByteArray readResponse = hex("1d07012e44a0b1c2d3e4000001160100022d1ce87a10018c1300000001");

// The PC/SC calls of one test: readers, scripted APDU exchanges and status changes.
struct PcscScript
{
    struct Exchange
    {
        QByteArray apdu;
        QByteArray answer;
        LONG code = SCARD_S_SUCCESS;
    };
    struct StatusChange
    {
        DWORD plugAndPlay = 0;
        DWORD reader = 0;
    };

    std::mutex mutex;
    LONG establishCode = SCARD_S_SUCCESS;
    LONG connectCode = SCARD_S_SUCCESS;
    QStringList readers;
    std::deque<Exchange> exchanges;
    std::deque<StatusChange> statusChanges;
    QStringList problems;
    int contextsOpen = 0;
    int connects = 0;
    int disconnects = 0;
    int transmits = 0;
    int cancels = 0;

    void expect(const QByteArray& apdu, const QByteArray& answer, LONG code = SCARD_S_SUCCESS)
    {
        std::lock_guard lock(mutex);
        exchanges.push_back({apdu, answer, code});
    }
    void change(DWORD plugAndPlay, DWORD reader)
    {
        std::lock_guard lock(mutex);
        statusChanges.push_back({plugAndPlay, reader});
    }
    template <typename T> T read(const T& field)
    {
        std::lock_guard lock(mutex);
        return field;
    }
};

class FakePcscApi : public PcscApi
{
public:
    explicit FakePcscApi(std::shared_ptr<PcscScript> script)
        : script_(std::move(script))
    {}

    LONG establishContext(SCARDCONTEXT* context) override
    {
        std::lock_guard lock(script_->mutex);
        if (script_->establishCode == SCARD_S_SUCCESS) {
            *context = ++nextContext_;
            ++script_->contextsOpen;
        }
        return script_->establishCode;
    }
    LONG releaseContext(SCARDCONTEXT) override
    {
        std::lock_guard lock(script_->mutex);
        --script_->contextsOpen;
        return SCARD_S_SUCCESS;
    }
    LONG listReaders(SCARDCONTEXT, QStringList* readers) override
    {
        std::lock_guard lock(script_->mutex);
        *readers = script_->readers;
        return readers->isEmpty() ? SCARD_E_NO_READERS_AVAILABLE : SCARD_S_SUCCESS;
    }
    LONG getStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE* states, DWORD count) override
    {
        {
            std::lock_guard lock(script_->mutex);
            if (!script_->statusChanges.empty()) {
                const PcscScript::StatusChange change = script_->statusChanges.front();
                script_->statusChanges.pop_front();
                states[0].dwEventState = change.plugAndPlay;
                if (count > 1)
                    states[1].dwEventState = change.reader;
                return SCARD_S_SUCCESS;
            }
        }
        std::this_thread::sleep_for(5ms);
        return SCARD_E_TIMEOUT;
    }
    LONG cancel(SCARDCONTEXT) override
    {
        std::lock_guard lock(script_->mutex);
        ++script_->cancels;
        return SCARD_S_SUCCESS;
    }
    LONG connect(SCARDCONTEXT, const QString& reader, SCARDHANDLE* card, DWORD* protocol) override
    {
        std::lock_guard lock(script_->mutex);
        ++script_->connects;
        if (!script_->readers.contains(reader))
            return SCARD_E_UNKNOWN_READER;
        *card = 77;
        *protocol = SCARD_PROTOCOL_T1;
        return script_->connectCode;
    }
    LONG disconnect(SCARDHANDLE) override
    {
        std::lock_guard lock(script_->mutex);
        ++script_->disconnects;
        return SCARD_S_SUCCESS;
    }
    LONG transmit(SCARDHANDLE card, DWORD protocol, const QByteArray& command,
                  QByteArray* response) override
    {
        std::lock_guard lock(script_->mutex);
        ++script_->transmits;
        if (card != 77 || protocol != SCARD_PROTOCOL_T1)
            script_->problems << QStringLiteral("transmit on a card that was never connected");
        if (script_->exchanges.empty()) {
            script_->problems << QStringLiteral("unexpected APDU ") +
                                     QString::fromLatin1(command.toHex(' '));
            return SCARD_E_NOT_TRANSACTED;
        }
        const PcscScript::Exchange exchange = script_->exchanges.front();
        script_->exchanges.pop_front();
        if (exchange.apdu != command)
            script_->problems << QStringLiteral("sent %1, expected %2")
                                     .arg(QString::fromLatin1(command.toHex(' ')),
                                          QString::fromLatin1(exchange.apdu.toHex(' ')));
        *response = exchange.answer;
        return exchange.code;
    }

private:
    std::shared_ptr<PcscScript> script_;
    SCARDCONTEXT nextContext_ = 100;
};

struct Rig
{
    std::shared_ptr<PcscScript> script = std::make_shared<PcscScript>();
    std::unique_ptr<PcscBackend> backend;

    explicit Rig(QStringList readers, const QString& wanted = {})
    {
        script->readers = std::move(readers);
        backend = std::make_unique<PcscBackend>(std::make_unique<FakePcscApi>(script), wanted);
    }
    QString problems() { return script->read(script->problems).join(QLatin1Char('\n')); }
    bool allExchanged() { return script->read(script->exchanges).empty(); }
};

const char idmAnswer[] = "012e44a0b1c2d3e49000";
const char sessionOk[] = "c00300900090 00";

// Answer of a transparent exchange carrying the card's frame.
QByteArray transparentAnswer(const QByteArray& frame)
{
    return hex("c0030090009201009602000097") + char(frame.size()) + frame + hex("9000");
}

void expectTransparentConnect(PcscScript& script)
{
    script.expect(hex("ffca000000"), hex(idmAnswer));
    script.expect(hex("ffc2000002810000"), hex(sessionOk));
    script.expect(hex("ffc20002048f02030000"), hex(sessionOk));
}

} // namespace

class TestPcsc : public QObject
{
    Q_OBJECT

private slots:
    // APDU forms per reader family
    void familyFromReaderName_data();
    void familyFromReaderName();
    void apduBytes_data();
    void apduBytes();
    void transparentAnswerWithLongLength();
    void randomAnswersNeverPassAsFrames();

    // Complete exchanges per family
    void rcs300ReadsThroughTheTransparentSession();
    void acr122ReadsThroughCommunicateThru();
    void extraCommandsThroughEachFamily();
    void acsReaderReadsThroughDirectTransmit();
    void nameSaysReaderInUse();
    void namedReaderIsChosen();

    // Faults
    void errorAnswersFailTheRead_data();
    void errorAnswersFailTheRead();
    void openFailuresNameTheCause_data();
    void openFailuresNameTheCause();
    void readerInUseByAnotherProgram();
    void nonFelicaCardIsRefused();
    void cardRemovedBetweenChunks();
    void readerUnpluggedMidRead();
    void sessionRefusedIsReported();

    // Presence and hot-plug
    void presenceFollowsTheReaderState();
    void unpluggedReaderComesBackThroughHotPlug();
    void presenceBeforeOpenWatchesNothing();
};

void TestPcsc::familyFromReaderName_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<ReaderFamily>("family");
    QTest::newRow("RC-S300/P") << sonyReader << ReaderFamily::Transparent;
    QTest::newRow("RC-S300/S") << QStringLiteral("SONY FeliCa RC-S300/S 01 00")
                               << ReaderFamily::Transparent;
    QTest::newRow("ACR122U") << acr122Reader << ReaderFamily::Acr122;
    QTest::newRow("ACR1252U") << acr1252Reader << ReaderFamily::AcsDirect;
    QTest::newRow("token") << tokenReader << ReaderFamily::Unknown;
}

void TestPcsc::familyFromReaderName()
{
    QFETCH(QString, reader);
    QFETCH(ReaderFamily, family);
    QCOMPARE(pcsc::familyOfReader(reader), family);
}

void TestPcsc::apduBytes_data()
{
    QTest::addColumn<QByteArray>("apdu");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("GET DATA IDm") << pcsc::getIdmApdu() << hex("ffca000000");
    QTest::newRow("ACR122 InCommunicateThru")
        << pcsc::acr122CommunicateThru(pollingFrame) << hex("ff00000008d442060000030100");
    QTest::newRow("ACS direct transmit")
        << pcsc::acsDirectTransmit(pollingFrame) << hex("ff00000006060000030100");
    QTest::newRow("transparent exchange, 100 ms")
        << pcsc::transparentExchange(pollingFrame, 100ms)
        << hex("ffc200010f5f4604a086010095060600000301 0000");
    QTest::newRow("start session") << pcsc::startTransparentSession() << hex("ffc2000002810000");
    QTest::newRow("end session") << pcsc::endTransparentSession() << hex("ffc2000002820000");
    QTest::newRow("switch to FeliCa") << pcsc::switchToFelica() << hex("ffc20002048f02030000");
    QTest::newRow("too long for one APDU")
        << pcsc::acsDirectTransmit(QByteArray(256, '\x01')) << QByteArray();
}

void TestPcsc::apduBytes()
{
    QFETCH(QByteArray, apdu);
    QFETCH(QByteArray, expected);
    QCOMPARE(apdu.toHex(' '), expected.toHex(' '));
}

void TestPcsc::transparentAnswerWithLongLength()
{
    QByteArray frame(0x90, '\x07');
    frame[0] = char(0x90);
    const QByteArray answer = hex("c003009000978190") + frame + hex("9000");
    const TransceiveResult result = pcsc::unwrapResponse(ReaderFamily::Transparent, answer, false);
    QCOMPARE(result.status, TransceiveStatus::Ok);
    QCOMPARE(result.frame, frame);
}

void TestPcsc::randomAnswersNeverPassAsFrames()
{
    QRandomGenerator random(20261207);
    const QByteArray valid =
        hex("c0030090009201009602000097") + char(readResponse.size()) + readResponse + hex("9000");
    for (int round = 0; round < 5000; ++round) {
        QByteArray answer = valid;
        if (round % 2 == 0) {
            answer.resize(random.bounded(int(valid.size()) + 8));
            for (char& byte : answer)
                byte = char(random.bounded(256));
        } else {
            answer[random.bounded(int(answer.size()))] = char(random.bounded(256));
            answer.truncate(random.bounded(int(answer.size()) + 1));
        }
        for (ReaderFamily family :
             {ReaderFamily::Transparent, ReaderFamily::Acr122, ReaderFamily::AcsDirect}) {
            const TransceiveResult result = pcsc::unwrapResponse(family, answer, false);
            if (result.status == TransceiveStatus::Ok) {
                QVERIFY(!result.frame.isEmpty());
                QCOMPARE(int(std::uint8_t(result.frame[0])), int(result.frame.size()));
            } else {
                QVERIFY(result.frame.isEmpty());
                QVERIFY(!result.error.isEmpty());
            }
        }
    }
}

void TestPcsc::rcs300ReadsThroughTheTransparentSession()
{
    Rig rig({tokenReader, sonyReader});
    QString error;
    QVERIFY2(rig.backend->open(&error), qPrintable(error));

    expectTransparentConnect(*rig.script);
    rig.script->expect(pcsc::transparentExchange(pollingFrame, 100ms),
                       transparentAnswer(pollingResponse));
    rig.script->expect(hex("ffc20001195f4604a08601009510") + readFrame + hex("00"),
                       transparentAnswer(readResponse));

    const TransceiveResult polled = rig.backend->transceive(pollingFrame, 100ms);
    QCOMPARE(polled.status, TransceiveStatus::Ok);
    QCOMPARE(polled.frame.toHex(), pollingResponse.toHex());
    QCOMPARE(rig.backend->lastIdm(), idm);
    const TransceiveResult read = rig.backend->transceive(readFrame, 100ms);
    QCOMPARE(read.status, TransceiveStatus::Ok);
    QCOMPARE(read.frame.toHex(), readResponse.toHex());

    rig.script->expect(hex("ffc2000002820000"), hex(sessionOk));
    rig.backend->close();
    QVERIFY(rig.allExchanged());
    QCOMPARE(rig.script->read(rig.script->disconnects), 1);
    QCOMPARE(rig.script->read(rig.script->contextsOpen), 0);
    QVERIFY2(rig.problems().isEmpty(), qPrintable(rig.problems()));
}

void TestPcsc::extraCommandsThroughEachFamily()
{
    {
        // RC-S300: transparent exchanges carrying the time-outs of the PMm, 44 and 78 ms in us.
        Rig rig({sonyReader});
        QVERIFY(rig.backend->open(nullptr));
        expectTransparentConnect(*rig.script);
        rig.script->expect(pcsc::transparentExchange(pollingFrame, 100ms),
                           transparentAnswer(pollingResponse));
        QCOMPARE(rig.backend->transceive(pollingFrame, 100ms).status, TransceiveStatus::Ok);
        rig.script->expect(hex("ffc200011d5f4604e0ab00009514") + testing::kGateLogFrame + hex("00"),
                           transparentAnswer(testing::kGateLogResponse));
        rig.script->expect(hex("ffc20001505f4604b03001009547") + testing::kRequestServiceFrame +
                               hex("00"),
                           transparentAnswer(testing::kRequestServiceResponse));
        const QString problem = testing::sendExtraCommands(*rig.backend);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY(rig.allExchanged());
    }
    {
        // ACR122: InCommunicateThru, the card's frame after D4 42.
        Rig rig({acr122Reader});
        QVERIFY(rig.backend->open(nullptr));
        rig.script->expect(hex("ffca000000"), hex(idmAnswer));
        rig.script->expect(pcsc::acr122CommunicateThru(pollingFrame),
                           hex("d54300") + pollingResponse + hex("9000"));
        QCOMPARE(rig.backend->transceive(pollingFrame, 100ms).status, TransceiveStatus::Ok);
        rig.script->expect(hex("ff00000016d442") + testing::kGateLogFrame,
                           hex("d54300") + testing::kGateLogResponse + hex("9000"));
        rig.script->expect(hex("ff00000049d442") + testing::kRequestServiceFrame,
                           hex("d54300") + testing::kRequestServiceResponse + hex("9000"));
        const QString problem = testing::sendExtraCommands(*rig.backend);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY(rig.allExchanged());
    }
}

void TestPcsc::acr122ReadsThroughCommunicateThru()
{
    Rig rig({acr122Reader});
    QVERIFY(rig.backend->open(nullptr));
    rig.script->expect(hex("ffca000000"), hex(idmAnswer));
    rig.script->expect(hex("ff00000008d442060000030100"),
                       hex("d54300") + pollingResponse + hex("9000"));
    rig.script->expect(hex("ff00000012d442") + readFrame,
                       hex("d54300") + readResponse + hex("9000"));
    QCOMPARE(rig.backend->transceive(pollingFrame, 100ms).frame, pollingResponse);
    QCOMPARE(rig.backend->transceive(readFrame, 100ms).frame, readResponse);
    rig.backend->close(); // no transparent session to end
    QVERIFY(rig.allExchanged());
    QVERIFY2(rig.problems().isEmpty(), qPrintable(rig.problems()));
}

void TestPcsc::acsReaderReadsThroughDirectTransmit()
{
    Rig rig({acr1252Reader});
    QVERIFY(rig.backend->open(nullptr));
    rig.script->expect(hex("ffca000000"), hex(idmAnswer));
    rig.script->expect(hex("ff00000006060000030100"), pollingResponse + hex("9000"));
    rig.script->expect(hex("ff00000010") + readFrame, readResponse + hex("9000"));
    QCOMPARE(rig.backend->transceive(pollingFrame, 100ms).frame, pollingResponse);
    QCOMPARE(rig.backend->transceive(readFrame, 100ms).frame, readResponse);
    QVERIFY(rig.allExchanged());
    QVERIFY2(rig.problems().isEmpty(), qPrintable(rig.problems()));
}

void TestPcsc::nameSaysReaderInUse()
{
    Rig rig({sonyReader});
    QCOMPARE(rig.backend->name(), QStringLiteral("PC/SC のカードリーダ"));
    QVERIFY(rig.backend->open(nullptr));
    QCOMPARE(rig.backend->name(), sonyReader + QStringLiteral(" (PC/SC)"));
}

void TestPcsc::namedReaderIsChosen()
{
    Rig rig({sonyReader, tokenReader}, QStringLiteral("yubikey"));
    QVERIFY(rig.backend->open(nullptr));
    QCOMPARE(rig.backend->name(), tokenReader + QStringLiteral(" (PC/SC)"));
}

void TestPcsc::errorAnswersFailTheRead_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<TransceiveStatus>("status");
    QTest::newRow("transparent: no answer to Polling")
        << sonyReader << pollingFrame << hex("c00301640190009000") << TransceiveStatus::NoCard;
    QTest::newRow("transparent: no answer to Read")
        << sonyReader << readFrame << hex("c00301640190009000") << TransceiveStatus::Timeout;
    QTest::newRow("transparent: error status")
        << sonyReader << readFrame << hex("c00301 6a81 9000") << TransceiveStatus::Error;
    QTest::newRow("transparent: garbled TLV")
        << sonyReader << readFrame << hex("c0030090009730019000") << TransceiveStatus::Error;
    QTest::newRow("transparent: frame length wrong")
        << sonyReader << readFrame << hex("c003009000970305079000") << TransceiveStatus::Error;
    QTest::newRow("refused APDU") << sonyReader << readFrame << hex("6a81")
                                  << TransceiveStatus::Error;
    QTest::newRow("one byte") << sonyReader << readFrame << hex("90") << TransceiveStatus::Error;
    QTest::newRow("ACR122: time-out")
        << acr122Reader << readFrame << hex("d5430190 00") << TransceiveStatus::Timeout;
    QTest::newRow("ACR122: RF error")
        << acr122Reader << readFrame << hex("d5430b9000") << TransceiveStatus::Error;
    QTest::newRow("ACR122: not a PN532 answer")
        << acr122Reader << readFrame << hex("d54b9000") << TransceiveStatus::Error;
    QTest::newRow("ACS: empty answer to Polling")
        << acr1252Reader << pollingFrame << hex("9000") << TransceiveStatus::NoCard;
    QTest::newRow("ACS: oversized frame")
        << acr1252Reader << readFrame << readResponse + hex("00009000") << TransceiveStatus::Error;
    QTest::newRow("ACS: failure status word")
        << acr1252Reader << readFrame << hex("6300") << TransceiveStatus::Timeout;
}

void TestPcsc::errorAnswersFailTheRead()
{
    QFETCH(QString, reader);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, answer);
    QFETCH(TransceiveStatus, status);
    Rig rig({reader});
    QVERIFY(rig.backend->open(nullptr));
    const ReaderFamily family = pcsc::familyOfReader(reader);
    if (family == ReaderFamily::Transparent)
        expectTransparentConnect(*rig.script);
    else
        rig.script->expect(hex("ffca000000"), hex(idmAnswer));
    rig.script->expect(pcsc::wrapFrame(family, frame, 100ms), answer);
    const TransceiveResult result = rig.backend->transceive(frame, 100ms);
    QCOMPARE(result.status, status);
    QVERIFY(result.frame.isEmpty());
    QVERIFY(!result.error.isEmpty());
    QVERIFY2(rig.problems().isEmpty(), qPrintable(rig.problems()));
}

void TestPcsc::openFailuresNameTheCause_data()
{
    QTest::addColumn<LONG>("establishCode");
    QTest::addColumn<QStringList>("readers");
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QString>("cause");
    QTest::newRow("pcscd not running") << LONG(SCARD_E_NO_SERVICE) << QStringList{sonyReader}
                                       << QString() << QStringLiteral("pcscd が動いていません");
    QTest::newRow("pcscd refuses") << LONG(SCARD_E_NO_ACCESS) << QStringList{sonyReader}
                                   << QString() << QStringLiteral("polkit の規則で拒まれました");
    QTest::newRow("no reader") << LONG(SCARD_S_SUCCESS) << QStringList() << QString()
                               << QStringLiteral("PC/SC のリーダが見つかりません");
    QTest::newRow("only a token") << LONG(SCARD_S_SUCCESS) << QStringList{tokenReader} << QString()
                                  << QStringLiteral("FeliCa を読める PC/SC のリーダがありません");
    QTest::newRow("named reader missing")
        << LONG(SCARD_S_SUCCESS) << QStringList{sonyReader} << QStringLiteral("ACR122")
        << QStringLiteral("「ACR122」という PC/SC のリーダはありません（あるのは ") + sonyReader;
}

void TestPcsc::openFailuresNameTheCause()
{
    QFETCH(LONG, establishCode);
    QFETCH(QStringList, readers);
    QFETCH(QString, wanted);
    QFETCH(QString, cause);
    Rig rig(readers, wanted);
    rig.script->establishCode = establishCode;
    QString error;
    QVERIFY(!rig.backend->open(&error));
    QVERIFY2(error.contains(cause), qPrintable(error));
    QCOMPARE(rig.script->read(rig.script->contextsOpen), 0);
    QCOMPARE(rig.backend->transceive(pollingFrame, 100ms).status, TransceiveStatus::Error);
}

void TestPcsc::readerInUseByAnotherProgram()
{
    Rig rig({sonyReader});
    rig.script->connectCode = SCARD_E_SHARING_VIOLATION;
    QVERIFY(rig.backend->open(nullptr));
    const TransceiveResult result = rig.backend->transceive(pollingFrame, 100ms);
    QCOMPARE(result.status, TransceiveStatus::Error);
    QVERIFY2(result.error.contains(QStringLiteral("in use by another program")),
             qPrintable(result.error));
}

void TestPcsc::nonFelicaCardIsRefused()
{
    Rig rig({sonyReader});
    QVERIFY(rig.backend->open(nullptr));
    rig.script->expect(hex("ffca000000"), hex("04a2b3c49000")); // a 4-byte UID: not FeliCa
    const TransceiveResult result = rig.backend->transceive(pollingFrame, 100ms);
    QCOMPARE(result.status, TransceiveStatus::NoCard);
    QCOMPARE(rig.script->read(rig.script->disconnects), 1);
    QVERIFY2(rig.problems().isEmpty(), qPrintable(rig.problems()));
}

void TestPcsc::cardRemovedBetweenChunks()
{
    Rig rig({acr122Reader});
    QVERIFY(rig.backend->open(nullptr));
    rig.script->expect(hex("ffca000000"), hex(idmAnswer));
    rig.script->expect(pcsc::acr122CommunicateThru(readFrame),
                       hex("d54300") + readResponse + hex("9000"));
    rig.script->expect(pcsc::acr122CommunicateThru(readFrame), {}, SCARD_W_REMOVED_CARD);
    QCOMPARE(rig.backend->transceive(readFrame, 100ms).status, TransceiveStatus::Ok);
    const TransceiveResult second = rig.backend->transceive(readFrame, 100ms);
    QCOMPARE(second.status, TransceiveStatus::NoCard);
    QCOMPARE(rig.script->read(rig.script->disconnects), 1);

    // The next card gets a fresh connection.
    rig.script->expect(hex("ffca000000"), hex(idmAnswer));
    rig.script->expect(pcsc::acr122CommunicateThru(pollingFrame),
                       hex("d54300") + pollingResponse + hex("9000"));
    QCOMPARE(rig.backend->transceive(pollingFrame, 100ms).status, TransceiveStatus::Ok);
    QCOMPARE(rig.script->read(rig.script->connects), 2);
    QVERIFY2(rig.problems().isEmpty(), qPrintable(rig.problems()));
}

void TestPcsc::readerUnpluggedMidRead()
{
    Rig rig({acr1252Reader});
    QVERIFY(rig.backend->open(nullptr));
    rig.script->expect(hex("ffca000000"), hex(idmAnswer));
    rig.script->expect(pcsc::acsDirectTransmit(readFrame), {}, SCARD_E_NO_READERS_AVAILABLE);
    const TransceiveResult result = rig.backend->transceive(readFrame, 100ms);
    QCOMPARE(result.status, TransceiveStatus::Error);
    QCOMPARE(result.error, QStringLiteral("the PC/SC reader was unplugged"));
    const int transmitsBefore = rig.script->read(rig.script->transmits);
    QCOMPARE(rig.backend->transceive(pollingFrame, 100ms).status, TransceiveStatus::Error);
    QCOMPARE(rig.script->read(rig.script->transmits), transmitsBefore);
}

void TestPcsc::sessionRefusedIsReported()
{
    Rig rig({sonyReader});
    QVERIFY(rig.backend->open(nullptr));
    rig.script->expect(hex("ffca000000"), hex(idmAnswer));
    rig.script->expect(hex("ffc2000002810000"), hex("6a81"));
    const TransceiveResult result = rig.backend->transceive(pollingFrame, 100ms);
    QCOMPARE(result.status, TransceiveStatus::Error);
    QVERIFY2(result.error.contains(QStringLiteral("transparent session")),
             qPrintable(result.error));
    QCOMPARE(rig.script->read(rig.script->disconnects), 1);
    QVERIFY2(rig.problems().isEmpty(), qPrintable(rig.problems())); // no session to end
}

void TestPcsc::presenceFollowsTheReaderState()
{
    Rig rig({sonyReader});
    QVERIFY(rig.backend->open(nullptr));
    rig.script->change(0, SCARD_STATE_CHANGED | SCARD_STATE_PRESENT);
    rig.script->change(0, SCARD_STATE_CHANGED | SCARD_STATE_EMPTY);
    rig.script->change(0, SCARD_STATE_CHANGED | SCARD_STATE_PRESENT);

    PresenceRecorder presence;
    rig.backend->startPresenceMonitor(0x0003, presence.listener());
    const QList<bool> expected{true, false, true};
    QTRY_COMPARE_WITH_TIMEOUT(presence.events(), expected, 5000);
    rig.backend->stopPresenceMonitor();
    QVERIFY(rig.script->read(rig.script->cancels) >= 1);     // the wait is cut short
    QCOMPARE(rig.script->read(rig.script->contextsOpen), 1); // only the main context is left
    rig.backend->close();
    QCOMPARE(rig.script->read(rig.script->contextsOpen), 0);
}

void TestPcsc::unpluggedReaderComesBackThroughHotPlug()
{
    Rig rig({sonyReader});
    QVERIFY(rig.backend->open(nullptr));
    PresenceRecorder presence;
    rig.script->change(0, SCARD_STATE_CHANGED | SCARD_STATE_PRESENT);
    rig.backend->startPresenceMonitor(0x0003, presence.listener());
    QTRY_COMPARE_WITH_TIMEOUT(presence.events(), QList<bool>{true}, 5000);

    // Unplugged: the reader's state turns unknown and the card is gone.
    {
        std::lock_guard lock(rig.script->mutex);
        rig.script->readers.clear();
    }
    rig.script->change(0, SCARD_STATE_CHANGED | SCARD_STATE_UNKNOWN | SCARD_STATE_IGNORE);
    const QList<bool> arrivedAndLeft{true, false};
    QTRY_COMPARE_WITH_TIMEOUT(presence.events(), arrivedAndLeft, 5000);
    const TransceiveResult whileGone = rig.backend->transceive(pollingFrame, 100ms);
    QCOMPARE(whileGone.status, TransceiveStatus::Error);
    QCOMPARE(whileGone.error, QStringLiteral("the PC/SC reader was unplugged"));

    // Plugged in again: the hot-plug notification brings it back, then a card arrives.
    {
        std::lock_guard lock(rig.script->mutex);
        rig.script->readers = QStringList{sonyReader};
    }
    rig.script->change(SCARD_STATE_CHANGED | 0x00010000, 0);
    rig.script->change(0, SCARD_STATE_CHANGED | SCARD_STATE_PRESENT);
    const QList<bool> backAgain{true, false, true};
    QTRY_COMPARE_WITH_TIMEOUT(presence.events(), backAgain, 5000);
    rig.backend->stopPresenceMonitor();

    expectTransparentConnect(*rig.script);
    rig.script->expect(pcsc::transparentExchange(pollingFrame, 100ms),
                       transparentAnswer(pollingResponse));
    QCOMPARE(rig.backend->transceive(pollingFrame, 100ms).status, TransceiveStatus::Ok);
    QVERIFY2(rig.problems().isEmpty(), qPrintable(rig.problems()));
}

void TestPcsc::presenceBeforeOpenWatchesNothing()
{
    Rig rig({sonyReader});
    rig.script->change(0, SCARD_STATE_CHANGED | SCARD_STATE_PRESENT);
    int calls = 0;
    rig.backend->startPresenceMonitor(0x0003, [&](bool) { ++calls; });
    QTest::qWait(100);
    rig.backend->stopPresenceMonitor();
    QCOMPARE(calls, 0);
    QCOMPARE(rig.script->read(rig.script->contextsOpen), 0);
}

QTEST_GUILESS_MAIN(TestPcsc)
#include "test_pcsc.moc"
