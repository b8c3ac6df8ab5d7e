// The two charts of the totals window: the monthly spending as stacked bars and the balance at
// the end of each day as a line that breaks, with a marker, where history may be missing. The
// axes carry round amounts with their unit and month labels that fit the width; bars and
// points explain themselves in a tooltip.
#pragma once

#include "report/chartscale.h"
#include "report/expensetotals.h"

#include <QList>
#include <QPointF>
#include <QString>
#include <vector>

class QAbstractAxis;
class QChart;
class QChartView;
class QWidget;
class QXYSeries;

namespace ridelog {

// An amount as the user reads it: "1,234円" (English "1,234 yen").
QString yenText(qint64 yen);

// "2026-03 鉄道 1,234円": the tooltip of one bar.
QString spendingToolTip(const MonthTotals& month, int kindIndex);
// "2026-03-04 残高 1,234円": the tooltip of one point of the balance line.
QString balanceToolTip(const DayBalance& day);

class SpendingChart
{
public:
    explicit SpendingChart(QWidget* parent);
    QChartView* view() const { return view_; }
    QChart* chart() const { return chart_; }

    // Draws the months; their labels are thinned to what the width holds.
    void draw(const std::vector<MonthTotals>& months);
    // Labels the month axis anew for the chart's present width.
    void fitLabels();

private:
    QChartView* view_ = nullptr;
    QChart* chart_ = nullptr;
    std::vector<MonthTotals> months_;
    int stride_ = 0; // of the labels shown; 0: none yet
};

class BalanceChart
{
public:
    explicit BalanceChart(QWidget* parent);
    QChartView* view() const { return view_; }
    QChart* chart() const { return chart_; }
    const std::vector<DayBalance>& days() const { return days_; }

    void draw(std::vector<DayBalance> days);
    void fitLabels();

private:
    // Adds one line per stretch without missing history; returns the first day after each gap.
    QList<QPointF> addBalanceLines(QAbstractAxis* timeAxis, QAbstractAxis* yen);
    void addGapMarkers(const QList<QPointF>& gaps, QAbstractAxis* timeAxis, QAbstractAxis* yen);
    void addDaySeries(QXYSeries* series, QAbstractAxis* timeAxis, QAbstractAxis* yen);
    void showDayAt(const QPointF& point, bool hovered) const;

    QChartView* view_ = nullptr;
    QChart* chart_ = nullptr;
    std::vector<DayBalance> days_;
    int stride_ = 0;
};

} // namespace ridelog
