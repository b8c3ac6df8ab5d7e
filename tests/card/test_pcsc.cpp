// The PC/SC backend over scripted PC/SC calls: the APDUs of each family of reader in whole
// exchanges, the faults of readers and cards, and the presence monitor with hot-plug.
#include "backendtesthelpers.h"
#include "fakes/scriptedpcscapi.h"

#include <QRandomGenerator>
#include <QTest>

using ridelog::card::testing::PresenceRecorder;
using namespace ridelog::card;
using namespace ridelog::card::testing;
using namespace std::chrono_literals;
using pcsc::ReaderFamily;

class TestPcsc : public QObject
{
    Q_OBJECT

private slots:
    // Answers and APDUs at their bounds
    void framesBeyondOneLengthByte();
    void randomAnswersNeverPassAsFrames();

    // Complete exchanges per family
    void eachFamilyCarriesTheFrames_data();
    void eachFamilyCarriesTheFrames();
    void nameSaysWhichReader();

    // Faults
    void errorAnswersFailTheRead_data();
    void errorAnswersFailTheRead();
    void openFailuresNameTheCause_data();
    void openFailuresNameTheCause();
    void connectFailuresFailThePolling_data();
    void connectFailuresFailThePolling();
    void cardRemovedBetweenChunks();
    void readerUnpluggedMidRead();

    // Presence and hot-plug
    void presenceFollowsCardsAndHotPlug();
    void presenceBeforeOpenWatchesNothing();
};

// A frame of 144 bytes comes back in the long form of the TLV length (81 90); one of 256 bytes
// fits no APDU and is refused.
void TestPcsc::framesBeyondOneLengthByte()
{
    QByteArray frame(0x90, '\x07');
    frame[0] = char(0x90);
    const QByteArray answer = hex("c003009000978190") + frame + hex("9000");
    const TransceiveResult result = pcsc::unwrapResponse(ReaderFamily::Transparent, answer, false);
    QCOMPARE(result.status, TransceiveStatus::Ok);
    QCOMPARE(result.frame, frame);
    QVERIFY(pcsc::acsDirectTransmit(QByteArray(256, '\x01')).isEmpty());
}

void TestPcsc::randomAnswersNeverPassAsFrames()
{
    QRandomGenerator random(20261207);
    const QByteArray valid = answerCarrying(ReaderFamily::Transparent, kReadResponse);
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

void TestPcsc::eachFamilyCarriesTheFrames_data()
{
    // The APDUs carrying a Polling, a read, the read of the gate log and Request Service, and
    // the one that ends the session on closing. The RC-S300 gives each exchange the time-out
    // in microseconds: 100 ms as asked, and from the PMm 44 ms and 78 ms.
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QByteArray>("polling");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("gateLog");
    QTest::addColumn<QByteArray>("requestService");
    QTest::addColumn<QByteArray>("end");
    QTest::newRow("RC-S300: transparent session")
        << kSonyReader << hex("ffc200010f5f4604a0860100950606000003010000")
        << hex("ffc20001195f4604a08601009510") + kReadFrame + hex("00")
        << hex("ffc200011d5f4604e0ab00009514") + kGateLogFrame + hex("00")
        << hex("ffc20001505f4604b03001009547") + kRequestServiceFrame + hex("00")
        << hex("ffc2000002820000");
    QTest::newRow("ACR122: InCommunicateThru, the frame after D4 42")
        << kAcr122Reader << hex("ff00000008d442060000030100") << hex("ff00000012d442") + kReadFrame
        << hex("ff00000016d442") + kGateLogFrame << hex("ff00000049d442") + kRequestServiceFrame
        << QByteArray();
    QTest::newRow("ACR1252: direct transmit")
        << kAcr1252Reader << hex("ff00000006060000030100") << hex("ff00000010") + kReadFrame
        << hex("ff00000014") + kGateLogFrame << hex("ff00000047") + kRequestServiceFrame
        << QByteArray();
}

void TestPcsc::eachFamilyCarriesTheFrames()
{
    QFETCH(QString, reader);
    QFETCH(QByteArray, polling);
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, gateLog);
    QFETCH(QByteArray, requestService);
    QFETCH(QByteArray, end);
    const ReaderFamily family = pcsc::familyOfReader(reader);
    PcscRig rig({kTokenReader, reader}); // the token is passed over
    QString error;
    QVERIFY2(rig.backend->open(&error), qPrintable(error));

    rig.expectConnect(family);
    rig.script->expect(polling, answerCarrying(family, kPollingResponse));
    rig.script->expect(read, answerCarrying(family, kReadResponse));
    const TransceiveResult polled = rig.backend->transceive(kPollingFrame, 100ms);
    QCOMPARE(polled.status, TransceiveStatus::Ok);
    QCOMPARE(polled.frame.toHex(), kPollingResponse.toHex());
    QCOMPARE(rig.backend->lastIdm(), kIdm);
    const TransceiveResult blocks = rig.backend->transceive(kReadFrame, 100ms);
    QCOMPARE(blocks.status, TransceiveStatus::Ok);
    QCOMPARE(blocks.frame.toHex(), kReadResponse.toHex());

    rig.script->expect(gateLog, answerCarrying(family, kGateLogResponse));
    rig.script->expect(requestService, answerCarrying(family, kRequestServiceResponse));
    const QString problem = sendExtraCommands(*rig.backend);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    if (!end.isEmpty())
        rig.script->expect(end, kSessionOk);
    rig.backend->close();
    QVERIFY(rig.allExchanged());
    QCOMPARE(rig.script->read(rig.script->disconnects), 1);
    QCOMPARE(rig.script->read(rig.script->contextsOpen), 0);
    QVERIFY2(rig.problems().isEmpty(), qPrintable(rig.problems()));
}

