// The command line for scripts doing its work on the stored history: the cards, the exports
// (the same bytes as the window's), the totals, and the notes with the claim form; and the
// executable, which needs no display.
#include "card/cardread.h"
#include "card/readerlibrary.h"
#include "report/expenseentries.h"
#include "scriptfixture.h"
#include "store/cardlibrary.h"
#include "store/notestore.h"
#include "support/pdftext.h"
#include "testpaths.h"
#include "ui/commandids.h"
#include "ui/historyexport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <map>

using namespace ridelog;
using namespace ridelog::test;

namespace {

const std::map<int, QString> kPurposes{{203, QStringLiteral("A社打合せ")},
                                       {205, QStringLiteral("B社 納品")},
                                       {210, QStringLiteral("研修（本社）")},
                                       {213, QStringLiteral("私用")},
                                       {220, QStringLiteral("C社\t見積")}};

} // namespace

class TestScriptCommands : public QObject, public ScriptFixture
{
    Q_OBJECT

private slots:
    void init() { setUpScripts(); }
    void cleanup() { tearDownScripts(); }

    void cardsListsEveryStoredCard();
    void exportMatchesWindowByteForByte();
    void exportFormatsAndRange();
    void sampleCardGivesGateTimesAndKind();
    void totalsAddUp();
    void notesAndClaimFormAsANewUser_data();
    void notesAndClaimFormAsANewUser();
    void noteRefusals();
    void executableRunsWithoutDisplay_data();
    void executableRunsWithoutDisplay();

private:
    // Through the executable: kPurposes on five journeys of the commuter month, claim marks
    // on three of them, on one more and on a charge. Returns the notes refused.
    QStringList noteTheCommuterMonth();
};

void TestScriptCommands::cardsListsEveryStoredCard()
{
    storeCard(kCardIdm,
              {railBlock(7, 1000),
               makeBlock({.year = 2024, .month = 12, .day = 31, .balance = 500, .serial = 3}),
               railBlock(5, 1200)});
    storeCard(kOtherIdm, {busBlock(1, 300)});
    // The name given in the window is the fifth field; a tab or line end in it is a blank.
    QVERIFY(CardLibrary(databasePath()).renameCard(kOtherIdm, QStringLiteral("家族\tの\nカード")));
    const RunResult result = run(words(u"cards"));
    QCOMPARE(result.status, int(ScriptSucceeded));
    QCOMPARE(result.out, QByteArray("012E44A0B1C2D3E4\t3\t2008-03-05\t2024-12-31\t\t\n"
                                    "0A0B0C0D0E0F1011\t1\t2008-03-05\t2008-03-05\t") +
                             QStringLiteral("家族 の カード").toUtf8() + "\t\n");
    const RunResult json = runOnCard(u"export --format json", {}, kOtherIdm);
    const QJsonObject card =
        QJsonDocument::fromJson(json.out).object().value(QStringLiteral("card")).toObject();
    QCOMPARE(card.value(QStringLiteral("nickname")).toString(), QStringLiteral("家族\tの\nカード"));
    QVERIFY(CardLibrary(databasePath())
                .noteCardKind(kOtherIdm, card::CardKind::Pasmo, QDateTime::currentDateTimeUtc()));
    QVERIFY(run(words(u"cards")).out.endsWith(QStringLiteral("家族 の カード\tPASMO\n").toUtf8()));
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
    for (const auto& [format, expected] :
         {std::pair{u"list-csv", windowCsv}, std::pair{u"list-txt", windowTxt},
          std::pair{u"csv", windowUtf8}}) {
        const RunResult result = runOnCard(u"export --format", {QString::fromUtf16(format)});
        QCOMPARE(result.status, int(ScriptSucceeded));
        QCOMPARE(result.out, expected);
    }
}

