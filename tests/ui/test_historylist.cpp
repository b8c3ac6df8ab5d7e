// The rows of the history list: order, column texts per kind, amounts, and the re-rendering
// of shown names when a display flag changes.
#include "support/cardblocks.h"
#include "support/gatehistory.h"
#include "ui/historylist.h"
#include "ui/historymodel.h"

#include <QStandardItemModel>
#include <QTest>

using namespace ridelog;
using ridelog::test::busBlock;
using ridelog::test::railBlock;
using ridelog::test::shopBlock;

namespace {

QString cell(const QAbstractItemModel& model, int row, int column)
{
    return model.data(model.index(row, column)).toString();
}

struct Fixture
{
    NameCaches caches;
    HistoryRecordSet records;
    HistoryListModel model;

    void add(const HistoryBlock& block)
    {
        records.insert(decodeHistoryBlock(block, caches.stations, caches.busStops, caches.shops));
    }
    void fill() { fillHistoryList(model, records); }
};

} // namespace

class TestHistoryList : public QObject
{
    Q_OBJECT

private slots:
    void headingsAndAlignment();
    void rowsNewestFirstWithAmounts();
    void amountOfUnchangedBalanceShowsBalance();
    void railColumns();
    void busColumns();
    void shopColumns();
    void emptyRecordSetLeavesListEmpty();
    void serialOfRowReadsLeadingDigits_data();
    void serialOfRowReadsLeadingDigits();
    void railRefreshUsesCompositionAndCacheEntries();
    void railRefreshShowsFullNameWithLine();
    void busRefreshWritesColumnFourOnly();
    void shopRefreshWithShopInfoOffGivesBlank();
    void refreshLeavesRowWithoutRecordAlone();
    void refreshKeepsOtherColumnsAndOrder();
    void rowsKeepTheirTextsWhenRecordsGo();
    void rowsIndexedAsAskedFor();
    void viewRowsAsShownFollowSortAndFilter();
    void timeColumnShowsTheGateTimes();
};

void TestHistoryList::headingsAndAlignment()
{
    HistoryListModel model;
    QCOMPARE(model.columnCount(), 9);
    QCOMPARE(model.headerData(PurposeColumn, Qt::Horizontal).toString(), QStringLiteral("用途"));
    QCOMPARE(model.headerData(TimeColumn, Qt::Horizontal).toString(), QStringLiteral("時刻"));
    const QStringList expected{QStringLiteral("#"),      QStringLiteral("日付"),
                               QStringLiteral("端末"),   QStringLiteral("処理"),
                               QStringLiteral("入場駅"), QStringLiteral("出場駅"),
                               QStringLiteral("料金")};
    for (int column = 0; column < 7; ++column)
        QCOMPARE(model.headerData(column, Qt::Horizontal).toString(), expected[column]);
    const auto alignment =
        model.headerData(6, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>();
    QVERIFY(alignment & Qt::AlignRight);
}

void TestHistoryList::rowsNewestFirstWithAmounts()
{
    Fixture f;
    f.add(railBlock(10, 1000));
    f.add(railBlock(11, 840));
    f.add(railBlock(13, 2800));
    f.fill();
    QCOMPARE(f.model.rowCount(), 3);
    QCOMPARE(cell(f.model, 0, 0), QStringLiteral("13"));
    QCOMPARE(cell(f.model, 1, 0), QStringLiteral("11"));
    QCOMPARE(cell(f.model, 2, 0), QStringLiteral("10"));
    QCOMPARE(cell(f.model, 0, 6), QStringLiteral("-1960"));
    QCOMPARE(cell(f.model, 1, 6), QStringLiteral("160"));
    QCOMPARE(cell(f.model, 2, 6), QStringLiteral("(1000)"));
    const auto alignment =
        f.model.data(f.model.index(0, 6), Qt::TextAlignmentRole).value<Qt::Alignment>();
    QVERIFY(alignment & Qt::AlignRight);
}

void TestHistoryList::amountOfUnchangedBalanceShowsBalance()
{
    Fixture f;
    f.add(railBlock(1, 1520));
    f.add(railBlock(2, 1520));
    f.fill();
    QCOMPARE(cell(f.model, 0, 6), QStringLiteral("(1520)"));
    QCOMPARE(cell(f.model, 1, 6), QStringLiteral("(1520)"));
}

void TestHistoryList::railColumns()
{
    Fixture f;
    f.add(railBlock(7, 500, 0)); // exit (0, 0, 0)
    f.fill();
    QCOMPARE(cell(f.model, 0, 1), QStringLiteral("2008-3-5"));
    QCOMPARE(cell(f.model, 0, 2), QStringLiteral("改札機"));
    QCOMPARE(cell(f.model, 0, 3), QStringLiteral("運賃支払"));
    QCOMPARE(cell(f.model, 0, 4), QStringLiteral("(0, 37, 12)"));
    QCOMPARE(cell(f.model, 0, 5), QString());
}

void TestHistoryList::busColumns()
{
    Fixture f;
    f.add(busBlock(3, 300, 0x80, 0x01, 0x00, 0x05));
    f.fill();
    QCOMPARE(cell(f.model, 0, 3), QStringLiteral("バス"));
    QCOMPARE(cell(f.model, 0, 4), QStringLiteral("(32769, 5)"));
    QCOMPARE(cell(f.model, 0, 5), QString());
}

void TestHistoryList::shopColumns()
{
    Fixture f;
    const HistoryBlock block =
        shopBlock(4, 120, (13 << 3) | (45 / 8), std::uint8_t((45 % 8) << 5), 0x01, 0x02);
    f.add(block);
    f.caches.shops.EntryFor(ShopKey{1, 199, 0x0102}).nm = QStringLiteral("売店");
    f.records.clear();
    f.add(block);
    f.fill();
    QCOMPARE(cell(f.model, 0, 3), QStringLiteral("物販"));
    QCOMPARE(cell(f.model, 0, 4), QStringLiteral("売店"));
    QCOMPARE(cell(f.model, 0, 5), QStringLiteral("13:45"));
}

void TestHistoryList::emptyRecordSetLeavesListEmpty()
{
    Fixture f;
    f.fill();
    QCOMPARE(f.model.rowCount(), 0);
    QCOMPARE(f.model.columnCount(), 9);
}

void TestHistoryList::serialOfRowReadsLeadingDigits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("serial");
    QTest::newRow("plain") << QStringLiteral("1234") << 1234u;
    QTest::newRow("trailing garbage") << QStringLiteral("12abc") << 12u;
    QTest::newRow("no digits") << QStringLiteral("abc") << 0u;
    QTest::newRow("empty") << QString() << 0u;
    QTest::newRow("largest serial") << QStringLiteral("16777215") << 16777215u;
}

