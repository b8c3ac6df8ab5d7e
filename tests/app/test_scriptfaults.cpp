// The command line for scripts when it cannot do its work: wrong arguments, a missing data
// folder or database, an unknown card, outputs that cannot be written whole, and databases
// that are damaged, foreign or in use by the window.
#include "namedata/cp932.h"
#include "scriptfixture.h"
#include "store/database.h"
#include "support/damageddatabase.h"
#include "support/smallfilesystem.h"

#include <QScopeGuard>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace ridelog;
using namespace ridelog::test;

class TestScriptFaults : public QObject, public ScriptFixture
{
    Q_OBJECT

private slots:
    void init() { setUpScripts(); }
    void cleanup() { tearDownScripts(); }

    void usageErrors_data();
    void usageErrors();
    void missingDataIsSaid_data();
    void missingDataIsSaid();
    void unknownCardAndEmptyLibrary();
    void outputFileWholeOrNotAtAll();
    void fullDiskFailsAndKeepsTheFile_data();
    void fullDiskFailsAndKeepsTheFile();
    void outputsThatAreNotFiles();
    void reportOntoAFullDisk();
    void databaseNotOursIsLeftAlone_data();
    void databaseNotOursIsLeftAlone();
    void damagedNameTableLeavesCodes();
    void damagedNotesTableIsLeftAlone();
    void readsBesideAWriterWithoutChangingTheFile();
};

void TestScriptFaults::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const auto onCard = [](const char16_t* line) {
        QStringList arguments = words(line);
        arguments.insert(1, QStringLiteral("--card=") + kCardIdm);
        return arguments;
    };
    const auto row = [](const char* name, const QStringList& arguments, const char* message) {
        QTest::newRow(name) << arguments << QString::fromUtf8(message);
    };
    row("no card", words(u"export"), "--card IDM is required");
    row("short IDm", words(u"export --card 0123"), "'0123' is not an IDm");
    row("not hex", words(u"totals --card 0123456789ABCDEG"), "is not an IDm");
    row("no such day", onCard(u"export --from 2026-02-30"), "--from '2026-02-30' is not a date");
    row("short date", onCard(u"totals --to=2026-3-1"), "--to '2026-3-1' is not a date");
    row("from after to", onCard(u"export --from=2026-04-01 --to=2026-03-01"),
        "--from 2026-04-01 is after --to 2026-03-01");
    row("export format", onCard(u"export --format xml"), "unknown format 'xml'");
    row("totals format", onCard(u"totals --format=list-csv"), "unknown format 'list-csv'");
    row("empty output", onCard(u"export --output="), "--output needs a file name");
    row("unknown option", onCard(u"export --bogus"), "Unknown option 'bogus'");
    row("totals output", onCard(u"totals --output=x"), "Unknown option 'output'");
    row("extra argument", words(u"cards more"), "unexpected argument 'more'");
    row("value missing", words(u"export --card"), "Missing value after '--card'");
    row("note without serial", onCard(u"note --claim=yes"), "--serial N is required");
    row("note serial not a number", onCard(u"note --serial=1e3"), "--serial '1e3' is not a serial");
    row("note serial too large", onCard(u"note --serial=16777216"), "is not a serial");
    row("note claim", onCard(u"note --serial=1 --claim=1"), "--claim '1' is neither yes nor no");
    row("note format", onCard(u"note --serial=1 --format=csv"), "Unknown option 'format'");
    row("report without output", onCard(u"report --claimed-only"), "--output FILE.pdf is required");
    row("report dates", onCard(u"report --from=2026-13-01 --output=x.pdf"),
        "--from '2026-13-01' is not a date");
    // An argument of 100,000 characters is cut in the message.
    const QString huge(100000, u'A');
    row("huge IDm", words(u"export --card") << huge, "characters)");
    row("huge option", words(u"export") << QStringLiteral("--") + huge, "characters)");
    row("huge extra argument", words(u"cards") << huge, "characters)");
}

void TestScriptFaults::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const RunResult result = run(arguments);
    QCOMPARE(result.status, int(ScriptUsage));
    QVERIFY2(isOneLineMessage(result.err), result.err.left(300).constData());
    QVERIFY2(result.err.size() < 300, result.err.left(300).constData());
    QVERIFY2(QString::fromUtf8(result.err).contains(message), result.err.constData());
    QVERIFY(result.out.isEmpty());
    QVERIFY(!QFile::exists(databasePath())); // nothing was created on the way
}

