#include "card/backends/tracingtransports.h"

#include <array>

namespace ridelog::card {

namespace {

constexpr auto toReader = TraceDirection::ToReader;
constexpr auto fromReader = TraceDirection::FromReader;

const std::array<std::pair<UsbStatus, const char*>, 3> usbStatusWords{{
    {UsbStatus::Timeout, "timeout"},
    {UsbStatus::NoDevice, "nodevice"},
    {UsbStatus::Error, "error"},
}};

class TracingUsbTransport : public UsbBulkTransport
{
public:
    TracingUsbTransport(std::unique_ptr<UsbBulkTransport> inner, std::shared_ptr<ReaderTrace> trace)
        : inner_(std::move(inner))
        , trace_(std::move(trace))
    {}

    QString productName() const override { return inner_->productName(); }

    UsbResult write(const QByteArray& bytes, std::chrono::milliseconds timeout) override
    {
        const UsbResult result = inner_->write(bytes, timeout);
        trace_->record(toReader, "usb", bytes, usbStatusWord(result.status));
        return result;
    }

    UsbResult read(QByteArray* bytes, std::chrono::milliseconds timeout) override
    {
        const UsbResult result = inner_->read(bytes, timeout);
        trace_->record(fromReader, "usb", result.status == UsbStatus::Ok ? *bytes : QByteArray(),
                       usbStatusWord(result.status));
        return result;
    }

private:
    std::unique_ptr<UsbBulkTransport> inner_;
    std::shared_ptr<ReaderTrace> trace_;
};

#ifdef RIDELOG_HAVE_PCSC
QByteArray pcscCodeWord(LONG code)
{
    return QByteArray::number(quint32(code), 16).rightJustified(8, '0');
}

QByteArray bigEndian32(DWORD value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((quint32(value) >> (24 - 8 * i)) & 0xFF);
    return bytes;
}

class TracingPcscApi : public PcscApi
{
public:
    TracingPcscApi(std::unique_ptr<PcscApi> inner, std::shared_ptr<ReaderTrace> trace)
        : inner_(std::move(inner))
        , trace_(std::move(trace))
    {}

    LONG establishContext(SCARDCONTEXT* context) override
    {
        return inner_->establishContext(context);
    }
    LONG releaseContext(SCARDCONTEXT context) override { return inner_->releaseContext(context); }
    LONG listReaders(SCARDCONTEXT context, QStringList* readers) override
    {
        return inner_->listReaders(context, readers);
    }
    LONG getStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states,
                         DWORD count) override
    {
        QByteArray current;
        for (DWORD i = 0; i < count; ++i)
            current += bigEndian32(states[i].dwCurrentState);
        trace_->record(toReader, "status", current);
        const LONG code = inner_->getStatusChange(context, timeoutMs, states, count);
        if (code != SCARD_S_SUCCESS) {
            trace_->record(fromReader, "status", {}, pcscCodeWord(code));
        } else {
            QByteArray events;
            for (DWORD i = 0; i < count; ++i)
                events += bigEndian32(states[i].dwEventState);
            trace_->record(fromReader, "status", events);
        }
        return code;
    }
    LONG cancel(SCARDCONTEXT context) override { return inner_->cancel(context); }
    LONG connect(SCARDCONTEXT context, const QString& reader, SCARDHANDLE* card,
                 DWORD* activeProtocol) override
    {
        trace_->record(toReader, "connect", {});
        const LONG code = inner_->connect(context, reader, card, activeProtocol);
        if (code == SCARD_S_SUCCESS)
            trace_->record(fromReader, "connect", bigEndian32(*activeProtocol));
        else
            trace_->record(fromReader, "connect", {}, pcscCodeWord(code));
        return code;
    }
    LONG disconnect(SCARDHANDLE card) override { return inner_->disconnect(card); }
    LONG transmit(SCARDHANDLE card, DWORD activeProtocol, const QByteArray& command,
                  QByteArray* response) override
    {
        trace_->record(toReader, "apdu", command);
        const LONG code = inner_->transmit(card, activeProtocol, command, response);
        if (code == SCARD_S_SUCCESS)
            trace_->record(fromReader, "apdu", *response);
        else
            trace_->record(fromReader, "apdu", {}, pcscCodeWord(code));
        return code;
    }

private:
    std::unique_ptr<PcscApi> inner_;
    std::shared_ptr<ReaderTrace> trace_;
};
#endif

#ifdef RIDELOG_HAVE_LIBNFC
QByteArray libnfcCodeWord(int code)
{
    return QByteArray::number(code);
}

class TracingLibnfcApi : public LibnfcApi
{
public:
    TracingLibnfcApi(std::unique_ptr<LibnfcApi> inner, std::shared_ptr<ReaderTrace> trace)
        : inner_(std::move(inner))
        , trace_(std::move(trace))
    {}

