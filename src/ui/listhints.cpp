#include "ui/listhints.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QPainter>

namespace ridelog {

ListHints::ListHints(QAbstractItemView* list, std::function<bool()> noCardRead)
    : QObject(list)
    , list_(list)
    , noCardRead_(std::move(noCardRead))
{
    list_->viewport()->installEventFilter(this);
}

QString ListHints::invitationText()
{
    return tr("カードをリーダーに置いてください");
}

QString ListHints::cardTakenOffText()
{
    return tr("カードが取り外されました。一覧は最後に読み取った履歴です。");
}

QString ListHints::shownInvitation() const
{
    const bool empty = list_->model() == nullptr || list_->model()->rowCount() == 0;
    return empty && noCardRead_() ? invitationText() : QString();
}

void ListHints::setRowsMarkedAsLastRead(bool marked)
{
    if (marked == marked_)
        return;
    marked_ = marked;
    if (marked) {
        unmarkedPalette_ = list_->palette();
        QPalette palette = unmarkedPalette_;
        const QColor grey = palette.color(QPalette::Disabled, QPalette::Text);
        for (auto group : {QPalette::Active, QPalette::Inactive})
            palette.setColor(group, QPalette::Text, grey);
        list_->setPalette(palette);
    } else {
        list_->setPalette(unmarkedPalette_);
    }
    list_->viewport()->update();
}

bool ListHints::eventFilter(QObject* watched, QEvent* event)
{
    // The viewport's background is already drawn when its paint event arrives here; the view
    // draws its rows over the text afterwards (there are none while the text shows).
    if (watched == list_->viewport() && event->type() == QEvent::Paint)
        paintInvitation();
    return QObject::eventFilter(watched, event);
}

void ListHints::paintInvitation()
{
    const QString text = shownInvitation();
    if (text.isEmpty())
        return;
    QPainter painter(list_->viewport());
    painter.setPen(list_->palette().color(QPalette::Disabled, QPalette::Text));
    painter.drawText(list_->viewport()->rect().adjusted(8, 8, -8, -8),
                     Qt::AlignCenter | Qt::TextWordWrap, text);
}

} // namespace ridelog
