// FeliCa command frames shared by every reader backend: building Polling and Read Without
// Encryption commands, checking and parsing their responses, and the response time-outs a
// card announces in its PMm. Pure functions over bytes; nothing here talks to a device.
//
// Every frame starts with its length byte, which counts the whole frame including itself.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ridelog::card::felica {

using Idm = std::array<std::uint8_t, 8>;
using Pmm = std::array<std::uint8_t, 8>;

constexpr std::uint8_t kPollingCommand = 0x00;
constexpr std::uint8_t kPollingResponse = 0x01;
constexpr std::uint8_t kReadWithoutEncryptionCommand = 0x06;
constexpr std::uint8_t kReadWithoutEncryptionResponse = 0x07;
constexpr std::uint8_t kRequestServiceCommand = 0x02;
constexpr std::uint8_t kRequestServiceResponse = 0x03;

constexpr int kBlockSize = 16;
// A Read Without Encryption carries at most this many blocks.
constexpr int kMaxBlocksPerRead = 15;
constexpr int kMaxServicesPerRead = 16;
// A Request Service asks for at most this many nodes (areas or services).
constexpr int kMaxNodesPerRequest = 32;
// The key version a card answers for a node it does not have.
constexpr std::uint16_t kNoSuchNode = 0xFFFF;

// Status flag 2 values the read logic tells apart.
constexpr std::uint8_t kStatusIllegalBlockCount = 0xA2;
constexpr std::uint8_t kStatusIllegalBlockNumber = 0xA8; // block number does not exist

// The history service of a transit card, as its little-endian bytes 0x0F 0x09.
constexpr std::uint16_t kHistoryServiceCode = 0x090F;
// The gate log of a transit card: the last gate passages, 3 blocks, readable without a key.
constexpr std::uint16_t kGateLogServiceCode = 0x108F;
constexpr int kGateLogBlocks = 3;
constexpr std::uint16_t kTransitSystemCode = 0x0003;
constexpr std::uint16_t kAnySystemCode = 0xFFFF;

// PMm of a common transit card; also the default of a simulated card.
constexpr Pmm kDefaultPmm{0x10, 0x0B, 0x4B, 0x42, 0x84, 0x85, 0xD0, 0xFF};

// Polling: [len 06] 00 SC_hi SC_lo requestCode timeSlot.
QByteArray pollingFrame(std::uint16_t systemCode, std::uint8_t requestCode, std::uint8_t timeSlot);

struct PollingAnswer
{
    Idm idm{};
    Pmm pmm{};
    QByteArray requestData; // the 2 bytes asked for by a non-zero request code, else empty
};

// Accepts [len 12] 01 IDm PMm, or [len 14] 01 IDm PMm RD when requestData was asked for.
std::optional<PollingAnswer> parsePollingResponse(QByteArrayView frame);

// Read Without Encryption: [len] 06 IDm serviceCount services... blockCount blockList...
// serviceCodeList holds 2 bytes per service (little-endian code), blockList holds 2-byte
// elements (0x80 | order, block number). Returns an empty array when the lists are malformed
// or the frame would not fit its length byte.
QByteArray readWithoutEncryptionFrame(const Idm& idm, QByteArrayView serviceCodeList,
                                      QByteArrayView blockList);

// The decoded parts of a Read Without Encryption command, as a card sees them.
struct ReadCommand
{
    Idm idm{};
    QByteArray serviceCodeList; // 2 bytes per service
    QByteArray blockList;       // 2 or 3 bytes per element, exactly as sent
    int blockCount = 0;
};
std::optional<ReadCommand> parseReadWithoutEncryptionFrame(QByteArrayView frame);

// One element of a block list: which service (index into the service list) and block number.
struct BlockListElement
{
    int serviceIndex = 0;
    int blockNumber = 0;
    int size = 0; // 2 or 3 bytes
};
// Element at offset in blockList; nullopt when it runs past the end.
std::optional<BlockListElement> blockListElementAt(QByteArrayView blockList, qsizetype offset);

// Response to a read: success carries the blocks; failure carries the card's status flags.
QByteArray readResponseFrame(const Idm& idm, QByteArrayView blockData);
QByteArray readErrorFrame(const Idm& idm, std::uint8_t statusFlag1, std::uint8_t statusFlag2);

struct ReadAnswer
{
    enum class Kind
    {
        Blocks,    // statusFlag1 == 0, blockData holds blockCount * 16 bytes
        Status,    // the card refused; the status flags say why
        Malformed, // wrong length, response code, IDm or block count: not to be trusted
    };
    Kind kind = Kind::Malformed;
    std::uint8_t statusFlag1 = 0;
    std::uint8_t statusFlag2 = 0;
    QByteArray blockData;
};

// Checks a response to a read of expectedBlocks blocks from the card idm.
ReadAnswer parseReadResponse(QByteArrayView frame, const Idm& idm, int expectedBlocks);

// Request Service: [len] 02 IDm nodeCount nodeCodes... (2 bytes each, little-endian). Empty
// when there are no nodes or more than kMaxNodesPerRequest.
QByteArray requestServiceFrame(const Idm& idm, std::span<const std::uint16_t> nodeCodes);

// The decoded parts of a Request Service, as a card sees them.
struct RequestServiceCommand
{
    Idm idm{};
    std::vector<std::uint16_t> nodeCodes;
};
std::optional<RequestServiceCommand> parseRequestServiceFrame(QByteArrayView frame);

// The answer: [len] 03 IDm nodeCount keyVersions... (2 bytes each, little-endian).
QByteArray requestServiceResponseFrame(const Idm& idm, std::span<const std::uint16_t> keyVersions);
// The key versions of the expectedNodes nodes asked for, in their order (kNoSuchNode for a node
// the card lacks); nullopt for a frame of another length, code, card or node count.
std::optional<std::vector<std::uint16_t>>
parseRequestServiceResponse(QByteArrayView frame, const Idm& idm, int expectedNodes);

// Time the card may take to answer a command that handles blockCount blocks, from the PMm
// byte for that command kind: T = 0.302 ms x ((B + 1) x n + (A + 1)) x 4^E with
// A = bits 2-0, B = bits 5-3, E = bits 7-6. Kept between kMinResponseTimeout and
// kMaxResponseTimeout so that odd PMm values neither give up at once nor hang the read.
enum class PmmCommand : int
{
    RequestService = 2,
    RequestResponse = 3,
    Authentication = 4,
    Read = 5,
    Write = 6,
    Other = 7,
};
constexpr std::chrono::milliseconds kMinResponseTimeout{20};
constexpr std::chrono::milliseconds kMaxResponseTimeout{1000};
constexpr std::chrono::milliseconds kPollingTimeout{100};
std::chrono::microseconds pmmResponseTime(const Pmm& pmm, PmmCommand command, int blockCount);
std::chrono::milliseconds responseTimeout(const Pmm& pmm, PmmCommand command, int blockCount);

} // namespace ridelog::card::felica
