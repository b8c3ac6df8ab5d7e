// The history list with what belongs to it: the view and its models (the rows, the sorting and
// the search), the hints painted over it, the widths of its columns (the 用途 and 時刻 columns'
// own ones included), the context menu and the row it was opened on, and the heading clicks that
// sort.
#pragma once

#include "card/gatelog.h"
#include "card/history.h"
#include "store/missedhistory.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QMenu;
class QModelIndex;
class QPoint;
class QSettings;
class QWidget;

namespace ridelog {

class HistoryListModel;
class HistoryListView;
class HistoryViewModel;
class ListHints;
class NameColumnFitter;
class TrfcSettings;
struct HistoryFilter;

class HistoryListPane : public QObject
{
    Q_OBJECT

public:
    // client: the widget the view lies on. noCardRead: whether no card was read yet (the list
    // then invites the user to put one on the reader).
    HistoryListPane(QWidget* client, std::function<bool()> noCardRead, QObject* parent);

    HistoryListView* view() const { return view_; }
    // The rows as shown, sorted and filtered: "row i" of the context menu, hiding, export.
    HistoryViewModel* shownRows() const { return shown_; }
    // Every row in the list's own order, filtered or not.
    HistoryListModel* rows() const { return rows_; }
    ListHints* hints() const { return hints_; }
    QMenu* contextMenu() const { return contextMenu_; }

    // Rows for every record, newest first, with the marker of missed history and the gate
    // times; the view paints once, after the last row. The records must stay in place until
    // the next fill or keep.
    void fill(HistoryRecordSet& records, const std::optional<MissedHistory>& missed,
              const GateTimes& gateTimes);

    // The context menu at a global position, for the selected rows; false without a selection.
    // contextMenuOpening comes first, for the commands to follow the selection.
    bool showContextMenu(const QPoint& globalPos);
    // The serial of the row the context menu or a double-click was last opened on.
    std::optional<std::uint32_t> chosenSerial() const { return chosenSerial_; }
    void forgetChosenRow() { chosenSerial_.reset(); }
    // The detail of the row at index is wanted (a double-click, Alt+Enter): chooses the row
    // and says so with detailWanted.
    void askDetailOf(const QModelIndex& index);
    // The serials of the selected rows that have an entry, in the order shown.
    std::vector<std::uint32_t> selectedSerials() const;

    void setFilter(const HistoryFilter& filter);
    // Widths not stored yet fit the content in the current font.
    void restoreColumnWidths(const TrfcSettings& settings);
    // The name columns without the width they took from a larger window.
    void saveColumnWidths(TrfcSettings& settings) const;
    // The 用途 column's width and visibility, in a settings group of their own ("Claims");
    // restoring returns whether the column is shown.
    bool restorePurposeColumn(const QSettings& settings);
    void savePurposeColumn(QSettings& settings) const;
    void setPurposeColumnShown(bool shown);
    // The same for the 時刻 column ("GateTimes"), which is hidden unless the user shows it.
    bool restoreTimeColumn(const QSettings& settings);
    void saveTimeColumn(QSettings& settings) const;
    void setTimeColumnShown(bool shown);

signals:
    // The selected rows (count of them) are about to get the context menu.
    void contextMenuOpening(int selectedRows);
    // The row of chosenSerial() is to be shown in detail.
    void detailWanted();
    // A double-click on a purpose: it is to be edited.
    void purposeEditWanted();

private:
    void setUpView();
    void sortByHeading(int column);
    void onDoubleClicked(const QModelIndex& index);
    // The stored width of a column of its own, else fallback.
    void restoreOwnColumnWidth(const QSettings& settings, const QString& key, int column,
                               int fallback);
    void saveOwnColumn(QSettings& settings, const QString& widthKey, const QString& shownKey,
                       int column) const;

    HistoryListModel* rows_ = nullptr;
    HistoryViewModel* shown_ = nullptr;
    HistoryListView* view_ = nullptr;
    ListHints* hints_ = nullptr;
    NameColumnFitter* columnFitter_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    std::optional<std::uint32_t> chosenSerial_;
};

} // namespace ridelog
