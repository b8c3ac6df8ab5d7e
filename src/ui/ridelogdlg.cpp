#include "ui/ridelogdlg.h"

#include "store/databaseproblem.h"
#include "ui/aboutdlg.h"
#include "ui/clearingcommands.h"
#include "ui/columnfit.h"
#include "ui/commandids.h"
#include "ui/cuttexttooltip.h"
#include "ui/historyfilecommands.h"
#include "ui/historylist.h"
#include "ui/historysearchbar.h"
#include "ui/journeynotes.h"
#include "ui/listhints.h"
#include "ui/messagebox.h"
#include "ui/readerpane.h"
#include "ui/waitcursor.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>

namespace ridelog {

namespace {

// The list's top edge while the balance bar is shown above it.
constexpr int kListTopWithBalanceBar = 29;

QString readFailedText()
{
    return CRidelogDlg::tr(
        "カードを読み取れませんでした。\r\nもう一度カードをセットしなおしてください。");
}

// One menu toggle: its command, the flag it flips and what it re-renders.
struct DisplayToggle
{
    int commandId;
    bool DisplayFlags::*flag;
    void (CRidelogDlg::*apply)();
};

constexpr std::array<int, 3> kShopDetailCommands{ids::ShopCompany, ids::ShopName,
                                                 ids::ShopRegister};

const std::array<DisplayToggle, 9>& displayToggles()
{
    static const std::array<DisplayToggle, 9> toggles{{
        {ids::BalanceView, &DisplayFlags::balanceBarShown, nullptr},
        {ids::RailCompany, &DisplayFlags::railCompanyShown, &CRidelogDlg::refreshRailNames},
        {ids::RailLine, &DisplayFlags::railLineShown, &CRidelogDlg::refreshRailNames},
        {ids::BusCompany, &DisplayFlags::busCompanyShown, &CRidelogDlg::refreshBusNames},
        {ids::BusRoute, &DisplayFlags::busRouteShown, &CRidelogDlg::refreshBusNames},
        {ids::ShopShow, &DisplayFlags::shopInfoShown, &CRidelogDlg::refreshShopNames},
        {ids::ShopCompany, &DisplayFlags::shopCompanyShown, &CRidelogDlg::refreshShopNames},
        {ids::ShopName, &DisplayFlags::shopNameShown, &CRidelogDlg::refreshShopNames},
        {ids::ShopRegister, &DisplayFlags::shopRegisterShown, &CRidelogDlg::refreshShopNames},
    }};
    return toggles;
}

const DisplayToggle* toggleFor(int commandId)
{
    for (const auto& toggle : displayToggles()) {
        if (toggle.commandId == commandId)
            return &toggle;
    }
    return nullptr;
}

void tagControl(QWidget* widget, int controlId)
{
    widget->setObjectName(QStringLiteral("control%1").arg(controlId));
    widget->setProperty("controlId", controlId);
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

    buildMenuBar();
    buildContextMenu();
    buildHistoryList();
    buildBalanceBar();
    buildHiddenControls();
}

QAction* CRidelogDlg::addCommand(QMenu* menu, int commandId, const QString& text,
                                 void (CRidelogDlg::*handler)())
{
    auto* action = new QAction(text, this);
    action->setObjectName(QStringLiteral("command%1").arg(commandId));
    action->setProperty("commandId", commandId);
    if (menu != nullptr)
        menu->addAction(action);
    if (handler != nullptr)
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    Q_ASSERT(!commands_.contains(commandId));
    commands_[commandId] = action;
    return action;
}

QAction* CRidelogDlg::addToggle(QMenu* menu, int commandId, const QString& text)
{
    QAction* action = addCommand(menu, commandId, text, nullptr);
    action->setCheckable(true);
    connect(action, &QAction::triggered, this, [this, commandId] { toggleDisplayFlag(commandId); });
    return action;
}

void CRidelogDlg::buildMenuBar()
{
    QMenu* file = menuBar_->addMenu(tr("ファイル(&F)"));
    addCommand(file, ids::SaveToFile, tr("ファイルに保存(&S)"), &CRidelogDlg::onSaveToFile)
        ->setEnabled(false);
    addCommand(file, ids::MakeClaimForm, tr("精算書を作成(&R)..."), &CRidelogDlg::onMakeClaimForm);
    addCommand(file, ids::TakeInHistory, tr("他の履歴を取り込む(&I)..."),
               &CRidelogDlg::onTakeInHistory);
    file->addSeparator();
    addCommand(file, ids::Exit, tr("終了(&X)"), &CRidelogDlg::onExit);
    addMenuShortcuts();

    QMenu* view = menuBar_->addMenu(tr("表示(&V)"));
    addToggle(view, ids::BalanceView, tr("残額表示(&Z)"));
    QMenu* rail = view->addMenu(tr("鉄道・地下鉄 表示(&P)"));
    addToggle(rail, ids::RailCompany, tr("会社名(&C)"));
    addToggle(rail, ids::RailLine, tr("路線区(&L)"));
    QMenu* bus = view->addMenu(tr("バス 表示(&U)"));
    addToggle(bus, ids::BusCompany, tr("会社名(&C)"));
    addToggle(bus, ids::BusRoute, tr("路線区(&L)", "bus route"));
    QMenu* shop = view->addMenu(tr("店舗 表示(&N)"));
    addToggle(shop, ids::ShopShow, tr("店舗情報 表示する(&D)"));
    shop->addSeparator();
    addToggle(shop, ids::ShopCompany, tr("会社名(&C)"));
    addToggle(shop, ids::ShopName, tr("店舗名(&S)"));
    addToggle(shop, ids::ShopRegister, tr("レジ名(&R)"));
    buildLibraryParts(view);
    addCommand(view, ids::PurposeColumnView, tr("用途の列(&E)"),
               &CRidelogDlg::onTogglePurposeColumn)
        ->setCheckable(true);
    addCommand(view, ids::ShowTotals, tr("集計(&T)..."), &CRidelogDlg::onShowTotals);

    QMenu* setup = menuBar_->addMenu(tr("設定(&S)"));
    addCommand(setup, ids::ClearStationNames, tr("駅名キャッシュ削除(&C)"),
               &CRidelogDlg::onClearStationNames);
    addCommand(setup, ids::ClearBusStopNames, tr("停留所名キャッシュ削除(&B)"),
               &CRidelogDlg::onClearBusStopNames);
    addCommand(setup, ids::ClearShopNames, tr("店舗名キャッシュ削除(&T)"),
               &CRidelogDlg::onClearShopNames);
    addCommand(setup, ids::DeleteHistory, tr("履歴データ削除(&H)"), &CRidelogDlg::onDeleteHistory);
    setup->addSeparator();
    addCommand(setup, ids::RestoreBackup, tr("バックアップから復元(&U)..."),
               &CRidelogDlg::onRestoreBackup);
    setup->addSeparator();
    addCommand(setup, ids::ShowDataSetup, tr("表示設定(&D)..."), &CRidelogDlg::onShowDataSetup);
    setup->addSeparator();
    addCommand(setup, ids::AskNamesAgain, tr("駅名を再取得(&R)"), &CRidelogDlg::onAskNamesAgain);

    QMenu* help = menuBar_->addMenu(tr("ヘルプ(&H)"));
    addCommand(help, ids::About, tr("バージョン情報(&V)..."), &CRidelogDlg::onAbout);
}

void CRidelogDlg::addMenuShortcuts()
{
    commands_.at(ids::SaveToFile)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    commands_.at(ids::Exit)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void CRidelogDlg::buildContextMenu()
{
    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("menu131"));
    // The detail first; hiding rows says what it does: the stored history keeps them.
    addCommand(contextMenu_, ids::ShowDetail, tr("詳細表示(&D)..."), &CRidelogDlg::onShowDetail);
    addRowCommands();
    contextMenu_->addSeparator();
    addCommand(contextMenu_, ids::EditPurpose, tr("用途を入力(&P)..."),
               &CRidelogDlg::onEditPurpose);
    addCommand(contextMenu_, ids::ToggleClaim, tr("精算にチェック(&M)"),
               &CRidelogDlg::onToggleClaim)
        ->setCheckable(true);
    contextMenu_->addSeparator();
    QAction* hide = addCommand(contextMenu_, ids::DeleteRows, tr("一覧から隠す(&L)"),
                               &CRidelogDlg::onDeleteRows);
    hide->setToolTip(tr("選んだ行をこの一覧から消します。保存された履歴はそのままで、次の読み取りで"
                        "また表示されます。"));
    contextMenu_->setToolTipsVisible(true);
}

void CRidelogDlg::buildHistoryList()
{
    model_ = new HistoryListModel(this);
    view_ = new HistoryViewModel(model_, this);
    list_ = new HistoryListView(client_);
    tagControl(list_, ids::HistoryList);
    list_->setModel(view_);
    list_->setSortingEnabled(false);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->header()->setStretchLastSection(false);
    // A click on a heading sorts by that column; "#" brings back the list's own order.
    list_->header()->setSectionsClickable(true);
    list_->header()->setSortIndicatorShown(true);
    list_->header()->setSortIndicator(SerialColumn, Qt::DescendingOrder);
    connect(list_->header(), &QHeaderView::sectionClicked, this, &CRidelogDlg::onHeaderClicked);
    list_->header()->setSectionsMovable(false);
    list_->header()->setSectionResizeMode(QHeaderView::Interactive);
    // The selection stays as visible when the list does not have the focus.
    QPalette palette = list_->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    }
    list_->setPalette(palette);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        showHistoryContextMenu(list_->viewport()->mapToGlobal(pos));
    });
    listHints_ = new ListHints(list_, [this] { return session_.idmText().isEmpty(); });
    connect(list_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        // A double-click on the purpose edits it; on any other cell it opens the details.
        if (index.column() == PurposeColumn)
            onEditPurpose();
        else
            showDetailOfRow(index);
    });
    list_->setItemDelegate(new CutTextToolTipDelegate(list_));
    columnFitter_ = new NameColumnFitter(list_);
    buildNoteParts();
}

