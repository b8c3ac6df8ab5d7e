// The clearing commands on a real database: what goes, what stays, and in which order.
#include "store/historystore.h"
#include "store/notestore.h"
#include "support/cardblocks.h"
#include "ui/clearingcommands.h"
#include "ui/messagebox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <set>

using namespace ridelog;

Q_DECLARE_METATYPE(ridelog::NameTable)

using ridelog::test::cardBlocks;

namespace {

const QString kIdm = QStringLiteral("0114A1B2C3D4E5F6");
const QString kOtherIdm = QStringLiteral("00000000000000AA");

} // namespace

class TestClearing : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void clearNameCacheTouchesOnlyItsKind_data();
    void clearNameCacheTouchesOnlyItsKind();
    void clearCardHistoryDropsOnlyThatCard();
    void clearCardHistoryAsksFirst_data();
    void clearCardHistoryAsksFirst();
    void clearCardHistoryNamesAndDeletesItsNotes();
    void withoutDatabaseNothingChanges_data();
    void withoutDatabaseNothingChanges();

private:
    ClearingCommands commands();
    void storeCard(const QString& idm, std::uint32_t lowest, std::uint32_t highest);
    void fillCachesAndTables();
    std::int64_t rows(const QString& table);
    bool hasTable(const QString& table);

    std::unique_ptr<QTemporaryDir> home_;
    std::unique_ptr<HistoryStore> store_;
    NameCaches caches_;
    QStringList steps_;
    // What the caches held when the card was read again.
    std::size_t stationsAtRead_ = 0;
};

void TestClearing::init()
{
    home_ = std::make_unique<QTemporaryDir>();
    QVERIFY(home_->isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(home_->path()));
    store_ = std::make_unique<HistoryStore>();
    caches_ = NameCaches();
    store_->OpenDatabaseAtStart(caches_);
    steps_.clear();
    MessageBox::setCapturing(true);
    MessageBox::clearCaptured();
}

void TestClearing::cleanup()
{
    MessageBox::setCapturing(false);
    store_.reset();
    home_.reset();
}

ClearingCommands TestClearing::commands()
{
    return ClearingCommands(nullptr, *store_, caches_,
                            {[this] { steps_ << QStringLiteral("stop refresh"); },
                             [this] { steps_ << QStringLiteral("empty list"); },
                             [this] {
                                 steps_ << QStringLiteral("read card");
                                 stationsAtRead_ = caches_.stations.size();
                             }});
}

void TestClearing::storeCard(const QString& idm, std::uint32_t lowest, std::uint32_t highest)
{
    CardBlockSet blocks;
    store_->LoadStoredBlocks(idm, blocks);
    HistoryStore::MergeCardBlocks(blocks, cardBlocks(lowest, highest));
    store_->StoreNewBlocks(idm, blocks);
}

void TestClearing::fillCachesAndTables()
{
    caches_.stations.EntryFor({0, 37, 12}) = {QStringLiteral("JR東日本"), QStringLiteral("山手"),
                                              QStringLiteral("渋谷"), QStringLiteral("渋谷")};
    caches_.busStops.EntryFor({4660, 291}) = {QStringLiteral("都営バス"),
                                              QStringLiteral("渋谷駅前"), QString(),
                                              QStringLiteral("渋谷駅前(都営バス)")};
    caches_.shops.EntryFor({1, 199, 7}) = {QStringLiteral("JR東日本リテール"),
                                           QStringLiteral("NEWDAYS"), QString(), QString(),
                                           QStringLiteral(" ")};
    QVERIFY(store_->WriteBackNames(caches_));
    store_->closeDatabase();
    storeCard(kIdm, 1, 35);
    storeCard(kOtherIdm, 1, 4);
    QCOMPARE(rows(QStringLiteral("ipn")), 1);
    QCOMPARE(rows(QStringLiteral("bus")), 1);
    QCOMPARE(rows(QStringLiteral("bpn")), 1);
    QCOMPARE(rows(CardTableName(kIdm)), 35);
}

