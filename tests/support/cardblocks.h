// The one builder of history blocks for the tests and the benchmarks: field by field, by kind
// (rail, bus, shop), and what a card returns for a run of serials.
#pragma once

#include "card/history.h"

#include <cstdint>
#include <vector>

namespace ridelog::test {

// The date bytes 4 and 5 of a block: seven bits of the year after 2000, four of the month,
// five of the day.
inline void setBlockDate(HistoryBlock& block, int year, int month, int day)
{
    const unsigned date = unsigned(year - 2000) << 9 | unsigned(month) << 5 | unsigned(day);
    block[4] = std::uint8_t(date >> 8);
    block[5] = std::uint8_t(date & 0xFF);
}

// The balance (bytes 10 and 11, little-endian) and the serial (bytes 12 to 14, big-endian).
inline void setBlockBalanceAndSerial(HistoryBlock& block, int balance, std::uint32_t serial)
{
    block[10] = std::uint8_t(balance & 0xFF);
    block[11] = std::uint8_t((balance >> 8) & 0xFF);
    block[12] = std::uint8_t(serial >> 16);
    block[13] = std::uint8_t(serial >> 8);
    block[14] = std::uint8_t(serial);
}

struct BlockFields
{
    std::uint8_t terminal = 22; // 改札機
    std::uint8_t process = 1;   // 運賃支払
    int year = 2008;
    int month = 3;
    int day = 5;
    std::uint8_t b6 = 0;
    std::uint8_t b7 = 0;
    std::uint8_t b8 = 0;
    std::uint8_t b9 = 0;
    int balance = 0;
    std::uint32_t serial = 0;
    std::uint8_t region = 0;
};

inline HistoryBlock makeBlock(const BlockFields& f)
{
    HistoryBlock block{};
    block[0] = f.terminal;
    block[1] = f.process;
    setBlockDate(block, f.year, f.month, f.day);
    block[6] = f.b6;
    block[7] = f.b7;
    block[8] = f.b8;
    block[9] = f.b9;
    setBlockBalanceAndSerial(block, f.balance, f.serial);
    block[15] = f.region;
    return block;
}

// A block of the given terminal and process types with the bytes b6 to b9 as given.
inline HistoryBlock typedBlock(std::uint8_t terminal, std::uint8_t process, std::uint32_t serial,
                               int balance, std::uint8_t b6, std::uint8_t b7, std::uint8_t b8,
                               std::uint8_t b9)
{
    BlockFields f;
    f.terminal = terminal;
    f.process = process;
    f.serial = serial;
    f.balance = balance;
    f.b6 = b6;
    f.b7 = b7;
    f.b8 = b8;
    f.b9 = b9;
    return makeBlock(f);
}

// A rail ride through the ticket gates from station (0, 37, entry) to the exit station
// (0, 37, exit); exit 0 is a record without an exit station.
inline HistoryBlock railBlock(std::uint32_t serial, int balance = 1000, std::uint8_t exit = 0x10,
                              std::uint8_t entry = 0x0C)
{
    return typedBlock(22, 1, serial, balance, 0x25, entry, exit == 0 ? 0 : 0x25, exit);
}

// A bus ride with the stop bytes b6 to b9; by default the stop (4660, 291).
inline HistoryBlock busBlock(std::uint32_t serial, int balance, std::uint8_t b6 = 0x12,
                             std::uint8_t b7 = 0x34, std::uint8_t b8 = 0x01, std::uint8_t b9 = 0x23)
{
    return typedBlock(5, 13, serial, balance, b6, b7, b8, b9);
}

// A purchase with the time and shop bytes b6 to b9; by default at 12:16 in shop (1, 199, 7).
inline HistoryBlock shopBlock(std::uint32_t serial, int balance, std::uint8_t b6 = 0x62,
                              std::uint8_t b7 = 0, std::uint8_t b8 = 0, std::uint8_t b9 = 7)
{
    return typedBlock(199, 70, serial, balance, b6, b7, b8, b9);
}

// What a card returns for the serials lowest to highest: newest (highest serial) first, rail
// rides where serial s has the balance 2000 + s.
inline std::vector<HistoryBlock> cardBlocks(std::uint32_t lowest, std::uint32_t highest)
{
    std::vector<HistoryBlock> blocks;
    for (std::uint32_t s = highest; s >= lowest && s != 0; --s)
        blocks.push_back(railBlock(s, int(2000 + s)));
    return blocks;
}

} // namespace ridelog::test
