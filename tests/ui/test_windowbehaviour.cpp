// How the main window behaves beyond its specified start: maximising, menu shortcuts, the
// invitation to put a card on the reader and the marking of a card that has been taken off.
#include "blockbuilder.h"
#include "ui/commandids.h"
#include "ui/listhints.h"
#include "ui/messagebox.h"
#include "ui/ridelogdlg.h"
#include "ui/savefiledialog.h"
#include "windowfixture.h"

#include <QAction>
#include <QHeaderView>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeView>

using namespace ridelog;
using ridelog::test::railBlock;

class TestWindowBehaviour : public QObject, ridelog::test::WindowFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowCanBeMaximised();
    void menuShortcuts_data();
    void menuShortcuts();
    void invitationUntilFirstRead();
    void cardTakenOffIsToldAndRowsMarked();
    void cardLoseWithoutReadSaysNothing();
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

void TestWindowBehaviour::windowCanBeMaximised()
{
    auto dlg = makeWindow();
    QVERIFY(dlg->windowFlags() & Qt::WindowMaximizeButtonHint);
    dlg->showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    QTRY_VERIFY(dlg->isMaximized());
    QTRY_VERIFY(dlg->width() > 540);
    // The list follows the window.
    QTRY_COMPARE(dlg->historyList()->width(), dlg->width());
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
    QTRY_COMPARE(dlg->historyModel()->rowCount(), 2);
    QCOMPARE(dlg->commandAction(commandId)->shortcut(), keys);
    QSignalSpy triggered(dlg->commandAction(commandId), &QAction::triggered);
    QTest::keySequence(dlg->historyList(), keys);
    QCOMPARE(triggered.count(), 1);
    if (commandId == ids::SaveToFile) {
        QVERIFY(SaveFileDialog::lastRequest().has_value());
        QCOMPARE(SaveFileDialog::lastRequest()->initialName, test::kCardIdm);
    } else {
        QVERIFY(!dlg->isVisible());
        QCOMPARE(dlg->result(), int(QDialog::Accepted));
    }
}

void TestWindowBehaviour::invitationUntilFirstRead()
{
    auto dlg = makeWindow();
    ListHints* hints = dlg->listHints();
    QCOMPARE(hints->shownInvitation(), QStringLiteral("カードをリーダーに置いてください"));
    // A read that fails reads no card.
    dlg->readCard();
    QCOMPARE(MessageBox::capturedMessages().size(), 1);
    QCOMPARE(hints->shownInvitation(), ListHints::invitationText());
    // A card without history is a card read: the list is empty, but says nothing.
    putCard({});
    dlg->readCard();
    QCOMPARE(dlg->historyModel()->rowCount(), 0);
    QCOMPARE(hints->shownInvitation(), QString());
}

void TestWindowBehaviour::cardTakenOffIsToldAndRowsMarked()
{
    auto dlg = makeWindow();
    dlg->show();
    const QColor normalText = dlg->historyList()->palette().color(QPalette::Active, QPalette::Text);
    putCard({railBlock(2, 300), railBlock(1, 100)});
    QTRY_COMPARE(dlg->historyModel()->rowCount(), 2);
    QVERIFY(!dlg->listHints()->rowsMarkedAsLastRead());
    takeCardOff();
    QTRY_COMPARE(dlg->statusPaneText(0), ListHints::cardTakenOffText());
    QCOMPARE(dlg->historyModel()->rowCount(), 2);
    QVERIFY(dlg->listHints()->rowsMarkedAsLastRead());
    const QPalette marked = dlg->historyList()->palette();
    QCOMPARE(marked.color(QPalette::Active, QPalette::Text),
             marked.color(QPalette::Disabled, QPalette::Text));
    QVERIFY(marked.color(QPalette::Active, QPalette::Text) != normalText);
    // The next read shows fresh rows in the normal colour again.
    putCard({railBlock(3, 500), railBlock(2, 300)});
    QTRY_COMPARE(dlg->historyModel()->rowCount(), 3);
    QVERIFY(!dlg->listHints()->rowsMarkedAsLastRead());
    QCOMPARE(dlg->historyList()->palette().color(QPalette::Active, QPalette::Text), normalText);
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestWindowBehaviour::cardLoseWithoutReadSaysNothing()
{
    auto dlg = makeWindow();
    const auto lose =
        QEvent::Type(card::registeredCardEventType(QString::fromLatin1(card::kCardLoseName)));
    QCoreApplication::postEvent(dlg.get(), new QEvent(lose));
    QCoreApplication::processEvents();
    QCOMPARE(dlg->statusPaneText(0), QString());
    QVERIFY(!dlg->listHints()->rowsMarkedAsLastRead());
    QCOMPARE(dlg->listHints()->shownInvitation(), ListHints::invitationText());
}

QTEST_MAIN(TestWindowBehaviour)
#include "test_windowbehaviour.moc"
