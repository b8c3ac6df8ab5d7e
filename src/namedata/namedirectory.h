// The names the server knows, held in memory while it serves. Every entry also keeps its answer
// record already encoded in code page 932, so answering a request is look-up and copy.
#pragma once

#include "namedata/namekeys.h"

#include <QString>
#include <map>
#include <string>

namespace ridelog::nameserver {

struct RailNames
{
    QString company;
    QString line; // without its trailing "線"
    QString station;
};

struct BusNames
{
    QString company;
    QString stop;
    QString route;
};

struct ShopNames
{
    QString company;
    QString store;
    QString cashRegister;
    QString note; // the fourth field of a shop answer
};

// Shop keys of the server leave the constant first part at 0: only the terminal type (lc) and
// the 16-bit code (sc) identify a shop.
class NameDirectory
{
public:
    // Each returns false and keeps the earlier entry when the key is already known.
    bool addRail(StationKey key, const RailNames& names);
    bool addBus(BusStopKey key, const BusNames& names);
    bool addShop(ShopKey key, const ShopNames& names);

    const RailNames* rail(StationKey key) const;
    const BusNames* bus(BusStopKey key) const;
    const ShopNames* shop(ShopKey key) const;

    // The answer record without its leading serial and code: ",company,line,station:" and so
    // on, in code page 932; nullptr for an unknown key.
    const std::string* railRecordTail(StationKey key) const;
    const std::string* busRecordTail(BusStopKey key) const;
    const std::string* shopRecordTail(ShopKey key) const;

    // Calls `visit(key, names)` for every entry in key order.
    template <typename Visit> void forEachRail(Visit visit) const
    {
        for (const auto& [key, entry] : rail_)
            visit(key, entry.names);
    }
    template <typename Visit> void forEachBus(Visit visit) const
    {
        for (const auto& [key, entry] : bus_)
            visit(key, entry.names);
    }
    template <typename Visit> void forEachShop(Visit visit) const
    {
        for (const auto& [key, entry] : shop_)
            visit(key, entry.names);
    }

    std::size_t railCount() const { return rail_.size(); }
    std::size_t busCount() const { return bus_.size(); }
    std::size_t shopCount() const { return shop_.size(); }

private:
    template <typename Names> struct Entry
    {
        Names names;
        std::string recordTail;
    };

    std::map<StationKey, Entry<RailNames>> rail_;
    std::map<BusStopKey, Entry<BusNames>> bus_;
    std::map<ShopKey, Entry<ShopNames>> shop_;
};

// One name part as it travels in an answer: "," and ":" become "，" and "："; line ends and other
// control characters become blanks; a part longer than 120 characters is cut, so a record stays
// well under 999 bytes; an empty or blank part becomes a single " ".
QString answerFieldText(const QString& part);

// ",part1,part2,...:" in code page 932.
std::string answerRecordTail(std::initializer_list<QString> parts);

} // namespace ridelog::nameserver