void CRidelogDlg::buildBalanceBar()
{
    balanceLabel_ = new QLabel(tr("残高："), client_);
    tagControl(balanceLabel_, ids::BalanceLabel);
    balanceField_ = new QLineEdit(client_);
    tagControl(balanceField_, ids::BalanceField);
    balanceField_->setReadOnly(true);
    balanceField_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    yenLabel_ = new QLabel(tr("円"), client_);
    tagControl(yenLabel_, ids::YenLabel);

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
    tagControl(cardIdField_, ids::CardIdField);
    cardIdField_->setAlignment(Qt::AlignCenter);
    cardIdField_->hide();

    startButton_ = new QPushButton(tr("読み取り開始"), client_);
    tagControl(startButton_, ids::StartButton);
    startButton_->setAutoDefault(false);
    startButton_->hide();
    addCommand(nullptr, ids::StartReading, startButton_->text(), &CRidelogDlg::onStartReading);
    connect(startButton_, &QPushButton::clicked, commands_[ids::StartReading], &QAction::trigger);

    okButton_ = new QPushButton(tr("閉じる"), client_);
    tagControl(okButton_, ids::OkButton);
    okButton_->setDefault(true);
    okButton_->hide();
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);

    cancelButton_ = new QPushButton(tr("キャンセル"), client_);
    tagControl(cancelButton_, ids::CancelButton);
    cancelButton_->setAutoDefault(false);
    cancelButton_->hide();
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

