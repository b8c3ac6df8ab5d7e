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
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

namespace ridelog {

namespace {

// Room for the nickname in the status bar; the tooltip has the whole name.
constexpr int kCardNamePaneCharacters = 16;

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
    const HistoryStore& store = session_.store();
    return CardLibrary(store.DataFolder().isEmpty() ? QString() : store.databasePath());
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
        entry->setChecked(card.idmText == session_.idmText());
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
    commands_.at(ids::RenameCard)->setEnabled(!session_.idmText().isEmpty());
    commands_.at(ids::ShowReaderCard)
        ->setEnabled(!cardIdField_->text().isEmpty() || !session_.lastReadIdm().isEmpty());
}

QString CRidelogDlg::currentCardName() const
{
    return session_.idmText().isEmpty() ? QString() : cardLibrary().nickname(session_.idmText());
}

// すべてのカード(&A)...: every card in a list that a typed text narrows down.
void CRidelogDlg::onShowAllCards()
{
    CardListDialog dialog(cardLibrary().cards(), session_.idmText(), this);
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
    const CardSession::StoredCardOutcome outcome = session_.showStoredCard(idmText);
    if (outcome.problem)
        showDatabaseError(*outcome.problem);
    listHints_->setRowsMarkedAsLastRead(false);
    shownKind_ = card->kind;
    fillHistoryList();
    // The title says it was not read.
    showBalance();
    setPaneText(0, storedCardStatus(*card));
    showCardName();
    commands_.at(ids::SaveToFile)->setEnabled(!session_.records().empty());
    commands_.at(ids::RenameCard)->setEnabled(true);
    startNameRefresh();
    return true;
}

void CRidelogDlg::showCardName()
{
    const QString idm = session_.idmText();
    const QString name = currentCardName();
    // The nickname beside the IDm of pane 0, cut when long and whole in the tooltip.
    const QFontMetrics metrics(cardNamePane_->font());
    cardNamePane_->setText(metrics.elidedText(
        name, Qt::ElideRight, metrics.averageCharWidth() * kCardNamePaneCharacters));
    cardNamePane_->setToolTip(name);
    cardNamePane_->setVisible(!name.isEmpty());
    if (idm.isEmpty())
        setWindowTitle(titleText());
    else
        setWindowTitle(cardWindowTitle(name.isEmpty() ? idm : name.left(kMenuNameCharacters),
                                       session_.isShowingStoredCard()));
}

void CRidelogDlg::noteCardRead()
{
    showCardName();
    commands_.at(ids::RenameCard)->setEnabled(true);
    commands_.at(ids::ShowReaderCard)->setEnabled(true);
    // Noted once the list is shown: its own write waits for the disk, and the read must not.
    const QString idm = session_.idmText();
    const QDateTime when = QDateTime::currentDateTimeUtc();
    const std::optional<card::CardKind> kind = session_.kindOfLastRead();
    shownKind_ = kind;
    QTimer::singleShot(0, this, [this, idm, when, kind] {
        CardLibrary library = cardLibrary();
        library.noteCardRead(idm, when);
        if (kind)
            library.noteCardKind(idm, *kind, when);
        // A kind told before stays when this read could not tell it.
        if (session_.idmText() != idm || session_.isShowingStoredCard())
            return;
        if (const std::optional<CardSummary> summary = library.card(idm); summary && summary->kind)
            shownKind_ = summary->kind;
        if (statusBar_ != nullptr)
            showPaneToolTip(statusPanes_[0]->text());
    });
}

void CRidelogDlg::clearHistoryList()
{
    model_->clear();
}

void CRidelogDlg::onRenameCard()
{
    // The name is for the card the dialog was opened for, even when another card is put on
    // the reader (and shown) while the dialog is open.
    const QString idm = session_.idmText();
    if (idm.isEmpty())
        return;
    const std::optional<CardSummary> card = cardLibrary().card(idm);
    const std::optional<QString> name =
        CardNameDialog::ask(this, idm, card ? card->nickname : QString());
    if (!name)
        return;
    if (!cardLibrary().renameCard(idm, *name)) {
        MessageBox::show(this, tr("カードの名前を保存できません。"));
        return;
    }
    showCardName();
}

void CRidelogDlg::onShowReaderCard()
{
    if (!cardIdField_->text().isEmpty())
        readCard();
    else if (!session_.lastReadIdm().isEmpty())
        showStoredCard(session_.lastReadIdm());
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
