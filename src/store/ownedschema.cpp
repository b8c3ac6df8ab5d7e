#include "store/ownedschema.h"

#include "store/cardlibrary.h"
#include "store/gatelogstore.h"
#include "store/notestore.h"
#include "store/schema.h"

#include <QStringList>

namespace ridelog {

namespace {

bool isUpperHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
}

bool isCardTableName(const QString& name, Qt::CaseSensitivity sensitivity)
{
    if (name.size() != 17 || name.front() != u'2')
        return false;
    for (qsizetype i = 1; i < name.size(); ++i) {
        const QChar c = sensitivity == Qt::CaseSensitive ? name[i] : name[i].toUpper();
        if (!isUpperHexDigit(c))
            return false;
    }
    return true;
}

struct SchemaObject
{
    QString type; // table, view, index, trigger
    QString name;
};

std::vector<SchemaObject> schemaObjects(Database& database)
{
    std::vector<SchemaObject> objects;
    Statement rows(database, QStringLiteral("SELECT type, name FROM sqlite_master"));
    while (rows.step()) {
        const QString name = rows.textAt(1);
        // The engine's own tables (sqlite_sequence, sqlite_stat1) belong to every file.
        if (!name.startsWith(QStringLiteral("sqlite_"), Qt::CaseInsensitive))
            objects.push_back({rows.textAt(0), name});
    }
    return objects;
}

struct Column
{
    QString name;
    QString type;
};

std::vector<Column> columnsOf(Database& database, const QString& table)
{
    std::vector<Column> columns;
    Statement info(database, QStringLiteral("SELECT name, type FROM pragma_table_info(?1)"));
    info.bind(1, table);
    while (info.step())
        columns.push_back({info.textAt(0), info.textAt(1)});
    return columns;
}

bool hasExactColumns(const std::vector<Column>& found, std::span<const ColumnDefinition> expected)
{
    if (found.size() != expected.size())
        return false;
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (found[i].name != expected[i].name ||
            found[i].type.compare(declaredTypeName(expected[i].type), Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

QString columnList(const std::vector<Column>& columns)
{
    QStringList names;
    for (const Column& column : columns)
        names.append(column.type.isEmpty() ? column.name : column.name + u' ' + column.type);
    return names.isEmpty() ? QStringLiteral("no columns") : names.join(QStringLiteral(", "));
}

QString columnList(std::span<const ColumnDefinition> columns)
{
    QStringList names;
    for (const ColumnDefinition& column : columns)
        names.append(column.name + u' ' + declaredTypeName(column.type));
    return names.join(QStringLiteral(", "));
}

const OwnedTable* ownedTableNamed(const QString& name, Qt::CaseSensitivity sensitivity)
{
    for (const OwnedTable& table : ownedTables()) {
        if (table.matches(name, sensitivity))
            return &table;
    }
    return nullptr;
}

} // namespace

bool OwnedTable::matches(const QString& tableName, Qt::CaseSensitivity sensitivity) const
{
    if (isCardTables)
        return isCardTableName(tableName, sensitivity);
    return tableName.compare(name, sensitivity) == 0;
}

const std::vector<OwnedTable>& ownedTables()
{
    static const std::vector<OwnedTable> tables{
        {nameTableName(NameTable::Stations), false, nameTableColumns(NameTable::Stations),
         TableRole::History},
        {nameTableName(NameTable::BusStops), false, nameTableColumns(NameTable::BusStops),
         TableRole::History},
        {nameTableName(NameTable::Shops), false, nameTableColumns(NameTable::Shops),
         TableRole::History},
        {QStringLiteral("2"), true, cardTableColumns(), TableRole::History},
        {cardsTableName(), false, cardsTableColumns(), TableRole::Addition},
        {NoteStore::notesTableName(), false, NoteStore::notesTableColumns(), TableRole::Addition},
        {GateLogStore::tableName(), false, GateLogStore::tableColumns(), TableRole::Addition},
        {CardLibrary::cardKindTableName(), false, CardLibrary::cardKindTableColumns(),
         TableRole::Addition},
    };
    return tables;
}

std::optional<QString> foreignSchemaReason(Database& database)
{
    const std::vector<SchemaObject> objects = schemaObjects(database);
    bool anyTable = false;
    bool anyOwned = false;
    for (const SchemaObject& object : objects) {
        const bool isTable = object.type == u"table";
        anyTable = anyTable || isTable;
        const OwnedTable* owned = ownedTableNamed(object.name, Qt::CaseInsensitive);
        if (owned == nullptr)
            continue; // a table, view or index of the user's own
        if (!isTable) {
            // An addition's own code finds no table of its name and leaves the object alone.
            if (owned->role == TableRole::Addition)
                continue;
            return QStringLiteral("a %1 is named %2, the name of a table of the history")
                .arg(object.type, object.name);
        }
        if (!owned->matches(object.name, Qt::CaseSensitive))
            return QStringLiteral("a table is named %1, which differs from a table of the "
                                  "history in letter case only")
                .arg(object.name);
        const std::vector<Column> columns = columnsOf(database, object.name);
        if (hasExactColumns(columns, owned->columns)) {
            anyOwned = true;
            continue;
        }
        if (owned->role == TableRole::History)
            return QStringLiteral("the table %1 has the columns %2 instead of %3")
                .arg(object.name, columnList(columns), columnList(owned->columns));
    }
    if (anyTable && !anyOwned)
        return QStringLiteral("it holds tables of another program and none of the history");
    return std::nullopt;
}

} // namespace ridelog
