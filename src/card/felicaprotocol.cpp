#include "card/felicaprotocol.h"

#include <algorithm>

namespace ridelog::card::felica {

namespace {

constexpr int kIdmSize = 8;
constexpr int kMaxFrameLength = 255;
// [len] code IDm
constexpr int kReadResponseHeader = 1 + 1 + kIdmSize;

std::uint8_t byteAt(QByteArrayView bytes, qsizetype index)
{
    return static_cast<std::uint8_t>(bytes[index]);
}

// The frame is exactly as long as its length byte says.
bool lengthByteMatches(QByteArrayView frame)
{
    return !frame.isEmpty() && byteAt(frame, 0) == frame.size();
}

template <std::size_t N>
void copyBytes(QByteArrayView from, qsizetype offset, std::array<std::uint8_t, N>& to)
{
    for (std::size_t i = 0; i < N; ++i)
        to[i] = byteAt(from, offset + qsizetype(i));
}

bool idmMatches(QByteArrayView frame, qsizetype offset, const Idm& idm)
{
    for (int i = 0; i < kIdmSize; ++i) {
        if (byteAt(frame, offset + i) != idm[std::size_t(i)])
            return false;
    }
    return true;
}

void appendIdm(QByteArray& frame, const Idm& idm)
{
    for (std::uint8_t b : idm)
        frame.append(char(b));
}

void appendLittleEndianWords(QByteArray& frame, std::span<const std::uint16_t> words)
{
    for (const std::uint16_t word : words) {
        frame.append(char(word & 0xFF));
        frame.append(char(word >> 8));
    }
}

std::vector<std::uint16_t> littleEndianWords(QByteArrayView frame, qsizetype offset, int count)
{
    std::vector<std::uint16_t> words(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        words[std::size_t(i)] =
            std::uint16_t(byteAt(frame, offset + 2 * i) | byteAt(frame, offset + 2 * i + 1) << 8);
    return words;
}

// Counts the elements of a block list; nullopt when the last one is cut off.
std::optional<int> blockListElementCount(QByteArrayView blockList)
{
    int count = 0;
    qsizetype offset = 0;
    while (offset < blockList.size()) {
        const auto element = blockListElementAt(blockList, offset);
        if (!element)
            return std::nullopt;
        offset += element->size;
        ++count;
    }
    return count;
}

} // namespace

QByteArray pollingFrame(std::uint16_t systemCode, std::uint8_t requestCode, std::uint8_t timeSlot)
{
    QByteArray frame;
    frame.reserve(6);
    frame.append(char(6));
    frame.append(char(kPollingCommand));
    frame.append(char(systemCode >> 8));
    frame.append(char(systemCode & 0xFF));
    frame.append(char(requestCode));
    frame.append(char(timeSlot));
    return frame;
}

std::optional<PollingAnswer> parsePollingResponse(QByteArrayView frame)
{
    constexpr qsizetype kPlain = 2 + 2 * kIdmSize;
    if (!lengthByteMatches(frame) || (frame.size() != kPlain && frame.size() != kPlain + 2))
        return std::nullopt;
    if (byteAt(frame, 1) != kPollingResponse)
        return std::nullopt;
    PollingAnswer answer;
    copyBytes(frame, 2, answer.idm);
    copyBytes(frame, 2 + kIdmSize, answer.pmm);
    if (frame.size() > kPlain)
        answer.requestData = frame.sliced(kPlain).toByteArray();
    return answer;
}

std::optional<BlockListElement> blockListElementAt(QByteArrayView blockList, qsizetype offset)
{
    if (offset < 0 || offset >= blockList.size())
        return std::nullopt;
    const std::uint8_t head = byteAt(blockList, offset);
    BlockListElement element;
    element.serviceIndex = head & 0x0F;
    if (head & 0x80) {
        element.size = 2;
        if (offset + 2 > blockList.size())
            return std::nullopt;
        element.blockNumber = byteAt(blockList, offset + 1);
    } else {
        element.size = 3;
        if (offset + 3 > blockList.size())
            return std::nullopt;
        element.blockNumber = byteAt(blockList, offset + 1) | (byteAt(blockList, offset + 2) << 8);
    }
    return element;
}

QByteArray readWithoutEncryptionFrame(const Idm& idm, QByteArrayView serviceCodeList,
                                      QByteArrayView blockList)
{
    const qsizetype services = serviceCodeList.size() / 2;
    if (serviceCodeList.size() % 2 != 0 || services < 1 || services > kMaxServicesPerRead)
        return {};
    const auto blocks = blockListElementCount(blockList);
    if (!blocks || *blocks < 1)
        return {};
    const qsizetype length = 1 + 1 + kIdmSize + 1 + serviceCodeList.size() + 1 + blockList.size();
    if (length > kMaxFrameLength)
        return {};
    QByteArray frame;
    frame.reserve(length);
    frame.append(char(length));
    frame.append(char(kReadWithoutEncryptionCommand));
    appendIdm(frame, idm);
    frame.append(char(services));
    frame.append(serviceCodeList);
    frame.append(char(*blocks));
    frame.append(blockList);
    return frame;
}

std::optional<ReadCommand> parseReadWithoutEncryptionFrame(QByteArrayView frame)
{
    constexpr qsizetype kServiceCountAt = 2 + kIdmSize;
    if (!lengthByteMatches(frame) || frame.size() <= kServiceCountAt)
        return std::nullopt;
    if (byteAt(frame, 1) != kReadWithoutEncryptionCommand)
        return std::nullopt;
    ReadCommand command;
    copyBytes(frame, 2, command.idm);
    const int services = byteAt(frame, kServiceCountAt);
    const qsizetype blockCountAt = kServiceCountAt + 1 + 2 * services;
    if (services < 1 || services > kMaxServicesPerRead || blockCountAt >= frame.size())
        return std::nullopt;
    command.serviceCodeList = frame.sliced(kServiceCountAt + 1, 2 * services).toByteArray();
    command.blockCount = byteAt(frame, blockCountAt);
    command.blockList = frame.sliced(blockCountAt + 1).toByteArray();
    const auto listed = blockListElementCount(command.blockList);
    if (command.blockCount < 1 || !listed || *listed != command.blockCount)
        return std::nullopt;
    return command;
}

QByteArray readResponseFrame(const Idm& idm, QByteArrayView blockData)
{
    const qsizetype length = kReadResponseHeader + 3 + blockData.size();
    if (blockData.size() % kBlockSize != 0 || length > kMaxFrameLength)
        return {};
    QByteArray frame;
    frame.reserve(length);
    frame.append(char(length));
    frame.append(char(kReadWithoutEncryptionResponse));
    appendIdm(frame, idm);
    frame.append(char(0));
    frame.append(char(0));
    frame.append(char(blockData.size() / kBlockSize));
    frame.append(blockData);
    return frame;
}

QByteArray readErrorFrame(const Idm& idm, std::uint8_t statusFlag1, std::uint8_t statusFlag2)
{
    QByteArray frame;
    frame.reserve(kReadResponseHeader + 2);
    frame.append(char(kReadResponseHeader + 2));
    frame.append(char(kReadWithoutEncryptionResponse));
    appendIdm(frame, idm);
    frame.append(char(statusFlag1));
    frame.append(char(statusFlag2));
    return frame;
}

ReadAnswer parseReadResponse(QByteArrayView frame, const Idm& idm, int expectedBlocks)
{
    ReadAnswer answer;
    if (!lengthByteMatches(frame) || frame.size() < kReadResponseHeader + 2)
        return answer;
    if (byteAt(frame, 1) != kReadWithoutEncryptionResponse || !idmMatches(frame, 2, idm))
        return answer;
    answer.statusFlag1 = byteAt(frame, kReadResponseHeader);
    answer.statusFlag2 = byteAt(frame, kReadResponseHeader + 1);
    if (answer.statusFlag1 != 0) {
        // A refusal carries nothing after the two status flags.
        if (frame.size() == kReadResponseHeader + 2)
            answer.kind = ReadAnswer::Kind::Status;
        return answer;
    }
    const qsizetype blockCountAt = kReadResponseHeader + 2;
    if (frame.size() <= blockCountAt || byteAt(frame, blockCountAt) != expectedBlocks)
        return answer;
    if (frame.size() != blockCountAt + 1 + qsizetype(expectedBlocks) * kBlockSize)
        return answer;
    answer.kind = ReadAnswer::Kind::Blocks;
    answer.blockData = frame.sliced(blockCountAt + 1).toByteArray();
    return answer;
}

QByteArray requestServiceFrame(const Idm& idm, std::span<const std::uint16_t> nodeCodes)
{
    if (nodeCodes.empty() || nodeCodes.size() > std::size_t(kMaxNodesPerRequest))
        return {};
    const qsizetype length = 1 + 1 + kIdmSize + 1 + 2 * qsizetype(nodeCodes.size());
    QByteArray frame;
    frame.reserve(length);
    frame.append(char(length));
    frame.append(char(kRequestServiceCommand));
    appendIdm(frame, idm);
    frame.append(char(nodeCodes.size()));
    appendLittleEndianWords(frame, nodeCodes);
    return frame;
}

std::optional<RequestServiceCommand> parseRequestServiceFrame(QByteArrayView frame)
{
    constexpr qsizetype kNodeCountAt = 2 + kIdmSize;
    if (!lengthByteMatches(frame) || frame.size() <= kNodeCountAt)
        return std::nullopt;
    if (byteAt(frame, 1) != kRequestServiceCommand)
        return std::nullopt;
    const int nodes = byteAt(frame, kNodeCountAt);
    if (nodes < 1 || nodes > kMaxNodesPerRequest || frame.size() != kNodeCountAt + 1 + 2 * nodes)
        return std::nullopt;
    RequestServiceCommand command;
    copyBytes(frame, 2, command.idm);
    command.nodeCodes = littleEndianWords(frame, kNodeCountAt + 1, nodes);
    return command;
}

QByteArray requestServiceResponseFrame(const Idm& idm, std::span<const std::uint16_t> keyVersions)
{
    if (keyVersions.empty() || keyVersions.size() > std::size_t(kMaxNodesPerRequest))
        return {};
    const qsizetype length = 1 + 1 + kIdmSize + 1 + 2 * qsizetype(keyVersions.size());
    QByteArray frame;
    frame.reserve(length);
    frame.append(char(length));
    frame.append(char(kRequestServiceResponse));
    appendIdm(frame, idm);
    frame.append(char(keyVersions.size()));
    appendLittleEndianWords(frame, keyVersions);
    return frame;
}

std::optional<std::vector<std::uint16_t>>
parseRequestServiceResponse(QByteArrayView frame, const Idm& idm, int expectedNodes)
{
    constexpr qsizetype kNodeCountAt = 2 + kIdmSize;
    if (!lengthByteMatches(frame) ||
        frame.size() != kNodeCountAt + 1 + 2 * qsizetype(expectedNodes))
        return std::nullopt;
    if (byteAt(frame, 1) != kRequestServiceResponse || !idmMatches(frame, 2, idm) ||
        byteAt(frame, kNodeCountAt) != expectedNodes)
        return std::nullopt;
    return littleEndianWords(frame, kNodeCountAt + 1, expectedNodes);
}

std::chrono::microseconds pmmResponseTime(const Pmm& pmm, PmmCommand command, int blockCount)
{
    const std::uint8_t parameter = pmm[std::size_t(command)];
    const int a = parameter & 0x07;
    const int b = (parameter >> 3) & 0x07;
    const int e = parameter >> 6;
    // T = 256 * 16 / fc with fc = 13.56 MHz: 302.06 us, kept in nanoseconds for exactness.
    constexpr std::int64_t kUnitNs = 302064;
    const std::int64_t units = std::int64_t(b + 1) * std::max(blockCount, 0) + (a + 1);
    const std::int64_t ns = kUnitNs * units * (std::int64_t(1) << (2 * e));
    return std::chrono::microseconds((ns + 999) / 1000);
}

std::chrono::milliseconds responseTimeout(const Pmm& pmm, PmmCommand command, int blockCount)
{
    const auto time =
        std::chrono::ceil<std::chrono::milliseconds>(pmmResponseTime(pmm, command, blockCount));
    return std::clamp(time, kMinResponseTimeout, kMaxResponseTimeout);
}

} // namespace ridelog::card::felica
