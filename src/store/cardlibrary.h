// The card library: every card with a history table in ekdb.sqlite, with the nickname the user
// gave it and when it was first and last read.
//
//   cards  idm VARCHAR(255), nickname VARCHAR(255), firstRead INTEGER, lastRead INTEGER
//          (times in seconds since 1970 UTC; a Null nickname shows the IDm)
//
// The cards table is an addition to the card and name tables and never touches them. It is
// created at the first read that notes a card, never at start-up. A cards table that cannot be
// read, or that has other columns, is left exactly as it is: the library then lists the cards
// from their history tables alone, without nicknames or read times, and cannot rename.
//
// The kind of each card (Suica, PASMO...) lives in a table of its own, beside cards:
//
//   cardkind  idm VARCHAR(255), kind VARCHAR(255), checked INTEGER
//             (kind: cardKindKey of card/cardkind.h; checked: seconds since 1970 UTC)
//
// created at the first read that tells a kind. A kind once told is not replaced by "unknown".
//
// Every operation opens the database file for itself and closes it at its end. A file that is
// missing is not created; any database failure of the library is a fallback, never an error
// shown to the user, because the card read must go on without it.
#pragma once

#include "card/cardkind.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <span>
#include <vector>

namespace ridelog {

class Database;
struct ColumnDefinition;

struct CardSummary
{
    QString idmText;  // 16 upper-case hexadecimal digits
    QString nickname; // empty: none
    qint64 entryCount = 0;
    QDate newestEntryDate; // date of the entry with the highest serial; null without entries
    QDateTime firstRead;   // invalid when not known
    QDateTime lastRead;
    std::optional<card::CardKind> kind; // none: never told

    // The nickname, or the IDm without one.
    QString shownName() const { return nickname.isEmpty() ? idmText : nickname; }
};

enum class CardsTableState
{
    Missing,
    Usable,
    Unusable // damaged, or other columns: left alone
};

class CardLibrary
{
public:
    // databasePath: ekdb.sqlite of the history store.
    explicit CardLibrary(QString databasePath = QString());

    void setDatabasePath(const QString& path) { path_ = path; }
    const QString& databasePath() const { return path_; }

    // Notes a read of the card: a new card gets a row with both times, a known one its last
    // read time. False when nothing could be noted (no database, an unusable cards table).
    bool noteCardRead(const QString& idmText, const QDateTime& when);
    // Every card that has a history table, in IDm order; empty without a database.
    std::vector<CardSummary> cards() const;
    std::optional<CardSummary> card(const QString& idmText) const;
    // The card's nickname alone, without counting its history; empty when it has none.
    QString nickname(const QString& idmText) const;
    // Stores the nickname; an empty or blank one removes it, so the IDm shows again. False when
    // it could not be stored.
    bool renameCard(const QString& idmText, const QString& nickname);
    // Stores the kind a read told. False when it could not be stored.
    bool noteCardKind(const QString& idmText, card::CardKind kind, const QDateTime& when);

    // ---- Steps on an open database
    static CardsTableState cardsTableState(Database& database);
    static bool noteCardRead(Database& database, const QString& idmText, const QDateTime& when);
    // The same inside a transaction of the caller's; throws DatabaseError on failure.
    static bool noteCardReadInTransaction(Database& database, const QString& idmText,
                                          const QDateTime& when);
    static std::vector<CardSummary> cards(Database& database);
    static QString nickname(Database& database, const QString& idmText);
    static bool renameCard(Database& database, const QString& idmText, const QString& nickname);
    static bool noteCardKind(Database& database, const QString& idmText, card::CardKind kind,
                             const QDateTime& when);
    // The stored kind of the card; none when never told or the table cannot be read.
    static std::optional<card::CardKind> cardKind(Database& database, const QString& idmText);
    static QString cardKindTableName() { return QStringLiteral("cardkind"); }
    static CardsTableState cardKindTableState(Database& database);
    static std::span<const ColumnDefinition> cardKindTableColumns();

    // "cards" and its columns in their order.
    static QString cardsTableName();
    static QStringList cardsTableColumnNames();

    // The IDm of a card table's name ("2" and 16 upper-case hexadecimal digits), else empty.
    static QString idmOfCardTable(const QString& tableName);

private:
    QString path_;
};

} // namespace ridelog
