// The application shell: command line, the machine-wide single-instance guard, and the
// reader start with its messages around the main window.
#include "app/commandline.h"
#include "app/readerlibrary.h"
#include "app/ridelogapp.h"
#include "app/singleinstance.h"
#include "app/terminationsignals.h"
#include "store/database.h"
#include "support/windowaccess.h"
#include "testfiles.h"
#include "ui/messagebox.h"
#include "ui/ridelogdlg.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace ridelog;
using ridelog::test::fileBytes;

namespace {

const QString kGuardRefused =
    QStringLiteral("カードリーダを使うアプリケーションが既に起動しています。");
const QString kNoDriver =
    QStringLiteral("ICカードリーダ ドライバが\r\nインストールされていません。");
const QString kNoReader =
    QStringLiteral("ICカードリーダが接続されていません。\r\n接続と再起動が必要です。");

// Records every library call; start and open succeed unless told otherwise.
class FakeReaderControl : public ReaderControl
{
public:
    explicit FakeReaderControl(QStringList* calls)
        : calls_(calls)
    {}

    bool initializeLibrary(card::ReaderContext&) override
    {
        calls_->append(QStringLiteral("initialize"));
        return initializeSucceeds;
    }
    bool openReaderWriterAuto(card::ReaderContext&) override
    {
        calls_->append(QStringLiteral("open"));
        return openSucceeds;
    }
    void closeReaderWriter(card::ReaderContext&) override
    {
        calls_->append(QStringLiteral("close"));
        if (onClose)
            onClose();
    }
    void disposeLibrary(card::ReaderContext&) override
    {
        calls_->append(QStringLiteral("dispose"));
    }

    card::ReaderLibrary* library() override { return nullptr; }
    QStringList failureReasons() override { return reasons; }

    bool initializeSucceeds = true;
    QStringList reasons;
    bool openSucceeds = true;
    std::function<void()> onClose;

private:
    QStringList* calls_;
};

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void refusalNamesTheReader_data();
    void refusalNamesTheReader();

    void commandLine_data();
    void commandLine();
    void commandLineKeepsNameServer();
    void unknownArgumentExitsWithStatusTwo();
    void helpAndVersionExitWithZero();

    void guardRefusesSecondHolder();
    void guardIsReleasedWithItsOwner();
    void guardTakesOverStaleLock();
    void guardTakesOverLockWithoutReadableOwner_data();
    void guardTakesOverLockWithoutReadableOwner();
    void guardLivesInRuntimeFolder();
    void guardIsSharedWithOtherProcessesAndSurvivesTheirCrash();

    void openReaderResults();
    void closeReaderUndoesOnlyWhatSucceeded();
    void failureTexts_data();
    void failureTexts();

    void secondInstanceIsRefused();
    void libraryStartFailureShowsMessageWithoutWindow();
    void readerOpenFailureShowsMessageAndDisposes();
    void readerOpenFailureGivesTheReasonsAsDetails();
    void normalRunClosesReaderBeforeGuardIsReleased();
    void terminationSignalClosesWindowAndSavesState();
    void failureAtTerminationGoesToTheLog();
    void terminationSignalEndsAnOpenBox_data();
    void terminationSignalEndsAnOpenBox();
    void terminationDuringStartUpEndsTheProgram();
    void replayFailuresAreSaidInTheBox_data();
    void replayFailuresAreSaidInTheBox();

private:
    std::unique_ptr<CRidelogApp> makeApp(FakeReaderControl** library);

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QSettings> ini_;
    QStringList calls_;
};

void TestApp::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    ini_ = std::make_unique<QSettings>(dir_->filePath(QStringLiteral("Hotaru.ini")),
                                       QSettings::IniFormat);
    // Windows made here keep their history database in the temporary folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir_->filePath(QStringLiteral("data"))));
    calls_.clear();
    MessageBox::setCapturing(true);
    MessageBox::clearCaptured();
}

void TestApp::cleanup()
{
    MessageBox::setUnattended(false);
    ini_.reset();
    dir_.reset();
}

