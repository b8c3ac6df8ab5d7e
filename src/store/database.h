// A small RAII layer over libsqlite3: one connection (Database), one prepared statement
// (Statement), one transaction (Transaction). Every failure throws DatabaseError carrying the
// engine's own error text, which is what the user gets to see.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <exception>
#include <span>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace ridelog {

// A failure of the database engine. message() is the engine's text (sqlite3_errmsg).
class DatabaseError : public std::exception
{
public:
    DatabaseError(int engineCode, QString message);

    int engineCode() const { return engineCode_; }
    const QString& message() const { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    int engineCode_;
    QString message_;
    QByteArray utf8_;
};

// Declared column types; each stands for one value type of the stored data.
enum class ColumnType
{
    SmallInt, // SMALLINT: signed 16-bit integers
    Text255,  // VARCHAR(255): texts
    Long,     // INTEGER: signed 32-bit integers
};

struct ColumnDefinition
{
    QString name;
    ColumnType type;
};

QString declaredTypeName(ColumnType type);

// "name" with every double quote doubled: safe for any table or column name, including the
// card tables whose names begin with a digit.
QString quoteIdentifier(const QString& name);

class Database;

// One prepared statement. Values go in through bind() only, never through the SQL text; step()
// refuses to run while any parameter is unbound. Must not outlive its Database.
class Statement
{
public:
    Statement(Database& database, const QString& sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&&) = delete;

    // Parameters are numbered from 1, as in "?1".
    void bind(int index, std::int64_t value);
    void bind(int index, const QString& text);
    void bindNull(int index);
    // The empty text is bound as Null.
    void bindTextOrNull(int index, const QString& text);

    // Runs one step: true when a row is ready, false when the statement is done.
    bool step();
    // Runs a statement that yields no row.
    void run();
    // Makes the statement ready to run again; the bound values stay.
    void reset();

    // Columns are numbered from 0. A Null reads as 0 or as the empty text.
    std::int64_t integerAt(int column) const;
    QString textAt(int column) const;
    bool isNullAt(int column) const;

private:
    [[noreturn]] void fail(int engineCode) const;
    void markBound(int index);
    void requireAllBound() const;

    sqlite3* db_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
    std::vector<bool> bound_;
};

// One open connection to a database file. Closed when destroyed.
class Database
{
public:
    enum class OpenMode
    {
        ExistingFile,    // fails when the file is missing; never creates anything
        CreateIfMissing, // creates an empty database when the file is missing
        ReadOnly         // an existing file, never written: readers beside a running window
    };

    // Opens the file and reads its schema once, so a file that is not a database (or whose
    // header is damaged) fails here, before anything is written. The file is never truncated.
    static Database open(const QString& path, OpenMode mode, int busyTimeoutMs);

    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    Database(Database&& other) noexcept;
    Database& operator=(Database&& other) noexcept;

    bool isOpen() const { return db_ != nullptr; }
    void close();

    // Runs SQL text without values (schema statements, transaction control).
    void execute(const QString& sql);

    bool tableExists(const QString& table);
    // Columns in the given order with their declared types.
    void createTable(const QString& table, std::span<const ColumnDefinition> columns);
    // Throws when the table does not exist ("no such table: ...").
    void dropTable(const QString& table);

    // "SELECT columns FROM table ORDER BY rowid": every row in table order. With withRowId the
    // row's rowid comes first, as column 0.
    Statement prepareReadAll(const QString& table, const QStringList& columns,
                             bool withRowId = false);
    // "SELECT 1 FROM table WHERE c1=?1 AND c2=?2 ... LIMIT 1": bind the values, step() tells.
    Statement prepareExistenceQuery(const QString& table, const QStringList& columns);
    // "INSERT INTO table (c1, c2, ...) VALUES (?1, ?2, ...)".
    Statement prepareAddRow(const QString& table, const QStringList& columns);
    // "UPDATE table SET column=?1 WHERE rowid=?2": edits one field of a row found before.
    Statement prepareFieldEdit(const QString& table, const QString& column);

    QString engineMessage() const;
    sqlite3* handle() const { return db_; }

private:
    explicit Database(sqlite3* db)
        : db_(db)
    {}
    [[noreturn]] void fail(int engineCode) const;

    sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE on construction; rolled back when destroyed without commit(). Taking the write
// lock at the start means a competing writer is waited for (busy time-out) before anything is
// read, so nothing that was checked can change before the commit.
class Transaction
{
public:
    explicit Transaction(Database& database);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    Database& database_;
    bool active_ = true;
};

} // namespace ridelog
