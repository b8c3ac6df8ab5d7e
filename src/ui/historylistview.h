// The view of the history list: a table whose rows all have one height, so that laying it out
// costs the same for ten rows and for a hundred thousand (a tree view walks every row).
#pragma once

#include <QHeaderView>
#include <QTableView>

namespace ridelog {

class HistoryListView : public QTableView
{
public:
    explicit HistoryListView(QWidget* parent = nullptr)
        : QTableView(parent)
    {
        verticalHeader()->hide();
        verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
        horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        horizontalHeader()->setHighlightSections(false);
        setShowGrid(false);
        setWordWrap(false);
        setCornerButtonEnabled(false);
        setTabKeyNavigation(false);
    }

    // The column headings, as a tree view calls them.
    QHeaderView* header() const { return horizontalHeader(); }
};

} // namespace ridelog
