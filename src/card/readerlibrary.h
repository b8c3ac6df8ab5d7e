// The reader library: seven operations over one reader backend, each taking small request
// records and reporting success as a truth value. The application owns one ReaderLibrary
// and one ReaderContext for the whole run. The operations keep the snake_case names of the
// reader maker's library they stand in for.
//
// Start-up and shutdown (see openReader / closeReader below):
//
//     ReaderLibrary library(ReaderConfig{QStringLiteral("virtual:/tmp/cards")}); // or "auto"
//     ReaderContext context;
//     switch (openReader(library, context)) { 0: fine; 1: library failed; 2: no reader }
//     ... run the main dialog (it arms card detection with startCardPolling, cardevents.h,
//         and reads with readCardHistory, cardread.h) ...
//     closeReader(library, context);
//
// The library must be created on the user-interface thread: card arrival and removal are
// handed over to that thread's event loop and posted from there to the callback target as
// the events registered under the names given to set_call_back_parameters.
#pragma once

#include "card/felicaread.h"
#include "card/readerbackend.h"
#include "card/readertrace.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace ridelog::card {

// The reader library's state flags, owned by the application for the whole run.
struct ReaderContext
{
    bool libraryInitialised = false; // initialize_library succeeded; dispose_library is due
    bool readerOpen = false; // open_reader_writer_auto succeeded; close_reader_writer is due
    std::array<std::uint8_t, 8> cardIdBuffer{}; // handed to every read; receives the polled IDm
    bool pollingStarted = false;                // start_polling succeeded
};

// set_call_back_parameters
struct CallbackParameters
{
    QObject* target = nullptr;          // receives the card events (the main dialog)
    const char* cardFindName = nullptr; // event name posted when a card arrives ("CardFind")
    const char* cardLoseName = nullptr; // event name posted when the card leaves ("CardLose")
    std::uint32_t postEvents = 1;       // 1: post the events; 0: registered but silent
    std::uint32_t reserved = 0;
};

// start_polling
struct PollingStartParameters
{
    const std::uint8_t* systemCode = nullptr; // two bytes, big-endian; FF FF: any card
    std::uint8_t timeSlot = 1;
};

// polling_and_read_block_without_encryption: polling record
struct PollingRecord
{
    const std::uint8_t* systemCode = nullptr; // two bytes, big-endian (00 03: transit cards)
    std::uint8_t timeSlot = 0;
};

// polling_and_read_block_without_encryption: read request record
struct ReadRequestRecord
{
    std::uint8_t* cardId = nullptr; // 8 bytes; receives the polled IDm, which the read addresses
    std::uint8_t serviceCount = 0;
    const std::uint8_t* serviceCodeList = nullptr; // 2 bytes per service, little-endian
    std::uint8_t blockCount = 0;
    const std::uint8_t* blockList = nullptr; // 2 bytes per block: 0x80 | service index, block
};

// polling_and_read_block_without_encryption: card information record (out)
struct CardInformationRecord
{
    std::uint8_t* idm = nullptr; // 8 bytes
    std::uint8_t* pmm = nullptr; // 8 bytes
};

// polling_and_read_block_without_encryption: block answer record (out)
struct BlockAnswerRecord
{
    std::uint8_t* statusFlag1 = nullptr; // last status flags of the card (0 after a clean read)
    std::uint8_t* statusFlag2 = nullptr;
    std::uint8_t* blockCount = nullptr; // blocks delivered (0 when the call fails)
    std::uint8_t* blockData = nullptr;  // blockCount of the request x 16 bytes, block i at 16 i
};

// request_service: request record
struct ServiceRequestRecord
{
    const std::uint8_t* cardId = nullptr;       // 8 bytes: the card polled last
    std::uint8_t nodeCount = 0;                 // 1 to 32
    const std::uint8_t* nodeCodeList = nullptr; // 2 bytes per node, little-endian
};

// request_service: key version answer record (out)
struct KeyVersionRecord
{
    std::uint8_t* keyVersions = nullptr; // 2 bytes per node, little-endian; FF FF: no such node
};

struct ReaderConfig
{
    ReaderConfig(QString readerOption = QStringLiteral("auto"), QString traceTo = {})
        : reader(std::move(readerOption))
        , traceFile(std::move(traceTo))
    {}

