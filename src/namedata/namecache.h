// In-memory name caches for stations, bus stops and shops.
#pragma once

#include "namedata/namekeys.h"

#include <QString>
#include <map>

namespace ridelog {

struct NameEntry
{
    QString an; // company
    QString ln; // line (rail), stop (bus)
    QString sn; // station (rail), route (bus)
    QString nm; // the name shown in the list
};

struct ShopNameEntry
{
    QString an; // company
    QString ln; // shop
    QString sn; // register
    QString ap; // fourth shop field, kept but never shown
    QString nm; // the name shown in the list
};

// Whether the station-name server delivered any part of the name. An entry without parts is
// one that decoding inserted for an unknown key: it is never composed, stored or loaded, so the
// key is asked for again.
inline bool hasNameParts(const NameEntry& e)
{
    return !e.an.isEmpty() || !e.ln.isEmpty() || !e.sn.isEmpty();
}
inline bool hasNameParts(const ShopNameEntry& e)
{
    return !e.an.isEmpty() || !e.ln.isEmpty() || !e.sn.isEmpty() || !e.ap.isEmpty();
}

// An ordered map, unique by key, whose only look-up inserts an empty entry for an absent key.
template <typename Key, typename Entry> class NameCache
{
    using Map = std::map<Key, Entry>;

public:
    using KeyType = Key;
    using EntryType = Entry;
    using iterator = typename Map::iterator;
    using const_iterator = typename Map::const_iterator;

    Entry& EntryFor(const Key& key) { return entries_.try_emplace(key).first->second; }
    // A look-up that leaves nothing behind: null for an absent key.
    const Entry* find(const Key& key) const
    {
        const auto it = entries_.find(key);
        return it == entries_.end() ? nullptr : &it->second;
    }

    // Iteration in key order; the texts of the entries may be changed.
    iterator begin() { return entries_.begin(); }
    iterator end() { return entries_.end(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    bool contains(const Key& key) const { return entries_.contains(key); }
    void clear() { entries_.clear(); }

private:
    Map entries_;
};

class StationNameCache : public NameCache<StationKey, NameEntry>
{};
class BusStopNameCache : public NameCache<BusStopKey, NameEntry>
{};
class ShopNameCache : public NameCache<ShopKey, ShopNameEntry>
{};

// The three caches the main dialog owns, handed around together.
struct NameCaches
{
    StationNameCache stations;
    BusStopNameCache busStops;
    ShopNameCache shops;
};

} // namespace ridelog
