// The texts under which the names of a history record are shown in the list. The four
// PascalCase functions keep the program's long-standing names.
#pragma once

#include "card/history.h"

#include <QString>

namespace ridelog {

// The record's entry name; without one "(ac, lc, sc)" of entryKey, or the empty text when
// entryKey is (0, 0, 0).
QString EntryNameText(const HistoryRecord& record);

// The record's exit name; without one "(ac, lc, sc)" of exitKey, or the empty text when
// exitKey is (0, 0, 0).
QString ExitNameText(const HistoryRecord& record);

// The bus stop's name (held in entryName); without one "(ac, lc)" of busKey, or the empty text
// when busKey is (0, 0). The 16-bit parts are shown unsigned: (32769, 5).
QString BusStopNameText(const HistoryRecord& record);

// The shop's name (held in entryName); without one "(1, lc, sc)" of shopKey.
QString ShopNameText(const HistoryRecord& record);

// The code texts on their own, shared with the request side.
// What the list shows in its entry and exit columns for a record of any kind: the stations of a
// journey, the stop of a bus ride, the shop and the time of a purchase.
QString entryColumnText(const HistoryRecord& record);
QString exitColumnText(const HistoryRecord& record);

QString stationCodeText(const StationKey& key);
QString busStopCodeText(const BusStopKey& key);
QString shopCodeText(const ShopKey& key);

} // namespace ridelog
