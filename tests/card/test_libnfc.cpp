#include "backendtesthelpers.h"
#include "card/backends/libnfcbackend.h"

#include <QElapsedTimer>
#include <QTest>
#include <cstring>
#include <deque>
#include <mutex>

using ridelog::card::testing::PresenceRecorder;
using namespace ridelog::card;
using namespace std::chrono_literals;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

const QByteArray idm = hex("012e44a0b1c2d3e4");
const QByteArray pmm = hex("100b4b428485d0ff");
const QByteArray pollingFrame = hex("060000030100");
const QByteArray pollingResponse = hex("1401012e44a0b1c2d3e4100b4b428485d0ff0003");
const QByteArray readFrame = hex("1006012e44a0b1c2d3e4010f09018000");
const QByteArray readResponse = hex("1d07012e44a0b1c2d3e4000001160100022d1ce87a10018c1300000001");

nfc_target felicaTarget(std::size_t length = 20)
{
    nfc_target target{};
    target.nm = {NMT_FELICA, NBR_212};
    target.nti.nfi.szLen = length;
    target.nti.nfi.btResCode = 0x01;
    std::memcpy(target.nti.nfi.abtId, idm.constData(), 8);
    std::memcpy(target.nti.nfi.abtPad, pmm.constData(), 8);
    target.nti.nfi.abtSysCode[0] = 0x00;
    target.nti.nfi.abtSysCode[1] = 0x03;
    return target;
}

// Records every libnfc call as a line of text and answers from queues.
struct LibnfcScript
{
    std::mutex mutex;
    bool initOk = true;
    QStringList devices{QStringLiteral("pn53x_usb:001:005")};
    bool openOk = true;
    int initiatorInitResult = 0;
    struct Selection
    {
        int result = 0;
        nfc_target target{};
    };
    std::deque<Selection> selections;
    struct Transfer
    {
        int result = 0;
        QByteArray rx;
    };
    std::deque<Transfer> transfers;
    std::deque<int> presence;
    int presenceWhenEmpty = NFC_ETGRELEASED;
    QStringList calls;
    QList<qint64> presenceCallTimes;
    QElapsedTimer clock;

    LibnfcScript() { clock.start(); }

    QStringList callList()
    {
        std::lock_guard lock(mutex);
        return calls;
    }
};

class FakeLibnfcApi : public LibnfcApi
{
public:
    explicit FakeLibnfcApi(std::shared_ptr<LibnfcScript> script)
        : script_(std::move(script))
    {}

    bool init() override { return record(QStringLiteral("init")), script_->initOk; }
    void exit() override { record(QStringLiteral("exit")); }
    QStringList listDevices() override
    {
        record(QStringLiteral("list"));
        return script_->devices;
    }
    bool open(const QString& connstring) override
    {
        record(QStringLiteral("open ") + connstring);
        return script_->openOk;
    }
    void close() override { record(QStringLiteral("close")); }
    QString deviceName() override { return QStringLiteral("SONY RC-S360 / PN533"); }
    QString lastError() override { return QStringLiteral("RF Transmission Error"); }
    int initiatorInit() override
    {
        record(QStringLiteral("initiator_init"));
        return script_->initiatorInitResult;
    }
    int setPropertyBool(nfc_property property, bool enable) override
    {
        record(QStringLiteral("set_property %1 %2")
                   .arg(property == NP_INFINITE_SELECT ? QStringLiteral("NP_INFINITE_SELECT")
                                                       : QString::number(int(property)))
                   .arg(enable ? QStringLiteral("on") : QStringLiteral("off")));
        return 0;
    }
    int selectPassiveTarget(nfc_modulation modulation, const QByteArray& initData,
                            nfc_target* target) override
    {
        std::lock_guard lock(script_->mutex);
        script_->calls << QStringLiteral("select %1 %2 %3")
                              .arg(modulation.nmt == NMT_FELICA ? QStringLiteral("NMT_FELICA")
                                                                : QStringLiteral("other"))
                              .arg(modulation.nbr == NBR_212 ? QStringLiteral("NBR_212")
                                                             : QStringLiteral("other"))
                              .arg(QString::fromLatin1(initData.toHex(' ')));
        if (script_->selections.empty())
            return 0;
        const LibnfcScript::Selection selection = script_->selections.front();
        script_->selections.pop_front();
        *target = selection.target;
        return selection.result;
    }
    int transceiveBytes(const QByteArray& tx, QByteArray* rx, int timeoutMs) override
    {
        std::lock_guard lock(script_->mutex);
        script_->calls << QStringLiteral("transceive %1 timeout %2")
                              .arg(QString::fromLatin1(tx.toHex(' ')))
                              .arg(timeoutMs);
        if (script_->transfers.empty())
            return NFC_ETIMEOUT;
        const LibnfcScript::Transfer transfer = script_->transfers.front();
        script_->transfers.pop_front();
        *rx = transfer.rx;
        return transfer.result;
    }
    int targetIsPresent() override
    {
        std::lock_guard lock(script_->mutex);
        script_->calls << QStringLiteral("is_present");
        script_->presenceCallTimes << script_->clock.elapsed();
        if (script_->presence.empty())
            return script_->presenceWhenEmpty;
        const int result = script_->presence.front();
        script_->presence.pop_front();
        return result;
    }

private:
    void record(const QString& call)
    {
        std::lock_guard lock(script_->mutex);
        script_->calls << call;
    }