std::unique_ptr<CRidelogApp> TestApp::makeApp(FakeReaderControl** library)
{
    auto app = std::make_unique<CRidelogApp>(AppOptions{});
    auto fake = std::make_unique<FakeReaderControl>(&calls_);
    *library = fake.get();
    app->setReaderControl(std::move(fake));
    app->setLockFilePath(dir_->filePath(QStringLiteral("felica-reader.lock")));
    app->setSettings(ini_.get());
    app->setDialogRunner([this](CRidelogDlg& dialog) {
        calls_.append(QStringLiteral("window"));
        dialog.show();
        dialog.reject();
        return int(QDialog::Rejected);
    });
    return app;
}

void TestApp::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("reader");
    using A = CommandLine::Action;
    const QString program = QStringLiteral("ridelog");
    QTest::newRow("none") << QStringList{program} << int(A::Run) << QStringLiteral("auto");
    QTest::newRow("auto") << QStringList{program, QStringLiteral("--reader=auto")} << int(A::Run)
                          << QStringLiteral("auto");
    QTest::newRow("virtual") << QStringList{program, QStringLiteral("--reader=virtual:/tmp/c")}
                             << int(A::Run) << QStringLiteral("virtual:/tmp/c");
    QTest::newRow("virtual, separate value")
        << QStringList{program, QStringLiteral("--reader"), QStringLiteral("virtual:cards")}
        << int(A::Run) << QStringLiteral("virtual:cards");
    QTest::newRow("pcsc with name") << QStringList{program, QStringLiteral("--reader=pcsc:ACS")}
                                    << int(A::Run) << QStringLiteral("pcsc:ACS");
    QTest::newRow("rcs380") << QStringList{program, QStringLiteral("--reader=rcs380")}
                            << int(A::Run) << QStringLiteral("rcs380");
    QTest::newRow("replay, traced")
        << QStringList{program, QStringLiteral("--reader=replay:s.trace"),
                       QStringLiteral("--reader-trace=again.trace")}
        << int(A::Run) << QStringLiteral("replay:s.trace");
    QTest::newRow("trace without file")
        << QStringList{program, QStringLiteral("--reader-trace")} << int(A::Fail) << QString();
    QTest::newRow("virtual without folder")
        << QStringList{program, QStringLiteral("--reader=virtual:")} << int(A::Fail) << QString();
    QTest::newRow("unknown reader")
        << QStringList{program, QStringLiteral("--reader=felica")} << int(A::Fail) << QString();
    QTest::newRow("unknown option")
        << QStringList{program, QStringLiteral("--colour")} << int(A::Fail) << QString();
    QTest::newRow("positional") << QStringList{program, QStringLiteral("card.txt")} << int(A::Fail)
                                << QString();
    QTest::newRow("reader without value")
        << QStringList{program, QStringLiteral("--reader")} << int(A::Fail) << QString();
    QTest::newRow("bad server") << QStringList{program, QStringLiteral("--name-server=ftp://x/")}
                                << int(A::Fail) << QString();
    QTest::newRow("help") << QStringList{program, QStringLiteral("--help")} << int(A::ShowHelp)
                          << QString();
    QTest::newRow("version") << QStringList{program, QStringLiteral("--version")}
                             << int(A::ShowVersion) << QString();
}

void TestApp::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, reader);
    const CommandLine result = parseCommandLine(arguments);
    QCOMPARE(int(result.action), action);
    if (result.action == CommandLine::Action::Run) {
        QCOMPARE(result.options.readerSpec, reader);
        QCOMPARE(result.options.readerTrace.isEmpty(),
                 !arguments.join(u' ').contains(QStringLiteral("--reader-trace=")));
    }
    if (result.action == CommandLine::Action::Fail) {
        QVERIFY(!result.error.isEmpty());
        QVERIFY(result.helpText.contains(QStringLiteral("--reader")));
    }
}

