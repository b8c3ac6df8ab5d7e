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

inline HistoryBlock railBlock(std::uint32_t serial, int balance)
{
    BlockFields f;
    f.serial = serial;
    f.balance = balance;
    f.b6 = 0x25;
    f.b7 = 0x0C;
    f.b8 = 0x25;
    f.b9 = 0x10;
    return makeBlock(f);
}

} // namespace ridelog::test
