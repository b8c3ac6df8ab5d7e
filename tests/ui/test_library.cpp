// The main window's card library, missed history, sorting and searching, through the real
// window and the simulated reader.
#include "namedata/cp932.h"
#include "store/cardlibrary.h"
#include "store/database.h"
#include "store/listexport.h"
#include "support/cardblocks.h"
#include "support/windowaccess.h"
#include "ui/cardlibrarymenu.h"
#include "ui/cardlistdlg.h"
#include "ui/commandids.h"
#include "ui/historylist.h"
#include "ui/historysearchbar.h"
#include "ui/messagebox.h"
#include "ui/savefiledialog.h"
#include "windowfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTreeView>
#include <QTreeWidget>

using namespace ridelog;
using namespace ridelog::test;

namespace {

const QString kOtherIdm = QStringLiteral("0000000000000001");

QList<HistoryBlock> railRides(std::uint32_t newest, int count, int balance)
{
    QList<HistoryBlock> blocks;
    for (int i = 0; i < count; ++i)
        blocks.append(railBlock(newest - std::uint32_t(i), balance + 10 * i));
    return blocks;
}

QStringList cardEntries(CRidelogDlg& dlg)
{
    test::inside(dlg).refreshCardMenu();
    QStringList texts;
    for (int id = ids::FirstCardEntry; dlg.commandAction(id) != nullptr; ++id)
        texts << dlg.commandAction(id)->text();
    return texts;
}

} // namespace

class TestLibrary : public QObject, WindowFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void twoCardsShownFromTheLibrary();
    void readingACardSwitchesBackToIt();
    void renameThroughTheMenu();
    void renameFailsWithUnusableCardsTable();
    void renameNamesTheCardItWasOpenedFor();
    void missedHistoryMarkerAfterAFullRead();
    void noMarkerWhenTheReadReachesStoredHistory();
    void headingClicksSortAndHashRestores();
    void searchFiltersAndExportWritesShownRows();
    void searchBarKeepsEscapeAndEnter();
    void manyCardsInTheMenuAndTheList();

private:
    std::unique_ptr<CRidelogDlg> readTwoCards();
};

void TestLibrary::init()
{
    setUpWindow();
    MessageBox::setCapturing(true);
    MessageBox::clearCaptured();
    CardNameDialog::setScripted(true);
    SaveFileDialog::setScripted(true);
}

void TestLibrary::cleanup()
{
    MessageBox::clearCaptured();
    CardNameDialog::setScripted(false);
    SaveFileDialog::setScripted(false);
    tearDownWindow();
}

std::unique_ptr<CRidelogDlg> TestLibrary::readTwoCards()
{
    auto dlg = makeWindow();
    putCard(railRides(12, 3, 1500));
    dlg->readCard();
    putCard(railRides(40, 2, 700), kOtherIdm);
    dlg->readCard();
    takeCardOff();
    return dlg;
}

