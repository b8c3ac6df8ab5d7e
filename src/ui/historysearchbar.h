// The search field above the history list: a text looked for in every column (purposes too),
// a date range, and whether only the entries marked 精算 show. Shown by 表示 › 検索 (Ctrl+F);
// Escape or the close button hides it and lets every row back in.
#pragma once

#include "ui/historymodel.h"

#include <QWidget>

class QCheckBox;
class QDateEdit;
class QHBoxLayout;
class QLineEdit;
class QTimer;
class QToolButton;

namespace ridelog {

class HistorySearchBar : public QWidget
{
    Q_OBJECT

public:
    explicit HistorySearchBar(QWidget* parent = nullptr);

    // Shows the bar and puts the focus into the text field.
    void open();
    // Hides the bar; the filter becomes empty.
    void dismiss();

    // What the fields ask for now (empty while the bar is hidden).
    HistoryFilter filter() const;

    QLineEdit* textField() const { return text_; }
    QCheckBox* dateRangeBox() const { return range_; }
    QDateEdit* fromField() const { return from_; }
    QDateEdit* toField() const { return to_; }
    QCheckBox* claimedOnlyBox() const { return claimedOnly_; }

    // Typing is applied after a short pause; this applies it at once.
    void applyNow();

signals:
    void filterChanged(const HistoryFilter& filter);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addDateRange(QHBoxLayout& layout);
    void connectFields();
    void updateRangeEnabled();

    QLineEdit* text_ = nullptr;
    QCheckBox* range_ = nullptr;
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QCheckBox* claimedOnly_ = nullptr;
    QToolButton* closeButton_ = nullptr;
    QTimer* pause_ = nullptr;
    HistoryFilter applied_;
};

} // namespace ridelog
