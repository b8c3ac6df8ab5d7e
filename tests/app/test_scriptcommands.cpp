// The command line for scripts: cards, export, totals and report on the stored history,
// read-only, and note, which writes; without a display or a reader.
#include "app/scriptcommands.h"
#include "card/cardread.h"
#include "card/readerlibrary.h"
#include "namedata/cp932.h"
#include "report/expenseentries.h"
#include "store/cardlibrary.h"
#include "store/historystore.h"
#include "store/notestore.h"
#include "support/cardblocks.h"
#include "support/damageddatabase.h"
#include "support/pdftext.h"
#include "support/smallfilesystem.h"
#include "support/windowaccess.h"
#include "testfiles.h"
#include "testpaths.h"
#include "ui/commandids.h"
#include "ui/historyexport.h"
#include "ui/messagebox.h"
#include "ui/savefiledialog.h"
#include "ui/windowfixture.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace ridelog;
using namespace ridelog::test;
using ridelog::test::SmallFileSystem;

namespace {

const QString kOtherIdm = QStringLiteral("0A0B0C0D0E0F1011");

struct RunResult
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

RunResult run(QStringList arguments)
{
    arguments.prepend(QStringLiteral("ridelog"));
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    RunResult result;
    result.status = runScriptCommand(arguments, out, err);
    result.out = out.data();
    result.err = err.data();
    return result;
}

// One line on standard error that starts with the program's name.
bool isOneLineMessage(const QByteArray& err)
{
    return err.startsWith("ridelog: ") && err.endsWith('\n') && err.count('\n') == 1;
}

} // namespace

class TestScriptCommands : public QObject, public WindowFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void usageErrors_data();
    void usageErrors();
    void missingDataIsSaid_data();
    void missingDataIsSaid();
    void unknownCardAndEmptyLibrary();
    void cardsListsEveryStoredCard();
    void exportMatchesWindowByteForByte();
    void exportFormatsAndRange();
    void sampleCardGivesGateTimesAndKind();
    void totalsAddUp();
    void outputFileWholeOrNotAtAll();
    void fullDiskFailsAndKeepsTheFile_data();
    void fullDiskFailsAndKeepsTheFile();
    void outputsThatAreNotFiles();
    void longArgumentIsCut();
    void damagedDatabaseGivesEngineText();
    void damagedNameTableLeavesCodes();
    void readsBesideAWriterWithoutChangingTheFile();
    void executableRunsWithoutDisplay();
    void notesAndClaimFormAsANewUser_data();
    void notesAndClaimFormAsANewUser();
    void noteRefusals();
    void foreignDatabaseIsLeftAlone();
    void damagedNotesTableIsLeftAlone();
    void reportOntoAFullDisk();

private:
    // Stores blocks for a card the way a read in the window does.
    void storeCard(const QString& idm, const QList<HistoryBlock>& blocks);
    // A month of commuting with named stations: 22 rides, a bus, charges and purchases.
    QList<HistoryBlock> storeCommuterMonth();
    RunResult exec(const QStringList& arguments, const QString& locale = QStringLiteral("C"));
    QString databasePath() const;
};

void TestScriptCommands::init()
{
    setUpWindow();
    MessageBox::setCapturing(true);
    SaveFileDialog::setScripted(true);
}

void TestScriptCommands::cleanup()
{
    SaveFileDialog::setScripted(false);
    MessageBox::setCapturing(false);
    tearDownWindow();
}

QString TestScriptCommands::databasePath() const
{
    return HistoryStore::dataFolderPath() + HistoryStore::databaseFileName();
}

void TestScriptCommands::storeCard(const QString& idm, const QList<HistoryBlock>& blocks)
{
    HistoryStore store;
    NameCaches caches;
    store.OpenDatabaseAtStart(caches);
    CardBlockSet set;
    HistoryStore::MergeCardBlocks(set, std::vector<HistoryBlock>(blocks.begin(), blocks.end()));
    QCOMPARE(store.StoreNewBlocks(idm, set), int(blocks.size()));
}

