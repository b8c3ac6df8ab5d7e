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
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
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

    void firstStartDefaults();
    void menuStatesFromStoredSettings_data();
    void menuStatesFromStoredSettings();
    void menuBarTextsAndOrder();
    void everyCommandHasOneAction();
    void hiddenControlsAndTitle();
    void badStoredValuesGiveDefaults();
    void positionBeyondWorkAreaIsPulledBack();
};

void TestMainWindowStart::firstStartDefaults()
{
    auto dlg = makeDialog();
    const int statusBarHeight = inside(*dlg).statusBarHeight();
    QVERIFY(statusBarHeight > 0);
    QCOMPARE(dlg->pos(), QPoint(20, 20));
    QCOMPARE(dlg->size(), QSize(540, 300 - statusBarHeight));
    // Widths fitting the content in the current font; the name columns give way in the
    // narrow default window, so that the amount stays in sight.
    const ColumnWidths widths = contentColumnWidths(*inside(*dlg).historyList());
    for (int column = 0; column < 7; ++column) {
        const int shown = inside(*dlg).historyList()->header()->sectionSize(column);
        if (column == 4 || column == 5)
            QVERIFY(shown > 0 && shown <= widths[column]);
        else
            QCOMPARE(shown, widths[column]);
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
        ini_->setValue(QStringLiteral("Trfc/") + it.key(), it.value());
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
    QCOMPARE(titles, (QStringList{QStringLiteral("ファイル(&F)"), QStringLiteral("表示(&V)"),
                                  QStringLiteral("カード(&C)"), QStringLiteral("設定(&S)"),
                                  QStringLiteral("ヘルプ(&H)")}));
    const auto menus = bar->actions();
    QCOMPARE(
        menuTexts(menus[0]->menu()),
        (QStringList{QStringLiteral("ファイルに保存(&S)"), QStringLiteral("精算書を作成(&R)..."),
                     QStringLiteral("他の履歴を取り込む(&I)..."), QStringLiteral("-"),
                     QStringLiteral("終了(&X)")}));
    QCOMPARE(menuTexts(menus[1]->menu()),
             (QStringList{QStringLiteral("残額表示(&Z)"), QStringLiteral("鉄道・地下鉄 表示(&P)"),
                          QStringLiteral("バス 表示(&U)"), QStringLiteral("店舗 表示(&N)"),
                          QStringLiteral("-"), QStringLiteral("検索(&F)..."),
                          QStringLiteral("用途の列(&E)"), QStringLiteral("時刻の列(&G)"),
                          QStringLiteral("集計(&T)...")}));
    const QMenu* shop = menus[1]->menu()->actions()[3]->menu();
    QCOMPARE(menuTexts(shop),
             (QStringList{QStringLiteral("店舗情報 表示する(&D)"), QStringLiteral("-"),
                          QStringLiteral("会社名(&C)"), QStringLiteral("店舗名(&S)"),
                          QStringLiteral("レジ名(&R)")}));
    QCOMPARE(menuTexts(menus[2]->menu()),
             (QStringList{QStringLiteral("カード名の変更(&N)..."),
                          QStringLiteral("読み取ったカードを表示(&R)"), QStringLiteral("-"),
                          QStringLiteral("-"), QStringLiteral("すべてのカード(&A)...")}));
    QCOMPARE(menuTexts(menus[3]->menu()),
             (QStringList{QStringLiteral("駅名キャッシュ削除(&C)"),
                          QStringLiteral("停留所名キャッシュ削除(&B)"),
                          QStringLiteral("店舗名キャッシュ削除(&T)"),
                          QStringLiteral("履歴データ削除(&H)"), QStringLiteral("-"),
                          QStringLiteral("バックアップから復元(&U)..."), QStringLiteral("-"),
                          QStringLiteral("表示設定(&D)..."), QStringLiteral("-"),
                          QStringLiteral("駅名を再取得(&R)")}));
    QCOMPARE(menuTexts(menus[4]->menu()), (QStringList{QStringLiteral("バージョン情報(&V)...")}));
    QCOMPARE(menuTexts(inside(*dlg).historyContextMenu()),
             (QStringList{QStringLiteral("詳細表示(&D)..."), QStringLiteral("コピー(&C)"),
                          QStringLiteral("-"), QStringLiteral("用途を入力(&P)..."),
                          QStringLiteral("精算にチェック(&M)"), QStringLiteral("-"),
                          QStringLiteral("一覧から隠す(&L)")}));
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
    QCOMPARE(dlg->windowTitle(), QStringLiteral("交通費履歴読出"));
    auto control = [&](int id) {
        return dlg->findChild<QWidget*>(QStringLiteral("control%1").arg(id));
    };
    for (int id : {1001, 1000, 1, 2}) {
        QVERIFY2(control(id) != nullptr, qPrintable(QString::number(id)));
        QVERIFY(control(id)->isHidden());
    }
    QCOMPARE(qobject_cast<QPushButton*>(control(1000))->text(), QStringLiteral("読み取り開始"));
    QCOMPARE(qobject_cast<QPushButton*>(control(1))->text(), QStringLiteral("閉じる"));
    QVERIFY(qobject_cast<QPushButton*>(control(1))->isDefault());
    QCOMPARE(qobject_cast<QPushButton*>(control(2))->text(), QStringLiteral("キャンセル"));
    QCOMPARE(qobject_cast<QLabel*>(control(1012))->text(), QStringLiteral("残高："));
    QCOMPARE(qobject_cast<QLabel*>(control(1011))->text(), QStringLiteral("円"));
    auto* balance = qobject_cast<QLineEdit*>(control(1005));
    QVERIFY(balance->isReadOnly());
    QVERIFY(balance->alignment() & Qt::AlignRight);
    auto* list = qobject_cast<QTableView*>(control(1002));
    QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(!list->isSortingEnabled());
    QVERIFY(list->verticalHeader()->isHidden());
    QVERIFY(QFile::exists(QStringLiteral(":/ridelog/ridelog.png")));
    QVERIFY(QFile::exists(QStringLiteral(":/ridelog/ridelog.svg")));
    QVERIFY(!dlg->windowIcon().pixmap(32, 32).isNull());
}

void TestMainWindowStart::badStoredValuesGiveDefaults()
{
    ini_->setValue(QStringLiteral("Trfc/mX"), QStringLiteral("far"));
    ini_->setValue(QStringLiteral("Trfc/mHeight"), QStringLiteral("tall"));
    ini_->setValue(QStringLiteral("Trfc/col0"), 5);
    ini_->setValue(QStringLiteral("Trfc/col3"), 25);
    ini_->setValue(QStringLiteral("Trfc/col5"), 100000);
    ini_->setValue(QStringLiteral("Trfc/col1"), 120);
    auto dlg = makeDialog();
    QCOMPARE(dlg->pos().x(), 20);
    QCOMPARE(dlg->height(), 300 - inside(*dlg).statusBarHeight());
    const auto* header = inside(*dlg).historyList()->header();
    const ColumnWidths fitting = contentColumnWidths(*inside(*dlg).historyList());
    QCOMPARE(header->sectionSize(0), fitting[0]);
    QCOMPARE(header->sectionSize(1), 120);
    QCOMPARE(header->sectionSize(3), fitting[3]);
    QVERIFY(header->sectionSize(5) > 0 && header->sectionSize(5) <= fitting[5]);
}

void TestMainWindowStart::positionBeyondWorkAreaIsPulledBack()
{
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    ini_->setValue(QStringLiteral("Trfc/mX"), work.x() + work.width() + 200);
    ini_->setValue(QStringLiteral("Trfc/mY"), 40);
    ini_->setValue(QStringLiteral("Trfc/mWidth"), work.x() + work.width() + 500);
    auto dlg = makeDialog();
    QCOMPARE(dlg->pos().x(), 20);
    QCOMPARE(dlg->pos().y(), 40);
    QCOMPARE(dlg->width(), work.x() + work.width() - 20);
}

QTEST_MAIN(TestMainWindowStart)
#include "test_mainwindow_start.moc"
