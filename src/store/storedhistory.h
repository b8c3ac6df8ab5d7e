// The stored history read without changing anything: for the command line, which may run while
// the window has the same database file in use.
#pragma once

#include "card/cardkind.h"
#include "card/history.h"
#include "namedata/namecache.h"
#include "store/cardblockset.h"
#include "store/database.h"
#include "store/notestore.h"
#include "store/schema.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace ridelog {

// 16 hexadecimal digits in either letter case.
bool isIdmText(const QString& text);

struct StoredCardSummary
{
    QString idmText;    // upper-case, as in the table name
    qint64 entries = 0; // one per serial, as the list shows them
    QDate firstDate;    // invalid when the oldest date on the card does not exist
    QDate lastDate;
    QString nickname;                   // from the card library; empty: none
    std::optional<card::CardKind> kind; // none: never told
};

class StoredHistoryReader
{
public:
    // Opens the file read-only. A missing file is no error: the reader then knows no card.
    // A file that is there but cannot be read as a database throws DatabaseError.
    explicit StoredHistoryReader(const QString& databasePath,
                                 int busyTimeoutMs = kDefaultBusyTimeoutMs);
    ~StoredHistoryReader();
    StoredHistoryReader(const StoredHistoryReader&) = delete;
    StoredHistoryReader& operator=(const StoredHistoryReader&) = delete;

    static constexpr int kDefaultBusyTimeoutMs = 3000;

    bool hasDatabase() const { return database_ != nullptr; }

    // Every card with a history table, by IDm.
    std::vector<StoredCardSummary> cards();

    // The card's stored blocks and the names of the stored name tables; false (and nothing
    // loaded) when the card has no history table. A name table that cannot be read whole gives
    // the names read before the damage, and the codes for the rest (unreadableNames()); a card
    // table that cannot be read throws DatabaseError.
    bool loadCard(const QString& idmText, NameCaches& caches, CardBlockSet& blocks);
    // After loadCard: "ipn: <engine text>" for each name table that could not be read whole,
    // separated by "; "; empty when every name was read.
    QString unreadableNames() const;

    // The nickname the user gave the card in the window; empty without one.
    QString nickname(const QString& idmText);
    // The card's stored gate-log blocks (gatelogstore.h); none without the table.
    std::vector<HistoryBlock> gateLog(const QString& idmText);
    // The kind of card the card library keeps; none when never told.
    std::optional<card::CardKind> cardKind(const QString& idmText);

    // The card's notes; none without a database, unavailable when the notes table is damaged.
    LoadedNotes notesOf(const QString& idmText);

private:
    template <typename Cache> void loadNamesAsFarAsReadable(NameTable table, Cache& cache);

    std::unique_ptr<Database> database_;
    QStringList unreadableNames_;
};

} // namespace ridelog
