#include "report/expensetotals.h"

#include "report/expenseexport.h"

#include <map>

namespace ridelog {

namespace {

QString balanceText(const ExpenseTotals& totals)
{
    return totals.closingBalance ? QString::number(*totals.closingBalance) : QString();
}

// The columns of the CSV form and of the text table, with the value each takes from a sum.
struct TotalsColumn
{
    const char* csvName;
    const char* heading;
    qint64 (*value)(const ExpenseTotals&);
};

constexpr TotalsColumn kColumns[] = {
    {"rail_journeys", "Rail", [](const ExpenseTotals& t) { return qint64(t.railJourneys); }},
    {"rail_fares_yen", "Rail yen", [](const ExpenseTotals& t) { return t.railFares; }},
    {"bus_journeys", "Bus", [](const ExpenseTotals& t) { return qint64(t.busJourneys); }},
    {"bus_fares_yen", "Bus yen", [](const ExpenseTotals& t) { return t.busFares; }},
    {"charges", "Charges", [](const ExpenseTotals& t) { return qint64(t.charges); }},
    {"charged_yen", "Charged yen", [](const ExpenseTotals& t) { return t.charged; }},
    {"purchases", "Purchases", [](const ExpenseTotals& t) { return qint64(t.purchases); }},
    {"purchased_yen", "Purchased yen", [](const ExpenseTotals& t) { return t.purchased; }},
    {"spending_yen", "Spent yen", [](const ExpenseTotals& t) { return t.spending(); }},
    {"history_gaps", "Gaps", [](const ExpenseTotals& t) { return qint64(t.gaps); }},
    {"unaccounted_yen", "Unaccounted yen", [](const ExpenseTotals& t) { return t.unaccounted; }},
};

QString rangeText(const TotalsReport& report)
{
    const QString from = report.from.isValid() ? isoDateText(report.from) : QStringLiteral("first");
    const QString to = report.to.isValid() ? isoDateText(report.to) : QStringLiteral("last");
    return QStringLiteral("entries from %1 to %2").arg(from, to);
}

void appendJsonTotals(QByteArray& out, const ExpenseTotals& totals)
{
    out += "\"entries\":" + QByteArray::number(totals.entries);
    for (const TotalsColumn& column : kColumns) {
        out += ",\"";
        out += column.csvName;
        out += "\":" + QByteArray::number(column.value(totals));
    }
    out += ",\"unknown_amounts\":" + QByteArray::number(totals.unknownAmounts);
    out += ",\"closing_balance_yen\":";
    out += totals.closingBalance ? QByteArray::number(*totals.closingBalance) : "null";
}

} // namespace

QString MonthTotals::monthText() const
{
    return QStringLiteral("%1-%2")
        .arg(year, 4, 10, QLatin1Char('0'))
        .arg(month, 2, 10, QLatin1Char('0'));
}

bool isChargeProcess(std::uint8_t processType)
{
    switch (processType) {
    case 2:  // チャージ
    case 20: // オートチャージ入場
    case 21: // オートチャージ出場
    case 31: // チャージバス
    case 72: // 特典チャージ
    case 73: // チャージレジ
        return true;
    default:
        return false;
    }
}

void addToTotals(ExpenseTotals& totals, const ExpenseEntry& entry)
{
    ++totals.entries;
    totals.closingBalance = entry.balance;
    switch (entry.amountState) {
    case AmountState::FirstEntry:
        ++totals.unknownAmounts;
        return;
    case AmountState::SpansGap:
        ++totals.gaps;
        totals.unaccounted += entry.amount;
        return;
    case AmountState::Known:
        break;
    }
    if (isChargeProcess(entry.processType)) {
        ++totals.charges;
        totals.charged -= entry.amount;
        return;
    }
    switch (entry.kind) {
    case RecordKind::Bus:
        ++totals.busJourneys;
        totals.busFares += entry.amount;
        break;
    case RecordKind::Shop:
        ++totals.purchases;
        totals.purchased += entry.amount;
        break;
    case RecordKind::Rail:
    case RecordKind::None:
        ++totals.railJourneys;
        totals.railFares += entry.amount;
        break;
    }
}

TotalsReport expenseTotals(std::span<const ExpenseEntry> ascending, const QDate& from,
                           const QDate& to)
{
    TotalsReport report;
    report.from = from;
    report.to = to;
    std::map<int, ExpenseTotals> months;
    for (const ExpenseEntry& entry : ascending) {
        if (!entry.date.isValid()) {
            ++report.undated;
            continue;
        }
        if ((from.isValid() && entry.date < from) || (to.isValid() && entry.date > to))
            continue;
        addToTotals(months[entry.date.year() * 100 + entry.date.month()], entry);
        addToTotals(report.total, entry);
    }
    for (const auto& [key, totals] : months)
        report.months.push_back({key / 100, key % 100, totals});
    return report;
}

QByteArray totalsText(const TotalsReport& report, const QString& idmText)
{
    QString text = QStringLiteral("Card %1, %2\n").arg(idmText, rangeText(report));
    const int firstWidth = 8;
    auto row = [&](const QString& first, const ExpenseTotals& totals) {
        QString line = first.leftJustified(firstWidth);
        for (const TotalsColumn& column : kColumns) {
            const int width = int(qstrlen(column.heading));
            line += QLatin1Char(' ') + QString::number(column.value(totals)).rightJustified(width);
        }
        line += QLatin1Char(' ') + balanceText(totals).rightJustified(7);
        if (totals.gaps > 0)
            line += QStringLiteral("  history missing");
        text += line + QLatin1Char('\n');
    };
    QString heading = QStringLiteral("Month").leftJustified(firstWidth);
    for (const TotalsColumn& column : kColumns)
        heading += QLatin1Char(' ') + QLatin1String(column.heading);
    heading += QStringLiteral(" Balance");
    text += heading + QLatin1Char('\n');
    for (const MonthTotals& month : report.months)
        row(month.monthText(), month.totals);
    row(QStringLiteral("Total"), report.total);
    if (report.total.gaps > 0)
        text += QStringLiteral("History may be missing before %1 entr%2: their %3 yen of balance "
                               "change is unaccounted, not counted as fares.\n")
                    .arg(report.total.gaps)
                    .arg(report.total.gaps == 1 ? QStringLiteral("y") : QStringLiteral("ies"))
                    .arg(report.total.unaccounted);
    if (report.total.unknownAmounts > 0)
        text += QStringLiteral("The oldest stored entry has no amount: there is no balance "
                               "before it.\n");
    if (report.undated > 0)
        text += QStringLiteral("Entries with a date that does not exist, left out: %1.\n")
                    .arg(report.undated);
    return text.toUtf8();
}

QByteArray totalsCsv(const TotalsReport& report)
{
    QByteArray out("month");
    for (const TotalsColumn& column : kColumns) {
        out += ',';
        out += column.csvName;
    }
    out += ",closing_balance_yen\r\n";
    auto row = [&](const QString& first, const ExpenseTotals& totals) {
        out += first.toUtf8();
        for (const TotalsColumn& column : kColumns)
            out += ',' + QByteArray::number(column.value(totals));
        out += ',' + balanceText(totals).toUtf8() + "\r\n";
    };
    for (const MonthTotals& month : report.months)
        row(month.monthText(), month.totals);
    row(QStringLiteral("total"), report.total);
    return out;
}

QByteArray totalsJson(const TotalsReport& report, const QString& idmText)
{
    QByteArray out("{\"card\":");
    appendJsonString(out, idmText);
    out += ",\"from\":";
    out += report.from.isValid() ? '"' + isoDateText(report.from).toUtf8() + '"' : "null";
    out += ",\"to\":";
    out += report.to.isValid() ? '"' + isoDateText(report.to).toUtf8() + '"' : "null";
    out += ",\"undated_entries\":" + QByteArray::number(report.undated);
    out += ",\n\"months\":[";
    bool first = true;
    for (const MonthTotals& month : report.months) {
        out += first ? "\n{\"month\":\"" : ",\n{\"month\":\"";
        first = false;
        out += month.monthText().toUtf8() + "\",";
        appendJsonTotals(out, month.totals);
        out += '}';
    }
    out += "\n],\n\"total\":{";
    appendJsonTotals(out, report.total);
    out += "}}\n";
    return out;
}

} // namespace ridelog
