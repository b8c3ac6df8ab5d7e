// The main window as a user meets it: first start, kept window state, menus, card reads,
// the context menu, the balance bar and closing with Enter or Escape.
#include "../names/fakenameserver.h"
#include "namedata/cp932.h"
#include "names/builtinnames.h"
#include "names/namestatus.h"
#include "support/cardblocks.h"
#include "support/namedhistory.h"
#include "support/windowaccess.h"
#include "testfiles.h"
#include "ui/aboutdlg.h"
#include "ui/columnfit.h"
#include "ui/commandids.h"
#include "ui/messagebox.h"
#include "ui/ridelogdlg.h"
#include "ui/savefiledialog.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>

using namespace ridelog;
using namespace ridelog::test;
using ridelog::test::cell;
using ridelog::test::kReadFailed;
using ridelog::test::railBlock;

namespace {

QStringList menuTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

// Takes the addresses the program asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace

class TestMainWindow : public QObject, ridelog::test::WindowFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartDefaults();
    void firstStartMenuStates();
    void menuBarTextsAndOrder();
    void everyCommandHasOneAction();
    void hiddenControlsAndTitle();
    void badStoredValuesGiveDefaults();
    void positionBeyondWorkAreaIsPulledBack();
    void closeAndReopenRestoresState();
    void escapeClosesAndSavesState();
    void enterClosesAndSavesState();
    void exitCommandAccepts();
    void windowStateSavedWhenDatabaseFails();
    void windowStateSavedWhenDataFolderCannotBeMade();
    void storedHistorySurvivesRestart();
    void minimumSize();
    void resizeKeepsListAboveStatusBar();

    void readingCardFillsRowsNewestFirst();
    void readingSameCardTwiceKeepsOneRowPerSerial();
    void storedBlocksJoinFreshOnes();
    void failedReadKeepsRowsAndEmptiesSet();
    void cardWithEmptySlotsOnlyListsNothing();
    void cardOnAndOffTheReader();
    void cardLoseBeforeReadChangesNothing();

    void contextMenuWithNothingSelected();
    void contextMenuWithTwoRowsGraysDetail();
    void contextMenuWithOneRowSetsSelectedRecord();

    void balanceToggleMovesListAndStores();
    void shopToggleEnablesShopItems();
    void railToggleRerendersNames();
    void storedFlagsShowInMenuAtStart();
    void statusTextFromAnotherThread();
    void namesFromServerLandInListAndStatus();
    void deadServerIsToldInStatusBar();
    void askingAgainAfterTheServerCameBack();
    void builtinNamesWithoutAnyServer();
    void builtinNamesOnEveryRowOfSeveralCards();
    void statusTextsFitAtDefaultWidth();
    void aboutBoxOpensWithLinks();
    void readerIsNamedInStatusBarAndAboutBox();

private:
    std::unique_ptr<CRidelogDlg> makeDialog() { return makeWindow(); }
};

void TestMainWindow::init()
{
    setUpWindow();
    MessageBox::setCapturing(true);
    MessageBox::clearCaptured();
}

void TestMainWindow::cleanup()
{
    MessageBox::clearCaptured();
    tearDownWindow();
}

void TestMainWindow::firstStartDefaults()
{
    auto dlg = makeDialog();
    const int statusBarHeight = test::inside(*dlg).statusBarHeight();
    QVERIFY(statusBarHeight > 0);
    QCOMPARE(dlg->pos(), QPoint(20, 20));
    QCOMPARE(dlg->size(), QSize(540, 300 - statusBarHeight));
    // Widths fitting the content in the current font; the name columns give way in the
    // narrow default window, so that the amount stays in sight.
    const ColumnWidths widths = contentColumnWidths(*test::inside(*dlg).historyList());
    for (int column = 0; column < 7; ++column) {
        const int shown = test::inside(*dlg).historyList()->header()->sectionSize(column);
        if (column == 4 || column == 5)
            QVERIFY(shown > 0 && shown <= widths[column]);
        else
            QCOMPARE(shown, widths[column]);
    }
    for (int pane = 0; pane < 3; ++pane)
        QCOMPARE(test::inside(*dlg).statusPaneText(pane), QString());
    QVERIFY(dlg->cardEventsEnabled());
    QCOMPARE(test::inside(*dlg).historyList()->geometry().top(), 0);
    QVERIFY(!test::inside(*dlg).isBalanceBarVisible());
}

void TestMainWindow::firstStartMenuStates()
{
    auto dlg = makeDialog();
    auto checked = [&](int id) { return dlg->commandAction(id)->isChecked(); };
    auto enabled = [&](int id) { return dlg->commandAction(id)->isEnabled(); };
    QVERIFY(!enabled(ids::SaveToFile));
    QVERIFY(!checked(ids::BalanceView));
    QVERIFY(!checked(ids::RailCompany));
    QVERIFY(checked(ids::RailLine));
    QVERIFY(checked(ids::BusCompany));
    QVERIFY(!checked(ids::BusRoute));
    QVERIFY(!checked(ids::ShopShow));
    QVERIFY(checked(ids::ShopCompany));
    QVERIFY(checked(ids::ShopName));
    QVERIFY(!checked(ids::ShopRegister));
    QVERIFY(!enabled(ids::ShopCompany));
    QVERIFY(!enabled(ids::ShopName));
    QVERIFY(!enabled(ids::ShopRegister));
    QVERIFY(enabled(ids::Exit));
    QVERIFY(enabled(ids::About));
}

