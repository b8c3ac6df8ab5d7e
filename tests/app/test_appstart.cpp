// The start of the program: its command line, the machine-wide guard that lets one program at
// a time use the card reader, the reader library opened and closed, and the box each failure
// of the start shows instead of the main window.
#include "app/commandline.h"
#include "app/singleinstance.h"
#include "appfixture.h"
#include "support/words.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <sys/stat.h>
#include <unistd.h>

using namespace ridelog;
using namespace ridelog::test;

class TestAppStart : public QObject, AppFixture
{
    Q_OBJECT

private slots:
    void init() { setUpApp(); }
    void cleanup() { tearDownApp(); }

    void commandLine_data();
    void commandLine();
    void executableExits_data();
    void executableExits();

    void guardIsHeldUntilItsOwnerEnds();
    void guardTakesOverLockWithoutLiveOwner_data();
    void guardTakesOverLockWithoutLiveOwner();
    void guardIsSharedWithOtherProcessesAndSurvivesTheirCrash();

    void openReaderResults_data();
    void openReaderResults();
    void closeReaderUndoesOnlyWhatSucceeded();

    void startFailureShowsOneBoxWithoutWindow_data();
    void startFailureShowsOneBoxWithoutWindow();
    void normalRunClosesReaderBeforeGuardIsReleased();
    void readerThatCannotStartSaysWhyInTheBox_data();
    void readerThatCannotStartSaysWhyInTheBox();
};

void TestAppStart::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("nameServer");
    using A = CommandLine::Action;
    const auto row = [](const char* name, const char16_t* line, A action, QString reader = {},
                        QString server = {}) {
        QTest::newRow(name) << words(QStringLiteral("ridelog ") + QString::fromUtf16(line))
                            << int(action) << reader << server;
    };
    const QString automatic = QStringLiteral("auto");
    row("none", u"", A::Run, automatic);
    row("auto", u"--reader=auto", A::Run, automatic);
    row("virtual", u"--reader=virtual:/tmp/c", A::Run, QStringLiteral("virtual:/tmp/c"));
    row("virtual, separate value", u"--reader virtual:cards", A::Run,
        QStringLiteral("virtual:cards"));
    row("pcsc with name", u"--reader=pcsc:ACS", A::Run, QStringLiteral("pcsc:ACS"));
    row("rcs380", u"--reader=rcs380", A::Run, QStringLiteral("rcs380"));
    row("replay, traced", u"--reader=replay:s.trace --reader-trace=again.trace", A::Run,
        QStringLiteral("replay:s.trace"));
    row("name server", u"--name-server=http://127.0.0.1:8080/trfc/", A::Run, automatic,
        QStringLiteral("http://127.0.0.1:8080/trfc/"));
    row("built-in names alone", u"--name-server=builtin", A::Run, automatic,
        QStringLiteral("builtin"));
    row("built-in misspelt", u"--name-server=bultin", A::Fail);
    row("bad server", u"--name-server=ftp://x/", A::Fail);
    row("trace without file", u"--reader-trace", A::Fail);
    row("virtual without folder", u"--reader=virtual:", A::Fail);
    row("unknown reader", u"--reader=felica", A::Fail);
    row("unknown option", u"--colour", A::Fail);
    row("positional", u"card.txt", A::Fail);
    row("reader without value", u"--reader", A::Fail);
    row("help", u"--help", A::ShowHelp);
    row("version", u"--version", A::ShowVersion);
}

void TestAppStart::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    const CommandLine result = parseCommandLine(arguments);
    QCOMPARE(int(result.action), action);
    if (result.action == CommandLine::Action::Run) {
        QTEST(result.options.readerOption, "reader");
        QTEST(result.options.nameServer, "nameServer");
        QCOMPARE(result.options.readerTrace.isEmpty(),
                 !arguments.join(u' ').contains(QStringLiteral("--reader-trace=")));
    }
    if (result.action == CommandLine::Action::Fail) {
        QVERIFY(!result.error.isEmpty());
        QVERIFY(result.helpText.contains(QStringLiteral("--reader")));
    }
}

