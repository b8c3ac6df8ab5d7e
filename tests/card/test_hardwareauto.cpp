#include "card/autoreaderbackend.h"
#include "card/backends/hardwarebackendset.h"
#include "card/backends/rcs380backend.h"
#include "card/hardwarebackends.h"
#include "card/readerfactory.h"
#include "card/readerlibrary.h"
#include "fakes/fakeusbtransport.h"
#include "testpaths.h"

#ifdef RIDELOG_HAVE_LIBUSB
#include "card/backends/libusbtransport.h"
#endif

#ifdef RIDELOG_HAVE_PCSC
#include "fakes/scriptedpcscapi.h"
#endif

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace ridelog::card;
using namespace std::chrono_literals;

namespace {

// A backend that only knows whether its device is "attached".
class FakeBackend : public ReaderBackend
{
public:
    FakeBackend(QString name, bool attached, QStringList* openLog)
        : name_(std::move(name))
        , attached_(attached)
        , openLog_(openLog)
    {}

    QString name() const override { return name_; }
    bool open(QString* error) override
    {
        *openLog_ << name_;
        if (!attached_)
            *error = QStringLiteral("not attached");
        return attached_;
    }
    void close() override {}
    TransceiveResult transceive(const QByteArray&, std::chrono::milliseconds) override
    {
        return {};
    }
    void startPresenceMonitor(std::uint16_t, PresenceListener) override {}
    void stopPresenceMonitor() override {}

private:
    QString name_;
    bool attached_;
    QStringList* openLog_;
};

struct FakeMakers
{
    QStringList attached;
    QStringList openLog;
    QStringList pcscNames;

    HardwareBackendMakers makers()
    {
        HardwareBackendMakers result;
        result.rcs380 = [this] { return make(QStringLiteral("rcs380")); };
        result.pcsc = [this](const QString& readerName) {
            pcscNames << readerName;
            return make(QStringLiteral("pcsc"));
        };
        result.libnfc = [this] { return make(QStringLiteral("libnfc")); };
        return result;
    }

    std::unique_ptr<ReaderBackend> make(const QString& name)
    {
        return std::make_unique<FakeBackend>(name, attached.contains(name), &openLog);
    }
};

QStringList namesOf(const std::vector<std::unique_ptr<ReaderBackend>>& backends)
{
    QStringList names;
    for (const auto& backend : backends)
        names << backend->name();
    return names;
}

// The "auto" reader over candidates, opened; null with error when none opens.
std::unique_ptr<ReaderBackend> openAuto(std::vector<std::unique_ptr<ReaderBackend>> candidates,
                                        QString* error)
{
    auto automatic = std::make_unique<AutoReaderBackend>(std::move(candidates));
    if (!automatic->open(error))
        return nullptr;
    return automatic;
}

} // namespace

class TestHardwareAuto : public QObject
{
    Q_OBJECT

private slots:
    void autoOpensTheFirstAttachedReader_data();
    void autoOpensTheFirstAttachedReader();
    void libraryKeepsEachBackendsReason();
    void optionForcesOneBackend_data();
    void optionForcesOneBackend();
    void optionForABackendNotBuilt();
    void autoPicksRcs380OverFakedUsb();
    void autoFallsBackToPcscWhenNoRcs380();
    void thisBuildHasEveryBackend();
    void factoryAutoTriesTheBackendsInOrder();
    void udevRulesGrantEverySupportedReader_data();
    void udevRulesGrantEverySupportedReader();
};

