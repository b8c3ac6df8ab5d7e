// Taking in another history: the union card by card, names and nicknames, idempotence, and the
// sources and situations that are refused.
#include "databasetesthelpers.h"
#include "store/historyfile.h"
#include "store/historymerge.h"
#include "store/notestore.h"
#include "support/gatehistory.h"
#include "support/historyfixture.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <thread>

using namespace ridelog;
using ridelog::test::damageFileMiddle;
using ridelog::test::fileBytes;
using ridelog::test::historyEntries;
using ridelog::test::HistoryFileWriter;
using ridelog::test::queryTexts;
using ridelog::test::storedBlocks;
using ridelog::test::storedRowCount;

namespace {

const QString kCommuter = QStringLiteral("0114A1B2C3D4E5F6");
const QString kStudent = QStringLiteral("01010A10E41A9F02");
const QString kSpare = QStringLiteral("0101010012345678");

std::map<std::uint32_t, HistoryBlock> unionOf(std::map<std::uint32_t, HistoryBlock> a,
                                              const std::map<std::uint32_t, HistoryBlock>& b)
{
    a.insert(b.begin(), b.end()); // a's block wins for a serial both hold
    return a;
}

// The taps of 2024-06-03 and 06-04, entry and exit; the last one was read at work only.
HistoryBlock commuteTap(int n)
{
    using namespace ridelog::testing;
    const QDate day = QDate(2024, 6, 3).addDays(n / 2);
    return n % 2 == 0 ? gateBlock(0xA0, kShinjuku, day, 7, 58)
                      : gateBlock(0x20, kTokyo, day, 8, 31, 208);
}

// "idm block firstRead" of every gate-log row, in table order.
QStringList gateLogRows(const QString& path)
{
    return queryTexts(path, QStringLiteral("SELECT idm || ' ' || block || ' ' || firstRead FROM "
                                           "gatelog ORDER BY rowid"));
}

struct TwoComputers
{
    QTemporaryDir dir;
    QString home = dir.filePath(QStringLiteral("home.sqlite"));
    QString work = dir.filePath(QStringLiteral("work.sqlite"));

    TwoComputers()
    {
        // The commuter card was read at home up to entry 200, at work from 151 on.
        const auto commute = historyEntries(1, 300);
        HistoryFileWriter(home)
            .card(kCommuter, std::vector<HistoryBlock>(commute.begin(), commute.begin() + 200))
            .station(0, 0x25, 0x0C, QStringLiteral("ＪＲ東日本"), QStringLiteral("山手"),
                     QStringLiteral("品川"))
            .nickname(kCommuter, QString(), 1700000000, 1710000000)
            .gateTaps(kCommuter, {commuteTap(0), commuteTap(1), commuteTap(2)}, 1700000000)
            .kind(kCommuter, card::CardKind::Unknown, 1700000000);
        HistoryFileWriter(work)
            .card(kCommuter, std::vector<HistoryBlock>(commute.begin() + 150, commute.end()))
            .card(kStudent, historyEntries(7000, 40))
            .station(0, 0x25, 0x0C, QStringLiteral("JR East"), QStringLiteral("Yamanote"),
                     QStringLiteral("Shinagawa"))
            .station(0, 0x25, 0x10, QStringLiteral("ＪＲ東日本"), QStringLiteral("山手"),
                     QStringLiteral("大崎"))
            .nickname(kCommuter, QStringLiteral("仕事用"), 1690000000, 1720000000)
            .nickname(kStudent, QStringLiteral("学生"), 1695000000, 1696000000)
            .gateTaps(kCommuter, {commuteTap(1), commuteTap(2), commuteTap(3)}, 1710000000)
            .gateTaps(kStudent, {commuteTap(0)}, 1695000000)
            .kind(kCommuter, card::CardKind::Suica, 1710000000)
            .kind(kStudent, card::CardKind::Pasmo, 1695000000);
    }
};

} // namespace