void TestAppStart::executableExits_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // patterns of the whole standard output and error
    QTest::addColumn<QString>("err");
    QTest::newRow("unknown option") << QStringLiteral("--no-such-option") << 2
                                    << QStringLiteral("^$") << QStringLiteral("Usage: ridelog");
    QTest::newRow("help") << QStringLiteral("--help") << 0 << QStringLiteral("--name-server")
                          << QString();
    QTest::newRow("version") << QStringLiteral("--version") << 0
                             << QStringLiteral("^ridelog 1\\.2\\.0\\s*$") << QString();
}

void TestAppStart::executableExits()
{
    QFETCH(QString, argument);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QProcess ridelog;
    ridelog.start(QStringLiteral(RIDELOG_EXECUTABLE), {argument});
    QVERIFY(ridelog.waitForFinished(10000));
    QTEST(ridelog.exitCode(), "status");
    const QString output = QString::fromUtf8(ridelog.readAllStandardOutput());
    const QString error = QString::fromUtf8(ridelog.readAllStandardError());
    QVERIFY2(QRegularExpression(out).match(output).hasMatch(), qPrintable(output));
    QVERIFY2(QRegularExpression(err).match(error).hasMatch(), qPrintable(error));
}

void TestAppStart::guardIsHeldUntilItsOwnerEnds()
{
    {
        SingleInstanceGuard first(lockFilePath());
        QVERIFY(first.create());
        SingleInstanceGuard second(lockFilePath());
        QVERIFY(!second.create());
        QVERIFY(first.isHeld());
        QVERIFY(QFile::exists(lockFilePath()));
    }
    QVERIFY(!QFile::exists(lockFilePath()));
    SingleInstanceGuard again(lockFilePath());
    QVERIFY(again.create());
}

// A lock left by a process that has ended, or one so empty or garbled that it names no owner
// that could still be running, blocks nobody.
void TestAppStart::guardTakesOverLockWithoutLiveOwner_data()
{
    QTest::addColumn<QByteArray>("content");
    QProcess gone;
    gone.start(QStringLiteral("/bin/true"), {});
    QVERIFY(gone.waitForStarted());
    const qint64 deadPid = gone.processId();
    QVERIFY(gone.waitForFinished());
    QTest::newRow("owner has ended") << QByteArray::number(deadPid) + "\nsome-reader-app\n" +
                                            QSysInfo::machineHostName().toUtf8() + '\n';
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << QByteArrayLiteral("\x01\xfe garbage");
    QTest::newRow("no pid") << QByteArrayLiteral("reader\nhost\n");
    QTest::newRow("cut short") << QByteArrayLiteral("\n");
}

void TestAppStart::guardTakesOverLockWithoutLiveOwner()
{
    QFETCH(QByteArray, content);
    QFile lock(lockFilePath());
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(content);
    lock.close();
    SingleInstanceGuard guard(lockFilePath());
    QVERIFY(guard.create());
    // And it is ours now: a second guard is refused.
    SingleInstanceGuard second(lockFilePath());
    QVERIFY(!second.create());
}

// The program itself keeps its guard in the runtime folder, where another copy finds it.
void TestAppStart::guardIsSharedWithOtherProcessesAndSurvivesTheirCrash()
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

void TestAppStart::openReaderResults_data()
{
    QTest::addColumn<bool>("starts");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("text");
    // A result that is neither failure has only the general text.
    QTest::newRow("opened") << true << true << int(ReaderOpened) << words(u"initialize open")
                            << QStringLiteral("予期しないエラーが発生しました。");
    QTest::newRow("library does not start")
        << false << true << int(LibraryStartFailed) << words(u"initialize") << kNoDriver;
    QTest::newRow("reader does not open")
        << true << false << int(ReaderOpenFailed) << words(u"initialize open") << kNoReader;
}

void TestAppStart::openReaderResults()
{
    QFETCH(bool, starts);
    QFETCH(bool, opens);
    QFETCH(int, result);
    FakeReaderControl library(&calls_);
    library.initializeSucceeds = starts;
    library.openSucceeds = opens;
    card::ReaderContext context;
    QCOMPARE(openReader(context, library), result);
    QCOMPARE(context.libraryInitialised, starts);
    QCOMPARE(context.readerOpen, starts && opens);
    if (result == ReaderOpened) // opening again calls nothing more
        QCOMPARE(openReader(context, library), result);
    QTEST(calls_, "calls");
    QTEST(openReaderFailureText(result), "text");
}

