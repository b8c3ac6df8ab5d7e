// What the charts of the totals window are drawn from: an axis of round values that just holds
// the data, how many month labels fit, and the balance at the end of each day.
#pragma once

#include "report/expenseentries.h"

#include <QDate>
#include <cstdint>
#include <span>
#include <vector>

namespace ridelog {

// An axis from min to max in steps of step; min and max are multiples of step.
struct AxisScale
{
    double min = 0;
    double max = 0;
    double step = 1;
    int tickCount() const { return int((max - min) / step + 0.5) + 1; }
};

// The smallest range of steps of 1, 2 or 5 times a power of ten that holds [low, high] with at
// most maxTicks ticks. An empty range (low == high) still gets one step above it.
AxisScale roundScale(double low, double high, int maxTicks);

// Every how many months a label is shown so that at most maxLabels of count months are labelled.
int labelStride(int count, int maxLabels);

struct DayBalance
{
    QDate day;
    std::int32_t balance = 0; // after the day's last entry
    bool afterGap = false;    // history may be missing before the day's first entry
};

// One point per day with dated entries (ascending serial order in, ascending days out).
std::vector<DayBalance> dailyBalances(std::span<const ExpenseEntry> ascending);

} // namespace ridelog
