// A transit card kept in a text file, and how such a card answers FeliCa command frames.
//
// Card file (UTF-8, one item a line, '#' starts a comment, hex digits in either case, blanks
// allowed between bytes):
//   idm 0102030405060708
//   pmm 100B4B428485D0FF                (optional; this is the default)
//   block 0 C746000018D93D802928FC0800002200
//   block 1 C7 46 00 00 18 D8 AB A0 29 27 92 09 00 00 21 00
//   max-blocks-per-read 15              (optional; more blocks in one read get status FF A2)
//   fail-after 3                        (optional; the card stops answering after 3 commands)
// Blocks 0 to 19 that are not listed read as 16 zero bytes.
#pragma once

#include "card/felicaprotocol.h"

#include <QString>
#include <array>
#include <optional>

namespace ridelog::card {

constexpr int kSimulatedHistoryBlocks = 20;

struct SimulatedCard
{
    felica::Idm idm{};
    felica::Pmm pmm = felica::kDefaultPmm;
    std::array<std::array<std::uint8_t, felica::kBlockSize>, kSimulatedHistoryBlocks> blocks{};
    int maxBlocksPerRead = felica::kMaxBlocksPerRead;
    std::optional<int> failAfter; // commands answered per placement
};

struct CardFileResult
{
    std::optional<SimulatedCard> card;
    int errorLine = 0; // 1-based; 0 when the fault is not on one line (no idm)
    QString error;
};

CardFileResult parseCardFile(const QByteArray& text);

// The card's answer to one command frame, or nullopt when a real card would stay silent
// (a frame it cannot parse, another system code, another card's IDm, an unknown command).
std::optional<QByteArray> answerCommand(const SimulatedCard& card, QByteArrayView frame);

} // namespace ridelog::card
