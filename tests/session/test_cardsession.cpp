// The card on display: what a read and a stored card leave in the session, and what they say
// happened to the history.
#include "session/cardsession.h"
#include "store/schema.h"
#include "support/cardblocks.h"
#include "support/gatehistory.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace ridelog;
using ridelog::test::cardBlocks;
using ridelog::test::railBlock;

namespace {

const QString kIdm = QStringLiteral("0114A1B2C3D4E5F6");
const QString kOtherIdm = QStringLiteral("00000000000000AA");

card::CardReadResult answer(const std::vector<HistoryBlock>& blocks, const QString& idm = kIdm)
{
    card::CardReadResult card;
    card.ok = true;
    card.idmText = idm;
    card.idm[7] = std::uint8_t(idm.right(2).toUInt(nullptr, 16));
    card.blockCount = int(blocks.size());
    card.blocks = blocks;
    return card;
}

Database openFile(const QString& path)
{
    return Database::open(path, Database::OpenMode::ExistingFile, 1000);
}

} // namespace

class TestCardSession : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> home_;
    QString dbPath() const
    {
        return home_->filePath(QStringLiteral("Tanpopo/Hotaru/Trfc/ekdb.sqlite"));
    }

private slots:
    void init();
    void cleanup();
    void readSaysWhatHappenedToTheHistory_data();
    void readSaysWhatHappenedToTheHistory();
    void balanceIsTheAnswersOrTheNewestStoredEntrys();
    void deliveredSerialsBelongToTheCardReadLast();
    void leavingRecordsReachTheObserverBeforeTheyGo();
    void storedCardForgetsTheMissedHistoryOfTheRead();
    void gateTimesComeFromEveryTapStored();
};

void TestCardSession::init()
{
    home_ = std::make_unique<QTemporaryDir>();
    QVERIFY(home_->isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(home_->path()));
}

void TestCardSession::cleanup()
{
    home_.reset();
}

// How the card table is prepared before a read of serials 1 to 6.
enum class Before
{
    Nothing,        // a new card
    SameRead,       // the same six entries were read already
    TableWithoutB4, // the card's table lacks a column: its history cannot be read
    InsertsRefused, // the engine refuses new rows, as a full disk does
};

void TestCardSession::readSaysWhatHappenedToTheHistory_data()
{
    QTest::addColumn<Before>("before");
    QTest::addColumn<int>("loaded");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("notStored");
    QTest::addColumn<QString>("problem");
    using Load = HistoryStore::LoadOutcome;
    using Not = CardSession::NotStored;
    QTest::newRow("new card") << Before::Nothing << int(Load::NothingStored) << 6 << int(Not::None)
                              << QString();
    QTest::newRow("read again") << Before::SameRead << int(Load::Loaded) << 0 << int(Not::None)
                                << QString();
    // A card table of other columns makes the file foreign: said by the sign, not thrown.
    QTest::newRow("history unreadable") << Before::TableWithoutB4 << int(Load::NotLoaded) << 0
                                        << int(Not::HistoryNotLoaded) << QString();
    QTest::newRow("store refused")
        << Before::InsertsRefused << int(Load::Loaded) << 0 << int(Not::StoreFailed)
        << QStringLiteral("database or disk is full");
}

