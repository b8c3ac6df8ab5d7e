#include "ui/ridelogdlg.h"

#include "ui/aboutdlg.h"
#include "ui/commandids.h"
#include "ui/historylist.h"
#include "ui/messagebox.h"
#include "ui/readerpane.h"
#include "ui/waitcursor.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace ridelog {

namespace {

// The list's top edge while the balance bar is shown above it.
constexpr int kListTopWithBalanceBar = 29;

const QString kReadFailedText =
    QStringLiteral("カードを読み取れませんでした。\r\nもう一度カードをセットしなおしてください。");

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
        {ids::BalanceView, &DisplayFlags::zanViewM, nullptr},
        {ids::RailCompany, &DisplayFlags::ipnComShow, &CRidelogDlg::refreshRailNames},
        {ids::RailLine, &DisplayFlags::ipnLinShow, &CRidelogDlg::refreshRailNames},
        {ids::BusCompany, &DisplayFlags::busComShow, &CRidelogDlg::refreshBusNames},
        {ids::BusRoute, &DisplayFlags::busLinShow, &CRidelogDlg::refreshBusNames},
        {ids::ShopShow, &DisplayFlags::bpnShow, &CRidelogDlg::refreshShopNames},
        {ids::ShopCompany, &DisplayFlags::bpnComShow, &CRidelogDlg::refreshShopNames},
        {ids::ShopName, &DisplayFlags::bpnStoShow, &CRidelogDlg::refreshShopNames},
        {ids::ShopRegister, &DisplayFlags::bpnRegShow, &CRidelogDlg::refreshShopNames},
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
    , settings_(settings)
    , library_(library)
    , context_(context)
{
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
}

QUrl CRidelogDlg::nameServerUrl() const
{
    return ridelog::nameServerUrl(nameServerArgument_, settings_);
}

// ---------------------------------------------------------------------------------------
// Construction

void CRidelogDlg::buildWidgets()
{
    setWindowTitle(QStringLiteral("交通費履歴読出"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setMinimumSize(kMinimumWindowWidth, kMinimumWindowHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    menuBar_ = new QMenuBar(this);
    layout->setMenuBar(menuBar_);
    client_ = new QWidget(this);
    client_->installEventFilter(this);
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
    QMenu* file = menuBar_->addMenu(QStringLiteral("ファイル(&F)"));
    addCommand(file, ids::SaveToFile, QStringLiteral("ファイルに保存(&S)"),
               &CRidelogDlg::onSaveToFile)
        ->setEnabled(false);
    file->addSeparator();
    addCommand(file, ids::Exit, QStringLiteral("終了(&X)"), &CRidelogDlg::onExit);

    QMenu* view = menuBar_->addMenu(QStringLiteral("表示(&V)"));
    addToggle(view, ids::BalanceView, QStringLiteral("残額表示(&Z)"));
    QMenu* rail = view->addMenu(QStringLiteral("鉄道・地下鉄 表示(&P)"));
    addToggle(rail, ids::RailCompany, QStringLiteral("会社名(&C)"));
    addToggle(rail, ids::RailLine, QStringLiteral("路線区(&L)"));
    QMenu* bus = view->addMenu(QStringLiteral("バス 表示(&U)"));
    addToggle(bus, ids::BusCompany, QStringLiteral("会社名(&C)"));
    addToggle(bus, ids::BusRoute, QStringLiteral("路線区(&L)"));
    QMenu* shop = view->addMenu(QStringLiteral("店舗 表示(&N)"));
    addToggle(shop, ids::ShopShow, QStringLiteral("店舗情報 表示する(&D)"));
    shop->addSeparator();
    addToggle(shop, ids::ShopCompany, QStringLiteral("会社名(&C)"));
    addToggle(shop, ids::ShopName, QStringLiteral("店舗名(&S)"));
    addToggle(shop, ids::ShopRegister, QStringLiteral("レジ名(&R)"));

    QMenu* setup = menuBar_->addMenu(QStringLiteral("設定(&S)"));
    addCommand(setup, ids::ClearStationNames, QStringLiteral("駅名キャッシュ削除(&C)"),
               &CRidelogDlg::onClearStationNames);
    addCommand(setup, ids::ClearBusStopNames, QStringLiteral("停留所名キャッシュ削除(&B)"),
               &CRidelogDlg::onClearBusStopNames);
    addCommand(setup, ids::ClearShopNames, QStringLiteral("店舗名キャッシュ削除(&T)"),
               &CRidelogDlg::onClearShopNames);
    addCommand(setup, ids::DeleteHistory, QStringLiteral("履歴データ削除(&H)"),
               &CRidelogDlg::onDeleteHistory);
    setup->addSeparator();
    addCommand(setup, ids::ShowDataSetup, QStringLiteral("表示設定(&D)..."),
               &CRidelogDlg::onShowDataSetup);

    QMenu* help = menuBar_->addMenu(QStringLiteral("ヘルプ(&H)"));
    addCommand(help, ids::About, QStringLiteral("バージョン情報(&V)..."), &CRidelogDlg::onAbout);
}

void CRidelogDlg::buildContextMenu()
{
    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("menu131"));
    addCommand(contextMenu_, ids::DeleteRows, QStringLiteral("削除(&L)"),
               &CRidelogDlg::onDeleteRows);
    addCommand(contextMenu_, ids::ShowDetail, QStringLiteral("詳細表示(&D)..."),
               &CRidelogDlg::onShowDetail);
}

void CRidelogDlg::buildHistoryList()
{
    model_ = new QStandardItemModel(this);
    prepareHistoryModel(*model_);
    list_ = new QTreeView(client_);
    tagControl(list_, ids::HistoryList);
    list_->setModel(model_);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setSortingEnabled(false);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionsClickable(false);
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
}

void CRidelogDlg::buildBalanceBar()
{
    balanceLabel_ = new QLabel(QStringLiteral("残高："), client_);
    tagControl(balanceLabel_, ids::BalanceLabel);
    balanceField_ = new QLineEdit(client_);
    tagControl(balanceField_, ids::BalanceField);
    balanceField_->setReadOnly(true);
    balanceField_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    yenLabel_ = new QLabel(QStringLiteral("円"), client_);
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

    startButton_ = new QPushButton(QStringLiteral("読み取り開始"), client_);
    tagControl(startButton_, ids::StartButton);
    startButton_->setAutoDefault(false);
    startButton_->hide();
    addCommand(nullptr, ids::StartReading, startButton_->text(), &CRidelogDlg::onStartReading);
    connect(startButton_, &QPushButton::clicked, commands_[ids::StartReading], &QAction::trigger);

    okButton_ = new QPushButton(QStringLiteral("閉じる"), client_);
    tagControl(okButton_, ids::OkButton);
    okButton_->setDefault(true);
    okButton_->hide();
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);

    cancelButton_ = new QPushButton(QStringLiteral("キャンセル"), client_);
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
    statusPanes_[0]->setMinimumWidth(200);
    statusBar_->addWidget(statusPanes_[0], 1);
    const QFontMetrics metrics(statusPanes_[1]->font());
    statusPanes_[1]->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("残額：")));
    statusPanes_[1]->setFrameShape(QFrame::NoFrame);
    statusBar_->addWidget(statusPanes_[1], 0);
    statusPanes_[2]->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("0")));
    statusBar_->addWidget(statusPanes_[2], 1);
    addReaderPane(statusBar_, library_ != nullptr ? library_->readerName() : QString());
    statusBarHeight_ = statusBar_->sizeHint().height();
}