void TestApp::commandLineKeepsNameServer()
{
    const CommandLine result = parseCommandLine(
        {QStringLiteral("ridelog"), QStringLiteral("--name-server=http://127.0.0.1:8080/trfc/")});
    QCOMPARE(int(result.action), int(CommandLine::Action::Run));
    QCOMPARE(result.options.nameServer, QStringLiteral("http://127.0.0.1:8080/trfc/"));
    // The built-in names alone.
    const CommandLine builtin =
        parseCommandLine({QStringLiteral("ridelog"), QStringLiteral("--name-server=builtin")});
    QCOMPARE(int(builtin.action), int(CommandLine::Action::Run));
    QCOMPARE(builtin.options.nameServer, QStringLiteral("builtin"));
    QCOMPARE(
        int(parseCommandLine({QStringLiteral("ridelog"), QStringLiteral("--name-server=bultin")})
                .action),
        int(CommandLine::Action::Fail));
}

void TestApp::unknownArgumentExitsWithStatusTwo()
{
    QProcess ridelog;
    ridelog.start(QStringLiteral(RIDELOG_EXECUTABLE), {QStringLiteral("--no-such-option")});
    QVERIFY(ridelog.waitForFinished(10000));
    QCOMPARE(ridelog.exitCode(), 2);
    const QString err = QString::fromUtf8(ridelog.readAllStandardError());
    QVERIFY(err.contains(QStringLiteral("Usage: ridelog")));
    QVERIFY(ridelog.readAllStandardOutput().isEmpty());
}

void TestApp::helpAndVersionExitWithZero()
{
    QProcess ridelog;
    ridelog.start(QStringLiteral(RIDELOG_EXECUTABLE), {QStringLiteral("--help")});
    QVERIFY(ridelog.waitForFinished(10000));
    QCOMPARE(ridelog.exitCode(), 0);
    QVERIFY(QString::fromUtf8(ridelog.readAllStandardOutput())
                .contains(QStringLiteral("--name-server")));
    ridelog.start(QStringLiteral(RIDELOG_EXECUTABLE), {QStringLiteral("--version")});
    QVERIFY(ridelog.waitForFinished(10000));
    QCOMPARE(ridelog.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(ridelog.readAllStandardOutput()).trimmed(),
             QStringLiteral("ridelog 1.2.0"));
}

void TestApp::guardRefusesSecondHolder()
{
    const QString path = dir_->filePath(QStringLiteral("felica-reader.lock"));
    SingleInstanceGuard first(path);
    QVERIFY(first.create());
    SingleInstanceGuard second(path);
    QVERIFY(!second.create());
    QVERIFY(first.isHeld());
    QVERIFY(QFile::exists(path));
}

void TestApp::guardIsReleasedWithItsOwner()
{
    const QString path = dir_->filePath(QStringLiteral("felica-reader.lock"));
    {
        SingleInstanceGuard first(path);
        QVERIFY(first.create());
    }
    QVERIFY(!QFile::exists(path));
    SingleInstanceGuard again(path);
    QVERIFY(again.create());
}

void TestApp::guardTakesOverStaleLock()
{
    // A lock left behind by a process that has ended.
    QProcess gone;
    gone.start(QStringLiteral("/bin/true"), {});
    QVERIFY(gone.waitForStarted());
    const qint64 deadPid = gone.processId();
    QVERIFY(gone.waitForFinished());
    const QString path = dir_->filePath(QStringLiteral("felica-reader.lock"));
    QFile stale(path);
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray::number(deadPid) + "\nsome-reader-app\n" +
                QSysInfo::machineHostName().toUtf8() + '\n');
    stale.close();
    SingleInstanceGuard guard(path);
    QVERIFY(guard.create());
}

// An empty or garbled lock names no owner that could still be running: it blocks nobody.
void TestApp::guardTakesOverLockWithoutReadableOwner_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << QByteArrayLiteral("\x01\xfe garbage");
    QTest::newRow("no pid") << QByteArrayLiteral("reader\nhost\n");
    QTest::newRow("cut short") << QByteArrayLiteral("\n");
}

void TestApp::guardTakesOverLockWithoutReadableOwner()
{
    QFETCH(QByteArray, content);
    const QString path = dir_->filePath(QStringLiteral("felica-reader.lock"));
    QFile lock(path);
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(content);
    lock.close();
    SingleInstanceGuard guard(path);
    QVERIFY(guard.create());
    // And it is ours now: a second guard is refused.
    SingleInstanceGuard second(path);
    QVERIFY(!second.create());
}