void TestScriptCommands::exportFormatsAndRange()
{
    storeCard(kCardIdm,
              {makeBlock({.month = 4, .day = 1, .balance = 700, .serial = 4}), railBlock(3, 1000),
               railBlock(2, 1160), typedBlock(8, 2, 1, 1320, 0, 0, 0, 0)});
    // Only March; the amount of the first entry in range still comes from the one before it.
    const RunResult result = runOnCard(u"export --to 2008-03-31 --format list-txt");
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

    const RunResult listing = run(words(u"cards"));
    QCOMPARE(listing.out, QByteArray("012E44A0B1C2D3E4\t7\t2026-11-28\t2026-12-04\t\tSuica\n"));
    const RunResult result = runOnCard(u"export --format json", {}, read.idmText);
    QCOMPARE(result.status, int(ScriptSucceeded));
    const QJsonObject document = QJsonDocument::fromJson(result.out).object();
    QCOMPARE(document.value(QStringLiteral("card")).toObject().value(QStringLiteral("kind")),
             QJsonValue(QStringLiteral("Suica")));
    const QJsonArray entries = document.value(QStringLiteral("entries")).toArray();
    QCOMPARE(entries.size(), 7);
    const auto time = [&](int entry, const char* field) {
        return entries[entry].toObject().value(QString::fromLatin1(field));
    };
    // The two newest journeys: 新宿 -> 渋谷 on 12-04, 渋谷 -> 新宿 on 11-29 (its entry tap is
    // no longer on the card).
    QCOMPARE(time(0, "entry_time"), QJsonValue(QStringLiteral("08:27")));
    QCOMPARE(time(0, "exit_time"), QJsonValue(QStringLiteral("08:42")));
    QVERIFY(time(4, "entry_time").isNull());
    QCOMPARE(time(4, "exit_time"), QJsonValue(QStringLiteral("19:05")));
    for (const int other : {1, 2, 3, 5, 6})
        QVERIFY(time(other, "exit_time").isNull());
}

void TestScriptCommands::totalsAddUp()
{
    storeCard(kCardIdm, {shopBlock(5, 1880), busBlock(4, 2000), railBlock(3, 2210),
                         railBlock(2, 2370, 0), typedBlock(8, 2, 1, 2530, 0, 0, 0, 0)});
    const RunResult result = runOnCard(u"totals --format json");
    QCOMPARE(result.status, int(ScriptSucceeded));
    const QJsonObject total =
        QJsonDocument::fromJson(result.out).object().value(QStringLiteral("total")).toObject();
    for (const auto& [field, yen] :
         {std::pair{"rail_journeys", 2}, std::pair{"rail_fares_yen", 320},
          std::pair{"bus_fares_yen", 210}, std::pair{"purchased_yen", 120},
          std::pair{"spending_yen", 2530 - 1880}, std::pair{"closing_balance_yen", 1880}})
        QCOMPARE(total.value(QString::fromLatin1(field)).toInt(-1), yen);
}

QStringList TestScriptCommands::noteTheCommuterMonth()
{
    QStringList refused;
    const auto note = [&](int serial, const QStringList& more) {
        const QStringList line = words(u"note --card")
                                 << kCardIdm.toLower() << QStringLiteral("--serial")
                                 << QString::number(serial);
        if (runExecutable(line + more).status != 0)
            refused << QString::number(serial) + u' ' + more.join(u' ');
    };
    for (const auto& [serial, purpose] : kPurposes)
        note(serial, {QStringLiteral("--purpose"), purpose});
    for (const int serial : {203, 205, 206, 220})
        note(serial, {QStringLiteral("--claim=yes")});
    note(208, words(u"--claim yes")); // a charge: marked, it is still no cost
    return refused;
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
    QCOMPARE(noteTheCommuterMonth(), QStringList{});
    const RunResult shown = runExecutable(words(u"note --serial 220 --card") << kCardIdm);
    QCOMPARE(shown.status, 0);
    QCOMPARE(QString::fromUtf8(shown.out), QStringLiteral("220\tyes\tC社 見積\n"));

    const QString pdf = dir_->filePath(QStringLiteral("精算書.pdf"));
    const RunResult made =
        runExecutable(words(u"report --claimed-only --card")
                          << kCardIdm << QStringLiteral("--name") << QStringLiteral("山田 花子")
                          << QStringLiteral("--department") << QStringLiteral("営業部")
                          << QStringLiteral("--output") << pdf,
                      locale);
    QVERIFY2(made.status == 0, made.err.constData());
    const QString text = pdfText(pdf);
    QVERIFY2(text.contains(title), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("山田 花子")));
    QVERIFY(text.contains(QStringLiteral("渋谷")) && text.contains(QStringLiteral("横浜")));
    for (const int serial : {203, 205, 220})
        QVERIFY2(text.contains(cleanPurpose(kPurposes.at(serial))), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("研修")) && !text.contains(QStringLiteral("私用")));
    // The amounts from the balances: the previous entry's balance minus this one's.
    const std::vector<int> claimed{203, 205, 206, 220};
    qint64 expected = 0;
    const auto balance = [&](int serial) {
        const HistoryBlock& block = blocks[serial - 200];
        return block[10] | block[11] << 8;
    };
    for (const int serial : claimed)
        expected += balance(serial - 1) - balance(serial);
    const QRegularExpressionMatch total = QRegularExpression(totalPattern).match(text);
    QVERIFY2(total.hasMatch(), qPrintable(text));
    QCOMPARE(total.captured(1).toInt(), int(claimed.size()));
    QCOMPARE(total.captured(2).remove(u',').toLongLong(), expected);
    QVERIFY(made.out.contains("4 entries, total " + QByteArray::number(expected) + " yen"));

    // The UTF-8 export carries them too, at the end of each line.
    const RunResult csv = runOnCard(u"export");
    QVERIFY(csv.out.contains(",012E44A0B1C2D3E4,A社打合せ,true,,\r\n"));
    QVERIFY(csv.out.contains(",012E44A0B1C2D3E4,私用,false,,\r\n"));
    QVERIFY(csv.out.contains(",012E44A0B1C2D3E4,,true,,\r\n")); // 206: a mark alone
}

