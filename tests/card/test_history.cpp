#include "card/history.h"
#include "namedata/namecache.h"
#include "support/cardblocks.h"

#include <QRandomGenerator>
#include <QTest>

using namespace ridelog;

namespace {

HistoryBlock blockOf(std::initializer_list<int> bytes)
{
    HistoryBlock block{};
    int i = 0;
    for (int b : bytes)
        block[i++] = std::uint8_t(b);
    return block;
}

// A rail ride of 2008-03-05 (serial 16, balance 1000) between stations (line, 10) and
// (line, 7) of lines in the given region.
HistoryBlock regionalRailBlock(std::uint8_t entryLine, std::uint8_t exitLine, std::uint8_t region)
{
    return test::makeBlock({.terminal = 0x16,
                            .b6 = entryLine,
                            .b7 = 0x0A,
                            .b8 = exitLine,
                            .b9 = 0x07,
                            .balance = 1000,
                            .serial = 0x10,
                            .region = region});
}

HistoryRecord decode(const HistoryBlock& block, NameCaches& caches)
{
    return decodeHistoryBlock(block, caches.stations, caches.busStops, caches.shops);
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void dateBits_data();
    void dateBits();
    void areaFromRegionBits_data();
    void areaFromRegionBits();
    void kindBorders_data();
    void kindBorders();
    void shopTimeOfDay();
    void fieldsOfEachKind();
    void amountsAgainstPreviousSerial();
    void recordSetKeepsTheFirstOfEachSerial();
    void namesComeFromCaches();
    void keyOrders();
    void everyTypeByteDecodes();
    void randomBlocksDecode();
};

void TestHistory::dateBits_data()
{
    QTest::addColumn<int>("b4");
    QTest::addColumn<int>("b5");
    QTest::addColumn<QString>("listText");
    QTest::newRow("2008-3-5") << 0x10 << 0x65 << QStringLiteral("2008-3-5");
    QTest::newRow("month high bit") << 0x11 << 0x1F << QStringLiteral("2008-8-31");
    QTest::newRow("all zero") << 0x00 << 0x00 << QStringLiteral("2000-0-0");
    QTest::newRow("impossible month 15") << 0xFF << 0xE0 << QStringLiteral("2127-15-0");
    QTest::newRow("2024-12-1") << 0x31 << 0x81 << QStringLiteral("2024-12-1");
}

void TestHistory::dateBits()
{
    QFETCH(int, b4);
    QFETCH(int, b5);
    QFETCH(QString, listText);
    NameCaches caches;
    const auto block = blockOf({0x16, 0x01, 0, 0, b4, b5});
    QCOMPARE(listDateText(block), listText);
    QCOMPARE(decode(block, caches).dateText, listText + u' ');
}

// The area is decided per line code: below 0x80 it is 0; from 0x80 real cards write two 2-bit
// regions into byte 15 (bits 7-6 for the entry station, bits 5-4 for the exit station), and
// bytes with a zero high nibble keep the plain rule.
void TestHistory::areaFromRegionBits_data()
{
    QTest::addColumn<int>("entryLine");
    QTest::addColumn<int>("exitLine");
    QTest::addColumn<int>("region");
    QTest::addColumn<int>("entryArea");
    QTest::addColumn<int>("exitArea");
    QTest::newRow("plain 5, exit line below 0x80") << 0x81 << 0x05 << 5 << 2 << 0;
    QTest::newRow("plain 1, lines 0x80 and 0xFF") << 0x80 << 0xFF << 1 << 1 << 1;
    QTest::newRow("plain 0, entry line 0x7F") << 0x7F << 0x80 << 0 << 0 << 0;
    QTest::newRow("plain 2, entry line 0x7F") << 0x7F << 0x90 << 2 << 0 << 2;
    QTest::newRow("exit line 0 is a station too") << 0x25 << 0x00 << 0 << 0 << 0;
    QTest::newRow("Chubu both 0x50") << 0x81 << 0x81 << 0x50 << 1 << 1;
    QTest::newRow("Kansai both 0xA0") << 0xE3 << 0xE3 << 0xA0 << 2 << 2;
    QTest::newRow("other regions 0xF0") << 0xCB << 0xCB << 0xF0 << 3 << 3;
    QTest::newRow("Chubu in, Kanto out 0x40") << 0x81 << 0x82 << 0x40 << 1 << 0;
    QTest::newRow("Kanto in, Kansai out 0x20") << 0x81 << 0x82 << 0x20 << 0 << 2;
    QTest::newRow("exit below 0x80 stays 0") << 0x81 << 0x25 << 0xF0 << 3 << 0;
    QTest::newRow("low bits ignored 0x5F") << 0x81 << 0x81 << 0x5F << 1 << 1;
    QTest::newRow("plain byte 5") << 0x81 << 0x81 << 5 << 2 << 2;
    QTest::newRow("plain byte 1") << 0x81 << 0x81 << 1 << 1 << 1;
    QTest::newRow("plain byte 0x0F") << 0x81 << 0x81 << 0x0F << 2 << 2;
}

void TestHistory::areaFromRegionBits()
{
    QFETCH(int, entryLine);
    QFETCH(int, exitLine);
    QFETCH(int, region);
    QFETCH(int, entryArea);
    QFETCH(int, exitArea);
    NameCaches caches;
    const auto r = decode(
        regionalRailBlock(std::uint8_t(entryLine), std::uint8_t(exitLine), std::uint8_t(region)),
        caches);
    QCOMPARE(r.entryKey, (StationKey{std::uint8_t(entryArea), std::uint8_t(entryLine), 0x0A}));
    QCOMPARE(r.exitKey, (StationKey{std::uint8_t(exitArea), std::uint8_t(exitLine), 0x07}));
    QVERIFY(caches.stations.contains(r.entryKey));
    QVERIFY(caches.stations.contains(r.exitKey));
}

void TestHistory::kindBorders_data()
{
    QTest::addColumn<int>("processType");
    QTest::addColumn<int>("kind");
    const int rail = int(RecordKind::Rail), bus = int(RecordKind::Bus),
              shop = int(RecordKind::Shop);
    const std::pair<int, int> cases[] = {
        {0, rail},   {12, rail},       {13, bus},   {14, rail},  {15, bus},   {30, rail},
        {31, bus},   {32, rail},       {35, bus},   {36, rail},  {69, rail},  {70, shop},
        {71, rail},  {72, rail},       {73, shop},  {74, shop},  {75, shop},  {76, rail},
        {197, rail}, {198, shop},      {202, rail}, {203, shop}, {204, rail}, {208, rail},
        {255, rail}, {0x80 | 13, rail}};
    for (const auto& [type, kind] : cases)
        QTest::addRow("type %d", type) << type << kind;
}

void TestHistory::kindBorders()
{
    QFETCH(int, processType);
    QFETCH(int, kind);
    QCOMPARE(int(recordKindOf(std::uint8_t(processType))), kind);
}

void TestHistory::shopTimeOfDay()
{
    auto block = blockOf({0xC7, 70, 0, 0, 0x10, 0x65, 0x4A, 0xA0});
    QCOMPARE(timeOfDayText(block), QStringLiteral("9:21"));
    block[6] = 0x48;
    block[7] = 0xA0;
    QCOMPARE(timeOfDayText(block), QStringLiteral("9:5"));
    block[1] = 203;
    QCOMPARE(timeOfDayText(block), QStringLiteral("9:5"));
    block[1] = 72; // a charge, not a shop sale
    QCOMPARE(timeOfDayText(block), QString());
    block[1] = 1;
    QCOMPARE(timeOfDayText(block), QString());
}

void TestHistory::fieldsOfEachKind()
{
    NameCaches caches;
    const auto busBlock = blockOf({0x05, 0x0F, 0xAA, 0xBB, 0x10, 0x65, 0x12, 0x34, 0x01, 0x23, 0x10,
                                   0x27, 0x01, 0x02, 0x03, 0x09});
    const auto bus = decode(busBlock, caches);
    QCOMPARE(bus.kind, RecordKind::Bus);
    QCOMPARE(bus.busKey, (BusStopKey{0x1234, 0x0123}));
    QVERIFY(bus.entryKey.isNone());
    QVERIFY(bus.exitKey.isNone());
    QCOMPARE(bus.balance, 10000);
    QCOMPARE(bus.serial, 0x010203u);
    QCOMPARE(bus.raw, busBlock);
    QCOMPARE(bus.terminalType, std::uint8_t(5));
    QCOMPARE(bus.processType, std::uint8_t(15));

    const auto shopBlock = blockOf(
        {0xC7, 0x46, 0, 0, 0x10, 0x65, 0x4A, 0xA0, 0x80, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0});
    const auto shop = decode(shopBlock, caches);
    QCOMPARE(shop.kind, RecordKind::Shop);
    QCOMPARE(shop.shopKey, (ShopKey{1, 0xC7, 0x8001}));
    QCOMPARE(shop.balance, 65535);
    QCOMPARE(shop.serial, 0xFFFFFFu);
    QCOMPARE(shop.amount, 0);
}

void TestHistory::amountsAgainstPreviousSerial()
{
    NameCaches caches;
    HistoryRecordSet set;
    const std::pair<int, int> serialBalance[] = {{13, 2800}, {10, 1000}, {11, 840}};
    for (auto [serial, balance] : serialBalance) {
        auto block = regionalRailBlock(0x25, 0x25, 0);
        block[10] = std::uint8_t(balance & 0xFF);
        block[11] = std::uint8_t(balance >> 8);
        block[14] = std::uint8_t(serial);
        set.insert(decode(block, caches));
    }
    deriveAmounts(set);
    QCOMPARE(findRecordBySerial(set, 10)->amount, 0);
    QCOMPARE(findRecordBySerial(set, 11)->amount, 160);
    QCOMPARE(findRecordBySerial(set, 13)->amount, -1960);

    HistoryRecordSet empty;
    deriveAmounts(empty);
    QVERIFY(empty.empty());
}

// One record per serial, in serial order; a second block with a known serial changes nothing.
void TestHistory::recordSetKeepsTheFirstOfEachSerial()
{
    NameCaches caches;
    HistoryRecordSet set;
    for (int serial : {300, 5, 7}) {
        auto block = regionalRailBlock(1, 2, 0);
        block[13] = std::uint8_t(serial >> 8);
        block[14] = std::uint8_t(serial);
        QVERIFY(set.insert(decode(block, caches)));
    }
    const HistoryBlock first = findRecordBySerial(set, 7)->raw;
    auto second = first;
    second[10] = 0x99;
    QVERIFY(!set.insert(decode(second, caches)));
    QCOMPARE(findRecordBySerial(set, 7)->raw, first);
    QVERIFY(findRecordBySerial(set, 6) == nullptr);
    QVERIFY(findRecordBySerial(set, 0) == nullptr);
    QCOMPARE(findRecordBySerial(set, 300)->serial, 300u);
    std::vector<std::uint32_t> order;
    for (const auto& record : std::as_const(set))
        order.push_back(record.serial);
    QCOMPARE(order, (std::vector<std::uint32_t>{5, 7, 300}));
}

void TestHistory::namesComeFromCaches()
{
    NameCaches caches;
    caches.stations.EntryFor({0, 0x25, 0x0A}).nm = QStringLiteral("新宿");
    caches.shops.EntryFor({1, 0xC7, 1}).nm = QStringLiteral("売店A");
    caches.shops.EntryFor({1, 0xC7, 2}).nm = QStringLiteral("売店B");

    const auto rail = decode(regionalRailBlock(0x25, 0x25, 0), caches);
    QCOMPARE(rail.entryName, QStringLiteral("新宿"));
    QCOMPARE(rail.exitName, QString()); // (0,25,07) has no name yet
    // Decoded again, the same two stations: the empty entry left for the exit is not doubled.
    decode(regionalRailBlock(0x25, 0x25, 0), caches);
    QCOMPARE(caches.stations.size(), std::size_t(2));
    const auto& exit = caches.stations.EntryFor({0, 0x25, 0x07});
    QVERIFY(exit.an.isEmpty() && exit.ln.isEmpty() && exit.sn.isEmpty() && exit.nm.isEmpty());

    auto shopBlock = blockOf({0xC7, 70, 0, 0, 0x10, 0x65, 0, 0, 0, 1});
    QCOMPARE(decode(shopBlock, caches).entryName, QStringLiteral("売店A"));
    shopBlock[9] = 2;
    QCOMPARE(decode(shopBlock, caches).entryName, QStringLiteral("売店B"));
    QCOMPARE(caches.shops.size(), std::size_t(2));

    // A rail record without stations and a bus record without a stop look nothing up.
    NameCaches empty;
    decode(blockOf({0x16, 0x01}), empty);
    decode(blockOf({0x05, 0x0D}), empty);
    QVERIFY(empty.stations.empty());
    QVERIFY(empty.busStops.empty());
}

void TestHistory::keyOrders()
{
    QVERIFY((BusStopKey{0x0102, 0x0001}) < (BusStopKey{0x0201, 0x0000}));
    QVERIFY((BusStopKey{0x8000, 0}) > (BusStopKey{0x7FFF, 0xFFFF}));
    QVERIFY((StationKey{0, 0xFF, 0}) < (StationKey{1, 0, 0}));
    QVERIFY((StationKey{0, 0x25, 0x0A}) > (StationKey{0, 0x25, 0x07}));
    QVERIFY((ShopKey{1, 0xC7, 0x8000}) > (ShopKey{1, 0xC7, 0x7FFF}));
    QVERIFY((ShopKey{1, 0xC7, 0xFFFF}) < (ShopKey{1, 0xC8, 0}));

    BusStopNameCache cache;
    cache.EntryFor({0x0201, 0});
    cache.EntryFor({0x0102, 1});
    cache.EntryFor({0x8001, 5});
    std::vector<BusStopKey> keys;
    for (auto& [key, entry] : cache) {
        entry.nm = QStringLiteral("x"); // write access while iterating
        keys.push_back(key);
    }
    QCOMPARE(keys.size(), std::size_t(3));
    QCOMPARE(keys[0], (BusStopKey{0x0102, 1}));
    QCOMPARE(keys[2], (BusStopKey{0x8001, 5}));
    QCOMPARE(cache.EntryFor({0x8001, 5}).nm, QStringLiteral("x"));
}

// Bytes 0 and 1 select names and kind: every combination must decode to defined texts.
void TestHistory::everyTypeByteDecodes()
{
    NameCaches caches;
    for (int terminal = 0; terminal < 256; ++terminal) {
        for (int process = 0; process < 256; ++process) {
            auto block = blockOf({terminal, process, 1, 2, 0x31, 0x81, 0x81, 0x4A, 0x90, 0xA0, 0x10,
                                  0x27, 0, 1, 2, 3});
            const auto record = decode(block, caches);
            QCOMPARE(int(record.kind), int(recordKindOf(std::uint8_t(process))));
            QCOMPARE(record.dateText, QStringLiteral("2024-12-1 "));
            const bool shopTime = process == 70 || process == 73 || process == 74 ||
                                  process == 75 || process == 198 || process == 203;
            QCOMPARE(timeOfDayText(block).isEmpty(), !shopTime);
        }
    }
    // Rail keys, one bus key and 256 shop keys (one per terminal type).
    QCOMPARE(caches.busStops.size(), std::size_t(1));
    QCOMPARE(caches.shops.size(), std::size_t(256));
}

void TestHistory::randomBlocksDecode()
{
    NameCaches caches;
    QRandomGenerator random(20261207);
    HistoryRecordSet set;
    for (int i = 0; i < 200000; ++i) {
        HistoryBlock block;
        for (auto& byte : block)
            byte = std::uint8_t(random.bounded(256));
        const auto record = decode(block, caches);
        QVERIFY(record.serial <= 0xFFFFFFu);
        QVERIFY(record.balance >= 0 && record.balance <= 65535);
        QVERIFY(record.entryKey.ac <= 3 && record.exitKey.ac <= 3);
        QVERIFY(record.dateText.endsWith(u' '));
        set.insert(record);
    }
    deriveAmounts(set);
    for (const auto& record : std::as_const(set))
        QVERIFY(record.amount >= -65535 && record.amount <= 65535);
}

QTEST_GUILESS_MAIN(TestHistory)
#include "test_history.moc"
