#include "ui/listcommands.h"

#include "card/gatelog.h"
#include "card/history.h"
#include "ui/bpndetaildlg.h"
#include "ui/ipndetaildlg.h"

#include <QAbstractItemModel>
#include <QItemSelectionModel>
#include <algorithm>
#include <functional>

namespace ridelog {

void showRecordDetail(QWidget* parent, const HistoryRecord* record, StationNameCache& stations,
                      BusStopNameCache& busStops, ShopNameCache& shops, const GateTimes* times)
{
    if (!record)
        return;
    switch (record->kind) {
    case RecordKind::Rail:
    case RecordKind::Bus: {
        CIpnDetailDlg dialog(*record, stations, busStops, parent,
                             times ? times->find(record->serial) : nullptr);
        dialog.exec();
        break;
    }
    case RecordKind::Shop: {
        CBpnDetailDlg dialog(*record, shops, parent);
        dialog.exec();
        break;
    }
    case RecordKind::None:
        break;
    }
}

int deleteSelectedRows(QAbstractItemModel& list, const QItemSelectionModel& selection)
{
    std::vector<int> rows;
    for (const QModelIndex& index : selection.selectedIndexes()) {
        if (index.model() == &list && !index.parent().isValid())
            rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    // From the bottom up, so the rows still to go keep their numbers.
    for (const int row : rows)
        list.removeRow(row);
    return int(rows.size());
}

} // namespace ridelog