void TestHardwareAuto::autoOpensTheFirstAttachedReader_data()
{
    QTest::addColumn<QStringList>("attached");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QStringList>("tried");
    QTest::newRow("RC-S380 only") << QStringList{QStringLiteral("rcs380")}
                                  << QStringLiteral("rcs380")
                                  << QStringList{QStringLiteral("rcs380")};
    QTest::newRow("RC-S300 only") << QStringList{QStringLiteral("pcsc")} << QStringLiteral("pcsc")
                                  << QStringList{QStringLiteral("rcs380"), QStringLiteral("pcsc")};
    QTest::newRow("RC-S360 only") << QStringList{QStringLiteral("libnfc")}
                                  << QStringLiteral("libnfc")
                                  << QStringList{QStringLiteral("rcs380"), QStringLiteral("pcsc"),
                                                 QStringLiteral("libnfc")};
    QTest::newRow("ACR122U served by pcscd and seen by libnfc")
        << QStringList{QStringLiteral("pcsc"), QStringLiteral("libnfc")} << QStringLiteral("pcsc")
        << QStringList{QStringLiteral("rcs380"), QStringLiteral("pcsc")};
}

void TestHardwareAuto::autoOpensTheFirstAttachedReader()
{
    QFETCH(QStringList, attached);
    QFETCH(QString, chosen);
    QFETCH(QStringList, tried);
    FakeMakers fakes;
    fakes.attached = attached;
    QString error;
    const auto backend = openAuto(backendsInAutoOrder(fakes.makers()), &error);
    QVERIFY2(backend, qPrintable(error));
    QCOMPARE(backend->name(), chosen);
    QCOMPARE(fakes.openLog, tried);
}

void TestHardwareAuto::libraryKeepsEachBackendsReason()
{
    // No reader attached: the reasons reach the start-up message one backend a line, whether
    // "auto" tried all three or one backend was forced.
    FakeMakers fakes;
    ReaderLibrary automatic(
        std::make_unique<AutoReaderBackend>(backendsInAutoOrder(fakes.makers())));
    QVERIFY(automatic.initialize_library());
    QVERIFY(!automatic.open_reader_writer_auto());
    QCOMPARE(automatic.openFailureReasons(), (QStringList{QStringLiteral("rcs380：not attached"),
                                                          QStringLiteral("pcsc：not attached"),
                                                          QStringLiteral("libnfc：not attached")}));
    QCOMPARE(automatic.lastError(),
             QStringLiteral("カードリーダが見つかりません（rcs380：not attached; "
                            "pcsc：not attached; libnfc：not attached）。"));
    QCOMPARE(fakes.pcscNames, QStringList{QString()}); // auto: any known PC/SC reader
    QString error;
    QVERIFY(!openAuto({}, &error));
    QVERIFY(!error.isEmpty());

    ReaderLibrary forced(fakes.make(QStringLiteral("pcsc")));
    QVERIFY(forced.initialize_library());
    QVERIFY(!forced.open_reader_writer_auto());
    QCOMPARE(forced.openFailureReasons(), QStringList{QStringLiteral("pcsc：not attached")});

    // Plugged in and tried again: the reasons of the failed attempt are gone.
    fakes.attached = QStringList{QStringLiteral("libnfc")};
    ReaderLibrary later(std::make_unique<AutoReaderBackend>(backendsInAutoOrder(fakes.makers())));
    QVERIFY(later.initialize_library());
    QVERIFY(later.open_reader_writer_auto());
    QVERIFY(later.openFailureReasons().isEmpty());
    QCOMPARE(later.readerName(), QStringLiteral("libnfc"));

    ReaderLibrary unknown(ReaderConfig{QStringLiteral("felica.dll")});
    QVERIFY(!unknown.initialize_library());
    QCOMPARE(unknown.openFailureReasons(), QStringList{unknown.lastError()});
}

void TestHardwareAuto::optionForcesOneBackend_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QString>("pcscName");
    QTest::newRow("rcs380") << QStringLiteral("rcs380") << QStringLiteral("rcs380") << QString();
    QTest::newRow("libnfc") << QStringLiteral("libnfc") << QStringLiteral("libnfc") << QString();
    QTest::newRow("pcsc") << QStringLiteral("pcsc") << QStringLiteral("pcsc") << QString();
    QTest::newRow("pcsc:NAME") << QStringLiteral("pcsc:Sony FeliCa Port") << QStringLiteral("pcsc")
                               << QStringLiteral("Sony FeliCa Port");
    QTest::newRow("upper case") << QStringLiteral("PCSC:ACR122") << QStringLiteral("pcsc")
                                << QStringLiteral("ACR122");
    QTest::newRow("unknown") << QStringLiteral("pn532") << QString() << QString();
    QTest::newRow("rcs380 with name") << QStringLiteral("rcs380:x") << QString() << QString();
    QTest::newRow("empty") << QString() << QString() << QString();
}

