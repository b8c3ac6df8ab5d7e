#include "card/readerlibrary.h"

#include "card/autoreaderbackend.h"
#include "card/cardevents.h"
#include "card/readerfactory.h"
#include "card/readertexts.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <cstring>

namespace ridelog::card {

ReaderLibrary::ReaderLibrary(ReaderConfig config)
    : config_(std::move(config))
    , relay_(std::make_unique<QObject>())
{
    if (config_.traceFile.isEmpty())
        return;
    // Tracing into the trace being replayed would replace it with its own replay.
    const QString replayed = replayedTracePath(config_.reader);
    if (!replayed.isEmpty() && isSameFile(replayed, config_.traceFile)) {
        traceRefusal_ = ReaderTexts::tr("%1 は再生中のトレースです。新しいトレースはほかの"
                                        "ファイルに書いてください。")
                            .arg(config_.traceFile);
        return;
    }
    trace_ = std::make_shared<ReaderTrace>(config_.traceFile);
}

ReaderLibrary::ReaderLibrary(std::unique_ptr<ReaderBackend> backend)
    : backend_(std::move(backend))
    , givenBackend_(true)
    , relay_(std::make_unique<QObject>())
{}

ReaderLibrary::~ReaderLibrary()
{
    close_reader_writer();
    // Queued presence reports die with the relay, before the library goes.
    relay_.reset();
}

bool ReaderLibrary::fail(QString error)
{
    lastError_ = std::move(error);
    return false;
}

bool ReaderLibrary::initialize_library()
{
    openFailureReasons_.clear();
    if (!givenBackend_ && !isWellFormedReaderOption(config_.reader)) {
        fail(ReaderTexts::tr("「%1」というカードリーダは知りません。").arg(config_.reader));
        openFailureReasons_ = QStringList{lastError_};
        return false;
    }
    initialised_ = true;
    return true;
}

bool ReaderLibrary::open_reader_writer_auto()
{
    openFailureReasons_.clear();
    if (!initialised_)
        return fail(QStringLiteral("The reader library is not initialised."));
    if (open_)
        return true;
    if (!traceRefusal_.isEmpty()) {
        openFailureReasons_ = QStringList{traceRefusal_};
        return fail(traceRefusal_);
    }
    QString error;
    if (!givenBackend_) {
        backend_ = createReaderBackend(config_.reader, &error, trace_);
        if (!backend_) {
            openFailureReasons_ = QStringList{error};
            return fail(error);
        }
    }
    if (!backend_)
        return fail(ReaderTexts::tr("カードリーダを開けません。"));
    if (!backend_->open(&error)) {
        if (error.isEmpty())
            error = ReaderTexts::tr("カードリーダを開けません。");
        // "auto" tried several backends and knows each one's reason; a single backend has one.
        const auto* automatic = dynamic_cast<const AutoReaderBackend*>(backend_.get());
        if (automatic != nullptr && !automatic->failureReasons().isEmpty())
            openFailureReasons_ = automatic->failureReasons();
        else
            openFailureReasons_ =
                QStringList{ReaderTexts::tr("%1：%2").arg(backend_->name(), error)};
        return fail(error);
    }
    open_ = true;
    return true;
}

bool ReaderLibrary::set_call_back_parameters(const CallbackParameters& parameters)
{
    if (!parameters.target || !parameters.cardFindName || !parameters.cardLoseName)
        return fail(QStringLiteral("Incomplete callback parameters."));
    target_ = parameters.target;
    cardFindType_ = registeredCardEventType(QString::fromUtf8(parameters.cardFindName));
    cardLoseType_ = registeredCardEventType(QString::fromUtf8(parameters.cardLoseName));
    postEvents_ = parameters.postEvents != 0;
    if (relay_->thread() != parameters.target->thread())
        relay_->moveToThread(parameters.target->thread());
    return true;
}

bool ReaderLibrary::start_polling(const PollingStartParameters& parameters)
{
    if (!open_)
        return fail(QStringLiteral("No reader is open."));
    if (!parameters.systemCode)
        return fail(QStringLiteral("No system code to poll for."));
    const std::uint16_t systemCode =
        std::uint16_t(parameters.systemCode[0] << 8 | parameters.systemCode[1]);
    QObject* relay = relay_.get();
    backend_->startPresenceMonitor(systemCode, [this, relay](bool present) {
        QMetaObject::invokeMethod(
            relay, [this, present] { deliverPresence(present); }, Qt::QueuedConnection);
    });
    polling_ = true;
    return true;
}

void ReaderLibrary::deliverPresence(bool present)
{
    if (!postEvents_ || !target_)
        return;
    const int type = present ? cardFindType_ : cardLoseType_;
    QCoreApplication::postEvent(target_, new QEvent(QEvent::Type(type)));
}

bool ReaderLibrary::polling_and_read_block_without_encryption(
    const PollingRecord& polling, const ReadRequestRecord& request,
    const CardInformationRecord& cardInformation, const BlockAnswerRecord& blockAnswer)
{
    commandsOfLastRead_ = 0;
    commandsAfterLastRead_ = 0;
    lastCardIdm_.reset();
    if (blockAnswer.blockCount)
        *blockAnswer.blockCount = 0;
    if (!open_)
        return fail(QStringLiteral("No reader is open."));
    if (!polling.systemCode || !request.cardId || !request.serviceCodeList || !request.blockList ||
        request.serviceCount < 1 || request.blockCount < 1 || !cardInformation.idm ||
        !cardInformation.pmm || !blockAnswer.statusFlag1 || !blockAnswer.statusFlag2 ||
        !blockAnswer.blockCount || !blockAnswer.blockData)
        return fail(QStringLiteral("Incomplete read request."));

    const std::uint16_t systemCode =
        std::uint16_t(polling.systemCode[0] << 8 | polling.systemCode[1]);
    const PollOutcome poll = pollCard(*backend_, systemCode, 0, polling.timeSlot);
    commandsOfLastRead_ = 1;
    if (poll.status != TransceiveStatus::Ok)
        return fail(poll.error.isEmpty() ? QStringLiteral("No card answered.") : poll.error);

    const felica::Idm& idm = poll.answer.idm;
    std::memcpy(request.cardId, idm.data(), idm.size());
    const auto services = QByteArrayView(request.serviceCodeList, 2 * request.serviceCount);
    const auto blockList = QByteArrayView(request.blockList, 2 * request.blockCount);
    const BlockReadOutcome read =
        readBlocks(*backend_, idm, poll.answer.pmm, services, blockList, readPlan_);
    commandsOfLastRead_ += read.commands;
    *blockAnswer.statusFlag1 = read.statusFlag1;
    *blockAnswer.statusFlag2 = read.statusFlag2;
    if (!read.ok)
        return fail(read.error);

    std::memcpy(cardInformation.idm, idm.data(), idm.size());
    std::memcpy(cardInformation.pmm, poll.answer.pmm.data(), poll.answer.pmm.size());
    lastCardIdm_ = idm;
    lastCardPmm_ = poll.answer.pmm;
    *blockAnswer.blockCount = std::uint8_t(read.blocksRead);
    const std::size_t delivered = std::size_t(read.blockData.size());
    std::memcpy(blockAnswer.blockData, read.blockData.constData(), delivered);
    // Slots the card did not deliver never keep stale bytes of an earlier read.
    std::memset(blockAnswer.blockData + delivered, 0,
                std::size_t(request.blockCount) * felica::kBlockSize - delivered);
    return true;
}

bool ReaderLibrary::addressesLastCard(const std::uint8_t* cardId) const
{
    return cardId && lastCardIdm_ && std::memcmp(cardId, lastCardIdm_->data(), 8) == 0;
}

bool ReaderLibrary::read_block_without_encryption(const ReadRequestRecord& request,
                                                  const BlockAnswerRecord& blockAnswer)
{
    if (blockAnswer.blockCount)
        *blockAnswer.blockCount = 0;
    if (!open_)
        return fail(QStringLiteral("No reader is open."));
    if (!request.serviceCodeList || !request.blockList || request.serviceCount < 1 ||
        request.blockCount < 1 || request.blockCount > felica::kMaxBlocksPerRead ||
        !blockAnswer.statusFlag1 || !blockAnswer.statusFlag2 || !blockAnswer.blockCount ||
        !blockAnswer.blockData)
        return fail(QStringLiteral("Incomplete read request."));
    if (!addressesLastCard(request.cardId))
        return fail(QStringLiteral("The card was not found by the last read."));
    const auto services = QByteArrayView(request.serviceCodeList, 2 * request.serviceCount);
    const auto blockList = QByteArrayView(request.blockList, 2 * request.blockCount);
    const BlockReadOutcome read = readBlocks(*backend_, *lastCardIdm_, lastCardPmm_, services,
                                             blockList, ReadPlan{{request.blockCount}});
    commandsAfterLastRead_ += read.commands;
    *blockAnswer.statusFlag1 = read.statusFlag1;
    *blockAnswer.statusFlag2 = read.statusFlag2;
    if (!read.ok)
        return fail(read.error);
    *blockAnswer.blockCount = std::uint8_t(read.blocksRead);
    const std::size_t delivered = std::size_t(read.blockData.size());
    std::memcpy(blockAnswer.blockData, read.blockData.constData(), delivered);
    std::memset(blockAnswer.blockData + delivered, 0,
                std::size_t(request.blockCount) * felica::kBlockSize - delivered);
    return true;
}

bool ReaderLibrary::request_service(const ServiceRequestRecord& request,
                                    const KeyVersionRecord& answer)
{
    if (!open_)
        return fail(QStringLiteral("No reader is open."));
    if (!request.nodeCodeList || request.nodeCount < 1 ||
        request.nodeCount > felica::kMaxNodesPerRequest || !answer.keyVersions)
        return fail(QStringLiteral("Incomplete service request."));
    if (!addressesLastCard(request.cardId))
        return fail(QStringLiteral("The card was not found by the last read."));
    std::vector<std::uint16_t> codes(request.nodeCount);
    for (std::size_t i = 0; i < codes.size(); ++i)
        codes[i] =
            std::uint16_t(request.nodeCodeList[2 * i] | request.nodeCodeList[2 * i + 1] << 8);
    const ServiceRequestOutcome outcome =
        requestServices(*backend_, *lastCardIdm_, lastCardPmm_, codes);
    ++commandsAfterLastRead_;
    if (!outcome.ok)
        return fail(outcome.error);
    for (std::size_t i = 0; i < codes.size(); ++i) {
        answer.keyVersions[2 * i] = std::uint8_t(outcome.keyVersions[i] & 0xFF);
        answer.keyVersions[2 * i + 1] = std::uint8_t(outcome.keyVersions[i] >> 8);
    }
    return true;
}

void ReaderLibrary::stopCardDetection()
{
    if (polling_ && backend_)
        backend_->stopPresenceMonitor();
    polling_ = false;
}

bool ReaderLibrary::close_reader_writer()
{
    stopCardDetection();
    if (open_ && backend_)
        backend_->close();
    open_ = false;
    if (!givenBackend_)
        backend_.reset();
    return true;
}

bool ReaderLibrary::dispose_library()
{
    close_reader_writer();
    target_ = nullptr;
    postEvents_ = false;
    initialised_ = false;
    return true;
}

QString ReaderLibrary::readerName() const
{
    return open_ && backend_ ? backend_->name() : QString();
}

int openReader(ReaderLibrary& library, ReaderContext& context)
{
    if (!context.libraryInitialised) {
        if (!library.initialize_library())
            return 1;
        context.libraryInitialised = true;
    }
    if (!context.readerOpen) {
        if (!library.open_reader_writer_auto())
            return 2;
        context.readerOpen = true;
    }
    return 0;
}

void closeReader(ReaderLibrary& library, ReaderContext& context)
{
    if (context.readerOpen)
        library.close_reader_writer();
    if (context.libraryInitialised)
        library.dispose_library();
    context.readerOpen = false;
    context.libraryInitialised = false;
    context.pollingStarted = false;
}

} // namespace ridelog::card
