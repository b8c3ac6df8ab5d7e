#include "store/cardblockset.h"

namespace ridelog {

bool CardBlockSet::insert(const HistoryBlock& block, BlockOrigin origin)
{
    const std::uint32_t serial = blockSerial(block);
    // Card tables are mostly in ascending serial order: appending at the end needs no search.
    if (blocks_.empty() || blocks_.rbegin()->first < serial) {
        blocks_.emplace_hint(blocks_.end(), serial, CardBlock{block, origin});
        return true;
    }
    return blocks_.try_emplace(serial, CardBlock{block, origin}).second;
}

void CardBlockSet::markStored(std::uint32_t serial)
{
    auto it = blocks_.find(serial);
    if (it != blocks_.end())
        it->second.origin = BlockOrigin::CardTable;
}

const CardBlock* CardBlockSet::find(std::uint32_t serial) const
{
    auto it = blocks_.find(serial);
    return it == blocks_.end() ? nullptr : &it->second;
}

} // namespace ridelog
