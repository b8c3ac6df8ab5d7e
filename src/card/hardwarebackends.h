// The real card readers behind the reader layer: RC-S380 over libusb, PC/SC readers and
// libnfc readers. Which of them exist depends on the libraries found at build time.
#pragma once

#include "card/readerbackend.h"
#include "card/readertrace.h"

#include <QString>
#include <memory>
#include <vector>

namespace ridelog::card {

// One backend of every kind this build knows, in the order "auto" tries them.
// With a trace, each of them writes its exchanges to it.
std::vector<std::unique_ptr<ReaderBackend>>
createHardwareBackendsInAutoOrder(std::shared_ptr<ReaderTrace> trace = {});

// The backend named by option: "libnfc", "pcsc", "pcsc:NAME" or "rcs380". Returns null and sets
// error when the name is unknown or this build lacks the backend.
std::unique_ptr<ReaderBackend> createHardwareBackend(const QString& option, QString* error,
                                                     std::shared_ptr<ReaderTrace> trace = {});

} // namespace ridelog::card
