// After a name refresh every name cell shows the name its key has, whichever row asked for the
// key and whichever column the key stands in; the request still asks each key once.
#include "names/composition.h"
#include "names/nameprotocol.h"
#include "names/namerefresher.h"
#include "support/namedhistory.h"

#include <QSignalSpy>
#include <QTest>
#include <map>
#include <set>

using namespace ridelog;
using namespace ridelog::test;
using namespace std::chrono_literals;

namespace {

const QString kIdm = QStringLiteral("0123456789ABCDEF");

DisplayFlags shownFlags()
{
    DisplayFlags flags;
    flags.railCompanyShown = false;
    flags.railLineShown = true;
    flags.busCompanyShown = flags.busRouteShown = true;
    flags.shopInfoShown = flags.shopCompanyShown = flags.shopNameShown = true;
    flags.shopRegisterShown = true;
    return flags;
}

// How the rows stand in the list.
enum class RowOrder
{
    NewestFirst,
    OldestFirst, // as after sorting by date
};

struct HistoryCase
{
    std::vector<HistoryBlock> blocks;
    RowOrder order = RowOrder::NewestFirst;
    // Names the caches held before the read, as an earlier run stored them.
    std::map<StationKey, QString> storedStations;
    // The missed-history marker goes below the row of this serial (0: no marker).
    std::uint32_t markerBelow = 0;
};

HistoryCase historyOf(const std::vector<HistoryBlock>& blocks)
{
    HistoryCase history;
    history.blocks = blocks;
    return history;
}

} // namespace

Q_DECLARE_METATYPE(HistoryCase)

class TestNameAnswer : public QObject
{
    Q_OBJECT

private slots:
    void everyCellNamed_data();
    void everyCellNamed();

private:
    void readHistory(const HistoryCase& history);
    // The name the key has after the refresh; empty when nobody knows it.
    QString stationName(const StationKey& key) const;
    QString busStopName(const BusStopKey& key) const;
    QString shopName(const ShopKey& key) const;
    // The texts the name columns must show for a record.
    std::pair<QString, QString> expectedCells(const HistoryRecord& record) const;
    // The keys a refresh has to ask for: every unnamed station, every stop and shop.
    int keysToAsk() const;

    nameserver::NameDirectory names_ = knownNames();
    HistoryCase history_;
    HistoryRecordSet records_;
    NameCaches caches_;
    NameRefreshTable table_;
    QStandardItemModel list_;
};

