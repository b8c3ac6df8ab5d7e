// The main window: the history list of the card read last, its balance and the status bar.
#pragma once

#include "card/cardevents.h"
#include "card/cardread.h"
#include "card/history.h"
#include "card/readerlibrary.h"
#include "namedata/namecache.h"
#include "names/nameexchange.h"
#include "names/namerefresher.h"
#include "report/expenseentries.h"
#include "session/cardsession.h"
#include "store/cardlibrary.h"
#include "store/database.h"
#include "store/databasecheck.h"
#include "store/displayflags.h"
#include "store/notestore.h"
#include "store/settings.h"
#include "ui/historylistview.h"
#include "ui/historymodel.h"
#include "ui/windowstate.h"

#include <QDialog>
#include <QString>
#include <QUrl>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QSettings;
class QStatusBar;

namespace ridelog {

class JourneyNotes;
class ListHints;
class NameColumnFitter;
class ClearingCommands;
class HistorySearchBar;
class HistoryFileCommands;

class CRidelogDlg : public QDialog
{
    Q_OBJECT

public:
    // settings: where the window state and the display flags live (tests hand a temporary
    // INI file). library, context: the application's open reader, not owned; null without one.
    CRidelogDlg(QSettings& settings, card::ReaderLibrary* library, card::ReaderContext* context,
                QWidget* parent = nullptr);
    ~CRidelogDlg() override;

    // The station-name server from the command line (empty: the stored or default one); the
    // background refresh talks to it and the About box links to its web root.
    void setNameServer(const QString& commandLineValue);
    QUrl nameServerUrl() const;

    // The window title, also the application's display name.
    static QString titleText();

    // Commands by id: every id of the menus, the context menu and the start button has
    // exactly one action. triggerCommand returns false for an unknown or disabled command.
    QAction* commandAction(int commandId) const;
    QList<int> commandIds() const;
    bool triggerCommand(int commandId);

    // Reader and card read.
    void startCardPolling();
    // Reads the card on the reader. Every read goes through here, whichever event or command
    // asks for it, and only one card operation (a read, or a clearing command with its own read)
    // runs at a time: a read asked for while one runs (a card put on while a message box of the
    // running one is open) follows when it has ended.
    void readCard();
    // Rows for every record of records(), newest first, replacing the rows there were.
    void fillHistoryList();
    bool cardEventsEnabled() const;

    // Shows or hides the balance bar above the list.
    void setBalanceBarVisible(bool visible);
    // Status-bar pane 0. Safe from any thread; the text is copied before the call returns.
    // The tooltip carries what the short text leaves out; an empty one removes it.
    void setStatusText(const QString& text, const QString& toolTip = QString());

    // Display flags: loaded from the settings and mirrored in the 表示 menu.
    void loadDisplaySettings();
    const DisplayFlags& displayFlags() const { return flags_; }
    void refreshRailNames();
    void refreshBusNames();
    void refreshShopNames();

    // Context menu of the list at a global position; returns whether a menu was shown.
    bool showHistoryContextMenu(const QPoint& globalPos);
    QMenu* historyContextMenu() const { return contextMenu_; }
    // The record under the last context menu; null when none or no longer present.
    HistoryRecord* selectedRecord();

    // Access for the other dialogs and commands.
    HistoryListView* historyList() const { return list_; }
    // The list as the view shows it (sorted, filtered): rows of this model are rows as shown.
    QAbstractItemModel* historyModel() const { return view_; }
    HistoryViewModel* historyView() const { return view_; }
    // Every row in the list's own order, filtered or not.
    HistoryListModel* historySource() const { return model_; }
    // Empties the list.
    void clearHistoryList();
    QLineEdit* balanceField() const { return balanceField_; }
    QLineEdit* cardIdField() const { return cardIdField_; }
    QStatusBar* statusBar() const { return statusBar_; }
    ListHints* listHints() const { return listHints_; }
    QString statusPaneText(int pane) const;
    QString statusPaneToolTip(int pane) const;
    // The nickname beside pane 0 (object name "cardNamePane"); hidden without one.
    QLabel* cardNamePane() const { return cardNamePane_; }
    QLabel* statusPane(int pane) const;
    int statusBarHeight() const { return statusBarHeight_; }
    // The card on display.
    CardSession& session() { return session_; }
    HistoryRecordSet& records() { return session_.records(); }
    CardBlockSet& cardBlocks() { return session_.cardBlocks(); }
    NameCaches& caches() { return session_.caches(); }
    NameRefreshTable& nameRefreshTable() { return session_.nameRefreshTable(); }
    HistoryStore& historyStore() { return session_.store(); }
    NameRefresher& nameRefresher() { return *refresher_; }
    TrfcSettings& settings() { return settings_; }
    QString idmText() const { return session_.idmText(); }
    bool isBalanceBarVisible() const;

