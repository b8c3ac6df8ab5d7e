// The clearing commands of the 設定 menu from the window: the list after a name cache went,
// the history kept as far as the card still holds it, and nothing changed without a database.
#include "../names/fakenameserver.h"
#include "commandfixture.h"
#include "support/cardblocks.h"
#include "ui/commandids.h"

#include <QDir>
#include <QTest>

using namespace ridelog;
using namespace ridelog::test;
using namespace Qt::StringLiterals;

namespace {

const QString kNoDatabase = u"データベースにアクセスできません"_s;

// A card of one purchase, one bus ride and one rail journey, newest first.
const QList<HistoryBlock> kThreeKinds{shopBlock(3, 1880), busBlock(2, 2000), railBlock(1, 2370)};

// How many names the caches of the window hold, of every kind.
std::size_t cachedNames(CRidelogDlg& dlg)
{
    const NameCaches& caches = dlg.session().caches();
    return caches.stations.size() + caches.busStops.size() + caches.shops.size();
}

} // namespace

class TestClearingCommands : public QObject, CommandFixture
{
    Q_OBJECT

private slots:
    void init() { setUpCommands(); }
    void cleanup() { tearDownCommands(); }

    void clearNamesShowsCodesOfThatKind_data();
    void clearNamesShowsCodesOfThatKind();
    void clearHistoryKeepsWhatCardHolds();
    void clearHistoryWithCardRemoved();
    void withoutDatabaseNothingChanges_data();
    void withoutDatabaseNothingChanges();
    void clearingCancelsRunningRefresh();
};

void TestClearingCommands::clearNamesShowsCodesOfThatKind_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QStringList>("names"); // column 4 afterwards: shop, bus stop, station
    QTest::addColumn<QString>("exitName");  // column 5 of the rail row afterwards
    QTest::addColumn<QList<int>>("tables"); // rows of ipn, bus and bpn afterwards
    const QString shop = u"NEWDAYS(JR東日本リテール)"_s;
    const QString stop = u"渋谷駅前(都営バス)"_s;
    const QString station = u"渋谷(東横線)"_s;
    QTest::newRow("駅名キャッシュ削除")
        << int(ids::ClearStationNames) << QStringList{shop, stop, u"(0, 37, 12)"_s}
        << u"(0, 37, 16)"_s << QList<int>{0, 1, 1};
    QTest::newRow("停留所名キャッシュ削除")
        << int(ids::ClearBusStopNames) << QStringList{shop, u"(4660, 291)"_s, station}
        << u"新宿(山手線)"_s << QList<int>{2, 0, 1};
    QTest::newRow("店舗名キャッシュ削除")
        << int(ids::ClearShopNames) << QStringList{u"(1, 199, 7)"_s, stop, station}
        << u"新宿(山手線)"_s << QList<int>{2, 1, 0};
}

void TestClearingCommands::clearNamesShowsCodesOfThatKind()
{
    QFETCH(int, command);
    QFETCH(QStringList, names);
    QFETCH(QString, exitName);
    QFETCH(QList<int>, tables);
    ini_->setValue(u"Trfc/bpnShow"_s, 1);
    putCard(kThreeKinds);
    auto dlg = makeDialog();
    knowNames(*dlg);
    inside(*dlg).refreshShopNames();
    dlg->readCard();
    QCOMPARE(columnTexts(*dlg, 4), (QStringList{u"NEWDAYS(JR東日本リテール)"_s,
                                                u"渋谷駅前(都営バス)"_s, u"渋谷(東横線)"_s}));
    QVERIFY(dlg->triggerCommand(command));
    QVERIFY(MessageBox::capturedMessages().isEmpty());
    QCOMPARE(columnTexts(*dlg, 0), (QStringList{u"3"_s, u"2"_s, u"1"_s}));
    QCOMPARE(columnTexts(*dlg, 4), names);
    QCOMPARE(cell(*dlg, 2, 5), exitName);
    QCOMPARE((QList<int>{int(tableRows(*dlg, u"ipn"_s)), int(tableRows(*dlg, u"bus"_s)),
                         int(tableRows(*dlg, u"bpn"_s))}),
             tables);
    // The caches forget the cleared kind only.
    NameCaches& caches = dlg->session().caches();
    QCOMPARE(caches.stations.EntryFor(kExitStation).sn.isEmpty(), tables[0] == 0);
    QCOMPARE(caches.busStops.EntryFor(kBusStop).sn.isEmpty(), tables[1] == 0);
    QCOMPARE(caches.shops.EntryFor(kShop).ln.isEmpty(), tables[2] == 0);
}

