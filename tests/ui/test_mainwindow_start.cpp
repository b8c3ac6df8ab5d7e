// The main window as a user meets it at start: its defaults, the menus and their texts, the
// commands, the hidden controls of the dialog template and what it makes of stored settings.
#include "commandfixture.h"
#include "ui/columnfit.h"
#include "ui/commandids.h"

#include <QAction>
#include <QHeaderView>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>

using namespace ridelog;
using namespace ridelog::test;
using namespace Qt::StringLiterals;

namespace {

QStringList menuTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? u"-"_s : action->text());
    return texts;
}

// The checkable display commands; the shop parts are enabled only while 店舗情報 is shown.
const QList<int> kFlagCommands{ids::BalanceView, ids::RailCompany, ids::RailLine,
                               ids::BusCompany,  ids::BusRoute,    ids::ShopShow,
                               ids::ShopCompany, ids::ShopName,    ids::ShopRegister};
const QList<int> kShopParts{ids::ShopCompany, ids::ShopName, ids::ShopRegister};

} // namespace

class TestMainWindowStart : public QObject, CommandFixture
{
    Q_OBJECT

private slots:
    void init() { setUpCommands(); }
    void cleanup() { tearDownCommands(); }

    void placementAtStart_data();
    void placementAtStart();
    void menuStatesFromStoredSettings_data();
    void menuStatesFromStoredSettings();
    void menuBarTextsAndOrder();
    void everyCommandHasOneAction();
    void hiddenControlsAndTitle();
};

// Stored values that are no integers, widths out of range and a place off the work area give
// way to the defaults. Widths: -1 fits the content, 0 gives way to the narrow window (so that
// the amount stays in sight), others are kept as stored; none listed, none checked.
void TestMainWindowStart::placementAtStart_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QRect>("geometry"); // height -1: the default 300 less the status bar
    QTest::addColumn<QList<int>>("widths");
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    QTest::newRow("nothing stored")
        << QVariantMap{} << QRect(20, 20, 540, -1) << QList<int>{-1, -1, -1, -1, 0, 0, -1};
    QTest::newRow("no integers, widths out of range")
        << QVariantMap{{u"mX"_s, u"far"_s}, {u"mHeight"_s, u"tall"_s}, {u"col0"_s, 5},
                       {u"col3"_s, 25},     {u"col5"_s, 100000},       {u"col1"_s, 120}}
        << QRect(20, 20, 540, -1) << QList<int>{-1, 120, -1, -1, 0, 0, -1};
    QTest::newRow("beyond the work area")
        << QVariantMap{{u"mX"_s, work.right() + 201},
                       {u"mY"_s, 40},
                       {u"mWidth"_s, work.right() + 501}}
        << QRect(20, 40, work.right() + 1 - 20, -1) << QList<int>{};
}

void TestMainWindowStart::placementAtStart()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QRect, geometry);
    QFETCH(QList<int>, widths);
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        ini_->setValue(u"Trfc/"_s + it.key(), it.value());
    auto dlg = makeDialog();
    const int statusBarHeight = inside(*dlg).statusBarHeight();
    QVERIFY(statusBarHeight > 0);
    QCOMPARE(QRect(dlg->pos(), dlg->size()), geometry.adjusted(0, 0, 0, 300 - statusBarHeight + 1));
    const ColumnWidths fitting = contentColumnWidths(*inside(*dlg).historyList());
    for (int column = 0; column < widths.size(); ++column) {
        const int shown = inside(*dlg).historyList()->header()->sectionSize(column);
        if (widths[column] == 0)
            QVERIFY2(shown > 0 && shown <= fitting[column], qPrintable(QString::number(column)));
        else
            QCOMPARE(shown, widths[column] < 0 ? fitting[column] : widths[column]);
    }
    for (int pane = 0; pane < 3; ++pane)
        QCOMPARE(inside(*dlg).statusPaneText(pane), QString());
    QVERIFY(dlg->cardEventsEnabled());
}

