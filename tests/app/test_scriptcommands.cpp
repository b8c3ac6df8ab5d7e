// The command line for scripts: cards, export and totals on the stored history, read-only,
// without a display or a reader.
#include "app/scriptcommands.h"
#include "namedata/cp932.h"
#include "report/expenseentries.h"
#include "store/historystore.h"
#include "support/damageddatabase.h"
#include "testfiles.h"
#include "ui/blockbuilder.h"
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
#include <QStandardPaths>
#include <QTest>

using namespace ridelog;
using namespace ridelog::test;

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
    void unknownCardAndNoDatabase();
    void cardsListsEveryStoredCard();
    void exportMatchesWindowByteForByte();
    void exportFormatsAndRange();
    void totalsAddUp();
    void outputFileWholeOrNotAtAll();
    void damagedDatabaseGivesEngineText();
    void damagedNameTableLeavesCodes();
    void readsBesideAWriterWithoutChangingTheFile();
    void executableRunsWithoutDisplay();

private:
    // Stores blocks for a card the way a read in the window does.
    void storeCard(const QString& idm, const QList<HistoryBlock>& blocks);
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
    return HistoryStore::DataFolderPath() + HistoryStore::databaseFileName();
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

void TestScriptCommands::unknownCardAndNoDatabase()
{
    // Without any database: no cards, and every card is unknown.
    RunResult result = run({QStringLiteral("cards")});
    QCOMPARE(result.status, int(ScriptSucceeded));
    QVERIFY(result.out.isEmpty());
    result = run({QStringLiteral("export"), QStringLiteral("--card"), kCardIdm.toLower()});
    QCOMPARE(result.status, int(ScriptFailed));
    QCOMPARE(result.err, "ridelog: no stored history for card " + kCardIdm.toLatin1() + '\n');
    QVERIFY(!QFile::exists(databasePath()));

    storeCard(kOtherIdm, {railBlock(1, 1000)});
    result = run({QStringLiteral("totals"), QStringLiteral("--card"), kCardIdm});
    QCOMPARE(result.status, int(ScriptFailed));
    QVERIFY(isOneLineMessage(result.err));
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
    const RunResult result = run({QStringLiteral("cards")});
    QCOMPARE(result.status, int(ScriptSucceeded));
    QCOMPARE(result.out, QByteArray("012E44A0B1C2D3E4\t3\t2008-03-05\t2024-12-31\n"
                                    "0A0B0C0D0E0F1011\t1\t2008-03-05\t2008-03-05\n"));
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
        QVERIFY(QTest::qWaitFor([&] { return dlg->historyModel()->rowCount() == 5; }, 5000));
        // Names as the server delivers them: with their parts, or they are not kept.
        dlg->caches().stations.EntryFor({0, 0x25, 0x0C}) = {
            QStringLiteral("東急"), QStringLiteral("東横"), QStringLiteral("渋谷"),
            QStringLiteral("渋谷(東急,東横線)")};
        dlg->caches().busStops.EntryFor({0x1234, 0x0123}) = {QString(), QStringLiteral("渋谷駅前"),
                                                             QString(), QStringLiteral("渋谷駅前")};
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
    QCOMPARE(result.err, "ridelog: cannot create " + target.toUtf8() + '\n');
    QCOMPARE(fileBytes(target), before);
}

void TestScriptCommands::damagedDatabaseGivesEngineText()
{
    QVERIFY(QDir().mkpath(HistoryStore::DataFolderPath()));
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
        QCOMPARE(result.err, QByteArray("ridelog: file is not a database\n"));
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
    const QStringList files = QDir(HistoryStore::DataFolderPath()).entryList(QDir::Files);
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

QTEST_MAIN(TestScriptCommands)
#include "test_scriptcommands.moc"
