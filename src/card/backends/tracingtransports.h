// Transports that write every exchange to a reader trace and pass it on unchanged: the USB
// bulk pipe of the RC-S380, the SCard calls of PC/SC and the libnfc calls.
#pragma once

#include "card/backends/usbtransport.h"
#include "card/readerbackend.h"
#include "card/readertrace.h"

#ifdef RIDELOG_HAVE_PCSC
#include "card/backends/pcscapi.h"
#endif
#ifdef RIDELOG_HAVE_LIBNFC
#include "card/backends/libnfcapi.h"
#endif

#include <memory>

namespace ridelog::card {

// Passes every call on to the backend inside.
class ForwardingBackend : public ReaderBackend
{
public:
    explicit ForwardingBackend(std::unique_ptr<ReaderBackend> inner)
        : inner_(std::move(inner))
    {}

    QString name() const override { return inner_->name(); }
    QString firmwareVersion() const override { return inner_->firmwareVersion(); }
    bool open(QString* error) override { return inner_->open(error); }
    void close() override { inner_->close(); }
    TransceiveResult transceive(const QByteArray& frame, std::chrono::milliseconds timeout) override
    {
        return inner_->transceive(frame, timeout);
    }
    void startPresenceMonitor(std::uint16_t systemCode, PresenceListener listener) override
    {
        inner_->startPresenceMonitor(systemCode, std::move(listener));
    }
    void stopPresenceMonitor() override { inner_->stopPresenceMonitor(); }

protected:
    std::unique_ptr<ReaderBackend> inner_;
};

// backend, whose transport already writes to trace, with the trace's header written when it
// opens: kind ("rcs380", "pcsc", "libnfc"), the reader's name and its firmware.
std::unique_ptr<ReaderBackend> tracedBackend(QString kind, std::unique_ptr<ReaderBackend> backend,
                                             std::shared_ptr<ReaderTrace> trace);

// Status words of the USB pipe in a trace.
QByteArray usbStatusWord(UsbStatus status);
std::optional<UsbStatus> usbStatusOfWord(const QByteArray& word);

// The Polling response frame libnfc's target information stands for.
#ifdef RIDELOG_HAVE_LIBNFC
QByteArray felicaFrameOfTarget(const nfc_target& target);
#endif

UsbTransportOpener tracingUsbOpener(UsbTransportOpener opener, std::shared_ptr<ReaderTrace> trace);

#ifdef RIDELOG_HAVE_PCSC
std::unique_ptr<PcscApi> tracingPcscApi(std::unique_ptr<PcscApi> api,
                                        std::shared_ptr<ReaderTrace> trace);
#endif

#ifdef RIDELOG_HAVE_LIBNFC
std::unique_ptr<LibnfcApi> tracingLibnfcApi(std::unique_ptr<LibnfcApi> api,
                                            std::shared_ptr<ReaderTrace> trace);
#endif

} // namespace ridelog::card