void TestCardSession::readSaysWhatHappenedToTheHistory()
{
    QFETCH(Before, before);
    QFETCH(int, loaded);
    QFETCH(int, stored);
    QFETCH(int, notStored);
    QFETCH(QString, problem);
    CardSession session;
    QVERIFY(!session.openStore());
    const QString table = quoteIdentifier(CardTableName(kIdm));
    if (before == Before::SameRead || before == Before::InsertsRefused)
        session.takeRead(answer(cardBlocks(1, 6)));
    if (before == Before::TableWithoutB4) {
        Database db = openFile(dbPath());
        db.execute(QStringLiteral("CREATE TABLE %1 (seq INTEGER, b1 INTEGER, b2 INTEGER, "
                                  "b3 INTEGER)")
                       .arg(table));
    }
    if (before == Before::InsertsRefused) {
        Database db = openFile(dbPath());
        db.execute(QStringLiteral("DELETE FROM %1 WHERE seq > 3").arg(table));
        db.execute(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON %1 BEGIN "
                                  "SELECT RAISE(ABORT, 'database or disk is full'); END")
                       .arg(table));
    }

    const CardSession::ReadOutcome outcome = session.takeRead(answer(cardBlocks(1, 6)));
    QCOMPARE(int(outcome.loaded), loaded);
    QCOMPARE(outcome.storedBlocks, stored);
    QCOMPARE(int(outcome.notStored), notStored);
    QCOMPARE(outcome.problems.size(), problem.isEmpty() ? std::size_t(0) : std::size_t(1));
    if (!problem.isEmpty())
        QCOMPARE(outcome.problems.front().message(), problem);
    if (before == Before::TableWithoutB4)
        QVERIFY(session.store().notKeptReason().contains(QStringLiteral("has the columns")));
    // Whatever happened to the history, the card's entries are on display.
    QCOMPARE(session.records().size(), std::size_t(6));
    QCOMPARE(session.idmText(), kIdm);
    QVERIFY(!session.isShowingStoredCard());
}

void TestCardSession::balanceIsTheAnswersOrTheNewestStoredEntrys()
{
    CardSession session;
    QVERIFY(!session.openStore());
    QVERIFY(!session.balance());
    // Block 0 of the answer, even where the stored block of that serial has another balance.
    session.takeRead(answer({railBlock(7, 1500), railBlock(6, 1700)}));
    QCOMPARE(session.balance(), std::optional<int>(1500));
    session.takeRead(answer({railBlock(7, 990), railBlock(6, 1700)}));
    QCOMPARE(session.balance(), std::optional<int>(990));
    QCOMPARE(session.records().find(7)->balance, 1500);
    // A card that delivers no block has no balance to show.
    session.takeRead(answer({}, kOtherIdm));
    QVERIFY(!session.balance());
    QVERIFY(session.records().empty());

    const CardSession::StoredCardOutcome shown = session.showStoredCard(kIdm);
    QCOMPARE(shown.loaded, HistoryStore::LoadOutcome::Loaded);
    QVERIFY(session.isShowingStoredCard());
    QCOMPARE(session.balance(), std::optional<int>(1500));
    QCOMPARE(session.idmText(), kIdm);
    QCOMPARE(session.lastReadIdm(), kOtherIdm);

    const CardSession::StoredCardOutcome none =
        session.showStoredCard(QStringLiteral("0114A1B2C3D4E5F7"));
    QCOMPARE(none.loaded, HistoryStore::LoadOutcome::NothingStored);
    QVERIFY(session.records().empty());
    QVERIFY(!session.balance());
}

void TestCardSession::deliveredSerialsBelongToTheCardReadLast()
{
    CardSession session;
    QVERIFY(!session.openStore());
    session.takeRead(answer(cardBlocks(1, 25)));
    session.takeRead(answer(cardBlocks(11, 30)));
    std::set<std::uint32_t> expected;
    for (std::uint32_t serial = 11; serial <= 30; ++serial)
        expected.insert(serial);
    QCOMPARE(session.deliveredSerials(kIdm), expected);
    QCOMPARE(session.records().size(), std::size_t(30));
    QVERIFY(session.deliveredSerials(kOtherIdm).empty());
    // A stored card shown since does not change what the card on the reader delivered.
    session.showStoredCard(kIdm);
    QCOMPARE(session.deliveredSerials(kIdm), expected);
    session.takeRead(answer(cardBlocks(1, 2), kOtherIdm));
    QVERIFY(session.deliveredSerials(kIdm).empty());
    QCOMPARE(session.deliveredSerials(kOtherIdm).size(), std::size_t(2));
}