void TestPcsc::nameSaysWhichReader()
{
    PcscRig first({kSonyReader, kTokenReader});
    QCOMPARE(first.backend->name(), QStringLiteral("PC/SC のカードリーダ"));
    QVERIFY(first.backend->open(nullptr));
    QCOMPARE(first.backend->name(), kSonyReader + QStringLiteral(" (PC/SC)"));
    // A reader asked for by a part of its name, in any case.
    PcscRig named({kSonyReader, kTokenReader}, QStringLiteral("yubikey"));
    QVERIFY(named.backend->open(nullptr));
    QCOMPARE(named.backend->name(), kTokenReader + QStringLiteral(" (PC/SC)"));
}

void TestPcsc::errorAnswersFailTheRead_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<TransceiveStatus>("status");
    QTest::newRow("transparent: no answer to Polling")
        << kSonyReader << kPollingFrame << hex("c00301640190009000") << TransceiveStatus::NoCard;
    QTest::newRow("transparent: no answer to Read")
        << kSonyReader << kReadFrame << hex("c00301640190009000") << TransceiveStatus::Timeout;
    QTest::newRow("transparent: error status")
        << kSonyReader << kReadFrame << hex("c00301 6a81 9000") << TransceiveStatus::Error;
    // The name of an RC-S300/S tells the same family as the RC-S300/P's.
    QTest::newRow("transparent: garbled TLV")
        << QStringLiteral("SONY FeliCa RC-S300/S 01 00") << kReadFrame
        << hex("c0030090009730019000") << TransceiveStatus::Error;
    QTest::newRow("transparent: frame length wrong")
        << kSonyReader << kReadFrame << hex("c003009000970305079000") << TransceiveStatus::Error;
    QTest::newRow("refused APDU") << kSonyReader << kReadFrame << hex("6a81")
                                  << TransceiveStatus::Error;
    QTest::newRow("one byte") << kSonyReader << kReadFrame << hex("90") << TransceiveStatus::Error;
    QTest::newRow("ACR122: time-out")
        << kAcr122Reader << kReadFrame << hex("d5430190 00") << TransceiveStatus::Timeout;
    QTest::newRow("ACR122: RF error")
        << kAcr122Reader << kReadFrame << hex("d5430b9000") << TransceiveStatus::Error;
    QTest::newRow("ACR122: not a PN532 answer")
        << kAcr122Reader << kReadFrame << hex("d54b9000") << TransceiveStatus::Error;
    QTest::newRow("ACS: empty answer to Polling")
        << kAcr1252Reader << kPollingFrame << hex("9000") << TransceiveStatus::NoCard;
    QTest::newRow("ACS: oversized frame")
        << kAcr1252Reader << kReadFrame << kReadResponse + hex("00009000")
        << TransceiveStatus::Error;
    QTest::newRow("ACS: failure status word")
        << kAcr1252Reader << kReadFrame << hex("6300") << TransceiveStatus::Timeout;
}

