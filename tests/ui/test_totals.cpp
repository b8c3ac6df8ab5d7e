// The 集計 window: monthly and range totals, the charts, the missed-history mark, and keeping up
// with new reads in the main window.
#include "namedata/namecache.h"
#include "support/cardblocks.h"
#include "support/realistichistory.h"
#include "support/windowaccess.h"
#include "testfiles.h"
#include "ui/commandids.h"
#include "ui/cuttexttooltip.h"
#include "ui/savefiledialog.h"
#include "ui/totalscharts.h"
#include "ui/totalsdlg.h"
#include "windowfixture.h"

#include <QApplication>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QScatterSeries>
#include <QScrollBar>
#include <QStackedBarSeries>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QTest>
#include <cmath>
#include <set>

using namespace ridelog;
using namespace ridelog::test;

namespace {

HistoryBlock on(HistoryBlock block, int month, int day)
{
    const unsigned date = unsigned(2026 - 2000) << 9 | unsigned(month) << 5 | unsigned(day);
    block[4] = std::uint8_t(date >> 8);
    block[5] = std::uint8_t(date & 0xFF);
    return block;
}

QString text(const QTableWidget& table, int row, int column)
{
    const QTableWidgetItem* item = table.item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
}

} // namespace

class TestTotals : public QObject, public WindowFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void monthsAndRange();
    void gapIsShownNotSummed();
    void followsTheList();
    void openedFromTheMenuAndUpdatedByARead();
    void missedHistoryOfAReadInTotalsAndExport();
    void longHistoryReadsAtAGlance();
    void noHistorySaysSo();
    void cardNamedByItsNickname();

private:
    CTotalsDlg::Snapshot snapshot() const;

    std::vector<HistoryBlock> blocks_;
    std::optional<std::uint32_t> gap_;
};

void TestTotals::init()
{
    setUpWindow();
    blocks_ = {on(railBlock(1, 3000), 3, 1), on(railBlock(2, 2840), 3, 2),
               on(typedBlock(8, 2, 3, 4840, 0, 0, 0, 0), 3, 20), on(busBlock(4, 4630), 4, 1),
               on(shopBlock(5, 4500), 4, 3)};
    gap_.reset();
}

void TestTotals::cleanup()
{
    tearDownWindow();
}

CTotalsDlg::Snapshot TestTotals::snapshot() const
{
    NameCaches caches;
    HistoryRecordSet records;
    for (const HistoryBlock& block : blocks_)
        records.insert(decodeHistoryBlock(block, caches.stations, caches.busStops, caches.shops));
    return {kCardIdm, QString(), expenseEntries(records, gap_)};
}

