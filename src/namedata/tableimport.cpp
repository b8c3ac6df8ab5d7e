#include "namedata/tableimport.h"

#include "namedata/csvreader.h"

#include <QFile>
#include <QStringDecoder>
#include <optional>
#include <set>

namespace ridelog::nameserver {

namespace {

constexpr int kMaxProblemsListed = 5;
// Names are cut to this many characters wherever they are stored; a longer field is no name.
constexpr qsizetype kMaxFieldCharacters = 255;
constexpr int kAllSheetsColumns = 15;

// The columns of the all-sheets table.
enum AllSheetsColumn
{
    Src = 0,
    AreaCode,
    LineCode,
    StationCode,
    TerminalType,
    TerminalCodeHigh,
    TerminalCodeLow,
    CompanyName,
    LineName,
    StationName,
    Comment,
    Latitude,
    Longitude,
    StoreName,
    CashRegister,
};

// Hexadecimal with or without "0x"; nothing when empty, not hex or above `max`.
std::optional<int> parseHexCode(QByteArray text, int max)
{
    text = text.trimmed();
    if (text.startsWith("0x") || text.startsWith("0X"))
        text.remove(0, 2);
    if (text.isEmpty() || text.size() > 8)
        return std::nullopt;
    bool ok = false;
    const uint value = text.toUInt(&ok, 16);
    if (!ok || value > uint(max))
        return std::nullopt;
    return int(value);
}

// Decimal digits only; nothing when empty or above `max`.
std::optional<int> parseDecimalCode(QByteArray text, int max)
{
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 3)
        return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    const int value = text.toInt();
    return value <= max ? std::optional<int>(value) : std::nullopt;
}

// Text of a name column; nothing when it is not UTF-8.
std::optional<QString> decodeNameText(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text.trimmed();
}

// Shift-JIS or EUC-JP read as Latin-1 leaves runs of accented Latin letters in Japanese names.
bool looksGarbled(const QString& text)
{
    int latinSupplement = 0;
    for (const QChar c : text) {
        if (c == QChar::ReplacementCharacter)
            return true;
        if (c.unicode() >= 0x80 && c.unicode() <= 0xFF)
            ++latinSupplement;
    }
    return latinSupplement >= 2;
}

class TableImporter
{
public:
    TableImporter(ImportReport& report, NameDirectory& directory)
        : report_(report)
        , directory_(directory)
    {}

    void importRows(CsvReader& reader)
    {
        CsvRow row;
        bool first = true;
        bool allSheets = false;
        while (reader.next(row)) {
            if (first) {
                first = false;
                allSheets = !row.fields.isEmpty() && row.fields[0].trimmed() == "src";
                decimalCodes_ = isDecimalStationTableHeader(row);
                if (allSheets || isStationTableHeader(row))
                    continue;
            }
            ++report_.rows;
            if (row.malformed)
                unreadable(row, QStringLiteral("broken quotes"));
            else if (const QString fault = faultOfFields(row); !fault.isEmpty())
                unreadable(row, fault);
            else if (allSheets)
                importAllSheetsRow(row);
            else
                importStationTableRow(row);
        }
    }

private:
    // What makes a row impossible to store faithfully, whatever its kind: a NUL (a name would be
    // cut there), a field longer than a name may be, a row of far too many columns.
    static QString faultOfFields(const CsvRow& row)
    {
        if (row.tooManyFields)
            return QStringLiteral("more than %1 columns").arg(CsvReader::kMaxFields);
        for (qsizetype i = 0; i < row.fields.size(); ++i) {
            const QByteArray& field = row.fields[i];
            if (field.contains('\0'))
                return QStringLiteral("column %1 holds a NUL character").arg(i + 1);
            const bool overlong = row.overlongField == int(i) ||
                                  (field.size() > kMaxFieldCharacters &&
                                   QString::fromUtf8(field).size() > kMaxFieldCharacters);
            if (overlong)
                return QStringLiteral("column %1 is longer than %2 characters")
                    .arg(i + 1)
                    .arg(kMaxFieldCharacters);
        }
        return QString();
    }

    static bool isStationTableHeader(const CsvRow& row)
    {
        return row.fields.size() >= 3 && !parseHexCode(row.fields[0], 0xFF);
    }