void TestApp::guardLivesInRuntimeFolder()
{
    const QString path = SingleInstanceGuard::defaultLockFilePath();
    QVERIFY(path.endsWith(QStringLiteral("/felica-reader.lock")));
}

void TestApp::guardIsSharedWithOtherProcessesAndSurvivesTheirCrash()
{
    const QString runtime = dir_->filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_->filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dir_->filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(QStringLiteral(RIDELOG_EXECUTABLE),
                {QStringLiteral("--reader=virtual:") + dir_->filePath(QStringLiteral("cards"))});
    QVERIFY(first.waitForStarted());
    const QString lockFile = runtime + QStringLiteral("/felica-reader.lock");
    QTRY_VERIFY(QFile::exists(lockFile));

    SingleInstanceGuard second(lockFile);
    QVERIFY(!second.create());
    QCOMPARE(first.state(), QProcess::Running);

    // The first copy dies without releasing the guard; the next one takes it over.
    first.kill();
    QVERIFY(first.waitForFinished());
    QVERIFY(QFile::exists(lockFile));
    QVERIFY(second.create());
}

void TestApp::openReaderResults()
{
    {
        FakeReaderControl library(&calls_);
        card::ReaderContext context;
        QCOMPARE(openReader(context, library), 0);
        QVERIFY(context.libraryInitialised);
        QVERIFY(context.readerOpen);
        // Opening again calls nothing more.
        QCOMPARE(openReader(context, library), 0);
        QCOMPARE(calls_, (QStringList{QStringLiteral("initialize"), QStringLiteral("open")}));
    }
    {
        FakeReaderControl library(&calls_);
        library.initializeSucceeds = false;
        card::ReaderContext context;
        QCOMPARE(openReader(context, library), 1);
        QVERIFY(!context.libraryInitialised);
    }
    {
        FakeReaderControl library(&calls_);
        library.openSucceeds = false;
        card::ReaderContext context;
        QCOMPARE(openReader(context, library), 2);
        QVERIFY(context.libraryInitialised);
        QVERIFY(!context.readerOpen);
    }
}

void TestApp::closeReaderUndoesOnlyWhatSucceeded()
{
    FakeReaderControl library(&calls_);
    auto context = std::make_unique<card::ReaderContext>();
    context->libraryInitialised = true;
    closeReader(context, library);
    QCOMPARE(calls_, QStringList{QStringLiteral("dispose")});
    QVERIFY(!context);
    calls_.clear();
    context = std::make_unique<card::ReaderContext>();
    closeReader(context, library);
    QVERIFY(calls_.isEmpty());
    closeReader(context, library); // a context already gone is fine
    QVERIFY(calls_.isEmpty());
}

void TestApp::failureTexts_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text");
    QTest::newRow("1") << 1 << kNoDriver;
    QTest::newRow("2") << 2 << kNoReader;
    QTest::newRow("other") << 7 << QStringLiteral("予期しないエラーが発生しました。");
}

void TestApp::failureTexts()
{
    QFETCH(int, result);
    QFETCH(QString, text);
    QCOMPARE(openReaderFailureText(result), text);
}

void TestApp::refusalNamesTheReader_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<QString>("text");
    const auto s = [](const char16_t* text) { return QString::fromUtf16(text); };
    QTest::newRow("any reader") << s(u"auto")
                                << s(u"カードリーダを使うアプリケーションが既に起動しています。");
    QTest::newRow("libnfc") << s(u"libnfc")
                            << s(u"カードリーダを使うアプリケーションが既に起動しています。");
    QTest::newRow("RC-S380") << s(u"rcs380")
                             << s(u"PaSoRi RC-S380を使うアプリケーションが既に起動しています。");
    QTest::newRow("PC/SC by name")
        << s(u"pcsc:SONY FeliCa RC-S300/P")
        << s(u"SONY FeliCa RC-S300/Pを使うアプリケーションが既に起動しています。");
    QTest::newRow("PC/SC, no name")
        << s(u"pcsc:") << s(u"カードリーダを使うアプリケーションが既に起動しています。");
    QTest::newRow("simulated")
        << s(u"virtual:/tmp/cards")
        << s(u"シミュレーションのカードリーダを使うアプリケーションが既に起動しています。");
}