void TestHardwareAuto::optionForcesOneBackend()
{
    QFETCH(QString, option);
    QFETCH(QString, backend);
    QFETCH(QString, pcscName);
    FakeMakers fakes;
    QString error;
    const auto made = backendForOption(fakes.makers(), option, &error);
    if (backend.isEmpty()) {
        QVERIFY(!made);
        QVERIFY2(error.contains(QStringLiteral("というカードリーダは知りません")),
                 qPrintable(error));
        return;
    }
    QVERIFY2(made, qPrintable(error));
    QCOMPARE(made->name(), backend);
    if (backend == QStringLiteral("pcsc"))
        QCOMPARE(fakes.pcscNames, QStringList{pcscName});
}

void TestHardwareAuto::optionForABackendNotBuilt()
{
    HardwareBackendMakers none;
    QString error;
    QVERIFY(!backendForOption(none, QStringLiteral("libnfc"), &error));
    QCOMPARE(error,
             QStringLiteral("この Ridelog は libnfc なしで作られていて、このリーダを使えません。"));
    QVERIFY(backendsInAutoOrder(none).empty());
}

void TestHardwareAuto::autoPicksRcs380OverFakedUsb()
{
    auto script = std::make_shared<testing::UsbScript>(); // an RC-S380 that starts up
    testing::scriptRcs380StartUp(*script);
    script->quietWhenExhausted = true;
    QStringList otherOpens;
    HardwareBackendMakers makers;
    makers.rcs380 = [script] {
        return std::make_unique<Rcs380Backend>(
            [script](QString*) { return std::make_unique<testing::FakeUsbTransport>(script); });
    };
    makers.pcsc = [&](const QString&) {
        return std::make_unique<FakeBackend>(QStringLiteral("pcsc"), true, &otherOpens);
    };
    QString error;
    const auto backend = openAuto(backendsInAutoOrder(makers), &error);
    QVERIFY2(backend, qPrintable(error));
    QCOMPARE(backend->name(), QStringLiteral("Sony RC-S380/P (libusb、ファームウェア 1.11)"));
    QVERIFY(otherOpens.isEmpty());
    QVERIFY2(script->problemList().isEmpty(), qPrintable(script->problemList().join(u'\n')));
}

void TestHardwareAuto::autoFallsBackToPcscWhenNoRcs380()
{
#ifdef RIDELOG_HAVE_PCSC
    // pcscd with a token and a FeliCa reader, and no card on it.
    auto pcscd = std::make_shared<testing::PcscScript>();
    pcscd->readers = {testing::kTokenReader, testing::kSonyReader};
    pcscd->connectCode = SCARD_E_NO_SMARTCARD;
    HardwareBackendMakers makers;
    makers.rcs380 = [] {
        return std::make_unique<Rcs380Backend>(
            [](QString* error) -> std::unique_ptr<UsbBulkTransport> {
                *error = QStringLiteral("no Sony PaSoRi RC-S380 found on USB");
                return nullptr;
            });
    };
    makers.pcsc = [&](const QString& name) {
        return std::make_unique<PcscBackend>(std::make_unique<testing::ScriptedPcscApi>(pcscd),
                                             name);
    };
    QString error;
    const auto backend = openAuto(backendsInAutoOrder(makers), &error);
    QVERIFY2(backend, qPrintable(error));
    QCOMPARE(backend->name(), QStringLiteral("Sony FeliCa Port/PaSoRi 4.0 00 00 (PC/SC)"));
    QCOMPARE(pcscd->read(pcscd->contextsOpen), 1);
    QCOMPARE(pcscd->read(pcscd->problems), QStringList());
#else
    QSKIP("built without PC/SC");
#endif
}