void TestScriptCommands::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const auto s = [](const char* text) { return QString::fromLatin1(text); };
    const QString card = s("--card=") + kCardIdm;
    QTest::newRow("no card") << QStringList{s("export")} << s("--card IDM is required");
    QTest::newRow("short IDm") << QStringList{s("export"), s("--card"), s("0123")}
                               << s("'0123' is not an IDm");
    QTest::newRow("not hex") << QStringList{s("totals"), s("--card"), s("0123456789ABCDEG")}
                             << s("is not an IDm");
    QTest::newRow("no such day") << QStringList{s("export"), card, s("--from"), s("2026-02-30")}
                                 << s("--from '2026-02-30' is not a date");
    QTest::newRow("short date") << QStringList{s("totals"), card, s("--to=2026-3-1")}
                                << s("--to '2026-3-1' is not a date");
    QTest::newRow("from after to")
        << QStringList{s("export"), card, s("--from=2026-04-01"), s("--to=2026-03-01")}
        << s("--from 2026-04-01 is after --to 2026-03-01");
    QTest::newRow("export format")
        << QStringList{s("export"), card, s("--format"), s("xml")} << s("unknown format 'xml'");
    QTest::newRow("totals format")
        << QStringList{s("totals"), card, s("--format=list-csv")} << s("unknown format 'list-csv'");
    QTest::newRow("empty output") << QStringList{s("export"), card, s("--output=")}
                                  << s("--output needs a file name");
    QTest::newRow("unknown option")
        << QStringList{s("export"), card, s("--bogus")} << s("Unknown option 'bogus'");
    QTest::newRow("totals output")
        << QStringList{s("totals"), card, s("--output=x")} << s("Unknown option 'output'");
    QTest::newRow("extra argument")
        << QStringList{s("cards"), s("more")} << s("unexpected argument 'more'");
    QTest::newRow("value missing")
        << QStringList{s("export"), s("--card")} << s("Missing value after '--card'");
    QTest::newRow("note without serial")
        << QStringList{s("note"), card, s("--claim=yes")} << s("--serial N is required");
    QTest::newRow("note serial not a number")
        << QStringList{s("note"), card, s("--serial=1e3")} << s("--serial '1e3' is not a serial");
    QTest::newRow("note serial too large")
        << QStringList{s("note"), card, s("--serial=16777216")} << s("is not a serial");
    QTest::newRow("note claim") << QStringList{s("note"), card, s("--serial=1"), s("--claim=1")}
                                << s("--claim '1' is neither yes nor no");
    QTest::newRow("note format") << QStringList{s("note"), card, s("--serial=1"), s("--format=csv")}
                                 << s("Unknown option 'format'");
    QTest::newRow("report without output") << QStringList{s("report"), card, s("--claimed-only")}
                                           << s("--output FILE.pdf is required");
    QTest::newRow("report dates") << QStringList{s("report"), card, s("--from=2026-13-01"),
                                                 s("--output=x.pdf")}
                                  << s("--from '2026-13-01' is not a date");
}

void TestScriptCommands::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const RunResult result = run(arguments);
    QCOMPARE(result.status, int(ScriptUsage));
    QVERIFY2(isOneLineMessage(result.err), result.err.constData());
    QVERIFY2(QString::fromUtf8(result.err).contains(message), result.err.constData());
    QVERIFY(result.out.isEmpty());
    QVERIFY(!QFile::exists(databasePath())); // nothing was created on the way
}