void TestScriptFaults::missingDataIsSaid_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("message");
    QTest::newRow("no data folder") << "none"
                                    << "no data folder";
    QTest::newRow("data folder is a file") << "folder is a file"
                                           << "is not a folder";
    QTest::newRow("unreadable data folder") << "unreadable"
                                            << "cannot read the data folder";
    QTest::newRow("database is a folder") << "database folder"
                                          << "is a folder, not a database";
    QTest::newRow("no database") << "no database"
                                 << "no database";
}

// What is missing is said, with its place, and the status is 1, for every command.
void TestScriptFaults::missingDataIsSaid()
{
    QFETCH(QString, setup);
    QFETCH(QString, message);
    const QString folder = QDir::cleanPath(HistoryStore::dataFolderPath());
    if (setup == u"folder is a file") {
        QVERIFY(QDir().mkpath(QFileInfo(folder).path()));
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (setup != u"none") {
        QVERIFY(QDir().mkpath(folder));
    }
    if (setup == u"unreadable") {
        if (::geteuid() == 0)
            QSKIP("root reads every folder");
        QVERIFY(QFile::setPermissions(folder, QFile::WriteOwner));
    }
    if (setup == u"database folder")
        QVERIFY(QDir().mkpath(databasePath()));
    const auto restore = qScopeGuard([&] {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    const QStringList card{QStringLiteral("--card"), kCardIdm};
    for (const QStringList& arguments :
         {words(u"cards"), words(u"export") + card, words(u"totals") + card}) {
        const RunResult result = run(arguments);
        QCOMPARE(result.status, int(ScriptFailed));
        QVERIFY2(isOneLineMessage(result.err), result.err.constData());
        QVERIFY2(result.err.contains(message.toUtf8()), result.err.constData());
        QVERIFY2(result.err.contains(folder.toUtf8()), result.err.constData());
        QVERIFY(result.out.isEmpty());
    }
    // Nothing was created on the way.
    QCOMPARE(QFileInfo(databasePath()).isFile(), false);
}

void TestScriptFaults::unknownCardAndEmptyLibrary()
{
    // A library that was read and holds no card: said on stderr, and no failure.
    {
        HistoryStore store;
        NameCaches caches;
        store.OpenDatabaseAtStart(caches);
    }
    RunResult result = run(words(u"cards"));
    QCOMPARE(result.status, int(ScriptSucceeded));
    QVERIFY(result.out.isEmpty());
    QCOMPARE(result.err, "ridelog: no card is stored in " + databasePath().toUtf8() + '\n');

    storeCard(kOtherIdm, {railBlock(1, 1000)});
    result = runOnCard(u"totals", {}, kCardIdm.toLower());
    QCOMPARE(result.status, int(ScriptFailed));
    QCOMPARE(result.err, "ridelog: no stored history for card " + kCardIdm.toLatin1() + " in " +
                             databasePath().toUtf8() + '\n');
    QVERIFY(result.out.isEmpty());
}

void TestScriptFaults::outputFileWholeOrNotAtAll()
{
    storeCard(kCardIdm, {railBlock(2, 1000), railBlock(1, 1160)});
    const QString target = dir_->filePath(QStringLiteral("out.json"));
    RunResult result = runOnCard(u"export --format=json --output", {target});
    QCOMPARE(result.status, int(ScriptSucceeded));
    QVERIFY(result.out.isEmpty());
    QVERIFY(fileBytes(target).startsWith("{\"card\":{\"idm\":\"012E44A0B1C2D3E4\""));

    const QString missing = dir_->filePath(QStringLiteral("no/such/folder/out.csv"));
    result = runOnCard(u"export --output", {missing});
    QCOMPARE(result.status, int(ScriptFailed));
    QVERIFY(isOneLineMessage(result.err));
    QVERIFY(!QFile::exists(missing));

    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner));
    const QByteArray before = fileBytes(target);
    result = runOnCard(u"export --format=list-csv --output", {target});
    QCOMPARE(result.status, int(ScriptFailed));
    QCOMPARE(result.err, "ridelog: cannot write " + target.toUtf8() + ": permission denied\n");
    QCOMPARE(fileBytes(target), before);
}

void TestScriptFaults::fullDiskFailsAndKeepsTheFile_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<qint64>("leftFree");
    for (const char* format : {"csv", "json", "list-csv", "list-txt"}) {
        QTest::addRow("%s, 100 %% full", format) << QString::fromLatin1(format) << qint64(0);
        QTest::addRow("%s, 8 KiB left", format) << QString::fromLatin1(format) << qint64(8192);
    }
}

