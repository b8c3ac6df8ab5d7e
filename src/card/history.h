// History blocks of a transit IC card and their decoded form.
#pragma once

#include "namedata/namekeys.h"

#include <QString>
#include <array>
#include <cstdint>
#include <map>

namespace ridelog {

class StationNameCache;
class BusStopNameCache;
class ShopNameCache;

// One 16-byte history entry exactly as delivered by the card.
//  0      terminal type
//  1      process type (decides the record kind)
//  2-3    not interpreted
//  4-5    date: bits 15-9 year-2000, 8-5 month, 4-0 day (byte 4 is the high byte)
//  6-7    rail: entry line/station; bus: first bus code; shop: time of day
//  8-9    rail: exit line/station; bus: second bus code; shop: shop code
//  10-11  balance, little-endian
//  12-14  serial number, big-endian
//  15     region byte: areas of rail line codes 0x80 and above, bits 7-6 entry, 5-4 exit
using HistoryBlock = std::array<std::uint8_t, 16>;

constexpr int kHistoryBlockSize = 16;

enum class RecordKind : int
{
    None = 0,
    Rail = 1,
    Shop = 2,
    Bus = 3
};

struct HistoryRecord
{
    HistoryBlock raw{};
    std::uint8_t terminalType = 0;
    std::uint8_t processType = 0;
    QString dateText; // "y-m-d " with a trailing blank
    StationKey entryKey;
    StationKey exitKey;
    BusStopKey busKey;
    ShopKey shopKey;
    QString entryName;
    QString exitName;
    std::int32_t balance = 0;
    std::int32_t amount = 0;
    std::uint32_t serial = 0;
    RecordKind kind = RecordKind::None;
};

// The records of the card on display, ordered and unique by serial.
// Inserting a record whose serial is present keeps the present one.
class HistoryRecordSet
{
    using Map = std::map<std::uint32_t, HistoryRecord>;

public:
    template <typename MapIterator, typename Value> class Iterator
    {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = HistoryRecord;
        using difference_type = std::ptrdiff_t;
        using pointer = Value*;
        using reference = Value&;

        Iterator() = default;
        explicit Iterator(MapIterator it)
            : it_(it)
        {}
        reference operator*() const { return it_->second; }
        pointer operator->() const { return &it_->second; }
        Iterator& operator++()
        {
            ++it_;
            return *this;
        }
        Iterator& operator--()
        {
            --it_;
            return *this;
        }
        bool operator==(const Iterator&) const = default;

    private:
        MapIterator it_;
    };
    using iterator = Iterator<Map::iterator, HistoryRecord>;
    using const_iterator = Iterator<Map::const_iterator, const HistoryRecord>;

    // Returns false when a record with the same serial was already present.
    bool insert(HistoryRecord record);
    void clear() { records_.clear(); }
    bool empty() const { return records_.empty(); }
    std::size_t size() const { return records_.size(); }

    iterator begin() { return iterator(records_.begin()); }
    iterator end() { return iterator(records_.end()); }
    const_iterator begin() const { return const_iterator(records_.begin()); }
    const_iterator end() const { return const_iterator(records_.end()); }

    HistoryRecord* find(std::uint32_t serial);
    const HistoryRecord* find(std::uint32_t serial) const;

private:
    Map records_;
};

RecordKind recordKindOf(std::uint8_t processType);
QString terminalTypeName(std::uint8_t terminalType);
QString processTypeName(std::uint8_t processType);

std::uint32_t blockSerial(const HistoryBlock& block);
std::int32_t blockBalance(const HistoryBlock& block);

// Decodes one block. Never fails; name look-ups may leave empty cache entries behind.
HistoryRecord decodeHistoryBlock(const HistoryBlock& block, StationNameCache& stations,
                                 BusStopNameCache& busStops, ShopNameCache& shops);

// "y-m-d" without leading zeros and without the trailing blank of dateText.
QString listDateText(const HistoryBlock& block);
// "h:m" for the shop process types, otherwise the empty text.
QString timeOfDayText(const HistoryBlock& block);
// Amount of every record against the next lower serial present; the lowest gets 0.
void deriveAmounts(HistoryRecordSet& records);

HistoryRecord* findRecordBySerial(HistoryRecordSet& records, std::uint32_t serial);
const HistoryRecord* findRecordBySerial(const HistoryRecordSet& records, std::uint32_t serial);

} // namespace ridelog
