#include "report/claimform.h"

#include "report/expensetotals.h"

#include <map>

namespace ridelog {

namespace {

bool withinRange(const QDate& date, const ClaimRequest& request)
{
    if (!request.from.isValid() && !request.to.isValid())
        return true;
    if (!date.isValid())
        return false;
    return (!request.from.isValid() || date >= request.from) &&
           (!request.to.isValid() || date <= request.to);
}

ClaimAmount claimAmountOf(AmountState state)
{
    switch (state) {
    case AmountState::Known:
        return ClaimAmount::Counted;
    case AmountState::SpansGap:
        return ClaimAmount::SpansGap;
    case AmountState::FirstEntry:
        break;
    }
    return ClaimAmount::Unknown;
}

ClaimLine lineOf(const ExpenseEntry& entry)
{
    ClaimLine line;
    line.serial = entry.serial;
    line.date = entry.date;
    line.kind = entry.kind;
    line.from = claimPlaceText(entry.entry);
    line.to = claimPlaceText(entry.exit);
    line.purpose = entry.purpose;
    line.amount = entry.amount;
    line.amountState = claimAmountOf(entry.amountState);
    line.entryTime = entry.entryTime;
    line.exitTime = entry.exitTime;
    return line;
}

} // namespace

bool isClaimableEntry(const ExpenseEntry& entry)
{
    return !isChargeProcess(entry.processType);
}

QString claimPlaceText(const PlaceFacts& place)
{
    if (place.isNone())
        return QString();
    if (!place.name.isEmpty())
        return place.name;
    QString code = QStringLiteral("(");
    for (int i = 0; i < place.codeParts; ++i) {
        if (i > 0)
            code += QStringLiteral(", ");
        code += QString::number(place.code[std::size_t(i)]);
    }
    return code + u')';
}

ClaimForm buildClaimForm(std::span<const ExpenseEntry> ascending, const ClaimRequest& request)
{
    ClaimForm form;
    form.request = request;
    // Months in order; undated entries (key 0 sorts them first) go last.
    std::map<int, ClaimMonth> months;
    ClaimMonth undated;
    for (const ExpenseEntry& entry : ascending) {
        if (!isClaimableEntry(entry) || (request.claimedOnly && !entry.claimed) ||
            !withinRange(entry.date, request))
            continue;
        ClaimMonth* month = &undated;
        if (entry.date.isValid()) {
            const int key = entry.date.year() * 100 + entry.date.month();
            month = &months[key];
            month->year = entry.date.year();
            month->month = entry.date.month();
        }
        ClaimLine line = lineOf(entry);
        if (line.amountState == ClaimAmount::Counted) {
            month->total += line.amount;
            form.total += line.amount;
        } else {
            ++form.uncounted;
        }
        ++form.lineCount;
        month->lines.push_back(std::move(line));
    }
    form.months.reserve(months.size() + 1);
    for (auto& [key, month] : months)
        form.months.push_back(std::move(month));
    if (!undated.lines.empty())
        form.months.push_back(std::move(undated));
    return form;
}

} // namespace ridelog
