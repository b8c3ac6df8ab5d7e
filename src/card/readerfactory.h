// Turns the value of the --reader option into a backend:
//   virtual:DIR                 the simulated reader on folder DIR (created when missing)
//   auto                        the first hardware reader that opens (RC-S380, PC/SC, libnfc)
//   libnfc, pcsc, pcsc:NAME, rcs380   that hardware backend
//   replay:FILE                 the real backend of a reader trace, played back from FILE
#pragma once

#include "card/readerbackend.h"
#include "card/readertrace.h"

#include <memory>

namespace ridelog::card {

// nullptr with *error set when the value is malformed or names a backend this build lacks.
// Creating opens nothing; ReaderBackend::open does. With a trace, the hardware backends write
// every exchange with their transport to it (the simulated reader has no transport).
std::unique_ptr<ReaderBackend> createReaderBackend(const QString& reader, QString* error,
                                                   std::shared_ptr<ReaderTrace> trace = {});

// FILE of replay:FILE, else empty.
QString replayedTracePath(const QString& reader);
// Whether two names stand for one file (hard links, symbolic links, "./" and all); false when
// either is missing.
bool isSameFile(const QString& first, const QString& second);

// True when reader has one of the forms above (whether or not the backend is built).
bool isWellFormedReaderOption(const QString& reader);

} // namespace ridelog::card
