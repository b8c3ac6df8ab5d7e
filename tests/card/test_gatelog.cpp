#include "card/cardkind.h"
#include "card/felicaprotocol.h"
#include "card/gatelog.h"
#include "support/gatehistory.h"

#include <QTest>

using namespace ridelog;
using namespace ridelog::testing;
using ridelog::card::CardKind;

namespace {

const QDate kMonday(2026, 12, 7);
const QDate kTuesday(2026, 12, 8);

QByteArray hexBlock(const char* text)
{
    return QByteArray::fromHex(text);
}

struct Expected
{
    int journey; // index into the journeys of the case, oldest first
    const char* entry;
    const char* exit;
};

struct MatchCase
{
    HistoryRecordSet records;
    std::vector<std::uint32_t> journeys;
    std::vector<HistoryBlock> taps;
    std::vector<Expected> expected;
    int unmatched = 0;
};

struct Ride
{
    std::uint16_t from;
    std::uint16_t to;
    int fare = 170;
};

// Monday's rides, the journeys of the case, after a charge at Shinjuku (without it the first
// ride's fare cannot be told from the balances).
MatchCase mondayRides(std::initializer_list<Ride> rides, bool charged = true)
{
    MatchCase c;
    HistoryBuilder history(2000);
    if (charged)
        history.charge(kMonday, kShinjuku, 1000);
    for (const Ride& ride : rides)
        c.journeys.push_back(history.journey(kMonday, ride.from, ride.to, ride.fare));
    c.records = history.records();
    return c;
}

std::vector<std::uint16_t> versionsWith(std::initializer_list<std::uint16_t> present)
{
    const auto codes = card::cardKindServiceCodes();
    std::vector<std::uint16_t> versions(codes.size(), card::felica::kNoSuchNode);
    for (std::size_t i = 0; i < codes.size(); ++i) {
        for (const std::uint16_t code : present) {
            if (codes[i] == code)
                versions[i] = 0x0001;
        }
    }
    return versions;
}

} // namespace

Q_DECLARE_METATYPE(std::optional<GateTap>)
Q_DECLARE_METATYPE(MatchCase)

class TestGateLog : public QObject
{
    Q_OBJECT

private slots:
    void parsesTaps_data();
    void parsesTaps();
    void matchesTapsToJourneys_data();
    void matchesTapsToJourneys();
    void longHistoryMatchesEveryRoundTrip();
    void tellsTheKindOfCard_data();
    void tellsTheKindOfCard();
    void kindKeysRoundTrip();
};

void TestGateLog::parsesTaps_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("entry");
    QTest::addColumn<int>("station");
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("fare");

    QTest::newRow("entry") << hexBlock("a000250a100035840827000000000000") << true << true << 0x250A
                           << "08:27" << 0;
    QTest::newRow("exit with its fare") << hexBlock("20002507200035840842040100000000") << true
                                        << false << 0x2507 << "08:42" << 260;
    QTest::newRow("entry on a pass")
        << hexBlock("c0002513100035842359000000000000") << true << true << 0x2513 << "23:59" << 0;
    QTest::newRow("exit on a pass")
        << hexBlock("40002501200035840000000000000000") << true << false << 0x2501 << "00:00" << 0;
    QTest::newRow("exit after fare adjustment") << hexBlock("00002507200035841905aa0000000000")
                                                << true << false << 0x2507 << "19:05" << 170;
    QTest::newRow("empty slot") << QByteArray(16, '\0') << false << false << 0 << "" << 0;
    QTest::newRow("hour 24") << hexBlock("a0002507100035842400000000000000") << false << false << 0
                             << "" << 0;
    QTest::newRow("minute 60") << hexBlock("a0002507100035841260000000000000") << false << false
                               << 0 << "" << 0;
    QTest::newRow("not BCD") << hexBlock("a000250710003584081a000000000000") << false << false << 0
                             << "" << 0;
}

void TestGateLog::parsesTaps()
{
    QFETCH(QByteArray, block);
    QFETCH(bool, valid);
    QCOMPARE(block.size(), 16);
    HistoryBlock raw{};
    std::copy(block.begin(), block.end(), raw.begin());
    const auto tap = parseGateTap(raw);
    QCOMPARE(tap.has_value(), valid);
    if (!tap)
        return;
    QTEST(tap->entry, "entry");
    QTEST(int(tap->station), "station");
    QTEST(gateTimeText(tap->hour, tap->minute), "time");
    QTEST(int(tap->fare), "fare");
    QCOMPARE(int(tap->date), int(packedDate(QDate(2026, 12, 4))));
}

