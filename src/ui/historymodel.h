// The history list's models: HistoryListModel holds one lean row per record (a pointer to the
// record, and the name texts written into columns 4 and 5 since the fill) and computes every
// other text when the view asks; HistoryViewModel sorts and filters it for the view.
//
// The rows point into a HistoryRecordSet. Before the dialog empties or replaces that set while
// the rows stay (a read that fails keeps the old rows), it hands the records to the model with
// keepRecords(), which moves them without copying; the rows go on showing them.
#pragma once

#include "card/gatelog.h"
#include "card/history.h"
#include "store/missedhistory.h"
#include "store/notestore.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QSortFilterProxyModel>
#include <QString>
#include <optional>
#include <vector>

namespace ridelog {

class JourneyNotes;

class HistoryListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit HistoryListModel(QObject* parent = nullptr);

    // Shows one row per record, newest first, with the marker of missed history below the
    // oldest fresh entry. The rows are indexed, and their records' amounts derived, as the
    // rows are first asked for, so a fill costs the same whatever the number of records. The
    // records must stay in place until the next fill, clear() or keepRecords().
    // The gate times give the time column and the rows' tooltips (入場時刻, 出場時刻).
    void fill(HistoryRecordSet& records, const std::optional<MissedHistory>& missed = {},
              GateTimes gateTimes = {});
    // Moves the records the rows show into the model's keeping; records is left empty.
    void keepRecords(HistoryRecordSet& records);
    void clear();
    const GateTimes& gateTimes() const { return gateTimes_; }

    // The record behind a row; null for the marker row or a row out of range.
    const HistoryRecord* recordAt(int row) const;
    bool isMarkerRow(int row) const;
    const std::optional<MissedHistory>& missedHistory() const { return missed_; }
    // The records the rows show: the set of the last fill, or the model's own keeping after
    // keepRecords(); null without rows.
    const HistoryRecordSet* shownRecords() const { return records_; }

    // Sets the name text of columns 4 and 5 without a notification per cell; one dataChanged
    // for the two columns follows when the outermost batch ends.
    class NameBatch
    {
    public:
        explicit NameBatch(HistoryListModel& model);
        ~NameBatch();
        NameBatch(const NameBatch&) = delete;
        NameBatch& operator=(const NameBatch&) = delete;

    private:
        HistoryListModel& model_;
    };
    void setNameText(int row, int column, const QString& text);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Columns 4 and 5 take texts (the name refresh and the re-rendering write them).
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

    // The shown text of a cell, without a QVariant.
    QString cellText(int row, int column) const;

    // The notes shown in the purpose column, looked up by serial as a row is shown; null: none.
    void setNotes(const JourneyNotes* notes);
    // When the journey passed its first gate known, in minutes of the day; -1 when no gate
    // time is known.
    int gateMinuteOfDay(std::uint32_t serial) const;
    // The note of a row's entry; null without one.
    const JourneyNote* noteAt(int row) const;
    // The notes changed: the purpose column is shown again.
    void notesChanged();

signals:
    // The check box of the purpose column was clicked: the user marks or unmarks the entry.
    void claimMarkToggled(std::uint32_t serial, bool claimed);

private:
    // 16 bytes a row: the record, and where its written names are (0: none, else index + 1).
    struct Row
    {
        const HistoryRecord* record = nullptr; // null: the marker row
        std::uint32_t names = 0;
    };
    static_assert(sizeof(void*) != 8 || sizeof(Row) == 16, "a row of the list takes 16 bytes");
    struct WrittenNames
    {
        QString entryText; // columns 4 and 5 once written
        QString exitText;
        std::uint8_t written = 0; // bit 0: entryText, bit 1: exitText
    };

    QString recordText(const Row& row, int column) const;
    // One dataChanged for the cell, or for the batch when one is open.
    void noteNameChange(int row, int column);
    static QString gateTimesToolTip(const JourneyTimes& times);
    // The row, its index built up to it first; null out of range.
    const Row* rowAt(int row) const;
    Row* rowAt(int row);
    // Indexes the rows up to and including row (every row with -1 for "all").
    void indexRowsUpTo(int row) const;
    void resetRows();

    // The rows indexed so far, from the top; the rest follow in the record set, older ones
    // first, from the record before lastIndexed_ (or the newest when nothing is indexed yet).
    mutable std::vector<Row> rows_;
    mutable std::optional<HistoryRecordSet::iterator> lastIndexed_;
    HistoryRecordSet* records_ = nullptr;
    int rowTotal_ = 0;
    std::vector<WrittenNames> names_;
    HistoryRecordSet kept_;
    std::optional<MissedHistory> missed_;
    GateTimes gateTimes_;
    int batchDepth_ = 0;
    bool batchChanged_ = false;
    const JourneyNotes* notes_ = nullptr;
};

// What the search field asks for: a text found in any column (any letter case), and an
// optional first and last date. Empty criteria let every row through.
struct HistoryFilter
{
    QString text;
    QDate from;               // null: no lower bound
    QDate to;                 // null: no upper bound
    bool claimedOnly = false; // only the entries marked 精算

    bool isEmpty() const { return text.isEmpty() && from.isNull() && to.isNull() && !claimedOnly; }
    friend bool operator==(const HistoryFilter&, const HistoryFilter&) = default;
};

// Sorting and filtering for the view. Without a sort column the rows keep the list's own
// order, by serial newest first, and only then is the marker of missed history shown (with
// the entry above it, whose amount it explains).
class HistoryViewModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit HistoryViewModel(HistoryListModel* source, QObject* parent = nullptr);

    HistoryListModel* historySource() const { return source_; }

    void setFilter(const HistoryFilter& filter);
    const HistoryFilter& filter() const { return filter_; }

    // Serial newest first: the list's own order.
    void sortBySerial();
    bool isDefaultOrder() const { return sortColumn() < 0; }
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    bool recordAccepted(int sourceRow) const;

    HistoryListModel* source_;
    HistoryFilter filter_;
};

// The rows as the view shows them, top first, for the exports.
std::vector<HistoryRow> rowsAsShown(const QAbstractItemModel& view);

// The date of a block (bytes 4-5); null when the bytes name no valid date.
QDate blockDate(const HistoryBlock& block);

} // namespace ridelog