void TestScriptCommands::noteRefusals()
{
    storeCard(kCardIdm, {railBlock(2, 1000), railBlock(1, 1160)});
    RunResult result = runOnCard(u"note --serial=3 --claim=yes");
    QCOMPARE(result.status, int(ScriptFailed));
    QCOMPARE(result.err, "ridelog: card " + kCardIdm.toLatin1() + " has no stored entry 3\n");
    result = runOnCard(u"note --serial=1 --claim=yes", {}, kOtherIdm);
    QCOMPARE(result.status, int(ScriptFailed));
    QVERIFY(isOneLineMessage(result.err));
    // 100,000 characters with NUL and direction marks: 200 clean characters are kept.
    const QString typed = QString(QChar(0)) + QChar(0x202E) + QString(100'000, u'用');
    result = runOnCard(u"note --serial=2 --purpose", {typed});
    QCOMPARE(result.status, int(ScriptSucceeded));
    QCOMPARE(NoteStore(databasePath()).notesOf(kCardIdm).notes.at(2).purpose, QString(200, u'用'));

    // The window storing a read holds the write lock: the note waits, then says so.
    Database writer = Database::open(databasePath(), Database::OpenMode::ExistingFile, 100);
    Transaction holding(writer);
    result = runOnCard(u"note --serial=1 --claim=yes");
    QCOMPARE(result.status, int(ScriptFailed));
    QVERIFY2(result.err.contains("locked"), result.err.constData());
    QVERIFY(isOneLineMessage(result.err));
    holding.commit();
    QVERIFY(!NoteStore(databasePath()).notesOf(kCardIdm).notes.contains(1));
}

void TestScriptCommands::executableRunsWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out"); // in the output; none: one line on stderr says why
    QTest::newRow("cards") << words(u"cards") << 0 << kCardIdm.toLatin1() + "\t1\t";
    QTest::newRow("unknown card") << words(u"export --card") + QStringList{kOtherIdm} << 1
                                  << QByteArray();
    QTest::newRow("no card given") << words(u"totals") << 2 << QByteArray();
    QTest::newRow("help of a command")
        << words(u"export --help") << 0 << QByteArray("ridelog totals --card IDM");
    QTest::newRow("help") << words(u"--help") << 0 << QByteArray("ridelog export --card IDM");
    QTest::newRow("help names the window's options")
        << words(u"--help") << 0 << QByteArray("--reader");
}

void TestScriptCommands::executableRunsWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, out);
    storeCard(kCardIdm, {railBlock(1, 1000)});
    const RunResult result = runExecutable(arguments);
    QTEST(result.status, "status");
    if (out.isEmpty())
        QVERIFY2(isOneLineMessage(result.err), result.err.constData());
    else
        QVERIFY2(result.out.contains(out), result.out.constData());
}

QTEST_MAIN(TestScriptCommands)
#include "test_scriptcommands.moc"
