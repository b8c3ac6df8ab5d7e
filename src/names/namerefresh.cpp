#include "names/namerefresh.h"

#include "names/nameprotocol.h"

#include <QAbstractItemModel>
#include <limits>
#include <map>
#include <set>

namespace ridelog {

namespace {

QString cellText(const QAbstractItemModel& list, int row, int column)
{
    return list.data(list.index(row, column), Qt::DisplayRole).toString();
}

void setCellText(QAbstractItemModel& list, int row, int column, const QString& text)
{
    list.setData(list.index(row, column), text, Qt::DisplayRole);
}

void setName(NameEntry& entry, const QString& an, const QString& ln, const QString& sn,
             const QString& nm)
{
    entry.an = an;
    entry.ln = ln;
    entry.sn = sn;
    entry.nm = nm;
}

void applyRowToCaches(const NameRefreshRow& row, const HistoryRecord& record, NameCaches& caches)
{
    switch (record.kind) {
    case RecordKind::Rail:
        if (!row.entryName.isEmpty())
            setName(caches.stations.EntryFor(record.entryKey), row.an, row.ln, row.sn,
                    row.entryName);
        if (!row.exitName.isEmpty())
            setName(caches.stations.EntryFor(record.exitKey), row.exitAn, row.exitLn, row.exitSn,
                    row.exitName);
        break;
    case RecordKind::Shop:
        if (!row.entryName.isEmpty()) {
            ShopNameEntry& entry = caches.shops.EntryFor(record.shopKey);
            entry.an = row.an;
            entry.ln = row.ln;
            entry.sn = row.sn;
            entry.ap = row.ap;
            entry.nm = row.entryName;
        }
        break;
    case RecordKind::Bus:
        if (!row.entryName.isEmpty())
            setName(caches.busStops.EntryFor(record.busKey), row.an, row.ln, row.sn, row.entryName);
        break;
    case RecordKind::None:
        break;
    }
}

} // namespace

std::uint32_t serialOfRowText(const QString& text)
{
    std::uint64_t value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            break;
        value = value * 10 + std::uint64_t(c.unicode() - u'0');
        if (value > std::numeric_limits<std::uint32_t>::max())
            return 0; // no record has such a serial
    }
    return std::uint32_t(value);
}

std::optional<std::uint32_t> serialOfTableKey(const QString& key)
{
    if (key.isEmpty())
        return std::nullopt;
    for (const QChar c : key) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const std::uint32_t serial = key.toUInt(&ok, 10);
    return ok ? std::optional<std::uint32_t>(serial) : std::nullopt;
}

QString collectNameItems(const QAbstractItemModel& list, const HistoryRecordSet& records)
{
    // One item per key: the rows of a long stored history share a few hundred stations, stops
    // and shops, and the answer for the first row of a key names the others too
    // (applyNamesToRowsOfSameKeys). The first row is the one the list shows highest.
    std::set<StationKey> stations;
    std::set<BusStopKey> busStops;
    std::set<ShopKey> shops;
    QString items;
    const int rows = list.rowCount();
    for (int row = 0; row < rows; ++row) {
        const QString text = cellText(list, row, kSerialColumn);
        if (text.isEmpty())
            break;
        const HistoryRecord* record = findRecordBySerial(records, serialOfRowText(text));
        if (record == nullptr)
            continue;
        switch (record->kind) {
        case RecordKind::Rail:
            if (record->entryName.isEmpty() && !record->entryKey.isNone() &&
                stations.insert(record->entryKey).second)
                items += railEntryItem(record->serial, record->entryKey);
            if (record->exitName.isEmpty() && !record->exitKey.isNone() &&
                stations.insert(record->exitKey).second)
                items += railExitItem(record->serial, record->exitKey);
            break;
        case RecordKind::Shop:
            if (shops.insert(record->shopKey).second)
                items += shopItem(record->serial, record->shopKey);
            break;
        case RecordKind::Bus:
            if (busStops.insert(record->busKey).second)
                items += busItem(record->serial, record->busKey);
            break;
        case RecordKind::None:
            break;
        }
    }
    return items;
}