    bool init() override { return inner_->init(); }
    void exit() override { inner_->exit(); }
    QStringList listDevices() override { return inner_->listDevices(); }
    bool open(const QString& connstring) override { return inner_->open(connstring); }
    void close() override { inner_->close(); }
    QString deviceName() override { return inner_->deviceName(); }
    QString lastError() override { return inner_->lastError(); }
    int initiatorInit() override { return inner_->initiatorInit(); }
    int setPropertyBool(nfc_property property, bool enable) override
    {
        return inner_->setPropertyBool(property, enable);
    }
    int selectPassiveTarget(nfc_modulation modulation, const QByteArray& initData,
                            nfc_target* target) override
    {
        // libnfc sends the Polling command itself; the trace shows it as the FeliCa frame.
        trace_->record(toReader, "felica", char(initData.size() + 1) + initData);
        const int found = inner_->selectPassiveTarget(modulation, initData, target);
        if (found > 0 && target->nm.nmt == NMT_FELICA)
            trace_->record(fromReader, "felica", felicaFrameOfTarget(*target));
        else
            trace_->record(fromReader, "felica", {}, libnfcCodeWord(found > 0 ? 0 : found));
        return found;
    }
    int transceiveBytes(const QByteArray& tx, QByteArray* rx, int timeoutMs) override
    {
        trace_->record(toReader, "felica", tx);
        const int received = inner_->transceiveBytes(tx, rx, timeoutMs);
        if (received >= 0)
            trace_->record(fromReader, "felica", *rx);
        else
            trace_->record(fromReader, "felica", {}, libnfcCodeWord(received));
        return received;
    }
    int targetIsPresent() override
    {
        trace_->record(toReader, "present", {});
        const int code = inner_->targetIsPresent();
        trace_->record(fromReader, "present", {}, libnfcCodeWord(code));
        return code;
    }

private:
    std::unique_ptr<LibnfcApi> inner_;
    std::shared_ptr<ReaderTrace> trace_;
};
#endif

class TracedBackend : public ForwardingBackend
{
public:
    TracedBackend(QString kind, std::unique_ptr<ReaderBackend> inner,
                  std::shared_ptr<ReaderTrace> trace)
        : ForwardingBackend(std::move(inner))
        , kind_(std::move(kind))
        , trace_(std::move(trace))
    {}

    bool open(QString* error) override
    {
        if (!inner_->open(error))
            return false;
        trace_->begin(kind_, inner_->name(), inner_->firmwareVersion());
        return true;
    }

private:
    QString kind_;
    std::shared_ptr<ReaderTrace> trace_;
};

} // namespace

std::unique_ptr<ReaderBackend> tracedBackend(QString kind, std::unique_ptr<ReaderBackend> backend,
                                             std::shared_ptr<ReaderTrace> trace)
{
    if (!trace || !backend)
        return backend;
    return std::make_unique<TracedBackend>(std::move(kind), std::move(backend), std::move(trace));
}

QByteArray usbStatusWord(UsbStatus status)
{
    for (const auto& [known, word] : usbStatusWords) {
        if (known == status)
            return word;
    }
    return {};
}

std::optional<UsbStatus> usbStatusOfWord(const QByteArray& word)
{
    if (word.isEmpty())
        return UsbStatus::Ok;
    for (const auto& [status, known] : usbStatusWords) {
        if (word == known)
            return status;
    }
    return std::nullopt;
}

#ifdef RIDELOG_HAVE_LIBNFC
QByteArray felicaFrameOfTarget(const nfc_target& target)
{
    const nfc_felica_info& info = target.nti.nfi;
    QByteArray frame(1, char(info.btResCode));
    frame.append(reinterpret_cast<const char*>(info.abtId), sizeof info.abtId);
    frame.append(reinterpret_cast<const char*>(info.abtPad), sizeof info.abtPad);
    if (info.szLen >= 20)
        frame.append(reinterpret_cast<const char*>(info.abtSysCode), sizeof info.abtSysCode);
    frame.prepend(char(frame.size() + 1));
    return frame;
}
#endif

UsbTransportOpener tracingUsbOpener(UsbTransportOpener opener, std::shared_ptr<ReaderTrace> trace)
{
    return
        [opener = std::move(opener), trace](QString* error) -> std::unique_ptr<UsbBulkTransport> {
            std::unique_ptr<UsbBulkTransport> transport = opener ? opener(error) : nullptr;
            if (!transport)
                return nullptr;
            return std::make_unique<TracingUsbTransport>(std::move(transport), trace);
        };
}

#ifdef RIDELOG_HAVE_PCSC
std::unique_ptr<PcscApi> tracingPcscApi(std::unique_ptr<PcscApi> api,
                                        std::shared_ptr<ReaderTrace> trace)
{
    return std::make_unique<TracingPcscApi>(std::move(api), std::move(trace));
}
#endif

#ifdef RIDELOG_HAVE_LIBNFC
std::unique_ptr<LibnfcApi> tracingLibnfcApi(std::unique_ptr<LibnfcApi> api,
                                            std::shared_ptr<ReaderTrace> trace)
{
    return std::make_unique<TracingLibnfcApi>(std::move(api), std::move(trace));
}
#endif

} // namespace ridelog::card
