#include "store/cardlibrary.h"

#include "card/history.h"
#include "store/database.h"
#include "store/ownedschema.h"
#include "store/schema.h"

#include <QFileInfo>
#include <array>
#include <optional>
#include <span>

namespace ridelog {

namespace {

const QString kCardsTable = cardsTableName();

constexpr int kBusyTimeoutMs = 3000;

// The serial of a stored row, from b4 (bytes 12-15 little-endian): byte 12 × 65536 + byte 13 ×
// 256 + byte 14. The seq column is not trusted for it.
const QString kSerialOfRow =
    QStringLiteral("(((\"b4\" & 255) << 16) | (\"b4\" & 65280) | ((\"b4\" >> 16) & 255))");

QDate dateOfWord(std::int64_t b2)
{
    HistoryBlock block{};
    block[4] = std::uint8_t(b2 & 0xFF);
    block[5] = std::uint8_t((b2 >> 8) & 0xFF);
    const int year = 2000 + (block[4] >> 1);
    const int month = (block[4] & 1) * 8 + (block[5] >> 5);
    const int day = block[5] & 0x1F;
    return QDate(year, month, day);
}

QDateTime timeOf(const Statement& row, int column)
{
    if (row.isNullAt(column))
        return QDateTime();
    return QDateTime::fromSecsSinceEpoch(row.integerAt(column), Qt::UTC);
}

// Count and newest entry of one card table; nothing when the table cannot be read as one.
std::optional<CardSummary> summaryOfTable(Database& database, const QString& table,
                                          const QString& idm)
{
    try {
        const QString name = quoteIdentifier(table);
        CardSummary summary;
        summary.idmText = idm;
        Statement count(
            database, QStringLiteral("SELECT COUNT(DISTINCT %1) FROM %2").arg(kSerialOfRow, name));
        if (count.step())
            summary.entryCount = count.integerAt(0);
        Statement newest(database, QStringLiteral("SELECT \"b2\" FROM %2 ORDER BY %1 DESC LIMIT 1")
                                       .arg(kSerialOfRow, name));
        if (newest.step())
            summary.newestEntryDate = dateOfWord(newest.integerAt(0));
        return summary;
    } catch (const DatabaseError&) {
        return std::nullopt;
    }
}

// Fills in nicknames and read times from a usable cards table; the first row of an IDm wins.
void addCardsTableRows(Database& database, std::vector<CardSummary>& summaries)
{
    try {
        if (CardLibrary::cardsTableState(database) != CardsTableState::Usable)
            return;
        Statement rows = database.prepareReadAll(
            kCardsTable, {QStringLiteral("idm"), QStringLiteral("nickname"),
                          QStringLiteral("firstRead"), QStringLiteral("lastRead")});
        std::vector<bool> seen(summaries.size(), false);
        while (rows.step()) {
            const QString idm = rows.textAt(0);
            for (std::size_t i = 0; i < summaries.size(); ++i) {
                if (seen[i] || summaries[i].idmText != idm)
                    continue;
                seen[i] = true;
                summaries[i].nickname = rows.textAt(1).trimmed();
                summaries[i].firstRead = timeOf(rows, 2);
                summaries[i].lastRead = timeOf(rows, 3);
                break;
            }
        }
    } catch (const DatabaseError&) {
        // A damaged cards table: the history tables alone.
        for (auto& summary : summaries) {
            summary.nickname.clear();
            summary.firstRead = summary.lastRead = QDateTime();
        }
    }
}

bool ensureCardsTable(Database& database)
{
    switch (CardLibrary::cardsTableState(database)) {
    case CardsTableState::Usable:
        return true;
    case CardsTableState::Unusable:
        return false;
    case CardsTableState::Missing:
        break;
    }
    database.createTable(kCardsTable, cardsTableColumns());
    return true;
}

const std::array<ColumnDefinition, 3>& cardKindColumns()
{
    static const std::array<ColumnDefinition, 3> columns{{
        {QStringLiteral("idm"), ColumnType::Text255},
        {QStringLiteral("kind"), ColumnType::Text255},
        {QStringLiteral("checked"), ColumnType::Long},
    }};
    return columns;
}

// The table's state by its columns, as for cards.
CardsTableState tableStateByColumns(Database& database, const QString& table,
                                    std::span<const ColumnDefinition> columns)
{
    try {
        if (!database.tableExists(table))
            return CardsTableState::Missing;
        Statement info(database, QStringLiteral("SELECT name FROM pragma_table_info(%1)")
                                     .arg(QLatin1Char('\'') + table + QLatin1Char('\'')));
        QStringList names;
        while (info.step())
            names.append(info.textAt(0));
        QStringList expected;
        for (const auto& column : columns)
            expected.append(column.name);
        if (names != expected)
            return CardsTableState::Unusable;
        // Reading one row finds a table whose pages are damaged.
        Statement probe(database,
                        QStringLiteral("SELECT COUNT(*) FROM %1").arg(quoteIdentifier(table)));
        probe.step();
        return CardsTableState::Usable;
    } catch (const DatabaseError&) {
        return CardsTableState::Unusable;
    }
}

// The kinds of a usable cardkind table, for the summaries.
void addCardKinds(Database& database, std::vector<CardSummary>& summaries)
{
    for (CardSummary& summary : summaries)
        summary.kind = CardLibrary::cardKind(database, summary.idmText);
}

bool cardHasRow(Database& database, const QString& idmText)
{
    Statement query = database.prepareExistenceQuery(kCardsTable, {QStringLiteral("idm")});
    query.bind(1, idmText);
    return query.step();
}

// A new row of the cards table; an empty nickname and an absent read time are stored as Null.
void addCardRow(Database& database, const QString& idmText, const QString& nickname,
                std::optional<qint64> readAt)
{
    Statement add = database.prepareAddRow(
        kCardsTable, {QStringLiteral("idm"), QStringLiteral("nickname"),
                      QStringLiteral("firstRead"), QStringLiteral("lastRead")});
    add.bind(1, idmText);
    add.bindTextOrNull(2, nickname);
    for (int index : {3, 4}) {
        if (readAt)
            add.bind(index, std::int64_t(*readAt));
        else
            add.bindNull(index);
    }
    add.run();
}

template <typename Operation>
auto onExistingDatabase(const QString& path, Operation operation)
    -> decltype(operation(std::declval<Database&>()))
{
    using Result = decltype(operation(std::declval<Database&>()));
    if (path.isEmpty() || !QFileInfo::exists(path))
        return Result{};
    try {
        Database database = Database::open(path, Database::OpenMode::ExistingFile, kBusyTimeoutMs);
        // Another program's file is neither listed nor written.
        if (foreignSchemaReason(database))
            return Result{};
        return operation(database);
    } catch (const DatabaseError&) {
        return Result{};
    }
}

} // namespace

CardLibrary::CardLibrary(QString databasePath)
    : path_(std::move(databasePath))
{}

bool CardLibrary::noteCardRead(const QString& idmText, const QDateTime& when)
{
    return onExistingDatabase(
        path_, [&](Database& database) { return noteCardRead(database, idmText, when); });
}

std::vector<CardSummary> CardLibrary::cards() const
{
    return onExistingDatabase(path_, [](Database& database) { return cards(database); });
}

std::optional<CardSummary> CardLibrary::card(const QString& idmText) const
{
    for (CardSummary& summary : cards()) {
        if (summary.idmText == idmText)
            return std::move(summary);
    }
    return std::nullopt;
}

QString CardLibrary::nickname(const QString& idmText) const
{
    return onExistingDatabase(path_,
                              [&](Database& database) { return nickname(database, idmText); });
}

QString CardLibrary::nickname(Database& database, const QString& idmText)
{
    try {
        if (cardsTableState(database) != CardsTableState::Usable)
            return QString();
        // The first row of an IDm wins, as in the list of cards.
        Statement query(database, QStringLiteral("SELECT \"nickname\" FROM %1 WHERE \"idm\" = ?1 "
                                                 "ORDER BY rowid LIMIT 1")
                                      .arg(quoteIdentifier(kCardsTable)));
        query.bind(1, idmText);
        return query.step() && !query.isNullAt(0) ? query.textAt(0).trimmed() : QString();
    } catch (const DatabaseError&) {
        return QString();
    }
}

bool CardLibrary::renameCard(const QString& idmText, const QString& nickname)
{
    return onExistingDatabase(
        path_, [&](Database& database) { return renameCard(database, idmText, nickname); });
}

QString CardLibrary::cardsTableName()
{
    return kCardsTable;
}

QStringList CardLibrary::cardsTableColumnNames()
{
    QStringList names;
    for (const auto& column : cardsTableColumns())
        names.append(column.name);
    return names;
}

CardsTableState CardLibrary::cardsTableState(Database& database)
{
    return tableStateByColumns(database, kCardsTable, cardsTableColumns());
}

CardsTableState CardLibrary::cardKindTableState(Database& database)
{
    return tableStateByColumns(database, cardKindTableName(), cardKindColumns());
}

std::span<const ColumnDefinition> CardLibrary::cardKindTableColumns()
{
    return cardKindColumns();
}

bool CardLibrary::noteCardKind(const QString& idmText, card::CardKind kind, const QDateTime& when)
{
    return onExistingDatabase(
        path_, [&](Database& database) { return noteCardKind(database, idmText, kind, when); });
}

bool CardLibrary::noteCardKind(Database& database, const QString& idmText, card::CardKind kind,
                               const QDateTime& when)
{
    const QString table = cardKindTableName();
    try {
        Transaction transaction(database);
        switch (tableStateByColumns(database, table, cardKindColumns())) {
        case CardsTableState::Unusable:
            return false;
        case CardsTableState::Missing:
            database.createTable(table, cardKindColumns());
            break;
        case CardsTableState::Usable:
            break;
        }
        const std::optional<card::CardKind> stored = cardKind(database, idmText);
        if (stored && (*stored == kind || kind == card::CardKind::Unknown))
            return true;
        if (stored) {
            Statement update(database, QStringLiteral("UPDATE %1 SET \"kind\"=?1, \"checked\"=?2 "
                                                      "WHERE \"idm\"=?3")
                                           .arg(quoteIdentifier(table)));
            update.bind(1, card::cardKindKey(kind));
            update.bind(2, std::int64_t(when.toSecsSinceEpoch()));
            update.bind(3, idmText);
            update.run();
        } else {
            Statement add = database.prepareAddRow(
                table, {QStringLiteral("idm"), QStringLiteral("kind"), QStringLiteral("checked")});
            add.bind(1, idmText);
            add.bind(2, card::cardKindKey(kind));
            add.bind(3, std::int64_t(when.toSecsSinceEpoch()));
            add.run();
        }
        transaction.commit();
        return true;
    } catch (const DatabaseError&) {
        return false;
    }
}

std::optional<card::CardKind> CardLibrary::cardKind(Database& database, const QString& idmText)
{
    const QString table = cardKindTableName();
    try {
        if (tableStateByColumns(database, table, cardKindColumns()) != CardsTableState::Usable)
            return std::nullopt;
        Statement row(database, QStringLiteral("SELECT \"kind\" FROM %1 WHERE \"idm\"=?1 "
                                               "ORDER BY rowid LIMIT 1")
                                    .arg(quoteIdentifier(table)));
        row.bind(1, idmText);
        if (!row.step())
            return std::nullopt;
        return card::cardKindFromKey(row.textAt(0));
    } catch (const DatabaseError&) {
        return std::nullopt;
    }
}

bool CardLibrary::noteCardRead(Database& database, const QString& idmText, const QDateTime& when)
{
    try {
        Transaction transaction(database);
        if (!noteCardReadInTransaction(database, idmText, when))
            return false;
        transaction.commit();
        return true;
    } catch (const DatabaseError&) {
        return false;
    }
}

bool CardLibrary::noteCardReadInTransaction(Database& database, const QString& idmText,
                                            const QDateTime& when)
{
    if (!ensureCardsTable(database))
        return false;
    const qint64 seconds = when.toSecsSinceEpoch();
    if (!cardHasRow(database, idmText)) {
        addCardRow(database, idmText, QString(), seconds);
        return true;
    }
    // A read dated before the last one (a dump taken in) moves only the first read; a card
    // first noted by a rename has no first read yet.
    Statement update(database, QStringLiteral("UPDATE %1 SET "
                                              "\"lastRead\"=MAX(COALESCE(\"lastRead\", ?1), ?1), "
                                              "\"firstRead\"=MIN(COALESCE(\"firstRead\", ?1), ?1) "
                                              "WHERE \"idm\"=?2")
                                   .arg(quoteIdentifier(kCardsTable)));
    update.bind(1, seconds);
    update.bind(2, idmText);
    update.run();
    return true;
}

std::vector<CardSummary> CardLibrary::cards(Database& database)
{
    std::vector<CardSummary> summaries;
    try {
        Statement tables(database, QStringLiteral("SELECT name FROM sqlite_master WHERE "
                                                  "type='table' ORDER BY name"));
        QStringList names;
        while (tables.step())
            names.append(tables.textAt(0));
        for (const QString& table : names) {
            const QString idm = idmOfCardTable(table);
            if (idm.isEmpty())
                continue;
            if (auto summary = summaryOfTable(database, table, idm))
                summaries.push_back(std::move(*summary));
        }
    } catch (const DatabaseError&) {
        return {};
    }
    addCardsTableRows(database, summaries);
    addCardKinds(database, summaries);
    return summaries;
}

bool CardLibrary::renameCard(Database& database, const QString& idmText, const QString& nickname)
{
    const QString name = nickname.trimmed();
    try {
        Transaction transaction(database);
        if (!ensureCardsTable(database))
            return false;
        if (cardHasRow(database, idmText)) {
            Statement update(database, QStringLiteral("UPDATE %1 SET \"nickname\"=?1 WHERE "
                                                      "\"idm\"=?2")
                                           .arg(quoteIdentifier(kCardsTable)));
            update.bindTextOrNull(1, name);
            update.bind(2, idmText);
            update.run();
        } else {
            addCardRow(database, idmText, name, std::nullopt);
        }
        transaction.commit();
        return true;
    } catch (const DatabaseError&) {
        return false;
    }
}

QString CardLibrary::idmOfCardTable(const QString& tableName)
{
    if (tableName.size() != 17 || tableName.front() != QLatin1Char('2'))
        return QString();
    for (qsizetype i = 1; i < tableName.size(); ++i) {
        const QChar c = tableName[i];
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
        if (!hex)
            return QString();
    }
    return tableName.mid(1);
}

} // namespace ridelog
