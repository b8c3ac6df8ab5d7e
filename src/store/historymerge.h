// Taking in another computer's history (its ekdb.sqlite, or a backup): the union that a card
// read makes, card by card, with the other file's names where ours lack them.
//
// - card tables: every block whose serial the card's table lacks is added, exactly as a read
//   would add it (blocks of terminal types without a name are left out); a stored block wins;
// - ipn, bus, bpn: rows of keys we have no row for are added; our rows stay as they are;
// - cards: a card without a row gets theirs; a card without a nickname takes theirs; the first
//   read is the earlier of the two, the last read the later;
// - notes: an entry without a note of ours takes theirs, for the entries our history holds;
// - gatelog: every gate-log block we lack, of the cards our history holds, with the time it was
//   first read;
// - cardkind: a card our history holds takes their kind when we have none, or when we could not
//   tell it and they could.
//
// All of it is one transaction of our database, so a second merge of the same file adds nothing
// and an interrupted one adds nothing at all. The other file is opened read-only and never
// changed.
#pragma once

#include <QString>

namespace ridelog {

struct MergeReport
{
    int newCards = 0;            // cards we had no history of
    int cardsWithNewEntries = 0; // including the new ones
    qint64 entries = 0;          // history entries added
    int stationNames = 0;        // name rows added per table
    int busStopNames = 0;
    int shopNames = 0;
    int nicknames = 0; // nicknames taken over
    int notes = 0;     // notes (purpose, claim mark) taken over
    int gateTaps = 0;  // gate-log blocks added
    int cardKinds = 0; // kinds of card taken over

    int names() const { return stationNames + busStopNames + shopNames; }
    bool addedNothing() const
    {
        return entries == 0 && names() == 0 && nicknames == 0 && newCards == 0 && notes == 0 &&
               gateTaps == 0 && cardKinds == 0;
    }
};

struct MergeOutcome
{
    bool merged = false;
    QString reason; // why not, in English, the engine's text included
    MergeReport report;
};

// busyTimeoutMs: how long to wait for the window's write lock on our database.
MergeOutcome mergeHistoryFile(const QString& sourcePath, const QString& databasePath,
                              int busyTimeoutMs);

} // namespace ridelog
