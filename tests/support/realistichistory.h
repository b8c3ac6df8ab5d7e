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

// Writes the history day by day; stops adding blocks once it has the entries asked for.
class HistoryWriter
{
public:
    explicit HistoryWriter(const RealisticHistoryOptions& options)
        : options_(options)
        , serial_(options.firstSerial)
        , balance_(options.openingBalance)
    {
        blocks_.reserve(std::size_t(options.entries));
    }

    bool full() const { return int(blocks_.size()) >= options_.entries; }
    std::vector<HistoryBlock> take() { return std::move(blocks_); }

    void workday(const QDate& day, int n)
    {
        day_ = day;
        ride(kHome, kWork, 473);
        for (int extra = 1; extra < options_.roundTripsPerWorkday; ++extra) {
            ride(kWork, kTrips[extra % 4], 210);
            ride(kTrips[extra % 4], kWork, 210);
        }
        if (n % 4 == 1)
            buyAtLunch(n);
        ride(kWork, kHome, 473);
    }

    void dayOut(const QDate& day, int n)
    {
        day_ = day;
        const Station trip = kTrips[(n / 7) % 4];
        const int fare = 168 + 21 * ((n / 7) % 9);
        ride(kHome, trip, fare);
        if (n % 3 == 0)
            busRide(n);
        ride(trip, kHome, fare);
    }

private:
    void add(const HistoryBlock& block)
    {
        if (!full())
            blocks_.push_back(block);
    }

    // Pays, charging first when the balance runs low; the block carries the balance after.
    HistoryBlock pay(std::uint8_t terminal, std::uint8_t process, int amount)
    {
        if (balance_ < amount + 300) {
            balance_ += balance_ < 1000 ? 5000 : 3000;
            add(blockOf(7, 2, day_, serial_++, balance_)); // 券売機 チャージ
        }
        balance_ -= amount;
        return blockOf(terminal, process, day_, serial_++, balance_);
    }

    void ride(Station from, Station to, int fare)
    {
        HistoryBlock block = pay(22, 1, fare);
        block[6] = from.line;
        block[7] = from.station;
        block[8] = to.line;
        block[9] = to.station;
        add(block);
    }

    void buyAtLunch(int n)
    {
        HistoryBlock shop = pay(199, 70, 130 + (n * 37) % 420);
        const int minutes = 12 * 60 + (n * 7) % 50;
        const unsigned time = unsigned(minutes / 60) << 11 | unsigned(minutes % 60) << 5;
        shop[6] = std::uint8_t(time >> 8);
        shop[7] = std::uint8_t(time & 0xFF);
        shop[8] = 0x00;
        shop[9] = std::uint8_t(1 + n % 6);
        add(shop);
    }

    void busRide(int n)
    {
        HistoryBlock bus = pay(5, 13, 220);
        bus[6] = 0x01;
        bus[7] = std::uint8_t(0x02 + n % 3);
        bus[8] = 0x00;
        bus[9] = std::uint8_t(0x10 + n % 5);
        add(bus);
    }

    const RealisticHistoryOptions& options_;
    std::vector<HistoryBlock> blocks_;
    std::uint32_t serial_;
    int balance_;
    QDate day_;
};

} // namespace realistic

// Oldest first, serials counting up from firstSerial, the balance never below zero.
inline std::vector<HistoryBlock> realisticHistory(const RealisticHistoryOptions& options = {})
{
    realistic::HistoryWriter writer(options);
    QDate day = options.firstDay;
    for (int n = 0; !writer.full(); ++n, day = day.addDays(1)) {
        const bool workday = day.dayOfWeek() <= 5;
        if (workday && n % 23 != 7) // a holiday now and then
            writer.workday(day, n);
        else if (n % 2 == 0)
            writer.dayOut(day, n);
    }
    return writer.take();
}

} // namespace ridelog::test