void TestScriptFaults::fullDiskFailsAndKeepsTheFile()
{
    QFETCH(QString, format);
    QFETCH(qint64, leftFree);
    SmallFileSystem disk(256 * 1024);
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.whyNotMounted()));
    QList<HistoryBlock> blocks;
    for (int serial = 1; serial <= 300; ++serial)
        blocks.append(railBlock(serial, 5000 - serial));
    storeCard(kCardIdm, blocks);
    const QString target = disk.filePath(QStringLiteral("history.out"));
    const QByteArray old("last month's history\n");
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(old);
    }
    QVERIFY(disk.fillLeaving(leftFree));
    const RunResult result =
        runOnCard(u"export --format", {format, QStringLiteral("--output"), target});
    QCOMPARE(result.status, int(ScriptFailed));
    QCOMPARE(result.err,
             "ridelog: cannot write " + target.toUtf8() + ": no space left on the device\n");
    QCOMPARE(fileBytes(target), old);
    QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{QStringLiteral("filler"), QStringLiteral("history.out")}));
}

// Standard output, a FIFO and a device are written where they are; a full device is a failure.
void TestScriptFaults::outputsThatAreNotFiles()
{
    storeCard(kCardIdm, {railBlock(2, 1000), railBlock(1, 1160)});
    const RunResult toStdout = runOnCard(u"export --format=list-txt --output=-");
    QCOMPARE(toStdout.status, int(ScriptSucceeded));
    QCOMPARE(toStdout.out.count("\r\n"), 2);
    QVERIFY(!QFile::exists(QStringLiteral("-")));

    const QString fifo = dir_->filePath(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QByteArray received;
    std::thread reader([&] {
        QFile pipe(fifo);
        if (pipe.open(QIODevice::ReadOnly))
            received = pipe.readAll();
    });
    const RunResult toFifo = runOnCard(u"export --format=list-txt --output", {fifo});
    reader.join();
    QCOMPARE(toFifo.status, int(ScriptSucceeded));
    QCOMPARE(received, toStdout.out);
    QVERIFY(!QFileInfo(fifo).isFile());

    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    const RunResult full = runOnCard(u"export --format=list-txt --output /dev/full");
    QCOMPARE(full.status, int(ScriptFailed));
    QCOMPARE(full.err,
             QByteArray("ridelog: cannot write /dev/full: no space left on the device\n"));
    // Standard output on a full device, as a shell redirection gives it.
    QProcess process;
    process.setStandardOutputFile(QStringLiteral("/dev/full"));
    process.start(QStringLiteral(RIDELOG_EXECUTABLE), words(u"export --format=list-txt --card")
                                                          << kCardIdm);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), int(ScriptFailed));
    QCOMPARE(process.readAllStandardError(),
             QByteArray("ridelog: cannot write to standard output: no space left on the device\n"));
}

void TestScriptFaults::reportOntoAFullDisk()
{
    storeCommuterMonth();
    const QString pdf = dir_->filePath(QStringLiteral("claim.pdf"));
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 2048; // the disk is full after 2 KiB
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const RunResult result = runOnCard(u"report --output", {pdf});
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QCOMPARE(result.status, int(ScriptFailed));
    QVERIFY2(result.err.startsWith("ridelog: cannot write " + pdf.toUtf8()),
             result.err.constData());
    QVERIFY(isOneLineMessage(result.err));
    QVERIFY(!QFile::exists(pdf));
}

void TestScriptFaults::databaseNotOursIsLeftAlone_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: another program's tables
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("damaged") << QByteArray(4096, 'x') << QByteArray("file is not a database\n");
    QTest::newRow("another program's")
        << QByteArray() << QByteArray("not a Ridelog history file: the table bus has the columns");
}

