#include "card/gatelog.h"

#include <algorithm>
#include <utility>

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

// What a tap and a journey must share, packed into one number: exits the station, date and
// fare, entries the station and the date (bit 32 tells the two apart). The date comes first, so
// that taps and journeys, stored in time order, are nearly sorted already.
std::uint64_t exitKey(std::uint16_t station, std::uint16_t date, std::uint16_t fare)
{
    return std::uint64_t(date) << 33 | std::uint64_t(station) << 16 | fare;
}

std::uint64_t entryKey(std::uint16_t station, std::uint16_t date)
{
    return std::uint64_t(date) << 33 | std::uint64_t(1) << 32 | std::uint64_t(station) << 16;
}

// A key and, within one key, the order of taking: the latest tap first, the newest journey
// first. The low 32 bits of order name the tap or the journey.
using Keyed = std::pair<std::uint64_t, std::uint64_t>;

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

QString gateSpanText(const TapTime& entry, const TapTime& exit, const QString& entryOnly,
                     const QString& exitOnly)
{
    if (entry.known() && exit.known())
        return entry.text() + QChar(0x2013) + exit.text();
    if (entry.known())
        return entryOnly.arg(entry.text());
    return exit.known() ? exitOnly.arg(exit.text()) : QString();
}

GateTimes::GateTimes(std::vector<JourneyTimes> bySerial, std::vector<GateTap> unmatched)
    : journeys_(std::move(bySerial))
    , unmatched_(std::move(unmatched))
{
    const auto bySerialOrder = [](const JourneyTimes& a, const JourneyTimes& b) {
        return a.serial < b.serial;
    };
    if (!std::is_sorted(journeys_.begin(), journeys_.end(), bySerialOrder))
        std::sort(journeys_.begin(), journeys_.end(), bySerialOrder);
}

const JourneyTimes* GateTimes::find(std::uint32_t serial) const
{
    const auto it = std::lower_bound(
        journeys_.begin(), journeys_.end(), serial,
        [](const JourneyTimes& journey, std::uint32_t wanted) { return journey.serial < wanted; });
    return it != journeys_.end() && it->serial == serial ? &*it : nullptr;
}

namespace {

std::vector<GateTap> parsedTaps(std::span<const HistoryBlock> gateLog)
{
    std::vector<GateTap> taps;
    taps.reserve(gateLog.size());
    for (const HistoryBlock& block : gateLog) {
        if (auto tap = parseGateTap(block))
            taps.push_back(*tap);
    }
    return taps;
}

std::vector<Keyed> sortedTapKeys(const std::vector<GateTap>& taps)
{
    std::vector<Keyed> keys;
    keys.reserve(taps.size());
    for (std::size_t i = 0; i < taps.size(); ++i) {
        const GateTap& tap = taps[i];
        const std::uint64_t key =
            tap.entry ? entryKey(tap.station, tap.date) : exitKey(tap.station, tap.date, tap.fare);
        keys.push_back({key, std::uint64_t(2047 - (tap.hour * 60 + tap.minute)) << 32 | i});
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

// The gate journeys in ascending serial, and the keys they ask for.
struct WantedTaps
{
    std::vector<std::uint32_t> serials;
    std::vector<Keyed> keys;
};

// Every journey asks for its exit and its entry; within a key the newest journey first.
WantedTaps sortedWantedKeys(const HistoryRecordSet& records)
{
    WantedTaps wanted;
    wanted.serials.reserve(records.size());
    wanted.keys.reserve(2 * records.size());
    bool lowest = true;
    std::int32_t lowerBalance = 0;
    for (const HistoryRecord& record : records) {
        // The fare against the next lower serial; unknown (0) for the lowest.
        const std::int32_t fare = lowest ? 0 : lowerBalance - record.balance;
        lowest = false;
        lowerBalance = record.balance;
        if (record.terminalType != kAutomaticGate)
            continue;
        const HistoryBlock& raw = record.raw;
        const std::uint16_t date = bigEndian16(raw, 4);
        const std::uint64_t newestFirst = 0xFFFFFFFFu - std::uint64_t(wanted.serials.size());
        wanted.serials.push_back(record.serial);
        if (fare >= 0 && fare <= 0xFFFF)
            wanted.keys.push_back(
                {exitKey(bigEndian16(raw, 8), date, std::uint16_t(fare)), newestFirst});
        wanted.keys.push_back({entryKey(bigEndian16(raw, 6), date), newestFirst});
    }
    std::sort(wanted.keys.begin(), wanted.keys.end());
    return wanted;
}

} // namespace

GateTimes matchGateTaps(const HistoryRecordSet& records, std::span<const HistoryBlock> gateLog)
{
    const std::vector<GateTap> taps = parsedTaps(gateLog);
    if (taps.empty())
        return GateTimes();
    const std::vector<Keyed> tapKeys = sortedTapKeys(taps);
    const WantedTaps wanted = sortedWantedKeys(records);

    // Within each key, the n-th journey takes the n-th tap.
    std::vector<JourneyTimes> times(wanted.serials.size());
    std::vector<bool> used(taps.size(), false);
    std::size_t t = 0;
    std::size_t w = 0;
    while (t < tapKeys.size() && w < wanted.keys.size()) {
        if (tapKeys[t].first < wanted.keys[w].first) {
            ++t;
        } else if (wanted.keys[w].first < tapKeys[t].first) {
            ++w;
        } else {
            const std::size_t tap = std::size_t(tapKeys[t].second & 0xFFFFFFFF);
            JourneyTimes& journey = times[std::size_t(0xFFFFFFFFu - wanted.keys[w].second)];
            (taps[tap].entry ? journey.entry : journey.exit) = timeOf(taps[tap]);
            used[tap] = true;
            ++t;
            ++w;
        }
    }
    std::vector<JourneyTimes> matched; // ascending serial
    for (std::size_t j = 0; j < wanted.serials.size(); ++j) {
        if (times[j].entry.known() || times[j].exit.known()) {
            times[j].serial = wanted.serials[j];
            matched.push_back(times[j]);
        }
    }
    std::vector<GateTap> unmatched;
    for (std::size_t i = 0; i < taps.size(); ++i) {
        if (!used[i])
            unmatched.push_back(taps[i]);
    }
    return GateTimes(std::move(matched), std::move(unmatched));
}

} // namespace ridelog
