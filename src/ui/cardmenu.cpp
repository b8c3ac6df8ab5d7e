#include "ui/cardmenu.h"

#include "session/cardsession.h"
#include "ui/cardlibrarymenu.h"
#include "ui/cardlistdlg.h"
#include "ui/commandids.h"
#include "ui/commandmap.h"
#include "ui/messagebox.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace ridelog {

namespace {

bool isCardEntry(int commandId)
{
    return commandId >= ids::FirstCardEntry && commandId <= ids::LastCardEntry;
}

} // namespace

CardMenu::CardMenu(QWidget* window, QMenuBar* bar, CommandMap& commands, const CardSession& session,
                   Steps steps)
    : QObject(window)
    , window_(window)
    , commands_(commands)
    , session_(session)
    , steps_(std::move(steps))
{
    menu_ = bar->addMenu(tr("カード(&C)"));
    menu_->setObjectName(QStringLiteral("cardMenu"));
    // The commands first, where they stay however many cards there are; then the cards read
    // most recently, and the list of every card.
    menu_->setToolTipsVisible(true);
    commands_.add(menu_, ids::RenameCard, tr("カード名の変更(&N)..."), [this] { rename(); })
        ->setEnabled(false);
    commands_
        .add(menu_, ids::ShowReaderCard, tr("読み取ったカードを表示(&R)"),
             [this] { showReaderCard(); })
        ->setEnabled(false);
    menu_->addSeparator();
    menu_->addSeparator()->setObjectName(QStringLiteral("cardsEnd"));
    commands_.add(menu_, ids::ShowAllCards, tr("すべてのカード(&A)..."),
                  [this] { showAllCards(); });
    connect(menu_, &QMenu::aboutToShow, this, &CardMenu::refresh);
}

CardLibrary CardMenu::library() const
{
    const HistoryStore& store = session_.store();
    return CardLibrary(store.DataFolder().isEmpty() ? QString() : store.databasePath());
}

QString CardMenu::currentCardName() const
{
    return session_.idmText().isEmpty() ? QString() : library().nickname(session_.idmText());
}

void CardMenu::refresh()
{
    for (QAction* action : menu_->actions()) {
        const int id = action->property("commandId").toInt();
        if (isCardEntry(id))
            commands_.forget(id);
        if (isCardEntry(id) || action->objectName() == QStringLiteral("noCards")) {
            menu_->removeAction(action);
            delete action;
        }
    }
    QAction* fixed = menu_->findChild<QAction*>(QStringLiteral("cardsEnd"));
    const std::vector<CardSummary> cards = library().cards();
    commands_.action(ids::ShowAllCards)->setEnabled(!cards.empty());
    QList<QAction*> entries;
    int id = ids::FirstCardEntry;
    for (const CardSummary& card : recentCards(cards, kRecentCardsInMenu)) {
        const QString idm = card.idmText;
        QAction* entry = commands_.add(nullptr, id++, cardMenuText(card),
                                       [this, idm] { steps_.showStoredCard(idm); });
        entry->setToolTip(card.shownName().left(1000));
        entry->setCheckable(true);
        entry->setChecked(idm == session_.idmText());
        entries.append(entry);
    }
    if (entries.isEmpty()) {
        auto* none = new QAction(tr("（履歴のあるカードはありません）"), menu_);
        none->setObjectName(QStringLiteral("noCards"));
        none->setEnabled(false);
        entries.append(none);
    }
    menu_->insertActions(fixed, entries);
    commands_.action(ids::RenameCard)->setEnabled(!session_.idmText().isEmpty());
    commands_.action(ids::ShowReaderCard)
        ->setEnabled(steps_.cardOnReader() || !session_.lastReadIdm().isEmpty());
}

void CardMenu::cardShown(bool read)
{
    commands_.action(ids::RenameCard)->setEnabled(true);
    if (read)
        commands_.action(ids::ShowReaderCard)->setEnabled(true);
}

void CardMenu::rename()
{
    // The name is for the card the dialog was opened for, even when another card is put on
    // the reader (and shown) while the dialog is open.
    const QString idm = session_.idmText();
    if (idm.isEmpty())
        return;
    const std::optional<CardSummary> card = library().card(idm);
    const std::optional<QString> name =
        CardNameDialog::ask(window_, idm, card ? card->nickname : QString());
    if (!name)
        return;
    if (!library().renameCard(idm, *name)) {
        MessageBox::show(window_, tr("カードの名前を保存できません。"));
        return;
    }
    steps_.renamed();
}

void CardMenu::showReaderCard()
{
    if (steps_.cardOnReader())
        steps_.readCard();
    else if (!session_.lastReadIdm().isEmpty())
        steps_.showStoredCard(session_.lastReadIdm());
}

// すべてのカード(&A)...: every card in a list that a typed text narrows down.
void CardMenu::showAllCards()
{
    CardListDialog dialog(library().cards(), session_.idmText(), window_);
    if (dialog.exec() != QDialog::Accepted || dialog.chosenIdm().isEmpty())
        return;
    steps_.showStoredCard(dialog.chosenIdm());
}

} // namespace ridelog
