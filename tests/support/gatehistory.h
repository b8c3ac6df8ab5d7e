// Realistic card histories with their gate logs, built in the tests: journeys through automatic
// gates with consecutive serials and balances, and the taps the gates wrote.
#pragma once

#include "card/history.h"

#include <QDate>
#include <cstdint>
#include <vector>

namespace ridelog::testing {

// Line and station codes (line << 8 | station) of a few Yamanote line stations.
constexpr std::uint16_t kShinjuku = 0x250A;
constexpr std::uint16_t kShibuya = 0x2507;
constexpr std::uint16_t kIkebukuro = 0x2513;
constexpr std::uint16_t kTokyo = 0x2501;

constexpr std::uint8_t kGateTerminal = 0x16;
constexpr std::uint8_t kBusTerminal = 0x05;
constexpr std::uint8_t kTicketMachine = 0x07;

inline std::uint16_t packedDate(const QDate& date)
{
    return std::uint16_t((date.year() - 2000) << 9 | date.month() << 5 | date.day());
}

inline std::uint8_t bcd(int value)
{
    return std::uint8_t((value / 10) << 4 | value % 10);
}

// A gate-log block: kind 0xA0 entry / 0x20 exit (or any other kind byte).
inline HistoryBlock gateBlock(std::uint8_t kind, std::uint16_t station, const QDate& date, int hour,
                              int minute, std::uint16_t fare = 0)
{
    HistoryBlock block{};
    block[0] = kind;
    block[2] = std::uint8_t(station >> 8);
    block[3] = std::uint8_t(station & 0xFF);
    block[4] = (kind & 0x80) ? 0x10 : 0x20;
    const std::uint16_t packed = packedDate(date);
    block[6] = std::uint8_t(packed >> 8);
    block[7] = std::uint8_t(packed & 0xFF);
    block[8] = bcd(hour);
    block[9] = bcd(minute);
    block[10] = std::uint8_t(fare & 0xFF);
    block[11] = std::uint8_t(fare >> 8);
    return block;
}

// Builds a history oldest first: every entry gets the next serial and the balance after it.
class HistoryBuilder
{
public:
    explicit HistoryBuilder(std::int32_t balance, std::uint32_t firstSerial = 0x100)
        : balance_(balance)
        , serial_(firstSerial)
    {}

    // A journey through automatic gates; returns its serial.
    std::uint32_t journey(const QDate& date, std::uint16_t from, std::uint16_t to, int fare)
    {
        return add(kGateTerminal, 0x01, date, from, to, -fare);
    }
    std::uint32_t bus(const QDate& date, std::uint16_t stop, int fare)
    {
        return add(kBusTerminal, 0x0D, date, 0x0A3C, stop, -fare);
    }
    std::uint32_t charge(const QDate& date, std::uint16_t at, int amount)
    {
        return add(kTicketMachine, 0x02, date, at, 0, amount);
    }

    const std::vector<HistoryBlock>& blocks() const { return blocks_; }

    HistoryRecordSet records() const
    {
        HistoryRecordSet set;
        for (const HistoryBlock& block : blocks_) {
            HistoryRecord record;
            record.raw = block;
            record.terminalType = block[0];
            record.processType = block[1];
            record.balance = blockBalance(block);
            record.serial = blockSerial(block);
            set.insert(record);
        }
        return set;
    }

private:
    std::uint32_t add(std::uint8_t terminal, std::uint8_t process, const QDate& date,
                      std::uint16_t first, std::uint16_t second, int change)
    {
        balance_ += change;
        HistoryBlock block{};
        block[0] = terminal;
        block[1] = process;
        const std::uint16_t packed = packedDate(date);
        block[4] = std::uint8_t(packed >> 8);
        block[5] = std::uint8_t(packed & 0xFF);
        block[6] = std::uint8_t(first >> 8);
        block[7] = std::uint8_t(first & 0xFF);
        block[8] = std::uint8_t(second >> 8);
        block[9] = std::uint8_t(second & 0xFF);
        block[10] = std::uint8_t(balance_ & 0xFF);
        block[11] = std::uint8_t((balance_ >> 8) & 0xFF);
        const std::uint32_t serial = serial_++;
        block[12] = std::uint8_t(serial >> 16);
        block[13] = std::uint8_t(serial >> 8);
        block[14] = std::uint8_t(serial);
        blocks_.push_back(block);
        return serial;
    }

    std::int32_t balance_;
    std::uint32_t serial_;
    std::vector<HistoryBlock> blocks_;
};

} // namespace ridelog::testing