    std::shared_ptr<LibnfcScript> script_;
};

struct Rig
{
    std::shared_ptr<LibnfcScript> script = std::make_shared<LibnfcScript>();
    std::unique_ptr<LibnfcBackend> backend =
        std::make_unique<LibnfcBackend>(std::make_unique<FakeLibnfcApi>(script));

    void openWithCard()
    {
        QVERIFY(backend->open(nullptr));
        script->selections.push_back({1, felicaTarget()});
        QCOMPARE(backend->transceive(pollingFrame, 100ms).status, TransceiveStatus::Ok);
    }
    QString lastCall() { return script->callList().value(script->callList().size() - 1); }
};

const QString pollingSelect = QStringLiteral("select NMT_FELICA NBR_212 00 00 03 01 00");

} // namespace

class TestLibnfc : public QObject
{
    Q_OBJECT

private slots:
    void openInitialisesWithoutInfiniteSelect();
    void pollingSelectsAFelicaTargetAt212();
    void readGoesThroughTransceiveBytesWithLengthByte();
    void extraCommandsGoThroughTransceiveBytes();
    void noCardAnswersPolling_data();
    void noCardAnswersPolling();
    void transceiveFailures_data();
    void transceiveFailures();
    void readerUnpluggedMidRead();
    void openFailuresNameTheCause_data();
    void openFailuresNameTheCause();
    void presenceIsPolledOnItsOwnThread();
};

// Opening, with the name before and after; a read before any Polling reaches no device.
void TestLibnfc::openInitialisesWithoutInfiniteSelect()
{
    Rig rig;
    QCOMPARE(rig.backend->name(), QStringLiteral("libnfc のカードリーダ"));
    QString error;
    QVERIFY2(rig.backend->open(&error), qPrintable(error));
    const QStringList expected{
        QStringLiteral("init"), QStringLiteral("list"), QStringLiteral("open pn53x_usb:001:005"),
        QStringLiteral("initiator_init"), QStringLiteral("set_property NP_INFINITE_SELECT off")};
    QCOMPARE(rig.script->callList(), expected);
    QCOMPARE(rig.backend->name(), QStringLiteral("SONY RC-S360 / PN533 (libnfc)"));
    QCOMPARE(rig.backend->transceive(readFrame, 100ms).status, TransceiveStatus::NoCard);
    QCOMPARE(rig.script->callList(), expected);
    rig.backend->close();
    QCOMPARE(rig.lastCall(), QStringLiteral("close"));
}

void TestLibnfc::pollingSelectsAFelicaTargetAt212()
{
    Rig rig;
    QVERIFY(rig.backend->open(nullptr));
    rig.script->selections.push_back({1, felicaTarget()});
    const TransceiveResult result = rig.backend->transceive(pollingFrame, 100ms);
    QCOMPARE(rig.lastCall(), pollingSelect);
    QCOMPARE(result.status, TransceiveStatus::Ok);
    QCOMPARE(result.frame.toHex(), pollingResponse.toHex());

    // Without the system code asked for, the answer has none.
    rig.script->selections.push_back({1, felicaTarget(18)});
    const TransceiveResult plain = rig.backend->transceive(hex("06000003 0000"), 100ms);
    QCOMPARE(rig.lastCall(), QStringLiteral("select NMT_FELICA NBR_212 00 00 03 00 00"));
    QCOMPARE(plain.frame.toHex(), pollingResponse.left(18).toHex().replace(0, 2, "12"));
}

void TestLibnfc::readGoesThroughTransceiveBytesWithLengthByte()
{
    Rig rig;
    rig.openWithCard();
    rig.script->transfers.push_back({int(readResponse.size()), readResponse});
    const TransceiveResult result = rig.backend->transceive(readFrame, 250ms);
    QCOMPARE(rig.lastCall(),
             QStringLiteral("transceive 10 06 01 2e 44 a0 b1 c2 d3 e4 01 0f 09 01 80 00 "
                            "timeout 250"));
    QCOMPARE(result.status, TransceiveStatus::Ok);
    QCOMPARE(result.frame, readResponse);

    // A card time-out shorter than the USB round trip is raised to the floor.
    rig.script->transfers.push_back({int(readResponse.size()), readResponse});
    QCOMPARE(rig.backend->transceive(readFrame, 3ms).status, TransceiveStatus::Ok);
    QVERIFY2(rig.lastCall().endsWith(QStringLiteral(" timeout 50")), qPrintable(rig.lastCall()));
}