void CRidelogDlg::buildStatusBar()
{
    statusBar_ = new QStatusBar(client_);
    tagControl(statusBar_, ids::StatusBar);
    statusBar_->setSizeGripEnabled(true);
    for (auto& pane : statusPanes_)
        pane = new QLabel(statusBar_);
    // Pane 0 takes the room the other two leave: at the default width it holds the card
    // identifier and the longest name status; the tooltip holds the rest.
    statusPanes_[0]->setMinimumWidth(200);
    statusBar_->addWidget(statusPanes_[0], 4);
    cardNamePane_ = new QLabel(statusBar_);
    cardNamePane_->setObjectName(QStringLiteral("cardNamePane"));
    statusBar_->addWidget(cardNamePane_, 0);
    cardNamePane_->hide();
    const QFontMetrics metrics(statusPanes_[1]->font());
    statusPanes_[1]->setMinimumWidth(metrics.horizontalAdvance(tr("残額：")));
    statusPanes_[1]->setFrameShape(QFrame::NoFrame);
    statusBar_->addWidget(statusPanes_[1], 0);
    // Room for a five-digit balance with its unit, whatever the language makes of it.
    statusPanes_[2]->setMinimumWidth(metrics.horizontalAdvance(tr("%1円").arg(99999)));
    statusBar_->addWidget(statusPanes_[2], 0);
    // Stays on the right for as long as history is not being saved.
    notKeptSign_ = new QLabel(historyNotKeptSignText(), statusBar_);
    notKeptSign_->setObjectName(QStringLiteral("historyNotKeptSign"));
    notKeptSign_->setStyleSheet(QStringLiteral("QLabel { color: #b00000; font-weight: bold; }"));
    statusBar_->addPermanentWidget(notKeptSign_);
    notKeptSign_->hide();
    historyFiles_->addFailureSign(statusBar_);
    addReaderPane(statusBar_, library_ != nullptr ? library_->readerName() : QString());
    statusBarHeight_ = statusBar_->sizeHint().height();
}