void TestScriptCommands::missingDataIsSaid_data()
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
void TestScriptCommands::missingDataIsSaid()
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
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("cards")},
          QStringList{QStringLiteral("export"), QStringLiteral("--card"), kCardIdm},
          QStringList{QStringLiteral("totals"), QStringLiteral("--card"), kCardIdm}}) {
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

void TestScriptCommands::unknownCardAndEmptyLibrary()
{
    // A library that was read and holds no card: said on stderr, and no failure.
    {
        HistoryStore store;
        NameCaches caches;
        store.OpenDatabaseAtStart(caches);
    }
    RunResult result = run({QStringLiteral("cards")});
    QCOMPARE(result.status, int(ScriptSucceeded));
    QVERIFY(result.out.isEmpty());
    QCOMPARE(result.err, "ridelog: no card is stored in " + databasePath().toUtf8() + '\n');

    storeCard(kOtherIdm, {railBlock(1, 1000)});
    result = run({QStringLiteral("totals"), QStringLiteral("--card"), kCardIdm.toLower()});
    QCOMPARE(result.status, int(ScriptFailed));
    QCOMPARE(result.err, "ridelog: no stored history for card " + kCardIdm.toLatin1() + " in " +
                             databasePath().toUtf8() + '\n');
    QVERIFY(result.out.isEmpty());
}

void TestScriptCommands::cardsListsEveryStoredCard()
{
    BlockFields early;
    early.year = 2024;
    early.month = 12;
    early.day = 31;
    early.serial = 3;
    early.balance = 500;
    storeCard(kCardIdm, {railBlock(7, 1000), makeBlock(early), railBlock(5, 1200)});
    storeCard(kOtherIdm, {busBlock(1, 300)});
    // The name given in the window is the fifth field; a tab or line end in it is a blank.
    QVERIFY(CardLibrary(databasePath()).renameCard(kOtherIdm, QStringLiteral("家族\tの\nカード")));
    const RunResult result = run({QStringLiteral("cards")});
    QCOMPARE(result.status, int(ScriptSucceeded));
    QCOMPARE(result.out, QByteArray("012E44A0B1C2D3E4\t3\t2008-03-05\t2024-12-31\t\t\n"
                                    "0A0B0C0D0E0F1011\t1\t2008-03-05\t2008-03-05\t") +
                             QStringLiteral("家族 の カード").toUtf8() + "\t\n");
    const RunResult json = run({QStringLiteral("export"), QStringLiteral("--card"), kOtherIdm,
                                QStringLiteral("--format"), QStringLiteral("json")});
    const QJsonObject card =
        QJsonDocument::fromJson(json.out).object().value(QStringLiteral("card")).toObject();
    QCOMPARE(card.value(QStringLiteral("nickname")).toString(), QStringLiteral("家族\tの\nカード"));
    QVERIFY(CardLibrary(databasePath())
                .noteCardKind(kOtherIdm, card::CardKind::Pasmo, QDateTime::currentDateTimeUtc()));
    QVERIFY(run({QStringLiteral("cards")})
                .out.endsWith(QStringLiteral("家族 の カード\tPASMO\n").toUtf8()));
}

void TestScriptCommands::exportMatchesWindowByteForByte()
{
    putCard({shopBlock(5, 1880), busBlock(4, 2000), railBlock(3, 2210), railBlock(2, 2370, 0),
             typedBlock(8, 2, 1, 2530, 0, 0, 0, 0)});
    QByteArray windowCsv;
    QByteArray windowTxt;
    QByteArray windowUtf8;
    {
        auto dlg = makeWindow();
        QVERIFY(QTest::qWaitFor([&] { return test::inside(*dlg).historyModel()->rowCount() == 5; },
                                5000));
        // Names as the server delivers them: with their parts, or they are not kept.
        dlg->session().caches().stations.EntryFor({0, 0x25, 0x0C}) = {
            QStringLiteral("東急"), QStringLiteral("東横"), QStringLiteral("渋谷"),
            QStringLiteral("渋谷(東急,東横線)")};
        dlg->session().caches().busStops.EntryFor({0x1234, 0x0123}) = {
            QString(), QStringLiteral("渋谷駅前"), QString(), QStringLiteral("渋谷駅前")};
        dlg->readCard();
        bool triggered = true;
        const auto exportAs = [&](const QString& name, ExportFilter filter) {
            SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(name), int(filter)});
            triggered = dlg->triggerCommand(ids::SaveToFile) && triggered;
            return fileBytes(dir_->filePath(name));
        };
        windowCsv = exportAs(QStringLiteral("list.csv"), ExportFilter::ListCsv);
        windowTxt = exportAs(QStringLiteral("list.txt"), ExportFilter::ListText);
        windowUtf8 = exportAs(QStringLiteral("utf8.csv"), ExportFilter::Utf8Csv);
        QVERIFY(triggered);
        dlg->close(); // the names learnt go to the name tables
    }
    QVERIFY(MessageBox::capturedMessages().isEmpty());
    QVERIFY(windowCsv.contains("\"\x8f\x61\x92\x4a(\x93\x8c\x8b\x7d,\x93\x8c\x89\xa1\x90\xfc)\""));
    const QStringList card{QStringLiteral("--card"), kCardIdm};
    for (const auto& [format, expected] : {std::pair{QStringLiteral("list-csv"), windowCsv},
                                           std::pair{QStringLiteral("list-txt"), windowTxt},
                                           std::pair{QStringLiteral("csv"), windowUtf8}}) {
        const RunResult result = run(QStringList{QStringLiteral("export")} + card +
                                     QStringList{QStringLiteral("--format=") + format});
        QCOMPARE(result.status, int(ScriptSucceeded));
        QCOMPARE(result.out, expected);
    }
}

void TestScriptCommands::exportFormatsAndRange()
{
    BlockFields april;
    april.month = 4;
    april.day = 1;
    april.serial = 4;
    april.balance = 700;
    storeCard(kCardIdm, {makeBlock(april), railBlock(3, 1000), railBlock(2, 1160),
                         typedBlock(8, 2, 1, 1320, 0, 0, 0, 0)});
    // Only March; the amount of the first entry in range still comes from the one before it.
    const RunResult result =
        run({QStringLiteral("export"), QStringLiteral("--card"), kCardIdm, QStringLiteral("--to"),
             QStringLiteral("2008-03-31"), QStringLiteral("--format"), QStringLiteral("list-txt")});
    QCOMPARE(result.status, int(ScriptSucceeded));
    const QList<QByteArray> lines = result.out.split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].startsWith("3 2008-3-5 "));
    QVERIFY(lines[0].endsWith(" 160\r"));
    QVERIFY(lines[2].endsWith(" (1320)\r"));
}

