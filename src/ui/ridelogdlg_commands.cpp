// The menus of the main window and every command in them: the one place where a command id is
// joined to what it does.
#include "names/namerefresher.h"
#include "ui/aboutdlg.h"
#include "ui/cardmenu.h"
#include "ui/clearingcommands.h"
#include "ui/commandids.h"
#include "ui/expensecommands.h"
#include "ui/historyfilecommands.h"
#include "ui/historylist.h"
#include "ui/historylistpane.h"
#include "ui/historylistview.h"
#include "ui/historymodel.h"
#include "ui/historysearchbar.h"
#include "ui/listcommands.h"
#include "ui/mainstatusbar.h"
#include "ui/notecommands.h"
#include "ui/ridelogdlg.h"
#include "ui/rowcopy.h"
#include "ui/showdatasetupdlg.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>

namespace ridelog {

namespace {

constexpr int kHiddenMessageMs = 6000;

// Which shown names a display flag changes.
enum class NameKind
{
    None, // the balance bar
    Rail,
    Bus,
    Shop
};

// One menu toggle: its command, the flag it flips and the names it recomposes.
struct DisplayToggle
{
    int commandId;
    bool DisplayFlags::*flag;
    NameKind names;
};

constexpr std::array<int, 3> kShopDetailCommands{ids::ShopCompany, ids::ShopName,
                                                 ids::ShopRegister};

const std::array<DisplayToggle, 9>& displayToggles()
{
    static const std::array<DisplayToggle, 9> toggles{{
        {ids::BalanceView, &DisplayFlags::balanceBarShown, NameKind::None},
        {ids::RailCompany, &DisplayFlags::railCompanyShown, NameKind::Rail},
        {ids::RailLine, &DisplayFlags::railLineShown, NameKind::Rail},
        {ids::BusCompany, &DisplayFlags::busCompanyShown, NameKind::Bus},
        {ids::BusRoute, &DisplayFlags::busRouteShown, NameKind::Bus},
        {ids::ShopShow, &DisplayFlags::shopInfoShown, NameKind::Shop},
        {ids::ShopCompany, &DisplayFlags::shopCompanyShown, NameKind::Shop},
        {ids::ShopName, &DisplayFlags::shopNameShown, NameKind::Shop},
        {ids::ShopRegister, &DisplayFlags::shopRegisterShown, NameKind::Shop},
    }};
    return toggles;
}

void enableShopDetails(const CommandMap& commands, const DisplayFlags& flags)
{
    for (int commandId : kShopDetailCommands)
        commands.action(commandId)->setEnabled(flags.shopInfoShown);
}

// The shown names of one kind composed again with the current flags.
void recomposeNames(NameKind kind, HistoryListModel& rows, CardSession& session,
                    const DisplayFlags& flags)
{
    NameCaches& caches = session.caches();
    switch (kind) {
    case NameKind::None:
        break;
    case NameKind::Rail:
        refreshRailNames(rows, session.records(), caches.stations, flags);
        break;
    case NameKind::Bus:
        refreshBusNames(rows, session.records(), caches.busStops, flags);
        break;
    case NameKind::Shop:
        refreshShopNames(rows, session.records(), caches.shops, flags);
        break;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------
// The menus

void CRidelogDlg::buildMenuBar()
{
    QMenu* file = menuBar_->addMenu(tr("ファイル(&F)"));
    QAction* save = commands_.add(file, ids::SaveToFile, tr("ファイルに保存(&S)"),
                                  [this] { expenses_->saveToFile(); });
    save->setEnabled(false);
    commands_.add(file, ids::MakeClaimForm, tr("精算書を作成(&R)..."),
                  [this] { expenses_->makeClaimForm(); });
    commands_.add(file, ids::TakeInHistory, tr("他の履歴を取り込む(&I)..."),
                  [this] { runCardOperation([this] { historyFiles_->takeInOtherHistory(); }); });
    file->addSeparator();
    QAction* exit = commands_.add(file, ids::Exit, tr("終了(&X)"), [this] { accept(); });
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    buildViewMenu(menuBar_->addMenu(tr("表示(&V)")));

    buildSetupMenu(menuBar_->addMenu(tr("設定(&S)")));

    QMenu* help = menuBar_->addMenu(tr("ヘルプ(&H)"));
    commands_.add(help, ids::About, tr("バージョン情報(&V)..."), [this] {
        auto* about = new CAboutDlg(nameServerUrl(), this);
        about->setReaderName(library_ != nullptr ? library_->readerName() : QString());
        about->setBuiltinNamesOnly(builtinNamesOnly(nameServerArgument_, settings_));
        about->setAttribute(Qt::WA_DeleteOnClose);
        about->open();
    });
}

void CRidelogDlg::buildSetupMenu(QMenu* setup)
{
    // The clearing commands run as one card operation with the read that ends them: a card put
    // on while one of their boxes is open is read after them.
    const auto clearNames = [this](NameTable table) {
        return [this, table] {
            runCardOperation([this, table] { clearingCommands().ClearNameCache(table); });
        };
    };
    commands_.add(setup, ids::ClearStationNames, tr("駅名キャッシュ削除(&C)"),
                  clearNames(NameTable::Stations));
    commands_.add(setup, ids::ClearBusStopNames, tr("停留所名キャッシュ削除(&B)"),
                  clearNames(NameTable::BusStops));
    commands_.add(setup, ids::ClearShopNames, tr("店舗名キャッシュ削除(&T)"),
                  clearNames(NameTable::Shops));
    // A stored card shown from the library may not be the card read last: then nothing is
    // known to be on the card, and every stored entry counts as lost.
    commands_.add(setup, ids::DeleteHistory, tr("履歴データ削除(&H)"), [this] {
        runCardOperation([this] {
            const QString idm = session_.idmText();
            clearingCommands().ClearCardHistory(idm, session_.deliveredSerials(idm));
        });
    });
    setup->addSeparator();
    commands_.add(setup, ids::RestoreBackup, tr("バックアップから復元(&U)..."),
                  [this] { runCardOperation([this] { historyFiles_->restoreFromBackup(); }); });
    setup->addSeparator();
    // The display settings dialog, then the settings again and the three recompositions,
    // whichever way the dialog was closed.
    commands_.add(setup, ids::ShowDataSetup, tr("表示設定(&D)..."), [this] {
        {
            CShowDataSetupDlg dialog(settings_, this);
            dialog.exec();
        }
        loadDisplaySettings();
        for (const NameKind kind : {NameKind::Rail, NameKind::Bus, NameKind::Shop})
            recomposeNames(kind, *list_->rows(), session_, flags_);
    });
    setup->addSeparator();
    // The name refresh once more for the rows on display, for instance after the name server
    // came back; nothing before a card was read.
    commands_.add(setup, ids::AskNamesAgain, tr("駅名を再取得(&R)"), [this] {
        if (session_.idmText().isEmpty() || list_->rows()->rowCount() == 0)
            return;
        refresher_->cancel();
        session_.nameRefreshTable().clear();
        startNameRefresh();
    });
}

void CRidelogDlg::buildViewMenu(QMenu* view)
{
    const auto toggle = [this](QMenu* menu, int id, const QString& text) {
        commands_.addToggle(menu, id, text, [this, id] { toggleDisplayFlag(id); });
    };
    toggle(view, ids::BalanceView, tr("残額表示(&Z)"));
    QMenu* rail = view->addMenu(tr("鉄道・地下鉄 表示(&P)"));
    toggle(rail, ids::RailCompany, tr("会社名(&C)"));
    toggle(rail, ids::RailLine, tr("路線区(&L)"));
    QMenu* bus = view->addMenu(tr("バス 表示(&U)"));
    toggle(bus, ids::BusCompany, tr("会社名(&C)"));
    toggle(bus, ids::BusRoute, tr("路線区(&L)", "bus route"));
    QMenu* shop = view->addMenu(tr("店舗 表示(&N)"));
    toggle(shop, ids::ShopShow, tr("店舗情報 表示する(&D)"));
    shop->addSeparator();
    toggle(shop, ids::ShopCompany, tr("会社名(&C)"));
    toggle(shop, ids::ShopName, tr("店舗名(&S)"));
    toggle(shop, ids::ShopRegister, tr("レジ名(&R)"));

    view->addSeparator();
    QAction* search =
        commands_.add(view, ids::Search, tr("検索(&F)..."), [this] { searchBar_->open(); });
    search->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    search->setShortcutContext(Qt::WindowShortcut);
    addAction(search);
    connect(searchBar_, &HistorySearchBar::filterChanged, list_, &HistoryListPane::setFilter);

    cardMenu_ = new CardMenu(
        this, menuBar_, commands_, session_,
        {[this](const QString& idm) { return showStoredCard(idm); }, [this] { readCard(); },
         [this] { return !cardIdField_->text().isEmpty(); }, [this] { showCardName(); }});
    commands_.addToggle(view, ids::PurposeColumnView, tr("用途の列(&E)"), [this] {
        list_->setPurposeColumnShown(commands_.action(ids::PurposeColumnView)->isChecked());
    });
    commands_.addToggle(view, ids::TimeColumnView, tr("時刻の列(&G)"), [this] {
        list_->setTimeColumnShown(commands_.action(ids::TimeColumnView)->isChecked());
    });
    commands_.add(view, ids::ShowTotals, tr("集計(&T)..."), [this] { expenses_->showTotals(); });
}

void CRidelogDlg::buildContextMenu()
{
    QMenu* menu = list_->contextMenu();
    // The detail first; hiding rows says what it does: the stored history keeps them.
    const auto showDetail = [this] {
        const std::optional<std::uint32_t> serial = list_->chosenSerial();
        NameCaches& caches = session_.caches();
        showRecordDetail(this, serial ? findRecordBySerial(session_.records(), *serial) : nullptr,
                         caches.stations, caches.busStops, caches.shops, &session_.gateTimes());
    };
    commands_.add(menu, ids::ShowDetail, tr("詳細表示(&D)..."), showDetail);
    connect(list_, &HistoryListPane::detailWanted, this, showDetail);
    // コピー(&C): the selected rows as the blank-separated export writes them. The shortcut works
    // anywhere in the window, not only while the context menu is open.
    QAction* copy = commands_.add(menu, ids::CopyRows, tr("コピー(&C)"),
                                  [this] { copySelectedRows(*list_->view()); });
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    copy->setShortcutContext(Qt::WindowShortcut);
    addAction(copy);
    menu->addSeparator();
    // F2 edits the purpose of the selected rows, as it renames in a file manager.
    QAction* edit = commands_.add(menu, ids::EditPurpose, tr("用途を入力(&P)..."),
                                  [this] { notes_->editPurpose(); });
    edit->setShortcut(QKeySequence(Qt::Key_F2));
    edit->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    list_->view()->addAction(edit);
    connect(list_, &HistoryListPane::purposeEditWanted, notes_, &NoteCommands::editPurpose);
    QAction* claim = commands_.addToggle(menu, ids::ToggleClaim, tr("精算にチェック(&M)"),
                                         [this] { notes_->toggleClaim(); });
    menu->addSeparator();
    // The selected rows leave the list, not the stored history; the status bar says so for a
    // few seconds.
    QAction* hide = commands_.add(menu, ids::DeleteRows, tr("一覧から隠す(&L)"), [this] {
        const int hidden =
            deleteSelectedRows(*list_->shownRows(), *list_->view()->selectionModel());
        if (hidden > 0)
            statusBar_->showMessage(tr("%1 "
                                       "行を一覧から隠しました。保存された履歴はそのままで、次の"
                                       "読み取りでまた表示されます。")
                                        .arg(hidden),
                                    kHiddenMessageMs);
    });
    hide->setToolTip(tr("選んだ行をこの一覧から消します。保存された履歴はそのままで、次の読み取りで"
                        "また表示されます。"));
    connect(list_, &HistoryListPane::contextMenuOpening, this, [this, edit, claim](int rows) {
        commands_.action(ids::ShowDetail)->setEnabled(rows == 1);
        notes_->followSelection(edit, claim);
    });
}

// ---------------------------------------------------------------------------------------
// Display settings

void CRidelogDlg::loadDisplaySettings()
{
    flags_ = settings_.displayFlags();
    for (const auto& toggle : displayToggles())
        commands_.action(toggle.commandId)->setChecked(flags_.*toggle.flag);
    enableShopDetails(commands_, flags_);
    setBalanceBarVisible(flags_.balanceBarShown);
}

void CRidelogDlg::toggleDisplayFlag(int commandId)
{
    const auto& toggles = displayToggles();
    const auto toggle = std::find_if(toggles.begin(), toggles.end(), [commandId](const auto& t) {
        return t.commandId == commandId;
    });
    if (toggle == toggles.end())
        return;
    bool& flag = flags_.*toggle->flag;
    flag = !flag;
    settings_.writeFlag(TrfcSettings::displayFlagName(toggle->flag), flag);
    commands_.action(commandId)->setChecked(flag);
    if (commandId == ids::ShopShow)
        enableShopDetails(commands_, flags_);
    if (toggle->names == NameKind::None)
        setBalanceBarVisible(flag);
    else
        recomposeNames(toggle->names, *list_->rows(), session_, flags_);
}

ClearingCommands CRidelogDlg::clearingCommands()
{
    return ClearingCommands(this, session_.store(), session_.caches(),
                            {[this] { refresher_->cancel(); }, [this] { list_->rows()->clear(); },
                             [this] { performRead(); }});
}

} // namespace ridelog