// Only integer values count; anything else is the default.
void TestMainWindowStart::menuStatesFromStoredSettings_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QList<int>>("checked");
    const QList<int> defaults{ids::RailLine, ids::BusCompany, ids::ShopCompany, ids::ShopName};
    QTest::newRow("nothing stored") << QVariantMap{} << defaults;
    QTest::newRow("no integers") << QVariantMap{{u"zanViewM"_s, u"yes"_s},
                                                {u"ipnLinShow"_s, u"off"_s},
                                                {u"busComShow"_s, QString()},
                                                {u"bpnShow"_s, u"1x"_s}}
                                 << defaults;
    QTest::newRow("balance bar, no line")
        << QVariantMap{{u"ipnLinShow"_s, 0}, {u"zanViewM"_s, 7}, {u"bpnShow"_s, u"on"_s}}
        << QList<int>{ids::BalanceView, ids::BusCompany, ids::ShopCompany, ids::ShopName};
    QTest::newRow("shop information and bus route")
        << QVariantMap{{u"bpnShow"_s, 1}, {u"bpnRegShow"_s, 1}, {u"busLinShow"_s, 1}}
        << QList<int>{ids::RailLine,    ids::BusCompany, ids::BusRoute,    ids::ShopShow,
                      ids::ShopCompany, ids::ShopName,   ids::ShopRegister};
}

void TestMainWindowStart::menuStatesFromStoredSettings()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QList<int>, checked);
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        ini_->setValue(u"Trfc/"_s + it.key(), it.value());
    auto dlg = makeDialog();
    for (const int id : kFlagCommands)
        QVERIFY2(dlg->commandAction(id)->isChecked() == checked.contains(id),
                 qPrintable(QString::number(id)));
    for (const int id : kShopParts)
        QCOMPARE(dlg->commandAction(id)->isEnabled(), checked.contains(ids::ShopShow));
    const bool balanceBar = checked.contains(ids::BalanceView);
    QCOMPARE(inside(*dlg).isBalanceBarVisible(), balanceBar);
    QCOMPARE(inside(*dlg).historyList()->geometry().top(), balanceBar ? 29 : 0);
}

void TestMainWindowStart::menuBarTextsAndOrder()
{
    auto dlg = makeDialog();
    const QMenuBar* bar = dlg->findChild<QMenuBar*>();
    QVERIFY(bar != nullptr);
    QStringList titles;
    for (const QAction* action : bar->actions())
        titles << action->text();
    QCOMPARE(titles, (QStringList{u"ファイル(&F)"_s, u"表示(&V)"_s, u"カード(&C)"_s, u"設定(&S)"_s,
                                  u"ヘルプ(&H)"_s}));
    const auto menus = bar->actions();
    QCOMPARE(menuTexts(menus[0]->menu()),
             (QStringList{u"ファイルに保存(&S)"_s, u"精算書を作成(&R)..."_s,
                          u"他の履歴を取り込む(&I)..."_s, u"-"_s, u"終了(&X)"_s}));
    QCOMPARE(menuTexts(menus[1]->menu()),
             (QStringList{u"残額表示(&Z)"_s, u"鉄道・地下鉄 表示(&P)"_s, u"バス 表示(&U)"_s,
                          u"店舗 表示(&N)"_s, u"-"_s, u"検索(&F)..."_s, u"用途の列(&E)"_s,
                          u"時刻の列(&G)"_s, u"集計(&T)..."_s}));
    const QMenu* shop = menus[1]->menu()->actions()[3]->menu();
    QCOMPARE(menuTexts(shop), (QStringList{u"店舗情報 表示する(&D)"_s, u"-"_s, u"会社名(&C)"_s,
                                           u"店舗名(&S)"_s, u"レジ名(&R)"_s}));
    QCOMPARE(menuTexts(menus[2]->menu()),
             (QStringList{u"カード名の変更(&N)..."_s, u"読み取ったカードを表示(&R)"_s, u"-"_s,
                          u"-"_s, u"すべてのカード(&A)..."_s}));
    QCOMPARE(menuTexts(menus[3]->menu()),
             (QStringList{u"駅名キャッシュ削除(&C)"_s, u"停留所名キャッシュ削除(&B)"_s,
                          u"店舗名キャッシュ削除(&T)"_s, u"履歴データ削除(&H)"_s, u"-"_s,
                          u"バックアップから復元(&U)..."_s, u"-"_s, u"表示設定(&D)..."_s, u"-"_s,
                          u"駅名を再取得(&R)"_s}));
    QCOMPARE(menuTexts(menus[4]->menu()), (QStringList{u"バージョン情報(&V)..."_s}));
    QCOMPARE(menuTexts(inside(*dlg).historyContextMenu()),
             (QStringList{u"詳細表示(&D)..."_s, u"コピー(&C)"_s, u"-"_s, u"用途を入力(&P)..."_s,
                          u"精算にチェック(&M)"_s, u"-"_s, u"一覧から隠す(&L)"_s}));
}

