#include "card/backends/replaytransports.h"

#include "card/backends/rcs380backend.h"
#include "card/backends/replaysession.h"
#include "card/backends/tracingtransports.h"
#include "card/readertexts.h"

#ifdef RIDELOG_HAVE_PCSC
#include "card/backends/pcscbackend.h"

#include <PCSC/pcsclite.h>
#endif
#ifdef RIDELOG_HAVE_LIBNFC
#include "card/backends/libnfcbackend.h"
#endif

#include <QFile>
#include <QtDebug>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <sys/stat.h>
#include <thread>

namespace ridelog::card {

namespace {

// The reader's device name out of the backend name in the header: "X (libusb...)" gives X.
QString deviceOfReader(const QString& reader, const QString& fallback)
{
    const qsizetype open = reader.lastIndexOf(QStringLiteral(" ("));
    const QString device = open > 0 ? reader.left(open) : reader;
    return device.isEmpty() ? fallback : device;
}

class ReplayUsbTransport : public UsbBulkTransport
{
public:
    ReplayUsbTransport(std::shared_ptr<ReplaySession> session, QString product)
        : session_(std::move(session))
        , product_(std::move(product))
    {}

    QString productName() const override { return product_; }

    UsbResult write(const QByteArray& bytes, std::chrono::milliseconds) override
    {
        const std::optional<TraceLine> line = session_->sent("usb", bytes);
        if (!line) // the reader takes the frame, but no answer will come
            return {UsbStatus::Ok, {}};
        return resultOf(*line);
    }

    UsbResult read(QByteArray* bytes, std::chrono::milliseconds) override
    {
        const std::optional<TraceLine> line = session_->answer("usb");
        if (!line)
            return {UsbStatus::Timeout, QStringLiteral("the trace has no more answers")};
        *bytes = line->bytes;
        return resultOf(*line);
    }

private:
    static UsbResult resultOf(const TraceLine& line)
    {
        const UsbStatus status = usbStatusOfWord(line.status).value_or(UsbStatus::Error);
        return {status, status == UsbStatus::Ok ? QString() : QStringLiteral("replayed failure")};
    }

    std::shared_ptr<ReplaySession> session_;
    QString product_;
};

#ifdef RIDELOG_HAVE_PCSC
DWORD bigEndian32(const QByteArray& bytes, qsizetype offset)
{
    DWORD value = 0;
    for (qsizetype i = 0; i < 4; ++i)
        value = (value << 8) | std::uint8_t(bytes[offset + i]);
    return value;
}

QByteArray bigEndianBytes(DWORD value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((quint32(value) >> (24 - 8 * i)) & 0xFF);
    return bytes;
}

LONG pcscCodeOf(const QByteArray& word)
{
    bool ok = false;
    const quint32 code = word.toUInt(&ok, 16);
    return ok ? LONG(qint32(code)) : LONG(SCARD_F_UNKNOWN_ERROR);
}

class ReplayPcscApi : public PcscApi
{
public:
    ReplayPcscApi(std::shared_ptr<ReplaySession> session, QString reader)
        : session_(std::move(session))
        , reader_(std::move(reader))
    {}

    LONG establishContext(SCARDCONTEXT* context) override
    {
        *context = 1;
        return SCARD_S_SUCCESS;
    }
    LONG releaseContext(SCARDCONTEXT) override { return SCARD_S_SUCCESS; }
    LONG listReaders(SCARDCONTEXT, QStringList* readers) override
    {
        *readers = QStringList{reader_};
        return SCARD_S_SUCCESS;
    }
    LONG getStatusChange(SCARDCONTEXT, DWORD timeoutMs, SCARD_READERSTATE* states,
                         DWORD count) override
    {
        QByteArray current;
        for (DWORD i = 0; i < count; ++i)
            current += bigEndianBytes(states[i].dwCurrentState);
        std::optional<TraceLine> line = session_->sent("status", current);
        if (line)
            line = session_->answer("status");
        if (!line)
            return cardTakenOff(timeoutMs, states, count);
        if (!line->status.isEmpty())
            return pcscCodeOf(line->status);
        if (line->bytes.size() != qsizetype(4 * count))
            return SCARD_F_COMM_ERROR;
        for (DWORD i = 0; i < count; ++i)
            states[i].dwEventState = bigEndian32(line->bytes, 4 * qsizetype(i));
        return SCARD_S_SUCCESS;
    }
    LONG cancel(SCARDCONTEXT) override
    {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        wake_.notify_all();
        return SCARD_S_SUCCESS;
    }
    LONG connect(SCARDCONTEXT, const QString&, SCARDHANDLE* card, DWORD* protocol) override
    {
        std::optional<TraceLine> line = session_->sent("connect", {});
        if (line)
            line = session_->answer("connect");
        if (!line)
            return SCARD_E_NO_SMARTCARD;
        if (!line->status.isEmpty())
            return pcscCodeOf(line->status);
        if (line->bytes.size() != 4)
            return SCARD_F_COMM_ERROR;
        *card = 1;
        *protocol = bigEndian32(line->bytes, 0);
        return SCARD_S_SUCCESS;
    }
    LONG disconnect(SCARDHANDLE) override { return SCARD_S_SUCCESS; }
    LONG transmit(SCARDHANDLE, DWORD, const QByteArray& command, QByteArray* response) override
    {
        std::optional<TraceLine> line = session_->sent("apdu", command);
        if (line)
            line = session_->answer("apdu");
        if (!line)
            return SCARD_W_REMOVED_CARD;
        if (!line->status.isEmpty())
            return pcscCodeOf(line->status);
        *response = line->bytes;
        return SCARD_S_SUCCESS;
    }

private:
    // Past the trace's end the card is gone: one change to "empty", then quiet waits.
    LONG cardTakenOff(DWORD timeoutMs, SCARD_READERSTATE* states, DWORD count)
    {
        SCARD_READERSTATE& reader = states[count - 1];
        if (count == 2 && (reader.dwCurrentState & SCARD_STATE_EMPTY) == 0) {
            states[0].dwEventState = states[0].dwCurrentState;
            reader.dwEventState = SCARD_STATE_EMPTY | SCARD_STATE_CHANGED;
            return SCARD_S_SUCCESS;
        }
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(std::min<DWORD>(timeoutMs, 100)),
                       [this] { return cancelled_; });
        const bool cancelled = std::exchange(cancelled_, false);
        return cancelled ? SCARD_E_CANCELLED : SCARD_E_TIMEOUT;
    }