    // Shows a database failure in the program's words, with the engine's text below.
    void showDatabaseError(const DatabaseError& error);
    // The sign in the status bar that stays while history is not being saved.
    QLabel* historyNotKeptSign() const { return notKeptSign_; }
    HistoryFileCommands* historyFileCommands() const { return historyFiles_; }
    // The integrity check of the database started at start-up; null once it has reported.
    DatabaseCheck* databaseCheck() const { return databaseCheck_; }

    // The card library (ridelogdlg_library.cpp).
    // Rebuilds the card entries of the カード menu from the database.
    void refreshCardMenu();
    QMenu* cardMenu() const { return cardMenu_; }
    // Shows the stored history of a card without reading it; false when it has none.
    bool showStoredCard(const QString& idmText);
    // Whether the list shows stored history rather than the card read last.
    bool isShowingStoredCard() const { return session_.isShowingStoredCard(); }
    // Where the missed history of the last read lies, if any.
    const std::optional<MissedHistory>& missedHistory() const { return session_.missedHistory(); }
    HistorySearchBar* searchBar() const { return searchBar_; }

    // Purposes and claim marks (ridelogdlg_notes.cpp).
    JourneyNotes* journeyNotes() const { return notes_; }
    // The serials of the selected rows that have an entry, in the order shown.
    std::vector<std::uint32_t> selectedSerials() const;
    // Applies one purpose and one mark to the selected rows (what 用途を入力... does after
    // its dialog); false when no selected row has an entry.
    bool applyNoteToSelection(const NoteChange& change);
    // The entries of a card for the claim form, notes attached: the card on display as the
    // list has it, any other from the database.
    std::vector<ExpenseEntry> claimEntriesOf(const QString& idmText);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

public slots:
    void done(int result) override;

private:
    // Construction of the window parts.
    void buildWidgets();
    void buildMenuBar();
    void buildContextMenu();
    void addMenuShortcuts();
    void addRowCommands();
    void buildBalanceBar();
    void buildHiddenControls();
    void buildStatusBar();
    void buildHistoryList();
    QAction* addCommand(QMenu* menu, int commandId, const QString& text,
                        void (CRidelogDlg::*handler)());
    QAction* addToggle(QMenu* menu, int commandId, const QString& text);

    // Start-up steps.
    void initDialog();
    void buildRefresher();
    void buildCardEventFilter();
    void restoreWindowPlacement();
    void restoreColumns();
    void openDatabaseAtStart();
    void layoutClient(const QSize& clientSize);
    int listClientWidth() const;
    QRect workArea() const;

    // Shutdown: window state first, then the database.
    void shutdown();
    void saveWindowState();
    void writeBackNames();

    // Card events and the steps of a read.
    void onCardLost();
    // Empties the records, blocks and names of the card on display and stops its refresh.
    void forgetCardOnDisplay();
    void performRead();
    void runCardOperation(const std::function<void()>& operation);
    ClearingCommands clearingCommands();
    // The balance of the card on display in the balance field and the status bar.
    void showBalance();
    void showDatabaseProblems(const std::vector<DatabaseError>& problems);
    // The name refresh for the rows of the card on display.
    void startNameRefresh();
    void updateNotKeptSign();
    void startDatabaseCheck();
    void databaseChecked(const QuickCheckResult& result);

    // Display toggles.
    void toggleDisplayFlag(int commandId);
    void updateShopItemsEnabled();
    void setPaneText(int pane, const QString& text);