void TestCardSession::leavingRecordsReachTheObserverBeforeTheyGo()
{
    CardSession session;
    QVERIFY(!session.openStore());
    HistoryRecordSet kept;
    int calls = 0;
    session.setRecordsLeaving([&](HistoryRecordSet& records) {
        ++calls;
        if (!records.empty())
            kept = std::move(records);
    });
    session.takeRead(answer(cardBlocks(1, 4)));
    QVERIFY(kept.empty());
    session.takeRead(answer(cardBlocks(1, 2), kOtherIdm));
    QCOMPARE(kept.size(), std::size_t(4));
    QCOMPARE(kept.find(4)->balance, 2004);
    QCOMPARE(session.records().size(), std::size_t(2));
    session.forgetCard();
    QCOMPARE(kept.size(), std::size_t(2));
    QVERIFY(session.records().empty());
    QVERIFY(session.cardBlocks().empty());
    QVERIFY(calls >= 3);
}

void TestCardSession::storedCardForgetsTheMissedHistoryOfTheRead()
{
    CardSession session;
    QVERIFY(!session.openStore());
    session.takeRead(answer(cardBlocks(1, 20)));
    QVERIFY(!session.missedHistory());
    // Twenty new entries and none of them stored: entries between may be lost.
    session.takeRead(answer(cardBlocks(31, 50)));
    QCOMPARE(session.missedHistory(), std::optional<MissedHistory>(MissedHistory{31}));
    QCOMPARE(session.records().size(), std::size_t(40));
    session.showStoredCard(kIdm);
    QVERIFY(!session.missedHistory());
    QCOMPARE(session.records().size(), std::size_t(40));
}

void TestCardSession::gateTimesComeFromEveryTapStored()
{
    using namespace ridelog::testing;
    const QDate day(2026, 12, 7);
    HistoryBuilder history(1000);
    history.charge(day, kShinjuku, 1000);
    const std::uint32_t out = history.journey(day, kShinjuku, kShibuya, 170);
    const std::vector<HistoryBlock> morning(history.blocks().rbegin(), history.blocks().rend());
    const std::uint32_t back = history.journey(day, kShibuya, kShinjuku, 170);
    const std::vector<HistoryBlock> evening(history.blocks().rbegin(), history.blocks().rend());

    CardSession session;
    QVERIFY(!session.openStore());
    card::CardReadResult first = answer(morning);
    first.gateLog = {gateBlock(0x20, kShibuya, day, 8, 45, 170),
                     gateBlock(0xA0, kShinjuku, day, 8, 29)};
    first.kind = card::CardKind::Suica;
    session.takeRead(first);
    QCOMPARE(session.gateTimes().find(out)->entry.text(), QStringLiteral("08:29"));
    QCOMPARE(session.kindOfLastRead(), std::optional(card::CardKind::Suica));

    // The evening read no longer holds the morning's entry tap: the stored one still counts.
    card::CardReadResult second = answer(evening);
    second.gateLog = {gateBlock(0x20, kShinjuku, day, 18, 31, 170),
                      gateBlock(0xA0, kShibuya, day, 18, 10),
                      gateBlock(0x20, kShibuya, day, 8, 45, 170)};
    session.takeRead(second);
    QCOMPARE(session.gateTimes().find(out)->entry.text(), QStringLiteral("08:29"));
    QCOMPARE(session.gateTimes().find(out)->exit.text(), QStringLiteral("08:45"));
    QCOMPARE(session.gateTimes().find(back)->exit.text(), QStringLiteral("18:31"));

    // A read whose gate log was refused, and the stored card, show the stored times.
    session.takeRead(answer(evening));
    QCOMPARE(session.gateTimes().size(), std::size_t(2));
    QVERIFY(!session.kindOfLastRead());
    CardSession later;
    QVERIFY(!later.openStore());
    later.showStoredCard(kIdm);
    QCOMPARE(later.gateTimes().find(back)->entry.text(), QStringLiteral("18:10"));
    QCOMPARE(later.gateTimes().size(), std::size_t(2));
}

QTEST_GUILESS_MAIN(TestCardSession)
#include "test_cardsession.moc"