// 履歴データ削除 asks first, and keeps the entries the card still holds.
void TestClearingCommands::clearHistoryKeepsWhatCardHolds()
{
    auto card = [](std::uint32_t highest) {
        const std::vector<HistoryBlock> blocks = cardBlocks(highest - 19, highest);
        return QList<HistoryBlock>(blocks.begin(), blocks.end());
    };
    auto dlg = makeDialog();
    // Before the first read there is nothing to delete.
    QVERIFY(dlg->triggerCommand(ids::DeleteHistory));
    QCOMPARE(MessageBox::capturedMessages(),
             QStringList{u"カードがまだ読み取られていないため、削除する履歴はありません。"_s});
    MessageBox::clearCaptured();
    putCard(card(20));
    dlg->readCard();
    putCard(card(35));
    dlg->readCard();
    const QString table = CardTableName(kCardIdm);
    QCOMPARE(tableRows(*dlg, table), 35);
    QCOMPARE(inside(*dlg).historyModel()->rowCount(), 35);

    // いいえ, the default answer: nothing goes.
    QVERIFY(dlg->triggerCommand(ids::DeleteHistory));
    QCOMPARE(tableRows(*dlg, table), 35);
    QCOMPARE(MessageBox::capturedMessages().size(), 1);
    // The card holds serials 16 to 35: 15 stored entries cannot be read back.
    const QString question = MessageBox::capturedMessages().first();
    QVERIFY(question.contains(kCardIdm));
    QVERIFY(question.contains(u"保存済み履歴 35 件"_s));
    QVERIFY(question.contains(u"そのうち 15 件"_s));
    MessageBox::clearCaptured();
    MessageBox::setNextAnswers({true});
    QVERIFY(dlg->triggerCommand(ids::DeleteHistory));
    QCOMPARE(MessageBox::capturedMessages().size(), 1);
    QCOMPARE(tableRows(*dlg, table), 20);
    QCOMPARE(inside(*dlg).historyModel()->rowCount(), 20);
    QCOMPARE(cell(*dlg, 19, 0), u"16"_s);
}

void TestClearingCommands::clearHistoryWithCardRemoved()
{
    putCard({railBlock(2, 2210), railBlock(1, 2370)});
    auto dlg = makeDialog();
    dlg->readCard();
    takeCardOff();
    MessageBox::setNextAnswers({true});
    QVERIFY(dlg->triggerCommand(ids::DeleteHistory));
    QCOMPARE(MessageBox::capturedMessages().size(), 2);
    QCOMPARE(MessageBox::capturedMessages().last(), kReadFailed);
    QCOMPARE(tableRows(*dlg, CardTableName(kCardIdm)), -1);
    QCOMPARE(inside(*dlg).historyModel()->rowCount(), 0);
    // The next read stores what the card holds in a new table.
    putCard({railBlock(2, 2210), railBlock(1, 2370)});
    dlg->readCard();
    QCOMPARE(tableRows(*dlg, CardTableName(kCardIdm)), 2);
}

void TestClearingCommands::withoutDatabaseNothingChanges_data()
{
    QTest::addColumn<int>("command");
    QTest::newRow("駅名キャッシュ削除") << int(ids::ClearStationNames);
    QTest::newRow("停留所名キャッシュ削除") << int(ids::ClearBusStopNames);
    QTest::newRow("店舗名キャッシュ削除") << int(ids::ClearShopNames);
    QTest::newRow("履歴データ削除") << int(ids::DeleteHistory);
}

void TestClearingCommands::withoutDatabaseNothingChanges()
{
    QFETCH(int, command);
    putCard(kThreeKinds);
    auto dlg = makeDialog();
    knowNames(*dlg);
    dlg->readCard();
    const QStringList names = columnTexts(*dlg, 4);
    const std::size_t cached = cachedNames(*dlg);
    // The data folder goes away and a plain file takes its name: the database can be neither
    // opened nor created.
    const QString folder = QDir::cleanPath(dlg->session().store().DataFolder());
    QVERIFY(QFile::rename(folder, folder + u".away"_s));
    {
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }

    QVERIFY(dlg->triggerCommand(command));
    QCOMPARE(MessageBox::capturedMessages(), QStringList{kNoDatabase});
    QCOMPARE(columnTexts(*dlg, 4), names);
    QCOMPARE(cachedNames(*dlg), cached);
    QCOMPARE(dlg->session().caches().stations.EntryFor(kEntryStation).sn, u"渋谷"_s);

    QVERIFY(QFile::remove(folder));
    QVERIFY(QFile::rename(folder + u".away"_s, folder));
    QCOMPARE(tableRows(*dlg, u"ipn"_s), 2);
    QCOMPARE(tableRows(*dlg, u"bus"_s), 1);
    QCOMPARE(tableRows(*dlg, u"bpn"_s), 1);
    QCOMPARE(tableRows(*dlg, CardTableName(kCardIdm)), 3);
}

void TestClearingCommands::clearingCancelsRunningRefresh()
{
    FakeNameServer server;
    QVERIFY(server.listening());
    server.respondWith([](const FakeNameServer::Request&) { return QByteArray(); }); // hangs
    putCard({railBlock(1, 2370)});
    ini_->setValue(u"Trfc/nameServer"_s, server.url().toString());
    auto dlg = makeDialog();
    // The reader's own read at start-up, whose refresh waits for the answer.
    QTRY_COMPARE(server.requests().size(), 1);
    QCOMPARE(inside(*dlg).historyModel()->rowCount(), 1);
    QVERIFY(inside(*dlg).nameRefresher().isRunning());
    const auto generation = inside(*dlg).nameRefresher().generation();
    takeCardOff();
    QVERIFY(dlg->triggerCommand(ids::ClearStationNames));
    QVERIFY(!inside(*dlg).nameRefresher().isRunning());
    QVERIFY(inside(*dlg).nameRefresher().generation() > generation);
    QTRY_COMPARE(server.openConnections(), 0);
    QCOMPARE(MessageBox::capturedMessages(), QStringList{kReadFailed});
}

QTEST_MAIN(TestClearingCommands)
#include "test_commands_clearing.moc"
