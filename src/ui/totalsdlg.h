// The 集計 window: the totals of the card on display per month and over a chosen date range, a
// bar chart of the monthly spending and a line chart of the balance. Where history may be
// missing the window says so, and the amount across the gap is kept out of the fares.
#pragma once

#include "report/expenseentries.h"
#include "report/expensetotals.h"

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QAbstractItemModel;
class QChart;
class QDateEdit;
class QLabel;
class QStackedWidget;
class QTableWidget;
class QTimer;

namespace ridelog {

class SpendingChart;
class BalanceChart;

class CTotalsDlg : public QDialog
{
    Q_OBJECT

public:
    // The card on display: its IDm, the name the user gave it (empty: none) and every entry in
    // ascending serial order.
    struct Snapshot
    {
        QString idmText;
        QString cardName;
        std::vector<ExpenseEntry> entries;
    };
    using Source = std::function<Snapshot()>;

    explicit CTotalsDlg(Source source, QWidget* parent = nullptr);
    ~CTotalsDlg() override;

    // Rows added to or removed from the list (a new read, a cleared history) bring the totals
    // up to date once the list has settled.
    void followList(const QAbstractItemModel& list);
    // Takes the card's entries anew and redraws everything.
    void refresh();
    // The range of the range totals; both ends included.
    void setRange(const QDate& from, const QDate& to);

    QTableWidget* monthTable() const { return monthTable_; }
    QTableWidget* rangeTable() const { return rangeTable_; }
    QChart* spendingChart() const;
    QChart* balanceChart() const;
    QLabel* noticeLabel() const { return notice_; }
    QLabel* cardLabel() const { return cardLabel_; }
    // The plain message shown instead of tables and charts while there is no history.
    QLabel* emptyMessage() const { return empty_; }
    const TotalsReport& monthsReport() const { return months_; }
    const TotalsReport& rangeReport() const { return range_; }

    // The column headings of both tables.
    static QStringList columnHeadings();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

public slots:
    void done(int result) override;

private:
    void buildWidgets();
    QWidget* buildContent();
    void scheduleRefresh();
    void onRangeEdited();
    void fillMonthTable();
    void fillRangeTable();
    void fitColumns();
    void updateNotice();
    void updateCardLabel();

    Source source_;
    Snapshot snapshot_;
    TotalsReport months_;
    TotalsReport range_;
    bool rangePicked_ = false;
    bool settingRange_ = false;

    QLabel* cardLabel_ = nullptr;
    QDateEdit* fromEdit_ = nullptr;
    QDateEdit* toEdit_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QLabel* empty_ = nullptr;
    QTableWidget* monthTable_ = nullptr;
    QTableWidget* rangeTable_ = nullptr;
    QLabel* notice_ = nullptr;
    std::unique_ptr<SpendingChart> spending_;
    std::unique_ptr<BalanceChart> balance_;
    QTimer* refreshTimer_ = nullptr;
};

} // namespace ridelog