    std::shared_ptr<ReplaySession> session_;
    QString reader_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool cancelled_ = false;
};
#endif

#ifdef RIDELOG_HAVE_LIBNFC
int libnfcCodeOf(const QByteArray& word)
{
    bool ok = false;
    const int code = word.toInt(&ok);
    return ok ? code : NFC_ESOFT;
}

class ReplayLibnfcApi : public LibnfcApi
{
public:
    // libnfc's own frame buffer; a longer answer overflows it.
    static constexpr qsizetype maximumFrameSize = 264;

    ReplayLibnfcApi(std::shared_ptr<ReplaySession> session, QString device)
        : session_(std::move(session))
        , device_(std::move(device))
    {}

    bool init() override { return true; }
    void exit() override {}
    QStringList listDevices() override { return {QStringLiteral("replay")}; }
    bool open(const QString&) override { return true; }
    void close() override {}
    QString deviceName() override { return device_; }
    QString lastError() override { return QStringLiteral("replayed failure"); }
    int initiatorInit() override { return NFC_SUCCESS; }
    int setPropertyBool(nfc_property, bool) override { return NFC_SUCCESS; }

    int selectPassiveTarget(nfc_modulation modulation, const QByteArray& initData,
                            nfc_target* target) override
    {
        std::optional<TraceLine> line =
            session_->sent("felica", char(initData.size() + 1) + initData);
        if (line)
            line = session_->answer("felica");
        if (!line)
            return 0; // no card in the field
        if (!line->status.isEmpty())
            return libnfcCodeOf(line->status);
        // The Polling response the target information came from: LEN 01 IDm PMm [system code].
        const QByteArray& frame = line->bytes;
        if (frame.size() < 18 || frame.size() > 20 || std::uint8_t(frame[0]) != frame.size())
            return NFC_ECHIP;
        *target = {};
        target->nm = modulation;
        nfc_felica_info& info = target->nti.nfi;
        info.szLen = std::size_t(frame.size());
        info.btResCode = std::uint8_t(frame[1]);
        std::memcpy(info.abtId, frame.constData() + 2, sizeof info.abtId);
        std::memcpy(info.abtPad, frame.constData() + 10, sizeof info.abtPad);
        if (frame.size() == 20)
            std::memcpy(info.abtSysCode, frame.constData() + 18, sizeof info.abtSysCode);
        return 1;
    }

    int transceiveBytes(const QByteArray& tx, QByteArray* rx, int) override
    {
        std::optional<TraceLine> line = session_->sent("felica", tx);
        if (line)
            line = session_->answer("felica");
        rx->clear();
        if (!line)
            return NFC_ETGRELEASED;
        if (!line->status.isEmpty())
            return libnfcCodeOf(line->status);
        if (line->bytes.size() > maximumFrameSize)
            return NFC_EOVFLOW;
        *rx = line->bytes;
        return int(rx->size());
    }

    int targetIsPresent() override
    {
        std::optional<TraceLine> line = session_->sent("present", {});
        if (line)
            line = session_->answer("present");
        if (!line)
            return NFC_ETGRELEASED;
        return line->status.isEmpty() ? NFC_SUCCESS : libnfcCodeOf(line->status);
    }

private:
    std::shared_ptr<ReplaySession> session_;
    QString device_;
};
#endif

// The real backend over the replay transport; a failed exchange says where the trace and the
// backend parted.
class ReplayReaderBackend : public ForwardingBackend
{
public:
    ReplayReaderBackend(std::unique_ptr<ReaderBackend> inner,
                        std::shared_ptr<ReplaySession> session)
        : ForwardingBackend(std::move(inner))
        , session_(std::move(session))
    {}

