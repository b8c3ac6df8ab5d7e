#include "namedata/namedatabase.h"

#include "namedata/checkedfile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <sqlite3.h>

namespace ridelog::nameserver {

namespace {

class Connection
{
public:
    Connection(const QString& path, int flags)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, flags, nullptr) != SQLITE_OK)
            failure_ = errorText();
    }
    ~Connection() { sqlite3_close(db_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* handle() const { return db_; }
    bool isOpen() const { return failure_.isEmpty(); }
    QString failure() const { return failure_; }
    QString errorText() const
    {
        return db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QStringLiteral("out of memory");
    }

    bool execute(const char* sql, QString* error) const
    {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
            return true;
        *error = errorText();
        return false;
    }

private:
    sqlite3* db_ = nullptr;
    QString failure_;
};

class Statement
{
public:
    Statement(const Connection& connection, const char* sql)
        : connection_(connection)
    {
        sqlite3_prepare_v2(connection.handle(), sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool isValid() const { return stmt_ != nullptr; }

    void bind(int index, int value) { sqlite3_bind_int(stmt_, index, value); }
    void bind(int index, const QString& value)
    {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(stmt_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }

    // Runs an insert; the statement is ready for the next binding afterwards.
    bool run(QString* error)
    {
        const int rc = sqlite3_step(stmt_);
        sqlite3_reset(stmt_);
        if (rc == SQLITE_DONE)
            return true;
        *error = connection_.errorText();
        return false;
    }

    // Steps a query; false at its end or on an error (see failed()).
    bool nextRow()
    {
        const int rc = sqlite3_step(stmt_);
        failed_ = rc != SQLITE_ROW && rc != SQLITE_DONE;
        return rc == SQLITE_ROW;
    }
    bool failed() const { return failed_; }

    int integer(int column) const { return sqlite3_column_int(stmt_, column); }
    QString text(int column) const
    {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return QString::fromUtf8(bytes, sqlite3_column_bytes(stmt_, column));
    }

private:
    const Connection& connection_;
    sqlite3_stmt* stmt_ = nullptr;
    bool failed_ = false;
};

// "RLNM" in the file header: a names file made by the import.
constexpr int kNamesApplicationId = 0x524C4E4D;

constexpr const char* kSchema = R"(
PRAGMA application_id = 1380732493;
CREATE TABLE rail(area INTEGER NOT NULL, line INTEGER NOT NULL, station INTEGER NOT NULL,
                  company TEXT, line_name TEXT, station_name TEXT,
                  PRIMARY KEY(area, line, station)) WITHOUT ROWID;
CREATE TABLE bus(first_code INTEGER NOT NULL, second_code INTEGER NOT NULL,
                 company TEXT, stop TEXT, route TEXT,
                 PRIMARY KEY(first_code, second_code)) WITHOUT ROWID;
CREATE TABLE shop(terminal_type INTEGER NOT NULL, code INTEGER NOT NULL,
                  company TEXT, store TEXT, cash_register TEXT, note TEXT,
                  PRIMARY KEY(terminal_type, code)) WITHOUT ROWID;
CREATE TABLE info(name TEXT PRIMARY KEY, value TEXT);
)";

bool prepared(const Statement& statement, const Connection& connection, QString* error)
{
    if (!statement.isValid())
        *error = connection.errorText();
    return statement.isValid();
}

bool writeRail(const Connection& connection, const NameDirectory& directory, QString* error)
{
    Statement insert(connection, "INSERT INTO rail VALUES(?,?,?,?,?,?)");
    if (!prepared(insert, connection, error))
        return false;
    bool ok = true;
    directory.forEachRail([&](StationKey key, const RailNames& names) {
        if (!ok)
            return;
        insert.bind(1, key.ac);
        insert.bind(2, key.lc);
        insert.bind(3, key.sc);
        insert.bind(4, names.company);
        insert.bind(5, names.line);
        insert.bind(6, names.station);
        ok = insert.run(error);
    });
    return ok;
}

bool writeBus(const Connection& connection, const NameDirectory& directory, QString* error)
{
    Statement insert(connection, "INSERT INTO bus VALUES(?,?,?,?,?)");
    if (!prepared(insert, connection, error))
        return false;
    bool ok = true;
    directory.forEachBus([&](BusStopKey key, const BusNames& names) {
        if (!ok)
            return;
        insert.bind(1, key.ac);
        insert.bind(2, key.lc);
        insert.bind(3, names.company);
        insert.bind(4, names.stop);
        insert.bind(5, names.route);
        ok = insert.run(error);
    });
    return ok;
}

bool writeShops(const Connection& connection, const NameDirectory& directory, QString* error)
{
    Statement insert(connection, "INSERT INTO shop VALUES(?,?,?,?,?,?)");
    if (!prepared(insert, connection, error))
        return false;
    bool ok = true;
    directory.forEachShop([&](ShopKey key, const ShopNames& names) {
        if (!ok)
            return;
        insert.bind(1, key.lc);
        insert.bind(2, key.sc);
        insert.bind(3, names.company);
        insert.bind(4, names.store);
        insert.bind(5, names.cashRegister);
        insert.bind(6, names.note);
        ok = insert.run(error);
    });
    return ok;
}

bool writeInfo(const Connection& connection, const QStringList& sources, QString* error)
{
    Statement insert(connection, "INSERT INTO info VALUES(?,?)");
    if (!prepared(insert, connection, error))
        return false;
    insert.bind(1, QStringLiteral("imported"));
    insert.bind(2, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    if (!insert.run(error))
        return false;
    insert.bind(1, QStringLiteral("sources"));
    insert.bind(2, sources.join(u'\n'));
    return insert.run(error);
}

// The names file as bytes: built in memory, so that it reaches the disk only through the
// checked writer, whole or not at all.
std::optional<QByteArray> namesFileBytes(const NameDirectory& directory, const QStringList& sources,
                                         QString* error)
{
    Connection connection(QStringLiteral(":memory:"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!connection.isOpen()) {
        *error = connection.failure();
        return std::nullopt;
    }
    const bool filled =
        connection.execute("BEGIN", error) && connection.execute(kSchema, error) &&
        writeRail(connection, directory, error) && writeBus(connection, directory, error) &&
        writeShops(connection, directory, error) && writeInfo(connection, sources, error) &&
        connection.execute("COMMIT", error);
    if (!filled)
        return std::nullopt;
    sqlite3_int64 size = 0;
    unsigned char* image = sqlite3_serialize(connection.handle(), "main", &size, 0);
    if (image == nullptr) {
        *error = QStringLiteral("out of memory");
        return std::nullopt;
    }
    QByteArray bytes(reinterpret_cast<const char*>(image), qsizetype(size));
    sqlite3_free(image);
    return bytes;
}

bool readRail(const Connection& connection, NameDirectory& directory)
{
    Statement query(connection, "SELECT area, line, station, company, line_name, station_name "
                                "FROM rail");
    if (!query.isValid())
        return false;
    while (query.nextRow()) {
        const StationKey key{std::uint8_t(query.integer(0)), std::uint8_t(query.integer(1)),
                             std::uint8_t(query.integer(2))};
        directory.addRail(key, {query.text(3), query.text(4), query.text(5)});
    }
    return !query.failed();
}

bool readBus(const Connection& connection, NameDirectory& directory)
{
    Statement query(connection, "SELECT first_code, second_code, company, stop, route FROM bus");
    if (!query.isValid())
        return false;
    while (query.nextRow()) {
        const BusStopKey key{std::uint16_t(query.integer(0)), std::uint16_t(query.integer(1))};
        directory.addBus(key, {query.text(2), query.text(3), query.text(4)});
    }
    return !query.failed();
}

bool readShops(const Connection& connection, NameDirectory& directory)
{
    Statement query(connection, "SELECT terminal_type, code, company, store, cash_register, note "
                                "FROM shop");
    if (!query.isValid())
        return false;
    while (query.nextRow()) {
        const ShopKey key{0, std::uint8_t(query.integer(0)), std::uint16_t(query.integer(1))};
        directory.addShop(key, {query.text(2), query.text(3), query.text(4), query.text(5)});
    }
    return !query.failed();
}

// Names files of earlier imports carry no application id; their tables and the import's own
// "imported" record tell them apart.
bool hasImportTables(const Connection& connection)
{
    Statement query(connection, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                "name IN ('rail', 'bus', 'shop', 'info')");
    if (!query.isValid() || !query.nextRow() || query.integer(0) != 4)
        return false;
    Statement imported(connection, "SELECT count(*) FROM info WHERE name = 'imported'");
    return imported.isValid() && imported.nextRow() && imported.integer(0) == 1;
}

} // namespace

bool isNameDatabaseFile(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return false;
    Connection connection(path, SQLITE_OPEN_READONLY);
    if (!connection.isOpen())
        return false;
    Statement id(connection, "PRAGMA application_id");
    if (!id.isValid() || !id.nextRow())
        return false; // not SQLite at all
    return id.integer(0) == kNamesApplicationId || hasImportTables(connection);
}

bool writeNameDatabase(const QString& path, const NameDirectory& directory,
                       const QStringList& sources, QString* error)
{
    // Only a names file is ever replaced: never a card history, a table or anything else
    // that a slip of the command line names.
    if (QFileInfo::exists(path) && !isNameDatabaseFile(path)) {
        *error = QStringLiteral("%1 is not a names file made by import; it is left as it was "
                                "(choose another file, or remove it yourself)")
                     .arg(path);
        return false;
    }
    const std::optional<QByteArray> bytes = namesFileBytes(directory, sources, error);
    if (!bytes)
        return false;
    WriteFailure failure;
    if (!writeFileChecked(path, *bytes, &failure)) {
        *error = failure.reason();
        return false;
    }
    return true;
}

std::optional<NameDirectory> readNameDatabase(const QString& path, QString* error)
{
    if (!QFile::exists(path)) {
        *error = QStringLiteral("%1: no such file").arg(path);
        return std::nullopt;
    }
    Connection connection(path, SQLITE_OPEN_READONLY);
    if (!connection.isOpen()) {
        *error = QStringLiteral("%1: %2").arg(path, connection.failure());
        return std::nullopt;
    }
    NameDirectory directory;
    if (!readRail(connection, directory) || !readBus(connection, directory) ||
        !readShops(connection, directory)) {
        *error = QStringLiteral("%1: not a name database (%2)").arg(path, connection.errorText());
        return std::nullopt;
    }
    return directory;
}

} // namespace ridelog::nameserver
