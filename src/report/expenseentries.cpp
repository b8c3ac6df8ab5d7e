#include "report/expenseentries.h"

#include "namedata/namecache.h"

#include <algorithm>
#include <unordered_map>

namespace ridelog {

namespace {

template <typename Cache, typename Key> QString cachedName(Cache& cache, const Key& key)
{
    // Only keys the cache holds are looked up: the export leaves no empty entries behind.
    return cache.contains(key) ? cache.EntryFor(key).nm : QString();
}

PlaceFacts stationFacts(const StationKey& key, const QString& name)
{
    if (key.isNone())
        return {};
    return {name, {key.ac, key.lc, key.sc}, 3};
}

PlaceFacts busStopFacts(const BusStopKey& key, const QString& name)
{
    if (key.isNone())
        return {};
    return {name, {key.ac, key.lc, 0}, 2};
}

PlaceFacts shopFacts(const ShopKey& key, const QString& name)
{
    if (key.isNone())
        return {};
    return {name, {key.ac, key.lc, key.sc}, 3};
}

QDate dateOf(const HistoryBlock& raw)
{
    const int year = (raw[4] >> 1) + 2000;
    const int month = (raw[4] & 1) * 8 + (raw[5] >> 5);
    const int day = raw[5] & 0x1F;
    return QDate(year, month, day);
}

void setPlaces(ExpenseEntry& entry, const HistoryRecord& record, NameCaches* caches)
{
    switch (entry.kind) {
    case RecordKind::Rail:
        entry.entry =
            stationFacts(record.entryKey,
                         caches ? cachedName(caches->stations, record.entryKey) : record.entryName);
        entry.exit =
            stationFacts(record.exitKey,
                         caches ? cachedName(caches->stations, record.exitKey) : record.exitName);
        break;
    case RecordKind::Bus:
        entry.entry = busStopFacts(
            record.busKey, caches ? cachedName(caches->busStops, record.busKey) : record.entryName);
        break;
    case RecordKind::Shop: {
        entry.entry = shopFacts(record.shopKey, caches ? cachedName(caches->shops, record.shopKey)
                                                       : record.entryName);
        const int hour = record.raw[6] >> 3;
        const int minute = (record.raw[6] & 0x07) * 8 + (record.raw[7] >> 5);
        if (hour < 24 && minute < 60) {
            entry.hour = hour;
            entry.minute = minute;
        }
        break;
    }
    case RecordKind::None:
        break;
    }
    // A shop shown without shop information is one blank in the list; here it has no name.
    if (entry.entry.name.trimmed().isEmpty())
        entry.entry.name.clear();
}

} // namespace

QString kindKeyword(RecordKind kind)
{
    switch (kind) {
    case RecordKind::Rail:
        return QStringLiteral("rail");
    case RecordKind::Bus:
        return QStringLiteral("bus");
    case RecordKind::Shop:
        return QStringLiteral("shop");
    case RecordKind::None:
        break;
    }
    return QString();
}

QDate recordDate(const HistoryRecord& record)
{
    return dateOf(record.raw);
}

QString isoDateText(const QDate& date)
{
    return date.isValid() ? date.toString(Qt::ISODate) : QString();
}

QString isoTimeText(const ExpenseEntry& entry)
{
    if (entry.hour < 0)
        return QString();
    return QStringLiteral("%1:%2")
        .arg(entry.hour, 2, 10, QLatin1Char('0'))
        .arg(entry.minute, 2, 10, QLatin1Char('0'));
}

std::vector<ExpenseEntry> expenseEntries(const HistoryRecordSet& records,
                                         std::optional<std::uint32_t> gapBeforeSerial,
                                         NameCaches* caches)
{
    std::vector<ExpenseEntry> entries;
    entries.reserve(records.size());
    std::optional<std::int32_t> previousBalance;
    for (const HistoryRecord& record : records) {
        ExpenseEntry entry;
        entry.serial = record.serial;
        entry.date = dateOf(record.raw);
        entry.kind = recordKindOf(record.processType);
        entry.terminalType = record.terminalType;
        entry.processType = record.processType;
        entry.balance = record.balance;
        setPlaces(entry, record, caches);
        if (!previousBalance) {
            entry.amountState = AmountState::FirstEntry;
        } else {
            entry.amount = *previousBalance - record.balance;
            if (gapBeforeSerial && *gapBeforeSerial == record.serial)
                entry.amountState = AmountState::SpansGap;
        }
        previousBalance = record.balance;
        entries.push_back(std::move(entry));
    }
    return entries;
}

void addGateTimes(std::span<ExpenseEntry> entries, const GateTimes& times)
{
    if (times.empty())
        return;
    for (ExpenseEntry& entry : entries) {
        if (const JourneyTimes* journey = times.find(entry.serial)) {
            entry.entryTime = journey->entry;
            entry.exitTime = journey->exit;
        }
    }
}

std::vector<ExpenseEntry> entriesInOrder(std::span<const ExpenseEntry> ascending,
                                         std::span<const std::uint32_t> serials)
{
    std::vector<ExpenseEntry> picked;
    picked.reserve(serials.size());
    for (const std::uint32_t serial : serials) {
        const auto it = std::lower_bound(
            ascending.begin(), ascending.end(), serial,
            [](const ExpenseEntry& entry, std::uint32_t value) { return entry.serial < value; });
        if (it != ascending.end() && it->serial == serial)
            picked.push_back(*it);
    }
    return picked;
}

std::vector<ExpenseEntry> entriesNewestFirst(std::span<const ExpenseEntry> ascending,
                                             const QDate& from, const QDate& to)
{
    const bool bounded = from.isValid() || to.isValid();
    std::vector<ExpenseEntry> picked;
    picked.reserve(ascending.size());
    for (auto it = ascending.rbegin(); it != ascending.rend(); ++it) {
        if (bounded) {
            if (!it->date.isValid() || (from.isValid() && it->date < from) ||
                (to.isValid() && it->date > to))
                continue;
        }
        picked.push_back(*it);
    }
    return picked;
}

void attachNotes(std::span<ExpenseEntry> entries, const CardNotes& notes)
{
    if (notes.empty())
        return;
    for (ExpenseEntry& entry : entries) {
        const auto found = notes.find(entry.serial);
        if (found == notes.end())
            continue;
        entry.purpose = found->second.purpose;
        entry.claimed = found->second.claimed;
    }
}

} // namespace ridelog