void TestLibnfc::extraCommandsGoThroughTransceiveBytes()
{
    Rig rig;
    rig.openWithCard();
    rig.script->transfers.push_back(
        {int(testing::kGateLogResponse.size()), testing::kGateLogResponse});
    rig.script->transfers.push_back(
        {int(testing::kRequestServiceResponse.size()), testing::kRequestServiceResponse});
    const QString problem = testing::sendExtraCommands(*rig.backend);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const QStringList calls = rig.script->callList();
    QCOMPARE(calls.size() >= 2, true);
    // The gate log's 44 ms are raised to the USB floor of 50 ms; Request Service keeps its 78.
    QCOMPARE(calls[calls.size() - 2], QStringLiteral("transceive ") +
                                          QString::fromLatin1(testing::kGateLogFrame.toHex(' ')) +
                                          QStringLiteral(" timeout 50"));
    QCOMPARE(calls.last(), QStringLiteral("transceive ") +
                               QString::fromLatin1(testing::kRequestServiceFrame.toHex(' ')) +
                               QStringLiteral(" timeout 78"));
}

void TestLibnfc::noCardAnswersPolling_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("modulation");
    QTest::addColumn<TransceiveStatus>("status");
    QTest::newRow("nothing found") << 0 << int(NMT_FELICA) << TransceiveStatus::NoCard;
    QTest::newRow("not FeliCa") << 1 << int(NMT_ISO14443A) << TransceiveStatus::NoCard;
    QTest::newRow("time-out") << NFC_ETIMEOUT << int(NMT_FELICA) << TransceiveStatus::Timeout;
    QTest::newRow("chip error") << NFC_ECHIP << int(NMT_FELICA) << TransceiveStatus::Error;
}

void TestLibnfc::noCardAnswersPolling()
{
    QFETCH(int, result);
    QFETCH(int, modulation);
    QFETCH(TransceiveStatus, status);
    Rig rig;
    QVERIFY(rig.backend->open(nullptr));
    nfc_target target = felicaTarget();
    target.nm.nmt = nfc_modulation_type(modulation);
    rig.script->selections.push_back({result, target});
    const TransceiveResult polled = rig.backend->transceive(pollingFrame, 100ms);
    QCOMPARE(polled.status, status);
    QVERIFY(polled.frame.isEmpty());
    // No card selected afterwards: a read does not reach the device.
    const int callsBefore = int(rig.script->callList().size());
    QCOMPARE(rig.backend->transceive(readFrame, 100ms).status, TransceiveStatus::NoCard);
    QCOMPARE(int(rig.script->callList().size()), callsBefore);
}

// A read's second chunk fails: how it is reported, and whether the card is still selected (the
// next read reaches the device) or gone (nothing more is sent to it).
void TestLibnfc::transceiveFailures_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("rx");
    QTest::addColumn<TransceiveStatus>("status");
    QTest::addColumn<bool>("cardKept");
    const auto error = TransceiveStatus::Error;
    QTest::newRow("time-out") << NFC_ETIMEOUT << QByteArray() << TransceiveStatus::Timeout << true;
    QTest::newRow("RF error: card removed")
        << NFC_ERFTRANS << QByteArray() << TransceiveStatus::NoCard << false;
    QTest::newRow("target released")
        << NFC_ETGRELEASED << QByteArray() << TransceiveStatus::NoCard << false;
    QTest::newRow("empty answer") << 0 << QByteArray() << error << true;
    QTest::newRow("short answer") << 3 << hex("1d0701") << error << true;
    QTest::newRow("oversized answer")
        << int(readResponse.size() + 2) << readResponse + hex("0000") << error << true;
    QTest::newRow("chip error") << NFC_ECHIP << QByteArray() << error << true;
}

void TestLibnfc::transceiveFailures()
{
    QFETCH(int, result);
    QFETCH(QByteArray, rx);
    QFETCH(bool, cardKept);
    Rig rig;
    rig.openWithCard();
    rig.script->transfers.push_back({int(readResponse.size()), readResponse});
    rig.script->transfers.push_back({result, rx});
    QCOMPARE(rig.backend->transceive(readFrame, 100ms).status, TransceiveStatus::Ok);
    const TransceiveResult read = rig.backend->transceive(readFrame, 100ms);
    QTEST(read.status, "status");
    QVERIFY(read.frame.isEmpty());
    QVERIFY(!read.error.isEmpty());

    const qsizetype callsBefore = rig.script->callList().size();
    const TransceiveStatus next = rig.backend->transceive(readFrame, 100ms).status;
    QCOMPARE(rig.script->callList().size() > callsBefore, cardKept);
    // The script has no more answers: a read that is sent times out.
    QCOMPARE(next, cardKept ? TransceiveStatus::Timeout : TransceiveStatus::NoCard);
}

