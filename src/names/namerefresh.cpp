#include "names/namerefresh.h"

#include "names/nameprotocol.h"
#include "store/missedhistory.h"

#include <QAbstractItemModel>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>

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

namespace {

template <typename Records>
auto recordOfRowIn(const QAbstractItemModel& rows, int row, Records& records)
    -> decltype(findRecordBySerial(records, 0))
{
    // The window's list hands out the record of a row (null on the marker row) without a text
    // to format and parse.
    const QModelIndex serialCell = rows.index(row, kSerialColumn);
    if (const QVariant shown = rows.data(serialCell, HistoryRecordRole); shown.isValid()) {
        const auto* record = reinterpret_cast<const HistoryRecord*>(shown.value<quintptr>());
        return record == nullptr ? nullptr : findRecordBySerial(records, record->serial);
    }
    const QString text = rows.data(serialCell, Qt::DisplayRole).toString();
    if (text.isEmpty() || text.front() < u'0' || text.front() > u'9')
        return nullptr;
    return findRecordBySerial(records, serialOfRowText(text));
}

} // namespace

HistoryRecord* recordOfRow(const QAbstractItemModel& rows, int row, HistoryRecordSet& records)
{
    return recordOfRowIn(rows, row, records);
}

const HistoryRecord* recordOfRow(const QAbstractItemModel& rows, int row,
                                 const HistoryRecordSet& records)
{
    return recordOfRowIn(rows, row, records);
}

QString collectNameItems(const QAbstractItemModel& rows, const HistoryRecordSet& records)
{
    // One item per key: the rows of a long stored history share a few hundred stations, stops
    // and shops, and the answer for the first row of a key names the others too
    // (applyNameAnswer). The first row is the one the list shows highest.
    std::set<StationKey> stations;
    std::set<BusStopKey> busStops;
    std::set<ShopKey> shops;
    QString items;
    const int count = rows.rowCount();
    for (int row = 0; row < count; ++row) {
        if (cellText(rows, row, kSerialColumn).isEmpty())
            break;
        const HistoryRecord* record = recordOfRow(rows, row, records);
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

namespace {

// The bus-stop and shop names an answer brings, by key: every row of such a key takes them,
// also where its record has a name (it was composed under the flags of an earlier read).
struct AnsweredNames
{
    std::map<BusStopKey, QString> busStops;
    std::map<ShopKey, QString> shops;
};

AnsweredNames cacheAnswer(const NameRefreshTable& answer, HistoryRecordSet& records,
                          NameCaches& caches)
{
    AnsweredNames answered;
    for (const auto& [key, row] : answer) {
        const std::optional<std::uint32_t> serial = serialOfTableKey(key);
        const HistoryRecord* record = serial ? findRecordBySerial(records, *serial) : nullptr;
        if (record == nullptr)
            continue;
        applyRowToCaches(row, *record, caches);
        if (row.entryName.isEmpty())
            continue;
        if (record->kind == RecordKind::Bus)
            answered.busStops.insert_or_assign(record->busKey, row.entryName);
        else if (record->kind == RecordKind::Shop)
            answered.shops.insert_or_assign(record->shopKey, row.entryName);
    }
    return answered;
}

// The shown names of the stations in the caches, looked up once per key during one walk over
// the rows: a long history repeats a few hundred stations over 100,000 rows.
class StationNames
{
public:
    explicit StationNames(const StationNameCache& stations)
        : stations_(stations)
    {}

    // Null while nobody has named the key.
    const QString* nameOf(const StationKey& key)
    {
        const auto [it, added] = seen_.try_emplace(key.packed(), nullptr);
        if (added) {
            const NameEntry* entry = stations_.find(key);
            if (entry != nullptr && !entry->nm.isEmpty())
                it->second = &entry->nm;
        }
        return it->second;
    }

private:
    const StationNameCache& stations_;
    std::unordered_map<std::uint32_t, const QString*> seen_;
};

// Names one rail column of a row whose record lacks the name, when the caches know it now.
void nameStationCell(QAbstractItemModel& rows, int row, int column, const StationKey& key,
                     QString& recordName, StationNames& stations)
{
    if (!recordName.isEmpty() || key.isNone())
        return;
    const QString* name = stations.nameOf(key);
    if (name == nullptr)
        return;
    recordName = *name;
    setCellText(rows, row, column, *name);
}

// Gives a bus-stop or shop row the answer's name for its key, or the caches' where the record
// has none.
template <typename Key, typename Cache>
void nameStopOrShopCell(QAbstractItemModel& rows, int row, const Key& key,
                        const std::map<Key, QString>& answered, QString& recordName,
                        const Cache& cache)
{
    const auto it = answered.find(key);
    const QString* name = nullptr;
    if (it != answered.end()) {
        name = &it->second;
    } else if (recordName.isEmpty()) {
        const auto* entry = cache.find(key);
        if (entry != nullptr && !entry->nm.isEmpty())
            name = &entry->nm;
    }
    if (name == nullptr)
        return;
    if (recordName != *name) {
        recordName = *name;
        setCellText(rows, row, kEntryNameColumn, *name);
    } else if (cellText(rows, row, kEntryNameColumn) != *name) {
        setCellText(rows, row, kEntryNameColumn, *name);
    }
}

} // namespace

void applyNameAnswer(QAbstractItemModel& rows, HistoryRecordSet& records,
                     const NameRefreshTable& answer, NameCaches& caches)
{
    const AnsweredNames answered = cacheAnswer(answer, records, caches);
    StationNames stations(caches.stations);
    const int count = rows.rowCount();
    for (int row = 0; row < count; ++row) {
        HistoryRecord* record = recordOfRow(rows, row, records);
        if (record == nullptr)
            continue;
        switch (record->kind) {
        case RecordKind::Rail:
            nameStationCell(rows, row, kEntryNameColumn, record->entryKey, record->entryName,
                            stations);
            nameStationCell(rows, row, kExitNameColumn, record->exitKey, record->exitName,
                            stations);
            break;
        case RecordKind::Bus:
            nameStopOrShopCell(rows, row, record->busKey, answered.busStops, record->entryName,
                               caches.busStops);
            break;
        case RecordKind::Shop:
            nameStopOrShopCell(rows, row, record->shopKey, answered.shops, record->entryName,
                               caches.shops);
            break;
        case RecordKind::None:
            break;
        }
    }
}

} // namespace ridelog