void TestScriptCommands::sampleCardGivesGateTimesAndKind()
{
    // The sample card read as a new user's first read stores it: history, gate log, kind.
    QTemporaryDir cards;
    QVERIFY(QFile::copy(QStringLiteral(RIDELOG_SAMPLE_CARDS_DIR "/commuter.card"),
                        cards.filePath(QStringLiteral("commuter.card"))));
    card::ReaderLibrary library(card::ReaderConfig{QStringLiteral("virtual:") + cards.path()});
    card::ReaderContext context;
    QCOMPARE(card::openReader(library, context), 0);
    const card::CardReadResult read = card::readCardHistory(library, context);
    QVERIFY2(read.ok && read.gateLogRead && read.kind, qPrintable(library.lastError()));
    {
        HistoryStore store;
        NameCaches caches;
        store.OpenDatabaseAtStart(caches);
        CardBlockSet blocks;
        store.LoadStoredBlocks(read.idmText, blocks);
        HistoryStore::MergeCardBlocks(blocks, read.blocks);
        QCOMPARE(store.StoreNewBlocks(read.idmText, blocks, read.gateLog), 7);
        QVERIFY(CardLibrary(databasePath())
                    .noteCardKind(read.idmText, *read.kind, QDateTime::currentDateTimeUtc()));
    }
    card::closeReader(library, context);

    const RunResult listing = run({QStringLiteral("cards")});
    QCOMPARE(listing.out, QByteArray("012E44A0B1C2D3E4\t7\t2026-11-28\t2026-12-04\t\tSuica\n"));
    const RunResult result = run({QStringLiteral("export"), QStringLiteral("--card"), read.idmText,
                                  QStringLiteral("--format"), QStringLiteral("json")});
    QCOMPARE(result.status, int(ScriptSucceeded));
    const QJsonObject document = QJsonDocument::fromJson(result.out).object();
    QCOMPARE(document.value(QStringLiteral("card")).toObject().value(QStringLiteral("kind")),
             QJsonValue(QStringLiteral("Suica")));
    const QJsonArray entries = document.value(QStringLiteral("entries")).toArray();
    QCOMPARE(entries.size(), 7);
    // The two newest journeys: 新宿 -> 渋谷 on 12-04, 渋谷 -> 新宿 on 11-29 (its entry tap is
    // no longer on the card).
    QCOMPARE(entries[0].toObject().value(QStringLiteral("entry_time")),
             QJsonValue(QStringLiteral("08:27")));
    QCOMPARE(entries[0].toObject().value(QStringLiteral("exit_time")),
             QJsonValue(QStringLiteral("08:42")));
    QVERIFY(entries[4].toObject().value(QStringLiteral("entry_time")).isNull());
    QCOMPARE(entries[4].toObject().value(QStringLiteral("exit_time")),
             QJsonValue(QStringLiteral("19:05")));
    for (const int other : {1, 2, 3, 5, 6})
        QVERIFY(entries[other].toObject().value(QStringLiteral("exit_time")).isNull());
}

void TestScriptCommands::totalsAddUp()
{
    storeCard(kCardIdm, {shopBlock(5, 1880), busBlock(4, 2000), railBlock(3, 2210),
                         railBlock(2, 2370, 0), typedBlock(8, 2, 1, 2530, 0, 0, 0, 0)});
    const RunResult result = run({QStringLiteral("totals"), QStringLiteral("--card"), kCardIdm,
                                  QStringLiteral("--format"), QStringLiteral("json")});
    QCOMPARE(result.status, int(ScriptSucceeded));
    const QJsonObject total =
        QJsonDocument::fromJson(result.out).object().value(QStringLiteral("total")).toObject();
    QCOMPARE(total.value(QStringLiteral("rail_journeys")).toInt(), 2);
    QCOMPARE(total.value(QStringLiteral("rail_fares_yen")).toInt(), 320);
    QCOMPARE(total.value(QStringLiteral("bus_fares_yen")).toInt(), 210);
    QCOMPARE(total.value(QStringLiteral("purchased_yen")).toInt(), 120);
    QCOMPARE(total.value(QStringLiteral("spending_yen")).toInt(), 2530 - 1880);
    QCOMPARE(total.value(QStringLiteral("closing_balance_yen")).toInt(), 1880);
}

void TestScriptCommands::outputFileWholeOrNotAtAll()
{
    storeCard(kCardIdm, {railBlock(2, 1000), railBlock(1, 1160)});
    const QString target = dir_->filePath(QStringLiteral("out.json"));
    RunResult result = run({QStringLiteral("export"), QStringLiteral("--card"), kCardIdm,
                            QStringLiteral("--format=json"), QStringLiteral("--output"), target});
    QCOMPARE(result.status, int(ScriptSucceeded));
    QVERIFY(result.out.isEmpty());
    QVERIFY(fileBytes(target).startsWith("{\"card\":{\"idm\":\"012E44A0B1C2D3E4\""));

    const QString missing = dir_->filePath(QStringLiteral("no/such/folder/out.csv"));
    result = run({QStringLiteral("export"), QStringLiteral("--card"), kCardIdm,
                  QStringLiteral("--output"), missing});
    QCOMPARE(result.status, int(ScriptFailed));
    QVERIFY(isOneLineMessage(result.err));
    QVERIFY(!QFile::exists(missing));

    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner));
    const QByteArray before = fileBytes(target);
    result = run({QStringLiteral("export"), QStringLiteral("--card"), kCardIdm,
                  QStringLiteral("--format=list-csv"), QStringLiteral("--output"), target});
    QCOMPARE(result.status, int(ScriptFailed));
    QCOMPARE(result.err, "ridelog: cannot write " + target.toUtf8() + ": permission denied\n");
    QCOMPARE(fileBytes(target), before);
}

