#include "ui/historylist.h"

#include "names/composition.h"
#include "names/nametexts.h"

#include <QList>
#include <QStandardItem>
#include <QStandardItemModel>
#include <type_traits>

namespace ridelog {

namespace {

constexpr Qt::Alignment kAmountAlignment = Qt::AlignRight | Qt::AlignVCenter;

RecordKind kindOf(const HistoryRecord& record)
{
    return recordKindOf(record.processType);
}

QString entryColumnText(const HistoryRecord& record)
{
    switch (kindOf(record)) {
    case RecordKind::Rail:
        return EntryNameText(record);
    case RecordKind::Bus:
        return BusStopNameText(record);
    case RecordKind::Shop:
        return ShopNameText(record);
    case RecordKind::None:
        break;
    }
    return QString();
}

QString exitColumnText(const HistoryRecord& record)
{
    switch (kindOf(record)) {
    case RecordKind::Rail:
        return ExitNameText(record);
    case RecordKind::Shop:
        return timeOfDayText(record.raw);
    case RecordKind::Bus:
    case RecordKind::None:
        break;
    }
    return QString();
}

QList<QStandardItem*> rowItems(const HistoryRecord& record)
{
    const QStringList texts = historyRowTexts(record);
    QList<QStandardItem*> items;
    items.reserve(HistoryColumnCount);
    for (const QString& text : texts) {
        auto* item = new QStandardItem(text);
        item->setEditable(false);
        items.append(item);
    }
    items[AmountColumn]->setTextAlignment(kAmountAlignment);
    return items;
}

void setCell(QAbstractItemModel& model, int row, int column, const QString& text)
{
    model.setData(model.index(row, column), text, Qt::DisplayRole);
}

// Calls rewrite(row, record) for each row whose record exists and is of the given kind.
template <typename Rewrite>
void forEachRowOfKind(QAbstractItemModel& model, const HistoryRecordSet& records, RecordKind kind,
                      Rewrite rewrite)
{
    const int rows = model.rowCount();
    for (int row = 0; row < rows; ++row) {
        const HistoryRecord* record = findRecordBySerial(records, serialOfRow(model, row));
        if (record != nullptr && kindOf(*record) == kind)
            rewrite(row, *record);
    }
}

QString codeText(const StationKey& key)
{
    return key.isNone() ? QString() : stationCodeText(key);
}
QString codeText(const BusStopKey& key)
{
    return key.isNone() ? QString() : busStopCodeText(key);
}
QString codeText(const ShopKey& key)
{
    return shopCodeText(key);
}

// The key's name, or its code while nobody has named it. The none key is never looked up.
template <typename Cache> QString shownName(Cache& cache, const typename Cache::KeyType& key)
{
    if constexpr (!std::is_same_v<typename Cache::KeyType, ShopKey>) {
        if (key.isNone())
            return QString();
    }
    const QString& name = cache.EntryFor(key).nm;
    return name.isEmpty() ? codeText(key) : name;
}

} // namespace

QStringList historyColumnHeadings()
{
    return {QStringLiteral("#"),    QStringLiteral("日付"),   QStringLiteral("端末"),
            QStringLiteral("処理"), QStringLiteral("入場駅"), QStringLiteral("出場駅"),
            QStringLiteral("料金")};
}

QString amountText(const HistoryRecord& record)
{
    if (record.amount == 0)
        return QStringLiteral("(%1)").arg(record.balance);
    return QString::number(record.amount);
}

QStringList historyRowTexts(const HistoryRecord& record)
{
    return {QString::number(record.serial),
            listDateText(record.raw),
            terminalTypeName(record.terminalType),
            processTypeName(record.processType),
            entryColumnText(record),
            exitColumnText(record),
            amountText(record)};
}

void prepareHistoryModel(QStandardItemModel& model)
{
    model.clear();
    model.setColumnCount(HistoryColumnCount);
    model.setHorizontalHeaderLabels(historyColumnHeadings());
    model.setHeaderData(AmountColumn, Qt::Horizontal, QVariant::fromValue(kAmountAlignment),
                        Qt::TextAlignmentRole);
}

void fillHistoryList(QStandardItemModel& model, HistoryRecordSet& records)
{
    deriveAmounts(records);
    // Rows are made newest first and each inserted whole: one notification per row, none per
    // cell, and the view lays out once afterwards.
    QList<QList<QStandardItem*>> rows;
    rows.reserve(qsizetype(records.size()));
    for (auto it = records.end(); it != records.begin();) {
        --it;
        rows.append(rowItems(*it));
    }
    if (rows.isEmpty())
        return;
    for (int row = 0; row < rows.size(); ++row)
        model.insertRow(row, rows[row]);
}

std::uint32_t serialOfRow(const QAbstractItemModel& model, int row)
{
    const QString text = model.data(model.index(row, SerialColumn), Qt::DisplayRole).toString();
    std::uint32_t serial = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            break;
        serial = serial * 10 + std::uint32_t(c.unicode() - u'0');
    }
    return serial;
}

void refreshRailNames(QAbstractItemModel& model, const HistoryRecordSet& records,
                      StationNameCache& stations, const DisplayFlags& flags)
{
    for (auto& [key, entry] : stations) {
        if (hasNameParts(entry))
            entry.nm = composeRailName(entry.an, entry.ln, entry.sn, flags);
    }
    forEachRowOfKind(model, records, RecordKind::Rail, [&](int row, const HistoryRecord& record) {
        setCell(model, row, EntryColumn, shownName(stations, record.entryKey));
        setCell(model, row, ExitColumn, shownName(stations, record.exitKey));
    });
}

void refreshBusNames(QAbstractItemModel& model, const HistoryRecordSet& records,
                     BusStopNameCache& busStops, const DisplayFlags& flags)
{
    for (auto& [key, entry] : busStops) {
        if (hasNameParts(entry))
            entry.nm = composeBusName(entry.an, entry.ln, entry.sn, flags, BusColon::FullWidth);
    }
    forEachRowOfKind(model, records, RecordKind::Bus, [&](int row, const HistoryRecord& record) {
        setCell(model, row, EntryColumn, shownName(busStops, record.busKey));
    });
}

void refreshShopNames(QAbstractItemModel& model, const HistoryRecordSet& records,
                      ShopNameCache& shops, const DisplayFlags& flags)
{
    for (auto& [key, entry] : shops) {
        if (hasNameParts(entry))
            entry.nm = composeShopName(entry.an, entry.ln, entry.sn, flags);
    }
    forEachRowOfKind(model, records, RecordKind::Shop, [&](int row, const HistoryRecord& record) {
        setCell(model, row, EntryColumn, shownName(shops, record.shopKey));
    });
}

} // namespace ridelog
