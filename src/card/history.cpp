#include "card/history.h"

#include "namedata/namecache.h"

#include <memory>

namespace ridelog {

namespace {

// Shop process types carry a time of day in bytes 6-7.
bool isShopTimeProcess(std::uint8_t processType)
{
    switch (processType) {
    case 70:
    case 73:
    case 74:
    case 75:
    case 198:
    case 203:
        return true;
    default:
        return false;
    }
}

enum class StationEnd
{
    Entry,
    Exit
};

// Line codes below 0x80 are JR and the Kanto private lines: area 0. For the others, cards write
// the region of each station into the region byte: bits 7-6 for the entry station, bits 5-4 for
// the exit station (0 JR and Kanto, 1 Chubu, 2 Kansai, 3 other regions), bits 3-0 zero. A byte
// whose high nibble is 0 carries no such pair and keeps the plain rule: 0 and 1 as they are,
// anything else 2.
std::uint8_t areaOf(std::uint8_t lineCode, std::uint8_t regionByte, StationEnd end)
{
    if (lineCode <= 0x7F)
        return 0;
    if ((regionByte & 0xF0) != 0)
        return std::uint8_t((regionByte >> (end == StationEnd::Entry ? 6 : 4)) & 0x03);
    if (regionByte <= 1)
        return regionByte;
    return 2;
}

// Writes the decimal digits of value at out and returns the position after them.
char16_t* writeNumber(char16_t* out, unsigned value)
{
    char16_t digits[10];
    int n = 0;
    do {
        digits[n++] = char16_t(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0)
        *out++ = digits[--n];
    return out;
}

unsigned dateYear(const HistoryBlock& b)
{
    return (b[4] >> 1) + 2000u;
}
unsigned dateMonth(const HistoryBlock& b)
{
    return (b[4] & 1u) * 8u + (b[5] >> 5);
}
unsigned dateDay(const HistoryBlock& b)
{
    return b[5] & 0x1Fu;
}

QString formatDate(const HistoryBlock& block, bool trailingBlank)
{
    char16_t buffer[16];
    char16_t* end = writeNumber(buffer, dateYear(block));
    *end++ = u'-';
    end = writeNumber(end, dateMonth(block));
    *end++ = u'-';
    end = writeNumber(end, dateDay(block));
    if (trailingBlank)
        *end++ = u' ';
    return QString(reinterpret_cast<const QChar*>(buffer), end - buffer);
}

// A card's history repeats few dates, and a shared QString is copied without allocation, so
// each thread keeps the texts it has made, indexed by the two date bytes.
QString dateTextOf(const HistoryBlock& block, bool trailingBlank)
{
    thread_local std::unique_ptr<std::array<QString, 2 * 65536>> made;
    if (!made)
        made = std::make_unique<std::array<QString, 2 * 65536>>();
    QString& text =
        (*made)[std::size_t(block[4]) << 9 | std::size_t(block[5]) << 1 | trailingBlank];
    if (text.isNull())
        text = formatDate(block, trailingBlank);
    return text;
}

} // namespace

bool HistoryRecordSet::insert(HistoryRecord record)
{
    const auto serial = record.serial;
    return records_.try_emplace(serial, std::move(record)).second;
}

HistoryRecord* HistoryRecordSet::find(std::uint32_t serial)
{
    auto it = records_.find(serial);
    return it == records_.end() ? nullptr : &it->second;
}

const HistoryRecord* HistoryRecordSet::find(std::uint32_t serial) const
{
    auto it = records_.find(serial);
    return it == records_.end() ? nullptr : &it->second;
}

RecordKind recordKindOf(std::uint8_t processType)
{
    switch (processType) {
    case 13:
    case 15:
    case 31:
    case 35:
        return RecordKind::Bus;
    case 70:
    case 73:
    case 74:
    case 75:
    case 198:
    case 203:
        return RecordKind::Shop;
    default:
        return RecordKind::Rail;
    }
}

QString terminalTypeName(std::uint8_t terminalType)
{
    switch (terminalType) {
    case 3:
        return QStringLiteral("精算機");
    case 4:
        return QStringLiteral("携帯型端末");
    case 5:
        return QStringLiteral("車載端末");
    case 7:
    case 8:
    case 18:
        return QStringLiteral("券売機");
    case 9:
        return QStringLiteral("入金機");
    case 20:
    case 21:
        return QStringLiteral("券売機等");
    case 22:
        return QStringLiteral("改札機");
    case 23:
        return QStringLiteral("簡易改札機");
    case 24:
    case 25:
        return QStringLiteral("窓口端末");
    case 26:
        return QStringLiteral("改札端末");
    case 27:
        return QStringLiteral("携帯電話");
    case 28:
        return QStringLiteral("乗継清算機");
    case 29:
        return QStringLiteral("連絡改札機");
    case 31:
        return QStringLiteral("簡易入金機");
    case 70:
    case 72:
        return QStringLiteral("VIEW ALTTE");
    case 199:
        return QStringLiteral("物販端末");
    case 200:
        return QStringLiteral("自販機");
    default:
        return QString();
    }
}

QString processTypeName(std::uint8_t processType)
{
    switch (processType) {
    case 1:
        return QStringLiteral("運賃支払");
    case 2:
        return QStringLiteral("チャージ");
    case 3:
        return QStringLiteral("券購入");
    case 4:
        return QStringLiteral("精算");
    case 5:
        return QStringLiteral("入場精算");
    case 6:
        return QStringLiteral("窓口出場");
    case 7:
        return QStringLiteral("新規発行");
    case 8:
        return QStringLiteral("窓口控除");
    case 13:
    case 15:
        return QStringLiteral("バス");
    case 17:
        return QStringLiteral("再発行");
    case 19:
        return QStringLiteral("新幹線支払");
    case 20:
        return QStringLiteral("オートチャージ入場");
    case 21:
        return QStringLiteral("オートチャージ出場");
    case 31:
        return QStringLiteral("チャージバス ");
    case 35:
        return QStringLiteral("券購入バス");
    case 70:
        return QStringLiteral("物販");
    case 72:
        return QStringLiteral("特典チャージ");
    case 73:
        return QStringLiteral("チャージレジ");
    case 74:
        return QStringLiteral("物販取消");
    case 75:
        return QStringLiteral("入場物販");
    case 132:
        return QStringLiteral("他社精算");
    case 133:
        return QStringLiteral("他社入場精算");
    case 198:
        return QStringLiteral("現金併用物販");
    case 203:
        return QStringLiteral("入場現金併用物販");
    default:
        return QString();
    }
}

std::uint32_t blockSerial(const HistoryBlock& block)
{
    return (std::uint32_t(block[12]) << 16) | (std::uint32_t(block[13]) << 8) | block[14];
}

std::int32_t blockBalance(const HistoryBlock& block)
{
    return std::int32_t(block[10]) + 256 * std::int32_t(block[11]);
}

HistoryRecord decodeHistoryBlock(const HistoryBlock& block, StationNameCache& stations,
                                 BusStopNameCache& busStops, ShopNameCache& shops)
{
    HistoryRecord record;
    record.raw = block;
    record.terminalType = block[0];
    record.processType = block[1];
    record.kind = recordKindOf(record.processType);

    switch (record.kind) {
    case RecordKind::Rail:
        record.entryKey = {areaOf(block[6], block[15], StationEnd::Entry), block[6], block[7]};
        record.exitKey = {areaOf(block[8], block[15], StationEnd::Exit), block[8], block[9]};
        if (!record.entryKey.isNone())
            record.entryName = stations.EntryFor(record.entryKey).nm;
        if (!record.exitKey.isNone())
            record.exitName = stations.EntryFor(record.exitKey).nm;
        break;
    case RecordKind::Bus:
        record.busKey = {std::uint16_t(block[6] << 8 | block[7]),
                         std::uint16_t(block[8] << 8 | block[9])};
        if (!record.busKey.isNone())
            record.entryName = busStops.EntryFor(record.busKey).nm;
        break;
    case RecordKind::Shop:
        record.shopKey = {1, block[0], std::uint16_t(block[8] << 8 | block[9])};
        record.entryName = shops.EntryFor(record.shopKey).nm;
        break;
    case RecordKind::None:
        break;
    }

    record.dateText = dateTextOf(block, true);
    record.balance = blockBalance(block);
    record.amount = 0;
    record.serial = blockSerial(block);
    return record;
}

QString listDateText(const HistoryBlock& block)
{
    return dateTextOf(block, false);
}

QString timeOfDayText(const HistoryBlock& block)
{
    if (!isShopTimeProcess(block[1]))
        return QString();
    const unsigned hour = block[6] >> 3;
    const unsigned minute = (block[6] & 0x07u) * 8u + (block[7] >> 5);
    char16_t buffer[8];
    char16_t* end = writeNumber(buffer, hour);
    *end++ = u':';
    end = writeNumber(end, minute);
    return QString(reinterpret_cast<const QChar*>(buffer), end - buffer);
}

void deriveAmounts(HistoryRecordSet& records)
{
    bool first = true;
    std::int32_t previousBalance = 0;
    for (HistoryRecord& record : records) {
        record.amount = first ? 0 : previousBalance - record.balance;
        previousBalance = record.balance;
        first = false;
    }
}

HistoryRecord* findRecordBySerial(HistoryRecordSet& records, std::uint32_t serial)
{
    return records.find(serial);
}

const HistoryRecord* findRecordBySerial(const HistoryRecordSet& records, std::uint32_t serial)
{
    return records.find(serial);
}

} // namespace ridelog
