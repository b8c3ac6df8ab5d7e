#include "store/notestore.h"

#include "store/database.h"
#include "store/ownedschema.h"
#include "store/schema.h"

#include <QFileInfo>
#include <array>
#include <sqlite3.h>

namespace ridelog {

namespace {

const QString kNotesTable = QStringLiteral("notes");

constexpr int kEngineBusy = 5;   // SQLITE_BUSY
constexpr int kEngineLocked = 6; // SQLITE_LOCKED

const std::array<ColumnDefinition, 5>& notesColumns()
{
    static const std::array<ColumnDefinition, 5> columns{{
        {QStringLiteral("idm"), ColumnType::Text255},
        {QStringLiteral("seq"), ColumnType::Long},
        {QStringLiteral("purpose"), ColumnType::Text255},
        {QStringLiteral("claim"), ColumnType::Long},
        {QStringLiteral("updated"), ColumnType::Long},
    }};
    return columns;
}

// The serial of a stored history row, from b4 (bytes 12-15 little-endian).
const QString kSerialOfRow =
    QStringLiteral("(((\"b4\" & 255) << 16) | (\"b4\" & 65280) | ((\"b4\" >> 16) & 255))");

// Characters that change the direction of the text around them without being seen: a purpose
// holding one could show another text on the claim form than the one typed.
bool isDirectionControl(char32_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

bool isLineBreakOrTab(char32_t c)
{
    return c == u'\t' || c == u'\n' || c == u'\r' || c == 0x0B || c == 0x0C || c == 0x85 ||
           c == 0x2028 || c == 0x2029;
}

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

NoteWriteOutcome failure(const DatabaseError& error)
{
    const bool locked = error.engineCode() == kEngineBusy || error.engineCode() == kEngineLocked;
    return {locked ? NoteWriteResult::Locked : NoteWriteResult::Failed, error.message(), 0};
}

bool ensureNotesTable(Database& database)
{
    switch (NoteStore::notesTableState(database)) {
    case NotesTableState::Usable:
        return true;
    case NotesTableState::Unusable:
        return false;
    case NotesTableState::Missing:
        break;
    }
    database.createTable(kNotesTable, notesColumns());
    return true;
}

bool isStoredSerial(Database& database, const QString& cardTable, std::uint32_t serial)
{
    Statement query(database, QStringLiteral("SELECT 1 FROM %1 WHERE %2=?1 LIMIT 1")
                                  .arg(quoteIdentifier(cardTable), kSerialOfRow));
    query.bind(1, std::int64_t(serial));
    return query.step();
}

// The note of one serial as stored; the first row of a serial counts.
std::optional<JourneyNote> storedNote(Database& database, const QString& idmText,
                                      std::uint32_t serial)
{
    Statement query(database,
                    QStringLiteral("SELECT \"purpose\", \"claim\" FROM %1 WHERE \"idm\"=?1 AND "
                                   "\"seq\"=?2 ORDER BY rowid LIMIT 1")
                        .arg(quoteIdentifier(kNotesTable)));
    query.bind(1, idmText);
    query.bind(2, std::int64_t(serial));
    if (!query.step())
        return std::nullopt;
    return JourneyNote{query.textAt(0), query.integerAt(1) != 0, 0};
}

void removeNote(Database& database, const QString& idmText, std::uint32_t serial)
{
    Statement remove(database, QStringLiteral("DELETE FROM %1 WHERE \"idm\"=?1 AND \"seq\"=?2")
                                   .arg(quoteIdentifier(kNotesTable)));
    remove.bind(1, idmText);
    remove.bind(2, std::int64_t(serial));
    remove.run();
}

void addNote(Database& database, const QString& idmText, std::uint32_t serial,
             const JourneyNote& note)
{
    Statement add = database.prepareAddRow(
        kNotesTable, {QStringLiteral("idm"), QStringLiteral("seq"), QStringLiteral("purpose"),
                      QStringLiteral("claim"), QStringLiteral("updated")});
    add.bind(1, idmText);
    add.bind(2, std::int64_t(serial));
    add.bindTextOrNull(3, note.purpose);
    add.bind(4, note.claimed ? 1 : 0);
    add.bind(5, note.updated);
    add.run();
}

template <typename Result, typename Operation>
Result onExistingFile(const QString& path, int busyTimeoutMs, Result missing, Operation operation)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return missing;
    Database database = Database::open(path, Database::OpenMode::ExistingFile, busyTimeoutMs);
    // Another program's file is neither read for notes nor written.
    if (const std::optional<QString> foreign = foreignSchemaReason(database))
        throw DatabaseError(SQLITE_NOTADB,
                            QStringLiteral("not a Ridelog history file: ") + *foreign);
    return operation(database);
}

} // namespace

QString cleanPurpose(const QString& text)
{
    QString cleaned;
    cleaned.reserve(std::min<qsizetype>(text.size(), kPurposeMaxLength * 2));
    for (const char32_t c : text.toUcs4()) {
        if (isLineBreakOrTab(c))
            cleaned += u' ';
        else if (!isControl(c) && !isDirectionControl(c) && c != 0xFEFF)
            cleaned += QString::fromUcs4(&c, 1);
    }
    cleaned = cleaned.trimmed();
    // Cut by characters, never inside a surrogate pair.
    int characters = 0;
    for (qsizetype i = 0; i < cleaned.size(); ++i) {
        if (cleaned[i].isLowSurrogate())
            continue;
        if (++characters > kPurposeMaxLength) {
            cleaned.truncate(i);
            return cleaned.trimmed();
        }
    }
    return cleaned;
}

NoteStore::NoteStore(QString databasePath, int busyTimeoutMs)
    : path_(std::move(databasePath))
    , busyTimeoutMs_(busyTimeoutMs)
{}

LoadedNotes NoteStore::notesOf(const QString& idmText) const
{
    try {
        return onExistingFile(path_, busyTimeoutMs_, LoadedNotes{},
                              [&](Database& database) { return notesOf(database, idmText); });
    } catch (const DatabaseError&) {
        return LoadedNotes{{}, false};
    }
}

NoteWriteOutcome NoteStore::setNotes(const QString& idmText, std::span<const std::uint32_t> serials,
                                     const NoteChange& change, qint64 nowUtc)
{
    try {
        return onExistingFile(path_, busyTimeoutMs_,
                              NoteWriteOutcome{NoteWriteResult::NoDatabase, {}, 0},
                              [&](Database& database) {
                                  return setNotes(database, idmText, serials, change, nowUtc);
                              });
    } catch (const DatabaseError& error) {
        return failure(error);
    }
}

int NoteStore::noteCount(const QString& idmText) const
{
    try {
        return onExistingFile(path_, busyTimeoutMs_, 0,
                              [&](Database& database) { return noteCount(database, idmText); });
    } catch (const DatabaseError&) {
        return 0;
    }
}

std::span<const ColumnDefinition> NoteStore::notesTableColumns()
{
    return notesColumns();
}

QString NoteStore::notesTableName()
{
    return kNotesTable;
}

NotesTableState NoteStore::notesTableState(Database& database)
{
    try {
        // Anything else of that name (a view, an index) is not ours either.
        Statement kind(database, QStringLiteral("SELECT type FROM sqlite_master WHERE name=?1"));
        kind.bind(1, kNotesTable);
        if (!kind.step())
            return NotesTableState::Missing;
        if (kind.textAt(0) != u"table")
            return NotesTableState::Unusable;
        Statement info(database,
                       QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(kNotesTable));
        QStringList names;
        while (info.step())
            names.append(info.textAt(0));
        QStringList expected;
        for (const auto& column : notesColumns())
            expected.append(column.name);
        if (names != expected)
            return NotesTableState::Unusable;
        // Counting the rows reads every page of the table, so damage shows here.
        Statement probe(
            database, QStringLiteral("SELECT COUNT(*) FROM %1").arg(quoteIdentifier(kNotesTable)));
        probe.step();
        return NotesTableState::Usable;
    } catch (const DatabaseError&) {
        return NotesTableState::Unusable;
    }
}

LoadedNotes NoteStore::notesOf(Database& database, const QString& idmText)
{
    LoadedNotes loaded;
    switch (notesTableState(database)) {
    case NotesTableState::Missing:
        return loaded;
    case NotesTableState::Unusable:
        loaded.available = false;
        return loaded;
    case NotesTableState::Usable:
        break;
    }
    try {
        Statement rows(database,
                       QStringLiteral("SELECT \"seq\", \"purpose\", \"claim\", \"updated\" FROM %1 "
                                      "WHERE \"idm\"=?1 ORDER BY rowid")
                           .arg(quoteIdentifier(kNotesTable)));
        rows.bind(1, idmText);
        while (rows.step()) {
            const std::int64_t serial = rows.integerAt(0);
            if (serial < 0 || serial > 0xFFFFFF)
                continue;
            // The first row of a serial counts; what came in from outside is cleaned again.
            loaded.notes.try_emplace(std::uint32_t(serial),
                                     JourneyNote{cleanPurpose(rows.textAt(1)),
                                                 rows.integerAt(2) != 0, rows.integerAt(3)});
        }
    } catch (const DatabaseError&) {
        return LoadedNotes{{}, false};
    }
    return loaded;
}

NoteWriteOutcome NoteStore::setNotes(Database& database, const QString& idmText,
                                     std::span<const std::uint32_t> serials,
                                     const NoteChange& change, qint64 nowUtc)
{
    try {
        Transaction transaction(database);
        const QString cardTable = CardTableName(idmText);
        const bool hasHistory = database.tableExists(cardTable);
        for (const std::uint32_t serial : serials) {
            if (!hasHistory || !isStoredSerial(database, cardTable, serial))
                return {NoteWriteResult::UnknownEntry, {}, serial};
        }
        if (!ensureNotesTable(database))
            return {NoteWriteResult::TableUnusable, {}, 0};
        const std::optional<QString> purpose =
            change.purpose ? std::optional<QString>(cleanPurpose(*change.purpose)) : std::nullopt;
        for (const std::uint32_t serial : serials) {
            JourneyNote note = storedNote(database, idmText, serial).value_or(JourneyNote{});
            if (purpose)
                note.purpose = *purpose;
            if (change.claimed)
                note.claimed = *change.claimed;
            note.updated = nowUtc;
            removeNote(database, idmText, serial);
            if (!note.isEmpty())
                addNote(database, idmText, serial, note);
        }
        transaction.commit();
        return {NoteWriteResult::Written, {}, 0};
    } catch (const DatabaseError& error) {
        return failure(error);
    }
}

int NoteStore::noteCount(Database& database, const QString& idmText)
{
    if (notesTableState(database) != NotesTableState::Usable)
        return 0;
    try {
        Statement count(database, QStringLiteral("SELECT COUNT(DISTINCT \"seq\") FROM %1 WHERE "
                                                 "\"idm\"=?1")
                                      .arg(quoteIdentifier(kNotesTable)));
        count.bind(1, idmText);
        return count.step() ? int(count.integerAt(0)) : 0;
    } catch (const DatabaseError&) {
        return 0;
    }
}

int NoteStore::deleteNotes(Database& database, const QString& idmText)
{
    const int count = noteCount(database, idmText);
    if (count == 0)
        return 0;
    Statement remove(
        database,
        QStringLiteral("DELETE FROM %1 WHERE \"idm\"=?1").arg(quoteIdentifier(kNotesTable)));
    remove.bind(1, idmText);
    remove.run();
    return count;
}

} // namespace ridelog
