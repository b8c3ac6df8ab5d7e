// The window keeps the user's history and names safe when things go wrong: card swaps while a
// box is open, a locked or damaged database, an unwritable data folder, names never learnt.
#include "card/cardevents.h"
#include "store/database.h"
#include "store/databaseproblem.h"
#include "store/schema.h"
#include "support/cardblocks.h"
#include "support/windowaccess.h"
#include "testfiles.h"
#include "ui/commandids.h"
#include "ui/messagebox.h"
#include "windowfixture.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <sqlite3.h>

using namespace ridelog;
using ridelog::test::busBlock;
using ridelog::test::cell;
using ridelog::test::railBlock;
using ridelog::test::shopBlock;

namespace {

const QString kIdmA = ridelog::test::kCardIdm;
const QString kIdmB = QStringLiteral("00000000000000BB");

QList<HistoryBlock> cardWith(std::uint32_t lowest, std::uint32_t highest, int balanceBase)
{
    QList<HistoryBlock> blocks;
    for (std::uint32_t serial = highest; serial >= lowest; --serial)
        blocks << railBlock(serial, balanceBase + int(serial));
    return blocks;
}

// Serial and balance of every stored row of a card, in table order.
QStringList storedRows(const QString& dbPath, const QString& idm)
{
    Database db = Database::open(dbPath, Database::OpenMode::ExistingFile, 1000);
    QStringList rows;
    if (!db.tableExists(CardTableName(idm)))
        return rows;
    Statement all = db.prepareReadAll(CardTableName(idm), cardBlockColumns());
    while (all.step()) {
        const HistoryBlock block =
            blockFromWords({std::int32_t(all.integerAt(0)), std::int32_t(all.integerAt(1)),
                            std::int32_t(all.integerAt(2)), std::int32_t(all.integerAt(3))});
        rows << QStringLiteral("%1:%2").arg(blockSerial(block)).arg(blockBalance(block));
    }
    return rows;
}

std::int64_t nameRows(const QString& dbPath, const QString& table)
{
    Database db = Database::open(dbPath, Database::OpenMode::ExistingFile, 1000);
    Statement count(db, QStringLiteral("SELECT count(*) FROM %1").arg(quoteIdentifier(table)));
    count.step();
    return count.integerAt(0);
}

void postCardFound(QObject* window)
{
    QCoreApplication::postEvent(
        window,
        new QEvent(QEvent::Type(card::registeredCardEventType(QStringLiteral("CardFind")))));
}

// Overwrites the first bytes of the page that holds the card's table, as a failing disk would.
void damageCardTable(const QString& dbPath, const QString& idm)
{
    std::int64_t page = 0;
    std::int64_t pageSize = 0;
    {
        Database db = Database::open(dbPath, Database::OpenMode::ExistingFile, 1000);
        Statement root(db, QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name=?1"));
        root.bind(1, CardTableName(idm));
        QVERIFY(root.step());
        page = root.integerAt(0);
        Statement size(db, QStringLiteral("PRAGMA page_size"));
        QVERIFY(size.step());
        pageSize = size.integerAt(0);
    }
    QFile file(dbPath);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek((page - 1) * pageSize));
    file.write(QByteArray(64, '\xEE'));
}

} // namespace

class TestDataSafety : public QObject, ridelog::test::WindowFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void cardSwappedWhileClearingShowsABox();
    void namelessEntriesStayNameless();
    void lockedDatabaseReadStoresNothing();
    void damageFoundAtStartIsNeverWritten();
    void unwritableDataFolderShowsSign();
    void settingsWrittenOnlyWhenChanged();

private:
    // Puts a card with the given IDm on the simulated reader.
    std::unique_ptr<CRidelogDlg> openWindow();
    QString dbPath() const
    {
        return dir_->filePath(QStringLiteral("data/Tanpopo/Hotaru/Trfc/ekdb.sqlite"));
    }
};

void TestDataSafety::init()
{
    setUpWindow();
    MessageBox::setCapturing(true);
    MessageBox::clearCaptured();
}

void TestDataSafety::cleanup()
{
    MessageBox::setWhileOpen({});
    MessageBox::setCapturing(false);
    tearDownWindow();
}

std::unique_ptr<CRidelogDlg> TestDataSafety::openWindow()
{
    auto dlg = makeWindow();
    // The read of a card lying on the reader at start-up, and the check of the database, are
    // over before a test goes on.
    if (QFile::exists(cardsDir_ + QStringLiteral("/card.card")) &&
        !QTest::qWaitFor([&] { return test::inside(*dlg).historyModel()->rowCount() > 0; }, 5000))
        qWarning("the reader did not report the card put on before start-up");
    if (!QTest::qWaitFor([&] { return test::inside(*dlg).databaseCheck() == nullptr; }, 5000))
        qWarning("the database check did not end");
    return dlg;
}