void TestApp::refusalNamesTheReader()
{
    QFETCH(QString, spec);
    QTEST(CRidelogApp::otherInstanceText(spec), "text");
}

void TestApp::secondInstanceIsRefused()
{
    SingleInstanceGuard other(dir_->filePath(QStringLiteral("felica-reader.lock")));
    QVERIFY(other.create());
    FakeReaderControl* library = nullptr;
    auto app = makeApp(&library);
    QCOMPARE(app->InitInstance(), 1);
    QCOMPARE(MessageBox::capturedMessages(), QStringList{kGuardRefused});
    QVERIFY(calls_.isEmpty());
    QVERIFY(!app->mainWindowRan());
    QVERIFY(other.isHeld());
    QVERIFY(!ini_->contains(QStringLiteral("Trfc/mX")));
}

void TestApp::libraryStartFailureShowsMessageWithoutWindow()
{
    FakeReaderControl* library = nullptr;
    auto app = makeApp(&library);
    library->initializeSucceeds = false;
    QCOMPARE(app->InitInstance(), 1);
    QCOMPARE(MessageBox::capturedMessages(), QStringList{kNoDriver});
    QCOMPARE(calls_, QStringList{QStringLiteral("initialize")}); // no dispose
    QVERIFY(!app->mainWindowRan());
    // The guard is free again.
    SingleInstanceGuard after(dir_->filePath(QStringLiteral("felica-reader.lock")));
    QVERIFY(after.create());
}

void TestApp::readerOpenFailureShowsMessageAndDisposes()
{
    FakeReaderControl* library = nullptr;
    auto app = makeApp(&library);
    library->openSucceeds = false;
    library->reasons = QStringList{
        QStringLiteral("Sony PaSoRi RC-S380 (libusb): no Sony PaSoRi RC-S380 found on USB"),
        QStringLiteral("PC/SC reader: the PC/SC service pcscd is not running"),
        QStringLiteral("libnfc reader: cannot open the libnfc reader pn53x_usb:001:004: install "
                       "the udev rule 60-ridelog-readers.rules")};
    QCOMPARE(app->InitInstance(), 1);
    // The specified text stays the message; each backend's reason is one line of its details.
    QCOMPARE(MessageBox::capturedMessages(), QStringList{kNoReader});
    QCOMPARE(MessageBox::capturedDetails(), QStringList{library->reasons.join(u'\n')});
    QCOMPARE(calls_, (QStringList{QStringLiteral("initialize"), QStringLiteral("open"),
                                  QStringLiteral("dispose")}));
    QVERIFY(!app->mainWindowRan());
}

void TestApp::readerOpenFailureGivesTheReasonsAsDetails()
{
    // The real library: a card folder that cannot be made names the simulated reader and why.
    const QString notAFolder = dir_->filePath(QStringLiteral("cards"));
    QFile file(notAFolder);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    CRidelogApp app(AppOptions{});
    app.setReaderControl(makeReaderControl(QStringLiteral("virtual:") + notAFolder));
    app.setLockFilePath(dir_->filePath(QStringLiteral("felica-reader.lock")));
    app.setSettings(ini_.get());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("を作れません")));
    QCOMPARE(app.InitInstance(), 1);
    QCOMPARE(MessageBox::capturedMessages(), QStringList{kNoReader});
    const QStringList details = MessageBox::capturedDetails();
    QCOMPARE(details.size(), 1);
    QVERIFY2(details[0].startsWith(QStringLiteral("シミュレーションのカードリーダ（")),
             qPrintable(details[0]));
    QVERIFY2(details[0].contains(QStringLiteral("カードのフォルダ ") + notAFolder +
                                 QStringLiteral(" を作れません")),
             qPrintable(details[0]));
    QVERIFY(!app.mainWindowRan());
}