void TestHistoryList::serialOfRowReadsLeadingDigits()
{
    QFETCH(QString, text);
    QFETCH(uint, serial);
    QStandardItemModel model(1, 7);
    model.setData(model.index(0, 0), text);
    QCOMPARE(serialOfRow(model, 0), serial);
}

void TestHistoryList::railRefreshUsesCompositionAndCacheEntries()
{
    Fixture f;
    f.add(railBlock(7, 0, 0));
    f.fill();
    QCOMPARE(cell(f.model, 0, 4), QStringLiteral("(0, 37, 12)"));

    DisplayFlags flags;
    flags.railCompanyShown = true;
    flags.railLineShown = false;
    // The server never named the station: no placeholder is composed, the code stays.
    refreshRailNames(f.model, f.records, f.caches.stations, flags);
    QCOMPARE(cell(f.model, 0, 4), QStringLiteral("(0, 37, 12)"));

    flags.railLineShown = true;
    refreshRailNames(f.model, f.records, f.caches.stations, flags);
    QCOMPARE(cell(f.model, 0, 4), QStringLiteral("(0, 37, 12)"));
    QVERIFY(f.caches.stations.EntryFor(StationKey{0, 0x25, 0x0C}).nm.isEmpty());
}

void TestHistoryList::railRefreshShowsFullNameWithLine()
{
    Fixture f;
    f.add(railBlock(9, 100));
    auto& entry = f.caches.stations.EntryFor(StationKey{0, 0x25, 0x0C});
    entry.an = QStringLiteral("JR東日本");
    entry.ln = QStringLiteral("山手");
    entry.sn = QStringLiteral("渋谷");
    auto& exit = f.caches.stations.EntryFor(StationKey{0, 0x25, 0x10});
    exit.sn = QStringLiteral("新宿");
    f.fill();
    DisplayFlags flags;
    flags.railCompanyShown = true;
    flags.railLineShown = true;
    refreshRailNames(f.model, f.records, f.caches.stations, flags);
    QCOMPARE(cell(f.model, 0, 4), QStringLiteral("渋谷(JR東日本：山手線)"));
    QCOMPARE(cell(f.model, 0, 5), QStringLiteral("新宿(：線)"));
    // The recomposed names stay in the cache.
    QCOMPARE(f.caches.stations.EntryFor(StationKey{0, 0x25, 0x0C}).nm,
             QStringLiteral("渋谷(JR東日本：山手線)"));
}