void TestGateLog::matchesTapsToJourneys_data()
{
    QTest::addColumn<MatchCase>("match");

    MatchCase c = mondayRides({{kShinjuku, kShibuya}, {kShibuya, kShinjuku}}, false);
    c.taps = {gateBlock(0x20, kShinjuku, kMonday, 18, 31, 170),
              gateBlock(0xA0, kShibuya, kMonday, 18, 10),
              gateBlock(0x20, kShibuya, kMonday, 8, 45, 170)};
    // The oldest journey's fare is unknown (no entry before it): only its entry could match, and
    // the card no longer holds that tap.
    c.expected = {{1, "18:10", "18:31"}};
    c.unmatched = 1;
    QTest::newRow("round trip, the first fare unknown") << c;

    c = mondayRides({{kShinjuku, kShibuya}, {kShibuya, kShinjuku}});
    c.taps = {gateBlock(0x20, kShinjuku, kMonday, 18, 31, 170),
              gateBlock(0xA0, kShibuya, kMonday, 18, 10),
              gateBlock(0x20, kShibuya, kMonday, 8, 45, 170),
              gateBlock(0xA0, kShinjuku, kMonday, 8, 29)};
    c.expected = {{0, "08:29", "08:45"}, {1, "18:10", "18:31"}};
    QTest::newRow("round trip") << c;

    c = mondayRides({{kShinjuku, kShibuya}, {kShibuya, kShinjuku}, {kShinjuku, kShibuya}});
    // Stored from several reads, in no particular order.
    c.taps = {gateBlock(0xA0, kShinjuku, kMonday, 8, 29),
              gateBlock(0x20, kShibuya, kMonday, 19, 2, 170),
              gateBlock(0x20, kShibuya, kMonday, 8, 45, 170),
              gateBlock(0xA0, kShinjuku, kMonday, 18, 40),
              gateBlock(0x20, kShinjuku, kMonday, 12, 20, 170),
              gateBlock(0xA0, kShibuya, kMonday, 12, 1)};
    c.expected = {{0, "08:29", "08:45"}, {1, "12:01", "12:20"}, {2, "18:40", "19:02"}};
    QTest::newRow("the same station twice in a day") << c;

    c = mondayRides({{kShinjuku, kIkebukuro}});
    c.taps = {gateBlock(0x20, kIkebukuro, kMonday, 9, 3, 160),
              gateBlock(0xA0, kShinjuku, kMonday, 8, 50)};
    c.expected = {{0, "08:50", ""}};
    c.unmatched = 1;
    QTest::newRow("an exit whose fare disagrees") << c;

    {
        HistoryBuilder history(2000);
        history.charge(kMonday, kShinjuku, 1000);
        history.bus(kMonday, 0x0012, 210);
        c.journeys = {history.journey(kMonday, kShinjuku, kTokyo, 200)};
        c.records = history.records();
    }
    c.taps = {gateBlock(0x20, kTokyo, kMonday, 10, 12, 200),
              gateBlock(0xA0, 0x0A3C, kMonday, 9, 30), gateBlock(0xA0, kShinjuku, kMonday, 9, 55)};
    c.expected = {{0, "09:55", "10:12"}};
    c.unmatched = 1;
    QTest::newRow("a bus tap matches nothing") << c;

    c = mondayRides({{kShinjuku, kShibuya}, {kShinjuku, kShibuya}});
    c.taps = {gateBlock(0x20, kShibuya, kMonday, 17, 0, 170)};
    c.expected = {{1, "", "17:00"}};
    QTest::newRow("each tap once, the newest journey first") << c;

    c = mondayRides({{kShinjuku, kShibuya}});
    c.taps = {gateBlock(0x20, kShibuya, kTuesday, 8, 45, 170),
              gateBlock(0xA0, kShinjuku, kTuesday, 8, 29)};
    c.unmatched = 2;
    QTest::newRow("another day") << c;

    c = mondayRides({{kShinjuku, kShibuya}});
    HistoryRecord* simpleGate = c.records.find(c.journeys[0]);
    simpleGate->raw[0] = 0x17;
    simpleGate->terminalType = 0x17;
    c.taps = {gateBlock(0x20, kShibuya, kMonday, 8, 45, 170)};
    c.unmatched = 1;
    QTest::newRow("only automatic gates") << c;

    c = mondayRides({{kShinjuku, kShibuya}});
    c.taps = {gateBlock(0x20, kShibuya, kMonday, 8, 45, 170), HistoryBlock{},
              gateBlock(0x20, kShibuya, kMonday, 8, 45, 170)};
    c.expected = {{0, "", "08:45"}};
    c.unmatched = 1;
    QTest::newRow("an empty slot and a tap read twice") << c;
}

