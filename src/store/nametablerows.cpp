#include "store/nametablerows.h"

#include "store/historystore.h"
#include "store/schema.h"

#include <array>
#include <map>
#include <span>
#include <vector>

namespace ridelog {

namespace {

// How the rows of one name table map onto the entries of its cache. Columns are read and
// written in the table's own order: the key columns, then the texts.
template <typename Cache> struct NameRows;

template <> struct NameRows<StationNameCache>
{
    static constexpr NameTable table = NameTable::Stations;
    static constexpr int keyColumns = 3;
    static StationKey keyOf(const Statement& row, int first)
    {
        return {keyPartLow8(row.integerAt(first)), keyPartLow8(row.integerAt(first + 1)),
                keyPartLow8(row.integerAt(first + 2))};
    }
    static void bindKey(Statement& statement, const StationKey& key)
    {
        statement.bind(1, storedKeyPart(key.ac));
        statement.bind(2, storedKeyPart(key.lc));
        statement.bind(3, storedKeyPart(key.sc));
    }
    static std::array<QString*, 4> texts(NameEntry& e) { return {&e.an, &e.ln, &e.sn, &e.nm}; }
};

template <> struct NameRows<BusStopNameCache>
{
    static constexpr NameTable table = NameTable::BusStops;
    static constexpr int keyColumns = 2;
    static BusStopKey keyOf(const Statement& row, int first)
    {
        return {keyPart16(row.integerAt(first)), keyPart16(row.integerAt(first + 1))};
    }
    static void bindKey(Statement& statement, const BusStopKey& key)
    {
        statement.bind(1, storedKeyPart(key.ac));
        statement.bind(2, storedKeyPart(key.lc));
    }
    static std::array<QString*, 4> texts(NameEntry& e) { return {&e.an, &e.ln, &e.sn, &e.nm}; }
};

template <> struct NameRows<ShopNameCache>
{
    static constexpr NameTable table = NameTable::Shops;
    static constexpr int keyColumns = 3;
    static ShopKey keyOf(const Statement& row, int first)
    {
        return {keyPartLow8(row.integerAt(first)), keyPartLow8(row.integerAt(first + 1)),
                keyPart16(row.integerAt(first + 2))};
    }
    static void bindKey(Statement& statement, const ShopKey& key)
    {
        statement.bind(1, storedKeyPart(key.ac));
        statement.bind(2, storedKeyPart(key.lc));
        statement.bind(3, storedKeyPart(key.sc));
    }
    static std::array<QString*, 5> texts(ShopNameEntry& e)
    {
        return {&e.an, &e.ln, &e.sn, &e.ap, &e.nm};
    }
};

QStringList columnNames(std::span<const ColumnDefinition> columns)
{
    QStringList names;
    for (const auto& column : columns)
        names.append(column.name);
    return names;
}

template <typename Cache> void loadRows(Database& database, Cache& cache)
{
    using Rows = NameRows<Cache>;
    const QString table = nameTableName(Rows::table);
    if (!database.tableExists(table))
        return;
    Statement rows = database.prepareReadAll(table, columnNames(nameTableColumns(Rows::table)));
    if (!rows.step())
        return;
    cache.clear();
    do {
        typename Cache::EntryType read;
        int column = Rows::keyColumns;
        for (QString* text : Rows::texts(read))
            *text = rows.textAt(column++);
        // A row without any name part holds no name, only a placeholder composed from nothing;
        // leaving it out lets the key be asked for again.
        if (hasNameParts(read))
            cache.EntryFor(Rows::keyOf(rows, 0)) = read;
    } while (rows.step());
}

// Every row of the table, by the key it loads into, so each cache entry finds its rows without
// a query per entry. Rows are matched by their key as read back, which also matches the negative
// values that 16-bit key parts of 32768 and above are stored as.
template <typename Cache>
std::map<typename Cache::KeyType, std::vector<std::int64_t>> rowIdsByKey(Database& database)
{
    using Rows = NameRows<Cache>;
    std::map<typename Cache::KeyType, std::vector<std::int64_t>> rowIds;
    Statement rows =
        database.prepareReadAll(nameTableName(Rows::table), nameTableKeyColumns(Rows::table), true);
    while (rows.step())
        rowIds[Rows::keyOf(rows, 1)].push_back(rows.integerAt(0));
    return rowIds;
}

template <typename Cache> void writeBackRows(Database& database, Cache& cache)
{
    using Rows = NameRows<Cache>;
    const QString table = nameTableName(Rows::table);
    Transaction transaction(database);
    HistoryStore::EnsureNameTable(database, Rows::table);
    const auto present = rowIdsByKey<Cache>(database);
    Statement editName = database.prepareFieldEdit(table, QStringLiteral("nm"));
    Statement addRow = database.prepareAddRow(table, columnNames(nameTableColumns(Rows::table)));
    for (auto& [key, entry] : cache) {
        if (entry.nm.isEmpty() || !hasNameParts(entry))
            continue;
        const auto rows = present.find(key);
        if (rows != present.end()) {
            // Every row of the key gets the name, so the row that wins at loading has it.
            for (const std::int64_t rowId : rows->second) {
                editName.bind(1, entry.nm);
                editName.bind(2, rowId);
                editName.run();
                editName.reset();
            }
            continue;
        }
        Rows::bindKey(addRow, key);
        int parameter = Rows::keyColumns + 1;
        const auto texts = Rows::texts(entry);
        for (std::size_t i = 0; i + 1 < texts.size(); ++i)
            addRow.bindTextOrNull(parameter++, *texts[i]);
        addRow.bind(parameter, entry.nm);
        addRow.run();
        addRow.reset();
    }
    transaction.commit();
}

} // namespace

void loadNameRows(Database& database, StationNameCache& cache)
{
    loadRows(database, cache);
}

void loadNameRows(Database& database, BusStopNameCache& cache)
{
    loadRows(database, cache);
}

void loadNameRows(Database& database, ShopNameCache& cache)
{
    loadRows(database, cache);
}

void writeBackNameRows(Database& database, StationNameCache& cache)
{
    writeBackRows(database, cache);
}

void writeBackNameRows(Database& database, BusStopNameCache& cache)
{
    writeBackRows(database, cache);
}

void writeBackNameRows(Database& database, ShopNameCache& cache)
{
    writeBackRows(database, cache);
}

} // namespace ridelog
