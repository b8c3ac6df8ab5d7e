#include "names/nametexts.h"

namespace ridelog {

namespace {

QString codeText(unsigned a, unsigned b)
{
    return QStringLiteral("(%1, %2)").arg(a).arg(b);
}

QString codeText(unsigned a, unsigned b, unsigned c)
{
    return QStringLiteral("(%1, %2, %3)").arg(a).arg(b).arg(c);
}

} // namespace

QString stationCodeText(const StationKey& key)
{
    return codeText(key.ac, key.lc, key.sc);
}

QString busStopCodeText(const BusStopKey& key)
{
    return codeText(key.ac, key.lc);
}

QString shopCodeText(const ShopKey& key)
{
    return codeText(key.ac, key.lc, key.sc);
}

QString EntryNameText(const HistoryRecord& record)
{
    if (!record.entryName.isEmpty())
        return record.entryName;
    return record.entryKey.isNone() ? QString() : stationCodeText(record.entryKey);
}

QString ExitNameText(const HistoryRecord& record)
{
    if (!record.exitName.isEmpty())
        return record.exitName;
    return record.exitKey.isNone() ? QString() : stationCodeText(record.exitKey);
}

QString BusStopNameText(const HistoryRecord& record)
{
    if (!record.entryName.isEmpty())
        return record.entryName;
    return record.busKey.isNone() ? QString() : busStopCodeText(record.busKey);
}

QString ShopNameText(const HistoryRecord& record)
{
    if (!record.entryName.isEmpty())
        return record.entryName;
    return shopCodeText(record.shopKey);
}

QString entryColumnText(const HistoryRecord& record)
{
    switch (recordKindOf(record.processType)) {
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
    switch (recordKindOf(record.processType)) {
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

} // namespace ridelog
