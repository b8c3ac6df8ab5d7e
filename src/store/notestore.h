// Notes on history entries: why a journey was made (its purpose) and whether it is claimed as
// an expense. A note belongs to the entry of a card, keyed by the card and the entry's serial,
// so it outlives every read, sorting and search of the list.
//
//   notes  idm VARCHAR(255), seq INTEGER, purpose VARCHAR(255), claim INTEGER, updated INTEGER
//          (claim 0 or 1; updated in seconds since 1970 UTC)
//
// The notes table is an addition beside the card and name tables and never touches them. It is
// created by the first note, never at start-up. A notes table that cannot be read, or that has
// other columns, is left exactly as it is: no note is shown and none can be written, and the
// rest of the program goes on without notes.
//
// Every operation opens the database file for itself and closes it at its end; a missing file
// is never created here (a note needs a stored entry, so the file is there).
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <span>

namespace ridelog {

class Database;
struct ColumnDefinition;

// The most characters a purpose keeps.
constexpr int kPurposeMaxLength = 200;

// The purpose as it is stored: control characters and the invisible characters that turn the
// direction of text go; a line break or tab becomes a blank; blanks around are trimmed; cut to
// kPurposeMaxLength characters (a character outside the BMP counts once and is never halved).
QString cleanPurpose(const QString& text);

struct JourneyNote
{
    QString purpose;
    bool claimed = false;
    qint64 updated = 0; // seconds since 1970 UTC

    bool isEmpty() const { return purpose.isEmpty() && !claimed; }
};

// The notes of one card by serial.
using CardNotes = std::map<std::uint32_t, JourneyNote>;

// What to change on a note; an absent field stays as it is.
struct NoteChange
{
    std::optional<QString> purpose; // cleaned before it is stored
    std::optional<bool> claimed;
};

enum class NotesTableState
{
    Missing,
    Usable,
    Unusable // damaged, or other columns: left alone
};

enum class NoteWriteResult
{
    Written,
    NoDatabase,    // no database file
    UnknownEntry,  // a serial the card's history table does not hold: nothing written
    TableUnusable, // the notes table is damaged or not ours: nothing written
    Locked,        // another program holds the write lock beyond the busy time-out
    Failed,        // any other failure of the engine (full disk, read-only file, ...)
};

struct NoteWriteOutcome
{
    NoteWriteResult result = NoteWriteResult::Failed;
    QString engineText; // the engine's text behind Locked and Failed
    std::uint32_t unknownSerial = 0;

    bool written() const { return result == NoteWriteResult::Written; }
};

// Notes of a card as loaded: nothing when the notes table is unusable (or the file cannot be
// read), so the caller can tell "no notes" from "notes not available".
struct LoadedNotes
{
    CardNotes notes;
    bool available = true;
};

class NoteStore
{
public:
    static constexpr int kDefaultBusyTimeoutMs = 3000;

    explicit NoteStore(QString databasePath = QString(), int busyTimeoutMs = kDefaultBusyTimeoutMs);

    void setDatabasePath(const QString& path) { path_ = path; }
    const QString& databasePath() const { return path_; }

    // Every note of the card; empty (and available) without a notes table or a file.
    LoadedNotes notesOf(const QString& idmText) const;
    // Applies one change to the notes of the given serials of the card, in one transaction:
    // every serial must be stored in the card's history table, or nothing is written. A note
    // left with neither purpose nor claim mark is removed. updated is set to nowUtc.
    NoteWriteOutcome setNotes(const QString& idmText, std::span<const std::uint32_t> serials,
                              const NoteChange& change, qint64 nowUtc);
    // How many notes the card has (0 without a usable notes table).
    int noteCount(const QString& idmText) const;

    // ---- Steps on an open database
    static NotesTableState notesTableState(Database& database);
    static LoadedNotes notesOf(Database& database, const QString& idmText);
    static NoteWriteOutcome setNotes(Database& database, const QString& idmText,
                                     std::span<const std::uint32_t> serials,
                                     const NoteChange& change, qint64 nowUtc);
    static int noteCount(Database& database, const QString& idmText);
    // Removes every note of the card (history cleared); a missing or unusable table is left
    // alone. The caller holds the transaction. Returns the number removed.
    static int deleteNotes(Database& database, const QString& idmText);
    static QString notesTableName();
    static std::span<const ColumnDefinition> notesTableColumns();

private:
    QString path_;
    int busyTimeoutMs_;
};

} // namespace ridelog