// ---------------------------------------------------------------------------------------
// Start-up

void CRidelogDlg::buildRefresher()
{
    refresher_ = new NameRefresher(this);
    refresher_->setServerUrl(nameServerUrl());
    connect(refresher_, &NameRefresher::statusText, this, &CRidelogDlg::setStatusText);
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
    store_.setProblemReporter([this](const QString& text) { showDatabaseError(text); });
    // No window-menu item: Qt offers no access to the window manager's menu on Linux; the
    // About box is reached through ヘルプ(&H).
    setWindowIcon(QIcon(QStringLiteral(":/ridelog/ridelog.png")));
    loadDisplaySettings();
    buildStatusBar();
    restoreWindowPlacement();
    restoreColumns();
    openDatabaseAtStart();
    startCardPolling();
    for (int pane = 0; pane < int(statusPanes_.size()); ++pane)
        setPaneText(pane, QString());
}

QRect CRidelogDlg::workArea() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

void CRidelogDlg::restoreWindowPlacement()
{
    const QRect rect =
        restoredWindowRect(readStoredPlacement(settings_), workArea(), statusBarHeight_);
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
    const ColumnWidths widths = readColumnWidths(settings_, listClientWidth());
    for (int column = 0; column < kHistoryColumns; ++column)
        list_->header()->resizeSection(column, widths[std::size_t(column)]);
}

void CRidelogDlg::openDatabaseAtStart()
{
    runStoreStep([this] { store_.OpenDatabaseAtStart(caches_); });
}