// ---------------------------------------------------------------------------------------
// Start-up

void CRidelogDlg::buildRefresher()
{
    refresher_ = new NameRefresher(this);
    refresher_->setServerUrl(nameServerUrl());
    refresher_->setBuiltinOnly(builtinNamesOnly(nameServerArgument_, settings_));
    connect(refresher_, &NameRefresher::statusText, this,
            [this](const QString& text, const QString& toolTip) { setStatusText(text, toolTip); });
    // The names of an answer land in one notification of the list, not one per cell.
    refresher_->setApplyScope([this](const std::function<void()>& apply) {
        HistoryListModel::NameBatch batch(*model_);
        apply();
    });
}

void CRidelogDlg::buildCardEventFilter()
{
    card::CardMessageHandlers handlers;
    handlers.readCard = [this] { readCard(); };
    handlers.clearCardIdField = [this] { onCardLost(); };
    cardFilter_ = new card::CardEventFilter(std::move(handlers), this);
    // Card events are seen before the dialog's own handling.
    installEventFilter(cardFilter_);
}

void CRidelogDlg::initDialog()
{
    buildWidgets();
    buildRefresher();
    buildCardEventFilter();
    // The rows go on showing the records of the card on display when the session empties them.
    session_.setRecordsLeaving([this](HistoryRecordSet& records) { model_->keepRecords(records); });
    session_.store().setProblemReporter([this](const DatabaseError& problem) {
        updateNotKeptSign();
        showDatabaseError(problem);
    });
    // No window-menu item: Qt offers no access to the window manager's menu on Linux; the
    // About box is reached through ヘルプ(&H).
    setWindowIcon(QIcon(QStringLiteral(":/ridelog/ridelog.png")));
    loadDisplaySettings();
    buildStatusBar();
    restoreWindowPlacement();
    restoreColumns();
    restorePurposeColumn();
    openDatabaseAtStart();
    updateNotKeptSign();
    startDatabaseCheck();
    startCardPolling();
    for (int pane = 0; pane < int(statusPanes_.size()); ++pane)
        setPaneText(pane, QString());
}

QRect CRidelogDlg::workArea() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

namespace {

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

int CRidelogDlg::listClientWidth() const
{
    return list_->width() - 2 * list_->frameWidth();
}

void CRidelogDlg::restoreColumns()
{
    // Widths not stored yet fit the content in the current font.
    columnFitter_->setWidths(
        readColumnWidths(settings_, listClientWidth(), contentColumnWidths(*list_)));
}

void CRidelogDlg::openDatabaseAtStart()
{
    const std::optional<DatabaseError> problem = session_.openStore();
    updateNotKeptSign();
    if (problem)
        showDatabaseError(*problem);
}

void CRidelogDlg::layoutClient(const QSize& clientSize)
{
    if (statusBar_ != nullptr) {
        statusBar_->setGeometry(0, clientSize.height() - statusBarHeight_, clientSize.width(),
                                statusBarHeight_);
        fitReaderPane();
    }
    if (list_ == nullptr)
        return;
    const QRect current = list_->geometry();
    list_->setGeometry(current.left(), current.top(), clientSize.width() - current.left(),
                       clientSize.height() - statusBarHeight_ - current.top());
}

bool CRidelogDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == client_ && event->type() == QEvent::Resize)
        layoutClient(static_cast<QResizeEvent*>(event)->size());
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------
// Commands

