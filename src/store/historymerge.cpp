#include "store/historymerge.h"

#include "card/history.h"
#include "store/cardlibrary.h"
#include "store/database.h"
#include "store/gatelogstore.h"
#include "store/historyfile.h"
#include "store/notestore.h"
#include "store/schema.h"

#include <QDir>
#include <QFileInfo>
#include <map>
#include <optional>
#include <set>
#include <sqlite3.h>
#include <tuple>
#include <vector>

namespace ridelog {

namespace {

using NameKey = std::tuple<int, int, int>;

QStringList columnNames(std::span<const ColumnDefinition> columns)
{
    QStringList names;
    for (const auto& column : columns)
        names.append(column.name);
    return names;
}

// The key a name row loads into, as the name caches read it back.
NameKey nameKeyOf(NameTable table, const Statement& row)
{
    const std::int64_t ac = row.integerAt(0);
    const std::int64_t lc = row.integerAt(1);
    switch (table) {
    case NameTable::Stations:
        return {keyPartLow8(ac), keyPartLow8(lc), keyPartLow8(row.integerAt(2))};
    case NameTable::BusStops:
        return {keyPart16(ac), keyPart16(lc), 0};
    case NameTable::Shops:
        return {keyPartLow8(ac), keyPartLow8(lc), keyPart16(row.integerAt(2))};
    }
    return {};
}

// Whether a row holds any name part (an, ln, sn and, for shops, ap); others load as nothing.
bool rowHasNameParts(const Statement& row, int keyColumns, int textColumns)
{
    // The last text column is nm, the shown name composed from the parts.
    for (int column = keyColumns; column < keyColumns + textColumns - 1; ++column) {
        if (!row.textAt(column).isEmpty())
            return true;
    }
    return false;
}

struct NameRow
{
    std::vector<std::int64_t> keys;
    QStringList texts;
};

int mergeNameTable(Database& source, Database& target, NameTable table)
{
    const QString name = nameTableName(table);
    if (!source.tableExists(name))
        return 0;
    const QStringList columns = columnNames(nameTableColumns(table));
    const int keyColumns = int(nameTableKeyColumns(table).size());
    const int textColumns = int(columns.size()) - keyColumns;

    std::set<NameKey> ours;
    if (target.tableExists(name)) {
        Statement rows = target.prepareReadAll(name, columns);
        while (rows.step()) {
            if (rowHasNameParts(rows, keyColumns, textColumns))
                ours.insert(nameKeyOf(table, rows));
        }
    }
    // In table order; a later row of a key is the one that loads, so it is the one taken.
    std::map<NameKey, NameRow> theirs;
    Statement rows = source.prepareReadAll(name, columns);
    while (rows.step()) {
        if (!rowHasNameParts(rows, keyColumns, textColumns))
            continue;
        const NameKey key = nameKeyOf(table, rows);
        if (ours.contains(key))
            continue;
        NameRow row;
        for (int column = 0; column < keyColumns; ++column)
            row.keys.push_back(rows.integerAt(column));
        for (int column = keyColumns; column < int(columns.size()); ++column)
            row.texts.append(rows.textAt(column));
        theirs[key] = std::move(row);
    }
    if (theirs.empty())
        return 0;
    if (!target.tableExists(name))
        target.createTable(name, nameTableColumns(table));
    Statement add = target.prepareAddRow(name, columns);
    for (const auto& [key, row] : theirs) {
        int parameter = 1;
        for (const std::int64_t value : row.keys)
            add.bind(parameter++, value);
        for (const QString& text : row.texts)
            add.bindTextOrNull(parameter++, text);
        add.run();
        add.reset();
    }
    return int(theirs.size());
}

BlockWords wordsOf(const Statement& row, int first)
{
    return {std::int32_t(row.integerAt(first)), std::int32_t(row.integerAt(first + 1)),
            std::int32_t(row.integerAt(first + 2)), std::int32_t(row.integerAt(first + 3))};
}

// The blocks of one of their card tables that a read would store: one per serial (the first
// row wins, as loading does), terminal types with a name only.
std::map<std::uint32_t, BlockWords> storableBlocks(Database& source, const QString& table)
{
    std::map<std::uint32_t, BlockWords> blocks;
    Statement rows = source.prepareReadAll(table, cardBlockColumns());
    while (rows.step()) {
        const BlockWords words = wordsOf(rows, 0);
        const HistoryBlock block = blockFromWords(words);
        if (terminalTypeName(block[0]).isEmpty())
            continue;
        blocks.emplace(blockSerial(block), words);
    }
    return blocks;
}

std::set<std::uint32_t> storedSerials(Database& target, const QString& table)
{
    std::set<std::uint32_t> serials;
    Statement rows(
        target,
        QStringLiteral("SELECT %1 FROM %2").arg(cardRowSerialSql(), quoteIdentifier(table)));
    while (rows.step())
        serials.insert(std::uint32_t(rows.integerAt(0)));
    return serials;
}

// Returns the number of entries added.
qint64 mergeCardTable(Database& source, Database& target, const QString& table, bool& isNewCard)
{
    const auto theirs = storableBlocks(source, table);
    isNewCard = !target.tableExists(table);
    const std::set<std::uint32_t> ours =
        isNewCard ? std::set<std::uint32_t>() : storedSerials(target, table);
    std::vector<std::pair<std::uint32_t, BlockWords>> added;
    for (const auto& [serial, words] : theirs) {
        if (!ours.contains(serial))
            added.emplace_back(serial, words);
    }
    if (added.empty()) {
        isNewCard = false;
        return 0;
    }
    if (isNewCard)
        target.createTable(table, cardTableColumns());
    target.execute(
        QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (\"b4\")")
            .arg(quoteIdentifier(table + QStringLiteral("_b4")), quoteIdentifier(table)));
    Statement add = target.prepareAddRow(table, {QStringLiteral("b1"), QStringLiteral("b2"),
                                                 QStringLiteral("b3"), QStringLiteral("b4"),
                                                 QStringLiteral("seq")});
    for (const auto& [serial, words] : added) {
        for (int w = 0; w < 4; ++w)
            add.bind(w + 1, words[std::size_t(w)]);
        add.bind(5, std::int64_t(serial));
        add.run();
        add.reset();
    }
    return qint64(added.size());
}

struct CardRow
{
    QString nickname;
    std::optional<qint64> firstRead;
    std::optional<qint64> lastRead;
};

std::optional<qint64> optionalInteger(const Statement& row, int column)
{
    if (row.isNullAt(column))
        return std::nullopt;
    return row.integerAt(column);
}

std::map<QString, CardRow> cardRows(Database& database)
{
    std::map<QString, CardRow> rows;
    Statement read = database.prepareReadAll(CardLibrary::cardsTableName(),
                                             CardLibrary::cardsTableColumnNames());
    while (read.step()) {
        rows.emplace(read.textAt(0), CardRow{read.textAt(1).trimmed(), optionalInteger(read, 2),
                                             optionalInteger(read, 3)});
    }
    return rows;
}

std::optional<qint64> earlier(std::optional<qint64> a, std::optional<qint64> b)
{
    if (!a || !b)
        return a ? a : b;
    return std::min(*a, *b);
}

std::optional<qint64> later(std::optional<qint64> a, std::optional<qint64> b)
{
    if (!a || !b)
        return a ? a : b;
    return std::max(*a, *b);
}

void bindOptional(Statement& statement, int index, std::optional<qint64> value)
{
    if (value)
        statement.bind(index, std::int64_t(*value));
    else
        statement.bindNull(index);
}

// Returns the number of nicknames taken over.
int mergeCardsTable(Database& source, Database& target)
{
    if (CardLibrary::cardsTableState(source) != CardsTableState::Usable)
        return 0;
    const CardsTableState ourState = CardLibrary::cardsTableState(target);
    if (ourState == CardsTableState::Unusable)
        return 0; // left exactly as it is
    const auto theirs = cardRows(source);
    if (theirs.empty())
        return 0;
    if (ourState == CardsTableState::Missing) {
        target.createTable(cardsTableName(), cardsTableColumns());
    }
    const auto ours = cardRows(target);
    const QString table = quoteIdentifier(CardLibrary::cardsTableName());
    Statement add =
        target.prepareAddRow(CardLibrary::cardsTableName(), CardLibrary::cardsTableColumnNames());
    Statement update(target, QStringLiteral("UPDATE %1 SET \"nickname\"=?1, \"firstRead\"=?2, "
                                            "\"lastRead\"=?3 WHERE \"idm\"=?4")
                                 .arg(table));
    int nicknames = 0;
    for (const auto& [idm, row] : theirs) {
        const auto mine = ours.find(idm);
        if (mine == ours.end()) {
            add.bind(1, idm);
            add.bindTextOrNull(2, row.nickname);
            bindOptional(add, 3, row.firstRead);
            bindOptional(add, 4, row.lastRead);
            add.run();
            add.reset();
            nicknames += row.nickname.isEmpty() ? 0 : 1;
            continue;
        }
        const CardRow& kept = mine->second;
        const bool takesNickname = kept.nickname.isEmpty() && !row.nickname.isEmpty();
        const auto firstRead = earlier(kept.firstRead, row.firstRead);
        const auto lastRead = later(kept.lastRead, row.lastRead);
        if (!takesNickname && firstRead == kept.firstRead && lastRead == kept.lastRead)
            continue;
        update.bindTextOrNull(1, takesNickname ? row.nickname : kept.nickname);
        bindOptional(update, 2, firstRead);
        bindOptional(update, 3, lastRead);
        update.bind(4, idm);
        update.run();
        update.reset();
        nicknames += takesNickname ? 1 : 0;
    }
    return nicknames;
}

// Their notes of entries we hold and have no note of. The notes table is made as theirs is
// (it was checked to have our columns) when we have none.
int mergeNotesTable(Database& source, Database& target)
{
    const QString table = NoteStore::notesTableName();
    if (NoteStore::notesTableState(source) != NotesTableState::Usable)
        return 0;
    const NotesTableState ourState = NoteStore::notesTableState(target);
    if (ourState == NotesTableState::Unusable)
        return 0; // left exactly as it is
    std::set<std::pair<QString, std::int64_t>> ours;
    if (ourState == NotesTableState::Usable) {
        Statement rows(
            target, QStringLiteral("SELECT \"idm\", \"seq\" FROM %1").arg(quoteIdentifier(table)));
        while (rows.step())
            ours.emplace(rows.textAt(0), rows.integerAt(1));
    }
    const QStringList columns{QStringLiteral("idm"), QStringLiteral("seq"),
                              QStringLiteral("purpose"), QStringLiteral("claim"),
                              QStringLiteral("updated")};
    std::map<QString, std::set<std::uint32_t>> held;
    std::optional<Statement> add;
    int added = 0;
    Statement rows = source.prepareReadAll(table, columns);
    while (rows.step()) {
        const QString idm = rows.textAt(0);
        const std::int64_t serial = rows.integerAt(1);
        if (!ours.emplace(idm, serial).second)
            continue;
        const QString cardTable = CardTableName(idm);
        if (!held.contains(idm))
            held[idm] = target.tableExists(cardTable) ? storedSerials(target, cardTable)
                                                      : std::set<std::uint32_t>();
        if (!held[idm].contains(std::uint32_t(serial)))
            continue;
        if (!add) {
            if (ourState == NotesTableState::Missing && !target.tableExists(table)) {
                Statement schema(source, QStringLiteral("SELECT sql FROM sqlite_master WHERE "
                                                        "type='table' AND name=?1"));
                schema.bind(1, table);
                if (!schema.step())
                    return 0;
                target.execute(schema.textAt(0));
            }
            add.emplace(target.prepareAddRow(table, columns));
        }
        add->bind(1, idm);
        add->bind(2, serial);
        add->bindTextOrNull(3, rows.textAt(2));
        add->bind(4, rows.integerAt(3));
        add->bind(5, rows.integerAt(4));
        add->run();
        add->reset();
        ++added;
    }
    return added;
}

// Whether our database holds a history of the card, asked once per card.
class HeldCards
{
public:
    explicit HeldCards(Database& target)
        : target_(target)
    {}

