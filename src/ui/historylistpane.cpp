#include "ui/historylistpane.h"

#include "ui/columnfit.h"
#include "ui/commandids.h"
#include "ui/controlid.h"
#include "ui/cuttexttooltip.h"
#include "ui/historylist.h"
#include "ui/historylistview.h"
#include "ui/historymodel.h"
#include "ui/listhints.h"
#include "ui/windowstate.h"

#include <QHeaderView>
#include <QMenu>
#include <QSettings>
#include <algorithm>

namespace ridelog {

namespace {

const QString kPurposeWidthKey = QStringLiteral("Claims/purposeColumnWidth");
const QString kPurposeShownKey = QStringLiteral("Claims/purposeColumnShown");
const QString kTimeWidthKey = QStringLiteral("GateTimes/timeColumnWidth");
const QString kTimeShownKey = QStringLiteral("GateTimes/timeColumnShown");
constexpr int kMinColumnWidth = 30;
constexpr int kMaxColumnWidth = 2000;

// Whether a column of its own is shown: the stored 0 or 1, else its default.
bool storedShown(const QSettings& settings, const QString& key, bool byDefault)
{
    bool ok = false;
    const int value = settings.value(key, byDefault ? 1 : 0).toInt(&ok);
    return ok ? value != 0 : byDefault;
}

} // namespace

HistoryListPane::HistoryListPane(QWidget* client, std::function<bool()> noCardRead, QObject* parent)
    : QObject(parent)
{
    rows_ = new HistoryListModel(this);
    shown_ = new HistoryViewModel(rows_, this);
    view_ = new HistoryListView(client);
    setUpView();
    hints_ = new ListHints(view_, std::move(noCardRead));
    view_->setItemDelegate(new CutTextToolTipDelegate(view_));
    columnFitter_ = new NameColumnFitter(view_);
    contextMenu_ = new QMenu(client->window());
    contextMenu_->setObjectName(QStringLiteral("menu131"));
    contextMenu_->setToolTipsVisible(true);
}

void HistoryListPane::setUpView()
{
    setControlId(view_, ids::HistoryList);
    view_->setModel(shown_);
    view_->setSortingEnabled(false);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView* header = view_->header();
    header->setStretchLastSection(false);
    // A click on a heading sorts by that column; "#" brings back the list's own order.
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(SerialColumn, Qt::DescendingOrder);
    connect(header, &QHeaderView::sectionClicked, this, &HistoryListPane::sortByHeading);
    header->setSectionsMovable(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    // The selection stays as visible when the list does not have the focus.
    QPalette palette = view_->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    view_->setPalette(palette);
    connect(view_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { showContextMenu(view_->viewport()->mapToGlobal(pos)); });
    connect(view_, &QAbstractItemView::doubleClicked, this, &HistoryListPane::onDoubleClicked);
}

void HistoryListPane::fill(HistoryRecordSet& records, const std::optional<MissedHistory>& missed,
                           const GateTimes& gateTimes)
{
    view_->setUpdatesEnabled(false);
    fillHistoryList(*rows_, records, missed, gateTimes);
    view_->setUpdatesEnabled(true);
}

bool HistoryListPane::showContextMenu(const QPoint& globalPos)
{
    const QModelIndexList selected = view_->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return false;
    emit contextMenuOpening(int(selected.size()));
    if (selected.size() == 1)
        chosenSerial_ = serialOfRow(*shown_, selected.first().row());
    contextMenu_->popup(globalPos);
    return true;
}

// A double-click on the purpose edits it; on any other cell it opens the details.
void HistoryListPane::onDoubleClicked(const QModelIndex& index)
{
    if (index.column() == PurposeColumn)
        emit purposeEditWanted();
    else
        askDetailOf(index);
}

// As 詳細表示(&D)... does for the row under the context menu. Enter and Escape keep closing
// the window.
void HistoryListPane::askDetailOf(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    chosenSerial_ = serialOfRow(*index.model(), index.row());
    emit detailWanted();
}

std::vector<std::uint32_t> HistoryListPane::selectedSerials() const
{
    QList<int> selectedRows;
    for (const QModelIndex& index : view_->selectionModel()->selectedRows())
        selectedRows.append(index.row());
    std::sort(selectedRows.begin(), selectedRows.end());
    std::vector<std::uint32_t> serials;
    for (const int row : selectedRows) {
        const std::uint32_t serial = serialOfRow(*shown_, row);
        if (serial != kNoSerial)
            serials.push_back(serial);
    }
    return serials;
}

void HistoryListPane::setFilter(const HistoryFilter& filter)
{
    shown_->setFilter(filter);
}

void HistoryListPane::sortByHeading(int column)
{
    QHeaderView* header = view_->header();
    if (column == SerialColumn) {
        shown_->sortBySerial();
        header->setSortIndicator(SerialColumn, Qt::DescendingOrder);
        return;
    }
    const Qt::SortOrder order =
        shown_->sortColumn() == column && shown_->sortOrder() == Qt::AscendingOrder
            ? Qt::DescendingOrder
            : Qt::AscendingOrder;
    shown_->sort(column, order);
    header->setSortIndicator(column, order);
}

void HistoryListPane::restoreColumnWidths(const TrfcSettings& settings)
{
    const int clientWidth = view_->width() - 2 * view_->frameWidth();
    columnFitter_->setWidths(readColumnWidths(settings, clientWidth, contentColumnWidths(*view_)));
}

void HistoryListPane::saveColumnWidths(TrfcSettings& settings) const
{
    writeColumnWidths(settings, columnFitter_->storedWidths());
}

void HistoryListPane::restoreOwnColumnWidth(const QSettings& settings, const QString& key,
                                            int column, int fallback)
{
    bool ok = false;
    int width = settings.value(key).toInt(&ok);
    if (!ok || width < kMinColumnWidth || width > kMaxColumnWidth)
        width = fallback;
    view_->header()->resizeSection(column, width);
}

void HistoryListPane::saveOwnColumn(QSettings& settings, const QString& widthKey,
                                    const QString& shownKey, int column) const
{
    const bool shown = !view_->isColumnHidden(column);
    // A hidden column has no width of its own: the one stored stays.
    if (shown)
        settings.setValue(widthKey, view_->header()->sectionSize(column));
    settings.setValue(shownKey, shown ? 1 : 0);
}

bool HistoryListPane::restorePurposeColumn(const QSettings& settings)
{
    restoreOwnColumnWidth(settings, kPurposeWidthKey, PurposeColumn,
                          view_->fontMetrics().horizontalAdvance(QString(8, QChar(0x7528))) + 24);
    const bool shown = storedShown(settings, kPurposeShownKey, true);
    setPurposeColumnShown(shown);
    return shown;
}

void HistoryListPane::savePurposeColumn(QSettings& settings) const
{
    saveOwnColumn(settings, kPurposeWidthKey, kPurposeShownKey, PurposeColumn);
}

bool HistoryListPane::restoreTimeColumn(const QSettings& settings)
{
    const QFontMetrics metrics = view_->fontMetrics();
    const int fallback =
        std::max(metrics.horizontalAdvance(QStringLiteral("00:00") + QChar(0x2013) +
                                           QStringLiteral("00:00")),
                 view_->header()->sectionSizeHint(TimeColumn)) +
        2 * metrics.averageCharWidth();
    restoreOwnColumnWidth(settings, kTimeWidthKey, TimeColumn, fallback);
    const bool shown = storedShown(settings, kTimeShownKey, false);
    setTimeColumnShown(shown);
    return shown;
}

void HistoryListPane::saveTimeColumn(QSettings& settings) const
{
    saveOwnColumn(settings, kTimeWidthKey, kTimeShownKey, TimeColumn);
}

void HistoryListPane::setTimeColumnShown(bool shown)
{
    view_->setColumnHidden(TimeColumn, !shown);
    columnFitter_->fit();
}

void HistoryListPane::setPurposeColumnShown(bool shown)
{
    view_->setColumnHidden(PurposeColumn, !shown);
    columnFitter_->fit();
}

} // namespace ridelog