void TestScriptCommands::fullDiskFailsAndKeepsTheFile_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<qint64>("leftFree");
    for (const char* format : {"csv", "json", "list-csv", "list-txt"}) {
        QTest::addRow("%s, 100 %% full", format) << QString::fromLatin1(format) << qint64(0);
        QTest::addRow("%s, 8 KiB left", format) << QString::fromLatin1(format) << qint64(8192);
    }
}

void TestScriptCommands::fullDiskFailsAndKeepsTheFile()
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
        run({QStringLiteral("export"), QStringLiteral("--card"), kCardIdm,
             QStringLiteral("--format"), format, QStringLiteral("--output"), target});
    QCOMPARE(result.status, int(ScriptFailed));
    QCOMPARE(result.err,
             "ridelog: cannot write " + target.toUtf8() + ": no space left on the device\n");
    QCOMPARE(fileBytes(target), old);
    QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{QStringLiteral("filler"), QStringLiteral("history.out")}));
}

// Standard output, a FIFO and a device are written where they are; a full device is a failure.
void TestScriptCommands::outputsThatAreNotFiles()
{
    storeCard(kCardIdm, {railBlock(2, 1000), railBlock(1, 1160)});
    const QStringList exportList{QStringLiteral("export"), QStringLiteral("--card"), kCardIdm,
                                 QStringLiteral("--format=list-txt")};
    const RunResult toStdout = run(exportList + QStringList{QStringLiteral("--output=-")});
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
    const RunResult toFifo = run(exportList + QStringList{QStringLiteral("--output"), fifo});
    reader.join();
    QCOMPARE(toFifo.status, int(ScriptSucceeded));
    QCOMPARE(received, toStdout.out);
    QVERIFY(!QFileInfo(fifo).isFile());

    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    const RunResult full =
        run(exportList + QStringList{QStringLiteral("--output"), QStringLiteral("/dev/full")});
    QCOMPARE(full.status, int(ScriptFailed));
    QCOMPARE(full.err,
             QByteArray("ridelog: cannot write /dev/full: no space left on the device\n"));
    // Standard output on a full device, as a shell redirection gives it.
    QProcess process;
    process.setStandardOutputFile(QStringLiteral("/dev/full"));
    process.start(QStringLiteral(RIDELOG_EXECUTABLE), exportList);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), int(ScriptFailed));
    QCOMPARE(process.readAllStandardError(),
             QByteArray("ridelog: cannot write to standard output: no space left on the device\n"));
}

void TestScriptCommands::longArgumentIsCut()
{
    const QString huge(100000, u'A');
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("export"), QStringLiteral("--card"), huge},
          QStringList{QStringLiteral("export"), QStringLiteral("--") + huge},
          QStringList{QStringLiteral("cards"), huge}}) {
        const RunResult result = run(arguments);
        QCOMPARE(result.status, int(ScriptUsage));
        QVERIFY(isOneLineMessage(result.err));
        QVERIFY2(result.err.size() < 300, result.err.left(300).constData());
        QVERIFY(result.err.contains("characters)"));
    }
}

void TestScriptCommands::damagedDatabaseGivesEngineText()
{
    QVERIFY(QDir().mkpath(HistoryStore::dataFolderPath()));
    QFile file(databasePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    for (const QString& command : {QStringLiteral("cards"), QStringLiteral("export")}) {
        QStringList arguments{command};
        if (command != u"cards")
            arguments << QStringLiteral("--card") << kCardIdm;
        const RunResult result = run(arguments);
        QCOMPARE(result.status, int(ScriptFailed));
        QCOMPARE(result.err, "ridelog: " + databasePath().toUtf8() + ": file is not a database\n");
        QVERIFY(result.out.isEmpty());
    }
    QCOMPARE(fileBytes(databasePath()), QByteArray(4096, 'x'));
}

// One damaged page in the station names: every card is still exported and totalled, with
// codes where a name cannot be read, and one line on standard error says so.
void TestScriptCommands::damagedNameTableLeavesCodes()
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
    const RunResult named = run({QStringLiteral("export"), QStringLiteral("--card"), kCardIdm,
                                 QStringLiteral("--format=list-csv")});
    QVERIFY(named.out.contains(cp932::encode(QStringLiteral("駅37-12"))));
    QVERIFY(damageTableRootPage(databasePath(), QStringLiteral("ipn")));

    for (const QString& idm : {kCardIdm, kOtherIdm}) {
        for (const QStringList& command :
             {QStringList{QStringLiteral("export"), QStringLiteral("--format=list-csv")},
              QStringList{QStringLiteral("export"), QStringLiteral("--format=json")},
              QStringList{QStringLiteral("totals")}}) {
            const RunResult result = run(command + QStringList{QStringLiteral("--card"), idm});
            QCOMPARE(result.status, int(ScriptSucceeded));
            QVERIFY2(isOneLineMessage(result.err), result.err.constData());
            QVERIFY2(result.err.contains("ipn: "), result.err.constData());
            QVERIFY(!result.out.isEmpty());
        }
    }
    const RunResult codes = run({QStringLiteral("export"), QStringLiteral("--card"), kCardIdm,
                                 QStringLiteral("--format=list-csv")});
    QCOMPARE(codes.out.count("\r\n"), 3);
    QVERIFY(codes.out.contains("(0, 37, 12)"));
    QVERIFY(!codes.out.contains(cp932::encode(QStringLiteral("駅37-12"))));
}