void TestHardwareAuto::thisBuildHasEveryBackend()
{
    // CI installs every library, so every backend must be built there.
    const QStringList expected{QStringLiteral("Sony PaSoRi RC-S380 (libusb)"),
                               QStringLiteral("PC/SC のカードリーダ"),
                               QStringLiteral("libnfc のカードリーダ")};
    QCOMPARE(namesOf(createHardwareBackendsInAutoOrder()), expected);
    QString error;
    QVERIFY(createHardwareBackend(QStringLiteral("pcsc:Sony"), &error));
    QVERIFY(!createHardwareBackend(QStringLiteral("felica.dll"), &error));
    QVERIFY(error.contains(QStringLiteral("というカードリーダは知りません")));
}

// Without a reader on this machine, "auto" tries every real backend in order, quickly.
void TestHardwareAuto::factoryAutoTriesTheBackendsInOrder()
{
    QElapsedTimer timer;
    timer.start();
    QString error;
    const auto automatic = createReaderBackend(QStringLiteral("auto"), &error);
    QVERIFY2(automatic, qPrintable(error));
    if (automatic->open(&error)) {
        automatic->close();
        QSKIP("a real card reader is attached to this machine");
    }
    QVERIFY2(timer.elapsed() < 20000, "looking for readers must not hang");
    QVERIFY2(error.startsWith(QStringLiteral("カードリーダが見つかりません（")), qPrintable(error));
    const qsizetype rcs380 = error.indexOf(QStringLiteral("Sony PaSoRi RC-S380 (libusb)："));
    const qsizetype pcsc = error.indexOf(QStringLiteral("PC/SC のカードリーダ："));
    const qsizetype libnfc = error.indexOf(QStringLiteral("libnfc のカードリーダ："));
    QVERIFY2(rcs380 >= 0 && pcsc > rcs380 && libnfc > pcsc, qPrintable(error));
}

void TestHardwareAuto::udevRulesGrantEverySupportedReader_data()
{
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<QString>("product");
    QTest::newRow("RC-S380/S") << QStringLiteral("054c") << QStringLiteral("06c1");
    QTest::newRow("RC-S380/P") << QStringLiteral("054c") << QStringLiteral("06c3");
    QTest::newRow("RC-S330/S360/S370") << QStringLiteral("054c") << QStringLiteral("02e1");
    QTest::newRow("Sony PN531 board") << QStringLiteral("054c") << QStringLiteral("0193");
    QTest::newRow("RC-S300/S") << QStringLiteral("054c") << QStringLiteral("0dc8");
    QTest::newRow("RC-S300/P") << QStringLiteral("054c") << QStringLiteral("0dc9");
    QTest::newRow("ACR122U") << QStringLiteral("072f") << QStringLiteral("2200");
}

void TestHardwareAuto::udevRulesGrantEverySupportedReader()
{
    QFETCH(QString, vendor);
    QFETCH(QString, product);
    QFile rules(QStringLiteral(RIDELOG_SAMPLE_CARDS_DIR "/../60-ridelog-readers.rules"));
    QVERIFY2(rules.open(QIODevice::ReadOnly), qPrintable(rules.fileName()));
    const QString text = QString::fromUtf8(rules.readAll());
    const QRegularExpression rule(
        QStringLiteral(R"(^ATTR\{idVendor\}=="%1", ATTR\{idProduct\}=="%2", TAG\+="uaccess"$)")
            .arg(vendor, product),
        QRegularExpression::MultilineOption);
    QVERIFY2(rule.match(text).hasMatch(), qPrintable(vendor + u':' + product));
#ifdef RIDELOG_HAVE_LIBUSB
    // The ids the RC-S380 backend opens are among them.
    for (const UsbDeviceId& id : rcs380DeviceIds()) {
        const QString pair =
            QStringLiteral("ATTR{idProduct}==\"%1\"").arg(id.product, 4, 16, QLatin1Char('0'));
        QVERIFY2(text.contains(pair), qPrintable(pair));
    }
#endif
}

QTEST_GUILESS_MAIN(TestHardwareAuto)
#include "test_hardwareauto.moc"
