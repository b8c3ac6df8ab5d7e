// The commands that throw stored data away: the names of one kind, or the stored history of
// the card on display. Each ends by reading the card again.
#pragma once

#include "store/schema.h"

#include <QString>
#include <functional>

class QWidget;

namespace ridelog {

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
    // Deletes the card's table, empties the list, reads again.
    void ClearCardHistory(const QString& idmText);

private:
    // Runs one store operation; tells the user when the database cannot be reached or fails.
    // True when the operation was done.
    bool runStoreStep(const std::function<bool()>& operation);
    void emptyCache(NameTable table);

    QWidget* parent_;
    HistoryStore& store_;
    NameCaches& caches_;
    Steps steps_;
};

} // namespace ridelog