void TestMainWindow::menuBarTextsAndOrder()
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
    QCOMPARE(menuTexts(test::inside(*dlg).historyContextMenu()),
             (QStringList{QStringLiteral("詳細表示(&D)..."), QStringLiteral("コピー(&C)"),
                          QStringLiteral("-"), QStringLiteral("用途を入力(&P)..."),
                          QStringLiteral("精算にチェック(&M)"), QStringLiteral("-"),
                          QStringLiteral("一覧から隠す(&L)")}));
}

void TestMainWindow::everyCommandHasOneAction()
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
    QVERIFY(!dlg->triggerCommand(4711));
    QVERIFY(!dlg->triggerCommand(ids::SaveToFile)); // disabled before the first read
}

void TestMainWindow::hiddenControlsAndTitle()
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

void TestMainWindow::badStoredValuesGiveDefaults()
{
    ini_->setValue(QStringLiteral("Trfc/mX"), QStringLiteral("far"));
    ini_->setValue(QStringLiteral("Trfc/mHeight"), QStringLiteral("tall"));
    ini_->setValue(QStringLiteral("Trfc/col0"), 5);
    ini_->setValue(QStringLiteral("Trfc/col3"), 25);
    ini_->setValue(QStringLiteral("Trfc/col5"), 100000);
    ini_->setValue(QStringLiteral("Trfc/col1"), 120);
    auto dlg = makeDialog();
    QCOMPARE(dlg->pos().x(), 20);
    QCOMPARE(dlg->height(), 300 - test::inside(*dlg).statusBarHeight());
    const auto* header = test::inside(*dlg).historyList()->header();
    const ColumnWidths fitting = contentColumnWidths(*test::inside(*dlg).historyList());
    QCOMPARE(header->sectionSize(0), fitting[0]);
    QCOMPARE(header->sectionSize(1), 120);
    QCOMPARE(header->sectionSize(3), fitting[3]);
    QVERIFY(header->sectionSize(5) > 0 && header->sectionSize(5) <= fitting[5]);
}

void TestMainWindow::positionBeyondWorkAreaIsPulledBack()
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

void TestMainWindow::closeAndReopenRestoresState()
{
    {
        auto dlg = makeDialog();
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
        dlg->move(60, 70);
        dlg->resize(600, 350);
        test::inside(*dlg).historyList()->header()->resizeSection(0, 50);
        test::inside(*dlg).historyList()->header()->resizeSection(4, 150);
        dlg->reject();
    }
    QCOMPARE(ini_->value(QStringLiteral("Trfc/col4")).toInt(), 150);
    auto dlg = makeDialog();
    QCOMPARE(dlg->pos(), QPoint(60, 70));
    QCOMPARE(dlg->size(), QSize(600, 350));
    QCOMPARE(test::inside(*dlg).historyList()->header()->sectionSize(0), 50);
    QVERIFY(test::inside(*dlg).historyList()->header()->sectionSize(4) <= 150);
    QCOMPARE(test::inside(*dlg).historyList()->header()->sectionSize(6),
             contentColumnWidths(*test::inside(*dlg).historyList())[6]);
    dlg->reject();
    QCOMPARE(ini_->value(QStringLiteral("Trfc/col4")).toInt(), 150);
}

void TestMainWindow::escapeClosesAndSavesState()
{
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    dlg->resize(610, 360);
    test::inside(*dlg).historyList()->setFocus();
    QTest::keyClick(test::inside(*dlg).historyList(), Qt::Key_Escape);
    QVERIFY(!dlg->isVisible());
    QCOMPARE(dlg->result(), int(QDialog::Rejected));
    QCOMPARE(ini_->value(QStringLiteral("Trfc/mWidth")).toInt(), 610);
    QCOMPARE(ini_->value(QStringLiteral("Trfc/mHeight")).toInt(),
             360 + test::inside(*dlg).statusBarHeight());
}

void TestMainWindow::enterClosesAndSavesState()
{
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    dlg->move(44, 55);
    test::inside(*dlg).historyList()->setFocus();
    QTest::keyClick(test::inside(*dlg).historyList(), Qt::Key_Return);
    QVERIFY(!dlg->isVisible());
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
    QCOMPARE(ini_->value(QStringLiteral("Trfc/mX")).toInt(), 44);
    QCOMPARE(ini_->value(QStringLiteral("Trfc/col0")).toInt(),
             contentColumnWidths(*test::inside(*dlg).historyList())[0]);
}

void TestMainWindow::exitCommandAccepts()
{
    auto dlg = makeDialog();
    dlg->show();
    dlg->session().caches().stations.EntryFor(StationKey{0, 0x25, 0x0C}) = {
        QStringLiteral("東急"), QStringLiteral("東横"), QStringLiteral("渋谷"),
        QStringLiteral("渋谷")};
    QVERIFY(dlg->triggerCommand(ids::Exit));
    QVERIFY(!dlg->isVisible());
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
    QVERIFY(ini_->contains(QStringLiteral("Trfc/mWidth")));
    // The names learnt were written back: the next start finds them.
    auto next = makeDialog();
    QCOMPARE(next->session().caches().stations.EntryFor(StationKey{0, 0x25, 0x0C}).nm,
             QStringLiteral("渋谷"));
}

