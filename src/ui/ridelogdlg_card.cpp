// The main window's side of the card on display: the card read, the stored history of a card
// shown from the library, the name refresh, and the database with its problems.
#include "names/namerefresher.h"
#include "store/databasecheck.h"
#include "store/databaseproblem.h"
#include "ui/cardlibrarymenu.h"
#include "ui/cardmenu.h"
#include "ui/commandids.h"
#include "ui/historyfilecommands.h"
#include "ui/historylistpane.h"
#include "ui/historylistview.h"
#include "ui/historymodel.h"
#include "ui/listhints.h"
#include "ui/mainstatusbar.h"
#include "ui/messagebox.h"
#include "ui/notecommands.h"
#include "ui/ridelogdlg.h"
#include "ui/waitcursor.h"

#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace ridelog {

namespace {

QString readFailedText()
{
    return CRidelogDlg::tr(
        "カードを読み取れませんでした。\r\nもう一度カードをセットしなおしてください。");
}

// A database failure in the program's words, with the engine's text below.
void showDatabaseError(QWidget* parent, const DatabaseError& error)
{
    MessageBox::show(parent, databaseProblemText(error.engineCode()), error.message());
}

} // namespace

void CRidelogDlg::startCardPolling()
{
    card::startCardPolling(library_, context_, *cardFilter_, this);
}

bool CRidelogDlg::cardEventsEnabled() const
{
    return cardFilter_->cardEventsEnabled;
}

void CRidelogDlg::onCardLost()
{
    // The field holds the identifier only while a card that was read lies on the reader.
    const bool cardWasRead = !cardIdField_->text().isEmpty();
    cardIdField_->clear();
    // Stored history shown from the card menu keeps its own status text and colours.
    if (!cardWasRead || session_.isShowingStoredCard())
        return;
    statusBar_->setPaneText(0, ListHints::cardTakenOffText());
    list_->hints()->setRowsMarkedAsLastRead(true);
}

void CRidelogDlg::readCard()
{
    if (cardOperationRunning_) {
        readPending_ = true;
        return;
    }
    runCardOperation([this] { performRead(); });
}

void CRidelogDlg::runCardOperation(const std::function<void()>& operation)
{
    cardOperationRunning_ = true;
    operation();
    cardOperationRunning_ = false;
    if (readPending_ && !shutDown_) {
        readPending_ = false;
        QMetaObject::invokeMethod(this, &CRidelogDlg::readCard, Qt::QueuedConnection);
    }
}

void CRidelogDlg::forgetCardOnDisplay()
{
    refresher_->cancel();
    session_.forgetCard();
    list_->forgetChosenRow();
}

void CRidelogDlg::performRead()
{
    WaitCursor wait;
    forgetCardOnDisplay();

    card::CardReadResult card;
    if (library_ != nullptr && context_ != nullptr)
        card = card::readCardHistory(*library_, *context_);
    if (!card.ok) {
        MessageBox::show(this, readFailedText());
        return;
    }
    list_->hints()->setRowsMarkedAsLastRead(false);
    // The list lets the previous card's records go before the new ones are built: a long
    // history is not held twice.
    list_->rows()->removeRows(0, list_->rows()->rowCount());
    const CardSession::ReadOutcome outcome = session_.takeRead(card);
    if (outcome.storedBlocks > 0)
        historyFiles_->readStored();
    statusBar_->setPaneText(0, card.idmText);
    cardIdField_->setText(card.idmText);
    showCardOnDisplay();
    showDatabaseProblems(outcome.problems);
    list_->view()->viewport()->update(); // a card was read: no more invitation
    noteCardRead();
    startNameRefresh();
}

bool CRidelogDlg::showStoredCard(const QString& idmText)
{
    const std::optional<CardSummary> card = cardMenu_->library().card(idmText);
    if (!card)
        return false;
    WaitCursor wait;
    forgetCardOnDisplay();
    const CardSession::StoredCardOutcome outcome = session_.showStoredCard(idmText);
    if (outcome.problem)
        showDatabaseError(this, *outcome.problem);
    list_->hints()->setRowsMarkedAsLastRead(false);
    statusBar_->setCardKind(card->kind);
    // The title says it was not read.
    showCardOnDisplay();
    statusBar_->setPaneText(0, storedCardStatus(*card));
    showCardName();
    cardMenu_->cardShown(false);
    startNameRefresh();
    return true;
}

