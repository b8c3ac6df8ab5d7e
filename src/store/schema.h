// The tables of ekdb.sqlite and how keys and history blocks are encoded into their rows.
//
//   ipn  ac, lc, sc SMALLINT; an, ln, sn, nm VARCHAR(255)      rail and subway stations
//   bus  ac, lc SMALLINT;     an, ln, sn, nm VARCHAR(255)      bus stops
//   bpn  ac, lc, sc SMALLINT; an, ln, sn, ap, nm VARCHAR(255)  shops
//   "2" + idmText  seq, b1, b2, b3, b4 INTEGER                 every block ever read from a card
//   cards  idm, nickname VARCHAR(255); firstRead, lastRead INTEGER   the card library
//
// Every table the program owns is registered in ownedschema.cpp, which a file must match
// before anything is written into it.
#pragma once

#include "card/history.h"
#include "store/database.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <span>

namespace ridelog {

enum class NameTable
{
    Stations,
    BusStops,
    Shops
};

// "ipn", "bus" or "bpn".
QString nameTableName(NameTable table);
std::span<const ColumnDefinition> nameTableColumns(NameTable table);
// The key columns: ac, lc and (except for bus) sc.
QStringList nameTableKeyColumns(NameTable table);

// "2" followed by the card's IDm as 16 upper-case hexadecimal digits.
QString CardTableName(const QString& idmText);
std::span<const ColumnDefinition> cardTableColumns();
// b1, b2, b3, b4: the columns a block is read back from.
QStringList cardBlockColumns();

// The serial of a stored card row as an SQL expression over b4 (bytes 12-15 little-endian):
// byte 12 x 65536 + byte 13 x 256 + byte 14. The seq column is not trusted for it.
QString cardRowSerialSql();
// "cards": the nickname and read times of each card.
QString cardsTableName();
std::span<const ColumnDefinition> cardsTableColumns();

// A 16-bit key part keeps its bit pattern: 32769 is stored as -32767.
constexpr std::int16_t storedKeyPart(std::uint16_t part)
{
    return std::int16_t(part);
}
// How key parts are read back: the low 8 bits, or all 16 bits taken as unsigned.
constexpr std::uint8_t keyPartLow8(std::int64_t stored)
{
    return std::uint8_t(stored & 0xFF);
}
constexpr std::uint16_t keyPart16(std::int64_t stored)
{
    return std::uint16_t(stored & 0xFFFF);
}

// The four little-endian words of a block (bytes 0-3, 4-7, 8-11, 12-15) as signed 32-bit values.
using BlockWords = std::array<std::int32_t, 4>;
BlockWords blockWords(const HistoryBlock& block);
HistoryBlock blockFromWords(const BlockWords& words);

} // namespace ridelog