    // The ICCardManager table writes its codes in decimal under English headings.
    static bool isDecimalStationTableHeader(const CsvRow& row)
    {
        return row.fields.size() >= 3 && row.fields[0].trimmed() == "AreaCode" &&
               row.fields[1].trimmed() == "LineCode" && row.fields[2].trimmed() == "StationCode";
    }

    void unreadable(const CsvRow& row, const QString& reason)
    {
        ++report_.unreadable;
        if (report_.problems.size() < kMaxProblemsListed)
            report_.problems.append(QStringLiteral("line %1: %2").arg(row.lineNumber).arg(reason));
    }

    // Decodes the given columns; false (and the row counted) when one of them is unreadable.
    bool decodeNames(const CsvRow& row, std::initializer_list<int> columns, QStringList& names)
    {
        for (const int column : columns) {
            const std::optional<QString> text = decodeNameText(row.fields[column]);
            if (!text) {
                unreadable(row, QStringLiteral("not UTF-8"));
                return false;
            }
            if (looksGarbled(*text)) {
                unreadable(row, QStringLiteral("garbled text"));
                return false;
            }
            names.append(*text);
        }
        return true;
    }

    void addRail(const CsvRow& row, std::optional<int> area, std::optional<int> line,
                 std::optional<int> station, std::initializer_list<int> nameColumns)
    {
        if (!area || !line || !station) {
            unreadable(row, decimalCodes_ ? QStringLiteral("station code is not decimal 0..255")
                                          : QStringLiteral("station code is not hex 00..FF"));
            return;
        }
        QStringList names;
        if (!decodeNames(row, nameColumns, names))
            return;
        if (names[2].isEmpty()) {
            unreadable(row, QStringLiteral("no station name"));
            return;
        }
        const StationKey key{std::uint8_t(*area), std::uint8_t(*line), std::uint8_t(*station)};
        const bool added =
            directory_.addRail(key, {names[0], lineNameWithoutSuffix(names[1]), names[2]});
        countAdded(added, seenStations_, key, report_.railAdded);
    }

    void importStationTableRow(const CsvRow& row)
    {
        if (row.fields.size() != 6 && row.fields.size() != 7) {
            unreadable(row, QStringLiteral("%1 columns instead of 6 or 7").arg(row.fields.size()));
            return;
        }
        if (!decimalCodes_) {
            addRail(row, parseHexCode(row.fields[0], 0xFF), parseHexCode(row.fields[1], 0xFF),
                    parseHexCode(row.fields[2], 0xFF), {3, 4, 5});
            return;
        }
        const std::optional<int> area = parseDecimalCode(row.fields[0], 0xFF);
        const std::optional<int> line = parseDecimalCode(row.fields[1], 0xFF);
        if (area == 0 && line == 0) {
            // Area 0, line 0 is where the other tables keep the terminals' test codes.
            ++report_.testTerminals;
            return;
        }
        addRail(row, area, line, parseDecimalCode(row.fields[2], 0xFF), {3, 4, 5});
    }

    void importAllSheetsRow(const CsvRow& row)
    {
        if (row.fields.size() != kAllSheetsColumns) {
            unreadable(row, QStringLiteral("%1 columns instead of 15").arg(row.fields.size()));
            return;
        }
        const QByteArray sheet = row.fields[Src].trimmed();
        if (sheet == "suica_rail")
            addRail(row, parseHexCode(row.fields[AreaCode], 0xFF),
                    parseHexCode(row.fields[LineCode], 0xFF),
                    parseHexCode(row.fields[StationCode], 0xFF),
                    {CompanyName, LineName, StationName});
        else if (sheet == "iruca_bus")
            addBusStop(row);
        else if (sheet == "suica_pos")
            addShop(row);
        else
            ++report_.otherSheets;
    }

