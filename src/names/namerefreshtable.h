// The answers of the last name refresh, per history record.
#pragma once

#include <QString>
#include <map>

namespace ridelog {

// All texts, empty when created. For a rail record the entry parts describe the entry
// station and the exit parts the exit station; a shop keeps company, store, register and the
// fourth shop field in an, ln, sn, ap; a bus stop keeps company, stop and route in an, ln, sn.
struct NameRefreshRow
{
    QString entryName;
    QString exitName;
    QString an;
    QString ln;
    QString sn;
    QString ap;
    QString exitAn;
    QString exitLn;
    QString exitSn;

    friend bool operator==(const NameRefreshRow&, const NameRefreshRow&) = default;
};

// Keyed by the record's serial as decimal text, exactly as the server sent it, ordered by
// that text ("100" comes before "99").
class NameRefreshTable
{
    using Map = std::map<QString, NameRefreshRow>;

public:
    using const_iterator = Map::const_iterator;
    using iterator = Map::iterator;

    // The row for key; a missing key gets an empty row.
    NameRefreshRow& rowFor(const QString& key) { return rows_.try_emplace(key).first->second; }
    const NameRefreshRow* find(const QString& key) const
    {
        const auto it = rows_.find(key);
        return it == rows_.end() ? nullptr : &it->second;
    }

    iterator begin() { return rows_.begin(); }
    iterator end() { return rows_.end(); }
    const_iterator begin() const { return rows_.begin(); }
    const_iterator end() const { return rows_.end(); }
    std::size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }
    bool contains(const QString& key) const { return rows_.contains(key); }
    void clear() { rows_.clear(); }

    friend bool operator==(const NameRefreshTable&, const NameRefreshTable&) = default;

private:
    Map rows_;
};

} // namespace ridelog