void TestTotals::monthsAndRange()
{
    CTotalsDlg totals([this] { return snapshot(); });
    QCOMPARE(totals.windowTitle(), QStringLiteral("集計"));
    const QTableWidget& months = *totals.monthTable();
    QCOMPARE(months.rowCount(), 2);
    QCOMPARE(months.columnCount(), int(CTotalsDlg::columnHeadings().size()));
    QStringList march;
    for (int column = 0; column < months.columnCount(); ++column)
        march << text(months, 0, column);
    QCOMPARE(march.join(QLatin1Char('|')), QStringLiteral("2026-03|1|160|0|0|1|2000|0|0|4840|"));
    QCOMPARE(text(months, 1, 4), QStringLiteral("210"));
    QCOMPARE(text(months, 1, 9), QStringLiteral("4500"));

    // The range starts as the whole history, then follows the dates picked.
    QCOMPARE(text(*totals.rangeTable(), 0, 0), QStringLiteral("2026-03-01〜2026-04-03"));
    QCOMPARE(totals.rangeReport().total.spending(), 160 + 210 + 130);
    totals.setRange(QDate(2026, 3, 15), QDate(2026, 4, 2));
    QCOMPARE(text(*totals.rangeTable(), 0, 0), QStringLiteral("2026-03-15〜2026-04-02"));
    QCOMPARE(totals.rangeReport().total.spending(), 210);
    QCOMPARE(text(*totals.rangeTable(), 0, 9), QStringLiteral("4630"));
    // A range column made too narrow for its text shows the text whole as its tooltip.
    QTableWidget& range = *totals.rangeTable();
    for (const QTableWidget* table : {totals.monthTable(), &range})
        QVERIFY(qobject_cast<CutTextToolTipDelegate*>(table->itemDelegate()));
    const QModelIndex period = range.model()->index(0, 0);
    QCOMPARE(CutTextToolTipDelegate::toolTipFor(range, period), QString());
    range.horizontalHeader()->resizeSection(0, 20);
    QCOMPARE(CutTextToolTipDelegate::toolTipFor(range, period),
             QStringLiteral("2026-03-15〜2026-04-02"));
    totals.setRange(QDate(2026, 4, 2), QDate(2026, 3, 1)); // backwards: one day
    QCOMPARE(totals.rangeReport().to, QDate(2026, 4, 2));

    auto* bars = qobject_cast<QStackedBarSeries*>(totals.spendingChart()->series().value(0));
    QVERIFY(bars);
    QCOMPARE(bars->barSets().size(), 3);
    QCOMPARE(bars->barSets()[0]->at(0), 160.0);
    QCOMPARE(bars->barSets()[2]->at(1), 130.0);
    QCOMPARE(totals.balanceChart()->series().size(), 1);
    auto* line = qobject_cast<QLineSeries*>(totals.balanceChart()->series().value(0));
    QCOMPARE(line->count(), 5);
}

void TestTotals::gapIsShownNotSummed()
{
    gap_ = 4;
    CTotalsDlg totals([this] { return snapshot(); });
    QCOMPARE(text(*totals.monthTable(), 1, 4), QStringLiteral("0"));
    QCOMPARE(text(*totals.monthTable(), 1, 10), QStringLiteral("あり（210円 内訳不明）"));
    QVERIFY(totals.monthTable()->item(1, 0)->background() != QBrush());
    QVERIFY(totals.monthTable()->item(0, 0)->background() == QBrush());
    QVERIFY(totals.noticeLabel()->text().contains(QStringLiteral("履歴が欠落")));
    QVERIFY(!totals.noticeLabel()->isHidden());
    QCOMPARE(totals.rangeReport().total.unaccounted, 210);
    // The balance line is broken where the history is missing, with a marker at the break.
    int lines = 0;
    QScatterSeries* markers = nullptr;
    for (QAbstractSeries* series : totals.balanceChart()->series()) {
        lines += qobject_cast<QLineSeries*>(series) && !qobject_cast<QScatterSeries*>(series);
        if (auto* scatter = qobject_cast<QScatterSeries*>(series))
            markers = scatter;
    }
    QCOMPARE(lines, 2);
    QVERIFY(markers);
    QCOMPARE(markers->count(), 1);
    QCOMPARE(QDateTime::fromMSecsSinceEpoch(qint64(markers->at(0).x()), Qt::UTC).date(),
             QDate(2026, 4, 1));
}

