// The card read at the reader-library level: one call that polls the transit card and reads
// its 20 history blocks. The dialog's readCard calls it on "CardFind":
//
//     const CardReadResult card = readCardHistory(library, context);
//     if (!card.ok) { MessageBox::show(this, <the read-failure text>); return; }
//     currentIdm = card.idm;  idmText = card.idmText;
//     balance = card.blocks.empty() ? nothing to show : blockBalance(card.blocks[0]);
//     for (const HistoryBlock& block : card.blocks) if (!terminalTypeName(block[0]).isEmpty()) ...
//
// After the history, the same read asks the card for what else it tells (readCardExtras): the
// gate log and the kind of card. A card or reader that refuses either leaves the history read
// as it is; the refusal is a line in the log.
//
// card.blocks holds exactly the delivered blocks (card.blockCount of them), newest first as the
// card keeps them; it may hold fewer than 20 when the card has fewer history slots.
#pragma once

#include "card/cardkind.h"
#include "card/felicaprotocol.h"
#include "card/history.h"

#include <QString>
#include <optional>
#include <vector>

namespace ridelog::card {

class ReaderLibrary;
struct ReaderContext;

constexpr int kCardHistoryBlocks = 20;

struct CardReadResult
{
    bool ok = false;
    felica::Idm idm{};
    felica::Pmm pmm{};
    QString idmText; // 16 upper-case hex digits; empty when the read failed
    int blockCount = 0;
    std::vector<HistoryBlock> blocks; // blockCount blocks

    // The gate log's blocks, newest first; empty when the card did not give them.
    std::vector<HistoryBlock> gateLog;
    bool gateLogRead = false;
    // The kind of card; nullopt when the card was not asked or did not answer.
    std::optional<CardKind> kind;
};

// The gate log (service 0x108F, blocks 0 to 2) and the kind of card (one Request Service for
// the codes that tell the kinds apart), from the card the successful read card found: one
// command each. Fills card.gateLog, card.gateLogRead and card.kind.
void readCardExtras(ReaderLibrary& library, ReaderContext& context, CardReadResult& card);

// Polls for system code 00 03 (time slot 0) and reads service 0F 09, blocks 0 to 19, through
// polling_and_read_block_without_encryption, then readCardExtras. The context's cardIdBuffer
// receives the IDm.
CardReadResult readCardHistory(ReaderLibrary& library, ReaderContext& context);

} // namespace ridelog::card
