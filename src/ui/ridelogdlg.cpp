#include "ui/ridelogdlg.h"

#include "names/namerefresher.h"
#include "store/databasecheck.h"
#include "ui/cardmenu.h"
#include "ui/commandids.h"
#include "ui/controlid.h"
#include "ui/expensecommands.h"
#include "ui/historyfilecommands.h"
#include "ui/historylistpane.h"
#include "ui/historylistview.h"
#include "ui/historymodel.h"
#include "ui/historysearchbar.h"
#include "ui/mainstatusbar.h"
#include "ui/notecommands.h"
#include "ui/waitcursor.h"
#include "ui/windowstate.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace ridelog {

namespace {

// The list's top edge while the balance bar is shown above it.
constexpr int kListTopWithBalanceBar = 29;
// How long a window manager may take to give the keyboard back after a dialog closed.
constexpr int kRegainFocusDelayMs = 100;

QRect workArea()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

std::vector<QRect> screenAreas()
{
    std::vector<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.push_back(screen->availableGeometry());
    return areas;
}

// Wayland gives no window its position; what a window reads there is no place to come back to.
bool platformKnowsWindowPositions()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

CRidelogDlg::CRidelogDlg(QSettings& settings, card::ReaderLibrary* library,
                         card::ReaderContext* context, QWidget* parent)
    : QDialog(parent)
    , userSettings_(settings)
    , settings_(settings)
    , library_(library)
    , context_(context)
{
    historyFiles_ = new HistoryFileCommands(
        this, settings,
        {[this] { return session_.store().databasePath(); }, [this] { reloadHistory(); }});
    initDialog();
}

CRidelogDlg::~CRidelogDlg()
{
    shutdown();
    // The refresher goes before the records, caches and list it was working on.
    delete refresher_;
    refresher_ = nullptr;
}

void CRidelogDlg::setNameServer(const QString& commandLineValue)
{
    nameServerArgument_ = commandLineValue;
    refresher_->setServerUrl(nameServerUrl());
    refresher_->setBuiltinOnly(builtinNamesOnly(nameServerArgument_, settings_));
}

QUrl CRidelogDlg::nameServerUrl() const
{
    return ridelog::nameServerUrl(nameServerArgument_, settings_);
}

QString CRidelogDlg::titleText()
{
    return tr("交通費履歴読出");
}

// ---------------------------------------------------------------------------------------
// Construction

void CRidelogDlg::initDialog()
{
    buildWidgets();
    refresher_ = new NameRefresher(this);
    refresher_->setServerUrl(nameServerUrl());
    refresher_->setBuiltinOnly(builtinNamesOnly(nameServerArgument_, settings_));
    connect(refresher_, &NameRefresher::statusText, this,
            [this](const QString& text, const QString& toolTip) { setStatusText(text, toolTip); });
    // The names of an answer land in one notification of the list, not one per cell.
    refresher_->setApplyScope([this](const std::function<void()>& apply) {
        HistoryListModel::NameBatch batch(*list_->rows());
        apply();
    });
    // Card events are seen before the dialog's own handling.
    cardFilter_ =
        new card::CardEventFilter({[this] { readCard(); }, [this] { onCardLost(); }}, this);
    installEventFilter(cardFilter_);
    // The rows go on showing the records of the card on display when the session empties them.
    session_.setRecordsLeaving(
        [this](HistoryRecordSet& records) { list_->rows()->keepRecords(records); });
    session_.store().setProblemReporter(
        [this](const DatabaseError& problem) { showDatabaseProblems({problem}); });
    // No window-menu item: Qt offers no access to the window manager's menu on Linux; the
    // About box is reached through ヘルプ(&H).
    setWindowIcon(QIcon(QStringLiteral(":/ridelog/ridelog.png")));
    loadDisplaySettings();
    buildStatusBar();
    expenses_ = new ExpenseCommands(
        {this, *list_, session_, *notes_, *cardMenu_, settings_, userSettings_, statusBar_});
    restoreWindowPlacement();
    list_->restoreColumnWidths(settings_);
    commands_.action(ids::PurposeColumnView)
        ->setChecked(list_->restorePurposeColumn(userSettings_));
    commands_.action(ids::TimeColumnView)->setChecked(list_->restoreTimeColumn(userSettings_));
    openDatabase();
    startDatabaseCheck();
    startCardPolling();
    for (int pane = 0; pane < MainStatusBar::kPanes; ++pane)
        statusBar_->setPaneText(pane, QString());
}

void CRidelogDlg::buildWidgets()
{
    setWindowTitle(titleText());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setMinimumSize(kMinimumWindowWidth, kMinimumWindowHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    menuBar_ = new QMenuBar(this);
    layout->setMenuBar(menuBar_);
    client_ = new QWidget(this);
    client_->installEventFilter(this);
    searchBar_ = new HistorySearchBar(this);
    layout->addWidget(searchBar_);
    layout->addWidget(client_);

    list_ = new HistoryListPane(
        client_, [this] { return session_.idmText().isEmpty(); }, this);
    notes_ = new NoteCommands(this, *list_);
    buildMenuBar();
    buildContextMenu();
    buildBalanceBar();
    buildHiddenControls();
}

void CRidelogDlg::buildBalanceBar()
{
    balanceLabel_ = new QLabel(tr("残高："), client_);
    setControlId(balanceLabel_, ids::BalanceLabel);
    balanceField_ = new QLineEdit(client_);
    setControlId(balanceField_, ids::BalanceField);
    balanceField_->setReadOnly(true);
    balanceField_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    yenLabel_ = new QLabel(tr("円"), client_);
    setControlId(yenLabel_, ids::YenLabel);

    const int fieldHeight = kListTopWithBalanceBar - 6;
    const int labelWidth = balanceLabel_->sizeHint().width();
    balanceLabel_->setGeometry(8, 3, labelWidth, fieldHeight);
    balanceField_->setGeometry(8 + labelWidth + 4, 3, 96, fieldHeight);
    yenLabel_->setGeometry(balanceField_->geometry().right() + 5, 3, yenLabel_->sizeHint().width(),
                           fieldHeight);
}

void CRidelogDlg::buildHiddenControls()
{
    cardIdField_ = new QLineEdit(client_);
    setControlId(cardIdField_, ids::CardIdField);
    cardIdField_->setAlignment(Qt::AlignCenter);
    cardIdField_->hide();

    startButton_ = new QPushButton(tr("読み取り開始"), client_);
    setControlId(startButton_, ids::StartButton);
    startButton_->setAutoDefault(false);
    startButton_->hide();
    QAction* start = commands_.add(nullptr, ids::StartReading, startButton_->text(),
                                   [this] { startCardPolling(); });
    connect(startButton_, &QPushButton::clicked, start, &QAction::trigger);

    okButton_ = new QPushButton(tr("閉じる"), client_);
    setControlId(okButton_, ids::OkButton);
    okButton_->setDefault(true);
    okButton_->hide();
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);

    cancelButton_ = new QPushButton(tr("キャンセル"), client_);
    setControlId(cancelButton_, ids::CancelButton);
    cancelButton_->setAutoDefault(false);
    cancelButton_->hide();
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

void CRidelogDlg::buildStatusBar()
{
    statusBar_ =
        new MainStatusBar(library_ != nullptr ? library_->readerName() : QString(), client_);
    setControlId(statusBar_, ids::StatusBar);
    historyFiles_->addFailureSign(statusBar_);
    statusBar_->addReaderPane();
    statusBarHeight_ = statusBar_->sizeHint().height();
}

void CRidelogDlg::restoreWindowPlacement()
{
    QRect rect = restoredWindowRect(readStoredPlacement(settings_), workArea(), statusBarHeight_);
    // A position off every screen (a monitor that is gone, a position a Wayland session left)
    // comes back onto the nearest screen.
    rect.moveTopLeft(positionOnNearestScreen(rect, screenAreas()));
    move(rect.topLeft());
    resize(rect.size());
    // Lay the list out now, so its width is known for the column limits.
    layout()->activate();
    layoutClient(client_->size());
}

void CRidelogDlg::layoutClient(const QSize& clientSize)
{
    if (statusBar_ != nullptr) {
        statusBar_->setGeometry(0, clientSize.height() - statusBarHeight_, clientSize.width(),
                                statusBarHeight_);
        statusBar_->fitReaderPane();
    }
    if (list_ == nullptr)
        return;
    HistoryListView* view = list_->view();
    const QRect current = view->geometry();
    view->setGeometry(current.left(), current.top(), clientSize.width() - current.left(),
                      clientSize.height() - statusBarHeight_ - current.top());
}

void CRidelogDlg::setBalanceBarVisible(bool visible)
{
    HistoryListView* view = list_->view();
    const QRect current = view->geometry();
    const int bottom = current.top() + current.height();
    const int top = visible ? kListTopWithBalanceBar : 0;
    view->setGeometry(current.left(), top, current.width(), bottom - top);
    balanceLabel_->setVisible(visible);
    balanceField_->setVisible(visible);
    yenLabel_->setVisible(visible);
}

bool CRidelogDlg::event(QEvent* event)
{
    // A box or dialog that kept the window blocked has closed. A window manager then gives the
    // keyboard back; without one (a bare X server, a kiosk session) nobody does: Qt counts the
    // window as active again while the keyboard stays with the screen, and Escape, Enter and
    // the shortcuts reach nothing. Ask for the keyboard again unless another window of ours
    // has it.
    if (event->type() == QEvent::WindowUnblocked) {
        QTimer::singleShot(kRegainFocusDelayMs, this, [this] {
            // The window itself runs modally; another modal box still open keeps the keyboard.
            const QWidget* active = QApplication::activeWindow();
            const QWidget* modal = QApplication::activeModalWidget();
            if (isVisible() && (active == nullptr || active == this) &&
                (modal == nullptr || modal == this))
                activateWindow();
        });
    }
    return QDialog::event(event);
}

bool CRidelogDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == client_ && event->type() == QEvent::Resize)
        layoutClient(static_cast<QResizeEvent*>(event)->size());
    return QDialog::eventFilter(watched, event);
}