void TestAppStart::closeReaderUndoesOnlyWhatSucceeded()
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

void TestAppStart::startFailureShowsOneBoxWithoutWindow_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<bool>("guardTaken"); // by another copy of the program
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QStringList>("reasons"); // why each backend opened no reader
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("calls");
    // The refusal names the reader the other copy would use.
    const auto refused = [](const char* name, const char16_t* reader, const QString& text) {
        QTest::newRow(name) << QString::fromUtf16(reader) << true << true << QStringList{} << text
                            << QStringList{};
    };
    refused("guard held, any reader", u"auto", kGuardRefused);
    refused("guard held, libnfc", u"libnfc", kGuardRefused);
    refused("guard held, RC-S380", u"rcs380",
            QStringLiteral("PaSoRi RC-S380を使うアプリケーションが既に起動しています。"));
    refused("guard held, PC/SC by name", u"pcsc:SONY FeliCa RC-S300/P",
            QStringLiteral("SONY FeliCa RC-S300/Pを使うアプリケーションが既に起動しています。"));
    refused("guard held, PC/SC without name", u"pcsc:", kGuardRefused);
    refused("guard held, simulated", u"virtual:/tmp/cards",
            QStringLiteral(
                "シミュレーションのカードリーダを使うアプリケーションが既に起動しています。"));
    const QString automatic = QStringLiteral("auto");
    QTest::newRow("library does not start") // and is not disposed of
        << automatic << false << false << QStringList{} << kNoDriver << words(u"initialize");
    QTest::newRow("no reader opens")
        << automatic << false << true
        << QStringList{QStringLiteral(
                           "Sony PaSoRi RC-S380 (libusb): no Sony PaSoRi RC-S380 found on USB"),
                       QStringLiteral("PC/SC reader: the PC/SC service pcscd is not running"),
                       QStringLiteral(
                           "libnfc reader: cannot open the libnfc reader pn53x_usb:001:004: "
                           "install the udev rule 60-ridelog-readers.rules")}
        << kNoReader << words(u"initialize open dispose");
}

// The text stays the program's own; each backend's reason is one line of the box's details.
// The guard is free again afterwards, unless the other copy holds it.
void TestAppStart::startFailureShowsOneBoxWithoutWindow()
{
    QFETCH(QString, reader);
    QFETCH(bool, guardTaken);
    QFETCH(bool, starts);
    QFETCH(QStringList, reasons);
    QFETCH(QString, message);
    SingleInstanceGuard other(lockFilePath());
    QVERIFY(!guardTaken || other.create());
    FakeReaderControl* library = nullptr;
    auto app = makeApp(&library, reader);
    library->initializeSucceeds = starts;
    library->openSucceeds = false;
    library->reasons = reasons;
    QCOMPARE(app->InitInstance(), 1);
    QCOMPARE(MessageBox::capturedMessages(), QStringList{message});
    QCOMPARE(MessageBox::capturedDetails(), QStringList{reasons.join(u'\n')});
    QTEST(calls_, "calls");
    QVERIFY(!app->mainWindowRan());
    QVERIFY(!ini_->contains(QStringLiteral("Trfc/mX")));
    SingleInstanceGuard after(lockFilePath());
    QCOMPARE(after.create(), !guardTaken);
}

void TestAppStart::normalRunClosesReaderBeforeGuardIsReleased()
{
    FakeReaderControl* library = nullptr;
    auto app = makeApp(&library);
    bool guardHeldAtClose = false;
    library->onClose = [&] {
        SingleInstanceGuard probe(lockFilePath());
        guardHeldAtClose = !probe.create();
    };
    QCOMPARE(app->InitInstance(), 0);
    QVERIFY(app->mainWindowRan());
    QCOMPARE(calls_, words(u"initialize open window close dispose"));
    QVERIFY(guardHeldAtClose);
    QVERIFY(MessageBox::capturedMessages().isEmpty());
    QVERIFY(ini_->contains(QStringLiteral("Trfc/mX")));
}

