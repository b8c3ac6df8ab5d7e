#include "ui/mainstatusbar.h"

#include "store/databaseproblem.h"
#include "ui/readerpane.h"

#include <QFontMetrics>
#include <QLabel>
#include <algorithm>

namespace ridelog {

namespace {

// Room for the nickname in the status bar; the tooltip has the whole name.
constexpr int kCardNamePaneCharacters = 16;

} // namespace

MainStatusBar::MainStatusBar(const QString& readerName, QWidget* parent)
    : QStatusBar(parent)
    , readerName_(readerName)
{
    setSizeGripEnabled(true);
    for (auto& pane : panes_)
        pane = new QLabel(this);
    // Pane 0 takes the room the other two leave: at the default width it holds the card
    // identifier and the longest name status; the tooltip holds the rest.
    panes_[0]->setMinimumWidth(200);
    addWidget(panes_[0], 4);
    cardNamePane_ = new QLabel(this);
    cardNamePane_->setObjectName(QStringLiteral("cardNamePane"));
    addWidget(cardNamePane_, 0);
    cardNamePane_->hide();
    const QFontMetrics metrics(panes_[1]->font());
    panes_[1]->setMinimumWidth(metrics.horizontalAdvance(tr("残額：")));
    panes_[1]->setFrameShape(QFrame::NoFrame);
    addWidget(panes_[1], 0);
    // Room for a five-digit balance with its unit, whatever the language makes of it.
    panes_[2]->setMinimumWidth(metrics.horizontalAdvance(tr("%1円").arg(99999)));
    addWidget(panes_[2], 0);
    // Stays on the right for as long as history is not being saved.
    notKeptSign_ = new QLabel(historyNotKeptSignText(), this);
    notKeptSign_->setObjectName(QStringLiteral("historyNotKeptSign"));
    notKeptSign_->setStyleSheet(QStringLiteral("QLabel { color: #b00000; font-weight: bold; }"));
    addPermanentWidget(notKeptSign_);
    notKeptSign_->hide();
}

void MainStatusBar::addReaderPane()
{
    readerPane_ = ridelog::addReaderPane(this, readerName_);
}

void MainStatusBar::setPaneText(int pane, const QString& text)
{
    QLabel* label = this->pane(pane);
    if (label == nullptr)
        return;
    label->setText(text);
    // A narrow window cuts the free text; its tooltip keeps the whole of it until a status
    // with details of its own replaces it.
    if (pane == 0)
        showKindInToolTip();
    else
        label->setToolTip(QString());
}

void MainStatusBar::showKindInToolTip()
{
    QString tip = panes_[0]->text();
    if (cardKind_)
        tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) +
               tr("カードの種類：%1").arg(card::cardKindShownName(*cardKind_));
    panes_[0]->setToolTip(tip);
}

void MainStatusBar::setStatus(const QString& text, const QString& toolTip)
{
    setPaneText(0, text);
    panes_[0]->setToolTip(toolTip);
    fitReaderPane();
}

void MainStatusBar::showBalance(std::optional<int> balance)
{
    const QString text = balance ? QString::number(*balance) : QString();
    setPaneText(1, balance ? tr("残額：") : QString());
    setPaneText(2, balance ? tr("%1円").arg(text) : QString());
}

void MainStatusBar::showCardName(const QString& name)
{
    const QFontMetrics metrics(cardNamePane_->font());
    cardNamePane_->setText(metrics.elidedText(
        name, Qt::ElideRight, metrics.averageCharWidth() * kCardNamePaneCharacters));
    cardNamePane_->setToolTip(name);
    cardNamePane_->setVisible(!name.isEmpty());
}

void MainStatusBar::showHistoryNotKept(const QString& reason, const QString& where)
{
    notKeptSign_->setToolTip(reason + u'\n' + where);
    notKeptSign_->setVisible(!reason.isEmpty());
}

QLabel* MainStatusBar::pane(int pane) const
{
    if (pane < 0 || pane >= kPanes)
        return nullptr;
    return panes_[std::size_t(pane)];
}

QString MainStatusBar::paneText(int pane) const
{
    const QLabel* label = this->pane(pane);
    return label ? label->text() : QString();
}

QString MainStatusBar::paneToolTip(int pane) const
{
    const QLabel* label = this->pane(pane);
    return label ? label->toolTip() : QString();
}

void MainStatusBar::fitReaderPane()
{
    if (readerPane_ == nullptr || readerPane_->isHidden())
        return;
    const QFontMetrics metrics(readerPane_->font());
    constexpr int kSpacing = 48; // frames, gaps between the panes, the size grip
    const int status = panes_[0]->fontMetrics().horizontalAdvance(panes_[0]->text());
    const int others = panes_[1]->minimumWidth() + panes_[2]->minimumWidth() +
                       (cardNamePane_->isVisible() ? cardNamePane_->sizeHint().width() : 0);
    const int room = width() - std::max(status, 200) - others - kSpacing;
    const int widest = std::min(metrics.averageCharWidth() * 34, std::max(room, 0));
    readerPane_->setText(metrics.elidedText(readerName_, Qt::ElideRight, widest));
}

} // namespace ridelog
