// What the rows of the history list show, and how their shown names follow the display flags.
#pragma once

#include "card/gatelog.h"
#include "card/history.h"
#include "namedata/namecache.h"
#include "store/displayflags.h"
#include "store/missedhistory.h"

#include <QString>
#include <QStringList>
#include <optional>

class QAbstractItemModel;

namespace ridelog {

class HistoryListModel;

// Columns of the history list, in order.
enum HistoryColumn : int
{
    SerialColumn = 0,
    DateColumn = 1,
    TerminalColumn = 2,
    ProcessColumn = 3,
    EntryColumn = 4,
    ExitColumn = 5,
    AmountColumn = 6,
    HistoryColumnCount = 7, // the columns of the list's own export formats
    PurposeColumn = 7,      // the user's purpose, with the claim mark as its check box
    TimeColumn = 8,         // the times at the gates, where the gate log has them
    ListColumnCount = 9,
};

// The headings "#", "日付", ... "料金".
QStringList historyColumnHeadings();
// The tooltip of a heading of columns 0 to 6: what the column holds, in full.
QString historyColumnToolTip(int column);
// The heading of the purpose column, "用途".
QString purposeColumnHeading();
// The heading of the time column, "時刻".
QString timeColumnHeading();

// The amount with "%d"; an amount of 0 shows the balance in brackets instead: (1520).
QString amountText(const HistoryRecord& record);

// The seven texts of the row of one record. The record's amount must be derived already.
QStringList historyRowTexts(const HistoryRecord& record);
// One of them.
QString historyCellText(const HistoryRecord& record, int column);

// Derives every amount and shows one row per record, newest first, replacing the rows there
// were; the marker of missed history goes below the oldest fresh entry.
void fillHistoryList(HistoryListModel& model, HistoryRecordSet& records,
                     const std::optional<MissedHistory>& missed = {}, GateTimes gateTimes = {});

// The serial in column 0 of a row: its leading decimal digits, 0 when there are none. The
// marker row of missed history gives kNoSerial, which no record has.
constexpr std::uint32_t kNoSerial = 0xFFFFFFFFu;
std::uint32_t serialOfRow(const QAbstractItemModel& model, int row);

// Recompose the shown name of every entry of one cache with the current flags, then rewrite
// the name columns of the rows of that kind. A row whose serial has no record is left alone.
// On a HistoryListModel the rows are rewritten with one notification in all.
void refreshRailNames(QAbstractItemModel& model, const HistoryRecordSet& records,
                      StationNameCache& stations, const DisplayFlags& flags);
void refreshBusNames(QAbstractItemModel& model, const HistoryRecordSet& records,
                     BusStopNameCache& busStops, const DisplayFlags& flags);
void refreshShopNames(QAbstractItemModel& model, const HistoryRecordSet& records,
                      ShopNameCache& shops, const DisplayFlags& flags);

} // namespace ridelog