void TestLibnfc::readerUnpluggedMidRead()
{
    Rig rig;
    rig.openWithCard();
    rig.script->transfers.push_back({NFC_EIO, {}});
    const TransceiveResult read = rig.backend->transceive(readFrame, 100ms);
    QCOMPARE(read.status, TransceiveStatus::Error);
    QCOMPARE(read.error, QStringLiteral("the libnfc reader stopped answering (unplugged?)"));
    const int callsBefore = int(rig.script->callList().size());
    QCOMPARE(rig.backend->transceive(pollingFrame, 100ms).status, TransceiveStatus::Error);
    QCOMPARE(int(rig.script->callList().size()), callsBefore);
}

void TestLibnfc::openFailuresNameTheCause_data()
{
    QTest::addColumn<bool>("initOk");
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<bool>("openOk");
    QTest::addColumn<int>("initiatorInit");
    QTest::addColumn<QString>("cause");
    const QStringList one{QStringLiteral("acr122_usb:001:004")};
    QTest::newRow("library") << false << one << true << 0
                             << QStringLiteral("libnfc を始められませんでした");
    QTest::newRow("no device") << true << QStringList() << true << 0
                               << QStringLiteral("が見つかりません");
    QTest::newRow("no permission")
        << true << one << false << 0
        << QStringLiteral("60-ridelog-readers.rules を置き（Ridelog のパッケージは "
                          "/usr/lib/udev/rules.d");
    QTest::newRow("initiator") << true << one << true << int(NFC_EIO)
                               << QStringLiteral("動き始めませんでした（RF Transmission Error）");
}

void TestLibnfc::openFailuresNameTheCause()
{
    QFETCH(bool, initOk);
    QFETCH(QStringList, devices);
    QFETCH(bool, openOk);
    QFETCH(int, initiatorInit);
    QFETCH(QString, cause);
    Rig rig;
    rig.script->initOk = initOk;
    rig.script->devices = devices;
    rig.script->openOk = openOk;
    rig.script->initiatorInitResult = initiatorInit;
    QString error;
    QVERIFY(!rig.backend->open(&error));
    QVERIFY2(error.contains(cause), qPrintable(error));
    QCOMPARE(rig.backend->transceive(pollingFrame, 100ms).status, TransceiveStatus::Error);
}

// On its own thread, at most every 250 ms, the monitor follows a card that arrives, stays two
// rounds, leaves and comes back, the reader unplugged under it and the card found again once
// the reader is open again.
void TestLibnfc::presenceIsPolledOnItsOwnThread()
{
    Rig rig;
    QVERIFY(rig.backend->open(nullptr));
    {
        std::lock_guard lock(rig.script->mutex);
        rig.script->selections.push_back({0, {}}); // no card yet
        for (int i = 0; i < 3; ++i) // it arrives, comes back, is found after the replug
            rig.script->selections.push_back({1, felicaTarget()});
        rig.script->presence = {NFC_SUCCESS, NFC_SUCCESS, NFC_ETGRELEASED, NFC_SUCCESS, NFC_EIO};
        rig.script->presenceWhenEmpty = NFC_SUCCESS;
        rig.script->calls.clear();
    }
    PresenceRecorder presence;
    rig.backend->startPresenceMonitor(0x0003, presence.listener());
    const QList<bool> expected{true, false, true, false, true};
    QTRY_COMPARE_WITH_TIMEOUT(presence.events(), expected, 10000);
    rig.backend->stopPresenceMonitor();

    const QStringList calls = rig.script->callList();
    QVERIFY(calls.contains(pollingSelect));
    const qsizetype reopened = calls.indexOf(QStringLiteral("open pn53x_usb:001:005"));
    QVERIFY2(reopened > 0, qPrintable(calls.join(u'|')));
    QCOMPARE(calls.at(reopened - 2), QStringLiteral("close"));
    QCOMPARE(calls.at(reopened + 2), QStringLiteral("set_property NP_INFINITE_SELECT off"));
    {
        std::lock_guard lock(rig.script->mutex);
        const QList<qint64>& times = rig.script->presenceCallTimes;
        for (int i = 1; i < times.size(); ++i) {
            const qint64 gap = times[i] - times[i - 1];
            QVERIFY2(gap >= 250, qPrintable(QString::number(gap)));
        }
    }

    rig.script->transfers.push_back({int(readResponse.size()), readResponse});
    QCOMPARE(rig.backend->transceive(readFrame, 100ms).status, TransceiveStatus::Ok);
}

QTEST_GUILESS_MAIN(TestLibnfc)
#include "test_libnfc.moc"
