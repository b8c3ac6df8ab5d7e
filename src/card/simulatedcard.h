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
//   service 108F                        (optional; the blocks of another service follow)
//   block 0 A0 00 25 0A 00 00 35 84 08 12 00 00 00 00 00 00
// Lines before any service line belong to the history service 090F; blocks 0 to 19 of it that
// are not listed read as 16 zero bytes. The gate log 108F has blocks 0 to 2; any other service
// the blocks up to the highest one listed. A service line without blocks gives the card that
// service with no block to read (Request Service finds it); a card has no service it does not
// list except 090F.
#pragma once

#include "card/felicaprotocol.h"

#include <QString>
#include <array>
#include <optional>
#include <vector>

namespace ridelog::card {

constexpr int kSimulatedHistoryBlocks = 20;

using SimulatedBlock = std::array<std::uint8_t, felica::kBlockSize>;

struct SimulatedService
{
    std::uint16_t code = 0;
    std::vector<SimulatedBlock> blocks;
};

struct SimulatedCard
{
    felica::Idm idm{};
    felica::Pmm pmm = felica::kDefaultPmm;
    std::array<std::array<std::uint8_t, felica::kBlockSize>, kSimulatedHistoryBlocks> blocks{};
    int maxBlocksPerRead = felica::kMaxBlocksPerRead;
    std::optional<int> failAfter;           // commands answered per placement
    std::vector<SimulatedService> services; // besides 090F, in the order of the file

    const SimulatedService* service(std::uint16_t code) const;
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
