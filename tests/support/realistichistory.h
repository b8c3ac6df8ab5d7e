// A card history as a commuter's card builds it: rides between home and work on working days,
// trips at weekends, now and then a bus ride or a purchase, and a charge whenever the balance
// runs low. The stations are real codes of the built-in names (横浜線, 中央線, 東海道線), so
// they repeat across rows and columns as on a real card.
#pragma once

#include "card/history.h"
#include "support/cardblocks.h"

#include <QDate>
#include <cstdint>
#include <vector>

namespace ridelog::test {

struct RealisticHistoryOptions
{
    int entries = 2000;
    QDate firstDay = QDate(2024, 12, 2);
    std::uint32_t firstSerial = 1;
    int openingBalance = 3200;
    // More round trips a working day squeeze a long history into the years a card can date.
    int roundTripsPerWorkday = 1;
};

namespace realistic {

struct Station
{
    std::uint8_t line;
    std::uint8_t station;
};

constexpr Station kHome{0x1D, 0x1E}; // 町田 (横浜線)
constexpr Station kWork{0x03, 0x0D}; // 新宿 (中央線)
constexpr Station kTrips[] = {{0x01, 0x12}, {0x01, 0x07}, {0x1D, 0x16}, {0x01, 0x01}};

inline HistoryBlock blockOf(std::uint8_t terminal, std::uint8_t process, const QDate& day,
                            std::uint32_t serial, int balance)
{
    return makeBlock({.terminal = terminal,
                      .process = process,
                      .year = day.year(),
                      .month = day.month(),
                      .day = day.day(),
                      .balance = balance,
                      .serial = serial});
}

} // namespace realistic

// Oldest first, serials counting up from firstSerial, the balance never below zero.
inline std::vector<HistoryBlock> realisticHistory(const RealisticHistoryOptions& options = {})
{
    using namespace realistic;
    std::vector<HistoryBlock> blocks;
    blocks.reserve(std::size_t(options.entries));
    std::uint32_t serial = options.firstSerial;
    int balance = options.openingBalance;
    QDate day = options.firstDay;
    auto add = [&](HistoryBlock block) {
        if (int(blocks.size()) < options.entries)
            blocks.push_back(block);
    };
    auto chargeIfLow = [&](int needed) {
        if (balance >= needed + 300)
            return;
        balance += balance < 1000 ? 5000 : 3000;
        add(blockOf(7, 2, day, serial++, balance)); // 券売機 チャージ
    };
    auto ride = [&](Station from, Station to, int fare) {
        chargeIfLow(fare);
        balance -= fare;
        HistoryBlock block = blockOf(22, 1, day, serial++, balance);
        block[6] = from.line;
        block[7] = from.station;
        block[8] = to.line;
        block[9] = to.station;
        add(block);
    };
    for (int n = 0; int(blocks.size()) < options.entries; ++n, day = day.addDays(1)) {
        const bool workday = day.dayOfWeek() <= 5;
        if (workday && n % 23 != 7) { // a holiday now and then
            ride(kHome, kWork, 473);
            for (int extra = 1; extra < options.roundTripsPerWorkday; ++extra) {
                ride(kWork, kTrips[extra % 4], 210);
                ride(kTrips[extra % 4], kWork, 210);
            }
            if (n % 4 == 1) {
                const int price = 130 + (n * 37) % 420;
                chargeIfLow(price);
                balance -= price;
                HistoryBlock shop = blockOf(199, 70, day, serial++, balance);
                const int minutes = 12 * 60 + (n * 7) % 50;
                const unsigned time = unsigned(minutes / 60) << 11 | unsigned(minutes % 60) << 5;
                shop[6] = std::uint8_t(time >> 8);
                shop[7] = std::uint8_t(time & 0xFF);
                shop[8] = 0x00;
                shop[9] = std::uint8_t(1 + n % 6);
                add(shop);
            }
            ride(kWork, kHome, 473);
        } else if (n % 2 == 0) {
            const Station trip = kTrips[(n / 7) % 4];
            const int fare = 168 + 21 * ((n / 7) % 9);
            ride(kHome, trip, fare);
            if (n % 3 == 0) {
                chargeIfLow(220);
                balance -= 220;
                HistoryBlock bus = blockOf(5, 13, day, serial++, balance);
                bus[6] = 0x01;
                bus[7] = std::uint8_t(0x02 + n % 3);
                bus[8] = 0x00;
                bus[9] = std::uint8_t(0x10 + n % 5);
                add(bus);
            }
            ride(trip, kHome, fare);
        }
    }
    return blocks;
}

} // namespace ridelog::test