// A clearing command on card A shows a box (the database is locked), and
// while the box is open the user swaps A for B. B's read waits until A's read is over, and
// nothing of A lands in B's table or next to B's IDm.
void TestDataSafety::cardSwappedWhileClearingShowsABox()
{
    putCard(cardWith(1, 3, 1000), kIdmA);
    auto dlg = openWindow();
    QCOMPARE(storedRows(dbPath(), kIdmA).size(), 3);
    // Another program holds the database: the clearing fails with the engine's text.
    dlg->session().store().setBusyTimeout(50);
    auto other = std::make_unique<Database>(
        Database::open(dbPath(), Database::OpenMode::ExistingFile, 1000));
    other->execute(QStringLiteral("BEGIN EXCLUSIVE"));
    const QList<HistoryBlock> cardB = cardWith(1, 2, 5000);
    bool swapped = false;
    MessageBox::setWhileOpen([&](const QString&) {
        if (swapped)
            return;
        swapped = true;
        other->execute(QStringLiteral("ROLLBACK"));
        other.reset();
        putCard(cardB, kIdmB);
        postCardFound(dlg.get());
        QCoreApplication::processEvents(); // the box's own event loop
    });
    QVERIFY(dlg->triggerCommand(ids::ClearStationNames));
    QVERIFY(swapped);
    QCOMPARE(MessageBox::capturedMessages().first(), databaseProblemText(SQLITE_BUSY));
    QCOMPARE(MessageBox::capturedDetails().first(), QStringLiteral("database is locked"));
    // B is read after A's read has ended, into B's table alone.
    QTRY_COMPARE_WITH_TIMEOUT(test::inside(*dlg).cardIdField()->text(), kIdmB, 5000);
    QCOMPARE(storedRows(dbPath(), kIdmB),
             (QStringList{QStringLiteral("1:5001"), QStringLiteral("2:5002")}));
    QCOMPARE(test::inside(*dlg).balanceField()->text(), QStringLiteral("5002"));
    QCOMPARE(dlg->session().idmText(), kIdmB);
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    QCOMPARE(cell(*dlg, 0, 6), QStringLiteral("-1"));
    QCOMPARE(cell(*dlg, 1, 6), QStringLiteral("(5001)"));
}

// A read without a name server, then the display settings: entries the server never named
// keep no composed placeholder, the list keeps the codes, and nothing reaches the name tables.
void TestDataSafety::namelessEntriesStayNameless()
{
    ini_->setValue(QStringLiteral("Trfc/bpnShow"), 1);
    putCard({shopBlock(4, 1880), busBlock(3, 2000), railBlock(2, 2210)}, kIdmA);
    auto dlg = openWindow();
    QTRY_VERIFY_WITH_TIMEOUT(!test::inside(*dlg).nameRefresher().isRunning(), 5000);
    const QStringList codes{cell(*dlg, 0, 4), cell(*dlg, 1, 4), cell(*dlg, 2, 4), cell(*dlg, 2, 5)};
    QVERIFY(codes[0].startsWith(u'(') && codes[1].startsWith(u'(') && codes[2].startsWith(u'('));

    // The settings dialog closed with Escape, and two toggles.
    QTimer::singleShot(0, qApp, [] {
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            modal->reject();
    });
    QVERIFY(dlg->triggerCommand(ids::ShowDataSetup));
    QVERIFY(dlg->triggerCommand(ids::RailCompany));
    QVERIFY(dlg->triggerCommand(ids::ShopRegister));
    QCOMPARE((QStringList{cell(*dlg, 0, 4), cell(*dlg, 1, 4), cell(*dlg, 2, 4), cell(*dlg, 2, 5)}),
             codes);
    for (const auto& [key, entry] : dlg->session().caches().stations)
        QVERIFY2(entry.nm.isEmpty(), qPrintable(entry.nm));
    for (const auto& [key, entry] : dlg->session().caches().busStops)
        QVERIFY2(entry.nm.isEmpty(), qPrintable(entry.nm));
    for (const auto& [key, entry] : dlg->session().caches().shops)
        QVERIFY2(entry.nm.isEmpty(), qPrintable(entry.nm));
    dlg->reject();
    for (const QString& table :
         {QStringLiteral("ipn"), QStringLiteral("bus"), QStringLiteral("bpn")})
        QCOMPARE(nameRows(dbPath(), table), 0);
}