// A long history: amounts with their unit on round ticks, month labels that fit the width, one
// balance point per day, columns that fill the table, and tooltips that name month and kind.
void TestTotals::longHistoryReadsAtAGlance()
{
    RealisticHistoryOptions options;
    options.entries = 2183;
    blocks_ = realisticHistory(options);
    CTotalsDlg totals([this] { return snapshot(); });
    totals.resize(900, 640);
    totals.show();
    QVERIFY(QTest::qWaitForWindowExposed(&totals));
    QCOMPARE(totals.emptyMessage()->isVisible(), false);

    for (QChart* chart : {totals.spendingChart(), totals.balanceChart()}) {
        auto* yen = qobject_cast<QCategoryAxis*>(chart->axes(Qt::Vertical).value(0));
        QVERIFY(yen);
        const QStringList labels = yen->categoriesLabels();
        QVERIFY(labels.size() >= 3);
        QCOMPARE(labels.first(), QStringLiteral("0円"));
        for (const QString& label : labels)
            QVERIFY2(label.endsWith(QStringLiteral("円")), qPrintable(label));
        const double step = yen->endValue(labels[1]) - yen->endValue(labels[0]);
        QCOMPARE(std::fmod(step, 1000.0), 0.0);
        QCOMPARE(yen->max(), yen->endValue(labels.last()));
    }
    const qsizetype months = qsizetype(totals.monthsReport().months.size());
    QVERIFY(months >= 24);
    auto* monthAxis =
        qobject_cast<QCategoryAxis*>(totals.spendingChart()->axes(Qt::Horizontal).value(0));
    QVERIFY(monthAxis);
    const qsizetype wideLabels = monthAxis->count();
    QVERIFY(wideLabels > 1 && wideLabels < months);
    totals.resize(1800, 900);
    QTRY_VERIFY(monthAxis->count() > wideLabels);

    auto* line = qobject_cast<QLineSeries*>(totals.balanceChart()->series().value(0));
    std::set<QDate> days;
    for (const ExpenseEntry& entry : snapshot().entries)
        days.insert(entry.date);
    QCOMPARE(line->count(), int(days.size()));

    const QTableWidget& table = *totals.monthTable();
    int width = 0;
    for (int column = 0; column < table.columnCount(); ++column)
        width += table.columnWidth(column);
    QCOMPARE(width, table.viewport()->width());
    // The range row lines up with the months, though only the months have a scroll bar.
    const QTableWidget& range = *totals.rangeTable();
    QVERIFY(table.verticalScrollBar()->isVisible());
    for (int column = 0; column + 1 < table.columnCount(); ++column)
        QCOMPARE(range.columnViewportPosition(column), table.columnViewportPosition(column));
    QCOMPARE(totals.focusWidget(), &table);
    QVERIFY(table.rowHeight(0) < 2 * table.fontMetrics().height());
    QVERIFY(table.height() >= 12 * table.rowHeight(0));

    const MonthTotals& march = totals.monthsReport().months.at(3);
    QCOMPARE(spendingToolTip(march, 0),
             march.monthText() + QStringLiteral(" 鉄道 ") +
                 QLocale(QLocale::English).toString(march.totals.railFares) + QStringLiteral("円"));
    QCOMPARE(balanceToolTip({QDate(2026, 3, 4), 12345, false}),
             QStringLiteral("2026-03-04 残高 12,345円"));
}

void TestTotals::noHistorySaysSo()
{
    blocks_.clear();
    CTotalsDlg totals([this] { return snapshot(); });
    totals.show();
    QVERIFY(QTest::qWaitForWindowExposed(&totals));
    QVERIFY(totals.emptyMessage()->isVisible());
    QVERIFY(!totals.monthTable()->isVisible());
    blocks_ = {on(railBlock(1, 3000), 3, 1)};
    totals.refresh();
    QVERIFY(!totals.emptyMessage()->isVisible());
    QVERIFY(totals.monthTable()->isVisible());
}

void TestTotals::cardNamedByItsNickname()
{
    QString name = QStringLiteral("通勤用");
    CTotalsDlg totals([this, &name] {
        CTotalsDlg::Snapshot shot = snapshot();
        shot.cardName = name;
        return shot;
    });
    QCOMPARE(totals.cardLabel()->toolTip(), QStringLiteral("カード 通勤用（%1）").arg(kCardIdm));
    name.clear();
    totals.refresh();
    QCOMPARE(totals.cardLabel()->toolTip(), QStringLiteral("カード %1").arg(kCardIdm));
    name = QString(500, QChar(u'長'));
    totals.refresh();
    QVERIFY(totals.cardLabel()->text().size() < 200); // cut, and whole in the tooltip
    QVERIFY(totals.cardLabel()->toolTip().contains(name));
}