void TestLibrary::twoCardsShownFromTheLibrary()
{
    auto dlg = readTwoCards();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    const QStringList entries = cardEntries(*dlg);
    QCOMPARE(entries.size(), 2);
    // IDm order: the second card read comes first.
    QCOMPARE(entries[0], kOtherIdm + QStringLiteral("\t2件  2008-3-5"));
    QCOMPARE(entries[1], kCardIdm + QStringLiteral("\t3件  2008-3-5"));

    QVERIFY(dlg->triggerCommand(ids::FirstCardEntry + 1));
    QVERIFY(dlg->session().isShowingStoredCard());
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 3);
    QCOMPARE(cell(*dlg, 0, 0), QStringLiteral("12"));
    QCOMPARE(test::inside(*dlg).balanceField()->text(), QStringLiteral("1500"));
    QCOMPARE(test::inside(*dlg).statusPaneText(2), QStringLiteral("1500円"));
    QVERIFY(dlg->windowTitle().contains(QStringLiteral("保存された履歴")));
    QCOMPARE(dlg->session().idmText(), kCardIdm);
    QVERIFY(dlg->commandAction(ids::SaveToFile)->isEnabled());

    cardEntries(*dlg);
    QVERIFY(dlg->commandAction(ids::FirstCardEntry + 1)->isChecked());
    QVERIFY(dlg->triggerCommand(ids::FirstCardEntry));
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    QCOMPARE(test::inside(*dlg).balanceField()->text(), QStringLiteral("700"));
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestLibrary::readingACardSwitchesBackToIt()
{
    auto dlg = readTwoCards();
    cardEntries(*dlg);
    QVERIFY(dlg->triggerCommand(ids::FirstCardEntry + 1));
    // The reader's own read: only a card the reader has noticed can be noticed taken off.
    putCard(railRides(41, 3, 600), kOtherIdm);
    QTRY_COMPARE(dlg->session().idmText(), kOtherIdm);
    QVERIFY(!dlg->session().isShowingStoredCard());
    QCOMPARE(dlg->windowTitle(), kOtherIdm + QStringLiteral(" - 交通費履歴読出"));
    QCOMPARE(dlg->session().idmText(), kOtherIdm);
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 3); // 41 new, 40 and 39 stored
    // Back to the card read last, now taken off: its stored history.
    takeCardOff();
    QTRY_VERIFY(test::inside(*dlg).cardIdField()->text().isEmpty());
    QVERIFY(dlg->triggerCommand(ids::FirstCardEntry + 1));
    QVERIFY(dlg->triggerCommand(ids::ShowReaderCard));
    QCOMPARE(dlg->session().idmText(), kOtherIdm);
    QVERIFY(dlg->session().isShowingStoredCard());
    const auto card = CardLibrary(dlg->session().store().databasePath()).card(kOtherIdm);
    QVERIFY(card && card->firstRead.isValid() && card->lastRead >= card->firstRead);
}

void TestLibrary::renameThroughTheMenu()
{
    auto dlg = readTwoCards();
    cardEntries(*dlg);
    QVERIFY(dlg->triggerCommand(ids::FirstCardEntry + 1));
    CardNameDialog::setNextAnswer(QStringLiteral("通勤 & \"定期\", 𠮷"));
    QVERIFY(dlg->triggerCommand(ids::RenameCard));
    QCOMPARE(dlg->windowTitle(),
             QStringLiteral("通勤 & \"定期\", 𠮷（保存された履歴） - 交通費履歴読出"));
    QCOMPARE(test::inside(*dlg).cardNamePane()->toolTip(), QStringLiteral("通勤 & \"定期\", 𠮷"));
    QVERIFY(!test::inside(*dlg).cardNamePane()->isHidden());
    QVERIFY(test::inside(*dlg).statusPaneText(0).startsWith(kCardIdm)); // pane 0 keeps its own text
    // "&" stays a character in the menu, not a mnemonic.
    QVERIFY(cardEntries(*dlg)[1].startsWith(QStringLiteral("通勤 && \"定期\", 𠮷\t")));
    CardNameDialog::setNextAnswer(QString());
    QVERIFY(dlg->triggerCommand(ids::RenameCard));
    QVERIFY(cardEntries(*dlg)[1].startsWith(kCardIdm + u'\t'));
    QVERIFY(test::inside(*dlg).cardNamePane()->isHidden());
    QCOMPARE(dlg->windowTitle(), kCardIdm + QStringLiteral("（保存された履歴） - 交通費履歴読出"));
    // A cancelled question changes nothing.
    QVERIFY(dlg->triggerCommand(ids::RenameCard));
    QVERIFY(cardEntries(*dlg)[1].startsWith(kCardIdm + u'\t'));
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestLibrary::renameFailsWithUnusableCardsTable()
{
    auto dlg = readTwoCards();
    const QString path = dlg->session().store().databasePath();
    {
        Database database = Database::open(path, Database::OpenMode::ExistingFile, 1000);
        database.execute(QStringLiteral("DROP TABLE IF EXISTS cards"));
        database.execute(QStringLiteral("CREATE TABLE cards (idm TEXT)"));
    }
    CardNameDialog::setNextAnswer(QStringLiteral("x"));
    QVERIFY(dlg->triggerCommand(ids::RenameCard));
    QCOMPARE(MessageBox::capturedMessages(),
             QStringList{QStringLiteral("カードの名前を保存できません。")});
    // The list of cards comes from the history tables.
    QCOMPARE(cardEntries(*dlg).size(), 2);
    putCard(railRides(13, 2, 1400));
    dlg->readCard(); // the read goes on without noting the card
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 4);
}

