// How the main window behaves beyond its specified start: maximising, menu shortcuts, the
// invitation to put a card on the reader and the marking of a card that has been taken off.
#include "support/cardblocks.h"
#include "support/windowaccess.h"
#include "ui/columnfit.h"
#include "ui/commandids.h"
#include "ui/cuttexttooltip.h"
#include "ui/listhints.h"
#include "ui/messagebox.h"
#include "ui/ridelogdlg.h"
#include "ui/savefiledialog.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QHeaderView>
#include <QMenu>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QTimer>
#include <numeric>

using namespace ridelog;
using ridelog::test::railBlock;
using ridelog::test::typedBlock;

class TestWindowBehaviour : public QObject, ridelog::test::WindowFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void maximisedWindowWidensNameColumns();
    void storedWidthsAreKept();
    void defaultWidthsFitTheContent();
    void cutCellShowsWholeTextAsToolTip();
    void menuShortcuts_data();
    void menuShortcuts();
    void doubleClickOpensDetailOfThatRow();
    void copyTakesSelectedRowsAsTextExport();
    void invitationUntilFirstRead();
    void cardTakenOffIsToldAndRowsMarked();
    void keyboardComesBackAfterADialog_data();
    void keyboardComesBackAfterADialog();
};

void TestWindowBehaviour::init()
{
    setUpWindow();
    MessageBox::setCapturing(true);
    MessageBox::clearCaptured();
    SaveFileDialog::setScripted(true);
}

void TestWindowBehaviour::cleanup()
{
    SaveFileDialog::setScripted(false);
    MessageBox::clearCaptured();
    tearDownWindow();
}

namespace {

QList<int> sectionSizes(const CRidelogDlg& dlg)
{
    QList<int> sizes;
    // Every column, the purpose column too: together they fill the list.
    for (int column = 0; column < test::inside(dlg).historyList()->header()->count(); ++column)
        sizes << test::inside(dlg).historyList()->header()->sectionSize(column);
    return sizes;
}

int sum(const QList<int>& sizes)
{
    return std::accumulate(sizes.begin(), sizes.end(), 0);
}

} // namespace

void TestWindowBehaviour::keyboardComesBackAfterADialog_data()
{
    QTest::addColumn<bool>("otherWindowActive");
    QTest::newRow("keyboard gone with the dialog") << false;
    QTest::newRow("another window took it") << true;
}

// Without a window manager nobody gives the keyboard back when a dialog closes, and Escape
// would no longer close the window: it takes the keyboard back, unless another window of ours
// has it.
void TestWindowBehaviour::keyboardComesBackAfterADialog()
{
    QFETCH(bool, otherWindowActive);
    auto dlg = makeWindow();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    QWidget other;
    other.resize(200, 100);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    QDialog box(dlg.get());
    box.open();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.close();
    if (otherWindowActive) {
        other.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &other);
    } else {
        QApplication::setActiveWindow(nullptr);
        QCOMPARE(QApplication::activeWindow(), nullptr);
    }
    QWidget* const expected = otherWindowActive ? &other : static_cast<QWidget*>(dlg.get());
    QTRY_COMPARE(QApplication::activeWindow(), expected);
    QTest::qWait(300);
    QCOMPARE(QApplication::activeWindow(), expected);
}

void TestWindowBehaviour::maximisedWindowWidensNameColumns()
{
    auto dlg = makeWindow();
    QVERIFY(dlg->windowFlags() & Qt::WindowMaximizeButtonHint);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    const QList<int> normal = sectionSizes(*dlg);
    const int normalRoom = test::inside(*dlg).historyList()->viewport()->width();
    dlg->showMaximized();
    QTRY_VERIFY(dlg->isMaximized());
    QTRY_VERIFY(test::inside(*dlg).historyList()->viewport()->width() > normalRoom);
    QTRY_COMPARE(test::inside(*dlg).historyList()->width(), dlg->width());
    QTRY_COMPARE(sum(sectionSizes(*dlg)), test::inside(*dlg).historyList()->viewport()->width());
    const QList<int> maximised = sectionSizes(*dlg);
    for (int column : {0, 1, 2, 3, 6, 7})
        QCOMPARE(maximised[column], normal[column]);
    QVERIFY(maximised[4] > normal[4]);
    QVERIFY(qAbs(maximised[4] - maximised[5] - (normal[4] - normal[5])) <= 1);
    dlg->showNormal();
    QTRY_COMPARE(sectionSizes(*dlg), normal);
    // Closed while maximised: the name columns are stored without the extra width.
    dlg->showMaximized();
    QTRY_VERIFY(sectionSizes(*dlg)[4] > normal[4]);
    dlg->reject();
    const ColumnWidths content = contentColumnWidths(*test::inside(*dlg).historyList());
    QCOMPARE(ini_->value(QStringLiteral("Trfc/col4")).toInt(), content[4]);
    QCOMPARE(ini_->value(QStringLiteral("Trfc/col5")).toInt(), content[5]);
}

