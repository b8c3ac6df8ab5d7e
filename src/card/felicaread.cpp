#include "card/felicaread.h"

#include <algorithm>

namespace ridelog::card {

namespace {

using felica::ReadAnswer;

enum class ChunkResult
{
    Done,        // every block of the range was read
    EndOfBlocks, // the card has no block with the next number
    Failed,
};

class ChunkedReader
{
public:
    ChunkedReader(ReaderBackend& backend, const felica::Idm& idm, const felica::Pmm& pmm,
                  QByteArrayView serviceCodeList, const ReadPlan& plan, BlockReadOutcome& outcome)
        : backend_(backend)
        , idm_(idm)
        , pmm_(pmm)
        , serviceCodeList_(serviceCodeList)
        , plan_(plan)
        , outcome_(outcome)
    {}

    void setElements(std::vector<QByteArrayView> elements) { elements_ = std::move(elements); }

    ChunkResult readRange(std::size_t first, std::size_t count, std::size_t level)
    {
        const std::size_t chunk = std::size_t(std::max(1, plan_.chunkSizes[level]));
        for (std::size_t start = first; start < first + count; start += chunk) {
            const std::size_t n = std::min(chunk, first + count - start);
            const ChunkResult result = readChunk(start, n, level);
            if (result != ChunkResult::Done)
                return result;
        }
        return ChunkResult::Done;
    }

private:
    ChunkResult readChunk(std::size_t start, std::size_t n, std::size_t level)
    {
        const Attempt attempt = send(start, n);
        if (attempt == Attempt::Read)
            return ChunkResult::Done;
        if (attempt == Attempt::Fatal)
            return ChunkResult::Failed;
        const auto smaller = smallerLevel(level, n);
        if (smaller)
            return readRange(start, n, *smaller);
        if (attempt == Attempt::NoSuchBlock)
            return ChunkResult::EndOfBlocks;
        if (outcome_.error.isEmpty())
            outcome_.error = QStringLiteral("the card stopped answering");
        return ChunkResult::Failed;
    }

    // The first level after `level` whose chunks are smaller than n blocks.
    std::optional<std::size_t> smallerLevel(std::size_t level, std::size_t n) const
    {
        for (std::size_t next = level + 1; next < plan_.chunkSizes.size(); ++next) {
            if (std::size_t(std::max(1, plan_.chunkSizes[next])) < n)
                return next;
        }
        return std::nullopt;
    }

    enum class Attempt
    {
        Read,
        Retryable,
        NoSuchBlock,
        Fatal
    };

    Attempt send(std::size_t start, std::size_t n)
    {
        QByteArray blockList;
        for (std::size_t i = start; i < start + n; ++i)
            blockList.append(elements_[i]);
        const QByteArray frame =
            felica::readWithoutEncryptionFrame(idm_, serviceCodeList_, blockList);
        if (frame.isEmpty()) {
            outcome_.error = QStringLiteral("the read command does not fit one frame");
            return Attempt::Fatal;
        }
        const auto timeout = felica::responseTimeout(pmm_, felica::PmmCommand::Read, int(n));
        ++outcome_.commands;
        const TransceiveResult result = backend_.transceive(frame, timeout);
        switch (result.status) {
        case TransceiveStatus::Ok:
            return judge(felica::parseReadResponse(result.frame, idm_, int(n)));
        case TransceiveStatus::Timeout:
            return Attempt::Retryable;
        case TransceiveStatus::NoCard:
            outcome_.error = QStringLiteral("the card left the reader");
            return Attempt::Fatal;
        case TransceiveStatus::Error:
            break;
        }
        outcome_.error = result.error.isEmpty() ? QStringLiteral("reader failure") : result.error;
        return Attempt::Fatal;
    }

    Attempt judge(const ReadAnswer& answer)
    {
        switch (answer.kind) {
        case ReadAnswer::Kind::Blocks:
            outcome_.blockData.append(answer.blockData);
            outcome_.blocksRead += int(answer.blockData.size() / felica::kBlockSize);
            outcome_.statusFlag1 = 0;
            outcome_.statusFlag2 = 0;
            return Attempt::Read;
        case ReadAnswer::Kind::Status:
            outcome_.statusFlag1 = answer.statusFlag1;
            outcome_.statusFlag2 = answer.statusFlag2;
            if (answer.statusFlag2 == felica::kStatusIllegalBlockNumber)
                return Attempt::NoSuchBlock;
            outcome_.error = QStringLiteral("the card refused the read (status %1 %2)")
                                 .arg(answer.statusFlag1, 2, 16, QLatin1Char('0'))
                                 .arg(answer.statusFlag2, 2, 16, QLatin1Char('0'));
            return Attempt::Retryable;
        case ReadAnswer::Kind::Malformed:
            break;
        }
        outcome_.error = QStringLiteral("the card sent a garbled answer");
        return Attempt::Retryable;
    }