QAction* CRidelogDlg::commandAction(int commandId) const
{
    const auto it = commands_.find(commandId);
    return it == commands_.end() ? nullptr : it->second;
}

QList<int> CRidelogDlg::commandIds() const
{
    QList<int> result;
    for (const auto& [id, action] : commands_)
        result.append(id);
    return result;
}

bool CRidelogDlg::triggerCommand(int commandId)
{
    QAction* action = commandAction(commandId);
    if (action == nullptr || !action->isEnabled())
        return false;
    action->trigger();
    return true;
}

void CRidelogDlg::onExit()
{
    accept();
}

void CRidelogDlg::onAbout()
{
    auto* about = new CAboutDlg(nameServerUrl(), this);
    about->setReaderName(library_ != nullptr ? library_->readerName() : QString());
    about->setBuiltinNamesOnly(builtinNamesOnly(nameServerArgument_, settings_));
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

void CRidelogDlg::onStartReading()
{
    startCardPolling();
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
        showDetailOfRow(list_->currentIndex());
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cancelButton_->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------
// Display settings

void CRidelogDlg::loadDisplaySettings()
{
    flags_ = settings_.displayFlags();
    for (const auto& toggle : displayToggles())
        commands_.at(toggle.commandId)->setChecked(flags_.*toggle.flag);
    updateShopItemsEnabled();
    setBalanceBarVisible(flags_.balanceBarShown);
}

void CRidelogDlg::updateShopItemsEnabled()
{
    for (int commandId : kShopDetailCommands)
        commands_.at(commandId)->setEnabled(flags_.shopInfoShown);
}

void CRidelogDlg::toggleDisplayFlag(int commandId)
{
    const DisplayToggle* toggle = toggleFor(commandId);
    if (toggle == nullptr)
        return;
    bool& flag = flags_.*toggle->flag;
    flag = !flag;
    settings_.writeFlag(TrfcSettings::displayFlagName(toggle->flag), flag);
    commands_.at(commandId)->setChecked(flag);
    if (commandId == ids::ShopShow)
        updateShopItemsEnabled();
    if (commandId == ids::BalanceView)
        setBalanceBarVisible(flag);
    else
        (this->*toggle->apply)();
}

void CRidelogDlg::refreshRailNames()
{
    ridelog::refreshRailNames(*model_, session_.records(), session_.caches().stations, flags_);
}

void CRidelogDlg::refreshBusNames()
{
    ridelog::refreshBusNames(*model_, session_.records(), session_.caches().busStops, flags_);
}

void CRidelogDlg::refreshShopNames()
{
    ridelog::refreshShopNames(*model_, session_.records(), session_.caches().shops, flags_);
}

void CRidelogDlg::setBalanceBarVisible(bool visible)
{
    const QRect current = list_->geometry();
    const int bottom = current.top() + current.height();
    const int top = visible ? kListTopWithBalanceBar : 0;
    list_->setGeometry(current.left(), top, current.width(), bottom - top);
    balanceLabel_->setVisible(visible);
    balanceField_->setVisible(visible);
    yenLabel_->setVisible(visible);
}

bool CRidelogDlg::isBalanceBarVisible() const
{
    return !balanceField_->isHidden();
}

// ---------------------------------------------------------------------------------------
// Status bar

void CRidelogDlg::setPaneText(int pane, const QString& text)
{
    if (statusBar_ == nullptr)
        return;
    statusPanes_[std::size_t(pane)]->setText(text);
    // A narrow window cuts the free text; its tooltip keeps the whole of it until a status
    // with details of its own replaces it.
    if (pane == 0)
        showPaneToolTip(text);
    else
        statusPanes_[std::size_t(pane)]->setToolTip(QString());
}

void CRidelogDlg::showPaneToolTip(const QString& text)
{
    QString tip = text;
    if (shownKind_)
        tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) +
               tr("カードの種類：%1").arg(card::cardKindName(*shownKind_));
    statusPanes_[0]->setToolTip(tip);
}

QLabel* CRidelogDlg::statusPane(int pane) const
{
    if (statusBar_ == nullptr || pane < 0 || pane >= int(statusPanes_.size()))
        return nullptr;
    return statusPanes_[std::size_t(pane)];
}

QString CRidelogDlg::statusPaneToolTip(int pane) const
{
    const QLabel* label = statusPane(pane);
    return label ? label->toolTip() : QString();
}

QString CRidelogDlg::statusPaneText(int pane) const
{
    if (statusBar_ == nullptr || pane < 0 || pane >= int(statusPanes_.size()))
        return QString();
    return statusPanes_[std::size_t(pane)]->text();
}

void CRidelogDlg::setStatusText(const QString& text, const QString& toolTip)
{
    // Deep copies: the caller's texts may change or go away as soon as this returns.
    QString copy(text.constData(), text.size());
    QString tipCopy(toolTip.constData(), toolTip.size());
    QMetaObject::invokeMethod(
        this,
        [this, copy = std::move(copy), tipCopy = std::move(tipCopy)] {
            setPaneText(0, copy);
            if (QLabel* pane = statusPane(0))
                pane->setToolTip(tipCopy);
            fitReaderPane();
        },
        Qt::AutoConnection);
}

// The status of pane 0 is never cut: while it needs the room, the reader's name (also in its
// tooltip and the About box) is shortened further.
void CRidelogDlg::fitReaderPane()
{
    auto* reader =
        statusBar_ ? statusBar_->findChild<QLabel*>(QStringLiteral("readerPane")) : nullptr;
    if (reader == nullptr || reader->isHidden() || library_ == nullptr)
        return;
    const QFontMetrics metrics(reader->font());
    constexpr int kSpacing = 48; // frames, gaps between the panes, the size grip
    const int status = statusPanes_[0]->fontMetrics().horizontalAdvance(statusPanes_[0]->text());
    const int others = statusPanes_[1]->minimumWidth() + statusPanes_[2]->minimumWidth() +
                       (cardNamePane_->isVisible() ? cardNamePane_->sizeHint().width() : 0);
    const int room = statusBar_->width() - std::max(status, 200) - others - kSpacing;
    const int widest = std::min(metrics.averageCharWidth() * 34, std::max(room, 0));
    reader->setText(metrics.elidedText(library_->readerName(), Qt::ElideRight, widest));
}

// 駅名を再取得(&R): the name refresh once more for the rows on display, for instance after
// the name server came back; nothing before a card was read.
void CRidelogDlg::onAskNamesAgain()
{
    if (session_.idmText().isEmpty() || model_->rowCount() == 0)
        return;
    refresher_->cancel();
    session_.nameRefreshTable().clear();
    startNameRefresh();
}

// ---------------------------------------------------------------------------------------
// Context menu

bool CRidelogDlg::showHistoryContextMenu(const QPoint& globalPos)
{
    const QModelIndexList selected = list_->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return false;
    QAction* detail = commands_.at(ids::ShowDetail);
    detail->setEnabled(selected.size() == 1);
    const std::vector<std::uint32_t> serials = selectedSerials();
    commands_.at(ids::EditPurpose)->setEnabled(!serials.empty());
    QAction* claim = commands_.at(ids::ToggleClaim);
    claim->setEnabled(!serials.empty());
    claim->setChecked(!serials.empty() &&
                      std::all_of(serials.begin(), serials.end(), [this](auto s) {
                          const JourneyNote* note = notes_->noteOf(s);
                          return note != nullptr && note->claimed;
                      }));
    if (selected.size() == 1) {
        const int row = selected.first().row();
        selectedSerial_ = serialOfRow(*view_, row);
    }
    contextMenu_->popup(globalPos);
    return true;
}

HistoryRecord* CRidelogDlg::selectedRecord()
{
    if (!selectedSerial_)
        return nullptr;
    return findRecordBySerial(session_.records(), *selectedSerial_);
}

// ---------------------------------------------------------------------------------------
// Card events and the card read

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
    setPaneText(0, ListHints::cardTakenOffText());
    listHints_->setRowsMarkedAsLastRead(true);
}

