// The commands that throw stored data away: the names of one kind, or the stored history of
// the card on display. Each ends by reading the card again.
#pragma once

#include "store/schema.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <set>

class QWidget;

namespace ridelog {

class DatabaseError;
class HistoryStore;
struct NameCaches;

class ClearingCommands
{
public:
    // What the main dialog does around a clearing.
    struct Steps
    {
        std::function<void()> stopNameRefresh; // a refresh still under way must not land later
        std::function<void()> removeAllRows;   // of the history list
        std::function<void()> readCard;        // the card read, with its own messages
    };

    ClearingCommands(QWidget* parent, HistoryStore& store, NameCaches& caches, Steps steps);

    // Deletes and recreates the name table, empties its cache, empties the list, reads again.
    void ClearNameCache(NameTable table);
    // Asks first, naming the card and the number of its stored entries that are no longer
    // on it (cardSerials: what the card delivered at its last read); the default answer is
    // いいえ. Then deletes the card's table, empties the list, reads again.
    void ClearCardHistory(const QString& idmText, const std::set<std::uint32_t>& cardSerials);

private:
    // Runs one store operation; tells the user when the database cannot be reached or fails.
    // True when the operation was done.
    bool runStoreStep(const std::function<bool()>& operation);
    void showDatabaseError(const DatabaseError& error);
    void emptyCache(NameTable table);

    QWidget* parent_;
    HistoryStore& store_;
    NameCaches& caches_;
    Steps steps_;
};

} // namespace ridelog
