#include "card/hardwarebackends.h"

#include "card/backends/hardwarebackendset.h"

#ifdef RIDELOG_HAVE_LIBUSB
#include "card/backends/libusbtransport.h"
#include "card/backends/rcs380backend.h"
#endif
#ifdef RIDELOG_HAVE_PCSC
#include "card/backends/pcscbackend.h"
#endif
#ifdef RIDELOG_HAVE_LIBNFC
#include "card/backends/libnfcbackend.h"
#endif

namespace ridelog::card {

HardwareBackendMakers systemHardwareBackendMakers()
{
    HardwareBackendMakers makers;
#ifdef RIDELOG_HAVE_LIBUSB
    makers.rcs380 = [] {
        return std::make_unique<Rcs380Backend>([](QString* error) {
            return openLibusbTransport(rcs380DeviceIds(), QStringLiteral("Sony PaSoRi RC-S380"),
                                       error);
        });
    };
#endif
#ifdef RIDELOG_HAVE_PCSC
    makers.pcsc = [](const QString& readerName) {
        return std::make_unique<PcscBackend>(createSystemPcscApi(), readerName);
    };
#endif
#ifdef RIDELOG_HAVE_LIBNFC
    makers.libnfc = [] { return std::make_unique<LibnfcBackend>(createSystemLibnfcApi()); };
#endif
    return makers;
}

std::vector<std::unique_ptr<ReaderBackend>> createHardwareBackendsInAutoOrder()
{
    return backendsInAutoOrder(systemHardwareBackendMakers());
}

std::unique_ptr<ReaderBackend> createHardwareBackend(const QString& spec, QString* error)
{
    return backendForSpec(systemHardwareBackendMakers(), spec, error);
}

} // namespace ridelog::card
