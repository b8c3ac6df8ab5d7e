#include "store/database.h"

#include <QFile>
#include <sqlite3.h>
#include <stdexcept>
#include <utility>

namespace ridelog {

namespace {

QString engineText(sqlite3* db, int engineCode)
{
    if (db != nullptr)
        return QString::fromUtf8(sqlite3_errmsg(db));
    return QString::fromUtf8(sqlite3_errstr(engineCode));
}

QString joinedIdentifiers(const QStringList& columns)
{
    QStringList quoted;
    quoted.reserve(columns.size());
    for (const auto& column : columns)
        quoted.append(quoteIdentifier(column));
    return quoted.join(QStringLiteral(", "));
}

QString parameterList(qsizetype count)
{
    QStringList parameters;
    for (qsizetype i = 1; i <= count; ++i)
        parameters.append(QStringLiteral("?%1").arg(i));
    return parameters.join(QStringLiteral(", "));
}

} // namespace

DatabaseError::DatabaseError(int engineCode, QString message)
    : engineCode_(engineCode)
    , message_(std::move(message))
    , utf8_(message_.toUtf8())
{}

QString declaredTypeName(ColumnType type)
{
    switch (type) {
    case ColumnType::SmallInt:
        return QStringLiteral("SMALLINT");
    case ColumnType::Text255:
        return QStringLiteral("VARCHAR(255)");
    case ColumnType::Long:
        return QStringLiteral("INTEGER");
    }
    return QString();
}

QString quoteIdentifier(const QString& name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// ---------------------------------------------------------------------------------- Statement

Statement::Statement(Database& database, const QString& sql)
    : db_(database.handle())
{
    if (db_ == nullptr)
        throw DatabaseError(SQLITE_MISUSE, QStringLiteral("database is not open"));
    const QByteArray text = sql.toUtf8();
    const int rc =
        sqlite3_prepare_v2(db_, text.constData(), int(text.size()), &statement_, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
        fail(rc);
    }
    bound_.assign(std::size_t(sqlite3_bind_parameter_count(statement_)), false);
}

Statement::~Statement()
{
    sqlite3_finalize(statement_);
}

Statement::Statement(Statement&& other) noexcept
    : db_(std::exchange(other.db_, nullptr))
    , statement_(std::exchange(other.statement_, nullptr))
    , bound_(std::move(other.bound_))
{}

void Statement::fail(int engineCode) const
{
    throw DatabaseError(engineCode, engineText(db_, engineCode));
}

void Statement::markBound(int index)
{
    if (index >= 1 && std::size_t(index) <= bound_.size())
        bound_[std::size_t(index - 1)] = true;
}

void Statement::requireAllBound() const
{
    for (std::size_t i = 0; i < bound_.size(); ++i) {
        if (!bound_[i])
            throw std::logic_error("statement run with an unbound parameter");
    }
}

void Statement::bind(int index, std::int64_t value)
{
    const int rc = sqlite3_bind_int64(statement_, index, value);
    if (rc != SQLITE_OK)
        fail(rc);
    markBound(index);
}

void Statement::bind(int index, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    const int rc = sqlite3_bind_text64(statement_, index, utf8.constData(),
                                       sqlite3_uint64(utf8.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK)
        fail(rc);
    markBound(index);
}

void Statement::bindNull(int index)
{
    const int rc = sqlite3_bind_null(statement_, index);
    if (rc != SQLITE_OK)
        fail(rc);
    markBound(index);
}

void Statement::bindTextOrNull(int index, const QString& text)
{
    if (text.isEmpty())
        bindNull(index);
    else
        bind(index, text);
}

bool Statement::step()
{
    requireAllBound();
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    // The statement stays usable after reset(); the error text is taken before that.
    const QString text = engineText(db_, rc);
    sqlite3_reset(statement_);
    throw DatabaseError(rc, text);
}

void Statement::run()
{
    while (step()) {
    }
}

void Statement::reset()
{
    sqlite3_reset(statement_);
}

std::int64_t Statement::integerAt(int column) const
{
    return sqlite3_column_int64(statement_, column);
}

QString Statement::textAt(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    if (text == nullptr)
        return QString();
    return QString::fromUtf8(text, sqlite3_column_bytes(statement_, column));
}

bool Statement::isNullAt(int column) const
{
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

// ----------------------------------------------------------------------------------- Database

Database Database::open(const QString& path, OpenMode mode, int busyTimeoutMs)
{
    int flags = SQLITE_OPEN_NOMUTEX;
    flags |= mode == OpenMode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    if (mode == OpenMode::CreateIfMissing)
        flags |= SQLITE_OPEN_CREATE;
    const QByteArray fileName = QFile::encodeName(path);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(fileName.constData(), &db, flags, nullptr);
    Database database(db);
    if (rc != SQLITE_OK)
        database.fail(rc);
    sqlite3_extended_result_codes(db, 0);
    sqlite3_busy_timeout(db, busyTimeoutMs);
    // A double-quoted name that matches no column must be an error, not a text literal: every
    // table and column name here is double-quoted.
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    // sqlite3_open_v2 does not look at the file; reading the schema does, so a file that is not
    // a database is recognised here and left exactly as it is.
    Statement schemaProbe(database, QStringLiteral("SELECT count(*) FROM sqlite_master"));
    schemaProbe.run();
    return database;
}

Database::~Database()
{
    close();
}

Database::Database(Database&& other) noexcept
    : db_(std::exchange(other.db_, nullptr))
{}

Database& Database::operator=(Database&& other) noexcept
{
    if (this != &other) {
        close();
        db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
}

void Database::close()
{
    if (db_ != nullptr)
        sqlite3_close_v2(std::exchange(db_, nullptr));
}

QString Database::engineMessage() const
{
    return engineText(db_, SQLITE_MISUSE);
}

void Database::fail(int engineCode) const
{
    throw DatabaseError(engineCode, engineText(db_, engineCode));
}

void Database::execute(const QString& sql)
{
    Statement statement(*this, sql);
    statement.run();
}

bool Database::tableExists(const QString& table)
{
    Statement query(*this,
                    QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1"));
    query.bind(1, table);
    return query.step();
}

void Database::createTable(const QString& table, std::span<const ColumnDefinition> columns)
{
    QStringList definitions;
    for (const auto& column : columns)
        definitions.append(quoteIdentifier(column.name) + QLatin1Char(' ') +
                           declaredTypeName(column.type));
    execute(QStringLiteral("CREATE TABLE %1 (%2)")
                .arg(quoteIdentifier(table), definitions.join(QStringLiteral(", "))));
}

void Database::dropTable(const QString& table)
{
    execute(QStringLiteral("DROP TABLE %1").arg(quoteIdentifier(table)));
}

Statement Database::prepareReadAll(const QString& table, const QStringList& columns, bool withRowId)
{
    QString selected = joinedIdentifiers(columns);
    if (withRowId)
        selected.prepend(QStringLiteral("rowid, "));
    return Statement(
        *this,
        QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(selected, quoteIdentifier(table)));
}

Statement Database::prepareExistenceQuery(const QString& table, const QStringList& columns)
{
    QStringList conditions;
    for (qsizetype i = 0; i < columns.size(); ++i)
        conditions.append(QStringLiteral("%1=?%2").arg(quoteIdentifier(columns[i])).arg(i + 1));
    return Statement(*this,
                     QStringLiteral("SELECT 1 FROM %1 WHERE %2 LIMIT 1")
                         .arg(quoteIdentifier(table), conditions.join(QStringLiteral(" AND "))));
}

Statement Database::prepareAddRow(const QString& table, const QStringList& columns)
{
    return Statement(*this, QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                .arg(quoteIdentifier(table), joinedIdentifiers(columns),
                                     parameterList(columns.size())));
}

Statement Database::prepareFieldEdit(const QString& table, const QString& column)
{
    return Statement(*this, QStringLiteral("UPDATE %1 SET %2=?1 WHERE rowid=?2")
                                .arg(quoteIdentifier(table), quoteIdentifier(column)));
}

// -------------------------------------------------------------------------------- Transaction

Transaction::Transaction(Database& database)
    : database_(database)
{
    database_.execute(QStringLiteral("BEGIN IMMEDIATE"));
}

Transaction::~Transaction()
{
    if (!active_ || !database_.isOpen())
        return;
    // A failed statement may already have ended the transaction; ROLLBACK then has nothing to do.
    sqlite3_exec(database_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit()
{
    database_.execute(QStringLiteral("COMMIT"));
    active_ = false;
}

} // namespace ridelog
