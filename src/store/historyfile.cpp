#include "store/historyfile.h"

#include "store/cardlibrary.h"
#include "store/databaseproblem.h"
#include "store/ownedschema.h"
#include "store/schema.h"

#include <QFileInfo>
#include <sqlite3.h>
#include <sys/stat.h>

namespace ridelog {

namespace {

QStringList tablesOf(Database& database)
{
    Statement tables(database, QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' "
                                              "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                                              "ORDER BY name"));
    QStringList names;
    while (tables.step())
        names.append(tables.textAt(0));
    return names;
}

QDate dateOfWord(std::int64_t b2)
{
    const auto high = std::uint8_t(b2 & 0xFF);
    const auto low = std::uint8_t((b2 >> 8) & 0xFF);
    return QDate(2000 + (high >> 1), (high & 1) * 8 + (low >> 5), low & 0x1F);
}

void countHistory(Database& database, HistoryFileSummary& summary)
{
    const QString serial = cardRowSerialSql();
    for (const QString& table : summary.cardTables) {
        Statement count(database, QStringLiteral("SELECT COUNT(DISTINCT %1) FROM %2")
                                      .arg(serial, quoteIdentifier(table)));
        if (count.step())
            summary.entries += count.integerAt(0);
        Statement newest(database, QStringLiteral("SELECT \"b2\" FROM %2 ORDER BY %1 DESC LIMIT 1")
                                       .arg(serial, quoteIdentifier(table)));
        if (newest.step()) {
            const QDate date = dateOfWord(newest.integerAt(0));
            if (date.isValid() &&
                (!summary.newestEntryDate.isValid() || date > summary.newestEntryDate))
                summary.newestEntryDate = date;
        }
    }
}

HistoryFileState stateOfError(const DatabaseError& error)
{
    switch (error.engineCode() & 0xFF) {
    case SQLITE_NOTADB:
        return HistoryFileState::NotDatabase;
    case SQLITE_CORRUPT:
        return HistoryFileState::Damaged;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return HistoryFileState::Locked;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        return HistoryFileState::Missing;
    case SQLITE_READONLY: // a change left unfinished, which only a writer can roll back
        return HistoryFileState::Locked;
    default:
        return HistoryFileState::Damaged;
    }
}

// Why a file that SQLite refused cannot be used, for the user who chose it.
QString reasonOfError(HistoryFileState state, const DatabaseError& error)
{
    switch (state) {
    case HistoryFileState::NotDatabase:
        return QStringLiteral("not a database: ") + error.message();
    case HistoryFileState::Missing:
        return QStringLiteral("cannot be opened: ") + error.message();
    case HistoryFileState::Locked:
        return (error.engineCode() & 0xFF) == SQLITE_READONLY
                   ? QStringLiteral("a change to it was cut short; the program that keeps it "
                                    "must open it once first: ") +
                         error.message()
                   : QStringLiteral("another program is writing it: ") + error.message();
    default:
        return QStringLiteral("the file is damaged: ") + error.message();
    }
}

} // namespace

QString foreignTablesReason(Database& database)
{
    bool anyHistoryTable = false;
    for (const QString& table : tablesOf(database)) {
        for (const OwnedTable& owned : ownedTables()) {
            if (owned.role == TableRole::History && owned.matches(table, Qt::CaseSensitive))
                anyHistoryTable = true;
        }
    }
    if (const std::optional<QString> reason = foreignSchemaReason(database))
        return *reason;
    if (!anyHistoryTable)
        return QStringLiteral("it holds no tables of a Ridelog history");
    return QString();
}

QString quickCheckFindings(Database& database)
{
    Statement check(database, QStringLiteral("PRAGMA quick_check(20)"));
    QStringList lines;
    while (check.step())
        lines.append(check.textAt(0));
    if (lines == QStringList{QStringLiteral("ok")})
        return QString();
    return lines.join(u'\n');
}

HistoryFileSummary inspectHistoryFile(const QString& path, int busyTimeoutMs)
{
    HistoryFileSummary summary;
    const QFileInfo info(path);
    if (!info.exists()) {
        summary.reason = QStringLiteral("no such file");
        return summary;
    }
    if (!info.isFile()) {
        summary.reason = QStringLiteral("not a regular file");
        return summary;
    }
    try {
        Database database = Database::open(path, Database::OpenMode::ReadOnly, busyTimeoutMs);
        // One read transaction: what is checked and counted is one state of the file.
        database.execute(QStringLiteral("BEGIN"));
        const QString findings = quickCheckFindings(database);
        if (!findings.isEmpty()) {
            summary.state = HistoryFileState::Damaged;
            summary.reason = QStringLiteral("the file is damaged: ") + findings;
            return summary;
        }
        const QString foreign = foreignTablesReason(database);
        if (!foreign.isEmpty()) {
            summary.state = HistoryFileState::Foreign;
            summary.reason = QStringLiteral("not a Ridelog history: ") + foreign;
            return summary;
        }
        for (const QString& table : tablesOf(database)) {
            if (CardLibrary::idmOfCardTable(table).isEmpty())
                summary.otherTables.append(table);
            else
                summary.cardTables.append(table);
        }
        summary.cards = int(summary.cardTables.size());
        countHistory(database, summary);
        database.execute(QStringLiteral("COMMIT"));
        summary.state = HistoryFileState::Usable;
    } catch (const DatabaseError& error) {
        summary.state = stateOfError(error);
        summary.reason = reasonOfError(summary.state, error);
    }
    return summary;
}

bool isSameFile(const QString& a, const QString& b)
{
    struct stat first
    {};
    struct stat second
    {};
    if (::stat(QFile::encodeName(a).constData(), &first) != 0 ||
        ::stat(QFile::encodeName(b).constData(), &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace ridelog
