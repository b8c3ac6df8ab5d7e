#include "ui/historylist.h"

#include "names/composition.h"
#include "names/nametexts.h"
#include "ui/historymodel.h"

#include <QCoreApplication>
#include <type_traits>

namespace ridelog {

namespace {

RecordKind kindOf(const HistoryRecord& record)
{
    return recordKindOf(record.processType);
}

void setCell(QAbstractItemModel& model, int row, int column, const QString& text)
{
    if (auto* lean = qobject_cast<HistoryListModel*>(&model))
        lean->setNameText(row, column, text);
    else
        model.setData(model.index(row, column), text, Qt::DisplayRole);
}

// Calls rewrite(row, record) for each row whose record exists and is of the given kind.
template <typename Rewrite>
void forEachRowOfKind(QAbstractItemModel& model, const HistoryRecordSet& records, RecordKind kind,
                      Rewrite rewrite)
{
    const int rows = model.rowCount();
    auto* lean = qobject_cast<HistoryListModel*>(&model);
    if (lean == nullptr) {
        for (int row = 0; row < rows; ++row) {
            const HistoryRecord* record = findRecordBySerial(records, serialOfRow(model, row));
            if (record != nullptr && kindOf(*record) == kind)
                rewrite(row, *record);
        }
        return;
    }
    // The rows know their records: no text to parse, and one notification for the lot.
    HistoryListModel::NameBatch batch(*lean);
    for (int row = 0; row < rows; ++row) {
        const HistoryRecord* shown = lean->recordAt(row);
        if (shown == nullptr)
            continue;
        const HistoryRecord* record = findRecordBySerial(records, shown->serial);
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
    return {QStringLiteral("#"),
            QCoreApplication::translate("HistoryList", "日付"),
            QCoreApplication::translate("HistoryList", "端末"),
            QCoreApplication::translate("HistoryList", "処理"),
            QCoreApplication::translate("HistoryList", "入場駅"),
            QCoreApplication::translate("HistoryList", "出場駅"),
            QCoreApplication::translate("HistoryList", "料金")};
}

QString historyColumnToolTip(int column)
{
    switch (column) {
    case 0:
        return QCoreApplication::translate("HistoryList", "カードの履歴の通し番号");
    case 4:
        return QCoreApplication::translate("HistoryList", "入場駅（バスは停留所、物販は店舗）");
    case 5:
        return QCoreApplication::translate("HistoryList", "出場駅（物販は時刻）");
    default:
        return historyColumnHeadings().value(column);
    }
}

QString purposeColumnHeading()
{
    return QCoreApplication::translate("HistoryList", "用途");
}

QString timeColumnHeading()
{
    return QCoreApplication::translate("HistoryList", "時刻");
}

QString amountText(const HistoryRecord& record)
{
    if (record.amount == 0)
        return QStringLiteral("(%1)").arg(record.balance);
    return QString::number(record.amount);
}

QStringList historyRowTexts(const HistoryRecord& record)
{
    QStringList texts;
    texts.reserve(HistoryColumnCount);
    for (int column = 0; column < HistoryColumnCount; ++column)
        texts.append(historyCellText(record, column));
    return texts;
}

QString historyCellText(const HistoryRecord& record, int column)
{
    switch (column) {
    case SerialColumn:
        return QString::number(record.serial);
    case DateColumn:
        return listDateText(record.raw);
    case TerminalColumn:
        return terminalTypeName(record.terminalType);
    case ProcessColumn:
        return processTypeName(record.processType);
    case EntryColumn:
        return entryColumnText(record);
    case ExitColumn:
        return exitColumnText(record);
    case AmountColumn:
        return amountText(record);
    default:
        return QString();
    }
}

void fillHistoryList(HistoryListModel& model, HistoryRecordSet& records,
                     const std::optional<MissedHistory>& missed, GateTimes gateTimes)
{
    model.fill(records, missed, std::move(gateTimes));
}

std::uint32_t serialOfRow(const QAbstractItemModel& model, int row)
{
    if (model.data(model.index(row, SerialColumn), MissedHistoryMarkerRole).toBool())
        return kNoSerial;
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
