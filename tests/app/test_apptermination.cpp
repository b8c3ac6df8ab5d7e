// The end of the program by a termination signal: the window closes and saves its state,
// any open box ends, and what fails on the way goes to the log.
#include "app/terminationsignals.h"
#include "appfixture.h"
#include "store/database.h"
#include "support/windowaccess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTimer>
#include <csignal>

using namespace ridelog;
using namespace ridelog::test;

class TestAppTermination : public QObject, AppFixture
{
    Q_OBJECT

private slots:
    void init() { setUpApp(); }
    void cleanup() { tearDownApp(); }

    void terminationSignalClosesWindowAndSavesState();
    void terminationSignalEndsAnOpenBox_data();
    void terminationSignalEndsAnOpenBox();
    void terminationDuringStartUpEndsTheProgram();
};

// The window closes and saves its place; the names learnt cannot be written back, as the
// database is locked by another program, and that goes to the log instead of a box nobody
// can answer.
void TestAppTermination::terminationSignalClosesWindowAndSavesState()
{
    QVERIFY(closeWindowsOnTerminationSignals());
    CRidelogDlg dialog(*ini_, nullptr, nullptr);
    dialog.session().store().setBusyTimeout(50);
    dialog.session().caches().stations.EntryFor(StationKey{0, 1, 2}) = {
        QStringLiteral("JR"), QStringLiteral("山手"), QStringLiteral("新宿"),
        QStringLiteral("新宿")};
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.move(33, 44);
    QTRY_VERIFY(test::inside(dialog).databaseCheck() == nullptr);
    Database other = Database::open(dialog.session().store().databasePath(),
                                    Database::OpenMode::ExistingFile, 1000);
    other.execute(QStringLiteral("BEGIN EXCLUSIVE"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^ridelog: .*locked")));
    QVERIFY(::raise(SIGTERM) == 0);
    QTRY_VERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(ini_->value(QStringLiteral("Trfc/mX")).toInt(), 33);
    QCOMPARE(ini_->value(QStringLiteral("Trfc/mY")).toInt(), 44);
    QVERIFY(MessageBox::capturedMessages().isEmpty());
    other.execute(QStringLiteral("ROLLBACK"));
}

void TestAppTermination::terminationSignalEndsAnOpenBox_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("box");
    for (const auto& [name, signal] : {std::pair{"SIGTERM", SIGTERM}, std::pair{"SIGINT", SIGINT},
                                       std::pair{"SIGHUP", SIGHUP}}) {
        QTest::addRow("%s, box with details", name) << signal << QStringLiteral("details");
        QTest::addRow("%s, plain box over the window", name) << signal << QStringLiteral("window");
        QTest::addRow("%s, question", name) << signal << QStringLiteral("question");
    }
}

// One signal ends the box at once, whatever box it is, and the program goes on to close.
void TestAppTermination::terminationSignalEndsAnOpenBox()
{
    QFETCH(int, signal);
    QFETCH(QString, box);
    QVERIFY(closeWindowsOnTerminationSignals());
    MessageBox::setCapturing(false);
    std::unique_ptr<CRidelogDlg> dialog;
    if (box == u"window") {
        dialog = std::make_unique<CRidelogDlg>(*ini_, nullptr, nullptr);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }
    // The signal comes once the box is up; a box still open after 5 s fails the test.
    bool raised = false;
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, this, [&] {
        if (!raised && qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            raised = true;
            ::raise(signal);
        }
    });
    poll.start();
    bool stuck = false;
    QTimer::singleShot(5000, this, [&] {
        if (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            stuck = true;
            open->done(0);
        }
    });
    QElapsedTimer clock;
    clock.start();
    if (box == u"question")
        QVERIFY(!MessageBox::question(nullptr, QStringLiteral("履歴データを削除しますか？")));
    else if (box == u"details")
        MessageBox::show(nullptr, kNoReader, QStringLiteral("RC-S380: not attached"));
    else
        MessageBox::show(dialog.get(), QStringLiteral("ファイルを作成できません。"));
    poll.stop();
    QVERIFY(raised);
    QVERIFY(!stuck);
    QVERIFY(clock.elapsed() < 5000);
    if (dialog)
        QTRY_VERIFY(!dialog->isVisible());
}

// The signal comes while a box of the window's start-up is open (a foreign database, say),
// before the window is shown: the program ends, not with a window nobody asked for.
void TestAppTermination::terminationDuringStartUpEndsTheProgram()
{
    FakeReaderControl* library = nullptr;
    auto app = makeApp(&library);
    MessageBox::setWhileOpen([](const QString&) { closeEveryWindow(); });
    MessageBox::show(nullptr, QStringLiteral("start-up box"));
    QCOMPARE(app->InitInstance(), 0);
    QVERIFY(!app->mainWindowRan());
    QVERIFY(!calls_.contains(QStringLiteral("window")));
    QVERIFY(calls_.contains(QStringLiteral("close")));
    QVERIFY(ini_->contains(QStringLiteral("Trfc/mX"))); // the window's state was saved
    MessageBox::setWhileOpen(nullptr);
}

QTEST_MAIN(TestAppTermination)
#include "test_apptermination.moc"
