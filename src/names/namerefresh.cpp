#include "names/namerefresh.h"

#include "names/nameprotocol.h"

#include <QAbstractItemModel>
#include <limits>

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

QString railItems(const HistoryRecord& record)
{
    QString items;
    if (record.entryName.isEmpty() && !record.entryKey.isNone())
        items += railEntryItem(record.serial, record.entryKey);
    if (record.exitName.isEmpty() && !record.exitKey.isNone())
        items += railExitItem(record.serial, record.exitKey);
    return items;
}

QString itemsOf(const HistoryRecord& record)
{
    switch (record.kind) {
    case RecordKind::Rail:
        return railItems(record);
    case RecordKind::Shop:
        return shopItem(record.serial, record.shopKey);
    case RecordKind::Bus:
        return busItem(record.serial, record.busKey);
    case RecordKind::None:
        break;
    }
    return QString();
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
    QString items;
    const int rows = list.rowCount();
    for (int row = 0; row < rows; ++row) {
        const QString text = cellText(list, row, kSerialColumn);
        if (text.isEmpty())
            break;
        if (const HistoryRecord* record = findRecordBySerial(records, serialOfRowText(text)))
            items += itemsOf(*record);
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

} // namespace ridelog