void TestMainWindow::windowStateSavedWhenDatabaseFails()
{
    // Not a database: the store leaves it alone and says so with the engine's text.
    const QString folder = dir_->filePath(QStringLiteral("data/Tanpopo/Hotaru/Trfc"));
    QVERIFY(QDir().mkpath(folder));
    QFile garbage(folder + QStringLiteral("/ekdb.sqlite"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();
    auto dlg = makeDialog();
    QCOMPARE(MessageBox::capturedMessages().size(), 1);
    // In the program's words, with the engine's text as the detail.
    QVERIFY(MessageBox::capturedMessages().first().startsWith(
        QStringLiteral("履歴データベースが壊れている")));
    QCOMPARE(MessageBox::capturedDetails().first(), QStringLiteral("file is not a database"));
    QVERIFY(!test::inside(*dlg).historyNotKeptSign()->isHidden());
    dlg->session().caches().stations.EntryFor(StationKey{0, 1, 2}).nm = QStringLiteral("駅");
    dlg->move(77, 88);
    dlg->reject();
    QCOMPARE(ini_->value(QStringLiteral("Trfc/mX")).toInt(), 77);
    QCOMPARE(ini_->value(QStringLiteral("Trfc/col6")).toInt(),
             contentColumnWidths(*test::inside(*dlg).historyList())[6]);
    QVERIFY(garbage.open(QIODevice::ReadOnly));
    QCOMPARE(garbage.readAll(), QByteArray(4096, 'x'));
}

void TestMainWindow::windowStateSavedWhenDataFolderCannotBeMade()
{
    // A plain file where the data folder should be.
    QVERIFY(QDir().mkpath(dir_->filePath(QStringLiteral("data"))));
    QFile blocker(dir_->filePath(QStringLiteral("data/Tanpopo")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    putCard({railBlock(2, 500), railBlock(1, 700)});
    auto dlg = makeDialog();
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    dlg->move(91, 92);
    dlg->accept();
    QCOMPARE(ini_->value(QStringLiteral("Trfc/mX")).toInt(), 91);
}

void TestMainWindow::minimumSize()
{
    auto dlg = makeDialog();
    QCOMPARE(dlg->minimumSize(), QSize(450, 200));
    dlg->resize(100, 100);
    QCOMPARE(dlg->size(), QSize(450, 200));
}

void TestMainWindow::resizeKeepsListAboveStatusBar()
{
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    dlg->resize(700, 420);
    QCoreApplication::processEvents();
    const QWidget* client = test::inside(*dlg).historyList()->parentWidget();
    const QRect list = test::inside(*dlg).historyList()->geometry();
    QCOMPARE(list.left(), 0);
    QCOMPARE(list.top(), 0);
    QCOMPARE(list.width(), client->width());
    QCOMPARE(list.height(), client->height() - test::inside(*dlg).statusBarHeight());
    QCOMPARE(test::inside(*dlg).statusBar()->geometry().bottom(), client->height() - 1);
    dlg->reject();
}

void TestMainWindow::readingCardFillsRowsNewestFirst()
{
    putCard({railBlock(13, 2800), railBlock(11, 840), railBlock(10, 1000), HistoryBlock{}});
    auto dlg = makeDialog();
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 3);
    QCOMPARE(cell(*dlg, 0, 0), QStringLiteral("13"));
    QCOMPARE(cell(*dlg, 1, 0), QStringLiteral("11"));
    QCOMPARE(cell(*dlg, 2, 0), QStringLiteral("10"));
    QCOMPARE(cell(*dlg, 0, 6), QStringLiteral("-1960"));
    QCOMPARE(cell(*dlg, 1, 6), QStringLiteral("160"));
    QCOMPARE(cell(*dlg, 2, 6), QStringLiteral("(1000)"));
    QCOMPARE(dlg->session().idmText(), QStringLiteral("012E44A0B1C2D3E4"));
    QCOMPARE(test::inside(*dlg).cardIdField()->text(), QStringLiteral("012E44A0B1C2D3E4"));
    QCOMPARE(test::inside(*dlg).statusPaneText(0), QStringLiteral("012E44A0B1C2D3E4"));
    QCOMPARE(test::inside(*dlg).balanceField()->text(), QStringLiteral("2800"));
    QCOMPARE(test::inside(*dlg).statusPaneText(1), QStringLiteral("残額："));
    QCOMPARE(test::inside(*dlg).statusPaneText(2), QStringLiteral("2800円"));
    QVERIFY(dlg->commandAction(ids::SaveToFile)->isEnabled());
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestMainWindow::readingSameCardTwiceKeepsOneRowPerSerial()
{
    putCard({railBlock(2, 500), railBlock(1, 700)});
    auto dlg = makeDialog();
    dlg->readCard();
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    QCOMPARE(dlg->session().records().size(), std::size_t(2));
}

void TestMainWindow::storedBlocksJoinFreshOnes()
{
    auto dlg = makeDialog();
    putCard({railBlock(2, 500), railBlock(1, 700)});
    dlg->readCard();
    // The card has moved on: serial 1 is gone from it, 3 is new, and 2 comes back changed.
    putCard({railBlock(3, 300), railBlock(2, 999)});
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 3);
    QCOMPARE(cell(*dlg, 0, 0), QStringLiteral("3"));
    QCOMPARE(cell(*dlg, 2, 0), QStringLiteral("1"));
    QCOMPARE(dlg->session().records().find(2)->balance, 500); // the stored block wins
}

void TestMainWindow::storedHistorySurvivesRestart()
{
    putCard({railBlock(2, 500), railBlock(1, 700)});
    makeDialog()->readCard();
    putCard({railBlock(4, 100), railBlock(3, 300)});
    auto dlg = makeDialog();
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 4);
    QCOMPARE(cell(*dlg, 3, 6), QStringLiteral("(700)"));
    QCOMPARE(cell(*dlg, 1, 6), QStringLiteral("200"));
}

void TestMainWindow::failedReadKeepsRowsAndEmptiesSet()
{
    putCard({railBlock(5, 100), railBlock(4, 200)});
    auto dlg = makeDialog();
    dlg->readCard();
    takeCardOff();
    dlg->readCard();
    QCOMPARE(MessageBox::capturedMessages(), QStringList{kReadFailed});
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    QVERIFY(dlg->session().records().empty());
    QCOMPARE(test::inside(*dlg).balanceField()->text(), QStringLiteral("100"));
    QCOMPARE(dlg->session().idmText(), QStringLiteral("012E44A0B1C2D3E4"));

    // The exports write the rows still shown, in every form.
    QTemporaryDir out;
    SaveFileDialog::setScripted(true);
    const auto scripted = qScopeGuard([] { SaveFileDialog::setScripted(false); });
    const struct
    {
        int filter;
        const char* name;
        QByteArrayList wanted;
    } forms[] = {{0, "list.csv", {"5,", "4,"}},
                 {2, "utf8.csv", {"\r\n5,", "\r\n4,"}},
                 {3, "rows.json", {"\"entries\":2", "\"serial\":5", "\"serial\":4"}}};
    for (const auto& form : forms) {
        const QString path = out.filePath(QString::fromLatin1(form.name));
        SaveFileDialog::setNextAnswer(SaveFileAnswer{path, form.filter});
        QVERIFY(dlg->triggerCommand(ids::SaveToFile));
        const QByteArray bytes = test::fileBytes(path);
        for (const QByteArray& wanted : form.wanted)
            QVERIFY2(bytes.contains(wanted), bytes.constData());
    }
}

void TestMainWindow::cardWithEmptySlotsOnlyListsNothing()
{
    putCard({});
    auto dlg = makeDialog();
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).balanceField()->text(), QStringLiteral("0"));
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 0);
    QVERIFY(!dlg->commandAction(ids::SaveToFile)->isEnabled());
    QCOMPARE(test::inside(*dlg).cardIdField()->text(), QStringLiteral("012E44A0B1C2D3E4"));
}