class TestHistoryMerge : public QObject
{
    Q_OBJECT

private slots:
    void eachSideEndsWithTheUnionAndASecondMergeChangesNothing()
    {
        TwoComputers computers;
        const auto homeBefore = storedBlocks(computers.home, kCommuter);
        const auto workBefore = storedBlocks(computers.work, kCommuter);
        const auto expected = unionOf(homeBefore, workBefore);
        QCOMPARE(expected.size(), std::size_t(300));

        const MergeOutcome atHome = mergeHistoryFile(computers.work, computers.home, 1000);
        QVERIFY2(atHome.merged, qPrintable(atHome.reason));
        QCOMPARE(atHome.report.entries, qint64(100 + 40));
        QCOMPARE(atHome.report.cardsWithNewEntries, 2);
        QCOMPARE(atHome.report.newCards, 1);
        QCOMPARE(atHome.report.stationNames, 1);
        QCOMPARE(storedBlocks(computers.home, kCommuter), expected);
        QCOMPARE(storedRowCount(computers.home, kCommuter), qint64(300));
        QCOMPARE(storedBlocks(computers.home, kStudent), storedBlocks(computers.work, kStudent));

        const MergeOutcome atWork = mergeHistoryFile(computers.home, computers.work, 1000);
        QVERIFY2(atWork.merged, qPrintable(atWork.reason));
        QCOMPARE(atWork.report.entries, qint64(150));
        QCOMPARE(storedBlocks(computers.work, kCommuter), expected);
        QCOMPARE(storedRowCount(computers.work, kCommuter), qint64(300));

        const QByteArray homeBytes = fileBytes(computers.home);
        const QByteArray workBytes = fileBytes(computers.work);
        for (const auto& [source, target] : {std::pair{computers.work, computers.home},
                                             std::pair{computers.home, computers.work}}) {
            const MergeOutcome again = mergeHistoryFile(source, target, 1000);
            QVERIFY(again.merged);
            QVERIFY(again.report.addedNothing());
        }
        QCOMPARE(fileBytes(computers.home), homeBytes);
        QCOMPARE(fileBytes(computers.work), workBytes);
    }

    void aStoredBlockWinsAndUnnamedTerminalTypesStayOut()
    {
        QTemporaryDir dir;
        const QString ours = dir.filePath(QStringLiteral("ours.sqlite"));
        const QString theirs = dir.filePath(QStringLiteral("theirs.sqlite"));
        auto mine = historyEntries(1, 10);
        HistoryFileWriter(ours).card(kCommuter, mine);
        auto other = historyEntries(1, 12);
        other[4][10] ^= 0x40; // serial 5 with another balance
        other[10][0] = 0;     // serial 11: an empty slot (no terminal type)
        other[11][0] = 0x63;  // serial 12: a terminal type without a name
        HistoryFileWriter(theirs).card(kCommuter, other);
        const MergeOutcome outcome = mergeHistoryFile(theirs, ours, 1000);
        QVERIFY2(outcome.merged, qPrintable(outcome.reason));
        QCOMPARE(outcome.report.entries, qint64(0));
        const auto stored = storedBlocks(ours, kCommuter);
        QCOMPARE(stored.size(), std::size_t(10));
        QCOMPARE(stored.at(5), mine[4]);
    }

    void namesFillOnlyTheKeysWeLack()
    {
        TwoComputers computers;
        QVERIFY(mergeHistoryFile(computers.work, computers.home, 1000).merged);
        // 品川 stays ours; 大崎 is new. Keys are read back as the caches read them.
        QCOMPARE(queryTexts(computers.home, QStringLiteral("SELECT ac || '/' || lc || '/' || sc "
                                                           "|| ' ' || sn FROM ipn ORDER BY rowid")),
                 QStringList({QStringLiteral("0/37/12 品川"), QStringLiteral("0/37/16 大崎")}));

        QTemporaryDir dir;
        const QString ours = dir.filePath(QStringLiteral("ours.sqlite"));
        const QString theirs = dir.filePath(QStringLiteral("theirs.sqlite"));
        HistoryFileWriter{ours};
        HistoryFileWriter writer(theirs);
        // A bus stop whose 16-bit parts are stored negative, twice: the later row is the name.
        for (const QString& name : {QStringLiteral("旧名"), QStringLiteral("駅前")}) {
            Statement add(writer.database(),
                          QStringLiteral("INSERT INTO bus (ac, lc, an, ln, sn, nm) VALUES "
                                         "(-32768, -2, 'バス', ?1, '', ?1)"));
            add.bind(1, name);
            add.run();
        }
        writer.database().execute(QStringLiteral("INSERT INTO bpn (ac, lc, sc, an, ln, sn, ap, nm) "
                                                 "VALUES (1, 199, -7, '', '', '', '', '')"));
        const MergeOutcome outcome = mergeHistoryFile(theirs, ours, 1000);
        QVERIFY(outcome.merged);
        QCOMPARE(outcome.report.busStopNames, 1);
        QCOMPARE(outcome.report.shopNames, 0); // a row without name parts holds no name
        QCOMPARE(queryTexts(ours, QStringLiteral("SELECT ac || ' ' || lc || ' ' || ln FROM bus")),
                 QStringList{QStringLiteral("-32768 -2 駅前")});
    }