void TestPcsc::errorAnswersFailTheRead()
{
    QFETCH(QString, reader);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, answer);
    QFETCH(TransceiveStatus, status);
    PcscRig rig({reader});
    QVERIFY(rig.backend->open(nullptr));
    const ReaderFamily family = pcsc::familyOfReader(reader);
    rig.expectConnect(family);
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
    QTest::newRow("pcscd not running") << LONG(SCARD_E_NO_SERVICE) << QStringList{kSonyReader}
                                       << QString() << QStringLiteral("pcscd が動いていません");
    QTest::newRow("pcscd refuses") << LONG(SCARD_E_NO_ACCESS) << QStringList{kSonyReader}
                                   << QString() << QStringLiteral("polkit の規則で拒まれました");
    QTest::newRow("no reader") << LONG(SCARD_S_SUCCESS) << QStringList() << QString()
                               << QStringLiteral("PC/SC のリーダが見つかりません");
    QTest::newRow("only a token") << LONG(SCARD_S_SUCCESS) << QStringList{kTokenReader} << QString()
                                  << QStringLiteral("FeliCa を読める PC/SC のリーダがありません");
    QTest::newRow("named reader missing")
        << LONG(SCARD_S_SUCCESS) << QStringList{kSonyReader} << QStringLiteral("ACR122")
        << QStringLiteral("「ACR122」という PC/SC のリーダはありません（あるのは ") + kSonyReader;
}

void TestPcsc::openFailuresNameTheCause()
{
    QFETCH(LONG, establishCode);
    QFETCH(QStringList, readers);
    QFETCH(QString, wanted);
    QFETCH(QString, cause);
    PcscRig rig(readers, wanted);
    rig.script->establishCode = establishCode;
    QString error;
    QVERIFY(!rig.backend->open(&error));
    QVERIFY2(error.contains(cause), qPrintable(error));
    QCOMPARE(rig.script->read(rig.script->contextsOpen), 0);
    QCOMPARE(rig.backend->transceive(kPollingFrame, 100ms).status, TransceiveStatus::Error);
}

void TestPcsc::connectFailuresFailThePolling_data()
{
    QTest::addColumn<LONG>("connectCode");
    QTest::addColumn<QList<QByteArray>>("exchanges"); // APDU, answer, APDU, answer...
    QTest::addColumn<TransceiveStatus>("status");
    QTest::addColumn<QString>("error"); // a part of the error
    QTest::addColumn<int>("disconnects");
    QTest::newRow("reader in use by another program")
        << LONG(SCARD_E_SHARING_VIOLATION) << QList<QByteArray>() << TransceiveStatus::Error
        << QStringLiteral("in use by another program") << 0;
    QTest::newRow("a 4-byte UID: not FeliCa")
        << LONG(SCARD_S_SUCCESS) << QList<QByteArray>{hex("ffca000000"), hex("04a2b3c49000")}
        << TransceiveStatus::NoCard << QString() << 1;
    // Refused at the start: there is no session to end.
    QTest::newRow("transparent session refused")
        << LONG(SCARD_S_SUCCESS)
        << QList<QByteArray>{hex("ffca000000"), kIdmAnswer, hex("ffc2000002810000"), hex("6a81")}
        << TransceiveStatus::Error << QStringLiteral("transparent session") << 1;
}

void TestPcsc::connectFailuresFailThePolling()
{
    QFETCH(LONG, connectCode);
    QFETCH(QList<QByteArray>, exchanges);
    QFETCH(QString, error);
    PcscRig rig({kSonyReader});
    rig.script->connectCode = connectCode;
    QVERIFY(rig.backend->open(nullptr));
    for (qsizetype i = 0; i + 1 < exchanges.size(); i += 2)
        rig.script->expect(exchanges[i], exchanges[i + 1]);
    const TransceiveResult result = rig.backend->transceive(kPollingFrame, 100ms);
    QTEST(result.status, "status");
    QVERIFY(!result.error.isEmpty());
    QVERIFY2(result.error.contains(error), qPrintable(result.error));
    QTEST(rig.script->read(rig.script->disconnects), "disconnects");
    QVERIFY(rig.allExchanged());
    QVERIFY2(rig.problems().isEmpty(), qPrintable(rig.problems()));
}

void TestPcsc::cardRemovedBetweenChunks()
{
    PcscRig rig({kAcr122Reader});
    QVERIFY(rig.backend->open(nullptr));
    rig.expectConnect(ReaderFamily::Acr122);
    rig.script->expect(pcsc::acr122CommunicateThru(kReadFrame),
                       answerCarrying(ReaderFamily::Acr122, kReadResponse));
    rig.script->expect(pcsc::acr122CommunicateThru(kReadFrame), {}, SCARD_W_REMOVED_CARD);
    QCOMPARE(rig.backend->transceive(kReadFrame, 100ms).status, TransceiveStatus::Ok);
    const TransceiveResult second = rig.backend->transceive(kReadFrame, 100ms);
    QCOMPARE(second.status, TransceiveStatus::NoCard);
    QCOMPARE(rig.script->read(rig.script->disconnects), 1);

    // The next card gets a fresh connection.
    rig.expectConnect(ReaderFamily::Acr122);
    rig.script->expect(pcsc::acr122CommunicateThru(kPollingFrame),
                       answerCarrying(ReaderFamily::Acr122, kPollingResponse));
    QCOMPARE(rig.backend->transceive(kPollingFrame, 100ms).status, TransceiveStatus::Ok);
    QCOMPARE(rig.script->read(rig.script->connects), 2);
    QVERIFY2(rig.problems().isEmpty(), qPrintable(rig.problems()));
}

