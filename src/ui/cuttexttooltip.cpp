#include "ui/cuttexttooltip.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

namespace ridelog {

namespace {

// Room for text inside a cell as the style draws it: a margin on either side.
int textRoom(const QAbstractItemView& view, const QRect& cell)
{
    const int margin = view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
    return cell.width() - 2 * margin;
}

} // namespace

QString CutTextToolTipDelegate::toolTipFor(const QAbstractItemView& view, const QModelIndex& index)
{
    if (!index.isValid())
        return QString();
    const QVariant own = index.data(Qt::ToolTipRole);
    if (own.isValid())
        return own.toString();
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return QString();
    QFont font = view.font();
    const QVariant cellFont = index.data(Qt::FontRole);
    if (cellFont.canConvert<QFont>())
        font = cellFont.value<QFont>();
    const int needed = QFontMetrics(font).horizontalAdvance(text);
    return needed > textRoom(view, view.visualRect(index)) ? text : QString();
}

bool CutTextToolTipDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                       const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event == nullptr || view == nullptr || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString tip = toolTipFor(*view, index);
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return false;
    }
    QToolTip::showText(event->globalPos(), tip, view->viewport(), option.rect);
    return true;
}

} // namespace ridelog