    // Which reader to use: "auto", "libnfc", "pcsc", "pcsc:NAME", "rcs380", "virtual:DIR" or
    // "replay:FILE".
    QString reader;
    // When set, every exchange with the reader is written to this file (readertrace.h).
    QString traceFile;
};

class ReaderLibrary
{
public:
    explicit ReaderLibrary(ReaderConfig config = {});
    // A library over a given backend (tests, benchmarks); initialize_library accepts it as is.
    explicit ReaderLibrary(std::unique_ptr<ReaderBackend> backend);
    ~ReaderLibrary();
    ReaderLibrary(const ReaderLibrary&) = delete;
    ReaderLibrary& operator=(const ReaderLibrary&) = delete;

    // Checks the reader option. Fails for a malformed one.
    bool initialize_library();
    // Creates and opens the backend; fails when no reader can be opened.
    bool open_reader_writer_auto();
    // Registers the event names and the target. Fails without a target or names.
    bool set_call_back_parameters(const CallbackParameters& parameters);
    // Starts card detection in the background; needs an open reader.
    bool start_polling(const PollingStartParameters& parameters);
    // Polls the card and reads the requested blocks (chunked, with retries). On success the
    // card's IDm (also into cardId), PMm, the block count and the blocks are filled.
    bool polling_and_read_block_without_encryption(const PollingRecord& polling,
                                                   const ReadRequestRecord& request,
                                                   const CardInformationRecord& cardInformation,
                                                   const BlockAnswerRecord& blockAnswer);
    // Reads the requested blocks, in one command and without polling again, from the card the
    // last polling_and_read_block_without_encryption found (request.cardId names it). For
    // what a read may add after the history: a refusal is an answer, never retried.
    bool read_block_without_encryption(const ReadRequestRecord& request,
                                       const BlockAnswerRecord& blockAnswer);
    // Asks the card the last read found, in one command, for the key versions of the nodes.
    bool request_service(const ServiceRequestRecord& request, const KeyVersionRecord& answer);
    // Stops card detection and closes the reader.
    bool close_reader_writer();
    bool dispose_library();

    // Why the last failing operation failed, in words for the log.
    QString lastError() const { return lastError_; }
    // Why the reader did not start, one line per reader backend tried ("backend: reason"),
    // for a message's details. Empty after a successful open.
    QStringList openFailureReasons() const { return openFailureReasons_; }
    // The name of the open reader, empty when none is open.
    QString readerName() const;
    // Commands sent by the last polling_and_read_block_without_encryption.
    int commandsOfLastRead() const { return commandsOfLastRead_; }
    // Commands sent by read_block_without_encryption and request_service since the last
    // polling_and_read_block_without_encryption.
    int commandsAfterLastRead() const { return commandsAfterLastRead_; }
    // Chunk sizes of block reads (tests and tuning).
    void setReadPlan(ReadPlan plan) { readPlan_ = std::move(plan); }
    const ReadPlan& readPlan() const { return readPlan_; }

private:
    bool fail(QString error);
    bool addressesLastCard(const std::uint8_t* cardId) const;
    void deliverPresence(bool present);
    void stopCardDetection();

    ReaderConfig config_;
    std::shared_ptr<ReaderTrace> trace_;
    QString traceRefusal_; // why no trace is written and no reader opened
    std::unique_ptr<ReaderBackend> backend_;
    bool givenBackend_ = false;
    bool initialised_ = false;
    bool open_ = false;
    bool polling_ = false;
    QString lastError_;
    QStringList openFailureReasons_;
    ReadPlan readPlan_;
    int commandsOfLastRead_ = 0;
    int commandsAfterLastRead_ = 0;
    // The card the last read found; the follow-up operations address only this card.
    std::optional<felica::Idm> lastCardIdm_;
    felica::Pmm lastCardPmm_{};

    // Presence reports arrive on a backend thread; this object, living on the library's
    // thread, turns them into posted events there.
    std::unique_ptr<QObject> relay_;
    QPointer<QObject> target_;
    int cardFindType_ = 0;
    int cardLoseType_ = 0;
    bool postEvents_ = false;
};

// Start-up: 0 reader open, 1 library start failed, 2 reader open failed. Sets the context's
// flags as each step succeeds.
int openReader(ReaderLibrary& library, ReaderContext& context);
// Shutdown: closes the reader if open, then disposes of the library if initialised, and
// clears the flags. The caller deletes the context.
void closeReader(ReaderLibrary& library, ReaderContext& context);

} // namespace ridelog::card