void TestPcsc::readerUnpluggedMidRead()
{
    PcscRig rig({kAcr1252Reader});
    QVERIFY(rig.backend->open(nullptr));
    rig.expectConnect(ReaderFamily::AcsDirect);
    rig.script->expect(pcsc::acsDirectTransmit(kReadFrame), {}, SCARD_E_NO_READERS_AVAILABLE);
    const TransceiveResult result = rig.backend->transceive(kReadFrame, 100ms);
    QCOMPARE(result.status, TransceiveStatus::Error);
    QCOMPARE(result.error, QStringLiteral("the PC/SC reader was unplugged"));
    // Gone is gone: nothing more is sent to it.
    const int transmitsBefore = rig.script->read(rig.script->transmits);
    QCOMPARE(rig.backend->transceive(kPollingFrame, 100ms).status, TransceiveStatus::Error);
    QCOMPARE(rig.script->read(rig.script->transmits), transmitsBefore);
}

void TestPcsc::presenceFollowsCardsAndHotPlug()
{
    PcscRig rig({kSonyReader});
    QVERIFY(rig.backend->open(nullptr));
    rig.script->change(0, SCARD_STATE_CHANGED | SCARD_STATE_PRESENT);
    rig.script->change(0, SCARD_STATE_CHANGED | SCARD_STATE_EMPTY);
    rig.script->change(0, SCARD_STATE_CHANGED | SCARD_STATE_PRESENT);
    PresenceRecorder presence;
    rig.backend->startPresenceMonitor(0x0003, presence.listener());
    const QList<bool> cardsChanged{true, false, true};
    QTRY_COMPARE_WITH_TIMEOUT(presence.events(), cardsChanged, 5000);

    // Unplugged: the reader's state turns unknown and the card is gone.
    rig.setReaders({});
    rig.script->change(0, SCARD_STATE_CHANGED | SCARD_STATE_UNKNOWN | SCARD_STATE_IGNORE);
    const QList<bool> unplugged = cardsChanged + QList<bool>{false};
    QTRY_COMPARE_WITH_TIMEOUT(presence.events(), unplugged, 5000);
    const TransceiveResult whileGone = rig.backend->transceive(kPollingFrame, 100ms);
    QCOMPARE(whileGone.status, TransceiveStatus::Error);
    QCOMPARE(whileGone.error, QStringLiteral("the PC/SC reader was unplugged"));

    // Plugged in again: the hot-plug notification brings it back, then a card arrives.
    rig.setReaders({kSonyReader});
    rig.script->change(SCARD_STATE_CHANGED | 0x00010000, 0);
    rig.script->change(0, SCARD_STATE_CHANGED | SCARD_STATE_PRESENT);
    const QList<bool> backAgain = unplugged + QList<bool>{true};
    QTRY_COMPARE_WITH_TIMEOUT(presence.events(), backAgain, 5000);
    rig.backend->stopPresenceMonitor();
    QVERIFY(rig.script->read(rig.script->cancels) >= 1);     // the wait is cut short
    QCOMPARE(rig.script->read(rig.script->contextsOpen), 1); // only the main context is left

    rig.expectConnect(ReaderFamily::Transparent);
    rig.script->expect(pcsc::transparentExchange(kPollingFrame, 100ms),
                       answerCarrying(ReaderFamily::Transparent, kPollingResponse));
    QCOMPARE(rig.backend->transceive(kPollingFrame, 100ms).status, TransceiveStatus::Ok);
    rig.script->expect(hex("ffc2000002820000"), kSessionOk);
    rig.backend->close();
    QCOMPARE(rig.script->read(rig.script->contextsOpen), 0);
    QVERIFY(rig.allExchanged());
    QVERIFY2(rig.problems().isEmpty(), qPrintable(rig.problems()));
}

void TestPcsc::presenceBeforeOpenWatchesNothing()
{
    PcscRig rig({kSonyReader});
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
