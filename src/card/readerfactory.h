// Turns a reader spec (the value of --reader) into a backend:
//   virtual:DIR                 the simulated reader on folder DIR (created when missing)
//   auto                        the first hardware reader that opens (libnfc, PC/SC, RC-S380)
//   libnfc, pcsc, pcsc:NAME, rcs380   that hardware backend
#pragma once

#include "card/readerbackend.h"

#include <memory>

namespace ridelog::card {

// nullptr with *error set when the spec is malformed or names a backend this build lacks.
// Creating opens nothing; ReaderBackend::open does.
std::unique_ptr<ReaderBackend> createReaderBackend(const QString& spec, QString* error);

// True when spec has one of the forms above (whether or not the backend is built).
bool isWellFormedReaderSpec(const QString& spec);

} // namespace ridelog::card