void TestNameAnswer::everyCellNamed_data()
{
    QTest::addColumn<HistoryCase>("history");

    // The entry of the newest row is asked under its own serial, its exit under the row above's
    // (oldest first in the card: Shibuya->Shinjuku, then Shinjuku->Tokyo... read newest first).
    HistoryCase askedElsewhere;
    askedElsewhere.blocks = HistoryBuilder()
                                .journey(kShibuya, kShinjuku)
                                .journey(kShinjuku, kTokyo)
                                .journey(kTokyo, kShibuya)
                                .blocks();
    QTest::newRow("entry asked here, exit asked by another row") << askedElsewhere;

    HistoryBuilder commute;
    for (int day = 0; day < 10; ++day) {
        commute.journey(kIkebukuro, kShinagawa, 220).journey(kShinagawa, kIkebukuro, 220);
        if (day % 3 == 2)
            commute.charge(3000);
    }
    QTest::newRow("commuter round trips") << historyOf(commute.blocks());

    QTest::newRow("transfers") << historyOf(HistoryBuilder()
                                                .journey(kShinjuku, kShibuya)
                                                .journey(kShibuya, kTokyo)
                                                .journey(kTokyo, kOsaka, 8910)
                                                .journey(kOsaka, kMeitetsuNagoya, 6000)
                                                .journey(kMeitetsuNagoya, kShinjuku, 6000)
                                                .blocks());

    QTest::newRow("a station that is only ever an exit")
        << historyOf(HistoryBuilder()
                         .journey(kShinjuku, kOsaka)
                         .journey(kTokyo, kOsaka)
                         .journey(kShibuya, kIkebukuro)
                         .journey(kShinagawa, kOsaka)
                         .blocks());

    QTest::newRow("both columns of one row") << historyOf(HistoryBuilder()
                                                              .journey(kShinjuku, kShinjuku, 0)
                                                              .journey(kTokyo, kShinjuku)
                                                              .journey(kShinjuku, kShinjuku, 0)
                                                              .blocks());

    QTest::newRow("buses and shops between journeys")
        << historyOf(HistoryBuilder()
                         .journey(kIkebukuro, kShinjuku)
                         .bus(kStationFrontStop)
                         .purchase(kKioskRegister1)
                         .bus(kHospitalStop)
                         .purchase(kKioskRegister2)
                         .bus(kStationFrontStop)
                         .purchase(kVendingMachine, 130)
                         .journey(kShinjuku, kIkebukuro)
                         .purchase(kKioskRegister1)
                         .bus(kStationFrontStop)
                         .blocks());

    HistoryCase stored;
    stored.blocks = HistoryBuilder()
                        .journey(kShinjuku, kShibuya)
                        .journey(kShibuya, kTokyo)
                        .journey(kTokyo, kShinjuku)
                        .blocks();
    stored.storedStations[kShibuya] = QStringLiteral("渋谷(東日本旅客鉄道：山手線)");
    QTest::newRow("a stored name is kept") << stored;

    QTest::newRow("a station nobody knows keeps its code")
        << historyOf(HistoryBuilder()
                         .journey(kUnknownStation, kShinjuku)
                         .journey(kShinjuku, kUnknownStation)
                         .journey(kUnknownStation, kUnknownStation, 0)
                         .blocks());

    // Serial 0 below the marker: the marker row is no record.
    HistoryCase marker;
    marker.blocks = HistoryBuilder(0)
                        .journey(kShinjuku, kShibuya)
                        .journey(kShibuya, kTokyo)
                        .skipTo(40)
                        .journey(kTokyo, kShinjuku)
                        .journey(kShinjuku, kShibuya)
                        .blocks();
    marker.markerBelow = 40;
    QTest::newRow("keys below a missed-history marker") << marker;

    HistoryCase sorted;
    sorted.blocks = askedElsewhere.blocks;
    sorted.order = RowOrder::OldestFirst;
    QTest::newRow("rows sorted oldest first") << sorted;

    HistoryBuilder years(1000);
    const StationKey ring[] = {kShinjuku, kShibuya, kIkebukuro, kTokyo, kShinagawa};
    for (int i = 0; i < 400; ++i) {
        years.journey(ring[i % 5], ring[(i * 3 + 1) % 5]);
        if (i % 7 == 0)
            years.bus(i % 2 ? kStationFrontStop : kHospitalStop);
        if (i % 11 == 0)
            years.purchase(i % 3 ? kKioskRegister1 : kVendingMachine);
        if (i % 50 == 0)
            years.journey(kOsaka, kUnknownStation).charge(5000);
    }
    QTest::newRow("two years of history") << historyOf(years.blocks());
}

void TestNameAnswer::readHistory(const HistoryCase& history)
{
    history_ = history;
    records_.clear();
    caches_ = NameCaches{};
    table_.clear();
    for (const auto& [key, name] : history.storedStations) {
        NameEntry& entry = caches_.stations.EntryFor(key);
        const nameserver::RailNames* parts = names_.rail(key);
        entry = {parts->company, parts->line, parts->station, name};
    }
    for (const HistoryBlock& block : history.blocks)
        records_.insert(
            decodeHistoryBlock(block, caches_.stations, caches_.busStops, caches_.shops));
    deriveAmounts(records_);
    list_.clear();
    list_.setColumnCount(7);
    std::vector<const HistoryRecord*> rows;
    for (const HistoryRecord& record : records_)
        rows.push_back(&record);
    if (history.order == RowOrder::NewestFirst)
        std::reverse(rows.begin(), rows.end());
    for (const HistoryRecord* record : rows) {
        list_.appendRow(listRowOf(*record));
        if (record->serial == history.markerBelow && history.markerBelow != 0)
            list_.appendRow(markerRow());
    }
}

QString TestNameAnswer::stationName(const StationKey& key) const
{
    if (const auto stored = history_.storedStations.find(key);
        stored != history_.storedStations.end())
        return stored->second;
    const nameserver::RailNames* parts = names_.rail(key);
    return parts ? composeRailName(parts->company, parts->line, parts->station, shownFlags())
                 : QString();
}