    QString name() const override { return ReaderTexts::tr("%1（再生）").arg(inner_->name()); }

    TransceiveResult transceive(const QByteArray& frame, std::chrono::milliseconds timeout) override
    {
        TransceiveResult result = inner_->transceive(frame, timeout);
        if (result.status != TransceiveStatus::Ok) {
            if (const QString difference = session_->difference(); !difference.isEmpty())
                result.error = difference;
        }
        return result;
    }

    QString difference() const { return session_->difference(); }

private:
    std::shared_ptr<ReplaySession> session_;
};

QString backendOfUnit(const QByteArray& unit)
{
    if (unit == "usb")
        return QStringLiteral("rcs380");
    if (unit == "apdu" || unit == "connect" || unit == "status")
        return QStringLiteral("pcsc");
    if (unit == "felica" || unit == "present")
        return QStringLiteral("libnfc");
    return {};
}

} // namespace

std::unique_ptr<ReaderBackend> createReplayBackend(const TraceSource& source, const QString& label,
                                                   const ReplayOptions& options, QString* error,
                                                   std::shared_ptr<ReaderTrace> trace)
{
    auto session = std::make_shared<ReplaySession>(source, label, options);
    QString problem;
    if (!session->validate(&problem)) {
        if (error)
            *error = problem;
        return nullptr;
    }
    QString kind = session->header(QStringLiteral("backend"));
    if (kind.isEmpty() || kind == QStringLiteral("none"))
        kind = backendOfUnit(session->firstUnit());
    const QString reader = session->header(QStringLiteral("reader"));

    std::unique_ptr<ReaderBackend> backend;
    if (kind == QStringLiteral("rcs380")) {
        const QString product = deviceOfReader(reader, QStringLiteral("Sony RC-S380"));
        UsbTransportOpener opener = [session,
                                     product](QString*) -> std::unique_ptr<UsbBulkTransport> {
            return std::make_unique<ReplayUsbTransport>(session, product);
        };
        if (trace)
            opener = tracingUsbOpener(std::move(opener), trace);
        backend = std::make_unique<Rcs380Backend>(std::move(opener));
    }
#ifdef RIDELOG_HAVE_PCSC
    if (kind == QStringLiteral("pcsc")) {
        std::unique_ptr<PcscApi> api = std::make_unique<ReplayPcscApi>(
            session, deviceOfReader(reader, QStringLiteral("Replayed PC/SC reader")));
        if (trace)
            api = tracingPcscApi(std::move(api), trace);
        backend = std::make_unique<PcscBackend>(std::move(api));
    }
#endif
#ifdef RIDELOG_HAVE_LIBNFC
    if (kind == QStringLiteral("libnfc")) {
        std::unique_ptr<LibnfcApi> api = std::make_unique<ReplayLibnfcApi>(
            session, deviceOfReader(reader, QStringLiteral("Replayed libnfc reader")));
        if (trace)
            api = tracingLibnfcApi(std::move(api), trace);
        backend = std::make_unique<LibnfcBackend>(std::move(api));
    }
#endif
    if (!backend) {
        if (error)
            *error = kind.isEmpty() ? QStringLiteral("%1: the trace names no reader backend "
                                                     "(rcs380, pcsc or libnfc)")
                                          .arg(label)
                                    : QStringLiteral("%1: this Ridelog cannot replay a %2 "
                                                     "trace (built without it)")
                                          .arg(label, kind);
        return nullptr;
    }
    backend = tracedBackend(kind, std::move(backend), std::move(trace));
    return std::make_unique<ReplayReaderBackend>(std::move(backend), std::move(session));
}

std::unique_ptr<ReaderBackend> createReplayBackend(const QString& path, QString* error,
                                                   std::shared_ptr<ReaderTrace> trace)
{
    const TraceSource source = [path]() -> std::unique_ptr<QIODevice> {
        auto file = std::make_unique<QFile>(path);
        if (!file->open(QIODevice::ReadOnly))
            return nullptr;
        return file;
    };
    // Anything but a regular file could block the open or the reads (a FIFO without a writer,
    // a device) or never end: it is refused before it is opened.
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        if (error)
            *error = errno == ENOENT ? QStringLiteral("%1: no such trace file").arg(path)
                                     : QStringLiteral("%1: %2").arg(
                                           path, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        if (error)
            *error = QStringLiteral("%1: not a regular file; a trace to replay must be a file "
                                    "that a reader trace was saved in")
                         .arg(path);
        return nullptr;
    }
    return createReplayBackend(source, path, ReplayOptions{}, error, std::move(trace));
}

QString replayDifference(const ReaderBackend& backend)
{
    const auto* replay = dynamic_cast<const ReplayReaderBackend*>(&backend);
    return replay ? replay->difference() : QString();
}

} // namespace ridelog::card