void TestApp::normalRunClosesReaderBeforeGuardIsReleased()
{
    FakeReaderControl* library = nullptr;
    auto app = makeApp(&library);
    bool guardHeldAtClose = false;
    library->onClose = [&] {
        SingleInstanceGuard probe(dir_->filePath(QStringLiteral("felica-reader.lock")));
        guardHeldAtClose = !probe.create();
    };
    QCOMPARE(app->InitInstance(), 0);
    QVERIFY(app->mainWindowRan());
    QCOMPARE(calls_, (QStringList{QStringLiteral("initialize"), QStringLiteral("open"),
                                  QStringLiteral("window"), QStringLiteral("close"),
                                  QStringLiteral("dispose")}));
    QVERIFY(guardHeldAtClose);
    QVERIFY(MessageBox::capturedMessages().isEmpty());
    QVERIFY(ini_->contains(QStringLiteral("Trfc/mX")));
}

void TestApp::terminationSignalClosesWindowAndSavesState()
{
    QVERIFY(closeWindowsOnTerminationSignals());
    CRidelogDlg dialog(*ini_, nullptr, nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.move(33, 44);
    QVERIFY(::raise(SIGTERM) == 0);
    QTRY_VERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(ini_->value(QStringLiteral("Trfc/mX")).toInt(), 33);
    QCOMPARE(ini_->value(QStringLiteral("Trfc/mY")).toInt(), 44);
}

// The session ends (or SIGTERM comes) while the database is locked by another program: the
// write-back fails, and the failure goes to the log instead of a box nobody can answer.
void TestApp::failureAtTerminationGoesToTheLog()
{
    QVERIFY(closeWindowsOnTerminationSignals());
    auto dialog = std::make_unique<CRidelogDlg>(*ini_, nullptr, nullptr);
    dialog->session().store().setBusyTimeout(50);
    dialog->session().caches().stations.EntryFor(StationKey{0, 1, 2}) = {
        QStringLiteral("JR"), QStringLiteral("山手"), QStringLiteral("新宿"),
        QStringLiteral("新宿")};
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QTRY_VERIFY(test::inside(*dialog).databaseCheck() == nullptr);
    Database other = Database::open(dialog->session().store().databasePath(),
                                    Database::OpenMode::ExistingFile, 1000);
    other.execute(QStringLiteral("BEGIN EXCLUSIVE"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^ridelog: .*locked")));
    QVERIFY(::raise(SIGTERM) == 0);
    QTRY_VERIFY(!dialog->isVisible());
    QVERIFY(MessageBox::capturedMessages().isEmpty());
    other.execute(QStringLiteral("ROLLBACK"));
}

void TestApp::terminationSignalEndsAnOpenBox_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("box");
    for (const auto& [name, signal] : {std::pair{"SIGTERM", SIGTERM}, std::pair{"SIGINT", SIGINT},
                                       std::pair{"SIGHUP", SIGHUP}}) {
        QTest::addRow("%s, box with details", name) << signal << QStringLiteral("details");
        QTest::addRow("%s, plain box over the window", name) << signal << QStringLiteral("window");
        QTest::addRow("%s, question", name) << signal << QStringLiteral("question");
    }
}

// One signal ends the box at once, whatever box it is, and the program goes on to close.
void TestApp::terminationSignalEndsAnOpenBox()
{
    QFETCH(int, signal);
    QFETCH(QString, box);
    QVERIFY(closeWindowsOnTerminationSignals());
    MessageBox::setCapturing(false);
    std::unique_ptr<CRidelogDlg> dialog;
    if (box == u"window") {
        dialog = std::make_unique<CRidelogDlg>(*ini_, nullptr, nullptr);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }
    // The signal comes once the box is up; a box still open after 5 s fails the test.
    bool raised = false;
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, this, [&] {
        if (!raised && qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            raised = true;
            ::raise(signal);
        }
    });
    poll.start();
    bool stuck = false;
    QTimer::singleShot(5000, this, [&] {
        if (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            stuck = true;
            open->done(0);
        }
    });
    QElapsedTimer clock;
    clock.start();
    if (box == u"question")
        QVERIFY(!MessageBox::question(nullptr, QStringLiteral("履歴データを削除しますか？")));
    else if (box == u"details")
        MessageBox::show(nullptr, kNoReader, QStringLiteral("RC-S380: not attached"));
    else
        MessageBox::show(dialog.get(), QStringLiteral("ファイルを作成できません。"));
    poll.stop();
    QVERIFY(raised);
    QVERIFY(!stuck);
    QVERIFY(clock.elapsed() < 5000);
    if (dialog)
        QTRY_VERIFY(!dialog->isVisible());
}

// The signal comes while a box of the window's start-up is open (a foreign database, say),
// before the window is shown: the program ends, not with a window nobody asked for.
void TestApp::terminationDuringStartUpEndsTheProgram()
{
    FakeReaderControl* library = nullptr;
    auto app = makeApp(&library);
    MessageBox::setWhileOpen([](const QString&) { closeEveryWindow(); });
    MessageBox::show(nullptr, QStringLiteral("start-up box"));
    QCOMPARE(app->InitInstance(), 0);
    QVERIFY(!app->mainWindowRan());
    QVERIFY(!calls_.contains(QStringLiteral("window")));
    QVERIFY(calls_.contains(QStringLiteral("close")));
    QVERIFY(ini_->contains(QStringLiteral("Trfc/mX"))); // the window's state was saved
    MessageBox::setWhileOpen(nullptr);
}

void TestApp::replayFailuresAreSaidInTheBox_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("reason");
    QTest::newRow("FIFO") << "fifo"
                          << "not a regular file";
    QTest::newRow("folder") << "folder"
                            << "not a regular file";
    QTest::newRow("bad line") << "bad line"
                              << "line 4: the direction is neither > nor <";
    QTest::newRow("same file") << "same"
                               << "は再生中のトレースです";
    QTest::newRow("same file through ./") << "dot"
                                          << "は再生中のトレースです";
    QTest::newRow("same file, hard link") << "hard link"
                                          << "は再生中のトレースです";
    QTest::newRow("same file, symbolic link") << "symlink"
                                              << "は再生中のトレースです";
}

