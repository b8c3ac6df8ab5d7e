// The claim form: what it lists and sums, and the PDF it becomes.
#include "namedata/namecache.h"
#include "report/claimform.h"
#include "report/claimformpainter.h"
#include "report/expenseentries.h"
#include "support/cardblocks.h"
#include "support/filesizelimit.h"
#include "support/pdftext.h"

#include <QFile>
#include <QGuiApplication>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace ridelog;
using namespace ridelog::test;

namespace {

HistoryBlock dated(HistoryBlock block, int year, int month, int day)
{
    setBlockDate(block, year, month, day);
    return block;
}

// Two months of a commuter: rides, a bus, a charge, a purchase and its cancellation, an entry
// with a date that does not exist.
std::vector<ExpenseEntry> commuterEntries(std::optional<std::uint32_t> gapBefore = {})
{
    NameCaches caches;
    caches.stations.EntryFor({0, 0x25, 0x0C}).nm = QStringLiteral("渋谷");
    caches.stations.EntryFor({0, 0x25, 0x10}).nm = QStringLiteral("新宿");
    const QList<HistoryBlock> blocks{
        dated(railBlock(10, 5000), 2026, 3, 1),                          // first: unknown
        dated(railBlock(11, 4800), 2026, 3, 2),                          // 200
        dated(typedBlock(8, 2, 12, 7800, 0x25, 0x0C, 0, 0), 2026, 3, 3), // charge 3000
        dated(busBlock(13, 7590), 2026, 3, 31),                          // 210
        dated(railBlock(14, 7390), 2026, 4, 1),                          // 200
        dated(shopBlock(15, 7260), 2026, 4, 2),                          // 130
        dated(typedBlock(199, 74, 16, 7390, 0x62, 0, 0, 7), 2026, 4, 2), // cancelled -130
        dated(railBlock(17, 7190), 2026, 13, 1),                         // no such month: 200
    };
    HistoryRecordSet records;
    for (const HistoryBlock& block : blocks)
        records.insert(decodeHistoryBlock(block, caches.stations, caches.busStops, caches.shops));
    deriveAmounts(records);
    std::vector<ExpenseEntry> entries = expenseEntries(records, gapBefore);
    CardNotes notes;
    notes[11] = {QStringLiteral("顧客訪問（A社）"), true, 0};
    notes[13] = {QStringLiteral("現地調査"), true, 0};
    notes[12] = {QStringLiteral("チャージ"), true, 0}; // marked, but never a cost
    notes[15] = {QStringLiteral("文具"), false, 0};
    attachNotes(entries, notes);
    // The gates told both times of the first commute, only the exit of the April one.
    addGateTimes(entries, GateTimes({{11, {7, 58}, {8, 31}}, {14, {}, {18, 5}}}));
    return entries;
}

std::vector<std::uint32_t> serialsOf(const ClaimForm& form)
{
    std::vector<std::uint32_t> serials;
    for (const ClaimMonth& month : form.months) {
        for (const ClaimLine& line : month.lines)
            serials.push_back(line.serial);
    }
    return serials;
}

ClaimRequest namedRequest()
{
    ClaimRequest request;
    request.claimant = QStringLiteral("山田 花子");
    request.department = QStringLiteral("営業部");
    request.cardName = QStringLiteral("通勤用");
    request.madeOn = QDate(2026, 12, 8);
    return request;
}

} // namespace

class TestClaimForm : public QObject
{
    Q_OBJECT

private slots:
    void linesAndTotals_data();
    void linesAndTotals();
    void gapAndFirstEntryAreMarkedNotSummed();
    void monthsInOrderWithUndatedLast();
    void moneyTexts_data();
    void moneyTexts();
    void pdfIsA4WithEmbeddedJapaneseFonts();
    void longHistoryGetsNumberedPages();
    void pdfOntoAFullDiskLeavesNoFile();
    void pdfIntoAMissingFolderIsRefused();
};

