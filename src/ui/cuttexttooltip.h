// A cell whose text the column cuts shows the whole text as its tooltip.
#pragma once

#include <QStyledItemDelegate>

namespace ridelog {

class CutTextToolTipDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The tooltip of a cell of the view: the model's own tooltip when it has one, else the
    // cell's text when the cell is too narrow for it, else nothing.
    static QString toolTipFor(const QAbstractItemView& view, const QModelIndex& index);

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

} // namespace ridelog