void CRidelogDlg::layoutClient(const QSize& clientSize)
{
    if (statusBar_ != nullptr) {
        statusBar_->setGeometry(0, clientSize.height() - statusBarHeight_, clientSize.width(),
                                statusBarHeight_);
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
    if (plainKey && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        okButton_->click();
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
    setBalanceBarVisible(flags_.zanViewM);
}

void CRidelogDlg::updateShopItemsEnabled()
{
    for (int commandId : kShopDetailCommands)
        commands_.at(commandId)->setEnabled(flags_.bpnShow);
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
    ridelog::refreshRailNames(*model_, records_, caches_.stations, flags_);
}

void CRidelogDlg::refreshBusNames()
{
    ridelog::refreshBusNames(*model_, records_, caches_.busStops, flags_);
}

void CRidelogDlg::refreshShopNames()
{
    ridelog::refreshShopNames(*model_, records_, caches_.shops, flags_);
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
    if (statusBar_ != nullptr)
        statusPanes_[std::size_t(pane)]->setText(text);
}

QString CRidelogDlg::statusPaneText(int pane) const
{
    if (statusBar_ == nullptr || pane < 0 || pane >= int(statusPanes_.size()))
        return QString();
    return statusPanes_[std::size_t(pane)]->text();
}

void CRidelogDlg::setStatusText(const QString& text)
{
    // A deep copy: the caller's text may change or go away as soon as this returns.
    QString copy(text.constData(), text.size());
    QMetaObject::invokeMethod(
        this, [this, copy = std::move(copy)] { setPaneText(0, copy); }, Qt::AutoConnection);
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
    if (selected.size() == 1) {
        const int row = selected.first().row();
        selectedSerial_ = serialOfRow(*model_, row);
    }
    contextMenu_->popup(globalPos);
    return true;
}

HistoryRecord* CRidelogDlg::selectedRecord()
{
    if (!selectedSerial_)
        return nullptr;
    return findRecordBySerial(records_, *selectedSerial_);
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
    cardIdField_->clear();
}

template <typename Step> void CRidelogDlg::runStoreStep(Step step)
{
    try {
        step();
    } catch (const DatabaseError& error) {
        showDatabaseError(error.message());
    }
}

void CRidelogDlg::showDatabaseError(const QString& engineText)
{
    MessageBox::show(this, engineText);
}

void CRidelogDlg::readCard()
{
    WaitCursor wait;
    refresher_->cancel();
    records_.clear();
    cardBlocks_.clear();
    refreshTable_.clear();
    selectedSerial_.reset();

    card::CardReadResult card;
    if (library_ != nullptr && context_ != nullptr)
        card = card::readCardHistory(*library_, *context_);
    if (!card.ok) {
        MessageBox::show(this, kReadFailedText);
        return;
    }
    currentIdm_ = card.idm;
    idmText_ = card.idmText;
    setPaneText(0, idmText_);
    runStoreStep([&] { store_.LoadStoredBlocks(idmText_, cardBlocks_); });
    cardIdField_->setText(idmText_);
    model_->removeRows(0, model_->rowCount());
    showBalance(card);
    mergeStoreAndDecode(card);
    fillHistoryList();
    commands_.at(ids::SaveToFile)->setEnabled(!records_.empty());
    refresher_->start(*model_, records_, caches_, refreshTable_, idmText_, flags_);
}

void CRidelogDlg::fillHistoryList()
{
    // The view paints once, after the last row.
    list_->setUpdatesEnabled(false);
    ridelog::fillHistoryList(*model_, records_);
    list_->setUpdatesEnabled(true);
}

void CRidelogDlg::showBalance(const card::CardReadResult& card)
{
    if (card.blocks.empty()) {
        // Nothing delivered: no balance to show rather than the one of an empty buffer.
        balanceField_->clear();
        setPaneText(1, QString());
        setPaneText(2, QString());
        return;
    }
    const QString balance = QString::number(blockBalance(card.blocks.front()));
    balanceField_->setText(balance);
    setPaneText(1, QStringLiteral("残額："));
    setPaneText(2, balance + QStringLiteral("円"));
}

void CRidelogDlg::mergeStoreAndDecode(const card::CardReadResult& card)
{
    HistoryStore::MergeCardBlocks(cardBlocks_, card.blocks);
    runStoreStep([&] { store_.StoreNewBlocks(idmText_, cardBlocks_); });
    HistoryStore::BuildRecordSet(cardBlocks_, caches_, records_);
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
    writeBackNames();
}

void CRidelogDlg::saveWindowState()
{
    StoredPlacement placement;
    placement.x = pos().x();
    placement.y = pos().y();
    placement.width = width();
    placement.height = height() + statusBarHeight_;
    writeStoredPlacement(settings_, placement);
    ColumnWidths widths{};
    for (int column = 0; column < kHistoryColumns; ++column)
        widths[std::size_t(column)] = list_->header()->sectionSize(column);
    writeColumnWidths(settings_, widths);
}

void CRidelogDlg::writeBackNames()
{
    runStoreStep([this] { store_.WriteBackNames(caches_); });
    store_.DropDatabaseObject();
}

} // namespace ridelog