    void cardsNotesGateLogsAndKindsFillOnlyWhatWeLack()
    {
        TwoComputers computers;
        HistoryFileWriter(computers.home)
            .card(kSpare, historyEntries(1, 3))
            .nickname(kSpare, QStringLiteral("予備"), 1700000000, 1700000000);
        HistoryFileWriter(computers.work)
            .card(kSpare, historyEntries(1, 3))
            .nickname(kSpare, QStringLiteral("別の名前"), 1600000000, 1600000000);
        const std::uint32_t shared = 160, theirsOnly = 250;
        NoteStore(computers.home)
            .setNotes(kCommuter, std::array{shared}, {QStringLiteral("顧客訪問"), true},
                      1700000000);
        NoteStore(computers.work)
            .setNotes(kCommuter, std::array{shared, theirsOnly}, {QStringLiteral("研修"), false},
                      1710000000);
        // Rows a read never writes: a note of an entry nobody holds, a gate-log row of a card we
        // hold no history of, a text that is no block, an empty slot, a block we hold written in
        // small letters, a kind we do not know.
        Database work = Database::open(computers.work, Database::OpenMode::ExistingFile, 1000);
        work.execute(
            QStringLiteral("INSERT INTO notes VALUES ('%1', 9999, '出張', 1, 0)").arg(kCommuter));
        for (const QString& row :
             {QStringLiteral("'01010100DEADBEEF', '%1', 1")
                  .arg(GateLogStore::blockText(commuteTap(5))),
              QStringLiteral("'0114A1B2C3D4E5F6', 'A0 not a block', 1"),
              QStringLiteral("'0114A1B2C3D4E5F6', '%1', 1").arg(QString(32, u'0')),
              QStringLiteral("'0114A1B2C3D4E5F6', '%1', 1")
                  .arg(GateLogStore::blockText(commuteTap(1)).toLower())})
            work.execute(QStringLiteral("INSERT INTO gatelog VALUES (%1)").arg(row));
        work.execute(QStringLiteral("INSERT INTO cardkind VALUES ('01010100DEADBEEF', 'icoca', 1), "
                                    "('0114A1B2C3D4E5F6', 'kitaca', 1)"));

        const MergeOutcome atHome = mergeHistoryFile(computers.work, computers.home, 1000);
        QVERIFY2(atHome.merged, qPrintable(atHome.reason));
        QCOMPARE(atHome.report.nicknames, 2);
        QCOMPARE(atHome.report.notes, 1);
        QCOMPARE(atHome.report.gateTaps, 2);
        QCOMPARE(atHome.report.cardKinds, 2); // the commuter's kind is told now, the student's new
        // Our nickname stays, else theirs comes; the earliest first and the latest last read.
        QCOMPARE(queryTexts(computers.home,
                            QStringLiteral("SELECT idm || ' ' || nickname || ' ' || firstRead || ' "
                                           "' || lastRead FROM cards ORDER BY idm")),
                 QStringList({kSpare + QStringLiteral(" 予備 1600000000 1700000000"),
                              kStudent + QStringLiteral(" 学生 1695000000 1696000000"),
                              kCommuter + QStringLiteral(" 仕事用 1690000000 1720000000")}));
        QCOMPARE(queryTexts(computers.home,
                            QStringLiteral("SELECT seq || ' ' || purpose FROM notes ORDER BY seq")),
                 QStringList({QStringLiteral("160 顧客訪問"), QStringLiteral("250 研修")}));
        const auto row = [](const QString& idm, int tap, qint64 firstRead) {
            return QStringLiteral("%1 %2 %3")
                .arg(idm, GateLogStore::blockText(commuteTap(tap)))
                .arg(firstRead);
        };
        QCOMPARE(gateLogRows(computers.home),
                 QStringList({row(kCommuter, 0, 1700000000), row(kCommuter, 1, 1700000000),
                              row(kCommuter, 2, 1700000000), row(kCommuter, 3, 1710000000),
                              row(kStudent, 0, 1695000000)}));
        Database home = Database::open(computers.home, Database::OpenMode::ReadOnly, 1000);
        QCOMPARE(CardLibrary::cardKind(home, kCommuter), card::CardKind::Suica);
        QCOMPARE(CardLibrary::cardKind(home, kStudent), card::CardKind::Pasmo);
        QCOMPARE(CardLibrary::cardKind(home, QStringLiteral("01010100DEADBEEF")), std::nullopt);

        // Their kind never replaces one we told; a history without the tables takes ours whole.
        work.execute(
            QStringLiteral("UPDATE cardkind SET kind='icoca' WHERE idm='%1'").arg(kStudent));
        const QString fresh = computers.dir.filePath(QStringLiteral("fresh.sqlite"));
        HistoryFileWriter(fresh).card(kStudent, historyEntries(7000, 2));
        const MergeOutcome again = mergeHistoryFile(computers.work, computers.home, 1000);
        QCOMPARE(again.report.notes, 0);
        QCOMPARE(again.report.cardKinds, 0);
        QCOMPARE(CardLibrary::cardKind(home, kStudent), card::CardKind::Pasmo);
        const MergeOutcome intoFresh = mergeHistoryFile(computers.home, fresh, 1000);
        QCOMPARE(intoFresh.report.gateTaps, 5);
        QCOMPARE(intoFresh.report.cardKinds, 2);
        QCOMPARE(gateLogRows(fresh), gateLogRows(computers.home));

        // Our tables of those names but other columns stay as they are; the history comes.
        const QString other = computers.dir.filePath(QStringLiteral("other.sqlite"));
        HistoryFileWriter otherWriter(other);
        for (const QString& sql : {QStringLiteral("CREATE TABLE gatelog (idm TEXT, tap BLOB)"),
                                   QStringLiteral("CREATE TABLE cardkind (idm TEXT, name TEXT, "
                                                  "since INTEGER)"),
                                   QStringLiteral("INSERT INTO cardkind VALUES ('x', 'mine', 5)")})
            otherWriter.database().execute(sql);
        const MergeOutcome intoOther = mergeHistoryFile(computers.home, other, 1000);
        QVERIFY2(intoOther.merged, qPrintable(intoOther.reason));
        QCOMPARE(intoOther.report.entries, qint64(300 + 40 + 3));
        QCOMPARE(intoOther.report.gateTaps, 0);
        QCOMPARE(intoOther.report.cardKinds, 0);
        QCOMPARE(queryTexts(other, QStringLiteral("SELECT COUNT(*) FROM gatelog")),
                 QStringList{QStringLiteral("0")});
        QCOMPARE(queryTexts(other, QStringLiteral(
                                       "SELECT idm || ' ' || name || ' ' || since FROM cardkind")),
                 QStringList{QStringLiteral("x mine 5")});
    }