void CRidelogDlg::showDatabaseError(const DatabaseError& error)
{
    MessageBox::show(this, databaseProblemText(error.engineCode()), error.message());
}

void CRidelogDlg::updateNotKeptSign()
{
    if (notKeptSign_ == nullptr)
        return;
    const HistoryStore& store = session_.store();
    const QString& reason = store.notKeptReason();
    const QString where =
        store.DataFolder().isEmpty() ? HistoryStore::databaseFileName() : store.databasePath();
    notKeptSign_->setToolTip(reason + u'\n' + where);
    notKeptSign_->setVisible(!reason.isEmpty());
}

void CRidelogDlg::startDatabaseCheck()
{
    if (session_.store().state() == DatabaseState::None)
        return;
    databaseCheck_ = new DatabaseCheck(this);
    connect(databaseCheck_, &DatabaseCheck::finished, this, &CRidelogDlg::databaseChecked);
    databaseCheck_->start(session_.store().databasePath(), HistoryStore::kDefaultBusyTimeoutMs);
}

void CRidelogDlg::databaseChecked(const QuickCheckResult& result)
{
    databaseCheck_->deleteLater();
    databaseCheck_ = nullptr;
    if (!result.damaged) {
        if (!result.text.isEmpty())
            qWarning("ridelog: the database could not be checked: %s", qUtf8Printable(result.text));
        return;
    }
    session_.store().markDamaged(result.engineCode, result.text);
    updateNotKeptSign();
    showDatabaseError(DatabaseError(result.engineCode, result.text));
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
    selectedSerial_.reset();
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
    listHints_->setRowsMarkedAsLastRead(false);
    const CardSession::ReadOutcome outcome = session_.takeRead(card);
    if (outcome.storedBlocks > 0)
        historyFiles_->readStored();
    setPaneText(0, card.idmText);
    cardIdField_->setText(card.idmText);
    model_->removeRows(0, model_->rowCount());
    showBalance();
    fillHistoryList();
    showDatabaseProblems(outcome.problems);
    commands_.at(ids::SaveToFile)->setEnabled(!session_.records().empty());
    list_->viewport()->update(); // a card was read: no more invitation
    noteCardRead();
    startNameRefresh();
}

