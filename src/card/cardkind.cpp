#include "card/cardkind.h"

#include "card/felicaprotocol.h"
#include "card/readertexts.h"

#include <algorithm>
#include <array>

namespace ridelog::card {

namespace {

struct KindCodes
{
    CardKind kind;
    std::uint16_t first; // index into kServiceCodes
    std::uint16_t count;
};

// The service codes only one kind of card has (each kind's codes less those of every other kind
// listed by the public tables, including the kinds left unverified: Kitaca, manaca, PiTaPa,
// SUGOCA and TOICA). Grouped by kind, in the order of kKinds.
constexpr std::array<std::uint16_t, 30> kServiceCodes{
    // Suica
    0x1808, 0x180A, 0x18C8, 0x18CA,
    // PASMO
    0x1CC8, 0x1CCA, 0x1D08, 0x1D0A,
    // ICOCA
    0x1A48, 0x1A4A, 0x1A88, 0x1A8A, 0x9608, 0x960A,
    // はやかけん
    0x2448, 0x244A, 0x2488, 0x248A, 0x24C8, 0x24CA, 0x2508, 0x250A, 0x2548, 0x254A,
    // nimoca
    0x1F48, 0x1F4A, 0x1FC8, 0x1FCA, 0x2008, 0x200A};
static_assert(kServiceCodes.size() <= std::size_t(felica::kMaxNodesPerRequest));

constexpr std::array<KindCodes, 5> kKinds{{
    {CardKind::Suica, 0, 4},
    {CardKind::Pasmo, 4, 4},
    {CardKind::Icoca, 8, 6},
    {CardKind::Hayakaken, 14, 10},
    {CardKind::Nimoca, 24, 6},
}};

} // namespace

std::span<const std::uint16_t> cardKindServiceCodes()
{
    return kServiceCodes;
}

CardKind cardKindFromKeyVersions(std::span<const std::uint16_t> keyVersions)
{
    if (keyVersions.size() != kServiceCodes.size())
        return CardKind::Unknown;
    CardKind found = CardKind::Unknown;
    for (const KindCodes& kind : kKinds) {
        const auto versions = keyVersions.subspan(kind.first, kind.count);
        const bool has = std::any_of(versions.begin(), versions.end(), [](std::uint16_t version) {
            return version != felica::kNoSuchNode;
        });
        if (!has)
            continue;
        if (found != CardKind::Unknown)
            return CardKind::Unknown; // the codes of two kinds: no telling which
        found = kind.kind;
    }
    return found;
}

QString cardKindName(CardKind kind)
{
    switch (kind) {
    case CardKind::Suica:
        return QStringLiteral("Suica");
    case CardKind::Pasmo:
        return QStringLiteral("PASMO");
    case CardKind::Icoca:
        return QStringLiteral("ICOCA");
    case CardKind::Hayakaken:
        return QStringLiteral("はやかけん");
    case CardKind::Nimoca:
        return QStringLiteral("nimoca");
    case CardKind::Unknown:
        break;
    }
    return QStringLiteral("不明");
}

QString cardKindShownName(CardKind kind)
{
    return kind == CardKind::Unknown ? ReaderTexts::tr("不明") : cardKindName(kind);
}

QString cardKindKey(CardKind kind)
{
    switch (kind) {
    case CardKind::Suica:
        return QStringLiteral("suica");
    case CardKind::Pasmo:
        return QStringLiteral("pasmo");
    case CardKind::Icoca:
        return QStringLiteral("icoca");
    case CardKind::Hayakaken:
        return QStringLiteral("hayakaken");
    case CardKind::Nimoca:
        return QStringLiteral("nimoca");
    case CardKind::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

std::optional<CardKind> cardKindFromKey(const QString& key)
{
    for (CardKind kind : {CardKind::Unknown, CardKind::Suica, CardKind::Pasmo, CardKind::Icoca,
                          CardKind::Hayakaken, CardKind::Nimoca}) {
        if (cardKindKey(kind) == key)
            return kind;
    }
    return std::nullopt;
}

} // namespace ridelog::card