std::int64_t TestClearing::rows(const QString& table)
{
    Database db = Database::open(store_->databasePath(), Database::OpenMode::ExistingFile, 1000);
    if (!db.tableExists(table))
        return -1;
    Statement count(db, QStringLiteral("SELECT count(*) FROM %1").arg(quoteIdentifier(table)));
    count.step();
    return count.integerAt(0);
}

bool TestClearing::hasTable(const QString& table)
{
    return rows(table) >= 0;
}

void TestClearing::clearNameCacheTouchesOnlyItsKind_data()
{
    QTest::addColumn<NameTable>("table");
    QTest::addColumn<QString>("tableName");
    QTest::newRow("ipn") << NameTable::Stations << QStringLiteral("ipn");
    QTest::newRow("bus") << NameTable::BusStops << QStringLiteral("bus");
    QTest::newRow("bpn") << NameTable::Shops << QStringLiteral("bpn");
}

void TestClearing::clearNameCacheTouchesOnlyItsKind()
{
    QFETCH(NameTable, table);
    QFETCH(QString, tableName);
    fillCachesAndTables();
    commands().ClearNameCache(table);

    QVERIFY(MessageBox::capturedMessages().isEmpty());
    QCOMPARE(steps_, (QStringList{QStringLiteral("stop refresh"), QStringLiteral("empty list"),
                                  QStringLiteral("read card")}));
    QCOMPARE(store_->state(), DatabaseState::Closed);
    for (const QString& name :
         {QStringLiteral("ipn"), QStringLiteral("bus"), QStringLiteral("bpn")})
        QCOMPARE(rows(name), name == tableName ? 0 : 1);
    QCOMPARE(caches_.stations.empty(), table == NameTable::Stations);
    QCOMPARE(caches_.busStops.empty(), table == NameTable::BusStops);
    QCOMPARE(caches_.shops.empty(), table == NameTable::Shops);
    // The cache was empty before the card was read again.
    QCOMPARE(stationsAtRead_ == 0, table == NameTable::Stations);
    QCOMPARE(rows(CardTableName(kIdm)), 35);
    QCOMPARE(rows(CardTableName(kOtherIdm)), 4);
}

// The serials the card delivered at its last read: the newest 20 of the 35 stored.
std::set<std::uint32_t> onCard()
{
    std::set<std::uint32_t> serials;
    for (std::uint32_t serial = 16; serial <= 35; ++serial)
        serials.insert(serial);
    return serials;
}

QString deleteQuestion(const QString& idm, int stored, int lost)
{
    return QStringLiteral("カード %1 の保存済み履歴 %2 件をすべて削除します。\r\n"
                          "そのうち %3 件はカードに残っていないため、二度と読み戻せません。\r\n"
                          "削除しますか？")
        .arg(idm)
        .arg(stored)
        .arg(lost);
}

void TestClearing::clearCardHistoryDropsOnlyThatCard()
{
    fillCachesAndTables();
    MessageBox::setNextAnswers({true});
    commands().ClearCardHistory(kIdm, onCard());
    QCOMPARE(MessageBox::capturedMessages(), QStringList{deleteQuestion(kIdm, 35, 15)});
    QCOMPARE(steps_, (QStringList{QStringLiteral("stop refresh"), QStringLiteral("empty list"),
                                  QStringLiteral("read card")}));
    QVERIFY(!hasTable(CardTableName(kIdm)));
    QCOMPARE(rows(CardTableName(kOtherIdm)), 4);
    QCOMPARE(rows(QStringLiteral("ipn")), 1);
    QCOMPARE(caches_.stations.size(), std::size_t(1));
    QCOMPARE(caches_.shops.size(), std::size_t(1));
}

