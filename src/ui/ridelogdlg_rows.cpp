// Commands on the rows of the list besides the specified ones: copying the selected rows and
// opening the detail dialog with a double-click.
#include "ui/commandids.h"
#include "ui/historylist.h"
#include "ui/ridelogdlg.h"
#include "ui/rowcopy.h"

#include <QAction>
#include <QMenu>
#include <QTreeView>

namespace ridelog {

void CRidelogDlg::addRowCommands()
{
    QAction* copy =
        addCommand(contextMenu_, ids::CopyRows, tr("コピー(&C)"), &CRidelogDlg::onCopyRows);
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    // The shortcut works anywhere in the window, not only while the context menu is open.
    copy->setShortcutContext(Qt::WindowShortcut);
    addAction(copy);
}

// コピー(&C): the selected rows as the blank-separated export writes them.
void CRidelogDlg::onCopyRows()
{
    copySelectedRows(*list_);
}

// A double-click opens the detail dialog of that row, as 詳細表示(&D)... does for the row under
// the context menu. Enter and Escape keep closing the window.
void CRidelogDlg::showDetailOfRow(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    selectedSerial_ = serialOfRow(*index.model(), index.row());
    onShowDetail();
}

} // namespace ridelog