// Another card put on the reader while the dialog is open is read and shown; the name still
// goes to the card the dialog was opened for.
void TestLibrary::renameNamesTheCardItWasOpenedFor()
{
    auto dlg = readTwoCards();
    cardEntries(*dlg);
    QVERIFY(dlg->triggerCommand(ids::FirstCardEntry + 1)); // the stored card kCardIdm
    QCOMPARE(dlg->session().idmText(), kCardIdm);
    CardNameDialog::setNextAnswer(QStringLiteral("通勤定期"));
    CardNameDialog::setWhileAsked([&] {
        putCard(railRides(41, 3, 600), kOtherIdm);
        dlg->readCard();
    });
    QVERIFY(dlg->triggerCommand(ids::RenameCard));
    QCOMPARE(dlg->session().idmText(), kOtherIdm);
    const CardLibrary library(dlg->session().store().databasePath());
    QCOMPARE(library.card(kCardIdm)->nickname, QStringLiteral("通勤定期"));
    QVERIFY(library.card(kOtherIdm)->nickname.isEmpty());
    // The window shows the card on the reader, under its own title and without the new name.
    QCOMPARE(dlg->windowTitle(), kOtherIdm + QStringLiteral(" - 交通費履歴読出"));
    QVERIFY(test::inside(*dlg).cardNamePane()->isHidden());
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestLibrary::missedHistoryMarkerAfterAFullRead()
{
    auto dlg = makeWindow();
    putCard(railRides(3, 3, 2000));
    dlg->readCard();
    putCard(railRides(119, 20, 500)); // twenty entries, none stored
    dlg->readCard();
    QVERIFY(dlg->session().missedHistory().has_value());
    QCOMPARE(dlg->session().missedHistory()->oldestFreshSerial, 100u);
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 24);
    const QAbstractItemModel* list = test::inside(*dlg).historyModel();
    QVERIFY(list->data(list->index(20, 0), MissedHistoryMarkerRole).toBool());
    QCOMPARE(cell(*dlg, 20, 3), missedHistoryMarkerText());
    QVERIFY(!list->data(list->index(20, 4), Qt::ToolTipRole).toString().isEmpty());
    // Serial 100 spans the gap: balance 690 after 2000 (serial 3) shows with the mark.
    QCOMPARE(cell(*dlg, 19, 6), QStringLiteral("※1310"));
    QCOMPARE(cell(*dlg, 21, 0), QStringLiteral("3"));
    // The marker holds no record: no detail, no name asked for it.
    QCOMPARE(serialOfRow(*list, 20), kNoSerial);

    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(QStringLiteral("gap.txt")), 1});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    QFile text(dir_->filePath(QStringLiteral("gap.txt")));
    QVERIFY(text.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = text.readAll().split('\n');
    QCOMPARE(lines[20], QByteArray("\r"));
    QVERIFY(lines[19].endsWith(cp932::encode(QStringLiteral("※1310\r"))));
    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(QStringLiteral("gap.csv")), 0});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    QFile csv(dir_->filePath(QStringLiteral("gap.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readAll().split('\n')[20],
             cp932::encode(QStringLiteral("…,,,%1,,,\r").arg(missedHistoryMarkerText())));

    // Sorted by another column the marker has no place; "#" brings it back.
    test::inside(*dlg).historyList()->header()->sectionClicked(DateColumn);
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 23);
    test::inside(*dlg).historyList()->header()->sectionClicked(SerialColumn);
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 24);
}