void TestClaimForm::linesAndTotals_data()
{
    QTest::addColumn<bool>("claimedOnly");
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<std::vector<std::uint32_t>>("serials");
    QTest::addColumn<qint64>("total");
    using S = std::vector<std::uint32_t>;
    QTest::newRow("all") << false << QDate() << QDate() << S{10, 11, 13, 14, 15, 16, 17}
                         << qint64(200 + 210 + 200 + 130 - 130 + 200);
    QTest::newRow("claimed only") << true << QDate() << QDate() << S{11, 13} << qint64(410);
    QTest::newRow("April") << false << QDate(2026, 4, 1) << QDate(2026, 4, 30) << S{14, 15, 16}
                           << qint64(200);
    QTest::newRow("claimed in April")
        << true << QDate(2026, 4, 1) << QDate(2026, 4, 30) << S{} << qint64(0);
    QTest::newRow("from March 2") << true << QDate(2026, 3, 2) << QDate() << S{11, 13}
                                  << qint64(410);
}

void TestClaimForm::linesAndTotals()
{
    QFETCH(bool, claimedOnly);
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(std::vector<std::uint32_t>, serials);
    QFETCH(qint64, total);
    ClaimRequest request = namedRequest();
    request.claimedOnly = claimedOnly;
    request.from = from;
    request.to = to;
    const ClaimForm form = buildClaimForm(commuterEntries(), request);
    QCOMPARE(serialsOf(form), serials);
    QCOMPARE(form.total, total);
    QCOMPARE(form.lineCount, int(serials.size()));
    qint64 monthSum = 0;
    for (const ClaimMonth& month : form.months)
        monthSum += month.total;
    QCOMPARE(monthSum, total);
}

void TestClaimForm::gapAndFirstEntryAreMarkedNotSummed()
{
    ClaimRequest request = namedRequest();
    const ClaimForm form = buildClaimForm(commuterEntries(13), request);
    QCOMPARE(form.uncounted, 2);
    const ClaimLine& first = form.months.front().lines.front();
    QCOMPARE(first.serial, 10u);
    QCOMPARE(first.amountState, ClaimAmount::Unknown);
    const ClaimLine& bus = form.months.front().lines.back();
    QCOMPARE(bus.serial, 13u);
    QCOMPARE(bus.kind, RecordKind::Bus);
    QCOMPARE(bus.amountState, ClaimAmount::SpansGap);
    QCOMPARE(bus.from, QStringLiteral("(4660, 291)")); // no name: the code
    QCOMPARE(form.months.front().total, 200);
    QCOMPARE(form.total, qint64(200 + 200 + 130 - 130 + 200));
}

void TestClaimForm::monthsInOrderWithUndatedLast()
{
    const ClaimForm form = buildClaimForm(commuterEntries(), namedRequest());
    QCOMPARE(form.months.size(), std::size_t(3));
    QCOMPARE(form.months[0].month, 3);
    QCOMPARE(form.months[1].month, 4);
    QCOMPARE(form.months[1].total, 200);
    QCOMPARE(form.months[2].year, 0);
    QCOMPARE(form.months[2].lines.front().serial, 17u);
    const ClaimLine& ride = form.months[0].lines[1];
    QCOMPARE(ride.from, QStringLiteral("渋谷"));
    QCOMPARE(ride.to, QStringLiteral("新宿"));
    QCOMPARE(ride.purpose, QStringLiteral("顧客訪問（A社）"));
    QCOMPARE(ride.entryTime, (TapTime{7, 58}));
    QCOMPARE(ride.exitTime, (TapTime{8, 31}));
    const ClaimLine& april = form.months[1].lines[0];
    QCOMPARE(april.entryTime, TapTime{});
    QCOMPARE(april.exitTime, (TapTime{18, 5}));
    QCOMPARE(form.months[1].lines[1].kind, RecordKind::Shop);
    QVERIFY(!form.months[1].lines[1].entryTime.known());
}

void TestClaimForm::moneyTexts_data()
{
    QTest::addColumn<qint64>("yen");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << qint64(0) << QStringLiteral("0円");
    QTest::newRow("999") << qint64(999) << QStringLiteral("999円");
    QTest::newRow("1000") << qint64(1000) << QStringLiteral("1,000円");
    QTest::newRow("1234567") << qint64(1234567) << QStringLiteral("1,234,567円");
    QTest::newRow("-130") << qint64(-130) << QStringLiteral("-130円");
    QTest::newRow("-20000") << qint64(-20000) << QStringLiteral("-20,000円");
}

void TestClaimForm::moneyTexts()
{
    QFETCH(qint64, yen);
    QFETCH(QString, text);
    QCOMPARE(claimMoneyText(yen), text);
}

