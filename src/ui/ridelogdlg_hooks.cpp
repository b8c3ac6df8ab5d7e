// Commands carried out by dialogs and operations of their own files. Each handler is the one
// place where its command is joined to the main window.
#include "ui/ridelogdlg.h"

namespace ridelog {

// ファイルに保存(&S): export the list to a file.
void CRidelogDlg::onSaveToFile() {}

// 表示設定(&D)...: the display settings dialog, then loadDisplaySettings and the three
// re-renderings.
void CRidelogDlg::onShowDataSetup() {}

// 詳細表示(&D)...: the detail dialog of selectedRecord(); nothing when that is null.
void CRidelogDlg::onShowDetail() {}

// 駅名キャッシュ削除(&C)
void CRidelogDlg::onClearStationNames() {}

// 停留所名キャッシュ削除(&B)
void CRidelogDlg::onClearBusStopNames() {}

// 店舗名キャッシュ削除(&T)
void CRidelogDlg::onClearShopNames() {}

// 履歴データ削除(&H)
void CRidelogDlg::onDeleteHistory() {}

// 削除(&L) of the context menu: the selected rows.
void CRidelogDlg::onDeleteRows() {}

} // namespace ridelog
