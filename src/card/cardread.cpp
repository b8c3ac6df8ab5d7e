#include "card/cardread.h"

#include "card/cardevents.h"
#include "card/readerlibrary.h"

#include <QDebug>
#include <algorithm>
#include <cstring>

namespace ridelog::card {

namespace {

void readGateLog(ReaderLibrary& library, ReaderContext& context, CardReadResult& card)
{
    static constexpr std::uint8_t kServiceCodeList[2] = {felica::kGateLogServiceCode & 0xFF,
                                                         felica::kGateLogServiceCode >> 8};
    std::uint8_t blockList[2 * felica::kGateLogBlocks];
    for (int i = 0; i < felica::kGateLogBlocks; ++i) {
        blockList[2 * i] = 0x80;
        blockList[2 * i + 1] = std::uint8_t(i);
    }
    ReadRequestRecord request;
    request.cardId = context.cardIdBuffer.data();
    request.serviceCount = 1;
    request.serviceCodeList = kServiceCodeList;
    request.blockCount = felica::kGateLogBlocks;
    request.blockList = blockList;

    std::uint8_t statusFlag1 = 0;
    std::uint8_t statusFlag2 = 0;
    std::uint8_t blockCount = 0;
    std::uint8_t blockData[felica::kGateLogBlocks * kHistoryBlockSize] = {};
    BlockAnswerRecord answer{&statusFlag1, &statusFlag2, &blockCount, blockData};
    if (!library.read_block_without_encryption(request, answer)) {
        qInfo().noquote() << QStringLiteral("Card %1: gate log not read (%2)")
                                 .arg(card.idmText, library.lastError());
        return;
    }
    card.gateLogRead = true;
    card.gateLog.resize(std::min<std::size_t>(blockCount, felica::kGateLogBlocks));
    for (std::size_t i = 0; i < card.gateLog.size(); ++i)
        std::memcpy(card.gateLog[i].data(), blockData + i * kHistoryBlockSize, kHistoryBlockSize);
}

void detectCardKind(ReaderLibrary& library, ReaderContext& context, CardReadResult& card)
{
    const std::span<const std::uint16_t> codes = cardKindServiceCodes();
    std::uint8_t nodeCodeList[2 * felica::kMaxNodesPerRequest];
    for (std::size_t i = 0; i < codes.size(); ++i) {
        nodeCodeList[2 * i] = std::uint8_t(codes[i] & 0xFF);
        nodeCodeList[2 * i + 1] = std::uint8_t(codes[i] >> 8);
    }
    ServiceRequestRecord request;
    request.cardId = context.cardIdBuffer.data();
    request.nodeCount = std::uint8_t(codes.size());
    request.nodeCodeList = nodeCodeList;
    std::uint8_t versionBytes[2 * felica::kMaxNodesPerRequest] = {};
    if (!library.request_service(request, KeyVersionRecord{versionBytes})) {
        qInfo().noquote() << QStringLiteral("Card %1: kind of card not asked (%2)")
                                 .arg(card.idmText, library.lastError());
        return;
    }
    std::vector<std::uint16_t> versions(codes.size(), 0);
    for (std::size_t i = 0; i < versions.size(); ++i)
        versions[i] = std::uint16_t(versionBytes[2 * i] | versionBytes[2 * i + 1] << 8);
    card.kind = cardKindFromKeyVersions(versions);
}

} // namespace

void readCardExtras(ReaderLibrary& library, ReaderContext& context, CardReadResult& card)
{
    card.gateLog.clear();
    card.gateLogRead = false;
    card.kind.reset();
    if (!card.ok)
        return;
    readGateLog(library, context, card);
    detectCardKind(library, context, card);
}

CardReadResult readCardHistory(ReaderLibrary& library, ReaderContext& context)
{
    static constexpr std::uint8_t kSystemCode[2] = {0x00, 0x03};
    static constexpr std::uint8_t kServiceCodeList[2] = {0x0F, 0x09};
    std::uint8_t blockList[2 * kCardHistoryBlocks];
    for (int i = 0; i < kCardHistoryBlocks; ++i) {
        blockList[2 * i] = 0x80;
        blockList[2 * i + 1] = std::uint8_t(i);
    }

    PollingRecord polling;
    polling.systemCode = kSystemCode;
    polling.timeSlot = 0;

    ReadRequestRecord request;
    request.cardId = context.cardIdBuffer.data();
    request.serviceCount = 1;
    request.serviceCodeList = kServiceCodeList;
    request.blockCount = kCardHistoryBlocks;
    request.blockList = blockList;

    CardReadResult result;
    CardInformationRecord cardInformation;
    cardInformation.idm = result.idm.data();
    cardInformation.pmm = result.pmm.data();

    std::uint8_t statusFlag1 = 0;
    std::uint8_t statusFlag2 = 0;
    std::uint8_t blockCount = 0;
    std::uint8_t blockData[kCardHistoryBlocks * kHistoryBlockSize] = {};
    BlockAnswerRecord blockAnswer;
    blockAnswer.statusFlag1 = &statusFlag1;
    blockAnswer.statusFlag2 = &statusFlag2;
    blockAnswer.blockCount = &blockCount;
    blockAnswer.blockData = blockData;

    if (!library.polling_and_read_block_without_encryption(polling, request, cardInformation,
                                                           blockAnswer)) {
        return CardReadResult{};
    }
    result.ok = true;
    result.idmText = formatIdmText(result.idm);
    result.blockCount = std::min<int>(blockCount, kCardHistoryBlocks);
    result.blocks.resize(std::size_t(result.blockCount));
    for (int i = 0; i < result.blockCount; ++i)
        std::memcpy(result.blocks[std::size_t(i)].data(), blockData + i * kHistoryBlockSize,
                    kHistoryBlockSize);
    readCardExtras(library, context, result);
    return result;
}

} // namespace ridelog::card