    void addBusStop(const CsvRow& row)
    {
        const auto first = parseHexCode(row.fields[LineCode], 0xFFFF);
        const auto second = parseHexCode(row.fields[StationCode], 0xFFFF);
        if (!first || !second) {
            unreadable(row, QStringLiteral("bus code is not hex 0000..FFFF"));
            return;
        }
        QStringList names; // company, route, stop
        if (!decodeNames(row, {CompanyName, LineName, StationName}, names))
            return;
        if (names[0].isEmpty() && names[2].isEmpty()) {
            unreadable(row, QStringLiteral("no company and no stop name"));
            return;
        }
        const BusStopKey key{std::uint16_t(*first), std::uint16_t(*second)};
        const bool added = directory_.addBus(key, {names[0], names[2], names[1]});
        countAdded(added, seenBusStops_, key, report_.busAdded);
    }

    void addShop(const CsvRow& row)
    {
        const auto terminalType = parseHexCode(row.fields[TerminalType], 0xFF);
        const auto high = parseHexCode(row.fields[TerminalCodeHigh], 0xFF);
        const auto low = parseHexCode(row.fields[TerminalCodeLow], 0xFF);
        if (!terminalType || !high || !low) {
            unreadable(row, QStringLiteral("terminal code is not hex 00..FF"));
            return;
        }
        QStringList names; // company, store, register, note
        if (!decodeNames(row, {CompanyName, StoreName, CashRegister, Comment}, names))
            return;
        if (names[0].isEmpty() && names[1].isEmpty()) {
            unreadable(row, QStringLiteral("no company and no store name"));
            return;
        }
        const ShopKey key{0, std::uint8_t(*terminalType), std::uint16_t(*high << 8 | *low)};
        const bool added = directory_.addShop(key, {names[0], names[1], names[2], names[3]});
        countAdded(added, seenShops_, key, report_.shopsAdded);
    }

    // Counts the outcome of adding a key: added, a duplicate within this table, or a key that
    // an earlier table already named.
    template <typename Key>
    void countAdded(bool added, std::set<Key>& seen, Key key, int& addedCount)
    {
        const bool firstInTable = seen.insert(key).second;
        if (added)
            ++addedCount;
        else if (firstInTable)
            ++report_.namedEarlier;
        else
            ++report_.duplicates;
    }

    ImportReport& report_;
    NameDirectory& directory_;
    std::set<StationKey> seenStations_;
    std::set<BusStopKey> seenBusStops_;
    std::set<ShopKey> seenShops_;
    bool decimalCodes_ = false;
};

} // namespace

QString ImportReport::summary() const
{
    if (!opened)
        return QStringLiteral("%1: %2").arg(source, openError);
    QString text =
        QStringLiteral(
            "%1: %2 rows; added %3 stations, %4 bus stops, %5 shops; "
            "%6 duplicate rows (the first row of a key is kept); %7 keys already named by "
            "an earlier table; %8 unreadable rows")
            .arg(source)
            .arg(rows)
            .arg(railAdded)
            .arg(busAdded)
            .arg(shopsAdded)
            .arg(duplicates)
            .arg(namedEarlier)
            .arg(unreadable);
    if (otherSheets > 0)
        text += QStringLiteral("; %1 rows of other sheets left out").arg(otherSheets);
    if (testTerminals > 0)
        text += QStringLiteral("; %1 rows at area 0, line 0 left out").arg(testTerminals);
    for (const QString& problem : problems)
        text += QStringLiteral("\n  ") + problem;
    if (unreadable > problems.size())
        text += QStringLiteral("\n  and %1 more unreadable rows").arg(unreadable - problems.size());
    return text;
}

QString lineNameWithoutSuffix(const QString& lineName)
{
    if (lineName.endsWith(u'線'))
        return lineName.chopped(1);
    return lineName;
}

ImportReport importTableContent(const QByteArray& content, const QString& source,
                                NameDirectory& directory)
{
    ImportReport report;
    report.source = source;
    CsvReader reader(content);
    TableImporter(report, directory).importRows(reader);
    return report;
}

ImportReport importTableFile(const QString& path, NameDirectory& directory)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ImportReport report;
        report.source = path;
        report.opened = false;
        report.openError = file.errorString();
        return report;
    }
    // Read in pieces: a table of any size, or one field of any length, takes little memory.
    ImportReport report;
    report.source = path;
    CsvReader reader(file);
    TableImporter(report, directory).importRows(reader);
    if (file.error() != QFileDevice::NoError) {
        report.opened = false;
        report.openError = file.errorString();
    }
    return report;
}

} // namespace ridelog::nameserver
