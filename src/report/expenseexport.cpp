#include "report/expenseexport.h"

#include "store/listexport.h"

#include <algorithm>
#include <charconv>

namespace ridelog {

// The JSON is built in a std::string: at 100,000 entries its many small appends are several
// times faster than QByteArray::append.
void appendJsonText(std::string& out, const QString& text);

namespace {

// What a spreadsheet would run as a formula when the text opens a cell.
bool opensLikeFormula(const QByteArray& utf8)
{
    if (utf8.isEmpty())
        return false;
    switch (utf8.front()) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\t':
    case '\r':
        return true;
    default:
        return false;
    }
}

// One text cell from UTF-8 bytes, quoted by RFC 4180 when it holds a comma, a quote or a line
// break (the same rule as the list's CSV). Names come from a server the user may not control,
// so a text that would open as a formula gets a leading apostrophe and stays text.
void appendCsvField(std::string& out, const QByteArray& text)
{
    const QByteArray utf8 = opensLikeFormula(text) ? '\'' + text : text;
    const bool quote = std::any_of(utf8.begin(), utf8.end(), [](char c) {
        return c == ',' || c == '"' || c == '\r' || c == '\n';
    });
    if (!quote) {
        out.append(utf8.constData(), std::size_t(utf8.size()));
        return;
    }
    out += '"';
    for (const char c : utf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void appendNumber(std::string& out, qint64 value)
{
    char digits[24];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
    out.append(digits, end - digits);
}

// 2026-12-04, written without QDate's formatting, which is slow at this count.
void appendIsoDate(std::string& out, const QDate& date)
{
    int year = 0;
    int month = 0;
    int day = 0;
    date.getDate(&year, &month, &day);
    const char text[] = {char('0' + year / 1000 % 10),
                         char('0' + year / 100 % 10),
                         char('0' + year / 10 % 10),
                         char('0' + year % 10),
                         '-',
                         char('0' + month / 10),
                         char('0' + month % 10),
                         '-',
                         char('0' + day / 10),
                         char('0' + day % 10)};
    out.append(text, sizeof text);
}

// The code as the list writes it, "(0, 37, 12)", quoted for CSV because of its commas.
void appendCsvCode(std::string& out, const PlaceFacts& place)
{
    if (place.isNone())
        return;
    out += "\"(";
    for (int i = 0; i < place.codeParts; ++i) {
        if (i > 0)
            out += ", ";
        appendNumber(out, place.code[std::size_t(i)]);
    }
    out += ")\"";
}

// The code-and-name objects of terminal and process types, made once for every code.
struct CodeNameTable
{
    std::array<std::string, 256> terminal;
    std::array<std::string, 256> process;

    CodeNameTable()
    {
        for (int code = 0; code < 256; ++code) {
            terminal[std::size_t(code)] = codeAndName(code, terminalTypeName(std::uint8_t(code)));
            process[std::size_t(code)] =
                codeAndName(code, processTypeName(std::uint8_t(code)).trimmed());
        }
    }

    static std::string codeAndName(int code, const QString& name)
    {
        std::string out("{\"code\":");
        appendNumber(out, code);
        out += ",\"name\":";
        if (name.isEmpty())
            out += "null";
        else
            appendJsonText(out, name);
        out += '}';
        return out;
    }
};

void appendPlace(std::string& out, const PlaceFacts& place)
{
    if (place.isNone()) {
        out += "null";
        return;
    }
    out += "{\"name\":";
    if (place.name.isEmpty())
        out += "null";
    else
        appendJsonText(out, place.name);
    out += ",\"code\":[";
    for (int i = 0; i < place.codeParts; ++i) {
        if (i > 0)
            out += ',';
        appendNumber(out, place.code[std::size_t(i)]);
    }
    out += "]}";
}

// "08:27", or nothing when not known.
void appendTime(std::string& out, const TapTime& time)
{
    if (!time.known())
        return;
    const char text[] = {char('0' + time.hour / 10), char('0' + time.hour % 10), ':',
                         char('0' + time.minute / 10), char('0' + time.minute % 10)};
    out.append(text, sizeof text);
}

void appendJsonTime(std::string& out, const TapTime& time)
{
    if (!time.known()) {
        out += "null";
        return;
    }
    out += '"';
    appendTime(out, time);
    out += '"';
}

void appendEntry(std::string& out, const ExpenseEntry& entry, const CodeNameTable& names)
{
    out += "{\"serial\":";
    appendNumber(out, entry.serial);
    out += ",\"date\":";
    if (entry.date.isValid()) {
        out += '"';
        appendIsoDate(out, entry.date);
        out += '"';
    } else {
        out += "null";
    }
    out += ",\"time\":";
    if (entry.hour >= 0)
        appendJsonText(out, isoTimeText(entry));
    else
        out += "null";
    out += ",\"kind\":\"";
    out += kindKeyword(entry.kind).toStdString();
    out += '"';
    out += ",\"terminal\":";
    out += names.terminal[entry.terminalType];
    out += ",\"process\":";
    out += names.process[entry.processType];
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
    out += ",\"purpose\":";
    if (entry.purpose.isEmpty())
        out += "null";
    else
        appendJsonText(out, entry.purpose);
    out += ",\"claim\":";
    out += entry.claimed ? "true" : "false";
    out += ",\"entry_time\":";
    appendJsonTime(out, entry.entryTime);
    out += ",\"exit_time\":";
    appendJsonTime(out, entry.exitTime);
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
            QStringLiteral("card_idm"),
            QStringLiteral("purpose"),
            QStringLiteral("claim"),
            QStringLiteral("entry_time"),
            QStringLiteral("exit_time")};
}

QByteArray expenseCsvBytes(std::span<const ExpenseEntry> entries, const QString& idmText)
{
    std::string out("\xEF\xBB\xBF");
    out.reserve(entries.size() * 160 + 512);
    const QByteArray header = exportLine(expenseCsvHeader(), ExportFormat::Csv).toUtf8();
    out.append(header.constData(), std::size_t(header.size()));
    out += "\r\n";
    std::array<std::string, 256> terminals;
    std::array<std::string, 256> processes;
    for (int code = 0; code < 256; ++code) {
        const auto byte = std::uint8_t(code);
        appendNumber(terminals[std::size_t(code)], code);
        terminals[std::size_t(code)] += ',';
        appendCsvField(terminals[std::size_t(code)], terminalTypeName(byte).toUtf8());
        appendNumber(processes[std::size_t(code)], code);
        processes[std::size_t(code)] += ',';
        appendCsvField(processes[std::size_t(code)], processTypeName(byte).trimmed().toUtf8());
    }
    const QByteArray idm = idmText.toUtf8();
    const auto appendPlaceFields = [&out](const PlaceFacts& place) {
        appendCsvField(out, place.name.toUtf8());
        out += ',';
        appendCsvCode(out, place);
    };
    for (const ExpenseEntry& entry : entries) {
        appendNumber(out, entry.serial);
        out += ',';
        if (entry.date.isValid())
            appendIsoDate(out, entry.date);
        out += ',';
        out += isoTimeText(entry).toStdString();
        out += ',';
        out += kindKeyword(entry.kind).toStdString();
        out += ',';
        out += terminals[entry.terminalType];
        out += ',';
        out += processes[entry.processType];
        out += ',';
        appendPlaceFields(entry.entry);
        out += ',';
        appendPlaceFields(entry.exit);
        out += ',';
        if (entry.amountKnown())
            appendNumber(out, entry.amount);
        out += ',';
        appendNumber(out, entry.balance);
        out += entry.amountState == AmountState::SpansGap ? ",true," : ",false,";
        appendCsvField(out, idm);
        out += ',';
        appendCsvField(out, entry.purpose.toUtf8());
        out += entry.claimed ? ",true," : ",false,";
        appendTime(out, entry.entryTime);
        out += ',';
        appendTime(out, entry.exitTime);
        out += "\r\n";
    }
    return QByteArray(out.data(), qsizetype(out.size()));
}

void appendJsonString(QByteArray& out, const QString& text)
{
    std::string quoted;
    appendJsonText(quoted, text);
    out.append(quoted.data(), qsizetype(quoted.size()));
}

void appendJsonText(std::string& out, const QString& text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    const bool plain = std::none_of(utf8.begin(), utf8.end(), [](char c) {
        return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
    });
    out += '"';
    if (plain) {
        out.append(utf8.constData(), std::size_t(utf8.size()));
        out += '"';
        return;
    }
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

QByteArray expenseJsonBytes(std::span<const ExpenseEntry> entries, const QString& idmText,
                            const QString& nickname, std::optional<card::CardKind> kind)
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
    std::string out;
    out.reserve(entries.size() * 330 + 256);
    out += "{\"card\":{\"idm\":";
    appendJsonText(out, idmText);
    out += ",\"entries\":";
    appendNumber(out, qint64(entries.size()));
    out += ",\"first_date\":";
    if (first.isValid())
        appendJsonText(out, isoDateText(first));
    else
        out += "null";
    out += ",\"last_date\":";
    if (last.isValid())
        appendJsonText(out, isoDateText(last));
    else
        out += "null";
    out += ",\"nickname\":";
    if (nickname.isEmpty())
        out += "null";
    else
        appendJsonText(out, nickname);
    out += ",\"kind\":";
    if (kind)
        appendJsonText(out, card::cardKindName(*kind));
    else
        out += "null";
    out += "},\n\"entries\":[";
    const CodeNameTable names;
    bool firstEntry = true;
    for (const ExpenseEntry& entry : entries) {
        out += firstEntry ? "\n" : ",\n";
        firstEntry = false;
        appendEntry(out, entry, names);
    }
    out += "\n]}\n";
    return QByteArray(out.data(), qsizetype(out.size()));
}

} // namespace ridelog
