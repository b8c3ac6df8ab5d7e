// The kind of transit card (Suica, PASMO, ICOCA...). No readable field names it; what tells the
// kinds apart is which service codes a card has. Every kind has service codes no other kind
// has, so one Request Service for those codes shows which kind a card is.
//
// Only kinds whose codes were checked against real cards are told apart; for every other card,
// and for a card that shows the codes of two kinds, the kind is Unknown ("不明").
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <span>

namespace ridelog::card {

enum class CardKind
{
    Unknown,
    Suica,
    Pasmo,
    Icoca,
    Hayakaken,
    Nimoca,
};

// The service codes to ask a card for (at most one Request Service's worth).
std::span<const std::uint16_t> cardKindServiceCodes();

// The kind from the key versions the card answered for cardKindServiceCodes(), in that order;
// felica::kNoSuchNode marks a code the card lacks. Unknown for versions of another count.
CardKind cardKindFromKeyVersions(std::span<const std::uint16_t> keyVersions);

// The name shown to the user: "Suica", "PASMO", "ICOCA", "はやかけん", "nimoca" or "不明".
QString cardKindName(CardKind kind);
// The name in the window's language: the same names, an unknown kind translated.
QString cardKindShownName(CardKind kind);
// The name stored in the database: "suica", "pasmo", "icoca", "hayakaken", "nimoca", "unknown".
QString cardKindKey(CardKind kind);
std::optional<CardKind> cardKindFromKey(const QString& key);

} // namespace ridelog::card
