#include "ui/historymodel.h"

#include "ui/historylist.h"

#include <QBrush>
#include <QPalette>
#include <algorithm>

namespace ridelog {

namespace {

constexpr Qt::Alignment kAmountAlignment = Qt::AlignRight | Qt::AlignVCenter;
constexpr std::uint8_t kEntryWritten = 1;
constexpr std::uint8_t kExitWritten = 2;

bool isNameColumn(int column)
{
    return column == EntryColumn || column == ExitColumn;
}

} // namespace

QDate blockDate(const HistoryBlock& block)
{
    const int year = 2000 + (block[4] >> 1);
    const int month = (block[4] & 1) * 8 + (block[5] >> 5);
    const int day = block[5] & 0x1F;
    return QDate(year, month, day);
}

// ---------------------------------------------------------------------------------------
// HistoryListModel

HistoryListModel::HistoryListModel(QObject* parent)
    : QAbstractTableModel(parent)
{}

void HistoryListModel::fill(HistoryRecordSet& records, const std::optional<MissedHistory>& missed)
{
    beginResetModel();
    rows_.clear();
    names_.clear();
    kept_.clear();
    missed_ = missed;
    rows_.reserve(records.size() + (missed ? 1 : 0));
    // One walk, newest first: each amount is the next older record's balance minus its own,
    // the oldest record's is 0.
    for (auto it = records.end(); it != records.begin();) {
        --it;
        HistoryRecord& record = *it;
        record.amount = it == records.begin() ? 0 : std::prev(it)->balance - record.balance;
        rows_.push_back(Row{&record, 0});
        if (amountSpansMissedHistory(record, missed_))
            rows_.push_back(Row{});
    }
    endResetModel();
}

void HistoryListModel::keepRecords(HistoryRecordSet& records)
{
    // With nothing kept yet, the rows show these records (or none): moving a std::map keeps
    // its nodes where they are, so the rows' pointers stay good. With records kept already,
    // the rows show those, and these are not theirs.
    if (kept_.empty())
        kept_ = std::move(records);
    records.clear();
}

void HistoryListModel::clear()
{
    beginResetModel();
    rows_.clear();
    names_.clear();
    kept_.clear();
    missed_.reset();
    endResetModel();
}

const HistoryRecord* HistoryListModel::recordAt(int row) const
{
    if (row < 0 || row >= int(rows_.size()))
        return nullptr;
    return rows_[std::size_t(row)].record;
}

bool HistoryListModel::isMarkerRow(int row) const
{
    return row >= 0 && row < int(rows_.size()) && rows_[std::size_t(row)].record == nullptr;
}

int HistoryListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int HistoryListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : HistoryColumnCount;
}

QString HistoryListModel::recordText(const Row& row, int column) const
{
    const HistoryRecord& record = *row.record;
    const WrittenNames* names = row.names == 0 ? nullptr : &names_[row.names - 1];
    switch (column) {
    case EntryColumn:
        if (names != nullptr && (names->written & kEntryWritten))
            return names->entryText;
        break;
    case ExitColumn:
        if (names != nullptr && (names->written & kExitWritten))
            return names->exitText;
        break;
    case AmountColumn:
        if (amountSpansMissedHistory(record, missed_))
            return spanningAmountMark() + amountText(record);
        break;
    default:
        break;
    }
    return historyCellText(record, column);
}

QString HistoryListModel::cellText(int row, int column) const
{
    if (row < 0 || row >= int(rows_.size()) || column < 0 || column >= HistoryColumnCount)
        return QString();
    const Row& r = rows_[std::size_t(row)];
    if (r.record == nullptr) {
        if (column == SerialColumn)
            return QStringLiteral("…");
        return column == ProcessColumn ? missedHistoryMarkerText() : QString();
    }
    return recordText(r, column);
}

QVariant HistoryListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows_.size()))
        return QVariant();
    const Row& row = rows_[std::size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return cellText(index.row(), index.column());
    case Qt::TextAlignmentRole:
        if (index.column() == AmountColumn)
            return QVariant::fromValue(kAmountAlignment);
        return QVariant();
    case Qt::ToolTipRole:
        if (row.record == nullptr)
            return missedHistoryMarkerToolTip();
        if (index.column() == AmountColumn && amountSpansMissedHistory(*row.record, missed_))
            return spanningAmountToolTip();
        return QVariant();
    case Qt::ForegroundRole:
        if (row.record == nullptr ||
            (index.column() == AmountColumn && amountSpansMissedHistory(*row.record, missed_)))
            return QBrush(Qt::darkRed);
        return QVariant();
    case MissedHistoryMarkerRole:
        return row.record == nullptr;
    case HistoryRecordRole:
        return QVariant::fromValue(quintptr(row.record));
    default:
        return QVariant();
    }
}

QVariant HistoryListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= HistoryColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return historyColumnHeadings().at(section);
    if (role == Qt::TextAlignmentRole && section == AmountColumn)
        return QVariant::fromValue(kAmountAlignment);
    return QVariant();
}