    void refusedSourcesStayByteIdentical_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a letter") << QStringLiteral("text") << QStringLiteral("not a database");
        QTest::newRow("another program's database")
            << QStringLiteral("foreign") << QStringLiteral("not a Ridelog history");
        QTest::newRow("a card table with other columns")
            << QStringLiteral("columns") << QStringLiteral("instead of");
        QTest::newRow("damaged") << QStringLiteral("damaged") << QStringLiteral("damaged");
        QTest::newRow("being written")
            << QStringLiteral("locked") << QStringLiteral("another program is writing it");
        QTest::newRow("the database itself") << QStringLiteral("self") << QStringLiteral("itself");
        QTest::newRow("a link to the database")
            << QStringLiteral("link") << QStringLiteral("itself");
        QTest::newRow("1 GB of nothing")
            << QStringLiteral("huge") << QStringLiteral("not a database");
        QTest::newRow("ours damaged")
            << QStringLiteral("ours damaged") << QStringLiteral("damaged");
        QTest::newRow("ours being written")
            << QStringLiteral("ours locked") << QStringLiteral("in use by another program");
    }

    void refusedSourcesStayByteIdentical()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        TwoComputers computers;
        QString source = computers.dir.filePath(QStringLiteral("source.sqlite"));
        std::optional<Database> holder;
        if (kind.startsWith(u"ours"))
            source = computers.work;
        if (kind == u"text") {
            QVERIFY(test::writeFile(source, "1;2;3\n"));
        } else if (kind == u"foreign") {
            Database::open(source, Database::OpenMode::CreateIfMissing, 1000)
                .execute(QStringLiteral("CREATE TABLE photos (id INTEGER, path TEXT)"));
        } else if (kind == u"columns") {
            Database::open(source, Database::OpenMode::CreateIfMissing, 1000)
                .execute(
                    QStringLiteral("CREATE TABLE \"20114A1B2C3D4E5F6\" (seq INTEGER, b1 INTEGER)"));
        } else if (kind == u"damaged") {
            QVERIFY(QFile::copy(computers.work, source));
            QVERIFY(damageFileMiddle(source, 4096, '\x7F'));
        } else if (kind == u"locked") {
            source = computers.work;
            holder.emplace(Database::open(source, Database::OpenMode::ExistingFile, 1000));
            holder->execute(QStringLiteral("BEGIN EXCLUSIVE"));
        } else if (kind == u"self") {
            source = computers.home;
        } else if (kind == u"link") {
            QVERIFY(QFile::link(computers.home, source));
        } else if (kind == u"huge") {
            QFile file(source);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(qint64(1) << 30));
        } else if (kind == u"ours damaged") {
            HistoryFileWriter(computers.home).card(kStudent, historyEntries(1, 3000));
            QVERIFY(damageFileMiddle(computers.home, 8192, '\x33'));
        } else if (kind == u"ours locked") { // the window stores a read
            holder.emplace(Database::open(computers.home, Database::OpenMode::ExistingFile, 1000));
            holder->execute(QStringLiteral("BEGIN IMMEDIATE"));
        }
        const QByteArray sourceBytes = kind == u"huge" ? QByteArray() : fileBytes(source);
        const QByteArray homeBytes = fileBytes(computers.home);
        QElapsedTimer timer;
        timer.start();
        const MergeOutcome outcome = mergeHistoryFile(source, computers.home, 300);
        QVERIFY(timer.elapsed() < 3000);
        QVERIFY(!outcome.merged);
        QVERIFY2(outcome.reason.contains(reason), qPrintable(outcome.reason));
        if (kind != u"huge")
            QCOMPARE(fileBytes(source), sourceBytes);
        QCOMPARE(fileBytes(computers.home), homeBytes);
    }

    void twoMergesAtOnceWaitForTheWindowAndAddEachEntryOnce()
    {
        TwoComputers computers;
        const QString laptop = computers.dir.filePath(QStringLiteral("laptop.sqlite"));
        HistoryFileWriter(laptop).card(kCommuter, historyEntries(100, 300));
        // The window stores a read for 200 ms: both merges wait and then go in.
        Database window = Database::open(computers.home, Database::OpenMode::ExistingFile, 1000);
        window.execute(QStringLiteral("BEGIN IMMEDIATE"));
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            window.execute(QStringLiteral("COMMIT"));
        });
        MergeOutcome first;
        MergeOutcome second;
        std::thread a([&] { first = mergeHistoryFile(computers.work, computers.home, 10000); });
        std::thread b([&] { second = mergeHistoryFile(laptop, computers.home, 10000); });
        release.join();
        a.join();
        b.join();
        QVERIFY2(first.merged, qPrintable(first.reason));
        QVERIFY2(second.merged, qPrintable(second.reason));
        QCOMPARE(first.report.entries + second.report.entries, qint64(199 + 40));
        QCOMPARE(storedBlocks(computers.home, kCommuter).size(), std::size_t(399));
        QCOMPARE(storedRowCount(computers.home, kCommuter), qint64(399));
    }
};

QTEST_GUILESS_MAIN(TestHistoryMerge)
#include "test_historymerge.moc"
