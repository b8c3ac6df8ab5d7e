#include "ui/historymodel.h"

#include "ui/historylist.h"
#include "ui/journeynotes.h"

#include <QBrush>
#include <QPalette>
#include <algorithm>
#include <utility>

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

void HistoryListModel::fill(HistoryRecordSet& records, const std::optional<MissedHistory>& missed,
                            GateTimes gateTimes)
{
    beginResetModel();
    resetRows();
    // Set within the reset: a change of the whole time column afterwards would have the view's
    // proxy look at every row again.
    gateTimes_ = std::move(gateTimes);
    missed_ = missed;
    records_ = &records;
    rowTotal_ = int(records.size());
    // The marker row goes below the oldest fresh entry.
    if (missed_ && findRecordBySerial(records, missed_->oldestFreshSerial) != nullptr)
        ++rowTotal_;
    endResetModel();
}

void HistoryListModel::resetRows()
{
    rows_.clear();
    rows_.shrink_to_fit();
    names_.clear();
    kept_.clear();
    lastIndexed_.reset();
    records_ = nullptr;
    rowTotal_ = 0;
}

void HistoryListModel::indexRowsUpTo(int row) const
{
    if (records_ == nullptr)
        return;
    const std::size_t wanted = row < 0 ? std::size_t(rowTotal_) : std::size_t(row) + 1;
    if (rows_.size() >= wanted)
        return;
    if (rows_.capacity() < wanted)
        rows_.reserve(std::max(wanted, std::min(std::size_t(rowTotal_), rows_.capacity() * 2)));
    // Newest first: each amount is the next older record's balance minus its own, the oldest
    // record's is 0.
    auto it = lastIndexed_ ? *lastIndexed_ : records_->end();
    while (rows_.size() < wanted && it != records_->begin()) {
        --it;
        HistoryRecord& record = *it;
        record.amount = it == records_->begin() ? 0 : std::prev(it)->balance - record.balance;
        rows_.push_back(Row{&record, 0});
        if (amountSpansMissedHistory(record, missed_))
            rows_.push_back(Row{});
        lastIndexed_ = it;
    }
}

const HistoryListModel::Row* HistoryListModel::rowAt(int row) const
{
    if (row < 0 || row >= rowTotal_)
        return nullptr;
    indexRowsUpTo(row);
    return std::size_t(row) < rows_.size() ? &rows_[std::size_t(row)] : nullptr;
}

HistoryListModel::Row* HistoryListModel::rowAt(int row)
{
    return const_cast<Row*>(std::as_const(*this).rowAt(row));
}

void HistoryListModel::keepRecords(HistoryRecordSet& records)
{
    // With nothing kept yet, the rows show these records (or none): moving a std::map keeps
    // its nodes where they are, so the rows' pointers, and the place where indexing goes on,
    // stay good. With records kept already, the rows show those, and these are not theirs.
    if (kept_.empty() && records_ == &records) {
        kept_ = std::move(records);
        records_ = &kept_;
    }
    records.clear();
}

void HistoryListModel::clear()
{
    beginResetModel();
    resetRows();
    missed_.reset();
    gateTimes_ = GateTimes();
    endResetModel();
}

const HistoryRecord* HistoryListModel::recordAt(int row) const
{
    const Row* r = rowAt(row);
    return r == nullptr ? nullptr : r->record;
}

bool HistoryListModel::isMarkerRow(int row) const
{
    const Row* r = rowAt(row);
    return r != nullptr && r->record == nullptr;
}

int HistoryListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rowTotal_;
}

int HistoryListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ListColumnCount;
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
    case PurposeColumn: {
        const JourneyNote* note = notes_ == nullptr ? nullptr : notes_->noteOf(record.serial);
        return note == nullptr ? QString() : note->purpose;
    }
    case TimeColumn: {
        const JourneyTimes* times = gateTimes_.find(record.serial);
        return times == nullptr ? QString()
                                : gateSpanText(times->entry, times->exit, tr("入 %1"), tr("出 %1"));
    }
    default:
        break;
    }
    return historyCellText(record, column);
}

QString HistoryListModel::cellText(int row, int column) const
{
    const Row* found = column < 0 || column >= ListColumnCount ? nullptr : rowAt(row);
    if (found == nullptr)
        return QString();
    const Row& r = *found;
    if (r.record == nullptr) {
        if (column == SerialColumn)
            return QStringLiteral("…");
        return column == ProcessColumn ? missedHistoryMarkerText() : QString();
    }
    return recordText(r, column);
}

int HistoryListModel::gateMinuteOfDay(std::uint32_t serial) const
{
    const JourneyTimes* times = gateTimes_.find(serial);
    if (times == nullptr)
        return -1;
    const TapTime& first = times->entry.known() ? times->entry : times->exit;
    return first.hour * 60 + first.minute;
}

QString HistoryListModel::gateTimesToolTip(const JourneyTimes& times)
{
    QStringList lines;
    if (times.entry.known())
        lines << tr("入場時刻 %1").arg(times.entry.text());
    if (times.exit.known())
        lines << tr("出場時刻 %1").arg(times.exit.text());
    return lines.join(QLatin1Char('\n'));
}