void TestWindowBehaviour::storedWidthsAreKept()
{
    ini_->setValue(QStringLiteral("Trfc/col1"), 120);
    ini_->setValue(QStringLiteral("Trfc/col4"), 140);
    ini_->setValue(QStringLiteral("Trfc/col6"), 31);
    auto dlg = makeWindow();
    const QList<int> sizes = sectionSizes(*dlg);
    QCOMPARE(sizes[1], 120);
    QVERIFY(sizes[4] > 0 && sizes[4] <= 140); // gives way in the narrow default window
    QCOMPARE(sizes[6], 31);
    dlg->reject();
    QCOMPARE(ini_->value(QStringLiteral("Trfc/col4")).toInt(), 140);
}

void TestWindowBehaviour::defaultWidthsFitTheContent()
{
    auto dlg = makeWindow();
    dlg->resize(1200, 400);
    dlg->show();
    // Six-digit serials, the widest terminal and transaction names, a charge and a balance.
    putCard({typedBlock(0xC7, 0x46, 999999, 20000, 0x62, 0x31, 0, 1),
             typedBlock(0x05, 0x0F, 999998, 1500, 0x12, 0x34, 0x01, 0x23),
             railBlock(999997, 1000)});
    QTRY_COMPARE(test::inside(*dlg).historyModel()->rowCount(), 3);
    const QAbstractItemModel* model = test::inside(*dlg).historyList()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int column : {0, 1, 2, 3, 6}) {
            const QModelIndex index = model->index(row, column);
            QVERIFY2(CutTextToolTipDelegate::toolTipFor(*test::inside(*dlg).historyList(), index)
                         .isEmpty(),
                     qPrintable(index.data().toString()));
        }
    }
}

void TestWindowBehaviour::cutCellShowsWholeTextAsToolTip()
{
    putCard({railBlock(2, 300, 0), railBlock(1, 100)});
    auto dlg = makeWindow();
    dlg->show();
    QTRY_COMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    auto* list = test::inside(*dlg).historyList();
    const QModelIndex process = list->model()->index(0, 3);
    QVERIFY(!process.data().toString().isEmpty());
    QCOMPARE(CutTextToolTipDelegate::toolTipFor(*list, process), QString());
    list->header()->resizeSection(3, 12);
    QCOMPARE(CutTextToolTipDelegate::toolTipFor(*list, process), process.data().toString());
    // An empty cell (a ride without exit station) has nothing to show.
    list->header()->resizeSection(5, 12);
    QCOMPARE(CutTextToolTipDelegate::toolTipFor(*list, list->model()->index(0, 5)), QString());
    QCOMPARE(CutTextToolTipDelegate::toolTipFor(*list, QModelIndex()), QString());
}

void TestWindowBehaviour::menuShortcuts_data()
{
    QTest::addColumn<int>("commandId");
    QTest::addColumn<QKeySequence>("keys");
    QTest::newRow("save") << int(ids::SaveToFile) << QKeySequence(Qt::CTRL | Qt::Key_S);
    QTest::newRow("exit") << int(ids::Exit) << QKeySequence(Qt::CTRL | Qt::Key_Q);
}

void TestWindowBehaviour::menuShortcuts()
{
    QFETCH(int, commandId);
    QFETCH(QKeySequence, keys);
    putCard({railBlock(2, 300), railBlock(1, 100)});
    auto dlg = makeWindow();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
    QTRY_COMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    QCOMPARE(dlg->commandAction(commandId)->shortcut(), keys);
    QSignalSpy triggered(dlg->commandAction(commandId), &QAction::triggered);
    QTest::keySequence(test::inside(*dlg).historyList(), keys);
    QCOMPARE(triggered.count(), 1);
    if (commandId == ids::SaveToFile) {
        QVERIFY(SaveFileDialog::lastRequest().has_value());
        QVERIFY(SaveFileDialog::lastRequest()->initialName.startsWith(test::kCardIdm + u'_'));
    } else {
        QVERIFY(!dlg->isVisible());
        QCOMPARE(dlg->result(), int(QDialog::Accepted));
    }
}

void TestWindowBehaviour::doubleClickOpensDetailOfThatRow()
{
    putCard({railBlock(3, 500), test::busBlock(2, 300), railBlock(1, 100)});
    auto dlg = makeWindow();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    QTRY_COMPARE(test::inside(*dlg).historyModel()->rowCount(), 3);
    auto* list = test::inside(*dlg).historyList();
    QStringList titles;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            titles << modal->windowTitle();
            modal->reject();
        }
    });
    closer.start(0);
    auto doubleClick = [&](int row) {
        const QRect cell = list->visualRect(list->model()->index(row, 2));
        // As a mouse sends it: a click, then the second press as a double-click.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::qWait(20);
    };
    doubleClick(1); // the bus ride
    QCOMPARE(titles, QStringList{QStringLiteral("バス停留所 詳細")});
    doubleClick(0);
    QCOMPARE(titles.value(1), QStringLiteral("鉄道・地下鉄駅 詳細"));
    // Below the last row there is nothing to open.
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       QPoint(5, list->viewport()->height() - 3));
    QTest::qWait(20);
    QCOMPARE(titles.size(), 2);
    QVERIFY(dlg->isVisible());
}

