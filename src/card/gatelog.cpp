#include "card/gatelog.h"

#include <algorithm>
#include <compare>
#include <tuple>

namespace ridelog {

namespace {

constexpr std::uint8_t kAutomaticGate = 0x16;

std::optional<int> bcdValue(std::uint8_t byte)
{
    const int high = byte >> 4;
    const int low = byte & 0x0F;
    if (high > 9 || low > 9)
        return std::nullopt;
    return high * 10 + low;
}

std::uint16_t bigEndian16(const HistoryBlock& block, std::size_t at)
{
    return std::uint16_t(block[at] << 8 | block[at + 1]);
}

// What a tap and a journey must share: exits the station, date and fare, entries the station and
// the date.
struct TapKey
{
    bool entry = false;
    std::uint16_t station = 0;
    std::uint16_t date = 0;
    std::uint32_t fare = 0;

    auto operator<=>(const TapKey&) const = default;
};

TapKey exitKey(std::uint16_t station, std::uint16_t date, std::uint32_t fare)
{
    return TapKey{false, station, date, fare};
}

TapKey entryKey(std::uint16_t station, std::uint16_t date)
{
    return TapKey{true, station, date, 0};
}

struct KeyedTap
{
    TapKey key;
    int minuteOfDay = 0;
    std::size_t tap = 0;
};

// Taps sorted by key, the latest first within a key; next[] is the first unused tap of a key,
// kept at the key's first position.
class TapIndex
{
public:
    explicit TapIndex(const std::vector<GateTap>& taps)
    {
        keyed_.reserve(taps.size());
        for (std::size_t i = 0; i < taps.size(); ++i) {
            const GateTap& tap = taps[i];
            const TapKey key = tap.entry ? entryKey(tap.station, tap.date)
                                         : exitKey(tap.station, tap.date, tap.fare);
            keyed_.push_back({key, tap.hour * 60 + tap.minute, i});
        }
        std::sort(keyed_.begin(), keyed_.end(), [](const KeyedTap& a, const KeyedTap& b) {
            return std::tie(a.key, b.minuteOfDay, a.tap) < std::tie(b.key, a.minuteOfDay, b.tap);
        });
        next_.assign(keyed_.size(), 0);
    }

    // The next unused tap of key, taken; nullopt when none is left.
    std::optional<std::size_t> take(const TapKey& key)
    {
        const auto first = std::lower_bound(
            keyed_.begin(), keyed_.end(), key,
            [](const KeyedTap& tap, const TapKey& wanted) { return tap.key < wanted; });
        if (first == keyed_.end() || first->key != key)
            return std::nullopt;
        const std::size_t start = std::size_t(first - keyed_.begin());
        const std::size_t position = start + next_[start];
        if (position >= keyed_.size() || keyed_[position].key != key)
            return std::nullopt;
        ++next_[start];
        return keyed_[position].tap;
    }

private:
    std::vector<KeyedTap> keyed_;
    std::vector<std::uint32_t> next_;
};

struct Journey
{
    const HistoryRecord* record = nullptr;
    std::int32_t fare = 0;
};

TapTime timeOf(const GateTap& tap)
{
    return TapTime{std::int8_t(tap.hour), std::int8_t(tap.minute)};
}

} // namespace

std::optional<GateTap> parseGateTap(const HistoryBlock& block)
{
    if (std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0; }))
        return std::nullopt;
    const auto hour = bcdValue(block[8]);
    const auto minute = bcdValue(block[9]);
    if (!hour || !minute || *hour > 23 || *minute > 59)
        return std::nullopt;
    GateTap tap;
    tap.kind = block[0];
    tap.entry = (block[0] & 0x80) != 0;
    tap.station = bigEndian16(block, 2);
    tap.date = bigEndian16(block, 6);
    tap.hour = *hour;
    tap.minute = *minute;
    tap.fare = std::uint16_t(block[10] | block[11] << 8);
    return tap;
}

QString gateTimeText(int hour, int minute)
{
    return QStringLiteral("%1:%2")
        .arg(hour, 2, 10, QLatin1Char('0'))
        .arg(minute, 2, 10, QLatin1Char('0'));
}

GateTimes::GateTimes(std::vector<JourneyTimes> bySerial, std::vector<GateTap> unmatched)
    : journeys_(std::move(bySerial))
    , unmatched_(std::move(unmatched))
{
    std::sort(journeys_.begin(), journeys_.end(),
              [](const JourneyTimes& a, const JourneyTimes& b) { return a.serial < b.serial; });
}

const JourneyTimes* GateTimes::find(std::uint32_t serial) const
{
    const auto it = std::lower_bound(
        journeys_.begin(), journeys_.end(), serial,
        [](const JourneyTimes& journey, std::uint32_t wanted) { return journey.serial < wanted; });
    return it != journeys_.end() && it->serial == serial ? &*it : nullptr;
}

GateTimes matchGateTaps(const HistoryRecordSet& records, std::span<const HistoryBlock> gateLog)
{
    std::vector<GateTap> taps;
    taps.reserve(gateLog.size());
    for (const HistoryBlock& block : gateLog) {
        if (auto tap = parseGateTap(block))
            taps.push_back(*tap);
    }
    if (taps.empty())
        return GateTimes();

    std::vector<Journey> journeys;
    bool first = true;
    std::int32_t previousBalance = 0;
    for (const HistoryRecord& record : records) {
        const std::int32_t fare = first ? 0 : previousBalance - record.balance;
        first = false;
        previousBalance = record.balance;
        if (record.terminalType == kAutomaticGate)
            journeys.push_back({&record, fare});
    }

    TapIndex index(taps);
    std::vector<bool> used(taps.size(), false);
    std::vector<JourneyTimes> matched;
    for (auto it = journeys.rbegin(); it != journeys.rend(); ++it) {
        const HistoryBlock& raw = it->record->raw;
        const std::uint16_t date = bigEndian16(raw, 4);
        JourneyTimes times;
        times.serial = it->record->serial;
        if (it->fare >= 0 && it->fare <= 0xFFFF) {
            if (auto tap =
                    index.take(exitKey(bigEndian16(raw, 8), date, std::uint32_t(it->fare)))) {
                times.exit = timeOf(taps[*tap]);
                used[*tap] = true;
            }
        }
        if (auto tap = index.take(entryKey(bigEndian16(raw, 6), date))) {
            times.entry = timeOf(taps[*tap]);
            used[*tap] = true;
        }
        if (times.entry.known() || times.exit.known())
            matched.push_back(times);
    }
    std::vector<GateTap> unmatched;
    for (std::size_t i = 0; i < taps.size(); ++i) {
        if (!used[i])
            unmatched.push_back(taps[i]);
    }
    return GateTimes(std::move(matched), std::move(unmatched));
}

} // namespace ridelog
