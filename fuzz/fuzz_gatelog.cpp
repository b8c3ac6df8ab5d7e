// libFuzzer target: the gate-log parser and the matching of taps to journeys. The input is cut
// into 16-byte blocks; odd blocks are history entries, even ones taps.
#include "card/gatelog.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace ridelog;
    HistoryRecordSet records;
    std::vector<HistoryBlock> taps;
    for (std::size_t at = 0, i = 0; at + kHistoryBlockSize <= size; at += kHistoryBlockSize, ++i) {
        HistoryBlock block{};
        std::memcpy(block.data(), data + at, kHistoryBlockSize);
        if (i % 2 == 0) {
            taps.push_back(block);
            const std::optional<GateTap> tap = parseGateTap(block);
            if (tap && (tap->hour < 0 || tap->hour > 23 || tap->minute < 0 || tap->minute > 59 ||
                        gateTimeText(tap->hour, tap->minute).size() != 5))
                __builtin_trap();
            continue;
        }
        HistoryRecord record;
        record.raw = block;
        record.terminalType = block[0];
        record.balance = blockBalance(block);
        record.serial = blockSerial(block);
        records.insert(record);
    }
    const GateTimes times = matchGateTaps(records, taps);
    std::size_t usable = 0;
    for (const HistoryBlock& block : taps)
        usable += parseGateTap(block).has_value();
    // Every usable tap is used once or left over.
    std::size_t used = 0;
    for (const HistoryRecord& record : records) {
        if (const JourneyTimes* journey = times.find(record.serial)) {
            if (record.terminalType != 0x16 || (!journey->entry.known() && !journey->exit.known()))
                __builtin_trap();
            used += journey->entry.known() + journey->exit.known();
        }
    }
    if (used + times.unmatched().size() != usable)
        __builtin_trap();
    return 0;
}