void TestTotals::followsTheList()
{
    QStandardItemModel list(0, 7);
    CTotalsDlg totals([this] { return snapshot(); });
    totals.followList(list);
    totals.setRange(QDate(2026, 3, 1), QDate(2026, 3, 31));
    blocks_.push_back(on(railBlock(6, 4300), 5, 1));
    list.appendRow(new QStandardItem(QStringLiteral("6")));
    QCOMPARE(totals.monthTable()->rowCount(), 2); // once the list has settled, not mid-way
    QTRY_COMPARE(totals.monthTable()->rowCount(), 3);
    // The range the user picked stays for the same card.
    QCOMPARE(totals.rangeReport().to, QDate(2026, 3, 31));
    blocks_.clear();
    list.removeRows(0, 1);
    QTRY_COMPARE(totals.monthTable()->rowCount(), 0);
    QCOMPARE(totals.spendingChart()->series().size(), 1);
}

void TestTotals::openedFromTheMenuAndUpdatedByARead()
{
    putCard({railBlock(2, 840), railBlock(1, 1000)});
    auto dlg = makeWindow();
    QVERIFY(
        QTest::qWaitFor([&] { return test::inside(*dlg).historyModel()->rowCount() == 2; }, 5000));
    QVERIFY(dlg->commandAction(ids::ShowTotals));
    QCOMPARE(dlg->commandAction(ids::ShowTotals)->text(), QStringLiteral("集計(&T)..."));
    QVERIFY(dlg->triggerCommand(ids::ShowTotals));
    auto* totals = dlg->findChild<CTotalsDlg*>();
    QVERIFY(totals);
    QVERIFY(totals->isVisible());
    QCOMPARE(totals->monthsReport().total.railFares, 160);

    putCard({railBlock(3, 600), railBlock(2, 840), railBlock(1, 1000)});
    dlg->readCard();
    QTRY_COMPARE(totals->monthsReport().total.railFares, 400);
    QVERIFY(dlg->triggerCommand(ids::ShowTotals)); // the same window again
    QCOMPARE(dlg->findChildren<CTotalsDlg*>().size(), 1);

    // Closed with Escape, it hands the keyboard back to the main window.
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    totals->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), totals);
    QTest::keyClick(totals, Qt::Key_Escape);
    QVERIFY(!totals->isVisible());
    QTRY_COMPARE(QApplication::activeWindow(), dlg.get());
}

// A read of twenty entries none of which is stored: the window's gap reaches the totals and the
// UTF-8 CSV, and the export writes the rows as shown, without the marker row.
void TestTotals::missedHistoryOfAReadInTotalsAndExport()
{
    auto dlg = makeWindow();
    putCard({railBlock(3, 2000), railBlock(2, 2160)});
    dlg->readCard();
    QList<HistoryBlock> fresh;
    for (std::uint32_t serial = 119; serial >= 100; --serial)
        fresh.append(railBlock(serial, 700 - 10 * int(serial - 100)));
    putCard(fresh);
    dlg->readCard();
    QVERIFY(dlg->session().missedHistory().has_value());

    QVERIFY(dlg->triggerCommand(ids::ShowTotals));
    const auto* totals = dlg->findChild<CTotalsDlg*>();
    QCOMPARE(totals->monthsReport().total.gaps, 1);
    QCOMPARE(totals->monthsReport().total.unaccounted, 2000 - 700);
    QCOMPARE(totals->monthsReport().total.railFares, 160 + 19 * 10);

    SaveFileDialog::setScripted(true);
    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(QStringLiteral("gap")), 2});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    SaveFileDialog::setScripted(false);
    const QList<QByteArray> lines =
        fileBytes(dir_->filePath(QStringLiteral("gap.csv"))).split('\n');
    QCOMPARE(lines.size(), 1 + 22 + 1); // header, every entry, nothing after the last line end
    QVERIFY(lines[20].startsWith("100,"));
    QVERIFY(lines[20].endsWith(",,700,true," + kCardIdm.toLatin1() + ",,false,,\r"));
    QVERIFY(lines[21].startsWith("3,"));
    QVERIFY(lines[21].contains(",160,2000,false,"));
}

QTEST_MAIN(TestTotals)
#include "test_totals.moc"
