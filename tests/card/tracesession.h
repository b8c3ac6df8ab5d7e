// One complete reader session as the main window runs it (open, card detection, a read on
// "CardFind", the card taken off, close), over any backend: the emulated readers with a trace
// being written, or a trace played back. The sample traces in data/traces come from here.
#pragma once

#include "card/backends/libnfcbackend.h"
#include "card/backends/pcscbackend.h"
#include "card/backends/rcs380backend.h"
#include "card/backends/replaytransports.h"
#include "card/backends/tracingtransports.h"
#include "card/cardevents.h"
#include "card/cardread.h"
#include "card/readerlibrary.h"
#include "card/simulatedcard.h"
#include "fakes/emulatedreaders.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

namespace ridelog::card::testing {

struct TracedReader
{
    const char* kind; // the backend, and the sample trace's file name
    const char* readerName;
};

// One reader of each backend: RC-S380 (USB), RC-S300 (PC/SC transparent session), RC-S370
// (libnfc).
inline const TracedReader kTracedReaders[] = {
    {"rcs380", ""},
    {"pcsc", "Sony FeliCa Port/PaSoRi 4.0 00 00"},
    {"libnfc", ""},
};

// The backend of reader over its emulated reader with card on it, writing to trace.
inline std::unique_ptr<ReaderBackend> emulatedTracedBackend(const TracedReader& reader,
                                                            std::shared_ptr<EmulatedCard> card,
                                                            std::shared_ptr<ReaderTrace> trace)
{
    const QString kind = QString::fromLatin1(reader.kind);
    std::unique_ptr<ReaderBackend> backend;
    if (kind == u"rcs380") {
        backend = std::make_unique<Rcs380Backend>(tracingUsbOpener(
            [card](QString*) { return std::make_unique<EmulatedRcs380Transport>(card); }, trace));
    } else if (kind == u"pcsc") {
        backend = std::make_unique<PcscBackend>(tracingPcscApi(
            std::make_unique<EmulatedPcscApi>(QString::fromLatin1(reader.readerName), card),
            trace));
    } else {
        backend = std::make_unique<LibnfcBackend>(
            tracingLibnfcApi(std::make_unique<EmulatedLibnfcApi>(card), trace));
    }
    return tracedBackend(kind, std::move(backend), trace);
}

inline std::optional<SimulatedCard> cardFromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseCardFile(file.readAll()).card;
}

inline std::shared_ptr<EmulatedCard> emulatedCardOf(const SimulatedCard& card)
{
    auto emulated = std::make_shared<EmulatedCard>();
    emulated->idm = QByteArray(reinterpret_cast<const char*>(card.idm.data()), 8);
    emulated->answer = [card](const QByteArray& frame) { return answerCommand(card, frame); };
    return emulated;
}

inline bool waitFor(const std::function<bool()>& condition, int milliseconds = 5000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

struct SessionOutcome
{
    bool opened = false;
    int reads = 0; // reads started by "CardFind"
    CardReadResult firstRead;
    QString readError;
    bool cardLost = false;
    QString replayDifference; // for a replayed trace: where it and the backend parted
};

// Opens the reader, arms card detection, reads the card when it is found, then calls
// takeCardOff (nothing to do for a replay: its trace ends with the card gone), waits for
// "CardLose" and closes the reader.
inline SessionOutcome runReaderSession(std::unique_ptr<ReaderBackend> backend,
                                       const std::function<void()>& takeCardOff)
{
    SessionOutcome outcome;
    ReaderBackend* reader = backend.get();
    ReaderLibrary library(std::move(backend));
    ReaderContext context;
    outcome.opened = openReader(library, context) == 0;
    if (!outcome.opened) {
        outcome.readError = library.lastError();
        return outcome;
    }
    QObject dialog;
    CardEventFilter filter({[&] {
                                const CardReadResult result = readCardHistory(library, context);
                                if (++outcome.reads == 1) {
                                    outcome.firstRead = result;
                                    outcome.readError = library.lastError();
                                }
                            },
                            [&] { outcome.cardLost = outcome.reads > 0; }},
                           &dialog);
    dialog.installEventFilter(&filter);
    startCardPolling(&library, &context, filter, &dialog);
    if (waitFor([&] { return outcome.reads > 0; })) {
        // The card stays a moment, as a user's would.
        waitFor([] { return false; }, 400);
        if (takeCardOff)
            takeCardOff();
        waitFor([&] { return outcome.cardLost; });
    }
    closeReader(library, context);
    outcome.replayDifference = replayDifference(*reader);
    return outcome;
}

} // namespace ridelog::card::testing
