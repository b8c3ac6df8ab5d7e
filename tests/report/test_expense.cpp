// Entry facts, the UTF-8 CSV and JSON exports, and the monthly and range totals.
#include "namedata/namecache.h"
#include "report/expenseentries.h"
#include "report/expenseexport.h"
#include "report/expensetotals.h"
#include "support/cardblocks.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace ridelog;
using namespace ridelog::test;

namespace {

const QString kIdm = QStringLiteral("0114A1B2C3D4E5F6");

HistoryBlock dated(HistoryBlock block, int year, int month, int day)
{
    setBlockDate(block, year, month, day);
    return block;
}

HistoryRecordSet recordsOf(const QList<HistoryBlock>& blocks, NameCaches& caches)
{
    HistoryRecordSet records;
    for (const HistoryBlock& block : blocks)
        records.insert(decodeHistoryBlock(block, caches.stations, caches.busStops, caches.shops));
    return records;
}

// A month of a commuter: charge, two rides, a bus, a purchase and its cancellation.
QList<HistoryBlock> sampleMonth()
{
    return {
        dated(railBlock(10, 1000), 2026, 3, 1),
        dated(typedBlock(8, 2, 11, 4000, 0x25, 0x0C, 0, 0), 2026, 3, 2), // チャージ +3000
        dated(railBlock(12, 3840), 2026, 3, 3),                          // 160
        dated(railBlock(13, 3640), 2026, 3, 31),                         // 200
        dated(busBlock(14, 3430), 2026, 4, 1),                           // 210
        dated(shopBlock(15, 3300), 2026, 4, 2),                          // 130
        dated(typedBlock(199, 74, 16, 3430, 0x62, 0, 0, 7), 2026, 4, 2), // 物販取消 -130
    };
}

// The value at a dotted path of keys and array indexes: "entries.2.entry.code".
QJsonValue at(const QJsonDocument& document, const char* path)
{
    QJsonValue value = document.object();
    for (const QString& step : QString::fromLatin1(path).split(u'.')) {
        bool isIndex = false;
        const int index = step.toInt(&isIndex);
        value = isIndex ? value.toArray().at(index) : value.toObject().value(step);
    }
    return value;
}

std::vector<ExpenseEntry> sampleEntries(std::optional<std::uint32_t> gap = std::nullopt)
{
    NameCaches caches;
    const HistoryRecordSet records = recordsOf(sampleMonth(), caches);
    return expenseEntries(records, gap);
}

} // namespace

class TestExpense : public QObject
{
    Q_OBJECT

private slots:
    void entriesCarryTypedFacts();
    void firstAndGapEntriesHaveNoKnownAmount();
    void namesFollowTheCachesWhenGiven();
    void entriesInListOrderAndByDate();
    void csvHeaderQuotingAndBom();
    void csvNamesNeverOpenAsFormulas_data();
    void csvNamesNeverOpenAsFormulas();
    void jsonHoldsTypedValues();
    void jsonEscapesEveryControlCharacter();
    void gateTimesAndKindInBothExports();
    void totalsByMonth();
    void totalsOfRange_data();
    void totalsOfRange();
    void totalsRenderings();
};

