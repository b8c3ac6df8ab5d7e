#include "store/schema.h"

namespace ridelog {

namespace {

const ColumnDefinition kStationColumns[] = {
    {QStringLiteral("ac"), ColumnType::SmallInt}, {QStringLiteral("lc"), ColumnType::SmallInt},
    {QStringLiteral("sc"), ColumnType::SmallInt}, {QStringLiteral("an"), ColumnType::Text255},
    {QStringLiteral("ln"), ColumnType::Text255},  {QStringLiteral("sn"), ColumnType::Text255},
    {QStringLiteral("nm"), ColumnType::Text255},
};

const ColumnDefinition kBusStopColumns[] = {
    {QStringLiteral("ac"), ColumnType::SmallInt}, {QStringLiteral("lc"), ColumnType::SmallInt},
    {QStringLiteral("an"), ColumnType::Text255},  {QStringLiteral("ln"), ColumnType::Text255},
    {QStringLiteral("sn"), ColumnType::Text255},  {QStringLiteral("nm"), ColumnType::Text255},
};

const ColumnDefinition kShopColumns[] = {
    {QStringLiteral("ac"), ColumnType::SmallInt}, {QStringLiteral("lc"), ColumnType::SmallInt},
    {QStringLiteral("sc"), ColumnType::SmallInt}, {QStringLiteral("an"), ColumnType::Text255},
    {QStringLiteral("ln"), ColumnType::Text255},  {QStringLiteral("sn"), ColumnType::Text255},
    {QStringLiteral("ap"), ColumnType::Text255},  {QStringLiteral("nm"), ColumnType::Text255},
};

const ColumnDefinition kCardColumns[] = {
    {QStringLiteral("seq"), ColumnType::Long}, {QStringLiteral("b1"), ColumnType::Long},
    {QStringLiteral("b2"), ColumnType::Long},  {QStringLiteral("b3"), ColumnType::Long},
    {QStringLiteral("b4"), ColumnType::Long},
};

const ColumnDefinition kCardsColumns[] = {
    {QStringLiteral("idm"), ColumnType::Text255},
    {QStringLiteral("nickname"), ColumnType::Text255},
    {QStringLiteral("firstRead"), ColumnType::Long},
    {QStringLiteral("lastRead"), ColumnType::Long},
};

} // namespace

QString cardsTableName()
{
    return QStringLiteral("cards");
}

std::span<const ColumnDefinition> cardsTableColumns()
{
    return kCardsColumns;
}

QString nameTableName(NameTable table)
{
    switch (table) {
    case NameTable::Stations:
        return QStringLiteral("ipn");
    case NameTable::BusStops:
        return QStringLiteral("bus");
    case NameTable::Shops:
        return QStringLiteral("bpn");
    }
    return QString();
}

std::span<const ColumnDefinition> nameTableColumns(NameTable table)
{
    switch (table) {
    case NameTable::Stations:
        return kStationColumns;
    case NameTable::BusStops:
        return kBusStopColumns;
    case NameTable::Shops:
        return kShopColumns;
    }
    return {};
}

QStringList nameTableKeyColumns(NameTable table)
{
    if (table == NameTable::BusStops)
        return {QStringLiteral("ac"), QStringLiteral("lc")};
    return {QStringLiteral("ac"), QStringLiteral("lc"), QStringLiteral("sc")};
}

QString CardTableName(const QString& idmText)
{
    return QLatin1Char('2') + idmText;
}

std::span<const ColumnDefinition> cardTableColumns()
{
    return kCardColumns;
}

QStringList cardBlockColumns()
{
    return {QStringLiteral("b1"), QStringLiteral("b2"), QStringLiteral("b3"), QStringLiteral("b4")};
}

BlockWords blockWords(const HistoryBlock& block)
{
    BlockWords words{};
    for (std::size_t w = 0; w < words.size(); ++w) {
        const std::size_t at = w * 4;
        const std::uint32_t word = std::uint32_t(block[at]) | (std::uint32_t(block[at + 1]) << 8) |
                                   (std::uint32_t(block[at + 2]) << 16) |
                                   (std::uint32_t(block[at + 3]) << 24);
        words[w] = std::int32_t(word);
    }
    return words;
}

HistoryBlock blockFromWords(const BlockWords& words)
{
    HistoryBlock block{};
    for (std::size_t w = 0; w < words.size(); ++w) {
        const auto word = std::uint32_t(words[w]);
        for (std::size_t b = 0; b < 4; ++b)
            block[w * 4 + b] = std::uint8_t(word >> (8 * b));
    }
    return block;
}

QString cardRowSerialSql()
{
    return QStringLiteral("(((\"b4\" & 255) << 16) | (\"b4\" & 65280) | ((\"b4\" >> 16) & 255))");
}

} // namespace ridelog