void TestLibrary::noMarkerWhenTheReadReachesStoredHistory()
{
    auto dlg = makeWindow();
    putCard(railRides(100, 1, 2000));
    dlg->readCard();
    putCard(railRides(119, 20, 500)); // its oldest entry, 100, is stored
    dlg->readCard();
    QVERIFY(!dlg->session().missedHistory().has_value());
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 20);
    putCard(railRides(150, 19, 500)); // not a full card
    dlg->readCard();
    QVERIFY(!dlg->session().missedHistory().has_value());
}

void TestLibrary::headingClicksSortAndHashRestores()
{
    auto dlg = makeWindow();
    putCard({railBlock(5, 100), railBlock(4, 900), railBlock(3, 300), railBlock(2, 1000)});
    dlg->readCard();
    QHeaderView* header = test::inside(*dlg).historyList()->header();
    QVERIFY(header->sectionsClickable());
    QCOMPARE(header->sortIndicatorSection(), int(SerialColumn));
    auto serials = [&] {
        QStringList column;
        for (int row = 0; row < test::inside(*dlg).historyModel()->rowCount(); ++row)
            column << cell(*dlg, row, 0);
        return column.join(u' ');
    };
    QCOMPARE(serials(), QStringLiteral("5 4 3 2"));
    header->sectionClicked(AmountColumn); // amounts 800, -600, 700, 0
    QCOMPARE(serials(), QStringLiteral("4 2 3 5"));
    header->sectionClicked(AmountColumn);
    QCOMPARE(serials(), QStringLiteral("5 3 2 4"));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    header->sectionClicked(SerialColumn);
    QCOMPARE(serials(), QStringLiteral("5 4 3 2"));
    QCOMPARE(header->sortIndicatorSection(), int(SerialColumn));
    header->sectionClicked(SerialColumn); // "#" never turns the order round
    QCOMPARE(serials(), QStringLiteral("5 4 3 2"));
    // Deleting a row of the sorted list deletes that row.
    header->sectionClicked(AmountColumn);
    test::inside(*dlg).historyList()->selectionModel()->select(
        test::inside(*dlg).historyModel()->index(0, 0),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QVERIFY(dlg->triggerCommand(ids::DeleteRows));
    QCOMPARE(serials(), QStringLiteral("2 3 5"));
}

void TestLibrary::searchFiltersAndExportWritesShownRows()
{
    auto dlg = makeWindow();
    test::BlockFields old;
    old.serial = 1;
    old.year = 2007;
    old.balance = 3000;
    putCard({busBlock(4, 500), railBlock(3, 700), railBlock(2, 900), makeBlock(old)});
    dlg->readCard();
    QCOMPARE(dlg->commandAction(ids::Search)->shortcut(), QKeySequence(QStringLiteral("Ctrl+F")));
    QVERIFY(dlg->triggerCommand(ids::Search));
    HistorySearchBar* bar = test::inside(*dlg).searchBar();
    QVERIFY(bar->isVisible() || !bar->isHidden());
    bar->textField()->setText(QStringLiteral("バス"));
    bar->applyNow();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 1);
    QCOMPARE(cell(*dlg, 0, 0), QStringLiteral("4"));
    bar->textField()->setText(QStringLiteral("(0, 37, 12)")); // the two rides, not the 2007 one
    bar->applyNow();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);

    bar->textField()->clear();
    bar->dateRangeBox()->setChecked(true);
    bar->fromField()->setDate(QDate(2007, 1, 1));
    bar->toField()->setDate(QDate(2007, 12, 31));
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 1);
    QCOMPARE(cell(*dlg, 0, 0), QStringLiteral("1"));

    bar->fromField()->setDate(QDate(2008, 3, 5));
    bar->toField()->setDate(QDate(2008, 3, 5));
    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(QStringLiteral("shown.csv")), 0});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    QFile file(dir_->filePath(QStringLiteral("shown.csv")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count('\n'), 3);

    bar->dismiss();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 4);
}

