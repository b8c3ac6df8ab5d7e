#include "ui/totalsdlg.h"

#include "report/chartscale.h"
#include "ui/cuttexttooltip.h"
#include "ui/totalscharts.h"

#include <QAbstractItemModel>
#include <QBrush>
#include <QChartView>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <numeric>

namespace ridelog {

namespace {

const QColor kGapColor(255, 226, 200);
// The month table always has room for a year.
constexpr int kMonthsInSight = 12;
// Room around a cell's or a heading's text.
constexpr int kCellPadding = 14;

// The figures of one table row, in the order of columnHeadings() after the first column.
QStringList figuresOf(const ExpenseTotals& totals)
{
    QStringList figures{QString::number(totals.railJourneys),
                        QString::number(totals.railFares),
                        QString::number(totals.busJourneys),
                        QString::number(totals.busFares),
                        QString::number(totals.charges),
                        QString::number(totals.charged),
                        QString::number(totals.purchases),
                        QString::number(totals.purchased),
                        totals.closingBalance ? QString::number(*totals.closingBalance)
                                              : QString()};
    figures.append(totals.gaps > 0 ? CTotalsDlg::tr("あり（%1円 内訳不明）").arg(totals.unaccounted)
                                   : QString());
    return figures;
}

void setRow(QTableWidget& table, int row, const QString& first, const ExpenseTotals& totals)
{
    QStringList texts = figuresOf(totals);
    texts.prepend(first);
    for (int column = 0; column < texts.size(); ++column) {
        auto* item = new QTableWidgetItem(texts[column]);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        if (column > 0 && column + 1 < texts.size())
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (totals.gaps > 0) {
            item->setBackground(kGapColor);
            item->setToolTip(
                CTotalsDlg::tr("この期間の前後で履歴が失われた可能性があります。欠落をまたぐ金額は"
                               "運賃・チャージ・物販に含めていません。"));
        }
        table.setItem(row, column, item);
    }
}

QTableWidget* makeTable(QWidget* parent)
{
    auto* table = new QTableWidget(0, int(CTotalsDlg::columnHeadings().size()), parent);
    table->setHorizontalHeaderLabels(CTotalsDlg::columnHeadings());
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    // A cell too narrow for its figure shows it whole as its tooltip.
    table->setItemDelegate(new CutTextToolTipDelegate(table));
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    return table;
}

int tableHeight(const QTableWidget& table, int rows)
{
    return table.horizontalHeader()->sizeHint().height() +
           rows * table.verticalHeader()->defaultSectionSize() + 2 * table.frameWidth();
}

// The width each column needs for its heading and its widest cell.
std::vector<int> naturalWidths(const QTableWidget& table)
{
    const QFontMetrics cells(table.font());
    const QFontMetrics headings(table.horizontalHeader()->font());
    std::vector<int> widths(std::size_t(table.columnCount()));
    for (int column = 0; column < table.columnCount(); ++column) {
        const QTableWidgetItem* heading = table.horizontalHeaderItem(column);
        int widest = heading ? headings.size(0, heading->text()).width() : 0;
        for (int row = 0; row < table.rowCount(); ++row) {
            if (const QTableWidgetItem* item = table.item(row, column))
                widest = std::max(widest, cells.horizontalAdvance(item->text()));
        }
        widths[std::size_t(column)] = widest + kCellPadding;
    }
    return widths;
}

// Columns at their natural widths, the room left given out in proportion, so that the columns
// fill the given room; the last one also takes whatever the table has beyond it.
void spreadColumns(QTableWidget& table, const std::vector<int>& natural, int room)
{
    const int needed = std::accumulate(natural.begin(), natural.end(), 0);
    const int extra = std::max(0, room - needed);
    int given = 0;
    for (std::size_t column = 0; column < natural.size(); ++column) {
        int share = needed > 0 ? int(qint64(extra) * natural[column] / needed) : 0;
        if (column + 1 == natural.size())
            share = extra - given + std::max(0, table.viewport()->width() - room);
        given += share;
        table.setColumnWidth(int(column), natural[column] + share);
    }
}

QString rangeCaption(const QDate& from, const QDate& to)
{
    return isoDateText(from) + CTotalsDlg::tr("〜") + isoDateText(to);
}

} // namespace

QStringList CTotalsDlg::columnHeadings()
{
    return {tr("月"),         tr("鉄道\n回数"),     tr("鉄道\n運賃"),   tr("バス\n回数"),
            tr("バス\n運賃"), tr("チャージ\n回数"), tr("チャージ\n額"), tr("物販\n回数"),
            tr("物販\n額"),   tr("月末\n残高"),     tr("履歴\n欠落")};
}

CTotalsDlg::CTotalsDlg(Source source, QWidget* parent)
    : QDialog(parent)
    , source_(std::move(source))
{
    setObjectName(QStringLiteral("totalsWindow"));
    setWindowTitle(tr("集計"));
    setModal(false);
    buildWidgets();
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    refreshTimer_->setInterval(0);
    connect(refreshTimer_, &QTimer::timeout, this, &CTotalsDlg::refresh);
    refresh();
    // The keyboard starts in the months, not in the period's first field.
    monthTable_->setFocus(Qt::OtherFocusReason);
}

CTotalsDlg::~CTotalsDlg() = default;

QChart* CTotalsDlg::spendingChart() const
{
    return spending_->chart();
}

QChart* CTotalsDlg::balanceChart() const
{
    return balance_->chart();
}

void CTotalsDlg::buildWidgets()
{
    cardLabel_ = new QLabel(this);
    cardLabel_->setObjectName(QStringLiteral("totalsCard"));
    cardLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    fromEdit_ = new QDateEdit(this);
    toEdit_ = new QDateEdit(this);
    for (QDateEdit* edit : {fromEdit_, toEdit_}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        connect(edit, &QDateEdit::dateChanged, this, &CTotalsDlg::onRangeEdited);
    }
    auto* allButton = new QPushButton(tr("全期間(&A)"), this);
    allButton->setAutoDefault(false);
    connect(allButton, &QPushButton::clicked, this, [this] {
        rangePicked_ = false;
        refresh();
    });
    auto* rangeRow = new QHBoxLayout;
    rangeRow->addWidget(cardLabel_, 1);
    rangeRow->addWidget(new QLabel(tr("期間："), this));
    rangeRow->addWidget(fromEdit_);
    rangeRow->addWidget(new QLabel(tr("〜"), this));
    rangeRow->addWidget(toEdit_);
    rangeRow->addWidget(allButton);

    empty_ = new QLabel(tr("このカードの履歴はまだありません。カードを読み取ると、月ごとの集計と"
                           "グラフがここに表示されます。"),
                        this);
    empty_->setObjectName(QStringLiteral("totalsEmpty"));
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setWordWrap(true);
    pages_ = new QStackedWidget(this);
    pages_->addWidget(buildContent());
    pages_->addWidget(empty_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(rangeRow);
    layout->addWidget(pages_, 1);
    resize(960, 760);
}

QWidget* CTotalsDlg::buildContent()
{
    auto* content = new QWidget(this);
    monthTable_ = makeTable(content);
    monthTable_->setObjectName(QStringLiteral("monthTable"));
    monthTable_->setMinimumHeight(tableHeight(*monthTable_, kMonthsInSight));
    rangeTable_ = makeTable(content);
    rangeTable_->setObjectName(QStringLiteral("rangeTable"));
    rangeTable_->setRowCount(1);
    rangeTable_->setFixedHeight(tableHeight(*rangeTable_, 1));
    rangeTable_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    notice_ = new QLabel(content);
    notice_->setWordWrap(true);
    notice_->setStyleSheet(QStringLiteral("color: #a04000"));

    spending_ = std::make_unique<SpendingChart>(content);
    balance_ = std::make_unique<BalanceChart>(content);
    // The two charts share the width evenly, also as the window grows.
    auto* charts = new QHBoxLayout;
    charts->addWidget(spending_->view(), 1);
    charts->addWidget(balance_->view(), 1);

    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(monthTable_, 2);
    layout->addWidget(rangeTable_);
    layout->addWidget(notice_);
    layout->addLayout(charts, 3);
    return content;
}

void CTotalsDlg::followList(const QAbstractItemModel& list)
{
    connect(&list, &QAbstractItemModel::rowsInserted, this, &CTotalsDlg::scheduleRefresh);
    connect(&list, &QAbstractItemModel::rowsRemoved, this, &CTotalsDlg::scheduleRefresh);
    connect(&list, &QAbstractItemModel::modelReset, this, &CTotalsDlg::scheduleRefresh);
}

void CTotalsDlg::scheduleRefresh()
{
    refreshTimer_->start();
}

void CTotalsDlg::refresh()
{
    Snapshot next = source_ ? source_() : Snapshot{};
    if (next.idmText != snapshot_.idmText)
        rangePicked_ = false;
    snapshot_ = std::move(next);
    months_ = expenseTotals(snapshot_.entries, QDate(), QDate());
    updateCardLabel();
    QDate first;
    QDate last;
    for (const ExpenseEntry& entry : snapshot_.entries) {
        if (!entry.date.isValid())
            continue;
        first = first.isValid() ? std::min(first, entry.date) : entry.date;
        last = last.isValid() ? std::max(last, entry.date) : entry.date;
    }
    if (!first.isValid())
        first = last = QDate::currentDate();
    if (!rangePicked_) {
        settingRange_ = true;
        fromEdit_->setDate(first);
        toEdit_->setDate(last);
        settingRange_ = false;
    }
    const bool empty = snapshot_.entries.empty();
    pages_->setCurrentWidget(empty ? static_cast<QWidget*>(empty_) : pages_->widget(0));
    for (QWidget* rangeField : {static_cast<QWidget*>(fromEdit_), static_cast<QWidget*>(toEdit_)})
        rangeField->setEnabled(!empty);
    range_ = expenseTotals(snapshot_.entries, fromEdit_->date(), toEdit_->date());
    fillMonthTable();
    fillRangeTable();
    spending_->draw(months_.months);
    balance_->draw(dailyBalances(snapshot_.entries));
    updateNotice();
}

void CTotalsDlg::updateCardLabel()
{
    QString text;
    if (snapshot_.idmText.isEmpty())
        text = tr("カードが読み取られていません");
    else if (snapshot_.cardName.isEmpty())
        text = tr("カード %1").arg(snapshot_.idmText);
    else
        text = tr("カード %1（%2）").arg(snapshot_.cardName, snapshot_.idmText);
    // A long name is cut in the label and kept whole in its tooltip.
    cardLabel_->setToolTip(text);
    const int room = std::max(120, cardLabel_->width());
    cardLabel_->setText(cardLabel_->fontMetrics().elidedText(text, Qt::ElideMiddle, room));
}

void CTotalsDlg::setRange(const QDate& from, const QDate& to)
{
    settingRange_ = true;
    fromEdit_->setDate(from);
    toEdit_->setDate(to);
    settingRange_ = false;
    onRangeEdited();
}

void CTotalsDlg::onRangeEdited()
{
    if (settingRange_)
        return;
    rangePicked_ = true;
    // An end before the start is taken as the same day: the range never runs backwards.
    if (toEdit_->date() < fromEdit_->date()) {
        settingRange_ = true;
        toEdit_->setDate(fromEdit_->date());
        settingRange_ = false;
    }
    range_ = expenseTotals(snapshot_.entries, fromEdit_->date(), toEdit_->date());
    fillRangeTable();
    updateNotice();
}

void CTotalsDlg::fillMonthTable()
{
    monthTable_->setRowCount(int(months_.months.size()));
    int row = 0;
    for (const MonthTotals& month : months_.months)
        setRow(*monthTable_, row++, month.monthText(), month.totals);
    fitColumns();
}

void CTotalsDlg::fillRangeTable()
{
    setRow(*rangeTable_, 0, rangeCaption(range_.from, range_.to), range_.total);
    fitColumns();
}

void CTotalsDlg::fitColumns()
{
    // Both tables share their column widths, so that the range row lines up with the months.
    std::vector<int> widths = naturalWidths(*monthTable_);
    const std::vector<int> range = naturalWidths(*rangeTable_);
    for (std::size_t column = 0; column < widths.size(); ++column)
        widths[column] = std::max(widths[column], range[column]);
    const int needed = std::accumulate(widths.begin(), widths.end(), 0);
    const int scrollBar = monthTable_->verticalScrollBar()->sizeHint().width();
    setMinimumWidth(needed + scrollBar + 2 * monthTable_->frameWidth() +
                    layout()->contentsMargins().left() + layout()->contentsMargins().right());
    // The months' room, narrowed by their scroll bar, sets the columns of both.
    const int room = monthTable_->viewport()->width();
    spreadColumns(*monthTable_, widths, room);
    spreadColumns(*rangeTable_, widths, room);
}

void CTotalsDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    fitColumns();
    updateCardLabel();
    spending_->fitLabels();
    balance_->fitLabels();
}

void CTotalsDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    fitColumns();
    updateCardLabel();
}

void CTotalsDlg::done(int result)
{
    // Closed with the keyboard: the keyboard goes back to the main window, as a window manager
    // would give it (without one nobody does).
    const bool hadKeyboard = isActiveWindow();
    QDialog::done(result);
    if (hadKeyboard && parentWidget() != nullptr && parentWidget()->isVisible())
        parentWidget()->activateWindow();
}

void CTotalsDlg::updateNotice()
{
    QStringList notes;
    if (months_.total.gaps > 0)
        notes.append(tr("履歴が欠落している可能性があります（%1か所）。欠落をまたぐ"
                        "残高の変化 %2円 は集計に含めず、色付きの月に示しています。")
                         .arg(months_.total.gaps)
                         .arg(months_.total.unaccounted));
    if (months_.undated > 0)
        notes.append(tr("日付が正しくない %1件 は集計に含めていません。").arg(months_.undated));
    if (months_.total.unknownAmounts > 0)
        notes.append(tr("最も古い記録は前の残高がないため金額に含めていません。"));
    notice_->setText(notes.join(QLatin1Char('\n')));
    notice_->setVisible(!notes.isEmpty());
}

} // namespace ridelog
