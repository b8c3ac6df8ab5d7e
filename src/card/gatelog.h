// The gate log of a transit card (service 0x108F, 3 blocks): the last gate passages, with the
// time of day the history leaves out, and how its taps are matched to the history's journeys.
//
// Gate-log block (16 bytes):
//   0      kind: 0xA0 entry, 0x20 exit, 0xC0 / 0x40 entry / exit on a commuter pass, 0x00 an
//          exit after fare adjustment; bit 7 set means an entry
//   2-3    line and station code, as bytes 6-7 (entry) or 8-9 (exit) of a history block
//   6-7    date, packed as bytes 4-5 of a history block
//   8-9    hour and minute, BCD
//   10-11  fare, little-endian (exits)
#pragma once

#include "card/history.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ridelog {

struct GateTap
{
    std::uint8_t kind = 0;
    bool entry = false;
    std::uint16_t station = 0; // line code << 8 | station code
    std::uint16_t date = 0;    // as the history packs it
    int hour = 0;
    int minute = 0;
    std::uint16_t fare = 0;
};

// The tap a block records; nullopt for an empty slot (all zero) and for a time that is not a
// time of day (BCD digits above 9, hour above 23, minute above 59).
std::optional<GateTap> parseGateTap(const HistoryBlock& block);

// "HH:MM".
QString gateTimeText(int hour, int minute);

// A time of day known from a tap, or none.
struct TapTime
{
    std::int8_t hour = -1;
    std::int8_t minute = -1;

    bool known() const { return hour >= 0; }
    // "HH:MM", empty when unknown.
    QString text() const { return known() ? gateTimeText(hour, minute) : QString(); }
    bool operator==(const TapTime&) const = default;
};

struct JourneyTimes
{
    std::uint32_t serial = 0;
    TapTime entry;
    TapTime exit;
};

// The span of a journey through the gates: "07:58–08:31" when both times are known; when one
// is, entryOnly or exitOnly with the time for %1 (a lone time is named, so that "–08:31" is
// never read as a negative number); empty when neither is.
QString gateSpanText(const TapTime& entry, const TapTime& exit, const QString& entryOnly,
                     const QString& exitOnly);

// The gate times of the journeys of one card, by serial.
class GateTimes
{
public:
    GateTimes() = default;
    explicit GateTimes(std::vector<JourneyTimes> bySerial, std::vector<GateTap> unmatched = {});

    // The times of the journey, none when no tap matched it.
    const JourneyTimes* find(std::uint32_t serial) const;
    bool empty() const { return journeys_.empty(); }
    std::size_t size() const { return journeys_.size(); }
    // The taps that matched no journey (a bus, a fare adjustment, a journey not stored).
    const std::vector<GateTap>& unmatched() const { return unmatched_; }

private:
    std::vector<JourneyTimes> journeys_; // ascending serial
    std::vector<GateTap> unmatched_;
};

// Matches taps to the journeys of records. Only journeys through an automatic gate (terminal
// type 0x16) are tried, newest first: an exit tap matches a journey with the same exit station,
// date and fare (the balance drop against the next lower serial; 0 for the lowest); an entry tap
// one with the same entry station and date. Among the taps that fit, the latest in the day is
// taken, and each tap is used once.
GateTimes matchGateTaps(const HistoryRecordSet& records, std::span<const HistoryBlock> gateLog);

} // namespace ridelog
