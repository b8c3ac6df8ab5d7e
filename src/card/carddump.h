// Card dumps: the history blocks of one card, read from a file instead of from the reader.
//
// Three kinds of file are understood, told apart by their first lines:
//
// - the simulated reader's card files ("idm ..." and "block N ..." lines, see simulatedcard.h);
// - Flipper Zero NFC files of FeliCa cards ("Filetype: Flipper NFC device", "Device type:
//   FeliCa"), whose public blocks of the history service 090F are the history;
// - card block lists, the plain format written by "ridelog export --format blocks":
//
//     # Ridelog card blocks 1
//     idm<TAB>0102030405060708
//     read<TAB>2024-05-01T09:30:00Z            (optional: when the blocks were read, UTC)
//     block<TAB>6721<TAB>C746000018D93D802928FC0800001A41
//
//   One "block" line a history block: its serial in decimal, then its 16 bytes in hex. Lines
//   starting with '#' are comments; lines end in LF (a CR before it is ignored).
#pragma once

#include "card/history.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>
#include <span>
#include <vector>

namespace ridelog::card {

enum class CardDumpKind
{
    CardFile,
    FlipperNfc,
    BlockList,
};

struct CardDump
{
    CardDumpKind kind = CardDumpKind::CardFile;
    QString idmText;                  // 16 upper-case hexadecimal digits
    std::vector<HistoryBlock> blocks; // newest first, as a card read delivers them
    QDateTime readAt; // when the file says the card was read; invalid if it does not
};

struct CardDumpResult
{
    std::optional<CardDump> dump;
    int errorLine = 0; // 1-based; 0 when the fault is not on one line
    QString error;     // why the file is refused, in English for the command line
};

// Larger files are refused unread: a lifetime of history as a block list stays far below this.
constexpr qint64 kMaxCardDumpBytes = 64 * 1024 * 1024;

CardDumpResult parseCardDump(const QByteArray& text);
// Reads and parses the file; the file is only read.
CardDumpResult readCardDump(const QString& path);

QString cardDumpKindName(CardDumpKind kind);

// The block list of a card: blocks in ascending serial order.
QByteArray cardBlockListText(const QString& idmText, std::span<const HistoryBlock> blocks,
                             const QDateTime& readAt);

} // namespace ridelog::card