// Nothing goes without a yes, and a card without stored history is told so.
void TestClearing::clearCardHistoryNamesAndDeletesItsNotes()
{
    fillCachesAndTables();
    NoteStore notes(store_->databasePath());
    const std::vector<std::uint32_t> noted{3, 20, 35};
    QVERIFY(notes.setNotes(kIdm, noted, NoteChange{QStringLiteral("会議"), true}, 1).written());
    QVERIFY(notes.setNotes(kOtherIdm, std::vector<std::uint32_t>{3}, NoteChange{{}, true}, 1)
                .written());
    // Answered no: everything stays.
    MessageBox::setNextAnswers({false});
    commands().ClearCardHistory(kIdm, onCard());
    const QString question =
        QStringLiteral("カード %1 の保存済み履歴 35 件をすべて削除します。\r\n"
                       "そのうち 15 件はカードに残っていないため、二度と読み戻せません。\r\n"
                       "履歴に付けた用途・精算の記録 3 件も削除されます。\r\n"
                       "削除しますか？")
            .arg(kIdm);
    QCOMPARE(MessageBox::capturedMessages(), QStringList{question});
    QCOMPARE(notes.noteCount(kIdm), 3);
    MessageBox::setNextAnswers({true});
    commands().ClearCardHistory(kIdm, onCard());
    QVERIFY(!hasTable(CardTableName(kIdm)));
    QCOMPARE(notes.noteCount(kIdm), 0);
    QCOMPARE(notes.noteCount(kOtherIdm), 1);
}

void TestClearing::clearCardHistoryAsksFirst_data()
{
    QTest::addColumn<QString>("idm");
    QTest::addColumn<QString>("message");
    QTest::newRow("answered いいえ") << kIdm << deleteQuestion(kIdm, 35, 15);
    QTest::newRow("no card read yet")
        << QString()
        << QStringLiteral("カードがまだ読み取られていないため、削除する履歴はありません。");
    QTest::newRow("nothing stored")
        << QStringLiteral("00000000000000BB")
        << QStringLiteral("カード 00000000000000BB の履歴は保存されていません。");
}

void TestClearing::clearCardHistoryAsksFirst()
{
    QFETCH(QString, idm);
    QFETCH(QString, message);
    fillCachesAndTables();
    commands().ClearCardHistory(idm, onCard());
    QCOMPARE(MessageBox::capturedMessages(), QStringList{message});
    QVERIFY(steps_.isEmpty());
    QCOMPARE(rows(CardTableName(kIdm)), 35);
    QCOMPARE(rows(CardTableName(kOtherIdm)), 4);
}

void TestClearing::withoutDatabaseNothingChanges_data()
{
    QTest::addColumn<int>("command");
    QTest::newRow("駅名キャッシュ削除") << 0;
    QTest::newRow("停留所名キャッシュ削除") << 1;
    QTest::newRow("店舗名キャッシュ削除") << 2;
    QTest::newRow("履歴データ削除") << 3;
}

void TestClearing::withoutDatabaseNothingChanges()
{
    QFETCH(int, command);
    fillCachesAndTables();
    const QByteArray before = [&] {
        QFile file(store_->databasePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    // The database file turns into a folder: it can be neither opened nor created.
    const QString path = store_->databasePath();
    QVERIFY(QFile::rename(path, path + QStringLiteral(".away")));
    QVERIFY(QDir().mkpath(path));

    ClearingCommands clearing = commands();
    if (command < 3)
        clearing.ClearNameCache(NameTable(command));
    else
        clearing.ClearCardHistory(kIdm, onCard());

    QCOMPARE(MessageBox::capturedMessages(),
             QStringList{QStringLiteral("データベースにアクセスできません")});
    QVERIFY(steps_.isEmpty());
    QCOMPARE(caches_.stations.size(), std::size_t(1));
    QCOMPARE(caches_.busStops.size(), std::size_t(1));
    QCOMPARE(caches_.shops.size(), std::size_t(1));
    QVERIFY(QDir().rmdir(path));
    QVERIFY(QFile::rename(path + QStringLiteral(".away"), path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
}

QTEST_MAIN(TestClearing)
#include "test_clearing.moc"
