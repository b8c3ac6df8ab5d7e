// The request of a name look-up: a form body "a=<items>&p=ap&" whose field "a" holds items such
// as "12302%2c0%2c37%2c10%3a", decoded "12302,0,37,10:": the serial, a two-digit item code, then
// the key parts. Plain standard C++, so the fuzzer sees exactly what the server runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ridelog::nameserver {

enum class ItemCode : std::uint8_t
{
    RailEntry = 2, // key: area, line, station (8 bits each)
    RailExit = 4,  // key: area, line, station
    Shop = 11,     // key: terminal type (8 bits), 16-bit code, 0
    Bus = 20,      // key: first and second 16-bit code, 0; an empty key stands for (0, 0)
};

struct RequestItem
{
    std::uint32_t serial = 0; // 24 bits
    ItemCode code = ItemCode::RailEntry;
    std::uint16_t first = 0;
    std::uint16_t second = 0;
    std::uint16_t third = 0;

    friend bool operator==(const RequestItem&, const RequestItem&) = default;
};

struct ParsedRequest
{
    bool wellFormed = false; // false: answer 400 with `error`
    std::string error;
    std::vector<RequestItem> items; // in the order sent
    int skippedItems = 0;           // malformed items, left out
};

// The longest body the server reads; a longer one is refused before it is parsed. About 20,000
// items: a card history kept for years still asks in one request.
inline constexpr std::size_t kMaxRequestBodyBytes = 512 * 1024;

ParsedRequest parseRequestBody(std::string_view body);

// The item list alone, still percent-escaped as it stands in the field "a"; no size limit.
// The program's built-in name source reads its own item lists through this.
ParsedRequest parseItemList(std::string_view escapedItems);

// Percent-decodes a form value ("+" is a blank); nothing on a broken escape.
std::optional<std::string> decodeFormValue(std::string_view value);

// One decoded item without its ":" ("12302,0,37,10"); nothing when it is malformed.
std::optional<RequestItem> parseRequestItem(std::string_view item);

} // namespace ridelog::nameserver