void TestMainWindow::cardOnAndOffTheReader()
{
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(dlg->cardEventsEnabled());
    QVERIFY(context_.pollingStarted);
    putCard({railBlock(2, 300), railBlock(1, 100)});
    QTRY_COMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    QCOMPARE(test::inside(*dlg).cardIdField()->text(), QStringLiteral("012E44A0B1C2D3E4"));
    takeCardOff();
    QTRY_COMPARE(test::inside(*dlg).cardIdField()->text(), QString());
    // The card's data stays until the next read.
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    QCOMPARE(test::inside(*dlg).balanceField()->text(), QStringLiteral("300"));
    QCOMPARE(test::inside(*dlg).statusPaneText(2), QStringLiteral("300円"));
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestMainWindow::cardLoseBeforeReadChangesNothing()
{
    auto dlg = makeDialog();
    const auto lose =
        QEvent::Type(card::registeredCardEventType(QString::fromLatin1(card::kCardLoseName)));
    QCoreApplication::postEvent(dlg.get(), new QEvent(lose));
    QCoreApplication::processEvents();
    QCOMPARE(test::inside(*dlg).cardIdField()->text(), QString());
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 0);
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestMainWindow::contextMenuWithNothingSelected()
{
    putCard({railBlock(1, 100)});
    auto dlg = makeDialog();
    dlg->readCard();
    QVERIFY(!test::inside(*dlg).showHistoryContextMenu(QPoint(100, 100)));
    QVERIFY(!test::inside(*dlg).historyContextMenu()->isVisible());
    QCOMPARE(test::inside(*dlg).selectedRecord(), nullptr);
}

void TestMainWindow::contextMenuWithTwoRowsGraysDetail()
{
    putCard({railBlock(3, 100), railBlock(2, 200), railBlock(1, 300)});
    auto dlg = makeDialog();
    dlg->show();
    dlg->readCard();
    auto* selection = test::inside(*dlg).historyList()->selectionModel();
    selection->select(test::inside(*dlg).historyModel()->index(0, 0),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->select(test::inside(*dlg).historyModel()->index(2, 0),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QVERIFY(test::inside(*dlg).showHistoryContextMenu(QPoint(100, 100)));
    QVERIFY(test::inside(*dlg).historyContextMenu()->isVisible());
    QVERIFY(!dlg->commandAction(ids::ShowDetail)->isEnabled());
    QVERIFY(dlg->commandAction(ids::DeleteRows)->isEnabled());
    QCOMPARE(test::inside(*dlg).selectedRecord(), nullptr);
    test::inside(*dlg).historyContextMenu()->close();

    // Back to one row: the detail item comes back.
    selection->select(test::inside(*dlg).historyModel()->index(1, 0),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QVERIFY(test::inside(*dlg).showHistoryContextMenu(QPoint(100, 100)));
    QVERIFY(dlg->commandAction(ids::ShowDetail)->isEnabled());
    test::inside(*dlg).historyContextMenu()->close();
}

void TestMainWindow::contextMenuWithOneRowSetsSelectedRecord()
{
    putCard({railBlock(8, 100), railBlock(7, 200)});
    auto dlg = makeDialog();
    dlg->show();
    dlg->readCard();
    test::inside(*dlg).historyList()->selectionModel()->select(
        test::inside(*dlg).historyModel()->index(1, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QVERIFY(test::inside(*dlg).showHistoryContextMenu(QPoint(100, 100)));
    QVERIFY(test::inside(*dlg).selectedRecord() != nullptr);
    QCOMPARE(test::inside(*dlg).selectedRecord()->serial, 7u);
    test::inside(*dlg).historyContextMenu()->close();
    // A new read drops the old selection's record.
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).selectedRecord(), nullptr);
}

void TestMainWindow::balanceToggleMovesListAndStores()
{
    auto dlg = makeDialog();
    const int bottom = test::inside(*dlg).historyList()->geometry().bottom();
    QVERIFY(dlg->triggerCommand(ids::BalanceView));
    QVERIFY(dlg->commandAction(ids::BalanceView)->isChecked());
    QVERIFY(test::inside(*dlg).isBalanceBarVisible());
    QCOMPARE(test::inside(*dlg).historyList()->geometry().top(), 29);
    QCOMPARE(test::inside(*dlg).historyList()->geometry().bottom(), bottom);
    QCOMPARE(test::inside(*dlg).settings().integer(QStringLiteral("zanViewM"), -1), 1);
    // Resizing keeps the list below the balance bar.
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    dlg->resize(620, 380);
    QTRY_COMPARE(test::inside(*dlg).historyList()->geometry().height(),
                 test::inside(*dlg).historyList()->parentWidget()->height() -
                     test::inside(*dlg).statusBarHeight() - 29);
    QCOMPARE(test::inside(*dlg).historyList()->geometry().top(), 29);
    const int resizedBottom = test::inside(*dlg).historyList()->geometry().bottom();
    QVERIFY(dlg->triggerCommand(ids::BalanceView));
    QVERIFY(!test::inside(*dlg).isBalanceBarVisible());
    QCOMPARE(test::inside(*dlg).historyList()->geometry().top(), 0);
    QCOMPARE(test::inside(*dlg).historyList()->geometry().bottom(), resizedBottom);
    QVERIFY(resizedBottom > bottom);
    QCOMPARE(test::inside(*dlg).settings().integer(QStringLiteral("zanViewM"), -1), 0);
}

void TestMainWindow::shopToggleEnablesShopItems()
{
    auto dlg = makeDialog();
    QVERIFY(!dlg->triggerCommand(ids::ShopRegister));
    QVERIFY(dlg->triggerCommand(ids::ShopShow));
    QVERIFY(test::inside(*dlg).displayFlags().shopInfoShown);
    for (int id : {ids::ShopCompany, ids::ShopName, ids::ShopRegister})
        QVERIFY(dlg->commandAction(id)->isEnabled());
    QVERIFY(dlg->triggerCommand(ids::ShopRegister));
    QCOMPARE(test::inside(*dlg).settings().integer(QStringLiteral("bpnRegShow"), -1), 1);
    QVERIFY(dlg->triggerCommand(ids::ShopShow));
    QVERIFY(!dlg->commandAction(ids::ShopRegister)->isEnabled());
    QVERIFY(dlg->commandAction(ids::ShopRegister)->isChecked());
    QCOMPARE(test::inside(*dlg).settings().integer(QStringLiteral("bpnShow"), -1), 0);
}

void TestMainWindow::railToggleRerendersNames()
{
    putCard({railBlock(1, 100)});
    auto dlg = makeDialog();
    auto& entry = dlg->session().caches().stations.EntryFor(StationKey{0, 0x25, 0x0C});
    entry.an = QStringLiteral("東急");
    entry.ln = QStringLiteral("東横");
    entry.sn = QStringLiteral("渋谷");
    entry.nm = QStringLiteral("渋谷(東横線)");
    dlg->readCard();
    QCOMPARE(cell(*dlg, 0, 4), QStringLiteral("渋谷(東横線)"));
    QVERIFY(dlg->triggerCommand(ids::RailCompany));
    QCOMPARE(cell(*dlg, 0, 4), QStringLiteral("渋谷(東急：東横線)"));
    QVERIFY(dlg->triggerCommand(ids::RailLine));
    QCOMPARE(cell(*dlg, 0, 4), QStringLiteral("渋谷(東急)"));
    QCOMPARE(test::inside(*dlg).settings().integer(QStringLiteral("ipnComShow"), -1), 1);
    QCOMPARE(test::inside(*dlg).settings().integer(QStringLiteral("ipnLinShow"), -1), 0);
}

void TestMainWindow::storedFlagsShowInMenuAtStart()
{
    ini_->setValue(QStringLiteral("Trfc/ipnLinShow"), 0);
    ini_->setValue(QStringLiteral("Trfc/zanViewM"), 7);
    ini_->setValue(QStringLiteral("Trfc/bpnShow"), QStringLiteral("on"));
    auto dlg = makeDialog();
    QVERIFY(!dlg->commandAction(ids::RailLine)->isChecked());
    QVERIFY(dlg->commandAction(ids::BalanceView)->isChecked());
    QVERIFY(test::inside(*dlg).isBalanceBarVisible());
    QCOMPARE(test::inside(*dlg).historyList()->geometry().top(), 29);
    QVERIFY(!dlg->commandAction(ids::ShopShow)->isChecked());
}

void TestMainWindow::statusTextFromAnotherThread()
{
    auto dlg = makeDialog();
    QString text = QStringLiteral("駅名を 3 件取得しました");
    std::unique_ptr<QThread> thread(QThread::create([&] {
        dlg->setStatusText(text);
        text = QStringLiteral("changed by the sender afterwards");
    }));
    thread->start();
    QVERIFY(thread->wait(5000));
    QTRY_COMPARE(test::inside(*dlg).statusPaneText(0), QStringLiteral("駅名を 3 件取得しました"));
    dlg->setStatusText(QStringLiteral("same thread"));
    QCOMPARE(test::inside(*dlg).statusPaneText(0), QStringLiteral("same thread"));
}

void TestMainWindow::namesFromServerLandInListAndStatus()
{
    FakeNameServer server;
    QVERIFY(server.listening());
    server.respondWith([](const FakeNameServer::Request&) {
        return FakeNameServer::response(
            200, cp932::encode(QStringLiteral("102,JR東日本,山手,新宿:104,JR東日本,山手,渋谷:")));
    });
    putCard({railBlock(1, 1000)});
    auto dlg = makeDialog();
    dlg->setNameServer(server.url().toString());
    dlg->readCard();
    QCOMPARE(cell(*dlg, 0, 4), QStringLiteral("(0, 37, 12)"));
    QTRY_COMPARE(cell(*dlg, 0, 4), QStringLiteral("新宿(山手線)"));
    QCOMPARE(cell(*dlg, 0, 5), QStringLiteral("渋谷(山手線)"));
    QTRY_COMPARE(test::inside(*dlg).statusPaneText(0), QStringLiteral("012E44A0B1C2D3E4 ok"));
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(server.requests().first().body.contains("102%2c0%2c37%2c12%3a"));
    // The names are kept: closing writes them back, the next start has them.
    dlg->accept();
    dlg.reset();
    auto next = makeDialog();
    QCOMPARE(next->session().caches().stations.EntryFor(StationKey{0, 0x25, 0x0C}).nm,
             QStringLiteral("新宿(山手線)"));
}

void TestMainWindow::deadServerIsToldInStatusBar()
{
    FakeNameServer server;
    const QString url = server.url().toString();
    server.respondWith(
        [](const FakeNameServer::Request&) { return FakeNameServer::response(404, QByteArray()); });
    putCard({railBlock(1, 1000)});
    auto dlg = makeDialog();
    dlg->setNameServer(url);
    dlg->readCard();
    QTRY_VERIFY(
        test::inside(*dlg).statusPaneText(0).startsWith(QStringLiteral("012E44A0B1C2D3E4 ")));
    QTRY_COMPARE(test::inside(*dlg).statusPaneText(0),
                 QStringLiteral("012E44A0B1C2D3E4 駅名サーバーのエラー (Error 404)"));
    // A server that answers is the user's choice: its error is not covered up by built-in names.
    QVERIFY(test::inside(*dlg).statusPaneToolTip(0).contains(url));
    QCOMPARE(cell(*dlg, 0, 4), QStringLiteral("(0, 37, 12)"));
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestMainWindow::askingAgainAfterTheServerCameBack()
{
    FakeNameServer server;
    server.respondWith(
        [](const FakeNameServer::Request&) { return FakeNameServer::response(503, QByteArray()); });
    putCard({railBlock(1, 1000)});
    auto dlg = makeDialog();
    dlg->setNameServer(server.url().toString());
    QVERIFY(dlg->triggerCommand(ids::AskNamesAgain)); // before any read: nothing to ask
    QCOMPARE(server.requests().size(), 0);
    dlg->readCard();
    QTRY_VERIFY(test::inside(*dlg).statusPaneText(0).contains(QStringLiteral("Error 503")));
    server.respondWith([](const FakeNameServer::Request&) {
        return FakeNameServer::response(200, cp932::encode(QStringLiteral("102,JR,山手,新宿:")));
    });
    QVERIFY(dlg->triggerCommand(ids::AskNamesAgain));
    QTRY_COMPARE(cell(*dlg, 0, 4), QStringLiteral("新宿(山手線)"));
    QTRY_COMPARE(test::inside(*dlg).statusPaneText(0), QStringLiteral("012E44A0B1C2D3E4 ok"));
    QCOMPARE(server.requests().size(), 2);
    QCOMPARE(dlg->session().caches().stations.EntryFor(StationKey{0, 0x25, 0x0C}).nm,
             QStringLiteral("新宿(山手線)"));
}

void TestMainWindow::builtinNamesWithoutAnyServer()
{
    putCard({railBlock(1, 1000, 0x07)});
    auto dlg = makeDialog();
    test::inside(*dlg).nameRefresher().setBuiltinNames(std::make_shared<BuiltinNames>());
    dlg->setNameServer(QStringLiteral("builtin"));
    dlg->readCard();
    // The reader's own second read of the card may come in between and start a refresh of its
    // own: each of these is waited for, not sampled.
    QTRY_COMPARE(cell(*dlg, 0, 5), QStringLiteral("渋谷(山手線)"));
    QTRY_COMPARE(cell(*dlg, 0, 4), QStringLiteral("新大久保(山手線)"));
    QTRY_COMPARE(test::inside(*dlg).statusPaneText(0), QStringLiteral("012E44A0B1C2D3E4 ok"));
    QTRY_VERIFY(
        test::inside(*dlg).statusPaneToolTip(0).contains(QStringLiteral("内蔵の駅名データ")));
}

// Cards read one after another in one window, the list sorted by the entry column and
// filtered by date: each station of the built-in tables is named in both columns of every row.
void TestMainWindow::builtinNamesOnEveryRowOfSeveralCards()
{
    auto dlg = makeDialog();
    test::inside(*dlg).nameRefresher().setBuiltinNames(std::make_shared<BuiltinNames>());
    dlg->setNameServer(QStringLiteral("builtin"));
    test::inside(*dlg).historyView()->sort(4, Qt::AscendingOrder);
    test::inside(*dlg).historyView()->setFilter({QString(), QDate(2026, 1, 10), QDate()});
    const StationKey kyoto{0, 1, 204};
    const StationKey osakaTokaido{0, 1, 232};
    const StationKey sannomiya{0, 1, 251};
    HistoryBuilder kanto;
    for (int day = 0; day < 9; ++day)
        kanto.journey(kIkebukuro, kShinjuku).journey(kShinjuku, kIkebukuro);
    kanto.bus(kStationFrontStop).journey(kShibuya, kShinjuku);
    HistoryBuilder kansai(500);
    for (int day = 0; day < 6; ++day)
        kansai.journey(kyoto, osakaTokaido, 580).journey(osakaTokaido, sannomiya, 420);
    kansai.journey(sannomiya, kyoto, 1110).charge();
    int card = 0;
    for (const HistoryBuilder* history : {&kanto, &kansai, &kanto}) {
        QList<HistoryBlock> newestFirst(history->blocks().rbegin(), history->blocks().rend());
        const QString idm = QStringLiteral("0101010101010%1").arg(card++, 3, 10, QLatin1Char('0'));
        putCard(newestFirst.mid(0, 20), idm);
        dlg->readCard();
        // "ok" after the answer; "OK" when the reader's own read of the card came second and
        // found every name known.
        QTRY_VERIFY(test::inside(*dlg).statusPaneText(0) == idm + QStringLiteral(" ok") ||
                    test::inside(*dlg).statusPaneText(0) == idm + QStringLiteral(" OK"));
        const HistoryListModel* rows = test::inside(*dlg).historySource();
        QCOMPARE(rows->rowCount(), int(std::min<std::size_t>(20, history->blocks().size())));
        for (int row = 0; row < rows->rowCount(); ++row) {
            const HistoryRecord* record = rows->recordAt(row);
            if (record->kind != RecordKind::Rail || record->entryKey.isNone())
                continue;
            for (const auto& [column, key] :
                 {std::pair{4, record->entryKey}, std::pair{5, record->exitKey}}) {
                const QString name = dlg->session().caches().stations.EntryFor(key).nm;
                QVERIFY2(!name.isEmpty(), qPrintable(stationCodeText(key)));
                QCOMPARE(rows->cellText(row, column), name);
            }
        }
    }
    QCOMPARE(dlg->session().caches().stations.EntryFor(osakaTokaido).nm,
             QStringLiteral("大阪(東海道本線)"));
    // The view shows the rows of the filter's dates, sorted by their entry names.
    QVERIFY(test::inside(*dlg).historyView()->rowCount() > 0);
    QVERIFY(test::inside(*dlg).historyView()->rowCount() < 20);
}

void TestMainWindow::statusTextsFitAtDefaultWidth()
{
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    using Kind = NameOutcome::Kind;
    for (const Kind kind :
         {Kind::NothingToAsk, Kind::Answered, Kind::FellBack, Kind::Unreachable, Kind::NoAnswer,
          Kind::HttpError, Kind::CutOff, Kind::NetworkError, Kind::BuiltinUnavailable}) {
        NameOutcome outcome;
        outcome.kind = kind;
        outcome.technical = QStringLiteral("Error 500");
        const QString text = nameStatusText(QStringLiteral("012E44A0B1C2D3E4"), outcome);
        dlg->setStatusText(text, QStringLiteral("details"));
        QCoreApplication::processEvents();
        const QLabel* pane = test::inside(*dlg).statusPane(0);
        QCOMPARE(pane->text(), text);
        QCOMPARE(pane->toolTip(), QStringLiteral("details"));
        const int needed = pane->fontMetrics().horizontalAdvance(text);
        QVERIFY2(pane->contentsRect().width() >= needed,
                 qPrintable(QStringLiteral("%1: %2 < %3")
                                .arg(text)
                                .arg(pane->contentsRect().width())
                                .arg(needed)));
    }
}

void TestMainWindow::aboutBoxOpensWithLinks()
{
    auto dlg = makeDialog();
    dlg->setNameServer(QStringLiteral("http://names.example.net:8080/trfc/"));
    QVERIFY(dlg->triggerCommand(ids::About));
    auto* about = dlg->findChild<CAboutDlg*>();
    QVERIFY(about != nullptr);
    QCOMPARE(about->windowTitle(), QStringLiteral("バージョン情報 交通費履歴"));
    QVERIFY(about->findChild<QLabel*>() != nullptr);
    bool versionShown = false;
    for (const QLabel* label : about->findChildren<QLabel*>())
        versionShown =
            versionShown || label->text() == QStringLiteral("交通費履歴読出 バージョン 1.2.0");
    QVERIFY(versionShown);
    // Both sources of the built-in names are credited.
    const QLabel* credits = about->creditLabel();
    QVERIFY(credits != nullptr);
    QVERIFY(credits->text().contains(QStringLiteral("suica-viewer")));
    QVERIFY(credits->text().contains(QStringLiteral("ICCardManager")));
    QCOMPARE(about->linkButton(1074)->text(), QStringLiteral("http://names.example.net:8080/"));
    QVERIFY(about->linkButton(1076)->text().startsWith(QStringLiteral("http")));
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    about->linkButton(1074)->click();
    about->linkButton(1076)->click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(catcher.opened.size(), 2);
    QCOMPARE(catcher.opened[0], QUrl(QStringLiteral("http://names.example.net:8080/")));
    QCOMPARE(catcher.opened[1], CAboutDlg::projectPage());
    // Both links are reached with Tab; the name source and the credit of the built-in data
    // are there, and under --name-server=builtin the server is neither named nor linked.
    for (int id : {1074, 1076})
        QCOMPARE(about->linkButton(id)->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    QVERIFY(about->nameSourceText().contains(QStringLiteral("names.example.net")));
    QVERIFY(about->creditLabel()->text().contains(QStringLiteral("suica-viewer")));
    QVERIFY(about->creditLabel()->text().contains(QStringLiteral("MIT")));
    about->close();
    dlg->setNameServer(QStringLiteral("builtin"));
    QVERIFY(dlg->triggerCommand(ids::About));
    QTRY_VERIFY(dlg->findChildren<CAboutDlg*>().size() == 1);
    about = dlg->findChild<CAboutDlg*>();
    QCOMPARE(about->nameSourceText(), QStringLiteral("駅名: 内蔵の駅名データ"));
    QVERIFY(about->linkButton(1074)->isHidden());
    about->close();
}

void TestMainWindow::readerIsNamedInStatusBarAndAboutBox()
{
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    const QString name = QStringLiteral("シミュレーションのカードリーダ（%1）")
                             .arg(QDir::toNativeSeparators(cardsDir_));
    const QString caption = QStringLiteral("ICカードリーダ: ") + name;
    auto* pane = test::inside(*dlg).statusBar()->findChild<QLabel*>(QStringLiteral("readerPane"));
    QVERIFY(pane != nullptr);
    QVERIFY(pane->isVisible());
    QCOMPARE(pane->toolTip(), caption);
    // A long name is cut at its end, so the card identifier and the balance keep their room.
    const QString shown = pane->text();
    QVERIFY2(shown == name || (shown.endsWith(QChar(0x2026)) && name.startsWith(shown.chopped(1))),
             qPrintable(shown));
    const QLabel* idPane = test::inside(*dlg).statusBar()->findChildren<QLabel*>().constFirst();
    QVERIFY2(idPane->width() >= 200, qPrintable(QString::number(idPane->width())));
    QVERIFY(test::inside(*dlg).statusBar()->rect().contains(pane->geometry()));

    QVERIFY(dlg->triggerCommand(ids::About));
    auto* about = dlg->findChild<CAboutDlg*>();
    QVERIFY(about != nullptr);
    QCOMPARE(about->readerText(), caption);
    about->close();

    // Without a reader neither names one.
    CRidelogDlg bare(*ini_, nullptr, nullptr);
    QVERIFY(test::inside(bare)
                .statusBar()
                ->findChild<QLabel*>(QStringLiteral("readerPane"))
                ->isHidden());
    CAboutDlg aboutBare(QUrl(QStringLiteral("http://localhost/trfc/")));
    aboutBare.setReaderName(QString());
    QVERIFY(aboutBare.readerText().isEmpty());
}

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
