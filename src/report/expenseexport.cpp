#include "report/expenseexport.h"

#include "store/listexport.h"

namespace ridelog {

namespace {

QString amountField(const ExpenseEntry& entry)
{
    return entry.amountKnown() ? QString::number(entry.amount) : QString();
}

QStringList csvFields(const ExpenseEntry& entry, const QString& idmText)
{
    return {QString::number(entry.serial),
            isoDateText(entry.date),
            isoTimeText(entry),
            kindKeyword(entry.kind),
            QString::number(entry.terminalType),
            terminalTypeName(entry.terminalType),
            QString::number(entry.processType),
            processTypeName(entry.processType).trimmed(),
            entry.entry.name,
            entry.entry.codeText,
            entry.exit.name,
            entry.exit.codeText,
            amountField(entry),
            QString::number(entry.balance),
            entry.amountState == AmountState::SpansGap ? QStringLiteral("true")
                                                       : QStringLiteral("false"),
            idmText};
}

void appendNumber(QByteArray& out, qint64 value)
{
    out += QByteArray::number(value);
}

void appendPlace(QByteArray& out, const PlaceFacts& place)
{
    if (place.isNone()) {
        out += "null";
        return;
    }
    out += "{\"name\":";
    if (place.name.isEmpty())
        out += "null";
    else
        appendJsonString(out, place.name);
    out += ",\"code\":[";
    for (int i = 0; i < place.codeParts; ++i) {
        if (i > 0)
            out += ',';
        appendNumber(out, place.code[std::size_t(i)]);
    }
    out += "]}";
}

void appendCodeAndName(QByteArray& out, int code, const QString& name)
{
    out += "{\"code\":";
    appendNumber(out, code);
    out += ",\"name\":";
    if (name.isEmpty())
        out += "null";
    else
        appendJsonString(out, name);
    out += '}';
}

void appendEntry(QByteArray& out, const ExpenseEntry& entry)
{
    out += "{\"serial\":";
    appendNumber(out, entry.serial);
    out += ",\"date\":";
    if (entry.date.isValid())
        appendJsonString(out, isoDateText(entry.date));
    else
        out += "null";
    out += ",\"time\":";
    if (entry.hour >= 0)
        appendJsonString(out, isoTimeText(entry));
    else
        out += "null";
    out += ",\"kind\":";
    appendJsonString(out, kindKeyword(entry.kind));
    out += ",\"terminal\":";
    appendCodeAndName(out, entry.terminalType, terminalTypeName(entry.terminalType));
    out += ",\"process\":";
    appendCodeAndName(out, entry.processType, processTypeName(entry.processType).trimmed());
    out += ",\"entry\":";
    appendPlace(out, entry.entry);
    out += ",\"exit\":";
    appendPlace(out, entry.exit);
    out += ",\"amount\":";
    if (entry.amountKnown())
        appendNumber(out, entry.amount);
    else
        out += "null";
    out += ",\"balance\":";
    appendNumber(out, entry.balance);
    out += ",\"history_gap_before\":";
    out += entry.amountState == AmountState::SpansGap ? "true" : "false";
    out += '}';
}

} // namespace

QStringList expenseCsvHeader()
{
    return {QStringLiteral("serial"),
            QStringLiteral("date"),
            QStringLiteral("time"),
            QStringLiteral("kind"),
            QStringLiteral("terminal_code"),
            QStringLiteral("terminal"),
            QStringLiteral("process_code"),
            QStringLiteral("process"),
            QStringLiteral("entry_name"),
            QStringLiteral("entry_code"),
            QStringLiteral("exit_name"),
            QStringLiteral("exit_code"),
            QStringLiteral("amount_yen_charge_negative"),
            QStringLiteral("balance_yen"),
            QStringLiteral("history_gap_before"),
            QStringLiteral("card_idm")};
}

QByteArray expenseCsvBytes(std::span<const ExpenseEntry> entries, const QString& idmText)
{
    QByteArray bytes("\xEF\xBB\xBF");
    bytes.reserve(qsizetype(entries.size()) * 120 + 256);
    bytes += exportLine(expenseCsvHeader(), ExportFormat::Csv).toUtf8();
    bytes += "\r\n";
    for (const ExpenseEntry& entry : entries) {
        bytes += exportLine(csvFields(entry, idmText), ExportFormat::Csv).toUtf8();
        bytes += "\r\n";
    }
    return bytes;
}

void appendJsonString(QByteArray& out, const QString& text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    out += '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += "\\u00";
                out += kHex[byte >> 4];
                out += kHex[byte & 0x0F];
            }
        } else {
            out += c;
        }
    }
    out += '"';
}

QByteArray expenseJsonBytes(std::span<const ExpenseEntry> entries, const QString& idmText)
{
    QDate first;
    QDate last;
    for (const ExpenseEntry& entry : entries) {
        if (!entry.date.isValid())
            continue;
        if (!first.isValid() || entry.date < first)
            first = entry.date;
        if (!last.isValid() || entry.date > last)
            last = entry.date;
    }
    QByteArray out;
    out.reserve(qsizetype(entries.size()) * 330 + 256);
    out += "{\"card\":{\"idm\":";
    appendJsonString(out, idmText);
    out += ",\"entries\":";
    appendNumber(out, qint64(entries.size()));
    out += ",\"first_date\":";
    if (first.isValid())
        appendJsonString(out, isoDateText(first));
    else
        out += "null";
    out += ",\"last_date\":";
    if (last.isValid())
        appendJsonString(out, isoDateText(last));
    else
        out += "null";
    out += "},\n\"entries\":[";
    bool firstEntry = true;
    for (const ExpenseEntry& entry : entries) {
        out += firstEntry ? "\n" : ",\n";
        firstEntry = false;
        appendEntry(out, entry);
    }
    out += "\n]}\n";
    return out;
}

} // namespace ridelog
