// What the main window keeps of itself: its place, size and column widths across a restart,
// however it is closed and when the database or the data folder fails; and its layout when
// resized and with the balance bar.
#include "commandfixture.h"
#include "support/cardblocks.h"
#include "ui/columnfit.h"
#include "ui/commandids.h"

#include <QHeaderView>
#include <QTest>

using namespace ridelog;
using namespace ridelog::test;
using namespace Qt::StringLiterals;

class TestMainWindowState : public QObject, CommandFixture
{
    Q_OBJECT

private slots:
    void init() { setUpCommands(); }
    void cleanup() { tearDownCommands(); }

    void closingSavesStateAndNames_data();
    void closingSavesStateAndNames();
    void windowStateSavedWhenDatabaseFails();
    void windowStateSavedWhenDataFolderCannotBeMade();
    void minimumSizeAndListAboveStatusBar();
    void balanceBarMovesListAndIsStored();
};

void TestMainWindowState::closingSavesStateAndNames_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("Escape") << u"escape"_s << int(QDialog::Rejected);
    QTest::newRow("Enter") << u"enter"_s << int(QDialog::Accepted);
    QTest::newRow("終了(&X)") << u"exit"_s << int(QDialog::Accepted);
}

// However it is closed, the window keeps its place, size and column widths and the names it
// learnt; the next start restores them, a name column giving way in its width but not in the
// stored one.
void TestMainWindowState::closingSavesStateAndNames()
{
    QFETCH(QString, how);
    QFETCH(int, result);
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    dlg->move(44, 55);
    dlg->resize(610, 360);
    inside(*dlg).historyList()->header()->resizeSection(0, 50);
    inside(*dlg).historyList()->header()->resizeSection(4, 150);
    dlg->session().caches().stations.EntryFor(kEntryStation) = {u"東急"_s, u"東横"_s, u"渋谷"_s,
                                                                u"渋谷"_s};
    inside(*dlg).historyList()->setFocus();
    if (how == QLatin1String("exit"))
        QVERIFY(dlg->triggerCommand(ids::Exit));
    else
        QTest::keyClick(inside(*dlg).historyList(),
                        how == QLatin1String("enter") ? Qt::Key_Return : Qt::Key_Escape);
    QVERIFY(!dlg->isVisible());
    QCOMPARE(dlg->result(), result);
    const int statusBarHeight = inside(*dlg).statusBarHeight();
    const int fittingWidth6 = contentColumnWidths(*inside(*dlg).historyList())[6];
    const auto stored = [&](const char* name) {
        return ini_->value(u"Trfc/"_s + QLatin1String(name)).toInt();
    };
    QCOMPARE((QList<int>{stored("mX"), stored("mY"), stored("mWidth"), stored("mHeight")}),
             (QList<int>{44, 55, 610, 360 + statusBarHeight}));
    QCOMPARE((QList<int>{stored("col0"), stored("col4"), stored("col6")}),
             (QList<int>{50, 150, fittingWidth6}));
    dlg.reset();

    auto next = makeDialog();
    QCOMPARE(next->pos(), QPoint(44, 55));
    QCOMPARE(next->size(), QSize(610, 360));
    const QHeaderView* header = inside(*next).historyList()->header();
    QCOMPARE(header->sectionSize(0), 50);
    QVERIFY(header->sectionSize(4) <= 150);
    QCOMPARE(header->sectionSize(6), contentColumnWidths(*inside(*next).historyList())[6]);
    QCOMPARE(next->session().caches().stations.EntryFor(kEntryStation).nm, u"渋谷"_s);
    next->reject();
    QCOMPARE(stored("col4"), 150);
}

