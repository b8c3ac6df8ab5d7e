// The command sequences every backend shares: polling a card, and reading a list of blocks
// in chunks small enough for the card, retrying a failed chunk in smaller pieces.
#pragma once

#include "card/felicaprotocol.h"
#include "card/readerbackend.h"

#include <span>
#include <vector>

namespace ridelog::card {

struct PollOutcome
{
    TransceiveStatus status = TransceiveStatus::Error; // Ok: answer holds the card
    felica::PollingAnswer answer;
    QString error;
};

PollOutcome pollCard(ReaderBackend& backend, std::uint16_t systemCode, std::uint8_t requestCode,
                     std::uint8_t timeSlot);

// Chunk sizes of a block read: the first is the normal chunk; when a chunk fails with a status
// error, a time-out or a garbled answer it is read once more in pieces of the next smaller
// size, and so on. A single block that still fails ends the read.
struct ReadPlan
{
    std::vector<int> chunkSizes{12, 4, 1};
};

struct BlockReadOutcome
{
    bool ok = false;
    int blocksRead = 0;
    QByteArray blockData; // blocksRead * 16 bytes, in block-list order
    // The last status flags the card sent (0, 0 after a clean read).
    std::uint8_t statusFlag1 = 0;
    std::uint8_t statusFlag2 = 0;
    int commands = 0; // commands sent
    QString error;
};

// Reads the blocks of blockList (2- or 3-byte elements) from the card idm. Succeeds when every
// block was read, or when the card says a block number does not exist: the read then ends
// with the blocks before it. A card that stops answering, a lost card or a reader failure
// fails the read.
struct ServiceRequestOutcome
{
    bool ok = false;
    std::vector<std::uint16_t> keyVersions; // one per node asked for; felica::kNoSuchNode: absent
    QString error;
};

// One Request Service for nodeCodes (at most felica::kMaxNodesPerRequest) to the card idm.
ServiceRequestOutcome requestServices(ReaderBackend& backend, const felica::Idm& idm,
                                      const felica::Pmm& pmm,
                                      std::span<const std::uint16_t> nodeCodes);

BlockReadOutcome readBlocks(ReaderBackend& backend, const felica::Idm& idm, const felica::Pmm& pmm,
                            QByteArrayView serviceCodeList, QByteArrayView blockList,
                            const ReadPlan& plan = {});

} // namespace ridelog::card