void TestExpense::entriesCarryTypedFacts()
{
    NameCaches caches;
    caches.stations.EntryFor({0, 0x25, 0x0C}).nm = QStringLiteral("渋谷");
    QList<HistoryBlock> blocks = sampleMonth();
    blocks.append(dated(shopBlock(17, 3000, 0x4A, 0xA0), 2026, 13, 1)); // 9:21, no such month
    const HistoryRecordSet records = recordsOf(blocks, caches);
    const auto entries = expenseEntries(records, std::nullopt);
    QCOMPARE(entries.size(), std::size_t(8));

    const ExpenseEntry& ride = entries[2];
    QCOMPARE(ride.serial, 12u);
    QCOMPARE(isoDateText(ride.date), QStringLiteral("2026-03-03"));
    QCOMPARE(isoTimeText(ride), QString());
    QCOMPARE(ride.kind, RecordKind::Rail);
    QCOMPARE(ride.entry.name, QStringLiteral("渋谷"));
    QCOMPARE(ride.entry.code, (std::array<int, 3>{0, 37, 12}));
    QCOMPARE(ride.exit.name, QString());
    QCOMPARE(ride.exit.code, (std::array<int, 3>{0, 37, 16}));
    QCOMPARE(ride.amount, 160);
    QCOMPARE(entries[1].amount, -3000); // a charge is negative

    const ExpenseEntry& bus = entries[4];
    QCOMPARE(bus.entry.code, (std::array<int, 3>{4660, 291, 0}));
    QCOMPARE(bus.entry.codeParts, 2);
    QVERIFY(bus.exit.isNone());

    const ExpenseEntry& late = entries[7];
    QVERIFY(!late.date.isValid());
    QCOMPARE(isoTimeText(late), QStringLiteral("09:21"));
    QCOMPARE(late.entry.code, (std::array<int, 3>{1, 199, 7}));
}

void TestExpense::firstAndGapEntriesHaveNoKnownAmount()
{
    const auto entries = sampleEntries(14);
    QCOMPARE(entries[0].amountState, AmountState::FirstEntry);
    QVERIFY(!entries[0].amountKnown());
    QCOMPARE(entries[4].amountState, AmountState::SpansGap);
    QCOMPARE(entries[4].amount, 210); // kept, but not as a fare
    for (const std::size_t i : {1, 2, 3, 5, 6})
        QVERIFY(entries[i].amountKnown());
}

void TestExpense::namesFollowTheCachesWhenGiven()
{
    NameCaches caches;
    caches.shops.EntryFor({1, 199, 7}).nm = QStringLiteral("NEWDAYS");
    const HistoryRecordSet records = recordsOf(sampleMonth(), caches);
    // The display settings changed after the read: the caches hold the shown name now.
    caches.shops.EntryFor({1, 199, 7}).nm = QStringLiteral(" ");
    caches.stations.EntryFor({0, 0x25, 0x10}).nm = QStringLiteral("新宿");
    const std::size_t cached = caches.stations.size();
    const auto fromRecords = expenseEntries(records, std::nullopt);
    const auto fromCaches = expenseEntries(records, std::nullopt, &caches);
    QCOMPARE(fromRecords[5].entry.name, QStringLiteral("NEWDAYS"));
    QCOMPARE(fromCaches[5].entry.name, QString()); // a blank is no name
    QCOMPARE(fromCaches[2].exit.name, QStringLiteral("新宿"));
    QCOMPARE(caches.stations.size(), cached); // nothing added to the caches
}

void TestExpense::entriesInListOrderAndByDate()
{
    const auto entries = sampleEntries();
    const std::vector<std::uint32_t> shown{16, 12, 99, 10};
    const auto picked = entriesInOrder(entries, shown);
    QCOMPARE(picked.size(), std::size_t(3));
    QCOMPARE(picked[0].serial, 16u);
    QCOMPARE(picked[2].serial, 10u);

    const auto march = entriesNewestFirst(entries, QDate(2026, 3, 2), QDate(2026, 3, 31));
    QCOMPARE(march.size(), std::size_t(3));
    QCOMPARE(march.front().serial, 13u);
    QCOMPARE(march.back().serial, 11u);
    QCOMPARE(entriesNewestFirst(entries, QDate(), QDate()).size(), entries.size());
    QCOMPARE(entriesNewestFirst(entries, QDate(2026, 4, 2), QDate()).size(), std::size_t(2));
}

