#include "card/hardwarebackends.h"

#include "card/backends/hardwarebackendset.h"
#include "card/backends/tracingtransports.h"

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

HardwareBackendMakers systemHardwareBackendMakers(std::shared_ptr<ReaderTrace> trace)
{
    HardwareBackendMakers makers;
#ifdef RIDELOG_HAVE_LIBUSB
    makers.rcs380 = [trace] {
        UsbTransportOpener opener = [](QString* error) {
            return openLibusbTransport(rcs380DeviceIds(), QStringLiteral("Sony PaSoRi RC-S380"),
                                       error);
        };
        if (trace)
            opener = tracingUsbOpener(std::move(opener), trace);
        return tracedBackend(QStringLiteral("rcs380"),
                             std::make_unique<Rcs380Backend>(std::move(opener)), trace);
    };
#endif
#ifdef RIDELOG_HAVE_PCSC
    makers.pcsc = [trace](const QString& readerName) {
        std::unique_ptr<PcscApi> api = createSystemPcscApi();
        if (trace)
            api = tracingPcscApi(std::move(api), trace);
        return tracedBackend(QStringLiteral("pcsc"),
                             std::make_unique<PcscBackend>(std::move(api), readerName), trace);
    };
#endif
#ifdef RIDELOG_HAVE_LIBNFC
    makers.libnfc = [trace] {
        std::unique_ptr<LibnfcApi> api = createSystemLibnfcApi();
        if (trace)
            api = tracingLibnfcApi(std::move(api), trace);
        return tracedBackend(QStringLiteral("libnfc"),
                             std::make_unique<LibnfcBackend>(std::move(api)), trace);
    };
#endif
    return makers;
}

std::vector<std::unique_ptr<ReaderBackend>>
createHardwareBackendsInAutoOrder(std::shared_ptr<ReaderTrace> trace)
{
    return backendsInAutoOrder(systemHardwareBackendMakers(std::move(trace)));
}

std::unique_ptr<ReaderBackend> createHardwareBackend(const QString& option, QString* error,
                                                     std::shared_ptr<ReaderTrace> trace)
{
    return backendForOption(systemHardwareBackendMakers(std::move(trace)), option, error);
}

} // namespace ridelog::card
