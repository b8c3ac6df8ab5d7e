// Column widths of the history list: widths that fit the content in the list's font, and the
// two name columns taking whatever width the list has to spare.
#pragma once

#include "ui/windowstate.h"

#include <QObject>

class QHeaderView;
class QTableView;

namespace ridelog {

// Fits a six-digit serial, the widest date, every terminal and transaction name, a name of
// twelve ideographs and a five-digit balance in brackets, each column at least as wide as
// its heading, in the view's current font and style.
ColumnWidths contentColumnWidths(const QTableView& view);

// Keeps columns 4 and 5 (entry and exit names) at their own widths plus, shared between them,
// the width the list has beyond the sum of all columns. The own widths are those restored at
// start-up and those the user drags a name column to; they are what is stored.
class NameColumnFitter : public QObject
{
    Q_OBJECT

public:
    explicit NameColumnFitter(QTableView* view);

    // Sets every column, the name columns to these widths before the spare width is added.
    void setWidths(const ColumnWidths& widths);
    // The widths to keep: the name columns without the spare width.
    ColumnWidths storedWidths() const;
    // Gives the spare width to the name columns again.
    void fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onSectionResized(int column, int oldSize, int newSize);

    QTableView* view_;
    QHeaderView* header_;
    int entryWidth_ = 0;
    int exitWidth_ = 0;
    bool fitting_ = false;
};

} // namespace ridelog
