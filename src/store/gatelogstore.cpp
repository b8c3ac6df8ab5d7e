#include "store/gatelogstore.h"

#include "store/database.h"

#include <algorithm>
#include <array>

namespace ridelog {

namespace {

const std::array<ColumnDefinition, 3>& gateLogColumns()
{
    static const std::array<ColumnDefinition, 3> columns{{
        {QStringLiteral("idm"), ColumnType::Text255},
        {QStringLiteral("block"), ColumnType::Text255},
        {QStringLiteral("firstRead"), ColumnType::Long},
    }};
    return columns;
}

} // namespace

std::span<const ColumnDefinition> GateLogStore::tableColumns()
{
    return gateLogColumns();
}

QString GateLogStore::blockText(const HistoryBlock& block)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(block.data()), kHistoryBlockSize)
            .toHex()
            .toUpper());
}

bool GateLogStore::isEmptySlot(const HistoryBlock& block)
{
    return std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0; });
}

std::optional<HistoryBlock> GateLogStore::blockFromText(const QString& text)
{
    const QByteArray bytes = QByteArray::fromHex(text.toLatin1());
    if (text.size() != 2 * kHistoryBlockSize || bytes.size() != kHistoryBlockSize)
        return std::nullopt;
    HistoryBlock block{};
    std::copy(bytes.begin(), bytes.end(), block.begin());
    return block;
}

GateLogTableState GateLogStore::tableState(Database& database)
{
    if (!database.tableExists(tableName()))
        return GateLogTableState::Missing;
    Statement info(database,
                   QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(tableName())));
    std::size_t column = 0;
    const auto& expected = gateLogColumns();
    while (info.step()) {
        if (column >= expected.size() || info.textAt(1) != expected[column].name ||
            info.textAt(2).compare(declaredTypeName(expected[column].type), Qt::CaseInsensitive) !=
                0)
            return GateLogTableState::Unusable;
        ++column;
    }
    return column == expected.size() ? GateLogTableState::Usable : GateLogTableState::Unusable;
}

std::vector<HistoryBlock> GateLogStore::load(Database& database, const QString& idmText)
{
    std::vector<HistoryBlock> blocks;
    if (tableState(database) != GateLogTableState::Usable)
        return blocks;
    Statement rows(database,
                   QStringLiteral("SELECT \"block\" FROM %1 WHERE \"idm\"=?1 ORDER BY rowid")
                       .arg(quoteIdentifier(tableName())));
    rows.bind(1, idmText);
    while (rows.step()) {
        const auto block = blockFromText(rows.textAt(0));
        if (block && std::find(blocks.begin(), blocks.end(), *block) == blocks.end())
            blocks.push_back(*block);
    }
    return blocks;
}

int GateLogStore::store(Database& database, const QString& idmText,
                        std::span<const HistoryBlock> blocks, const QDateTime& when)
{
    if (std::all_of(blocks.begin(), blocks.end(), isEmptySlot))
        return 0;
    switch (tableState(database)) {
    case GateLogTableState::Unusable:
        return 0;
    case GateLogTableState::Missing:
        database.createTable(tableName(), gateLogColumns());
        break;
    case GateLogTableState::Usable:
        break;
    }
    Statement isStored = database.prepareExistenceQuery(
        tableName(), {QStringLiteral("idm"), QStringLiteral("block")});
    Statement addRow = database.prepareAddRow(
        tableName(), {QStringLiteral("idm"), QStringLiteral("block"), QStringLiteral("firstRead")});
    int added = 0;
    for (const HistoryBlock& block : blocks) {
        if (isEmptySlot(block))
            continue;
        const QString text = blockText(block);
        isStored.bind(1, idmText);
        isStored.bind(2, text);
        const bool stored = isStored.step();
        isStored.reset();
        if (stored)
            continue;
        addRow.bind(1, idmText);
        addRow.bind(2, text);
        addRow.bind(3, std::int64_t(when.toSecsSinceEpoch()));
        addRow.run();
        addRow.reset();
        ++added;
    }
    return added;
}

} // namespace ridelog