void TestLibrary::searchBarKeepsEscapeAndEnter()
{
    auto dlg = makeWindow();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    QVERIFY(dlg->triggerCommand(ids::Search));
    QTest::keyClick(test::inside(*dlg).searchBar()->textField(), Qt::Key_Return);
    QVERIFY(dlg->isVisible());
    QTest::keyClick(test::inside(*dlg).searchBar()->textField(), Qt::Key_Escape);
    QVERIFY(dlg->isVisible());
    QVERIFY(test::inside(*dlg).searchBar()->isHidden());
    dlg->reject();
}

// 300 cards, one of them with a name of 100,000 characters: the commands stay on top, the menu
// names the 20 read last with names cut to 40 characters, and the list of all cards holds every
// one, narrowed down by what is typed.
void TestLibrary::manyCardsInTheMenuAndTheList()
{
    auto dlg = makeWindow();
    const QString databasePath = dlg->session().store().databasePath();
    {
        HistoryStore store;
        NameCaches caches;
        store.OpenDatabaseAtStart(caches);
        for (int card = 0; card < 300; ++card) {
            CardBlockSet blocks;
            blocks.insert(railBlock(std::uint32_t(card + 1), 1000 + card), BlockOrigin::Card);
            store.StoreNewBlocks(QStringLiteral("0A%1").arg(card, 14, 10, QLatin1Char('0')),
                                 blocks);
        }
        store.dropDatabaseObject();
    }
    CardLibrary library(databasePath);
    const QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(8, 0), Qt::UTC);
    for (int card = 0; card < 300; ++card) {
        const QString idm = QStringLiteral("0A%1").arg(card, 14, 10, QLatin1Char('0'));
        QVERIFY(library.noteCardRead(idm, start.addSecs(3600 * card)));
        QVERIFY(library.renameCard(idm, QStringLiteral("家族カード %1").arg(card)));
    }
    const QString longName = QString(100000, QChar(u'長'));
    const QString longIdm = QStringLiteral("0A%1").arg(299, 14, 10, QLatin1Char('0'));
    QVERIFY(library.renameCard(longIdm, longName));
    QCOMPARE(library.nickname(longIdm), longName);
    QCOMPARE(library.nickname(QStringLiteral("FFFFFFFFFFFFFFFF")), QString());

    const QStringList entries = cardEntries(*dlg);
    QCOMPARE(entries.size(), int(kRecentCardsInMenu));
    QCOMPARE(entries[0].section(QLatin1Char('\t'), 0, 0),
             QString(kMenuNameCharacters - 1, QChar(u'長')) + QChar(u'…'));
    QCOMPARE(entries[1].section(QLatin1Char('\t'), 0, 0), QStringLiteral("家族カード 298"));
    QCOMPARE(entries[19].section(QLatin1Char('\t'), 0, 0), QStringLiteral("家族カード 280"));
    const QList<QAction*> actions = test::inside(*dlg).cardMenu()->actions();
    QCOMPARE(actions[0], dlg->commandAction(ids::RenameCard));
    QCOMPARE(actions[1], dlg->commandAction(ids::ShowReaderCard));
    QCOMPARE(actions.last(), dlg->commandAction(ids::ShowAllCards));
    QVERIFY(dlg->commandAction(ids::ShowAllCards)->isEnabled());

    CardListDialog list(library.cards(), QString());
    QCOMPARE(list.shownCount(), 300);
    QCOMPARE(list.chosenIdm(), longIdm); // read last, on top
    list.filterField()->setText(QStringLiteral("カード 17"));
    QCOMPARE(list.shownCount(), 11); // 17, 170 ... 179
    list.filterField()->setText(QStringLiteral("0a00000000000042"));
    QCOMPARE(list.shownCount(), 1);
    QCOMPARE(list.chosenIdm(), QStringLiteral("0A00000000000042"));
    list.filterField()->setText(QStringLiteral("誰のでもない"));
    QCOMPARE(list.shownCount(), 0);
    QCOMPARE(list.chosenIdm(), QString());
}

QTEST_MAIN(TestLibrary)
#include "test_library.moc"