void TestScriptCommands::readsBesideAWriterWithoutChangingTheFile()
{
    storeCard(kCardIdm, {railBlock(2, 1000), railBlock(1, 1160)});
    const QByteArray before = fileBytes(databasePath());
    // The window in the middle of storing a read holds the write lock.
    Database writer = Database::open(databasePath(), Database::OpenMode::ExistingFile, 100);
    Transaction transaction(writer);
    const RunResult result = run({QStringLiteral("export"), QStringLiteral("--card"), kCardIdm,
                                  QStringLiteral("--format=list-csv")});
    QCOMPARE(result.status, int(ScriptSucceeded));
    QCOMPARE(result.out.count("\r\n"), 2);
    QCOMPARE(fileBytes(databasePath()), before);
    const QStringList files = QDir(HistoryStore::dataFolderPath()).entryList(QDir::Files);
    QCOMPARE(files, QStringList{HistoryStore::databaseFileName()});
}

void TestScriptCommands::executableRunsWithoutDisplay()
{
    storeCard(kCardIdm, {railBlock(1, 1000)});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // A window would fail here: there is no display to connect to.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const auto exec = [&](const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(RIDELOG_EXECUTABLE), arguments);
        process.waitForFinished(30000);
        return RunResult{process.exitCode(), process.readAllStandardOutput(),
                         process.readAllStandardError()};
    };
    RunResult result = exec({QStringLiteral("cards")});
    QCOMPARE(result.status, 0);
    QVERIFY(result.out.startsWith(kCardIdm.toLatin1() + "\t1\t"));
    result = exec({QStringLiteral("export"), QStringLiteral("--card"), kOtherIdm});
    QCOMPARE(result.status, 1);
    QVERIFY(isOneLineMessage(result.err));
    result = exec({QStringLiteral("totals")});
    QCOMPARE(result.status, 2);
    QVERIFY(isOneLineMessage(result.err));
    result = exec({QStringLiteral("export"), QStringLiteral("--help")});
    QCOMPARE(result.status, 0);
    QVERIFY(result.out.contains("ridelog totals --card IDM"));
    result = exec({QStringLiteral("--help")});
    QCOMPARE(result.status, 0);
    QVERIFY(result.out.contains("ridelog export --card IDM"));
    QVERIFY(result.out.contains("--reader"));
}

QList<HistoryBlock> TestScriptCommands::storeCommuterMonth()
{
    // Names as the name server gave them, in the stored name tables.
    {
        HistoryStore store;
        NameCaches caches;
        store.OpenDatabaseAtStart(caches);
        caches.stations.EntryFor({0, 0x25, 0x0C}) = {QStringLiteral("東急"), QStringLiteral("東横"),
                                                     QStringLiteral("渋谷"),
                                                     QStringLiteral("渋谷")};
        caches.stations.EntryFor({0, 0x25, 0x10}) = {QStringLiteral("東急"), QStringLiteral("東横"),
                                                     QStringLiteral("横浜"),
                                                     QStringLiteral("横浜")};
        if (!store.WriteBackNames(caches))
            qFatal("the name tables cannot be written");
    }
    QList<HistoryBlock> blocks;
    int balance = 10000;
    std::uint32_t serial = 200;
    for (int day = 1; day <= 28; ++day) {
        BlockFields ride;
        ride.terminal = 22;
        ride.process = 1;
        ride.year = 2026;
        ride.month = 2;
        ride.day = day;
        ride.b6 = 0x25;
        ride.b7 = 0x0C;
        ride.b8 = 0x25;
        ride.b9 = 0x10;
        ride.serial = serial++;
        if (day % 9 == 0) { // a charge now and then
            ride.process = 2;
            balance += 3000;
        } else if (day % 7 == 0) { // a bus
            ride.terminal = 5;
            ride.process = 13;
            balance -= 220;
        } else {
            balance -= 290 + day % 3 * 10;
        }
        ride.balance = balance;
        blocks.append(makeBlock(ride));
    }
    storeCard(kCardIdm, blocks);
    return blocks;
}

RunResult TestScriptCommands::exec(const QStringList& arguments, const QString& locale)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("LANGUAGE"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("LC_ALL"), locale);
    environment.insert(QStringLiteral("LANG"), locale);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(RIDELOG_EXECUTABLE), arguments);
    process.waitForFinished(60000);
    return RunResult{process.exitCode(), process.readAllStandardOutput(),
                     process.readAllStandardError()};
}

