// Playing a reader trace back: the real backend (RC-S380 framing, PC/SC APDUs, libnfc calls)
// runs over a transport that answers with the trace's '<' lines and checks every frame the
// backend sends against the trace's next '>' line. The first difference is reported with its
// line number, the expected and the sent bytes; from then on, and when the trace runs out,
// the transport behaves as if the card had been taken off.
//
// The reads and the card monitor each follow their own lines (column two of the trace), so
// the two threads need not interleave as they did when the trace was made.
#pragma once

#include "card/readerbackend.h"
#include "card/readertrace.h"

#include <QIODevice>
#include <functional>
#include <memory>

namespace ridelog::card {

struct ReplayOptions
{
    // false: '>' lines are not expected at all and the '<' lines answer in order whatever
    // their unit; for fuzzing the answer parsing.
    bool checkSent = true;
    // Answer no earlier than the trace's time for the line (at most this long per line), so
    // that the reads and the card monitor keep roughly their recorded order.
    bool pace = true;
    std::chrono::milliseconds longestPause{1000};
};

// Opens the trace from its beginning; called once per thread that follows it.
using TraceSource = std::function<std::unique_ptr<QIODevice>()>;

class ReplaySession;

// The backend that plays the trace back; null with *error naming the line when the trace cannot
// be read or names no backend this build has. trace (optional) records the replay in turn.
std::unique_ptr<ReaderBackend> createReplayBackend(const TraceSource& source, const QString& label,
                                                   const ReplayOptions& options, QString* error,
                                                   std::shared_ptr<ReaderTrace> trace = {});

// The trace in file path.
std::unique_ptr<ReaderBackend> createReplayBackend(const QString& path, QString* error,
                                                   std::shared_ptr<ReaderTrace> trace = {});

// The first difference between the trace and what the backend sent, empty while none; backend
// must come from createReplayBackend.
QString replayDifference(const ReaderBackend& backend);

} // namespace ridelog::card
