// The command line for scripts when files fail it: outputs that cannot be written whole, and
// databases that are damaged, foreign or in use by the window.
#include "namedata/cp932.h"
#include "scriptfixture.h"
#include "store/database.h"
#include "support/damageddatabase.h"
#include "support/smallfilesystem.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using namespace ridelog;
using namespace ridelog::test;

class TestScriptFaults : public QObject, public ScriptFixture
{
    Q_OBJECT

private slots:
    void init() { setUpScripts(); }
    void cleanup() { tearDownScripts(); }

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