void applyNamesToList(QAbstractItemModel& list, NameRefreshTable& table)
{
    const int rows = list.rowCount();
    for (int row = 0; row < rows; ++row) {
        // A look-up that adds nothing: a row without an answer leaves no empty row behind,
        // which for a long stored history would be one table row per list row.
        const NameRefreshRow* names = table.find(cellText(list, row, kSerialColumn));
        if (names == nullptr)
            continue;
        if (!names->entryName.isEmpty())
            setCellText(list, row, kEntryNameColumn, names->entryName);
        if (!names->exitName.isEmpty())
            setCellText(list, row, kExitNameColumn, names->exitName);
    }
}

void applyNamesToCachesAndRecords(const NameRefreshTable& table, HistoryRecordSet& records,
                                  NameCaches& caches)
{
    for (const auto& [key, row] : table) {
        const std::optional<std::uint32_t> serial = serialOfTableKey(key);
        if (!serial)
            continue;
        HistoryRecord* record = findRecordBySerial(records, *serial);
        if (record == nullptr)
            continue;
        applyRowToCaches(row, *record, caches);
        if (!row.entryName.isEmpty())
            record->entryName = row.entryName;
        if (!row.exitName.isEmpty())
            record->exitName = row.exitName;
    }
}

void applyNamesToRowsOfSameKeys(QAbstractItemModel& list, const NameRefreshTable& table,
                                HistoryRecordSet& records)
{
    // The names the table holds, by key.
    std::map<StationKey, QString> stations;
    std::map<BusStopKey, QString> busStops;
    std::map<ShopKey, QString> shops;
    for (const auto& [key, row] : table) {
        const std::optional<std::uint32_t> serial = serialOfTableKey(key);
        const HistoryRecord* record = serial ? findRecordBySerial(records, *serial) : nullptr;
        if (record == nullptr)
            continue;
        switch (record->kind) {
        case RecordKind::Rail:
            if (!row.entryName.isEmpty() && !record->entryKey.isNone())
                stations.try_emplace(record->entryKey, row.entryName);
            if (!row.exitName.isEmpty() && !record->exitKey.isNone())
                stations.try_emplace(record->exitKey, row.exitName);
            break;
        case RecordKind::Bus:
            if (!row.entryName.isEmpty())
                busStops.try_emplace(record->busKey, row.entryName);
            break;
        case RecordKind::Shop:
            if (!row.entryName.isEmpty())
                shops.try_emplace(record->shopKey, row.entryName);
            break;
        case RecordKind::None:
            break;
        }
    }
    if (stations.empty() && busStops.empty() && shops.empty())
        return;
    const auto nameOf = [](const auto& names, const auto& key) -> const QString* {
        const auto it = names.find(key);
        return it == names.end() ? nullptr : &it->second;
    };
    const int rows = list.rowCount();
    for (int row = 0; row < rows; ++row) {
        const QString text = cellText(list, row, kSerialColumn);
        if (text.isEmpty() || table.find(text) != nullptr)
            continue; // the end of the list, or a row the answer names itself
        HistoryRecord* record = findRecordBySerial(records, serialOfRowText(text));
        if (record == nullptr)
            continue;
        const QString* entry = nullptr;
        const QString* exit = nullptr;
        switch (record->kind) {
        case RecordKind::Rail:
            // A rail name is taken only where it was missing, as it would have been asked.
            if (record->entryName.isEmpty() && !record->entryKey.isNone())
                entry = nameOf(stations, record->entryKey);
            if (record->exitName.isEmpty() && !record->exitKey.isNone())
                exit = nameOf(stations, record->exitKey);
            break;
        case RecordKind::Bus:
            entry = nameOf(busStops, record->busKey);
            break;
        case RecordKind::Shop:
            entry = nameOf(shops, record->shopKey);
            break;
        case RecordKind::None:
            break;
        }
        if (entry != nullptr) {
            setCellText(list, row, kEntryNameColumn, *entry);
            record->entryName = *entry;
        }
        if (exit != nullptr) {
            setCellText(list, row, kExitNameColumn, *exit);
            record->exitName = *exit;
        }
    }
}

} // namespace ridelog
