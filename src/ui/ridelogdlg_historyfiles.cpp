// The main window's part of backups, restore and taking in other histories.
#include "ui/commandids.h"
#include "ui/historyfilecommands.h"
#include "ui/ridelogdlg.h"

#include <QAction>

namespace ridelog {

void CRidelogDlg::onRestoreBackup()
{
    runCardOperation([this] { historyFiles_->restoreFromBackup(); });
}

void CRidelogDlg::onTakeInHistory()
{
    runCardOperation([this] { historyFiles_->takeInOtherHistory(); });
}

void CRidelogDlg::reloadHistory()
{
    const QString shown = session_.idmText();
    forgetCardOnDisplay();
    // The names of the database now in place, not those of the one before.
    session_.caches() = NameCaches();
    openDatabaseAtStart();
    refreshCardMenu();
    if (!shown.isEmpty() && showStoredCard(shown))
        return;
    clearHistoryList();
    showBalance();
    setWindowTitle(titleText());
    commands_.at(ids::SaveToFile)->setEnabled(false);
}

} // namespace ridelog
