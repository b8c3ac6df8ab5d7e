#include "report/chartscale.h"

#include <algorithm>
#include <cmath>

namespace ridelog {

namespace {

// 1, 2, 5, 10, 20, 50, ... : the first of them at or above rough.
double roundStep(double rough)
{
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= rough * (1 - 1e-9))
            return factor * power;
    }
    return 10 * power;
}

} // namespace

AxisScale roundScale(double low, double high, int maxTicks)
{
    if (high < low)
        std::swap(low, high);
    maxTicks = std::max(maxTicks, 2);
    // Amounts are whole yen: no step below one.
    double step = roundStep(std::max((high - low) / double(maxTicks - 1), 1.0));
    for (;;) {
        AxisScale scale;
        scale.step = step;
        scale.min = std::floor(low / step) * step;
        scale.max = std::ceil(high / step) * step;
        if (scale.max <= scale.min)
            scale.max = scale.min + step;
        if (scale.tickCount() <= maxTicks)
            return scale;
        step = roundStep(step * 1.5);
    }
}

int labelStride(int count, int maxLabels)
{
    if (count <= 0 || maxLabels <= 0)
        return std::max(count, 1);
    const int stride = (count + maxLabels - 1) / maxLabels;
    // Strides that keep the labels on the same months every year.
    for (const int even : {1, 2, 3, 4, 6, 12}) {
        if (even >= stride)
            return even;
    }
    return (stride + 11) / 12 * 12;
}

std::vector<DayBalance> dailyBalances(std::span<const ExpenseEntry> ascending)
{
    std::vector<DayBalance> days;
    bool gapPending = false;
    for (const ExpenseEntry& entry : ascending) {
        gapPending = gapPending || entry.amountState == AmountState::SpansGap;
        if (!entry.date.isValid())
            continue;
        if (days.empty() || days.back().day != entry.date) {
            days.push_back({entry.date, entry.balance, gapPending});
        } else {
            days.back().balance = entry.balance;
            days.back().afterGap = days.back().afterGap || gapPending;
        }
        gapPending = false;
    }
    return days;
}

} // namespace ridelog
