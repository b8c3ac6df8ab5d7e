#include "card/cardread.h"

#include "card/cardevents.h"
#include "card/readerlibrary.h"

#include <algorithm>
#include <cstring>

namespace ridelog::card {

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
    return result;
}

} // namespace ridelog::card