void TestGateLog::matchesTapsToJourneys()
{
    QFETCH(MatchCase, match);
    const GateTimes times = matchGateTaps(match.records, match.taps);
    QCOMPARE(times.size(), match.expected.size());
    for (const Expected& expected : match.expected) {
        const JourneyTimes* journey = times.find(match.journeys[std::size_t(expected.journey)]);
        QVERIFY2(journey, qPrintable(QString::number(expected.journey)));
        QCOMPARE(journey->entry.text(), QString::fromLatin1(expected.entry));
        QCOMPARE(journey->exit.text(), QString::fromLatin1(expected.exit));
    }
    QCOMPARE(int(times.unmatched().size()), match.unmatched);
}

void TestGateLog::longHistoryMatchesEveryRoundTrip()
{
    // A year of commuting: every working day out and back, the gate log of every read kept.
    HistoryBuilder history(5000);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> days;
    std::vector<HistoryBlock> taps;
    QDate day(2026, 1, 5);
    history.charge(day, kShinjuku, 5000);
    for (int i = 0; i < 240; ++i, day = day.addDays(day.dayOfWeek() == 5 ? 3 : 1)) {
        if (i % 20 == 0)
            history.charge(day, kShinjuku, 7000);
        const std::uint32_t out = history.journey(day, kShinjuku, kShibuya, 170);
        const std::uint32_t back = history.journey(day, kShibuya, kShinjuku, 170);
        days.emplace_back(out, back);
        taps.push_back(gateBlock(0x20, kShinjuku, day, 18, i % 60, 170));
        taps.push_back(gateBlock(0xA0, kShibuya, day, 17, i % 60));
        taps.push_back(gateBlock(0x20, kShibuya, day, 8, i % 60, 170));
        taps.push_back(gateBlock(0xA0, kShinjuku, day, 7, i % 60));
    }
    const GateTimes times = matchGateTaps(history.records(), taps);
    QCOMPARE(times.size(), 2 * days.size());
    QVERIFY(times.unmatched().empty());
    for (std::size_t i = 0; i < days.size(); ++i) {
        const QString minute = QStringLiteral("%1").arg(int(i % 60), 2, 10, QLatin1Char('0'));
        QCOMPARE(times.find(days[i].first)->entry.text(), QStringLiteral("07:") + minute);
        QCOMPARE(times.find(days[i].first)->exit.text(), QStringLiteral("08:") + minute);
        QCOMPARE(times.find(days[i].second)->entry.text(), QStringLiteral("17:") + minute);
        QCOMPARE(times.find(days[i].second)->exit.text(), QStringLiteral("18:") + minute);
    }
}

void TestGateLog::tellsTheKindOfCard_data()
{
    QTest::addColumn<std::vector<std::uint16_t>>("versions");
    QTest::addColumn<CardKind>("kind");

    QTest::newRow("Suica") << versionsWith({0x1808, 0x18CA}) << CardKind::Suica;
    QTest::newRow("PASMO") << versionsWith({0x1D0A}) << CardKind::Pasmo;
    QTest::newRow("ICOCA") << versionsWith({0x9608, 0x1A48}) << CardKind::Icoca;
    QTest::newRow("はやかけん") << versionsWith({0x2548}) << CardKind::Hayakaken;
    QTest::newRow("nimoca") << versionsWith({0x1F48, 0x200A}) << CardKind::Nimoca;
    QTest::newRow("no distinguishing code") << versionsWith({}) << CardKind::Unknown;
    QTest::newRow("codes of two kinds") << versionsWith({0x1808, 0x1CC8}) << CardKind::Unknown;
    QTest::newRow("too few answers") << std::vector<std::uint16_t>(3, 0x0001) << CardKind::Unknown;
}

void TestGateLog::tellsTheKindOfCard()
{
    QFETCH(std::vector<std::uint16_t>, versions);
    QTEST(card::cardKindFromKeyVersions(versions), "kind");
}

void TestGateLog::kindKeysRoundTrip()
{
    for (CardKind kind : {CardKind::Unknown, CardKind::Suica, CardKind::Pasmo, CardKind::Icoca,
                          CardKind::Hayakaken, CardKind::Nimoca})
        QCOMPARE(card::cardKindFromKey(card::cardKindKey(kind)), kind);
    QCOMPARE(card::cardKindFromKey(QStringLiteral("kitaca")), std::nullopt);
    QCOMPARE(card::cardKindName(CardKind::Unknown), QStringLiteral("不明"));
}

QTEST_GUILESS_MAIN(TestGateLog)
#include "test_gatelog.moc"