void TestAppStart::readerThatCannotStartSaysWhyInTheBox_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("file");    // what lies at session.trace
    QTest::addColumn<QString>("traceTo"); // the file the trace of this run goes to
    QTest::addColumn<QString>("link");    // how traceTo is made: hard, symbolic or not at all
    QTest::addColumn<QString>("reason");  // %1: the path of session.trace
    const QString itself = QStringLiteral("は再生中のトレースです");
    QTest::newRow("simulated, card folder is a file") << "virtual"
                                                      << "trace"
                                                      << ""
                                                      << ""
                                                      << "カードのフォルダ %1 を作れません";
    QTest::newRow("replay of a FIFO") << "replay"
                                      << "fifo"
                                      << ""
                                      << ""
                                      << "not a regular file";
    QTest::newRow("replay of a folder") << "replay"
                                        << "folder"
                                        << ""
                                        << ""
                                        << "not a regular file";
    QTest::newRow("replay, bad line") << "replay"
                                      << "bad line"
                                      << ""
                                      << ""
                                      << "line 4: the direction is neither > nor <";
    QTest::newRow("replay traced into itself") << "replay"
                                               << "trace"
                                               << "session.trace"
                                               << "" << itself;
    QTest::newRow("replay traced into itself through ./") << "replay"
                                                          << "trace"
                                                          << "./session.trace"
                                                          << "" << itself;
    QTest::newRow("replay traced into a hard link of itself") << "replay"
                                                              << "trace"
                                                              << "other.trace"
                                                              << "hard" << itself;
    QTest::newRow("replay traced into a symbolic link to itself") << "replay"
                                                                  << "trace"
                                                                  << "link.trace"
                                                                  << "symbolic" << itself;
}

// The box says what failed and why, with the line of a trace: the simulated reader's reason
// in the details, a trace's in the box itself. It comes at once (a FIFO never blocks the
// start), and a trace is never emptied by a trace of itself.
void TestAppStart::readerThatCannotStartSaysWhyInTheBox()
{
    QFETCH(QString, reader);
    QFETCH(QString, file);
    QFETCH(QString, link);
    QFETCH(QString, reason);
    const QString trace = dir_->filePath(QStringLiteral("session.trace"));
    const QByteArray content("# Ridelog reader trace\n# backend: rcs380\n"
                             "1.000 r > usb 0000ff\n2.000 r < usb 0000ff00ff00\n");
    if (file == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(trace).constData(), 0600), 0);
    } else if (file == u"folder") {
        QVERIFY(QDir().mkpath(trace));
    } else {
        QFile written(trace);
        QVERIFY(written.open(QIODevice::WriteOnly));
        written.write(file == u"bad line" ? QByteArray(content).replace("2.000 r < ", "2.000 r ? ")
                                          : content);
    }
    QFETCH(QString, traceTo);
    if (!traceTo.isEmpty())
        traceTo = dir_->path() + u'/' + traceTo;
    if (link == u"hard")
        QCOMPARE(
            ::link(QFile::encodeName(trace).constData(), QFile::encodeName(traceTo).constData()),
            0);
    if (link == u"symbolic")
        QVERIFY(QFile::link(trace, traceTo));
    auto app = makeRealApp(reader + u':' + trace, traceTo);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^ridelog: ")));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(app->InitInstance(), 1);
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(MessageBox::capturedMessages().size(), 1);
    const QString box =
        MessageBox::capturedMessages()[0] + u'\n' + MessageBox::capturedDetails()[0];
    const QString says = reader == u"replay"
                             ? QStringLiteral("リーダーのトレースを再生できません。\r\n")
                             : kNoReader + QStringLiteral("\nシミュレーションのカードリーダ（");
    QVERIFY2(box.startsWith(says), qPrintable(box));
    QVERIFY2(box.contains(QString(reason).replace(QStringLiteral("%1"), trace)), qPrintable(box));
    QVERIFY(!app->mainWindowRan());
    if (!traceTo.isEmpty())
        QCOMPARE(fileBytes(trace), content);
}

QTEST_MAIN(TestAppStart)
#include "test_appstart.moc"