void TestMainWindowState::windowStateSavedWhenDatabaseFails()
{
    // Not a database: the store leaves it alone and says so with the engine's text.
    const QString folder = dir_->filePath(u"data/Tanpopo/Hotaru/Trfc"_s);
    QVERIFY(QDir().mkpath(folder));
    QFile garbage(folder + u"/ekdb.sqlite"_s);
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();
    auto dlg = makeDialog();
    QCOMPARE(MessageBox::capturedMessages().size(), 1);
    // In the program's words, with the engine's text as the detail.
    QVERIFY(MessageBox::capturedMessages().first().startsWith(u"履歴データベースが壊れている"_s));
    QCOMPARE(MessageBox::capturedDetails().first(), u"file is not a database"_s);
    QVERIFY(!inside(*dlg).historyNotKeptSign()->isHidden());
    dlg->session().caches().stations.EntryFor(StationKey{0, 1, 2}).nm = u"駅"_s;
    dlg->move(77, 88);
    dlg->reject();
    QCOMPARE(ini_->value(u"Trfc/mX"_s).toInt(), 77);
    QCOMPARE(ini_->value(u"Trfc/col6"_s).toInt(),
             contentColumnWidths(*inside(*dlg).historyList())[6]);
    QVERIFY(garbage.open(QIODevice::ReadOnly));
    QCOMPARE(garbage.readAll(), QByteArray(4096, 'x'));
}

void TestMainWindowState::windowStateSavedWhenDataFolderCannotBeMade()
{
    // A plain file where the data folder should be.
    QVERIFY(QDir().mkpath(dir_->filePath(u"data"_s)));
    QFile blocker(dir_->filePath(u"data/Tanpopo"_s));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    putCard({railBlock(2, 500), railBlock(1, 700)});
    auto dlg = makeDialog();
    dlg->readCard();
    QCOMPARE(inside(*dlg).historyModel()->rowCount(), 2);
    dlg->move(91, 92);
    dlg->accept();
    QCOMPARE(ini_->value(u"Trfc/mX"_s).toInt(), 91);
}

void TestMainWindowState::minimumSizeAndListAboveStatusBar()
{
    auto dlg = makeDialog();
    QCOMPARE(dlg->minimumSize(), QSize(450, 200));
    dlg->resize(100, 100);
    QCOMPARE(dlg->size(), QSize(450, 200));
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    dlg->resize(700, 420);
    QCoreApplication::processEvents();
    const QWidget* client = inside(*dlg).historyList()->parentWidget();
    QCOMPARE(inside(*dlg).historyList()->geometry(),
             QRect(0, 0, client->width(), client->height() - inside(*dlg).statusBarHeight()));
    QCOMPARE(inside(*dlg).statusBar()->geometry().bottom(), client->height() - 1);
    dlg->reject();
}

// The bar takes the top of the list, not the bottom, when it comes and when it goes; the
// window's resizing keeps the list below it; the flag is stored at once.
void TestMainWindowState::balanceBarMovesListAndIsStored()
{
    auto dlg = makeDialog();
    const auto list = [&] { return inside(*dlg).historyList()->geometry(); };
    const int bottom = list().bottom();
    QVERIFY(dlg->triggerCommand(ids::BalanceView));
    QVERIFY(dlg->commandAction(ids::BalanceView)->isChecked());
    QVERIFY(inside(*dlg).isBalanceBarVisible());
    QCOMPARE(list().top(), 29);
    QCOMPARE(list().bottom(), bottom);
    QCOMPARE(inside(*dlg).settings().integer(u"zanViewM"_s, -1), 1);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    QVERIFY(inside(*dlg).balanceField()->isVisible());
    dlg->resize(620, 380);
    QTRY_COMPARE(list().height(), inside(*dlg).historyList()->parentWidget()->height() -
                                      inside(*dlg).statusBarHeight() - 29);
    QCOMPARE(list().top(), 29);
    const QRect resized = list();
    QVERIFY(resized.bottom() > bottom);
    QVERIFY(dlg->triggerCommand(ids::BalanceView));
    QVERIFY(!dlg->commandAction(ids::BalanceView)->isChecked());
    QVERIFY(!inside(*dlg).isBalanceBarVisible());
    QVERIFY(!inside(*dlg).balanceField()->isVisible());
    QCOMPARE(list(), resized.adjusted(0, -29, 0, 0));
    QCOMPARE(inside(*dlg).settings().integer(u"zanViewM"_s, -1), 0);
}

QTEST_MAIN(TestMainWindowState)
#include "test_mainwindow_state.moc"