// A trace that cannot be played says so, with the reason and the line, in the box itself; it
// is refused at once (a FIFO never blocks the start) and never emptied by a trace of itself.
void TestApp::replayFailuresAreSaidInTheBox()
{
    QFETCH(QString, setup);
    QFETCH(QString, reason);
    const QString trace = dir_->filePath(QStringLiteral("session.trace"));
    const QByteArray content("# Ridelog reader trace\n# backend: rcs380\n"
                             "1.000 r > usb 0000ff\n2.000 r < usb 0000ff00ff00\n");
    QString traceTo;
    if (setup == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(trace).constData(), 0600), 0);
    } else if (setup == u"folder") {
        QVERIFY(QDir().mkpath(trace));
    } else {
        QFile file(trace);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(setup == u"bad line" ? QByteArray(content).replace("2.000 r < ", "2.000 r ? ")
                                        : content);
    }
    if (setup == u"same")
        traceTo = trace;
    if (setup == u"dot")
        traceTo = dir_->path() + QStringLiteral("/./session.trace");
    if (setup == u"hard link") {
        traceTo = dir_->filePath(QStringLiteral("other-name.trace"));
        QCOMPARE(
            ::link(QFile::encodeName(trace).constData(), QFile::encodeName(traceTo).constData()),
            0);
    }
    if (setup == u"symlink") {
        traceTo = dir_->filePath(QStringLiteral("link.trace"));
        QVERIFY(QFile::link(trace, traceTo));
    }
    const QString spec = QStringLiteral("replay:") + trace;
    CRidelogApp app(AppOptions{spec, QString(), traceTo});
    app.setReaderControl(makeReaderControl(spec, traceTo));
    app.setLockFilePath(dir_->filePath(QStringLiteral("felica-reader.lock")));
    app.setSettings(ini_.get());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^ridelog: ")));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(app.InitInstance(), 1);
    QVERIFY(clock.elapsed() < 3000);
    const QStringList messages = MessageBox::capturedMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith(QStringLiteral("リーダーのトレースを再生できません。\r\n")),
             qPrintable(messages[0]));
    QVERIFY2(messages[0].contains(reason), qPrintable(messages[0]));
    QVERIFY(!app.mainWindowRan());
    if (!traceTo.isEmpty())
        QCOMPARE(fileBytes(trace), content);
}

QTEST_MAIN(TestApp)
#include "test_app.moc"