void TestHistoryList::busRefreshWritesColumnFourOnly()
{
    Fixture f;
    f.add(busBlock(3, 0, 0x00, 0x07, 0x00, 0x09));
    f.fill();
    f.model.setData(f.model.index(0, 5), QStringLiteral("untouched"));
    auto& stop = f.caches.busStops.EntryFor(BusStopKey{7, 9});
    stop.an = QStringLiteral("都営バス");
    stop.ln = QStringLiteral("渋谷駅前");
    stop.sn = QStringLiteral("渋88");
    DisplayFlags flags;
    flags.busCompanyShown = true;
    flags.busRouteShown = true;
    refreshBusNames(f.model, f.records, f.caches.busStops, flags);
    QCOMPARE(cell(f.model, 0, 4), QStringLiteral("渋谷駅前(都営バス：渋88)"));
    QCOMPARE(cell(f.model, 0, 5), QStringLiteral("untouched"));
}

void TestHistoryList::shopRefreshWithShopInfoOffGivesBlank()
{
    Fixture f;
    f.add(shopBlock(4, 0, 0, 0, 0x01, 0x02));
    auto& shop = f.caches.shops.EntryFor(ShopKey{1, 199, 0x0102});
    shop.an = QStringLiteral("会社");
    shop.ln = QStringLiteral("店");
    f.fill();
    DisplayFlags flags;
    flags.shopInfoShown = false;
    refreshShopNames(f.model, f.records, f.caches.shops, flags);
    QCOMPARE(cell(f.model, 0, 4), QStringLiteral(" "));
    flags.shopInfoShown = true;
    refreshShopNames(f.model, f.records, f.caches.shops, flags);
    QCOMPARE(cell(f.model, 0, 4), QStringLiteral("店(会社)"));
}

void TestHistoryList::refreshLeavesRowWithoutRecordAlone()
{
    Fixture f;
    f.add(railBlock(5, 100));
    f.fill();
    // After a failed read the set is empty while the rows stay.
    f.records.clear();
    const QString before = cell(f.model, 0, 4);
    DisplayFlags flags;
    flags.railCompanyShown = true;
    refreshRailNames(f.model, f.records, f.caches.stations, flags);
    QCOMPARE(cell(f.model, 0, 4), before);
}

void TestHistoryList::refreshKeepsOtherColumnsAndOrder()
{
    Fixture f;
    f.add(railBlock(1, 900));
    f.add(railBlock(2, 700));
    f.fill();
    QStringList before;
    for (int row = 0; row < 2; ++row) {
        for (int column : {0, 1, 2, 3, 6})
            before << cell(f.model, row, column);
    }
    refreshRailNames(f.model, f.records, f.caches.stations, DisplayFlags{});
    QStringList after;
    for (int row = 0; row < 2; ++row) {
        for (int column : {0, 1, 2, 3, 6})
            after << cell(f.model, row, column);
    }
    QCOMPARE(after, before);
}

void TestHistoryList::rowsKeepTheirTextsWhenRecordsGo()
{
    Fixture f;
    f.add(railBlock(2, 700));
    f.add(railBlock(1, 900));
    f.fill();
    f.model.setData(f.model.index(0, 4), QStringLiteral("渋谷"));
    // A read that fails empties the records; the rows stay as they were.
    f.model.keepRecords(f.records);
    QVERIFY(f.records.empty());
    f.add(railBlock(9, 1)); // a later set is not the rows'
    f.model.keepRecords(f.records);
    QCOMPARE(f.model.rowCount(), 2);
    QCOMPARE(cell(f.model, 0, 4), QStringLiteral("渋谷"));
    QCOMPARE(cell(f.model, 1, 6), QStringLiteral("(900)"));
    QCOMPARE(f.model.recordAt(1)->serial, 1u);
}

// The rows are indexed as they are asked for: removing, keeping the records and reading in any
// order give what a list indexed at once gives.
void TestHistoryList::rowsIndexedAsAskedFor()
{
    const auto serialsShown = [](const HistoryListModel& model) {
        QStringList serials;
        for (int row = 0; row < model.rowCount(); ++row)
            serials << cell(model, row, 0) + u'/' + cell(model, row, 6);
        return serials.join(u' ');
    };
    Fixture f;
    for (std::uint32_t serial = 1; serial <= 6; ++serial)
        f.add(railBlock(serial, int(1000 - serial * 10)));
    f.model.fill(f.records, MissedHistory{3});
    QCOMPARE(f.model.rowCount(), 7);
    QCOMPARE(f.model.recordAt(2)->amount, 10); // the amount is derived when the row is asked for
    QVERIFY(f.model.isMarkerRow(4));
    // Rows 1 and 2 go before rows 3 and beyond were indexed; then the records are kept.
    QVERIFY(f.model.removeRows(1, 2));
    f.model.keepRecords(f.records);
    QVERIFY(f.records.empty());
    QCOMPARE(f.model.rowCount(), 5);
    QCOMPARE(serialsShown(f.model), QStringLiteral("6/10 3/※10 …/ 2/10 1/(990)"));
    QCOMPARE(f.model.shownRecords()->size(), std::size_t(6));

    // Nothing asked for before the records are kept: the rest is indexed from the kept set.
    Fixture g;
    for (std::uint32_t serial = 1; serial <= 3; ++serial)
        g.add(railBlock(serial, int(500 - serial)));
    g.fill();
    g.model.keepRecords(g.records);
    QCOMPARE(serialsShown(g.model), QStringLiteral("3/1 2/1 1/(499)"));
    QVERIFY(g.model.removeRows(0, 3));
    QCOMPARE(g.model.shownRecords()->size(), std::size_t(0));
}