Qt::ItemFlags HistoryListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void HistoryListModel::setNameText(int row, int column, const QString& text)
{
    if (row < 0 || row >= int(rows_.size()) || !isNameColumn(column))
        return;
    Row& r = rows_[std::size_t(row)];
    if (r.record == nullptr)
        return;
    if (r.names == 0) {
        names_.emplace_back();
        r.names = std::uint32_t(names_.size());
    }
    WrittenNames& names = names_[r.names - 1];
    if (column == EntryColumn) {
        names.entryText = text;
        names.written |= kEntryWritten;
    } else {
        names.exitText = text;
        names.written |= kExitWritten;
    }
    if (batchDepth_ > 0) {
        batchChanged_ = true;
        return;
    }
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

bool HistoryListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || !isNameColumn(index.column()) ||
        (role != Qt::DisplayRole && role != Qt::EditRole) || isMarkerRow(index.row()))
        return false;
    setNameText(index.row(), index.column(), value.toString());
    return true;
}

bool HistoryListModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > int(rows_.size()))
        return false;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    rows_.erase(rows_.begin() + row, rows_.begin() + row + count);
    if (rows_.empty()) {
        // Nothing shows the kept records or the written names any more.
        names_.clear();
        kept_.clear();
    }
    endRemoveRows();
    return true;
}

HistoryListModel::NameBatch::NameBatch(HistoryListModel& model)
    : model_(model)
{
    ++model_.batchDepth_;
}

HistoryListModel::NameBatch::~NameBatch()
{
    if (--model_.batchDepth_ > 0 || !model_.batchChanged_)
        return;
    model_.batchChanged_ = false;
    if (!model_.rows_.empty()) {
        emit model_.dataChanged(model_.index(0, EntryColumn),
                                model_.index(int(model_.rows_.size()) - 1, ExitColumn),
                                {Qt::DisplayRole});
    }
}

// ---------------------------------------------------------------------------------------
// HistoryViewModel

HistoryViewModel::HistoryViewModel(HistoryListModel* source, QObject* parent)
    : QSortFilterProxyModel(parent)
    , source_(source)
{
    setSourceModel(source);
    setDynamicSortFilter(true);
}

void HistoryViewModel::setFilter(const HistoryFilter& filter)
{
    if (filter == filter_)
        return;
    filter_ = filter;
    invalidateFilter();
}

void HistoryViewModel::sortBySerial()
{
    sort(-1, Qt::AscendingOrder);
}

void HistoryViewModel::sort(int column, Qt::SortOrder order)
{
    const bool defaultBefore = isDefaultOrder();
    QSortFilterProxyModel::sort(column, order);
    // The marker row is shown only in the list's own order.
    if (defaultBefore != isDefaultOrder())
        invalidateFilter();
}

bool HistoryViewModel::recordAccepted(int sourceRow) const
{
    const HistoryRecord* record = source_->recordAt(sourceRow);
    if (record == nullptr)
        return false;
    if (!filter_.from.isNull() || !filter_.to.isNull()) {
        const QDate date = blockDate(record->raw);
        if (!filter_.from.isNull() && (!date.isValid() || date < filter_.from))
            return false;
        if (!filter_.to.isNull() && (!date.isValid() || date > filter_.to))
            return false;
    }
    if (filter_.text.isEmpty())
        return true;
    for (int column = 0; column < HistoryColumnCount; ++column) {
        if (source_->cellText(sourceRow, column).contains(filter_.text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool HistoryViewModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (sourceParent.isValid())
        return false;
    if (source_->isMarkerRow(sourceRow)) {
        if (!isDefaultOrder())
            return false;
        // It goes with the entry above it, whose amount spans the missing entries.
        return sourceRow == 0 ? filter_.isEmpty() : recordAccepted(sourceRow - 1);
    }
    return filter_.isEmpty() || recordAccepted(sourceRow);
}

bool HistoryViewModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const HistoryRecord* a = source_->recordAt(left.row());
    const HistoryRecord* b = source_->recordAt(right.row());
    if (a == nullptr || b == nullptr)
        return a == nullptr && b != nullptr;
    const int column = left.column();
    int order = 0;
    switch (column) {
    case SerialColumn:
        break;
    case DateColumn: {
        const int da = a->raw[4] << 8 | a->raw[5];
        const int db = b->raw[4] << 8 | b->raw[5];
        order = da < db ? -1 : (da > db ? 1 : 0);
        break;
    }
    case AmountColumn:
        order = a->amount < b->amount ? -1 : (a->amount > b->amount ? 1 : 0);
        break;
    default:
        order =
            source_->cellText(left.row(), column).compare(source_->cellText(right.row(), column));
        break;
    }
    if (order != 0)
        return order < 0;
    return a->serial < b->serial;
}

// ---------------------------------------------------------------------------------------

std::vector<HistoryRow> rowsAsShown(const QAbstractItemModel& view)
{
    std::vector<HistoryRow> rows;
    const int count = view.rowCount();
    rows.reserve(std::size_t(count));
    for (int row = 0; row < count; ++row) {
        const auto address = view.data(view.index(row, 0), HistoryRecordRole).value<quintptr>();
        rows.push_back(HistoryRow{reinterpret_cast<const HistoryRecord*>(address)});
    }
    return rows;
}

} // namespace ridelog