    // Command handlers. The ones marked as hooks are filled in by the dialogs and commands
    // that live in their own files.
    void onExit();
    void onAbout();
    void onStartReading();
    void onSaveToFile();        // hook: export the list
    void onShowDataSetup();     // hook: display settings dialog
    void onShowDetail();        // hook: detail dialog of selectedRecord
    void onClearStationNames(); // hook: clear the station name cache
    void onClearBusStopNames(); // hook: clear the bus-stop name cache
    void onClearShopNames();    // hook: clear the shop name cache
    void onDeleteHistory();     // hook: delete the stored history of the card
    void onDeleteRows();        // hook: delete the selected rows
    void onShowTotals();        // hook: the totals window of the card on display
    void onAskNamesAgain();     // the name refresh again for the rows on display
    void onMakeClaimForm();     // hook: the claim form dialog
    void onEditPurpose();
    void onToggleClaim();
    void onTogglePurposeColumn();
    // Backups, restore and taking in other histories (ridelogdlg_historyfiles.cpp).
    void onRestoreBackup();
    void onTakeInHistory();
    // After the database changed under the window: names, card menu and list anew.
    void reloadHistory();
    void fitReaderPane();

    // Copying the selected rows and the double-click on a row (ridelogdlg_rows.cpp).
    void onCopyRows();
    void showDetailOfRow(const QModelIndex& index);
    // Purposes and claim marks (ridelogdlg_notes.cpp).
    void buildNoteParts();
    void showNotesOfCard();
    void restorePurposeColumn();
    void savePurposeColumn();
    void showNoteWriteFailure(const NoteWriteOutcome& outcome);
    // The card library, sorting and searching (ridelogdlg_library.cpp).
    void buildLibraryParts(QMenu* viewMenu);
    void onSearch();
    void onRenameCard();
    void onShowReaderCard();
    void onShowAllCards();
    void onHeaderClicked(int column);
    void onSearchChanged(const HistoryFilter& filter);
    // After a successful read: the title shows the card read, and the card is noted in the
    // library as soon as the list is shown.
    void noteCardRead();
    CardLibrary cardLibrary() const;
    // The nickname of the card on display; empty without one.
    QString currentCardName() const;
    // The card's nickname in the title and beside the IDm in the status bar.
    void showCardName();
    // Pane 0's tooltip: its text, and the kind of the card on display when it is known.
    void showPaneToolTip(const QString& text);

    QSettings& userSettings_;
    TrfcSettings settings_;
    card::ReaderLibrary* library_ = nullptr;
    card::ReaderContext* context_ = nullptr;
    QString nameServerArgument_;
    card::CardEventFilter* cardFilter_ = nullptr;

    QMenuBar* menuBar_ = nullptr;
    QWidget* client_ = nullptr;
    HistoryListView* list_ = nullptr;
    HistoryListModel* model_ = nullptr;
    HistoryViewModel* view_ = nullptr;
    HistorySearchBar* searchBar_ = nullptr;
    QMenu* cardMenu_ = nullptr;
    QLabel* balanceLabel_ = nullptr;
    QLineEdit* balanceField_ = nullptr;
    QLabel* yenLabel_ = nullptr;
    QLineEdit* cardIdField_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    std::array<QLabel*, 3> statusPanes_{};
    QLabel* cardNamePane_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    ListHints* listHints_ = nullptr;
    NameColumnFitter* columnFitter_ = nullptr;
    JourneyNotes* notes_ = nullptr;
    std::map<int, QAction*> commands_;
    int statusBarHeight_ = 0;

    DisplayFlags flags_;
    CardSession session_;
    NameRefresher* refresher_ = nullptr;

    std::optional<std::uint32_t> selectedSerial_;
    // The kind of the card on display, as the card library keeps it; none when never told.
    std::optional<card::CardKind> shownKind_;
    bool shutDown_ = false;

    // One card operation at a time, and the read asked for while one ran.
    bool cardOperationRunning_ = false;
    bool readPending_ = false;
    QLabel* notKeptSign_ = nullptr;
    HistoryFileCommands* historyFiles_ = nullptr;
    DatabaseCheck* databaseCheck_ = nullptr;
};

} // namespace ridelog
