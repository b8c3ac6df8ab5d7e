// How the hardware backends are made, found and opened. The makers are injectable so that
// tests can run the automatic choice over faked devices.
#pragma once

#include "card/readerbackend.h"
#include "card/readertrace.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace ridelog::card {

struct HardwareBackendMakers
{
    using Maker = std::function<std::unique_ptr<ReaderBackend>()>;
    using NamedMaker = std::function<std::unique_ptr<ReaderBackend>(const QString& readerName)>;

    Maker rcs380;    // null when this build has no libusb
    NamedMaker pcsc; // null when this build has no PC/SC; readerName empty: any known family
    Maker libnfc;    // null when this build has no libnfc
};

// The makers of the real backends this build has; with a trace, every backend they make writes
// its exchanges to it.
HardwareBackendMakers systemHardwareBackendMakers(std::shared_ptr<ReaderTrace> trace = {});

// One backend of every kind that makers offer, in the order "auto" tries them: the RC-S380
// first (the most common PaSoRi, and only we can drive it), then PC/SC (pcscd owns the RC-S300
// and the ACS readers, so libnfc must not grab an ACR122U that pcscd serves), then libnfc.
std::vector<std::unique_ptr<ReaderBackend>>
backendsInAutoOrder(const HardwareBackendMakers& makers);

// The backend named by option ("rcs380", "pcsc", "pcsc:NAME", "libnfc"), or null with error.
std::unique_ptr<ReaderBackend> backendForOption(const HardwareBackendMakers& makers,
                                                const QString& option, QString* error);

} // namespace ridelog::card