void TestHistoryList::viewRowsAsShownFollowSortAndFilter()
{
    Fixture f;
    for (std::uint32_t serial = 1; serial <= 4; ++serial)
        f.add(railBlock(serial, int(1000 - 100 * serial)));
    f.model.fill(f.records, MissedHistory{3});
    HistoryViewModel view(&f.model);
    auto shown = [&] {
        QStringList serials;
        for (const HistoryRow& row : rowsAsShown(view))
            serials << (row.isMissedHistoryMarker() ? QStringLiteral("gap")
                                                    : QString::number(row.record->serial));
        return serials.join(u' ');
    };
    QCOMPARE(shown(), QStringLiteral("4 3 gap 2 1"));
    view.sort(SerialColumn, Qt::AscendingOrder);
    QCOMPARE(shown(), QStringLiteral("1 2 3 4"));
    view.sortBySerial();
    view.setFilter(HistoryFilter{QStringLiteral("100"), {}, {}}); // amounts of 4, 3 and 2
    QCOMPARE(shown(), QStringLiteral("4 3 gap 2"));
    view.setFilter(HistoryFilter{QStringLiteral("4"), {}, {}}); // the marker goes with 3
    QCOMPARE(shown(), QStringLiteral("4"));
    view.setFilter(HistoryFilter{{}, QDate(2008, 3, 6), {}});
    QCOMPARE(shown(), QString());
}

// A Monday and a Tuesday of a commuter: the morning ride with both taps, a bus, the evening
// ride whose entry tap scrolled off the gate log, and two rides on Tuesday, one with its entry
// tap only and one the gate log never caught.
void TestHistoryList::timeColumnShowsTheGateTimes()
{
    using namespace ridelog::testing;
    const QDate monday(2026, 11, 30);
    const QDate tuesday = monday.addDays(1);
    HistoryBuilder history(1000);
    const std::uint32_t charge = history.charge(monday, kShinjuku, 2000);
    const std::uint32_t morning = history.journey(monday, kShinjuku, kShibuya, 170);
    const std::uint32_t bus = history.bus(monday, 0x0012, 210);
    const std::uint32_t evening = history.journey(monday, kShibuya, kShinjuku, 170);
    const std::uint32_t toTokyo = history.journey(tuesday, kShinjuku, kTokyo, 200);
    const std::uint32_t unseen = history.journey(tuesday, kTokyo, kIkebukuro, 200);
    const std::vector<HistoryBlock> taps{
        gateBlock(0xA0, kShinjuku, monday, 7, 58), gateBlock(0x20, kShibuya, monday, 8, 31, 170),
        gateBlock(0x20, kShinjuku, monday, 19, 5, 170), gateBlock(0xA0, kShinjuku, tuesday, 9, 2)};
    HistoryRecordSet records = history.records();
    HistoryListModel model;
    fillHistoryList(model, records, {}, matchGateTaps(records, taps));

    const QStringList newestFirst{
        QString(), QStringLiteral("入 09:02"),    QStringLiteral("出 19:05"),
        QString(), QStringLiteral("07:58–08:31"), QString()};
    for (int row = 0; row < newestFirst.size(); ++row)
        QCOMPARE(cell(model, row, TimeColumn), newestFirst[row]);
    // The list's own columns stay as they were.
    QCOMPARE(cell(model, 4, ExitColumn), historyCellText(*model.recordAt(4), ExitColumn));

    HistoryViewModel view(&model);
    view.sort(TimeColumn, Qt::AscendingOrder);
    std::vector<std::uint32_t> sorted;
    for (int row = 0; row < view.rowCount(); ++row)
        sorted.push_back(serialOfRow(view, row));
    // Without a time by serial, then by the first gate passage known.
    QCOMPARE(sorted, (std::vector<std::uint32_t>{charge, bus, unseen, morning, toTokyo, evening}));
    view.sortBySerial();
    view.setFilter(HistoryFilter{QStringLiteral("19:05"), {}, {}, false});
    QCOMPARE(view.rowCount(), 1);
    QCOMPARE(serialOfRow(view, 0), evening);

    // The next fill is of another read: its times come with it.
    fillHistoryList(model, records);
    QCOMPARE(cell(model, 4, TimeColumn), QString());
}

QTEST_GUILESS_MAIN(TestHistoryList)
#include "test_historylist.moc"
