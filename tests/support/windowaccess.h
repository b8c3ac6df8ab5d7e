// What the tests look at inside the main window, and nothing of the program uses: the parts
// of the window by the names the tests know them by.
//
//     test::inside(*dlg).historyModel()->rowCount()
//
// The card on display itself is reached as the program reaches it: dlg->session().
#pragma once

#include "names/namerefresher.h"
#include "ui/cardmenu.h"
#include "ui/commandids.h"
#include "ui/historyfilecommands.h"
#include "ui/historylist.h"
#include "ui/historylistpane.h"
#include "ui/historylistview.h"
#include "ui/historymodel.h"
#include "ui/historysearchbar.h"
#include "ui/listhints.h"
#include "ui/mainstatusbar.h"
#include "ui/notecommands.h"
#include "ui/ridelogdlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>

namespace ridelog::test {

struct WindowAccess
{
    CRidelogDlg& w;

    HistoryListView* historyList() const { return w.list_->view(); }
    // The rows as shown (sorted, filtered).
    QAbstractItemModel* historyModel() const { return w.list_->shownRows(); }
    HistoryViewModel* historyView() const { return w.list_->shownRows(); }
    // Every row in the list's own order, filtered or not.
    HistoryListModel* historySource() const { return w.list_->rows(); }
    ListHints* listHints() const { return w.list_->hints(); }
    QMenu* historyContextMenu() const { return w.list_->contextMenu(); }
    bool showHistoryContextMenu(const QPoint& globalPos) const
    {
        return w.list_->showContextMenu(globalPos);
    }
    // The record under the last context menu or double-click; null when none or gone.
    HistoryRecord* selectedRecord() const
    {
        const std::optional<std::uint32_t> serial = w.list_->chosenSerial();
        return serial ? findRecordBySerial(w.session_.records(), *serial) : nullptr;
    }
    // The rows of the session's records, as a read shows them.
    void fillHistoryList() const
    {
        w.notes_->showNotesOf(w.session_.store().databasePath(), w.session_.idmText());
        w.list_->fill(w.session_.records(), w.session_.missedHistory(), w.session_.gateTimes());
    }
    void clearHistoryList() const { w.list_->rows()->clear(); }

    QLineEdit* balanceField() const { return w.balanceField_; }
    QLineEdit* cardIdField() const { return w.cardIdField_; }
    bool isBalanceBarVisible() const { return !w.balanceField_->isHidden(); }
    void setBalanceBarVisible(bool visible) const { w.setBalanceBarVisible(visible); }
    MainStatusBar* statusBar() const { return w.statusBar_; }
    QString statusPaneText(int pane) const { return w.statusBar_->paneText(pane); }
    QString statusPaneToolTip(int pane) const { return w.statusBar_->paneToolTip(pane); }
    QLabel* statusPane(int pane) const { return w.statusBar_->pane(pane); }
    QLabel* cardNamePane() const { return w.statusBar_->cardNamePane(); }
    int statusBarHeight() const { return w.statusBarHeight_; }
    QLabel* historyNotKeptSign() const { return w.statusBar_->historyNotKeptSign(); }
    HistorySearchBar* searchBar() const { return w.searchBar_; }
    QMenu* cardMenu() const { return w.cardMenu_->menu(); }
    void refreshCardMenu() const { w.cardMenu_->refresh(); }
    HistoryFileCommands* historyFileCommands() const { return w.historyFiles_; }
    JourneyNotes* journeyNotes() const { return w.notes_->notes(); }
    bool applyNoteToSelection(const NoteChange& change) const
    {
        return w.notes_->applyToSelection(change);
    }

    NameRefresher& nameRefresher() const { return *w.refresher_; }
    DatabaseCheck* databaseCheck() const { return w.databaseCheck_; }
    TrfcSettings& settings() const { return w.settings_; }
    const DisplayFlags& displayFlags() const { return w.flags_; }
    void loadDisplaySettings() const { w.loadDisplaySettings(); }
    void refreshShopNames() const
    {
        ridelog::refreshShopNames(*w.list_->rows(), w.session_.records(), w.session_.caches().shops,
                                  w.flags_);
    }
};

// The tests hold the window as they like; the parts are the window's either way.
inline WindowAccess inside(const CRidelogDlg& window)
{
    return WindowAccess{const_cast<CRidelogDlg&>(window)};
}

} // namespace ridelog::test