QString TestNameAnswer::busStopName(const BusStopKey& key) const
{
    const nameserver::BusNames* parts = names_.bus(key);
    if (parts == nullptr)
        return QString();
    const QString route = parts->route.trimmed();
    return composeBusName(parts->company, parts->stop, route, shownFlags(), BusColon::Ascii);
}

QString TestNameAnswer::shopName(const ShopKey& key) const
{
    const nameserver::ShopNames* parts = names_.shop({0, key.lc, key.sc});
    if (parts == nullptr)
        return QString();
    const QString cashRegister =
        parts->cashRegister.isEmpty() ? QStringLiteral(" ") : parts->cashRegister;
    return composeShopName(parts->company, parts->store, cashRegister, shownFlags());
}

std::pair<QString, QString> TestNameAnswer::expectedCells(const HistoryRecord& record) const
{
    HistoryRecord named = record;
    switch (record.kind) {
    case RecordKind::Rail:
        named.entryName = record.entryKey.isNone() ? QString() : stationName(record.entryKey);
        named.exitName = record.exitKey.isNone() ? QString() : stationName(record.exitKey);
        break;
    case RecordKind::Bus:
        named.entryName = busStopName(record.busKey);
        break;
    case RecordKind::Shop:
        named.entryName = shopName(record.shopKey);
        break;
    case RecordKind::None:
        break;
    }
    return {entryColumnText(named), exitColumnText(named)};
}

int TestNameAnswer::keysToAsk() const
{
    std::set<StationKey> stations;
    std::set<BusStopKey> stops;
    std::set<ShopKey> shops;
    for (const HistoryRecord& record : records_) {
        if (record.kind == RecordKind::Rail) {
            for (const auto& [key, name] : {std::pair{record.entryKey, record.entryName},
                                            std::pair{record.exitKey, record.exitName}})
                if (!key.isNone() && name.isEmpty())
                    stations.insert(key);
        } else if (record.kind == RecordKind::Bus) {
            stops.insert(record.busKey);
        } else if (record.kind == RecordKind::Shop) {
            shops.insert(record.shopKey);
        }
    }
    return int(stations.size() + stops.size() + shops.size());
}

void TestNameAnswer::everyCellNamed()
{
    QFETCH(HistoryCase, history);
    readHistory(history);
    const int asked = keysToAsk();

    FakeNameServer server;
    server.respondWith(answeringFrom(names_));
    NameRefresher refresher;
    refresher.setServerUrl(server.url());
    refresher.setTimeouts({2000ms, 5000ms});
    QSignalSpy finished(&refresher, &NameRefresher::finished);
    refresher.start(list_, records_, caches_, table_, kIdm, shownFlags());
    QVERIFY(finished.wait(5000));

    // One item per key, however often the key stands in the history.
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(server.requests().first().body.count("%3a"), asked);

    int markers = 0;
    for (int row = 0; row < list_.rowCount(); ++row) {
        const QString serialText = list_.item(row, 0)->text();
        const QString entry = list_.item(row, 4)->text();
        const QString exit = list_.item(row, 5)->text();
        if (serialText == u"…") {
            ++markers;
            QVERIFY2(entry.isEmpty() && exit.isEmpty(), qPrintable(entry + u'|' + exit));
            continue;
        }
        const HistoryRecord* record = records_.find(serialText.toUInt());
        QVERIFY(record != nullptr);
        const auto [expectedEntry, expectedExit] = expectedCells(*record);
        // The serial in front tells which row differs; the record, which the exports read,
        // holds the same names as its row (a code is no name).
        const QString expected = serialText + u'|' + expectedEntry + u'|' + expectedExit;
        QCOMPARE(serialText + u'|' + entry + u'|' + exit, expected);
        QCOMPARE(serialText + u'|' + entryColumnText(*record) + u'|' + exitColumnText(*record),
                 expected);
    }
    QCOMPARE(markers, history.markerBelow != 0 ? 1 : 0);
    // Every station learnt is in the cache for the next read and for the write-back.
    for (const HistoryRecord& record : records_) {
        if (record.kind != RecordKind::Rail)
            continue;
        for (const StationKey& key : {record.entryKey, record.exitKey})
            if (!key.isNone())
                QCOMPARE(caches_.stations.EntryFor(key).nm, stationName(key));
    }
}

QTEST_GUILESS_MAIN(TestNameAnswer)
#include "test_nameanswer.moc"
