#include "ui/totalsdlg.h"

#include <QAbstractItemModel>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QBrush>
#include <QChart>
#include <QChartView>
#include <QDateEdit>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QSplitter>
#include <QStackedBarSeries>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

namespace ridelog {

namespace {

const QColor kGapColor(255, 226, 200);

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
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return table;
}

QString rangeCaption(const QDate& from, const QDate& to)
{
    return isoDateText(from) + CTotalsDlg::tr("〜") + isoDateText(to);
}

} // namespace

QStringList CTotalsDlg::columnHeadings()
{
    return {tr("月"),        tr("鉄道 回数"),     tr("鉄道 運賃"),   tr("バス 回数"),
            tr("バス 運賃"), tr("チャージ 回数"), tr("チャージ 額"), tr("物販 回数"),
            tr("物販 額"),   tr("月末残高"),      tr("履歴欠落")};
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
}

CTotalsDlg::~CTotalsDlg() = default;

void CTotalsDlg::buildWidgets()
{
    cardLabel_ = new QLabel(this);
    fromEdit_ = new QDateEdit(this);
    toEdit_ = new QDateEdit(this);
    for (QDateEdit* edit : {fromEdit_, toEdit_}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        connect(edit, &QDateEdit::dateChanged, this, &CTotalsDlg::onRangeEdited);
    }
    auto* allButton = new QPushButton(tr("全期間(&A)"), this);
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

    monthTable_ = makeTable(this);
    monthTable_->setObjectName(QStringLiteral("monthTable"));
    rangeTable_ = makeTable(this);
    rangeTable_->setObjectName(QStringLiteral("rangeTable"));
    rangeTable_->setRowCount(1);
    rangeTable_->setMaximumHeight(rangeTable_->horizontalHeader()->sizeHint().height() +
                                  rangeTable_->verticalHeader()->defaultSectionSize() + 6);
    notice_ = new QLabel(this);
    notice_->setWordWrap(true);
    notice_->setStyleSheet(QStringLiteral("color: #a04000"));

    spendingChart_ = new QChart;
    spendingChart_->setTitle(tr("月ごとの支出"));
    spendingView_ = new QChartView(spendingChart_, this);
    spendingView_->setRenderHint(QPainter::Antialiasing);
    balanceChart_ = new QChart;
    balanceChart_->setTitle(tr("残高の推移"));
    balanceView_ = new QChartView(balanceChart_, this);
    balanceView_->setRenderHint(QPainter::Antialiasing);
    auto* charts = new QSplitter(Qt::Horizontal, this);
    charts->addWidget(spendingView_);
    charts->addWidget(balanceView_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(rangeRow);
    layout->addWidget(monthTable_, 2);
    layout->addWidget(rangeTable_);
    layout->addWidget(notice_);
    layout->addWidget(charts, 3);
    resize(900, 640);
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
    cardLabel_->setText(snapshot_.idmText.isEmpty() ? tr("カードが読み取られていません")
                                                    : tr("カード %1").arg(snapshot_.idmText));
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
    range_ = expenseTotals(snapshot_.entries, fromEdit_->date(), toEdit_->date());
    fillMonthTable();
    fillRangeTable();
    drawSpending();
    drawBalance();
    updateNotice();
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
}

void CTotalsDlg::fillRangeTable()
{
    setRow(*rangeTable_, 0, rangeCaption(range_.from, range_.to), range_.total);
}

void CTotalsDlg::drawSpending()
{
    spendingChart_->removeAllSeries();
    for (QAbstractAxis* axis : spendingChart_->axes())
        spendingChart_->removeAxis(axis);
    auto* rail = new QBarSet(tr("鉄道"));
    auto* bus = new QBarSet(tr("バス"));
    auto* shop = new QBarSet(tr("物販"));
    QStringList categories;
    for (const MonthTotals& month : months_.months) {
        categories.append(month.monthText());
        rail->append(qreal(month.totals.railFares));
        bus->append(qreal(month.totals.busFares));
        shop->append(qreal(month.totals.purchased));
    }
    auto* series = new QStackedBarSeries;
    series->append({rail, bus, shop});
    spendingChart_->addSeries(series);
    auto* months = new QBarCategoryAxis;
    months->append(categories);
    spendingChart_->addAxis(months, Qt::AlignBottom);
    series->attachAxis(months);
    auto* yen = new QValueAxis;
    yen->setLabelFormat(tr("%d円"));
    spendingChart_->addAxis(yen, Qt::AlignLeft);
    series->attachAxis(yen);
}

void CTotalsDlg::drawBalance()
{
    balanceChart_->removeAllSeries();
    for (QAbstractAxis* axis : balanceChart_->axes())
        balanceChart_->removeAxis(axis);
    balanceChart_->legend()->hide();
    // The line breaks where history may be missing: nothing is drawn across a gap.
    std::vector<QList<QPointF>> segments(1);
    for (const ExpenseEntry& entry : snapshot_.entries) {
        if (!entry.date.isValid())
            continue;
        if (entry.amountState == AmountState::SpansGap && !segments.back().isEmpty())
            segments.emplace_back();
        const qreal x = qreal(entry.date.startOfDay().toMSecsSinceEpoch());
        segments.back().append(QPointF(x, entry.balance));
    }
    auto* time = new QDateTimeAxis;
    time->setFormat(QStringLiteral("yyyy-MM"));
    balanceChart_->addAxis(time, Qt::AlignBottom);
    auto* yen = new QValueAxis;
    yen->setLabelFormat(tr("%d円"));
    balanceChart_->addAxis(yen, Qt::AlignLeft);
    qreal low = 0;
    qreal high = 0;
    qreal first = 0;
    qreal last = 0;
    bool any = false;
    for (const QList<QPointF>& points : segments) {
        if (points.isEmpty())
            continue;
        auto* series = new QLineSeries;
        series->setName(tr("残高"));
        series->replace(points);
        balanceChart_->addSeries(series);
        series->attachAxis(time);
        series->attachAxis(yen);
        for (const QPointF& point : points) {
            low = any ? std::min(low, point.y()) : point.y();
            high = any ? std::max(high, point.y()) : point.y();
            first = any ? std::min(first, point.x()) : point.x();
            last = any ? std::max(last, point.x()) : point.x();
            any = true;
        }
    }
    if (any) {
        yen->setRange(std::min<qreal>(0, low), high + std::max<qreal>(100, high * 0.05));
        const qreal day = 86400000.0;
        time->setRange(QDateTime::fromMSecsSinceEpoch(qint64(first - day)),
                       QDateTime::fromMSecsSinceEpoch(qint64(last + day)));
    }
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