void TestExpense::csvHeaderQuotingAndBom()
{
    auto entries = sampleEntries();
    std::reverse(entries.begin(), entries.end());
    const QByteArray csv = expenseCsvBytes(entries, kIdm);
    QVERIFY(csv.startsWith(
        "\xEF\xBB\xBF"
        "serial,date,time,kind,terminal_code,terminal,process_code,process,"
        "entry_name,entry_code,exit_name,exit_code,amount_yen_charge_negative,"
        "balance_yen,history_gap_before,card_idm,purpose,claim,entry_time,exit_time\r\n"));
    const QList<QByteArray> lines = csv.mid(3).split('\n');
    QCOMPARE(lines.size(), 9); // header, seven entries, the empty rest after the last CR LF
    QCOMPARE(lines[1], QByteArray("16,2026-04-02,12:16,shop,199,物販端末,74,物販取消,,\"(1, 199, "
                                  "7)\",,,-130,3430,false,0114A1B2C3D4E5F6,,false,,\r"));
    // The oldest entry: no amount, rather than a 0 that would be summed.
    QVERIFY(lines[7].contains(",,1000,false,"));
}

void TestExpense::csvNamesNeverOpenAsFormulas_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("cell");
    QTest::newRow("equals") << "=HYPERLINK(\"http://x\")"
                            << QByteArray("\"'=HYPERLINK(\"\"http://x\"\")\"");
    QTest::newRow("plus") << "+81 3 1234" << QByteArray("'+81 3 1234");
    QTest::newRow("minus") << "-2+3" << QByteArray("'-2+3");
    QTest::newRow("at") << "@SUM(A1)" << QByteArray("'@SUM(A1)");
    QTest::newRow("tab") << "\tcmd" << QByteArray("'\tcmd");
    QTest::newRow("carriage return") << "\r=1" << QByteArray("\"'\r=1\"");
    QTest::newRow("inside the text") << "渋谷=新宿" << QByteArray("渋谷=新宿");
    QTest::newRow("ordinary name") << "新宿" << QByteArray("新宿");
    QTest::newRow("comma and quotes")
        << "渋谷(東急,\"東横\")" << QByteArray("\"渋谷(東急,\"\"東横\"\")\"");
}

// A station name from the server is a text cell in every spreadsheet; amounts stay numbers.
void TestExpense::csvNamesNeverOpenAsFormulas()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, cell);
    NameCaches caches;
    caches.stations.EntryFor({0, 0x25, 0x0C}).nm = name;
    const HistoryRecordSet records = recordsOf(sampleMonth(), caches);
    auto entries = expenseEntries(records, std::nullopt);
    std::reverse(entries.begin(), entries.end());
    const QByteArray csv = expenseCsvBytes(entries, kIdm);
    const QByteArray row13 = csv.mid(csv.indexOf("\r\n13,") + 2);
    QVERIFY2(row13.startsWith("13,2026-03-31,,rail,22,改札機,1,運賃支払," + cell +
                              ",\"(0, 37, 12)\",,\"(0, 37, 16)\",200,3640,false,"
                              "0114A1B2C3D4E5F6,,false,,\r\n"),
             row13.left(160).constData());
    // The charge keeps its sign as a number.
    QVERIFY(csv.contains(",-3000,4000,false,"));
}