void TestMainWindowStart::everyCommandHasOneAction()
{
    auto dlg = makeDialog();
    const QList<int> expected{57603, 32798, 32785, 32789, 32790, 32812, 32813, 32814, 32815,
                              32816, 32817, 32797, 32799, 32833, 32801, 32803, 32830, 32794,
                              32792, 1000,  32841, 32842, 32845, 32843, 32840, 32844, 32846,
                              32850, 32851, 32852, 32853, 32864, 32870, 32871};
    QList<int> ids = dlg->commandIds();
    std::sort(ids.begin(), ids.end());
    QList<int> sortedExpected = expected;
    std::sort(sortedExpected.begin(), sortedExpected.end());
    QCOMPARE(ids, sortedExpected);
    for (int id : expected) {
        QAction* action = dlg->commandAction(id);
        QVERIFY(action != nullptr);
        QCOMPARE(action->property("commandId").toInt(), id);
    }
    QVERIFY(dlg->commandAction(ids::Exit)->isEnabled());
    QVERIFY(dlg->commandAction(ids::About)->isEnabled());
    QVERIFY(!dlg->triggerCommand(4711));
    QVERIFY(!dlg->triggerCommand(ids::SaveToFile)); // disabled before the first read
}

void TestMainWindowStart::hiddenControlsAndTitle()
{
    auto dlg = makeDialog();
    QCOMPARE(dlg->windowTitle(), u"交通費履歴読出"_s);
    auto control = [&](int id) { return dlg->findChild<QWidget*>(u"control%1"_s.arg(id)); };
    for (int id : {1001, 1000, 1, 2}) {
        QVERIFY2(control(id) != nullptr, qPrintable(QString::number(id)));
        QVERIFY(control(id)->isHidden());
    }
    QCOMPARE(qobject_cast<QPushButton*>(control(1000))->text(), u"読み取り開始"_s);
    QCOMPARE(qobject_cast<QPushButton*>(control(1))->text(), u"閉じる"_s);
    QVERIFY(qobject_cast<QPushButton*>(control(1))->isDefault());
    QCOMPARE(qobject_cast<QPushButton*>(control(2))->text(), u"キャンセル"_s);
    QCOMPARE(qobject_cast<QLabel*>(control(1012))->text(), u"残高："_s);
    QCOMPARE(qobject_cast<QLabel*>(control(1011))->text(), u"円"_s);
    auto* balance = qobject_cast<QLineEdit*>(control(1005));
    QVERIFY(balance->isReadOnly());
    QVERIFY(balance->alignment() & Qt::AlignRight);
    auto* list = qobject_cast<QTableView*>(control(1002));
    QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(!list->isSortingEnabled());
    QVERIFY(list->verticalHeader()->isHidden());
    QVERIFY(QFile::exists(u":/ridelog/ridelog.png"_s));
    QVERIFY(QFile::exists(u":/ridelog/ridelog.svg"_s));
    QVERIFY(!dlg->windowIcon().pixmap(32, 32).isNull());
}

QTEST_MAIN(TestMainWindowStart)
#include "test_mainwindow_start.moc"