QVariant HistoryListModel::data(const QModelIndex& index, int role) const
{
    const Row* found = index.isValid() ? rowAt(index.row()) : nullptr;
    if (found == nullptr)
        return QVariant();
    const Row& row = *found;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return cellText(index.row(), index.column());
    case Qt::TextAlignmentRole:
        if (index.column() == AmountColumn)
            return QVariant::fromValue(kAmountAlignment);
        return QVariant();
    case Qt::CheckStateRole:
        if (index.column() != PurposeColumn || row.record == nullptr || notes_ == nullptr ||
            !notes_->isAvailable())
            return QVariant();
        return noteAt(index.row()) != nullptr && noteAt(index.row())->claimed ? Qt::Checked
                                                                              : Qt::Unchecked;
    case Qt::ToolTipRole:
        if (row.record == nullptr)
            return missedHistoryMarkerToolTip();
        if (index.column() == AmountColumn && amountSpansMissedHistory(*row.record, missed_))
            return spanningAmountToolTip();
        if (const JourneyTimes* times = gateTimes_.find(row.record->serial))
            return gateTimesToolTip(*times);
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
    if (orientation != Qt::Horizontal || section < 0 || section >= ListColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole) {
        if (section == PurposeColumn)
            return purposeColumnHeading();
        return section == TimeColumn ? timeColumnHeading() : historyColumnHeadings().at(section);
    }
    if (role == Qt::ToolTipRole) {
        if (section == PurposeColumn)
            return tr("チェック：精算する利用");
        return section == TimeColumn ? tr("改札を通った時刻（入場–出場）")
                                     : historyColumnToolTip(section);
    }
    if (role == Qt::TextAlignmentRole && section == AmountColumn)
        return QVariant::fromValue(kAmountAlignment);
    return QVariant();
}

Qt::ItemFlags HistoryListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == PurposeColumn && notes_ != nullptr && notes_->isAvailable() &&
        recordAt(index.row()) != nullptr)
        return flags | Qt::ItemIsUserCheckable;
    return flags;
}

void HistoryListModel::setNameText(int row, int column, const QString& text)
{
    Row* found = isNameColumn(column) ? rowAt(row) : nullptr;
    if (found == nullptr || found->record == nullptr)
        return;
    Row& r = *found;
    const std::uint8_t bit = column == EntryColumn ? kEntryWritten : kExitWritten;
    const bool written = r.names != 0 && (names_[r.names - 1].written & bit) != 0;
    if (!written && text == historyCellText(*r.record, column)) {
        // The record shows this text already (the refresh names records and cells alike):
        // nothing to keep, which spares a long history one entry per named row.
        noteNameChange(row, column);
        return;
    }
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
    noteNameChange(row, column);
}

void HistoryListModel::noteNameChange(int row, int column)
{
    if (batchDepth_ > 0) {
        batchChanged_ = true;
        return;
    }
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

bool HistoryListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (index.isValid() && index.column() == PurposeColumn && role == Qt::CheckStateRole) {
        const HistoryRecord* record = recordAt(index.row());
        if (record == nullptr || notes_ == nullptr || !notes_->isAvailable())
            return false;
        emit claimMarkToggled(record->serial, value.value<Qt::CheckState>() == Qt::Checked);
        return true;
    }
    if (!index.isValid() || !isNameColumn(index.column()) ||
        (role != Qt::DisplayRole && role != Qt::EditRole) || isMarkerRow(index.row()))
        return false;
    setNameText(index.row(), index.column(), value.toString());
    return true;
}

bool HistoryListModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > rowTotal_)
        return false;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    if (count == rowTotal_) {
        // Nothing shows the kept records or the written names any more; rows not yet indexed
        // need no index to go.
        rows_.clear();
        rows_.shrink_to_fit();
        lastIndexed_.reset();
        rowTotal_ = 0;
        names_.clear();
        kept_.clear();
    } else {
        indexRowsUpTo(row + count - 1);
        rows_.erase(rows_.begin() + row, rows_.begin() + row + count);
        rowTotal_ -= count;
    }
    endRemoveRows();
    return true;
}

void HistoryListModel::setNotes(const JourneyNotes* notes)
{
    notes_ = notes;
    notesChanged();
}

const JourneyNote* HistoryListModel::noteAt(int row) const
{
    const HistoryRecord* record = recordAt(row);
    return record == nullptr || notes_ == nullptr ? nullptr : notes_->noteOf(record->serial);
}

void HistoryListModel::notesChanged()
{
    if (rowTotal_ > 0) {
        emit dataChanged(index(0, PurposeColumn), index(rowTotal_ - 1, PurposeColumn),
                         {Qt::DisplayRole, Qt::CheckStateRole});
    }
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
    if (model_.rowTotal_ > 0) {
        emit model_.dataChanged(model_.index(0, EntryColumn),
                                model_.index(model_.rowTotal_ - 1, ExitColumn), {Qt::DisplayRole});
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
    if (filter_.claimedOnly) {
        const JourneyNote* note = source_->noteAt(sourceRow);
        if (note == nullptr || !note->claimed)
            return false;
    }
    if (filter_.text.isEmpty())
        return true;
    for (int column = 0; column < ListColumnCount; ++column) {
        if (source_->cellText(sourceRow, column).contains(filter_.text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool HistoryViewModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (sourceParent.isValid())
        return false;
    // In the list's own order and without criteria every row shows: nothing of it is read.
    if (isDefaultOrder() && filter_.isEmpty())
        return true;
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
    case TimeColumn: {
        const int ta = source_->gateMinuteOfDay(a->serial);
        const int tb = source_->gateMinuteOfDay(b->serial);
        order = ta < tb ? -1 : (ta > tb ? 1 : 0);
        break;
    }
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