void TestExpense::jsonHoldsTypedValues()
{
    auto entries = sampleEntries(14);
    std::reverse(entries.begin(), entries.end());
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(expenseJsonBytes(entries, kIdm), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(at(document, "card.idm").toString(), kIdm);
    QCOMPARE(at(document, "card.entries").toInt(), 7);
    QCOMPARE(at(document, "card.first_date").toString(), QStringLiteral("2026-03-01"));
    QCOMPARE(at(document, "card.last_date").toString(), QStringLiteral("2026-04-02"));
    QVERIFY(at(document, "card.nickname").isNull());
    const QString nickname = QStringLiteral("通勤用 \"定期\"");
    QCOMPARE(at(QJsonDocument::fromJson(expenseJsonBytes(entries, kIdm, nickname)), "card.nickname")
                 .toString(),
             nickname);
    const QJsonArray array = at(document, "entries").toArray();
    QCOMPARE(array.size(), 7);
    int sum = 0;
    for (const auto& value : array)
        sum += value.toObject().value(QStringLiteral("amount")).toInt();
    QCOMPARE(sum, 0 + 130 - 130 + 200 + 160 - 3000); // the gap's 210 and the oldest are null

    QCOMPARE(at(document, "entries.2.serial").toInt(), 14);
    QVERIFY(at(document, "entries.2.amount").isNull());
    QVERIFY(at(document, "entries.2.history_gap_before").toBool());
    QCOMPARE(at(document, "entries.2.balance").toInt(), 3430);
    QCOMPARE(at(document, "entries.2.kind").toString(), QStringLiteral("bus"));
    QCOMPARE(at(document, "entries.2.entry.code").toArray(), (QJsonArray{4660, 291}));
    QVERIFY(at(document, "entries.2.entry.name").isNull());
    QVERIFY(at(document, "entries.2.exit").isNull());
    QCOMPARE(at(document, "entries.2.process.code").toInt(), 13);
    QCOMPARE(at(document, "entries.2.process.name").toString(), QStringLiteral("バス"));
    QCOMPARE(at(document, "entries.1.time").toString(), QStringLiteral("12:16"));
    QCOMPARE(at(document, "entries.1.date").toString(), QStringLiteral("2026-04-02"));
}

void TestExpense::jsonEscapesEveryControlCharacter()
{
    QString text = QStringLiteral("駅\"\\/");
    for (char16_t c = 0; c < 0x20; ++c)
        text += QChar(c);
    QByteArray out;
    appendJsonString(out, text);
    const QByteArray wrapped = "[" + out + "]";
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(wrapped, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(document.array().at(0).toString(), text);
}

void TestExpense::gateTimesAndKindInBothExports()
{
    auto entries = sampleEntries();
    addGateTimes(entries, GateTimes({{12, TapTime{}, TapTime{8, 5}},
                                     {13, TapTime{17, 58}, TapTime{18, 20}}}));
    std::reverse(entries.begin(), entries.end());

    const QList<QByteArray> lines = expenseCsvBytes(entries, kIdm).mid(3).split('\n');
    QVERIFY2(lines[4].endsWith(",0114A1B2C3D4E5F6,,false,17:58,18:20\r"), lines[4].constData());
    QVERIFY2(lines[5].endsWith(",0114A1B2C3D4E5F6,,false,,08:05\r"), lines[5].constData());
    QVERIFY2(lines[3].endsWith(",0114A1B2C3D4E5F6,,false,,\r"), lines[3].constData());

    for (const auto kind : {std::optional<card::CardKind>(), std::optional(card::CardKind::Suica),
                            std::optional(card::CardKind::Unknown)}) {
        const QJsonDocument document =
            QJsonDocument::fromJson(expenseJsonBytes(entries, kIdm, QString(), kind));
        QCOMPARE(at(document, "card.kind").toString(),
                 kind ? card::cardKindName(*kind) : QString());
        QCOMPARE(at(document, "card.kind").isNull(), !kind);
        QCOMPARE(at(document, "entries.3.serial").toInt(), 13);
        QCOMPARE(at(document, "entries.3.entry_time").toString(), QStringLiteral("17:58"));
        QCOMPARE(at(document, "entries.3.exit_time").toString(), QStringLiteral("18:20"));
        QVERIFY(at(document, "entries.4.entry_time").isNull());
        QCOMPARE(at(document, "entries.4.exit_time").toString(), QStringLiteral("08:05"));
        QVERIFY(at(document, "entries.0.exit_time").isNull());
    }
}

void TestExpense::totalsByMonth()
{
    const TotalsReport report = expenseTotals(sampleEntries(), QDate(), QDate());
    QCOMPARE(report.months.front().totals.unknownAmounts, 1); // the oldest entry
    QCOMPARE(report.total.entries, 7);
    // Month by month in the columns of the totals CSV (header below): the cancellation gives
    // the purchase back.
    QCOMPARE(totalsCsv(report).split('\n').mid(1),
             (QList<QByteArray>{"2026-03,2,360,0,0,1,3000,0,0,360,0,0,3640\r",
                                "2026-04,0,0,1,210,0,0,2,0,210,0,0,3430\r",
                                "total,2,360,1,210,1,3000,2,0,570,0,0,3430\r", ""}));
}

void TestExpense::totalsOfRange_data()
{
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("spending");
    QTest::addColumn<int>("closing");
    QTest::newRow("whole history") << QDate() << QDate() << 7 << 570 << 3430;
    QTest::newRow("march") << QDate(2026, 3, 1) << QDate(2026, 3, 31) << 4 << 360 << 3640;
    QTest::newRow("one day") << QDate(2026, 4, 2) << QDate(2026, 4, 2) << 2 << 0 << 3430;
    QTest::newRow("from only") << QDate(2026, 3, 31) << QDate() << 4 << 410 << 3430;
    QTest::newRow("to only") << QDate() << QDate(2026, 3, 2) << 2 << 0 << 4000;
    QTest::newRow("no entries") << QDate(2025, 1, 1) << QDate(2025, 12, 31) << 0 << 0 << -1;
}

void TestExpense::totalsOfRange()
{
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(int, entries);
    QFETCH(int, spending);
    QFETCH(int, closing);
    const TotalsReport report = expenseTotals(sampleEntries(), from, to);
    QCOMPARE(report.total.entries, entries);
    QCOMPARE(report.total.spending(), spending);
    QCOMPARE(report.total.closingBalance.value_or(-1), closing);
}

void TestExpense::totalsRenderings()
{
    auto entries = sampleEntries(14);
    NameCaches caches;
    HistoryRecordSet undated = recordsOf({dated(railBlock(30, 100), 2026, 2, 30)}, caches);
    entries.push_back(expenseEntries(undated, std::nullopt).front());
    const TotalsReport report = expenseTotals(entries, QDate(), QDate());
    QCOMPARE(report.undated, 1);

    const QList<QByteArray> csv = totalsCsv(report).split('\n');
    QCOMPARE(csv.size(), 5); // header, two months, total, nothing after the last line end
    QCOMPARE(csv[0], QByteArray("month,rail_journeys,rail_fares_yen,bus_journeys,bus_fares_yen,"
                                "charges,charged_yen,purchases,purchased_yen,spending_yen,"
                                "history_gaps,unaccounted_yen,closing_balance_yen\r"));
    QCOMPARE(csv[1], QByteArray("2026-03,2,360,0,0,1,3000,0,0,360,0,0,3640\r"));
    // The bus ride after the gap is no fare: it is counted apart as unaccounted.
    QCOMPARE(csv[2], QByteArray("2026-04,0,0,0,0,0,0,2,0,0,1,210,3430\r"));
    QCOMPARE(csv[3], QByteArray("total,2,360,0,0,1,3000,2,0,360,1,210,3430\r"));

    QJsonParseError error{};
    const QJsonDocument json = QJsonDocument::fromJson(totalsJson(report, kIdm), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(at(json, "months").toArray().size(), 2);
    QCOMPARE(at(json, "total.unaccounted_yen").toInt(), 210);
    QCOMPARE(at(json, "total.closing_balance_yen").toInt(), 3430);
    QVERIFY(at(json, "from").isNull());
    QCOMPARE(at(json, "undated_entries").toInt(), 1);

    const QByteArray text = totalsText(report, kIdm);
    QVERIFY(text.startsWith("Card 0114A1B2C3D4E5F6"));
    QVERIFY(text.contains("2026-04 "));
    QVERIFY(text.contains("history missing"));
    QVERIFY(text.contains("History may be missing before 1 entry"));
    QVERIFY(text.contains("date that does not exist, left out: 1."));
}

QTEST_GUILESS_MAIN(TestExpense)
#include "test_expense.moc"