void TestScriptCommands::notesAndClaimFormAsANewUser_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("totalPattern");
    QTest::newRow("Japanese") << QStringLiteral("ja_JP.UTF-8") << QStringLiteral("交通費精算書")
                              << QStringLiteral("合計（(\\d+) 件）\\s+([\\d,]+)円");
    QTest::newRow("English") << QStringLiteral("en_US.UTF-8")
                             << QStringLiteral("Travel Expense Claim")
                             << QStringLiteral("Total \\((\\d+) entries\\)\\s+¥([\\d,]+)");
}

void TestScriptCommands::notesAndClaimFormAsANewUser()
{
    QFETCH(QString, locale);
    QFETCH(QString, title);
    QFETCH(QString, totalPattern);
    const QList<HistoryBlock> blocks = storeCommuterMonth();
    const QStringList card{QStringLiteral("--card"), kCardIdm.toLower()};
    const auto note = [&](int serial, const QStringList& more) {
        return exec(QStringList{QStringLiteral("note")} + card +
                    QStringList{QStringLiteral("--serial"), QString::number(serial)} + more);
    };
    // Purposes on five journeys, marks on three of them and on one more without a purpose.
    const std::map<int, QString> purposes{{203, QStringLiteral("A社打合せ")},
                                          {205, QStringLiteral("B社 納品")},
                                          {210, QStringLiteral("研修（本社）")},
                                          {213, QStringLiteral("私用")},
                                          {220, QStringLiteral("C社\t見積")}};
    for (const auto& [serial, purpose] : purposes)
        QCOMPARE(note(serial, {QStringLiteral("--purpose"), purpose}).status, 0);
    const std::vector<int> claimed{203, 205, 206, 220};
    for (const int serial : claimed)
        QCOMPARE(note(serial, {QStringLiteral("--claim=yes")}).status, 0);
    // 208 is a charge: marked, it is still no cost.
    QCOMPARE(note(208, {QStringLiteral("--claim"), QStringLiteral("yes")}).status, 0);
    RunResult shown = note(220, {});
    QCOMPARE(shown.status, 0);
    QCOMPARE(QString::fromUtf8(shown.out), QStringLiteral("220\tyes\tC社 見積\n"));

    const QString pdf = dir_->filePath(QStringLiteral("精算書.pdf"));
    const RunResult made = exec({QStringLiteral("report"), QStringLiteral("--card"), kCardIdm,
                                 QStringLiteral("--claimed-only"), QStringLiteral("--name"),
                                 QStringLiteral("山田 花子"), QStringLiteral("--department"),
                                 QStringLiteral("営業部"), QStringLiteral("--output"), pdf},
                                locale);
    QVERIFY2(made.status == 0, made.err.constData());
    const QString text = pdfText(pdf);
    QVERIFY2(text.contains(title), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("山田 花子")));
    QVERIFY(text.contains(QStringLiteral("渋谷")) && text.contains(QStringLiteral("横浜")));
    for (const int serial : {203, 205, 220})
        QVERIFY2(text.contains(cleanPurpose(purposes.at(serial))), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("研修")) && !text.contains(QStringLiteral("私用")));
    // The amounts from the balances: the previous entry's balance minus this one's.
    qint64 expected = 0;
    for (const int serial : claimed) {
        const HistoryBlock& block = blocks[serial - 200];
        const HistoryBlock& before = blocks[serial - 201];
        expected += (before[10] | before[11] << 8) - (block[10] | block[11] << 8);
    }
    const QRegularExpressionMatch total = QRegularExpression(totalPattern).match(text);
    QVERIFY2(total.hasMatch(), qPrintable(text));
    QCOMPARE(total.captured(1).toInt(), int(claimed.size()));
    QCOMPARE(total.captured(2).remove(u',').toLongLong(), expected);
    QVERIFY(made.out.contains("4 entries, total " + QByteArray::number(expected) + " yen"));

    // The UTF-8 export carries them too, at the end of each line.
    const RunResult csv = run({QStringLiteral("export"), QStringLiteral("--card"), kCardIdm});
    QVERIFY(csv.out.contains(",012E44A0B1C2D3E4,A社打合せ,true,,\r\n"));
    QVERIFY(csv.out.contains(",012E44A0B1C2D3E4,私用,false,,\r\n"));
    QVERIFY(csv.out.contains(",012E44A0B1C2D3E4,,true,,\r\n")); // 206: a mark alone
}