// Another program holds the database while a read loads the card's history, and lets go
// before the read would store: the read lists what the card holds, stores nothing, waits once
// and says so; the next read stores again.
void TestDataSafety::lockedDatabaseReadStoresNothing()
{
    putCard(cardWith(1, 3, 1000), kIdmA);
    auto dlg = openWindow();
    QVERIFY(test::inside(*dlg).historyNotKeptSign()->isHidden());
    const int busyMs = 400;
    dlg->session().store().setBusyTimeout(busyMs);
    // The card's own version of serial 3 (another balance) and a new serial 4.
    putCard({railBlock(4, 900), railBlock(3, 950), railBlock(2, 1002)}, kIdmA);
    Database other = Database::open(dbPath(), Database::OpenMode::ExistingFile, 1000);
    other.execute(QStringLiteral("BEGIN EXCLUSIVE"));
    MessageBox::setWhileOpen([&](const QString&) {
        if (other.isOpen())
            other.close(); // the lock clears while the box is open
    });
    QElapsedTimer clock;
    clock.start();
    dlg->readCard();
    QVERIFY2(clock.elapsed() < 2 * busyMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(MessageBox::capturedMessages(), QStringList{databaseProblemText(5)});
    QCOMPARE(MessageBox::capturedDetails(), QStringList{QStringLiteral("database is locked")});
    QCOMPARE(storedRows(dbPath(), kIdmA),
             (QStringList{QStringLiteral("1:1001"), QStringLiteral("2:1002"),
                          QStringLiteral("3:1003")}));
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 3);
    QCOMPARE(cell(*dlg, 1, 0), QStringLiteral("3"));
    QVERIFY(!test::inside(*dlg).historyNotKeptSign()->isHidden());
    QVERIFY(test::inside(*dlg).historyNotKeptSign()->toolTip().contains(dbPath()));

    dlg->readCard();
    QCOMPARE(storedRows(dbPath(), kIdmA).size(), 4);
    QVERIFY(test::inside(*dlg).historyNotKeptSign()->isHidden());
}

// The check at start-up finds a damaged card table: the user is told, the sign stays, and
// the file is never written again, neither by a read nor by the write-back.
void TestDataSafety::damageFoundAtStartIsNeverWritten()
{
    putCard(cardWith(1, 3, 1000), kIdmA);
    {
        auto first = openWindow();
        first->reject();
    }
    damageCardTable(dbPath(), kIdmA);
    takeCardOff();
    const QByteArray damaged = ridelog::test::fileBytes(dbPath());
    auto dlg = openWindow();
    QCOMPARE(MessageBox::capturedMessages().size(), 1);
    QCOMPARE(MessageBox::capturedMessages().first(), databaseProblemText(11));
    QVERIFY(!test::inside(*dlg).historyNotKeptSign()->isHidden());
    QVERIFY(dlg->session().store().isDamaged());

    putCard(cardWith(1, 2, 5000), kIdmB);
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    dlg->session().caches().stations.EntryFor(StationKey{0, 1, 2}) = {
        QStringLiteral("JR"), QStringLiteral("山手"), QStringLiteral("新宿"),
        QStringLiteral("新宿")};
    MessageBox::setNextAnswers({true});
    QVERIFY(dlg->triggerCommand(ids::DeleteHistory));
    dlg->reject();
    QCOMPARE(ridelog::test::fileBytes(dbPath()), damaged);
}

void TestDataSafety::unwritableDataFolderShowsSign()
{
    QVERIFY(QDir().mkpath(dir_->filePath(QStringLiteral("data"))));
    QFile blocker(dir_->filePath(QStringLiteral("data/Tanpopo")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    putCard(cardWith(1, 3, 1000), kIdmA);
    auto dlg = openWindow();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 3);
    QVERIFY(!test::inside(*dlg).historyNotKeptSign()->isHidden());
    QCOMPARE(test::inside(*dlg).historyNotKeptSign()->text(), historyNotKeptSignText());
    QVERIFY(test::inside(*dlg).historyNotKeptSign()->toolTip().contains(
        QStringLiteral("Tanpopo/Hotaru/Trfc/ekdb.sqlite")));
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

// The settings file is written once, at the end, and not at all when nothing changed.
void TestDataSafety::settingsWrittenOnlyWhenChanged()
{
    const QString path = ini_->fileName();
    {
        auto dlg = openWindow();
        QVERIFY(dlg->triggerCommand(ids::BalanceView));
        QVERIFY(dlg->triggerCommand(ids::BalanceView));
        QVERIFY(dlg->triggerCommand(ids::BalanceView));
        QVERIFY(!ini_->contains(QStringLiteral("Trfc/zanViewM")));
        dlg->reject();
    }
    QCOMPARE(ini_->value(QStringLiteral("Trfc/zanViewM")).toInt(), 1);
    const QByteArray written = ridelog::test::fileBytes(path);
    const QDateTime writtenAt = QFileInfo(path).lastModified();
    QTest::qWait(20);
    {
        auto dlg = openWindow();
        dlg->reject();
    }
    QCOMPARE(QFileInfo(path).lastModified(), writtenAt);
    QCOMPARE(ridelog::test::fileBytes(path), written);
    // No file of the write is left behind.
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("Hotaru.ini")});
}

QTEST_MAIN(TestDataSafety)
#include "test_datasafety.moc"