    bool holds(const QString& idm)
    {
        const auto known = held_.find(idm);
        if (known != held_.end())
            return known->second;
        const bool holds = !CardLibrary::idmOfCardTable(CardTableName(idm)).isEmpty() &&
                           target_.tableExists(CardTableName(idm));
        held_.emplace(idm, holds);
        return holds;
    }

private:
    Database& target_;
    std::map<QString, bool> held_;
};

struct GateLogRow
{
    QString idm;
    QString block; // in the form the store writes
    std::optional<qint64> firstRead;
};

// Their gate-log blocks that ours lacks, of cards whose history we hold; each keeps the time of
// the read that first brought it. Texts that are no block and empty slots stay out, as a read
// never stores them.
int mergeGateLogTable(Database& source, Database& target)
{
    if (GateLogStore::tableState(source) != GateLogTableState::Usable)
        return 0;
    const GateLogTableState ourState = GateLogStore::tableState(target);
    if (ourState == GateLogTableState::Unusable)
        return 0; // left exactly as it is
    const QString table = quoteIdentifier(GateLogStore::tableName());
    std::set<std::pair<QString, QString>> ours;
    if (ourState == GateLogTableState::Usable) {
        Statement rows(target, QStringLiteral("SELECT \"idm\", \"block\" FROM %1").arg(table));
        while (rows.step())
            ours.emplace(rows.textAt(0), rows.textAt(1));
    }
    HeldCards held(target);
    std::vector<GateLogRow> added;
    Statement rows(source,
                   QStringLiteral("SELECT \"idm\", \"block\", \"firstRead\" FROM %1 ORDER BY rowid")
                       .arg(table));
    while (rows.step()) {
        const auto block = GateLogStore::blockFromText(rows.textAt(1));
        if (!block || GateLogStore::isEmptySlot(*block))
            continue;
        GateLogRow row{rows.textAt(0), GateLogStore::blockText(*block), optionalInteger(rows, 2)};
        if (!held.holds(row.idm) || !ours.emplace(row.idm, row.block).second)
            continue;
        added.push_back(std::move(row));
    }
    if (added.empty())
        return 0;
    if (ourState == GateLogTableState::Missing)
        target.createTable(GateLogStore::tableName(), GateLogStore::tableColumns());
    Statement add = target.prepareAddRow(
        GateLogStore::tableName(),
        {QStringLiteral("idm"), QStringLiteral("block"), QStringLiteral("firstRead")});
    for (const GateLogRow& row : added) {
        add.bind(1, row.idm);
        add.bind(2, row.block);
        bindOptional(add, 3, row.firstRead);
        add.run();
        add.reset();
    }
    return int(added.size());
}

struct CardKindRow
{
    std::optional<card::CardKind> kind; // none: a key this program does not know
    std::optional<qint64> checked;
};

// The kind of each card as the library reads it: the first row of the card.
std::map<QString, CardKindRow> cardKindRows(Database& database)
{
    std::map<QString, CardKindRow> rows;
    Statement read(database,
                   QStringLiteral("SELECT \"idm\", \"kind\", \"checked\" FROM %1 ORDER BY rowid")
                       .arg(quoteIdentifier(CardLibrary::cardKindTableName())));
    while (read.step())
        rows.emplace(read.textAt(0),
                     CardKindRow{card::cardKindFromKey(read.textAt(1)), optionalInteger(read, 2)});
    return rows;
}

bool isToldKind(const std::optional<card::CardKind>& kind)
{
    return kind && *kind != card::CardKind::Unknown;
}

// Their kinds of cards whose history we hold: a card without a kind of ours takes theirs, and
// so does one whose kind we could not tell, when they could (as a later read would). A kind we
// told stays.
int mergeCardKindTable(Database& source, Database& target)
{
    if (CardLibrary::cardKindTableState(source) != CardsTableState::Usable)
        return 0;
    const CardsTableState ourState = CardLibrary::cardKindTableState(target);
    if (ourState == CardsTableState::Unusable)
        return 0; // left exactly as it is
    const auto theirs = cardKindRows(source);
    const auto ours = ourState == CardsTableState::Usable ? cardKindRows(target)
                                                          : std::map<QString, CardKindRow>();
    HeldCards held(target);
    std::vector<std::pair<QString, CardKindRow>> added;
    std::vector<std::pair<QString, CardKindRow>> told;
    for (const auto& [idm, row] : theirs) {
        if (!row.kind || !held.holds(idm))
            continue;
        const auto mine = ours.find(idm);
        if (mine == ours.end())
            added.emplace_back(idm, row);
        else if (!isToldKind(mine->second.kind) && isToldKind(row.kind))
            told.emplace_back(idm, row);
    }
    if (added.empty() && told.empty())
        return 0;
    const QString table = CardLibrary::cardKindTableName();
    if (ourState == CardsTableState::Missing)
        target.createTable(table, CardLibrary::cardKindTableColumns());
    Statement add = target.prepareAddRow(
        table, {QStringLiteral("idm"), QStringLiteral("kind"), QStringLiteral("checked")});
    Statement update(target, QStringLiteral("UPDATE %1 SET \"kind\"=?1, \"checked\"=?2 WHERE "
                                            "\"idm\"=?3")
                                 .arg(quoteIdentifier(table)));
    for (const auto& [idm, row] : added) {
        add.bind(1, idm);
        add.bind(2, card::cardKindKey(*row.kind));
        bindOptional(add, 3, row.checked);
        add.run();
        add.reset();
    }
    for (const auto& [idm, row] : told) {
        update.bind(1, card::cardKindKey(*row.kind));
        bindOptional(update, 2, row.checked);
        update.bind(3, idm);
        update.run();
        update.reset();
    }
    return int(added.size() + told.size());
}

QString lockedReason(const DatabaseError& error)
{
    return QStringLiteral("the history database is in use by another program (%1); try again "
                          "when it is done")
        .arg(error.message());
}

MergeReport mergeAll(Database& source, Database& target, const QStringList& cardTables)
{
    MergeReport report;
    for (const QString& table : cardTables) {
        bool isNewCard = false;
        const qint64 added = mergeCardTable(source, target, table, isNewCard);
        report.entries += added;
        report.cardsWithNewEntries += added > 0 ? 1 : 0;
        report.newCards += isNewCard ? 1 : 0;
    }
    report.stationNames = mergeNameTable(source, target, NameTable::Stations);
    report.busStopNames = mergeNameTable(source, target, NameTable::BusStops);
    report.shopNames = mergeNameTable(source, target, NameTable::Shops);
    report.nicknames = mergeCardsTable(source, target);
    report.notes = mergeNotesTable(source, target);
    report.gateTaps = mergeGateLogTable(source, target);
    report.cardKinds = mergeCardKindTable(source, target);
    return report;
}

} // namespace

MergeOutcome mergeHistoryFile(const QString& sourcePath, const QString& databasePath,
                              int busyTimeoutMs)
{
    MergeOutcome outcome;
    if (isSameFile(sourcePath, databasePath)) {
        outcome.reason = QStringLiteral("the file is the history database itself");
        return outcome;
    }
    const HistoryFileSummary summary = inspectHistoryFile(sourcePath, busyTimeoutMs);
    if (!summary.usable()) {
        outcome.reason = summary.reason;
        return outcome;
    }
    try {
        Database source = Database::open(sourcePath, Database::OpenMode::ReadOnly, busyTimeoutMs);
        // Their file stays as it was checked until the merge is done.
        source.execute(QStringLiteral("BEGIN"));
        if (!QFileInfo::exists(databasePath) && !QFileInfo(databasePath).dir().exists()) {
            outcome.reason = QStringLiteral("the data folder does not exist");
            return outcome;
        }
        Database target =
            Database::open(databasePath, Database::OpenMode::CreateIfMissing, busyTimeoutMs);
        // A damaged history is never written.
        if (const QString findings = quickCheckFindings(target); !findings.isEmpty()) {
            outcome.reason = QStringLiteral("the history database is damaged: ") + findings;
            return outcome;
        }
        try {
            Transaction transaction(target);
            outcome.report = mergeAll(source, target, summary.cardTables);
            transaction.commit();
        } catch (const DatabaseError& error) {
            const int primary = error.engineCode() & 0xFF;
            if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
                outcome.reason = lockedReason(error);
                return outcome;
            }
            throw;
        }
    } catch (const DatabaseError& error) {
        outcome.reason = error.message();
        return outcome;
    }
    outcome.merged = true;
    return outcome;
}

} // namespace ridelog
