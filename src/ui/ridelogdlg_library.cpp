// The main window's card library, sorting and searching: the カード menu, the stored history of
// a card shown without reading it, the card's name, the heading clicks and the search bar.
#include "ui/cardlibrarymenu.h"
#include "ui/cardlistdlg.h"
#include "ui/commandids.h"
#include "ui/historylist.h"
#include "ui/historysearchbar.h"
#include "ui/listhints.h"
#include "ui/messagebox.h"
#include "ui/ridelogdlg.h"
#include "ui/waitcursor.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

namespace ridelog {

namespace {

bool isCardEntry(int commandId)
{
    return commandId >= ids::FirstCardEntry && commandId <= ids::LastCardEntry;
}

} // namespace

void CRidelogDlg::buildLibraryParts(QMenu* viewMenu)
{
    viewMenu->addSeparator();
    QAction* search = addCommand(viewMenu, ids::Search, tr("検索(&F)..."), &CRidelogDlg::onSearch);
    search->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    search->setShortcutContext(Qt::WindowShortcut);
    addAction(search);
    connect(searchBar_, &HistorySearchBar::filterChanged, this, &CRidelogDlg::onSearchChanged);

    cardMenu_ = menuBar_->addMenu(tr("カード(&C)"));
    cardMenu_->setObjectName(QStringLiteral("cardMenu"));
    // The commands first, where they stay however many cards there are; then the cards read
    // most recently, and the list of every card.
    cardMenu_->setToolTipsVisible(true);
    addCommand(cardMenu_, ids::RenameCard, tr("カード名の変更(&N)..."), &CRidelogDlg::onRenameCard)
        ->setEnabled(false);
    addCommand(cardMenu_, ids::ShowReaderCard, tr("読み取ったカードを表示(&R)"),
               &CRidelogDlg::onShowReaderCard)
        ->setEnabled(false);
    cardMenu_->addSeparator();
    cardMenu_->addSeparator()->setObjectName(QStringLiteral("cardsEnd"));
    addCommand(cardMenu_, ids::ShowAllCards, tr("すべてのカード(&A)..."),
               &CRidelogDlg::onShowAllCards);
    connect(cardMenu_, &QMenu::aboutToShow, this, &CRidelogDlg::refreshCardMenu);
}

CardLibrary CRidelogDlg::cardLibrary() const
{
    return CardLibrary(store_.DataFolder().isEmpty() ? QString() : store_.DatabasePath());
}

void CRidelogDlg::refreshCardMenu()
{
    for (QAction* action : cardMenu_->actions()) {
        const int id = action->property("commandId").toInt();
        if (isCardEntry(id))
            commands_.erase(id);
        if (isCardEntry(id) || action->objectName() == QStringLiteral("noCards")) {
            cardMenu_->removeAction(action);
            delete action;
        }
    }
    QAction* fixed = cardMenu_->findChild<QAction*>(QStringLiteral("cardsEnd"));
    const std::vector<CardSummary> cards = cardLibrary().cards();
    commands_.at(ids::ShowAllCards)->setEnabled(!cards.empty());
    QList<QAction*> entries;
    int id = ids::FirstCardEntry;
    for (const CardSummary& card : recentCards(cards, kRecentCardsInMenu)) {
        QAction* entry = addCommand(nullptr, id++, cardMenuText(card), nullptr);
        entry->setToolTip(card.shownName().left(1000));
        entry->setCheckable(true);
        entry->setChecked(card.idmText == idmText_);
        const QString idm = card.idmText;
        connect(entry, &QAction::triggered, this, [this, idm] { showStoredCard(idm); });
        entries.append(entry);
    }
    if (entries.isEmpty()) {
        auto* none = new QAction(tr("（履歴のあるカードはありません）"), cardMenu_);
        none->setObjectName(QStringLiteral("noCards"));
        none->setEnabled(false);
        entries.append(none);
    }
    cardMenu_->insertActions(fixed, entries);
    commands_.at(ids::RenameCard)->setEnabled(!idmText_.isEmpty());
    commands_.at(ids::ShowReaderCard)
        ->setEnabled(!cardIdField_->text().isEmpty() || !lastReadIdm_.isEmpty());
}

// すべてのカード(&A)...: every card in a list that a typed text narrows down.
void CRidelogDlg::onShowAllCards()
{
    CardListDialog dialog(cardLibrary().cards(), idmText_, this);
    if (dialog.exec() != QDialog::Accepted || dialog.chosenIdm().isEmpty())
        return;
    showStoredCard(dialog.chosenIdm());
}

bool CRidelogDlg::showStoredCard(const QString& idmText)
{
    const std::optional<CardSummary> card = cardLibrary().card(idmText);
    if (!card)
        return false;
    WaitCursor wait;
    forgetCardOnDisplay();
    try {
        store_.LoadStoredBlocks(idmText, cardBlocks_);
    } catch (const DatabaseError& error) {
        showDatabaseError(error);
    }
    idmText_ = idmText;
    showingStored_ = true;
    listHints_->setRowsMarkedAsLastRead(false);
    HistoryStore::BuildRecordSet(cardBlocks_, caches_, records_);
    fillHistoryList();

    // The balance is the newest stored entry's; the title says it was not read.
    const QString balance =
        records_.empty() ? QString() : QString::number(std::prev(records_.end())->balance);
    balanceField_->setText(balance);
    setPaneText(1, balance.isEmpty() ? QString() : tr("残額："));
    setPaneText(2, balance.isEmpty() ? QString() : tr("%1円").arg(balance));
    setPaneText(0, storedCardStatus(*card));
    setWindowTitle(storedCardTitle(*card));
    commands_.at(ids::SaveToFile)->setEnabled(!records_.empty());
    commands_.at(ids::RenameCard)->setEnabled(true);
    refresher_->start(*model_, records_, caches_, refreshTable_, idmText_, flags_);
    return true;
}

void CRidelogDlg::noteCardRead()
{
    showingStored_ = false;
    lastReadIdm_ = idmText_;
    setWindowTitle(titleText());
    commands_.at(ids::RenameCard)->setEnabled(true);
    commands_.at(ids::ShowReaderCard)->setEnabled(true);
    // Noted once the list is shown: its own write waits for the disk, and the read must not.
    const QString idm = idmText_;
    const QDateTime when = QDateTime::currentDateTimeUtc();
    QTimer::singleShot(0, this, [this, idm, when] { cardLibrary().noteCardRead(idm, when); });
}

void CRidelogDlg::releaseRecords()
{
    model_->keepRecords(records_);
}

void CRidelogDlg::clearHistoryList()
{
    model_->clear();
}

void CRidelogDlg::onRenameCard()
{
    if (idmText_.isEmpty())
        return;
    const std::optional<CardSummary> card = cardLibrary().card(idmText_);
    const std::optional<QString> name =
        CardNameDialog::ask(this, idmText_, card ? card->nickname : QString());
    if (!name)
        return;
    if (!cardLibrary().renameCard(idmText_, *name)) {
        MessageBox::show(this, tr("カードの名前を保存できません。"));
        return;
    }
    if (showingStored_) {
        if (const std::optional<CardSummary> renamed = cardLibrary().card(idmText_))
            setWindowTitle(storedCardTitle(*renamed));
    }
}

void CRidelogDlg::onShowReaderCard()
{
    if (!cardIdField_->text().isEmpty())
        readCard();
    else if (!lastReadIdm_.isEmpty())
        showStoredCard(lastReadIdm_);
}

void CRidelogDlg::onSearch()
{
    searchBar_->open();
}

void CRidelogDlg::onSearchChanged(const HistoryFilter& filter)
{
    view_->setFilter(filter);
}

void CRidelogDlg::onHeaderClicked(int column)
{
    QHeaderView* header = list_->header();
    if (column == SerialColumn) {
        view_->sortBySerial();
        header->setSortIndicator(SerialColumn, Qt::DescendingOrder);
        return;
    }
    const Qt::SortOrder order =
        view_->sortColumn() == column && view_->sortOrder() == Qt::AscendingOrder
            ? Qt::DescendingOrder
            : Qt::AscendingOrder;
    view_->sort(column, order);
    header->setSortIndicator(column, order);
}

} // namespace ridelog