// Neither read nor written, by any command, and the message names the file and the reason.
void TestScriptFaults::databaseNotOursIsLeftAlone()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, reason);
    QVERIFY(QDir().mkpath(HistoryStore::dataFolderPath()));
    if (content.isEmpty()) {
        Database database =
            Database::open(databasePath(), Database::OpenMode::CreateIfMissing, 100);
        database.execute(QStringLiteral("CREATE TABLE bus (first_code, second_code, company)"));
    } else {
        QFile file(databasePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const QByteArray before = fileBytes(databasePath());
    const QStringList card{QStringLiteral("--card"), kCardIdm};
    for (const QStringList& arguments :
         {words(u"cards"), words(u"export") + card, words(u"note --serial=2 --claim=yes") + card}) {
        const RunResult result = run(arguments);
        QCOMPARE(result.status, int(ScriptFailed));
        QVERIFY2(isOneLineMessage(result.err), result.err.constData());
        QVERIFY2(result.err.startsWith("ridelog: " + databasePath().toUtf8() + ": "),
                 result.err.constData());
        QVERIFY2(result.err.contains(": " + reason), result.err.constData());
        QVERIFY(result.out.isEmpty());
    }
    QCOMPARE(fileBytes(databasePath()), before);
}

// One damaged page in the station names: every card is still exported and totalled, with
// codes where a name cannot be read, and one line on standard error says so.
void TestScriptFaults::damagedNameTableLeavesCodes()
{
    storeCard(kCardIdm, {railBlock(3, 1000), railBlock(2, 1160, 0x11), railBlock(1, 1320)});
    storeCard(kOtherIdm, {busBlock(7, 500), railBlock(6, 710)});
    {
        HistoryStore store;
        NameCaches caches;
        store.OpenDatabaseAtStart(caches);
        // Names of a few thousand stations, so that the table spreads over many pages.
        for (int line = 1; line < 120; ++line) {
            for (int station = 1; station < 40; ++station) {
                const QString name = QStringLiteral("駅%1-%2").arg(line).arg(station);
                caches.stations.EntryFor({0, std::uint8_t(line), std::uint8_t(station)}) = {
                    QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"), name, name};
            }
        }
        QVERIFY(store.WriteBackNames(caches));
    }
    const QByteArray named = cp932::encode(QStringLiteral("駅37-12"));
    QVERIFY(runOnCard(u"export --format=list-csv").out.contains(named));
    QVERIFY(damageTableRootPage(databasePath(), QStringLiteral("ipn")));

    for (const QString& idm : {kCardIdm, kOtherIdm}) {
        for (const QStringView command :
             {u"export --format=list-csv", u"export --format=json", u"totals"}) {
            const RunResult result = runOnCard(command, {}, idm);
            QCOMPARE(result.status, int(ScriptSucceeded));
            QVERIFY2(isOneLineMessage(result.err), result.err.constData());
            QVERIFY2(result.err.contains("ipn: "), result.err.constData());
            QVERIFY(!result.out.isEmpty());
        }
    }
    const RunResult codes = runOnCard(u"export --format=list-csv");
    QCOMPARE(codes.out.count("\r\n"), 3);
    QVERIFY(codes.out.contains("(0, 37, 12)"));
    QVERIFY(!codes.out.contains(named));
}

void TestScriptFaults::damagedNotesTableIsLeftAlone()
{
    storeCard(kCardIdm, {railBlock(2, 1000), railBlock(1, 1160)});
    {
        Database database = Database::open(databasePath(), Database::OpenMode::ExistingFile, 100);
        database.execute(QStringLiteral("CREATE TABLE notes (idm TEXT, memo TEXT)"));
    }
    const QByteArray before = fileBytes(databasePath());
    RunResult result = runOnCard(u"note --serial=2 --claim=yes");
    QCOMPARE(result.status, int(ScriptFailed));
    QVERIFY(result.err.contains("notes table is damaged"));
    QVERIFY(result.err.startsWith("ridelog: " + databasePath().toUtf8() + ": "));
    QCOMPARE(fileBytes(databasePath()), before);
    // Everything else goes on, without notes.
    result = runOnCard(u"export");
    QCOMPARE(result.status, int(ScriptSucceeded));
    QCOMPARE(result.out.count(",false,,\r\n"), 2);
    const QString pdf = dir_->filePath(QStringLiteral("all.pdf"));
    QCOMPARE(runOnCard(u"report --output", {pdf}).status, int(ScriptSucceeded));
    QVERIFY(QFile::exists(pdf));
}

void TestScriptFaults::readsBesideAWriterWithoutChangingTheFile()
{
    storeCard(kCardIdm, {railBlock(2, 1000), railBlock(1, 1160)});
    const QByteArray before = fileBytes(databasePath());
    // The window in the middle of storing a read holds the write lock.
    Database writer = Database::open(databasePath(), Database::OpenMode::ExistingFile, 100);
    Transaction transaction(writer);
    const RunResult result = runOnCard(u"export --format=list-csv");
    QCOMPARE(result.status, int(ScriptSucceeded));
    QCOMPARE(result.out.count("\r\n"), 2);
    QCOMPARE(fileBytes(databasePath()), before);
    const QStringList files = QDir(HistoryStore::dataFolderPath()).entryList(QDir::Files);
    QCOMPARE(files, QStringList{HistoryStore::databaseFileName()});
}

QTEST_MAIN(TestScriptFaults)
#include "test_scriptfaults.moc"
