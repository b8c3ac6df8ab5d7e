// The main window: the history list of the card on display, its balance and the status bar.
// The card on display itself, its read and its store are the CardSession's; the window keeps
// the menus, the list and the messages, each in a part of its own:
//   CommandMap        every command by its id          (ui/commandmap.h)
//   HistoryListPane   the list, its context menu, sorting and column widths
//   MainStatusBar     the panes, the "not saved" sign, the reader's name
//   CardMenu          the カード menu and the card library
//   NoteCommands      purposes and claim marks
//   ExpenseCommands   the export, the claim form and the totals window
//   HistoryFileCommands  backups, restore, taking in other histories
#pragma once

#include "card/cardevents.h"
#include "card/readerlibrary.h"
#include "session/cardsession.h"
#include "store/displayflags.h"
#include "store/settings.h"
#include "ui/commandmap.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QSettings;

namespace ridelog {

class CardMenu;
class ClearingCommands;
class DatabaseCheck;
class ExpenseCommands;
class HistoryFileCommands;
class HistoryListPane;
class HistorySearchBar;
class MainStatusBar;
class NameRefresher;
class NoteCommands;

namespace test {
struct WindowAccess;
}

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
    QAction* commandAction(int commandId) const { return commands_.action(commandId); }
    QList<int> commandIds() const { return commands_.ids(); }
    bool triggerCommand(int commandId) { return commands_.trigger(commandId); }

    // Reader and card read.
    void startCardPolling();
    bool cardEventsEnabled() const;
    // Reads the card on the reader. Every read goes through here, whichever event or command
    // asks for it, and only one card operation (a read, or a clearing command with its own read)
    // runs at a time: a read asked for while one runs (a card put on while a message box of the
    // running one is open) follows when it has ended.
    void readCard();
    // Shows the stored history of a card without reading it; false when it has none.
    bool showStoredCard(const QString& idmText);

    // The card on display.
    CardSession& session() { return session_; }

    // Status-bar pane 0. Safe from any thread; the text is copied before the call returns.
    // The tooltip carries what the short text leaves out; an empty one removes it.
    void setStatusText(const QString& text, const QString& toolTip = QString());

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

public slots:
    void done(int result) override;

private:
    friend struct test::WindowAccess;

    // Construction, layout and shutdown (ridelogdlg.cpp).
    void initDialog();
    void buildWidgets();
    void buildBalanceBar();
    void buildHiddenControls();
    void buildStatusBar();
    void restoreWindowPlacement();
    void layoutClient(const QSize& clientSize);
    void setBalanceBarVisible(bool visible);
    // Window state first, then the database.
    void shutdown();
    void writeBackNames();

    // The card on display: reads, stored cards, the database (ridelogdlg_card.cpp).
    void onCardLost();
    // Empties the records, blocks and names of the card on display and stops its refresh.
    void forgetCardOnDisplay();
    void performRead();
    void runCardOperation(const std::function<void()>& operation);
    // The list, the balance and the save command for the card the session now shows.
    void showCardOnDisplay();
    // The name refresh for the rows of the card on display.
    void startNameRefresh();
    // After a successful read: the title shows the card read, and the card is noted in the
    // library as soon as the list is shown.
    void noteCardRead();
    // The card's nickname in the title and beside the IDm in the status bar.
    void showCardName();
    void openDatabase();
    void showDatabaseProblems(const std::vector<DatabaseError>& problems);
    void updateNotKeptSign();
    void startDatabaseCheck();
    // After the database changed under the window: names, card menu and list anew.
    void reloadHistory();

    // The menus and every command in them (ridelogdlg_commands.cpp).
    void buildMenuBar();
    void buildViewMenu(QMenu* view);
    void buildSetupMenu(QMenu* setup);
    void buildContextMenu();
    // Display settings: loaded from the settings and mirrored in the 表示 menu.
    void loadDisplaySettings();
    void toggleDisplayFlag(int commandId);
    ClearingCommands clearingCommands();

    QSettings& userSettings_;
    TrfcSettings settings_;
    card::ReaderLibrary* library_ = nullptr;
    card::ReaderContext* context_ = nullptr;
    QString nameServerArgument_;
    card::CardEventFilter* cardFilter_ = nullptr;
    CommandMap commands_{this};

    QMenuBar* menuBar_ = nullptr;
    QWidget* client_ = nullptr;
    HistoryListPane* list_ = nullptr;
    HistorySearchBar* searchBar_ = nullptr;
    CardMenu* cardMenu_ = nullptr;
    NoteCommands* notes_ = nullptr;
    ExpenseCommands* expenses_ = nullptr;
    HistoryFileCommands* historyFiles_ = nullptr;
    QLabel* balanceLabel_ = nullptr;
    QLineEdit* balanceField_ = nullptr;
    QLabel* yenLabel_ = nullptr;
    QLineEdit* cardIdField_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    MainStatusBar* statusBar_ = nullptr;
    int statusBarHeight_ = 0;

    DisplayFlags flags_;
    CardSession session_;
    NameRefresher* refresher_ = nullptr;
    bool shutDown_ = false;

    // One card operation at a time, and the read asked for while one ran.
    bool cardOperationRunning_ = false;
    bool readPending_ = false;
    DatabaseCheck* databaseCheck_ = nullptr;
};

} // namespace ridelog