void TestWindowBehaviour::copyTakesSelectedRowsAsTextExport()
{
    putCard({railBlock(3, 500), railBlock(2, 300), railBlock(1, 100)});
    auto dlg = makeWindow();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
    QTRY_COMPARE(test::inside(*dlg).historyModel()->rowCount(), 3);
    QAction* copy = dlg->commandAction(ids::CopyRows);
    QVERIFY(copy != nullptr);
    QCOMPARE(copy->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
    QVERIFY(test::inside(*dlg).historyContextMenu()->actions().contains(copy));
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    // Nothing selected: the clipboard stays as it was.
    QTest::keySequence(test::inside(*dlg).historyList(), QKeySequence(Qt::CTRL | Qt::Key_C));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));

    auto* list = test::inside(*dlg).historyList();
    const auto select = QItemSelectionModel::Select | QItemSelectionModel::Rows;
    list->selectionModel()->select(list->model()->index(2, 0), select);
    list->selectionModel()->select(list->model()->index(0, 0), select);
    QTest::keySequence(list, QKeySequence(Qt::CTRL | Qt::Key_C));
    // Blank-separated, rows in the list's order, as the text export writes them.
    auto line = [&](int row) {
        QStringList cells;
        for (int column = 0; column < 7; ++column)
            cells << test::cell(*dlg, row, column);
        return cells.join(u' ') + u'\n';
    };
    const QString expected = line(0) + line(2);
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);
    QVERIFY(expected.startsWith(QStringLiteral("3 ")));
}

void TestWindowBehaviour::invitationUntilFirstRead()
{
    auto dlg = makeWindow();
    ListHints* hints = test::inside(*dlg).listHints();
    QCOMPARE(hints->shownInvitation(), QStringLiteral("カードをリーダーに置いてください"));
    // A card taken off that was never read changes nothing.
    const auto lose =
        QEvent::Type(card::registeredCardEventType(QString::fromLatin1(card::kCardLoseName)));
    QCoreApplication::postEvent(dlg.get(), new QEvent(lose));
    QCoreApplication::processEvents();
    QCOMPARE(test::inside(*dlg).statusPaneText(0), QString());
    QVERIFY(!hints->rowsMarkedAsLastRead());
    // A read that fails reads no card.
    dlg->readCard();
    QCOMPARE(MessageBox::capturedMessages().size(), 1);
    QCOMPARE(hints->shownInvitation(), ListHints::invitationText());
    // A card without history is a card read: the list is empty, but says nothing.
    putCard({});
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 0);
    QCOMPARE(hints->shownInvitation(), QString());
}

void TestWindowBehaviour::cardTakenOffIsToldAndRowsMarked()
{
    auto dlg = makeWindow();
    dlg->show();
    const QColor normalText =
        test::inside(*dlg).historyList()->palette().color(QPalette::Active, QPalette::Text);
    putCard({railBlock(2, 300), railBlock(1, 100)});
    QTRY_COMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    QVERIFY(!test::inside(*dlg).listHints()->rowsMarkedAsLastRead());
    // The refresh's own status (no server here) comes first, however slow the machine.
    QTRY_VERIFY(!test::inside(*dlg).nameRefresher().isRunning());
    takeCardOff();
    QTRY_COMPARE(test::inside(*dlg).statusPaneText(0), ListHints::cardTakenOffText());
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    QVERIFY(test::inside(*dlg).listHints()->rowsMarkedAsLastRead());
    const QPalette marked = test::inside(*dlg).historyList()->palette();
    QCOMPARE(marked.color(QPalette::Active, QPalette::Text),
             marked.color(QPalette::Disabled, QPalette::Text));
    QVERIFY(marked.color(QPalette::Active, QPalette::Text) != normalText);
    // Stored history chosen from the card menu is no read: not marked.
    QVERIFY(dlg->showStoredCard(test::kCardIdm));
    QVERIFY(!test::inside(*dlg).listHints()->rowsMarkedAsLastRead());
    // The next read shows fresh rows in the normal colour again.
    putCard({railBlock(3, 500), railBlock(2, 300)});
    QTRY_COMPARE(test::inside(*dlg).historyModel()->rowCount(), 3);
    QVERIFY(!test::inside(*dlg).listHints()->rowsMarkedAsLastRead());
    QCOMPARE(test::inside(*dlg).historyList()->palette().color(QPalette::Active, QPalette::Text),
             normalText);
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

QTEST_MAIN(TestWindowBehaviour)
#include "test_windowbehaviour.moc"
