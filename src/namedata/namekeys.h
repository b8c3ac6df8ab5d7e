// The keys under which stations, bus stops and shops are named: in the history records, the
// name caches and the name data alike.
#pragma once

#include <cstdint>
#ifndef Q_MOC_RUN // moc cannot parse the standard library's concepts
#include <compare>
#endif

namespace ridelog {

struct StationKey
{
    std::uint8_t ac = 0;
    std::uint8_t lc = 0;
    std::uint8_t sc = 0;

    bool isNone() const { return ac == 0 && lc == 0 && sc == 0; }
    // Field by field, unsigned: the same order as comparing the packed value.
    std::uint32_t packed() const { return std::uint32_t(ac) << 16 | std::uint32_t(lc) << 8 | sc; }
    friend bool operator==(const StationKey&, const StationKey&) = default;
    friend auto operator<=>(const StationKey& a, const StationKey& b)
    {
        return a.packed() <=> b.packed();
    }
};

struct BusStopKey
{
    std::uint16_t ac = 0;
    std::uint16_t lc = 0;

    bool isNone() const { return ac == 0 && lc == 0; }
    std::uint32_t packed() const { return std::uint32_t(ac) << 16 | lc; }
    friend bool operator==(const BusStopKey&, const BusStopKey&) = default;
    friend auto operator<=>(const BusStopKey& a, const BusStopKey& b)
    {
        return a.packed() <=> b.packed();
    }
};

struct ShopKey
{
    std::uint8_t ac = 0;
    std::uint8_t lc = 0;
    std::uint16_t sc = 0;

    bool isNone() const { return ac == 0 && lc == 0 && sc == 0; }
    std::uint32_t packed() const { return std::uint32_t(ac) << 24 | std::uint32_t(lc) << 16 | sc; }
    friend bool operator==(const ShopKey&, const ShopKey&) = default;
    friend auto operator<=>(const ShopKey& a, const ShopKey& b)
    {
        return a.packed() <=> b.packed();
    }
};

} // namespace ridelog