void TestScriptCommands::noteRefusals()
{
    storeCard(kCardIdm, {railBlock(2, 1000), railBlock(1, 1160)});
    const QStringList card{QStringLiteral("note"), QStringLiteral("--card"), kCardIdm};
    RunResult result =
        run(card + QStringList{QStringLiteral("--serial=3"), QStringLiteral("--claim=yes")});
    QCOMPARE(result.status, int(ScriptFailed));
    QCOMPARE(result.err, "ridelog: card " + kCardIdm.toLatin1() + " has no stored entry 3\n");
    result = run({QStringLiteral("note"), QStringLiteral("--card"), kOtherIdm,
                  QStringLiteral("--serial=1"), QStringLiteral("--claim=yes")});
    QCOMPARE(result.status, int(ScriptFailed));
    QVERIFY(isOneLineMessage(result.err));
    // 100,000 characters with NUL and direction marks: 200 clean characters are kept.
    const QString typed = QString(QChar(0)) + QChar(0x202E) + QString(100'000, u'用');
    result =
        run(card + QStringList{QStringLiteral("--serial=2"), QStringLiteral("--purpose"), typed});
    QCOMPARE(result.status, int(ScriptSucceeded));
    QCOMPARE(NoteStore(databasePath()).notesOf(kCardIdm).notes.at(2).purpose, QString(200, u'用'));

    // The window storing a read holds the write lock: the note waits, then says so.
    Database writer = Database::open(databasePath(), Database::OpenMode::ExistingFile, 100);
    Transaction holding(writer);
    result = run(card + QStringList{QStringLiteral("--serial=1"), QStringLiteral("--claim=yes")});
    QCOMPARE(result.status, int(ScriptFailed));
    QVERIFY2(result.err.contains("locked"), result.err.constData());
    QVERIFY(isOneLineMessage(result.err));
    holding.commit();
    QVERIFY(!NoteStore(databasePath()).notesOf(kCardIdm).notes.contains(1));
}

// Another program's database is neither read nor written, and the message names it.
void TestScriptCommands::foreignDatabaseIsLeftAlone()
{
    QVERIFY(QDir().mkpath(HistoryStore::dataFolderPath()));
    {
        Database database =
            Database::open(databasePath(), Database::OpenMode::CreateIfMissing, 100);
        database.execute(QStringLiteral("CREATE TABLE bus (first_code, second_code, company)"));
    }
    const QByteArray before = fileBytes(databasePath());
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("cards")},
          QStringList{QStringLiteral("export"), QStringLiteral("--card"), kCardIdm},
          QStringList{QStringLiteral("note"), QStringLiteral("--card"), kCardIdm,
                      QStringLiteral("--serial=2"), QStringLiteral("--claim=yes")}}) {
        const RunResult result = run(arguments);
        QCOMPARE(result.status, int(ScriptFailed));
        QVERIFY2(isOneLineMessage(result.err), result.err.constData());
        QVERIFY2(result.err.startsWith("ridelog: " + databasePath().toUtf8() + ": "),
                 result.err.constData());
        QVERIFY2(result.err.contains("not a Ridelog history file: the table bus has the columns"),
                 result.err.constData());
    }
    QCOMPARE(fileBytes(databasePath()), before);
}

void TestScriptCommands::damagedNotesTableIsLeftAlone()
{
    storeCard(kCardIdm, {railBlock(2, 1000), railBlock(1, 1160)});
    {
        Database database = Database::open(databasePath(), Database::OpenMode::ExistingFile, 100);
        database.execute(QStringLiteral("CREATE TABLE notes (idm TEXT, memo TEXT)"));
    }
    const QByteArray before = fileBytes(databasePath());
    RunResult result = run({QStringLiteral("note"), QStringLiteral("--card"), kCardIdm,
                            QStringLiteral("--serial=2"), QStringLiteral("--claim=yes")});
    QCOMPARE(result.status, int(ScriptFailed));
    QVERIFY(result.err.contains("notes table is damaged"));
    QVERIFY(result.err.startsWith("ridelog: " + databasePath().toUtf8() + ": "));
    QCOMPARE(fileBytes(databasePath()), before);
    // Everything else goes on, without notes.
    result = run({QStringLiteral("export"), QStringLiteral("--card"), kCardIdm});
    QCOMPARE(result.status, int(ScriptSucceeded));
    QCOMPARE(result.out.count(",false,,\r\n"), 2);
    const QString pdf = dir_->filePath(QStringLiteral("all.pdf"));
    result = run({QStringLiteral("report"), QStringLiteral("--card"), kCardIdm,
                  QStringLiteral("--output"), pdf});
    QCOMPARE(result.status, int(ScriptSucceeded));
    QVERIFY(QFile::exists(pdf));
}

void TestScriptCommands::reportOntoAFullDisk()
{
    storeCommuterMonth();
    const QString pdf = dir_->filePath(QStringLiteral("claim.pdf"));
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 2048; // the disk is full after 2 KiB
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const RunResult result = run({QStringLiteral("report"), QStringLiteral("--card"), kCardIdm,
                                  QStringLiteral("--output"), pdf});
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QCOMPARE(result.status, int(ScriptFailed));
    QVERIFY2(result.err.startsWith("ridelog: cannot write " + pdf.toUtf8()),
             result.err.constData());
    QVERIFY(isOneLineMessage(result.err));
    QVERIFY(!QFile::exists(pdf));
}

QTEST_MAIN(TestScriptCommands)
#include "test_scriptcommands.moc"