void CRidelogDlg::showCardOnDisplay()
{
    notes_->showNotesOf(session_.store().databasePath(), session_.idmText());
    list_->fill(session_.records(), session_.missedHistory(), session_.gateTimes());
    const std::optional<int> balance = session_.balance();
    balanceField_->setText(balance ? QString::number(*balance) : QString());
    statusBar_->showBalance(balance);
    commands_.action(ids::SaveToFile)->setEnabled(!session_.records().empty());
}

void CRidelogDlg::startNameRefresh()
{
    refresher_->start(*list_->rows(), session_.records(), session_.caches(),
                      session_.nameRefreshTable(), session_.idmText(), flags_);
}

void CRidelogDlg::showCardName()
{
    const QString idm = session_.idmText();
    const QString name = cardMenu_->currentCardName();
    statusBar_->showCardName(name);
    if (idm.isEmpty())
        setWindowTitle(titleText());
    else
        setWindowTitle(cardWindowTitle(name.isEmpty() ? idm : name.left(kMenuNameCharacters),
                                       session_.isShowingStoredCard()));
}

void CRidelogDlg::noteCardRead()
{
    showCardName();
    cardMenu_->cardShown(true);
    // Noted once the list is shown: its own write waits for the disk, and the read must not.
    const QString idm = session_.idmText();
    const QDateTime when = QDateTime::currentDateTimeUtc();
    const std::optional<card::CardKind> kind = session_.kindOfLastRead();
    statusBar_->setCardKind(kind);
    QTimer::singleShot(0, this, [this, idm, when, kind] {
        CardLibrary library = cardMenu_->library();
        library.noteCardRead(idm, when);
        if (kind)
            library.noteCardKind(idm, *kind, when);
        // A kind told before stays when this read could not tell it.
        if (session_.idmText() != idm || session_.isShowingStoredCard())
            return;
        if (const std::optional<CardSummary> summary = library.card(idm); summary && summary->kind)
            statusBar_->setCardKind(summary->kind);
        statusBar_->showKindInToolTip();
    });
}

void CRidelogDlg::openDatabase()
{
    const std::optional<DatabaseError> problem = session_.openStore();
    showDatabaseProblems(problem ? std::vector<DatabaseError>{*problem}
                                 : std::vector<DatabaseError>{});
}

void CRidelogDlg::showDatabaseProblems(const std::vector<DatabaseError>& problems)
{
    updateNotKeptSign();
    for (const DatabaseError& problem : problems)
        showDatabaseError(this, problem);
}

void CRidelogDlg::updateNotKeptSign()
{
    if (statusBar_ == nullptr)
        return;
    const HistoryStore& store = session_.store();
    const QString where =
        store.DataFolder().isEmpty() ? HistoryStore::databaseFileName() : store.databasePath();
    statusBar_->showHistoryNotKept(store.notKeptReason(), where);
}

void CRidelogDlg::startDatabaseCheck()
{
    if (session_.store().state() == DatabaseState::None)
        return;
    databaseCheck_ = new DatabaseCheck(this);
    connect(databaseCheck_, &DatabaseCheck::finished, this, [this](const QuickCheckResult& result) {
        databaseCheck_->deleteLater();
        databaseCheck_ = nullptr;
        if (!result.damaged) {
            if (!result.text.isEmpty())
                qWarning("ridelog: the database could not be checked: %s",
                         qUtf8Printable(result.text));
            return;
        }
        session_.store().markDamaged(result.engineCode, result.text);
        showDatabaseProblems({DatabaseError(result.engineCode, result.text)});
    });
    databaseCheck_->start(session_.store().databasePath(), HistoryStore::kDefaultBusyTimeoutMs);
}

void CRidelogDlg::reloadHistory()
{
    const QString shown = session_.idmText();
    forgetCardOnDisplay();
    // The names of the database now in place, not those of the one before.
    session_.caches() = NameCaches();
    openDatabase();
    cardMenu_->refresh();
    if (!shown.isEmpty() && showStoredCard(shown))
        return;
    list_->rows()->clear();
    balanceField_->clear();
    statusBar_->showBalance(std::nullopt);
    setWindowTitle(titleText());
    commands_.action(ids::SaveToFile)->setEnabled(false);
}

} // namespace ridelog
