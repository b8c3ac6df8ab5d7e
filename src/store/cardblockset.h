// The history blocks of the card on display, stored and fresh together.
#pragma once

#include "card/history.h"

#include <cstdint>
#include <map>

namespace ridelog {

// Where a block of a CardBlockSet came from.
enum class BlockOrigin
{
    CardTable, // loaded from the card's table, so it is stored already
    Card,      // read from the card just now; stored only if its table lacks it
};

struct CardBlock
{
    HistoryBlock block{};
    BlockOrigin origin = BlockOrigin::Card;
};

// Ordered and unique by the 24-bit serial (bytes 12-14). Inserting a block whose serial is
// present changes nothing, even when the other bytes differ: the block inserted first stays.
class CardBlockSet
{
    using Map = std::map<std::uint32_t, CardBlock>;

public:
    using const_iterator = Map::const_iterator;
    using const_reverse_iterator = Map::const_reverse_iterator;

    // Returns false when a block with the same serial was already present.
    bool insert(const HistoryBlock& block, BlockOrigin origin);
    // Marks a present block as stored in the card table.
    void markStored(std::uint32_t serial);

    void clear() { blocks_.clear(); }
    bool empty() const { return blocks_.empty(); }
    std::size_t size() const { return blocks_.size(); }
    bool contains(std::uint32_t serial) const { return blocks_.contains(serial); }
    const CardBlock* find(std::uint32_t serial) const;

    // Ascending serial order; each element is a pair (serial, CardBlock).
    const_iterator begin() const { return blocks_.begin(); }
    const_iterator end() const { return blocks_.end(); }
    const_reverse_iterator rbegin() const { return blocks_.rbegin(); }
    const_reverse_iterator rend() const { return blocks_.rend(); }

private:
    Map blocks_;
};

} // namespace ridelog