void CRidelogDlg::keyPressEvent(QKeyEvent* event)
{
    // The close and cancel buttons are hidden, so Qt would not press them by itself.
    const bool plainKey =
        event->modifiers() == Qt::NoModifier ||
        (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    const bool enterKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (plainKey && enterKey) {
        okButton_->click();
        return;
    }
    // Alt+Enter: the detail of the current row, the keyboard's way to 詳細表示.
    if (enterKey && (event->modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier) {
        list_->askDetailOf(list_->view()->currentIndex());
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cancelButton_->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CRidelogDlg::setStatusText(const QString& text, const QString& toolTip)
{
    // Deep copies: the caller's texts may change or go away as soon as this returns.
    QString copy(text.constData(), text.size());
    QString tipCopy(toolTip.constData(), toolTip.size());
    QMetaObject::invokeMethod(
        this,
        [this, copy = std::move(copy), tipCopy = std::move(tipCopy)] {
            if (statusBar_ != nullptr)
                statusBar_->setStatus(copy, tipCopy);
        },
        Qt::AutoConnection);
}

// ---------------------------------------------------------------------------------------
// Shutdown

void CRidelogDlg::done(int result)
{
    shutdown();
    QDialog::done(result);
}

void CRidelogDlg::shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    WaitCursor wait;
    refresher_->cancel();
    // A position the platform could not give, or one off every screen, is not kept: the stored
    // one stays.
    StoredPlacement placement = readStoredPlacement(settings_);
    if (isKeepablePosition(QRect(pos(), size()), screenAreas(), platformKnowsWindowPositions())) {
        placement.x = pos().x();
        placement.y = pos().y();
    }
    placement.width = width();
    placement.height = height() + statusBarHeight_;
    writeStoredPlacement(settings_, placement);
    list_->saveColumnWidths(settings_);
    list_->savePurposeColumn(userSettings_);
    list_->saveTimeColumn(userSettings_);
    settings_.save();
    writeBackNames();
}

void CRidelogDlg::writeBackNames()
{
    if (const std::optional<DatabaseError> problem = session_.writeBackNames())
        showDatabaseProblems({*problem});
}

} // namespace ridelog
