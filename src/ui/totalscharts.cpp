#include "ui/totalscharts.h"

#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLocale>
#include <QScatterSeries>
#include <QStackedBarSeries>
#include <QToolTip>
#include <algorithm>
#include <cmath>

namespace ridelog {

namespace {

// The room a label takes besides its text, so that neighbouring labels stay apart.
constexpr int kLabelGap = 18;
constexpr int kMaxAmountTicks = 7;
constexpr std::size_t kSmoothLineDays = 3000;
const QColor kGapMarkerColor(220, 90, 0);

QString kindName(int kindIndex)
{
    switch (kindIndex) {
    case 0:
        return QCoreApplication::translate("TotalsCharts", "鉄道");
    case 1:
        return QCoreApplication::translate("TotalsCharts", "バス");
    default:
        return QCoreApplication::translate("TotalsCharts", "物販");
    }
}

qint64 kindAmount(const ExpenseTotals& totals, int kindIndex)
{
    switch (kindIndex) {
    case 0:
        return totals.railFares;
    case 1:
        return totals.busFares;
    default:
        return totals.purchased;
    }
}

QChartView* makeView(QChart* chart, QWidget* parent)
{
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->setBackgroundRoundness(0);
    auto* view = new QChartView(chart, parent);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(260, 200);
    return view;
}

void clearChart(QChart& chart)
{
    chart.removeAllSeries();
    for (QAbstractAxis* axis : chart.axes()) {
        chart.removeAxis(axis);
        delete axis;
    }
}

QCategoryAxis* amountAxis(double low, double high)
{
    const AxisScale scale = roundScale(std::min(low, 0.0), high, kMaxAmountTicks);
    auto* axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axis->setStartValue(scale.min - scale.step);
    for (int tick = 0; tick < scale.tickCount(); ++tick) {
        const double value = scale.min + tick * scale.step;
        axis->append(yenText(qint64(value)), value);
    }
    axis->setRange(scale.min, scale.max);
    return axis;
}

// How many labels of the given text width the chart's plot area holds side by side.
int labelsThatFit(const QChart& chart, const QString& sample)
{
    const QFontMetrics metrics(chart.axes(Qt::Horizontal).value(0)
                                   ? chart.axes(Qt::Horizontal).value(0)->labelsFont()
                                   : chart.font());
    qreal width = chart.plotArea().width();
    if (width <= 0)
        width = chart.size().width() - 90;
    return std::max(1, int(width) / (metrics.horizontalAdvance(sample) + kLabelGap));
}

QCategoryAxis* replaceHorizontalAxis(QChart& chart)
{
    QCategoryAxis* axis = nullptr;
    for (QAbstractAxis* old : chart.axes(Qt::Horizontal))
        axis = qobject_cast<QCategoryAxis*>(old);
    if (axis != nullptr) {
        for (const QString& label : axis->categoriesLabels())
            axis->remove(label);
    }
    return axis;
}

// Days on the time axis as milliseconds of UTC midnight, by arithmetic: the local time zone
// asked for every point costs more than the whole chart.
constexpr qint64 kJulianDayOf1970 = 2440588;
constexpr qreal kDayMs = 86400000.0;

qreal msOf(const QDate& day)
{
    return qreal(day.toJulianDay() - kJulianDayOf1970) * kDayMs;
}

QDate dayOfMs(qreal ms)
{
    return QDate::fromJulianDay(qint64(std::floor(ms / kDayMs + 0.5)) + kJulianDayOf1970);
}

} // namespace

QString yenText(qint64 yen)
{
    return QCoreApplication::translate("TotalsCharts", "%1円")
        .arg(QLocale(QLocale::English).toString(yen));
}

QString spendingToolTip(const MonthTotals& month, int kindIndex)
{
    return QCoreApplication::translate("TotalsCharts", "%1 %2 %3")
        .arg(month.monthText(), kindName(kindIndex), yenText(kindAmount(month.totals, kindIndex)));
}

QString balanceToolTip(const DayBalance& day)
{
    QString text = QCoreApplication::translate("TotalsCharts", "%1 残高 %2")
                       .arg(isoDateText(day.day), yenText(day.balance));
    if (day.afterGap)
        text += QLatin1Char('\n') +
                QCoreApplication::translate("TotalsCharts",
                                            "この日の前に履歴が欠落している可能性があります");
    return text;
}

SpendingChart::SpendingChart(QWidget* parent)
    : chart_(new QChart)
{
    chart_->setTitle(QCoreApplication::translate("TotalsCharts", "月ごとの支出"));
    view_ = makeView(chart_, parent);
    QObject::connect(chart_, &QChart::plotAreaChanged, view_, [this] { fitLabels(); });
}

void SpendingChart::draw(const std::vector<MonthTotals>& months)
{
    months_ = months;
    stride_ = 0;
    clearChart(*chart_);
    auto* series = new QStackedBarSeries;
    qint64 highest = 0;
    for (int kind = 0; kind < 3; ++kind) {
        auto* set = new QBarSet(kindName(kind));
        QList<qreal> values;
        values.reserve(qsizetype(months_.size()));
        for (const MonthTotals& month : months_)
            values.append(qreal(kindAmount(month.totals, kind)));
        set->append(values);
        QObject::connect(set, &QBarSet::hovered, view_, [this, kind](bool on, int index) {
            if (on && index >= 0 && std::size_t(index) < months_.size())
                QToolTip::showText(QCursor::pos(), spendingToolTip(months_[index], kind), view_);
            else
                QToolTip::hideText();
        });
        series->append(set);
    }
    for (const MonthTotals& month : months_)
        highest = std::max(highest, month.totals.spending());
    series->setBarWidth(0.8);
    chart_->addSeries(series);

    auto* monthAxis = new QCategoryAxis;
    monthAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    monthAxis->setGridLineVisible(false);
    monthAxis->setRange(-0.5, std::max<qreal>(0.5, qreal(months_.size()) - 0.5));
    chart_->addAxis(monthAxis, Qt::AlignBottom);
    series->attachAxis(monthAxis);
    QCategoryAxis* yen = amountAxis(0, double(highest));
    chart_->addAxis(yen, Qt::AlignLeft);
    series->attachAxis(yen);
    fitLabels();
}

void SpendingChart::fitLabels()
{
    if (months_.empty())
        return;
    const int stride =
        labelStride(int(months_.size()), labelsThatFit(*chart_, months_.front().monthText()));
    if (stride == stride_)
        return;
    QCategoryAxis* axis = replaceHorizontalAxis(*chart_);
    if (axis == nullptr)
        return;
    stride_ = stride;
    axis->setStartValue(-1);
    for (std::size_t index = 0; index < months_.size(); ++index) {
        // Labels fall on the same months of every year: January and every stride-th month.
        if ((months_[index].month - 1) % stride == 0 || (stride > 1 && months_.size() == 1))
            axis->append(months_[index].monthText(), qreal(index));
    }
    if (axis->count() == 0)
        axis->append(months_.front().monthText(), 0);
}

BalanceChart::BalanceChart(QWidget* parent)
    : chart_(new QChart)
{
    chart_->setTitle(QCoreApplication::translate("TotalsCharts", "残高の推移（日ごと）"));
    view_ = makeView(chart_, parent);
    QObject::connect(chart_, &QChart::plotAreaChanged, view_, [this] { fitLabels(); });
}

void BalanceChart::draw(std::vector<DayBalance> days)
{
    days_ = std::move(days);
    stride_ = 0;
    clearChart(*chart_);
    auto* timeAxis = new QCategoryAxis;
    timeAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    chart_->addAxis(timeAxis, Qt::AlignBottom);
    std::int32_t low = 0;
    std::int32_t high = 0;
    for (const DayBalance& day : days_) {
        low = std::min(low, day.balance);
        high = std::max(high, day.balance);
    }
    QCategoryAxis* yen = amountAxis(low, high);
    chart_->addAxis(yen, Qt::AlignLeft);

    const QList<QPointF> gaps = addBalanceLines(timeAxis, yen);
    if (!gaps.isEmpty())
        addGapMarkers(gaps, timeAxis, yen);
    chart_->legend()->setVisible(!gaps.isEmpty());
    // Thousands of days make a line that smoothing only slows down: its steps are below a pixel.
    view_->setRenderHint(QPainter::Antialiasing, days_.size() < kSmoothLineDays);
    if (!days_.empty()) {
        const qreal halfDay = 43200000.0;
        timeAxis->setRange(msOf(days_.front().day) - (days_.size() == 1 ? halfDay : 0),
                           msOf(days_.back().day) + (days_.size() == 1 ? halfDay : 0));
    }
    fitLabels();
}

QList<QPointF> BalanceChart::addBalanceLines(QAbstractAxis* timeAxis, QAbstractAxis* yen)
{
    // The line breaks where history may be missing: nothing is drawn across a gap.
    QList<QPointF> segment;
    QList<QPointF> gaps;
    bool firstLine = true;
    auto flush = [&] {
        if (segment.isEmpty())
            return;
        auto* line = new QLineSeries;
        line->setName(QCoreApplication::translate("TotalsCharts", "残高"));
        line->replace(segment);
        addDaySeries(line, timeAxis, yen);
        if (!firstLine)
            chart_->legend()->markers(line).value(0)->setVisible(false);
        firstLine = false;
        segment.clear();
    };
    for (const DayBalance& day : days_) {
        const QPointF point(msOf(day.day), day.balance);
        if (day.afterGap) {
            flush();
            gaps.append(point);
        }
        segment.append(point);
    }
    flush();
    return gaps;
}

void BalanceChart::addGapMarkers(const QList<QPointF>& gaps, QAbstractAxis* timeAxis,
                                 QAbstractAxis* yen)
{
    auto* markers = new QScatterSeries;
    markers->setName(QCoreApplication::translate("TotalsCharts", "履歴欠落"));
    markers->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
    markers->setMarkerSize(11);
    markers->setColor(kGapMarkerColor);
    markers->setBorderColor(kGapMarkerColor);
    markers->replace(gaps);
    addDaySeries(markers, timeAxis, yen);
}

// A series of days on the chart's axes, that names the day under the mouse.
void BalanceChart::addDaySeries(QXYSeries* series, QAbstractAxis* timeAxis, QAbstractAxis* yen)
{
    chart_->addSeries(series);
    series->attachAxis(timeAxis);
    series->attachAxis(yen);
    QObject::connect(series, &QXYSeries::hovered, view_,
                     [this](const QPointF& point, bool on) { showDayAt(point, on); });
}

void BalanceChart::showDayAt(const QPointF& point, bool hovered) const
{
    if (!hovered || days_.empty()) {
        QToolTip::hideText();
        return;
    }
    const QDate day = dayOfMs(point.x());
    auto nearest = std::lower_bound(days_.begin(), days_.end(), day,
                                    [](const DayBalance& d, const QDate& x) { return d.day < x; });
    if (nearest == days_.end())
        --nearest;
    else if (nearest != days_.begin() &&
             std::prev(nearest)->day.daysTo(day) < day.daysTo(nearest->day))
        --nearest;
    QToolTip::showText(QCursor::pos(), balanceToolTip(*nearest), view_);
}

void BalanceChart::fitLabels()
{
    if (days_.empty())
        return;
    const QDate first = days_.front().day;
    const QDate last = days_.back().day;
    QDate month(first.year(), first.month(), 1);
    if (month < first)
        month = month.addMonths(1);
    std::vector<QDate> starts;
    for (; month <= last; month = month.addMonths(1))
        starts.push_back(month);
    const int stride =
        labelStride(int(starts.size()), labelsThatFit(*chart_, QStringLiteral("2026-12")));
    if (stride == stride_)
        return;
    QCategoryAxis* axis = replaceHorizontalAxis(*chart_);
    if (axis == nullptr)
        return;
    stride_ = stride;
    axis->setStartValue(msOf(first) - 1);
    for (const QDate& start : starts) {
        if ((start.month() - 1) % stride == 0)
            axis->append(start.toString(QStringLiteral("yyyy-MM")), msOf(start));
    }
    if (axis->count() == 0)
        axis->append(isoDateText(first), msOf(first));
}

} // namespace ridelog
