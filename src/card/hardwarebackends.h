// The hardware reader backends (libnfc, PC/SC, RC-S380 over libusb), as the reader factory
// sees them. Built from their own source files; a build without them links
// hardwarebackends_stub.cpp instead.
#pragma once

#include "card/readerbackend.h"

#include <memory>
#include <vector>

namespace ridelog::card {

// Every hardware backend this build has, in the order "auto" tries them. Creating a backend
// opens nothing; "auto" takes the first one whose open() succeeds.
std::vector<std::unique_ptr<ReaderBackend>> createHardwareBackendsInAutoOrder();

// The backend for "libnfc", "pcsc", "pcsc:NAME" or "rcs380"; nullptr with *error set when the
// value names no backend of this build.
std::unique_ptr<ReaderBackend> createHardwareBackend(const QString& reader, QString* error);

} // namespace ridelog::card