    ReaderBackend& backend_;
    const felica::Idm& idm_;
    const felica::Pmm& pmm_;
    QByteArrayView serviceCodeList_;
    const ReadPlan& plan_;
    BlockReadOutcome& outcome_;
    std::vector<QByteArrayView> elements_;
};

std::optional<std::vector<QByteArrayView>> splitBlockList(QByteArrayView blockList)
{
    std::vector<QByteArrayView> elements;
    qsizetype offset = 0;
    while (offset < blockList.size()) {
        const auto element = felica::blockListElementAt(blockList, offset);
        if (!element)
            return std::nullopt;
        elements.push_back(blockList.sliced(offset, element->size));
        offset += element->size;
    }
    return elements;
}

bool planIsUsable(const ReadPlan& plan)
{
    return !plan.chunkSizes.empty() &&
           std::all_of(plan.chunkSizes.begin(), plan.chunkSizes.end(),
                       [](int size) { return size >= 1 && size <= felica::kMaxBlocksPerRead; });
}

} // namespace

PollOutcome pollCard(ReaderBackend& backend, std::uint16_t systemCode, std::uint8_t requestCode,
                     std::uint8_t timeSlot)
{
    PollOutcome outcome;
    const TransceiveResult result = backend.transceive(
        felica::pollingFrame(systemCode, requestCode, timeSlot), felica::kPollingTimeout);
    outcome.status = result.status;
    outcome.error = result.error;
    if (result.status != TransceiveStatus::Ok)
        return outcome;
    const auto answer = felica::parsePollingResponse(result.frame);
    if (!answer) {
        outcome.status = TransceiveStatus::Error;
        outcome.error = QStringLiteral("the card sent a garbled polling answer");
        return outcome;
    }
    outcome.answer = *answer;
    return outcome;
}

ServiceRequestOutcome requestServices(ReaderBackend& backend, const felica::Idm& idm,
                                      const felica::Pmm& pmm,
                                      std::span<const std::uint16_t> nodeCodes)
{
    ServiceRequestOutcome outcome;
    const QByteArray frame = felica::requestServiceFrame(idm, nodeCodes);
    if (frame.isEmpty()) {
        outcome.error = QStringLiteral("no service codes to ask for, or too many");
        return outcome;
    }
    const int nodes = int(nodeCodes.size());
    const TransceiveResult result = backend.transceive(
        frame, felica::responseTimeout(pmm, felica::PmmCommand::RequestService, nodes));
    switch (result.status) {
    case TransceiveStatus::Ok:
        break;
    case TransceiveStatus::Timeout:
        outcome.error = QStringLiteral("the card did not answer");
        return outcome;
    case TransceiveStatus::NoCard:
        outcome.error = QStringLiteral("the card left the reader");
        return outcome;
    case TransceiveStatus::Error:
        outcome.error = result.error.isEmpty() ? QStringLiteral("reader failure") : result.error;
        return outcome;
    }
    auto versions = felica::parseRequestServiceResponse(result.frame, idm, nodes);
    if (!versions) {
        outcome.error = QStringLiteral("the card sent a garbled answer");
        return outcome;
    }
    outcome.ok = true;
    outcome.keyVersions = std::move(*versions);
    return outcome;
}

BlockReadOutcome readBlocks(ReaderBackend& backend, const felica::Idm& idm, const felica::Pmm& pmm,
                            QByteArrayView serviceCodeList, QByteArrayView blockList,
                            const ReadPlan& plan)
{
    BlockReadOutcome outcome;
    auto elements = splitBlockList(blockList);
    if (!elements || elements->empty() || !planIsUsable(plan)) {
        outcome.error = QStringLiteral("malformed block list or read plan");
        return outcome;
    }
    const std::size_t count = elements->size();
    ChunkedReader reader(backend, idm, pmm, serviceCodeList, plan, outcome);
    reader.setElements(std::move(*elements));
    const ChunkResult result = reader.readRange(0, count, 0);
    outcome.ok = result != ChunkResult::Failed;
    if (outcome.ok)
        outcome.error.clear();
    return outcome;
}

} // namespace ridelog::card