void TestClaimForm::pdfIsA4WithEmbeddedJapaneseFonts()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("claim.pdf"));
    ClaimRequest request = namedRequest();
    request.claimedOnly = true;
    const ClaimForm form = buildClaimForm(commuterEntries(), request);
    QCOMPARE(writeClaimPdf(path, form).result, ClaimPdfResult::Written);

    const QString text = pdfText(path);
    for (const char* expected :
         {"交通費精算書", "山田 花子", "営業部", "通勤用", "2026/12/08", "顧客訪問（A社）",
          "現地調査", "渋谷", "新宿", "バス", "410円", "時刻", "07:58–08:31", "1 / 1"})
        QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
    // Neither the charge nor the unmarked purchase.
    QVERIFY(!text.contains(QStringLiteral("チャージ")));
    QVERIFY(!text.contains(QStringLiteral("文具")));
    QVERIFY(!text.contains(QStringLiteral("18:05"))); // the April ride is not marked

    const QString info = pdfInfo(path);
    QVERIFY2(info.contains(QStringLiteral("pts (A4)")), qPrintable(info));
    QVERIFY(info.contains(QRegularExpression(QStringLiteral("Pages: +1\n"))));
    const QStringList fonts = pdfFontsEmbedded(path);
    QVERIFY(!fonts.isEmpty());
    for (const QString& font : fonts) {
        QVERIFY2(font.contains(QStringLiteral("IPA")), qPrintable(font));
        QVERIFY2(font.endsWith(QStringLiteral(" yes")), qPrintable(font));
    }
}

void TestClaimForm::longHistoryGetsNumberedPages()
{
    std::vector<ExpenseEntry> entries;
    for (std::uint32_t serial = 1; serial <= 300; ++serial) {
        ExpenseEntry entry;
        entry.serial = serial;
        entry.date = QDate(2026, 1, 1).addDays(serial / 3);
        entry.kind = RecordKind::Rail;
        entry.entry = {QStringLiteral("東京"), {0, 1, 1}, 3};
        entry.exit = {QStringLiteral("品川"), {0, 1, 2}, 3};
        entry.amount = 170;
        entry.purpose = serial % 7 == 0 ? QString(200, u'長') : QStringLiteral("客先");
        entry.claimed = true;
        entries.push_back(entry);
    }
    const ClaimForm form = buildClaimForm(entries, namedRequest());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.pdf"));
    QCOMPARE(writeClaimPdf(path, form).result, ClaimPdfResult::Written);
    QPdfWriter writer(dir.filePath(QStringLiteral("count.pdf")));
    writer.setResolution(300);
    setClaimPageLayout(writer);
    const int pages = claimFormPageCount(writer, form);
    QVERIFY(pages > 5);
    QVERIFY(pdfInfo(path).contains(QRegularExpression(QStringLiteral("Pages: +%1\n").arg(pages))));
    const QString text = pdfText(path);
    QVERIFY(text.contains(QStringLiteral("%1 / %1").arg(pages)));
    QVERIFY(text.contains(claimMoneyText(300 * 170)));
    // Every month's subtotal is there.
    for (int month = 1; month <= 4; ++month)
        QVERIFY(text.contains(QStringLiteral("2026年%1月 小計").arg(month)));
}

void TestClaimForm::pdfOntoAFullDiskLeavesNoFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("claim.pdf"));
    const ClaimForm form = buildClaimForm(commuterEntries(), namedRequest());
    ClaimPdfOutcome outcome;
    {
        // The disk fills up after a few kilobytes.
        const FileSizeLimit full(4096);
        QVERIFY(full.isLowered());
        outcome = writeClaimPdf(path, form);
    }
    QCOMPARE(outcome.result, ClaimPdfResult::WriteFailed);
    QVERIFY(!outcome.errorText.isEmpty());
    QVERIFY(!QFile::exists(path));
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TestClaimForm::pdfIntoAMissingFolderIsRefused()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("no/such/folder/claim.pdf"));
    const ClaimPdfOutcome outcome =
        writeClaimPdf(path, buildClaimForm(commuterEntries(), namedRequest()));
    QCOMPARE(outcome.result, ClaimPdfResult::CannotCreate);
    QVERIFY(!QFile::exists(path));
}

QTEST_MAIN(TestClaimForm)
#include "test_claimform.moc"