void CRidelogDlg::startNameRefresh()
{
    refresher_->start(*model_, session_.records(), session_.caches(), session_.nameRefreshTable(),
                      session_.idmText(), flags_);
}

void CRidelogDlg::showDatabaseProblems(const std::vector<DatabaseError>& problems)
{
    updateNotKeptSign();
    for (const DatabaseError& problem : problems)
        showDatabaseError(problem);
}

void CRidelogDlg::fillHistoryList()
{
    // The view paints once, after the last row.
    list_->setUpdatesEnabled(false);
    showNotesOfCard();
    ridelog::fillHistoryList(*model_, session_.records(), session_.missedHistory());
    model_->setGateTimes(session_.gateTimes());
    list_->setUpdatesEnabled(true);
}

void CRidelogDlg::showBalance()
{
    const std::optional<int> balance = session_.balance();
    if (!balance) {
        balanceField_->clear();
        setPaneText(1, QString());
        setPaneText(2, QString());
        return;
    }
    const QString text = QString::number(*balance);
    balanceField_->setText(text);
    setPaneText(1, tr("残額："));
    setPaneText(2, tr("%1円").arg(text));
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
    saveWindowState();
    settings_.save();
    writeBackNames();
}

void CRidelogDlg::saveWindowState()
{
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
    // The name columns without the width they took from a larger window.
    writeColumnWidths(settings_, columnFitter_->storedWidths());
    savePurposeColumn();
}

void CRidelogDlg::writeBackNames()
{
    if (const std::optional<DatabaseError> problem = session_.writeBackNames())
        showDatabaseProblems({*problem});
}

} // namespace ridelog
