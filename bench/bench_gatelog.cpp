// CPU time of matching the stored gate log to a long stored history: 100,000 entries (journeys
// through automatic gates, buses and charges), with every tap that the reads of those years
// caught, in the order they were stored.
#include "card/gatelog.h"
#include "support/cardblocks.h"

#include <QDate>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace ridelog;

namespace {

HistoryBlock entryBlock(std::uint8_t terminal, const QDate& date, std::uint16_t from,
                        std::uint16_t to, std::int32_t balance, std::uint32_t serial)
{
    return test::makeBlock({.terminal = terminal,
                            .process = std::uint8_t(terminal == 0x05 ? 0x0D : 0x01),
                            .year = date.year(),
                            .month = date.month(),
                            .day = date.day(),
                            .b6 = std::uint8_t(from >> 8),
                            .b7 = std::uint8_t(from),
                            .b8 = std::uint8_t(to >> 8),
                            .b9 = std::uint8_t(to),
                            .balance = int(balance),
                            .serial = serial});
}

HistoryBlock tapBlock(bool entry, std::uint16_t station, const QDate& date, int minuteOfDay,
                      int fare)
{
    HistoryBlock block{};
    block[0] = entry ? 0xA0 : 0x20;
    block[2] = std::uint8_t(station >> 8);
    block[3] = std::uint8_t(station);
    const int packed = (date.year() - 2000) << 9 | date.month() << 5 | date.day();
    block[6] = std::uint8_t(packed >> 8);
    block[7] = std::uint8_t(packed);
    const int hour = minuteOfDay / 60, minute = minuteOfDay % 60;
    block[8] = std::uint8_t((hour / 10) << 4 | hour % 10);
    block[9] = std::uint8_t((minute / 10) << 4 | minute % 10);
    block[10] = std::uint8_t(fare);
    block[11] = std::uint8_t(fare >> 8);
    return block;
}

double threadCpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

} // namespace

int main()
{
    constexpr int kEntries = 100000;
    const std::uint16_t stations[] = {0x250A, 0x2507, 0x2513, 0x2501, 0x0110, 0x1A05};
    HistoryRecordSet records;
    std::vector<HistoryBlock> taps;
    QDate day(2000, 1, 1);
    std::int32_t balance = 20000;
    for (std::uint32_t serial = 0; serial < kEntries; ++serial) {
        if (serial % 6 == 0)
            day = day.addDays(1);
        const int slot = int(serial % 6);
        std::uint8_t terminal = 0x16;
        int fare = 140 + 10 * int(serial % 7);
        if (slot == 5) { // a charge
            terminal = 0x07;
            fare = -1000;
        } else if (slot == 2) { // a bus
            terminal = 0x05;
            fare = 210;
        }
        balance = (balance - fare) & 0xFFFF;
        const std::uint16_t from = stations[serial % 6], to = stations[(serial + 1) % 6];
        HistoryRecord record;
        record.raw = entryBlock(terminal, day, from, to, balance, serial);
        record.terminalType = terminal;
        record.balance = balance;
        record.serial = serial;
        records.insert(record);
        if (terminal == 0x16 && serial > 0) {
            taps.push_back(tapBlock(true, from, day, 420 + 90 * slot, 0));
            taps.push_back(tapBlock(false, to, day, 440 + 90 * slot, fare));
        }
    }

    constexpr int kRounds = 20;
    std::size_t matched = 0;
    double best = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const double start = threadCpuMilliseconds();
        const GateTimes times = matchGateTaps(records, taps);
        const double ms = threadCpuMilliseconds() - start;
        best = std::min(best, ms);
        matched = times.size();
    }
    std::printf("gate-log matching: %d entries, %zu taps, %zu journeys with times\n", kEntries,
                taps.size(), matched);
    std::printf("  CPU, best of %d rounds: %8.2f ms\n", kRounds, best);
    return 0;
}
