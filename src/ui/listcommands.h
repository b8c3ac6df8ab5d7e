// Commands of the history list's context menu: the detail dialog and row deletion.
#pragma once

class QAbstractItemModel;
class QItemSelectionModel;
class QWidget;

namespace ridelog {

struct HistoryRecord;
class StationNameCache;
class BusStopNameCache;
class ShopNameCache;
class GateTimes;

// Opens the detail dialog that fits the record's kind and waits until it is closed.
// No record, or a record of no known kind, opens nothing. times gives a journey its gate times.
void showRecordDetail(QWidget* parent, const HistoryRecord* record, StationNameCache& stations,
                      BusStopNameCache& busStops, ShopNameCache& shops,
                      const GateTimes* times = nullptr);

// Removes the selected rows of the list, and only those; returns how many went.
int deleteSelectedRows(QAbstractItemModel& list, const QItemSelectionModel& selection);

} // namespace ridelog
