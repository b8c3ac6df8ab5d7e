// Builds history blocks field by field for the tests of the list and the main window.
#pragma once

#include "card/history.h"

#include <cstdint>

namespace ridelog::test {

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
    const unsigned date = unsigned(f.year - 2000) << 9 | unsigned(f.month) << 5 | unsigned(f.day);
    block[4] = std::uint8_t(date >> 8);
    block[5] = std::uint8_t(date & 0xFF);
    block[6] = f.b6;
    block[7] = f.b7;
    block[8] = f.b8;
    block[9] = f.b9;
    block[10] = std::uint8_t(f.balance & 0xFF);
    block[11] = std::uint8_t((f.balance >> 8) & 0xFF);
    block[12] = std::uint8_t(f.serial >> 16);
    block[13] = std::uint8_t(f.serial >> 8);
    block[14] = std::uint8_t(f.serial);
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

// A rail ride from station (0, 37, 12) to the exit station (0, 37, exit); exit 0 is a record
// without an exit station.
inline HistoryBlock railBlock(std::uint32_t serial, int balance, std::uint8_t exit = 0x10)
{
    return typedBlock(22, 1, serial, balance, 0x25, 0x0C, exit == 0 ? 0 : 0x25, exit);
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

} // namespace ridelog::test
