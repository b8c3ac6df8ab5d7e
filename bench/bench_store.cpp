// One card read against card tables of 1,000 / 10,000 / 100,000 stored blocks (20 blocks on the
// card, 5 of them new), with warm name caches; and the start-up load of 25,000 names.
#include "session/cardsession.h"
#include "store/historystore.h"
#include "support/cardblocks.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ridelog;

namespace {

const QString kIdm = QStringLiteral("0114A1B2C3D4E5F6");

// The stations a card's journeys use. A commuter's history touches a few hundred stations, all
// named in the caches; the pessimistic case spreads journeys over every possible station code.
struct StationChoice
{
    std::vector<StationKey> stations; // empty: any line and station code
    StationKey pick(QRandomGenerator& random) const
    {
        if (stations.empty())
            return {0, std::uint8_t(random.bounded(128)), std::uint8_t(random.bounded(256))};
        return stations[std::size_t(random.bounded(int(stations.size())))];
    }
};

HistoryBlock railBlock(std::uint32_t serial, QRandomGenerator& random, const StationChoice& choice)
{
    const StationKey entry = choice.pick(random);
    const StationKey exit = choice.pick(random);
    const int low = int(random.bounded(256));
    const int high = int(random.bounded(40));
    test::BlockFields f;
    f.year = 2024;
    f.month = 4;
    f.day = 1;
    f.b6 = entry.lc;
    f.b7 = entry.sc;
    f.b8 = exit.lc;
    f.b9 = exit.sc;
    f.balance = low | high << 8;
    f.serial = serial;
    return test::makeBlock(f);
}

void fillNames(NameCaches& caches, QRandomGenerator& random)
{
    for (int i = 0; caches.stations.size() < 20000; ++i) {
        auto& entry = caches.stations.EntryFor({std::uint8_t(random.bounded(3)),
                                                std::uint8_t(random.bounded(256)),
                                                std::uint8_t(random.bounded(256))});
        entry.an = QStringLiteral("会社%1").arg(i % 50);
        entry.ln = QStringLiteral("路線%1").arg(i % 300);
        entry.sn = QStringLiteral("駅%1").arg(i);
        entry.nm = entry.ln + entry.sn;
    }
    for (int i = 0; caches.busStops.size() < 3000; ++i)
        caches.busStops.EntryFor({std::uint16_t(random.bounded(65536)), std::uint16_t(i)}).nm =
            QStringLiteral("停留所%1").arg(i);
    for (int i = 0; caches.shops.size() < 2000; ++i)
        caches.shops.EntryFor({1, 0xC7, std::uint16_t(i * 31)}).nm =
            QStringLiteral("店舗%1").arg(i);
}

double milliseconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// The read as the window runs it, through the card session.
double timeOneRead(CardSession& session, const std::vector<HistoryBlock>& blocks, int& added)
{
    card::CardReadResult card;
    card.ok = true;
    card.idmText = kIdm;
    card.blockCount = int(blocks.size());
    card.blocks = blocks;
    // The window empties the card on display before it asks the reader (its list keeps the
    // records), so the read's own time starts with nothing on display.
    session.forgetCard();
    QElapsedTimer timer;
    timer.start();
    added = session.takeRead(card).storedBlocks;
    return milliseconds(timer);
}

bool benchRead(std::uint32_t stored, NameCaches& caches, QRandomGenerator& random,
               const StationChoice& choice)
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    CardSession session;
    session.openStore();
    {
        CardBlockSet history;
        for (std::uint32_t serial = 1; serial <= stored; ++serial)
            history.insert(railBlock(serial, random, choice), BlockOrigin::Card);
        session.store().StoreNewBlocks(kIdm, history);
    }
    session.caches() = caches;

    const int kRounds = 15;
    std::vector<double> timings;
    std::uint32_t newest = stored;
    for (int round = 0; round < kRounds; ++round) {
        // The card holds its last 20 entries: 15 already stored, 5 new; newest first.
        std::vector<HistoryBlock> card;
        for (std::uint32_t serial = newest + 5; serial > newest - 15; --serial)
            card.push_back(railBlock(serial, random, choice));
        int added = 0;
        timings.push_back(timeOneRead(session, card, added));
        if (added != 5) {
            std::printf("N=%u: expected 5 new rows, got %d\n", stored, added);
            return false;
        }
        newest += 5;
    }
    // The caches grew by the decodes, as a window's do from read to read.
    caches = session.caches();
    std::sort(timings.begin(), timings.end());
    std::printf("  N=%6u: median %7.2f ms, best %7.2f ms\n", stored, timings[timings.size() / 2],
                timings.front());
    return true;
}

void benchNames()
{
    QRandomGenerator random(7);
    NameCaches names;
    fillNames(names, random);
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    {
        HistoryStore store;
        NameCaches empty;
        store.OpenDatabaseAtStart(empty);
        QElapsedTimer timer;
        timer.start();
        store.WriteBackNames(names);
        std::printf("write-back of %zu names into empty tables: %.1f ms\n",
                    names.stations.size() + names.busStops.size() + names.shops.size(),
                    milliseconds(timer));
        timer.restart();
        store.WriteBackNames(names);
        std::printf("write-back of the same names again (updates): %.1f ms\n", milliseconds(timer));
    }
    std::vector<double> loads;
    std::size_t loaded = 0;
    for (int round = 0; round < 7; ++round) {
        HistoryStore store;
        NameCaches caches;
        QElapsedTimer timer;
        timer.start();
        store.OpenDatabaseAtStart(caches);
        loads.push_back(milliseconds(timer));
        loaded = caches.stations.size() + caches.busStops.size() + caches.shops.size();
    }
    std::sort(loads.begin(), loads.end());
    std::printf("start-up load of %zu names: median %.1f ms, best %.1f ms\n", loaded,
                loads[loads.size() / 2], loads.front());
}

} // namespace

int main()
{
    QRandomGenerator random(42);
    NameCaches names;
    fillNames(names, random);

    // 400 stations of line codes below 0x80 (area 0), every one named in the caches.
    StationChoice commuter;
    for (std::uint8_t line = 1; commuter.stations.size() < 400; ++line) {
        for (std::uint8_t station = 1; station <= 20; ++station) {
            const StationKey key{0, line, station};
            names.stations.EntryFor(key).nm = QStringLiteral("通勤駅%1-%2").arg(line).arg(station);
            commuter.stations.push_back(key);
        }
    }
    const StationChoice anywhere;

    std::printf("one read, 20 blocks on the card (5 new), commuter history over 400 named "
                "stations:\n");
    NameCaches caches = names;
    for (const std::uint32_t stored : {1000u, 10000u, 100000u}) {
        if (!benchRead(stored, caches, random, commuter))
            return 1;
    }
    std::printf("the same, journeys spread over all 32,768 station codes (pessimistic):\n");
    caches = names;
    for (const std::uint32_t stored : {1000u, 10000u, 100000u}) {
        if (!benchRead(stored, caches, random, anywhere))
            return 1;
    }
    benchNames();
    return 0;
}
