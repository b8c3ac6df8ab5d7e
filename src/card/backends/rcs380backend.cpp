#include "card/backends/rcs380backend.h"

#include "card/readertexts.h"

namespace ridelog::card {

using namespace std::chrono_literals;
using backends::hexBytes;
using backends::transceiveFailure;
using rcs380::Command;
using rcs380::DecodedFrame;
using rcs380::FrameKind;

namespace {

// InSetRF settings for FeliCa at 212 kbps: send bit rate and modulation, receive bit rate and
// modulation.
const QByteArray felica212Settings = QByteArray::fromHex("01010f01");

// InSetProtocol: every protocol parameter at its reader default.
const QByteArray protocolDefaults = QByteArray::fromHex("0018010102010300040005000600070808000900"
                                                        "0a000b000c000e040f001000110012001306");

// InSetProtocol: initial guard time of 24 units before FeliCa Polling.
const QByteArray felicaGuardTime = QByteArray::fromHex("0018");

constexpr std::uint32_t receiveTimeoutError = 0x00000080;

QByteArray inCommRfTimeout(std::chrono::milliseconds timeout)
{
    // The reader counts in units of 0.1 ms.
    const auto units = std::min<long long>((timeout.count() + 1) * 10, 0xFFFF);
    QByteArray bytes;
    bytes.append(char(units & 0xFF));
    bytes.append(char((units >> 8) & 0xFF));
    return bytes;
}

std::uint32_t littleEndian32(const QByteArray& bytes)
{
    return std::uint32_t(std::uint8_t(bytes[0])) | std::uint32_t(std::uint8_t(bytes[1])) << 8 |
           std::uint32_t(std::uint8_t(bytes[2])) << 16 |
           std::uint32_t(std::uint8_t(bytes[3])) << 24;
}

QString unpluggedText()
{
    return QStringLiteral("the RC-S380 reader was unplugged");
}

} // namespace

Rcs380Backend::Rcs380Backend(UsbTransportOpener opener)
    : opener_(std::move(opener))
{}

Rcs380Backend::~Rcs380Backend()
{
    close();
}

QString Rcs380Backend::name() const
{
    std::lock_guard lock(deviceMutex_);
    const QString product =
        productName_.isEmpty() ? QStringLiteral("Sony PaSoRi RC-S380") : productName_;
    if (firmwareVersion_.isEmpty())
        return ReaderTexts::tr("%1 (libusb)").arg(product);
    return ReaderTexts::tr("%1 (libusb、ファームウェア %2)").arg(product, firmwareVersion_);
}

QString Rcs380Backend::firmwareVersion() const
{
    std::lock_guard lock(deviceMutex_);
    return firmwareVersion_;
}

bool Rcs380Backend::open(QString* error)
{
    close();
    std::lock_guard lock(deviceMutex_);
    QString reason;
    wantedOpen_ = openDevice(&reason);
    if (!wantedOpen_ && error)
        *error = reason;
    return wantedOpen_;
}

bool Rcs380Backend::openDevice(QString* error)
{
    QString reason;
    transport_ = opener_ ? opener_(&reason) : nullptr;
    if (!transport_) {
        *error = reason.isEmpty() ? ReaderTexts::tr("RC-S380 が見つかりません。") : reason;
        return false;
    }
    unplugged_ = false;
    productName_ = transport_->productName();
    if (!startUp(&reason) || !configureFelica212(&reason)) {
        transport_.reset();
        *error = ReaderTexts::tr("RC-S380 が動き始めませんでした（%1）。").arg(reason);
        return false;
    }
    return true;
}

void Rcs380Backend::close()
{
    stopPresenceMonitor();
    std::lock_guard lock(deviceMutex_);
    wantedOpen_ = false;
    releaseDevice();
}

void Rcs380Backend::reopenIfPluggedInAgain()
{
    if (!wantedOpen_ || (transport_ && !unplugged_))
        return;
    if (++roundsSinceReopen_ < reopenEveryRounds)
        return;
    roundsSinceReopen_ = 0;
    transport_.reset(); // the old handle belongs to the device that went away
    QString ignored;
    if (!openDevice(&ignored))
        unplugged_ = true;
}

void Rcs380Backend::releaseDevice()
{
    if (!transport_)
        return;
    if (!unplugged_) {
        runStatusCommand(Command::SwitchRF, QByteArray(1, '\0'));
        transport_->write(rcs380::ackFrame(), ackTimeout);
    }
    transport_.reset();
}

TransceiveResult Rcs380Backend::transceive(const QByteArray& frame,
                                           std::chrono::milliseconds timeout)
{
    std::lock_guard lock(deviceMutex_);
    return communicate(frame, timeout);
}

TransceiveResult Rcs380Backend::communicate(const QByteArray& frame,
                                            std::chrono::milliseconds timeout)
{
    if (!transport_)
        return transceiveFailure(TransceiveStatus::Error,
                                 unplugged_ ? unpluggedText()
                                            : QStringLiteral("the RC-S380 is not open"));
    if (!backends::isWellFormedFelicaFrame(frame) || frame.size() > 0xFF)
        return transceiveFailure(TransceiveStatus::Error,
                                 QStringLiteral("refusing to send a malformed FeliCa frame"));
    const ChipReply reply =
        runCommand(Command::InCommRF, inCommRfTimeout(timeout) + frame, timeout + commandTimeout);
    if (!reply.ok) {
        if (reply.usbStatus == UsbStatus::Timeout)
            return transceiveFailure(TransceiveStatus::Timeout, reply.error);
        return transceiveFailure(TransceiveStatus::Error, reply.error);
    }
    if (reply.data.size() < 5)
        return transceiveFailure(
            TransceiveStatus::Error,
            QStringLiteral("short InCommRF response: %1").arg(hexBytes(reply.data)));
    const std::uint32_t status = littleEndian32(reply.data);
    if (status == receiveTimeoutError)
        return transceiveFailure(backends::isPollingCommand(frame) ? TransceiveStatus::NoCard
                                                                   : TransceiveStatus::Timeout,
                                 QStringLiteral("the card did not answer"));
    if (status != 0)
        return transceiveFailure(
            TransceiveStatus::Error,
            QStringLiteral("card communication error %1").arg(status, 8, 16, QLatin1Char('0')));
    return backends::checkedResponse(reply.data.mid(5));
}

Rcs380Backend::ChipReply Rcs380Backend::failure(UsbStatus status, QString error)
{
    if (status == UsbStatus::NoDevice) {
        unplugged_ = true;
        error = unpluggedText();
    }
    ChipReply reply;
    reply.usbStatus = status;
    reply.error = std::move(error);
    return reply;
}

Rcs380Backend::ChipReply Rcs380Backend::readFrame(std::chrono::milliseconds timeout,
                                                  DecodedFrame* frame)
{
    QByteArray bytes;
    const UsbResult result = transport_->read(&bytes, timeout);
    if (result.status != UsbStatus::Ok)
        return failure(result.status, result.status == UsbStatus::Timeout
                                          ? QStringLiteral("the RC-S380 did not answer in time")
                                          : result.error);
    *frame = rcs380::decodeFrame(bytes);
    ChipReply reply;
    reply.ok = true;
    return reply;
}

Rcs380Backend::ChipReply Rcs380Backend::runCommand(Command command, const QByteArray& params,
                                                   std::chrono::milliseconds responseTimeout)
{
    if (unplugged_ || !transport_)
        return failure(UsbStatus::NoDevice, {});
    const UsbResult written =
        transport_->write(rcs380::commandFrame(command, params), commandTimeout);
    if (written.status != UsbStatus::Ok)
        return failure(written.status,
                       QStringLiteral("writing to the RC-S380 failed: ") + written.error);

    DecodedFrame ack;
    if (ChipReply reply = readFrame(ackTimeout, &ack); !reply.ok)
        return reply;
    if (ack.kind != FrameKind::Ack)
        return failure(UsbStatus::Error,
                       QStringLiteral("the RC-S380 did not acknowledge: ") +
                           (ack.problem.isEmpty() ? QStringLiteral("data frame") : ack.problem));

    DecodedFrame response;
    if (ChipReply reply = readFrame(responseTimeout, &response); !reply.ok) {
        if (reply.usbStatus == UsbStatus::Timeout) // cancel the pending command
            transport_->write(rcs380::ackFrame(), ackTimeout);
        return reply;
    }
    if (response.kind != FrameKind::Data)
        return failure(
            UsbStatus::Error,
            QStringLiteral("bad frame from the RC-S380: ") +
                (response.problem.isEmpty() ? QStringLiteral("unexpected ACK") : response.problem));
    const QByteArray& payload = response.payload;
    if (payload.size() < 2 || std::uint8_t(payload[0]) != rcs380::responseMarker ||
        std::uint8_t(payload[1]) != std::uint8_t(command) + 1)
        return failure(UsbStatus::Error, QStringLiteral("unexpected response from the RC-S380: %1")
                                             .arg(hexBytes(payload.left(8))));
    ChipReply reply;
    reply.ok = true;
    reply.data = payload.mid(2);
    return reply;
}

Rcs380Backend::ChipReply Rcs380Backend::runStatusCommand(Command command, const QByteArray& params)
{
    ChipReply reply = runCommand(command, params, commandTimeout);
    if (reply.ok && (reply.data.isEmpty() || reply.data[0] != 0)) {
        reply.ok = false;
        reply.error = QStringLiteral("command %1 failed with status %2")
                          .arg(int(command), 2, 16, QLatin1Char('0'))
                          .arg(reply.data.isEmpty() ? -1 : int(std::uint8_t(reply.data[0])));
    }
    return reply;
}

void Rcs380Backend::drainStaleFrames()
{
    // Answers left over from a program that was killed mid-command.
    constexpr int maximumStaleFrames = 8;
    for (int i = 0; i < maximumStaleFrames; ++i) {
        QByteArray bytes;
        if (transport_->read(&bytes, 10ms).status != UsbStatus::Ok)
            return;
    }
}

bool Rcs380Backend::startUp(QString* error)
{
    // An ACK first cancels whatever command a previous program left running.
    if (const UsbResult ack = transport_->write(rcs380::ackFrame(), ackTimeout);
        ack.status != UsbStatus::Ok) {
        *error = ack.status == UsbStatus::NoDevice ? unpluggedText() : ack.error;
        return false;
    }
    drainStaleFrames();

    ChipReply reply = runStatusCommand(Command::SetCommandType, QByteArray(1, '\x01'));
    if (reply.ok)
        reply = runCommand(Command::GetFirmwareVersion, {}, commandTimeout);
    if (reply.ok && reply.data.size() >= 2)
        firmwareVersion_ = QStringLiteral("%1.%2")
                               .arg(std::uint8_t(reply.data[1]), 0, 16)
                               .arg(std::uint8_t(reply.data[0]), 2, 16, QLatin1Char('0'));
    if (reply.ok)
        reply = runCommand(Command::GetPDDataVersion, {}, commandTimeout);
    if (reply.ok)
        reply = runStatusCommand(Command::SwitchRF, QByteArray(1, '\0'));
    if (!reply.ok)
        *error = reply.error;
    return reply.ok;
}

bool Rcs380Backend::configureFelica212(QString* error)
{
    ChipReply reply = runStatusCommand(Command::SwitchRF, QByteArray(1, '\x01'));
    if (reply.ok)
        reply = runStatusCommand(Command::InSetRF, felica212Settings);
    if (reply.ok)
        reply = runStatusCommand(Command::InSetProtocol, protocolDefaults);
    if (reply.ok)
        reply = runStatusCommand(Command::InSetProtocol, felicaGuardTime);
    if (!reply.ok)
        *error = reply.error;
    return reply.ok;
}

void Rcs380Backend::startPresenceMonitor(std::uint16_t systemCode, PresenceListener listener)
{
    stopPresenceMonitor();
    presence_.reset(std::move(listener));
    presenceLoop_.start([this, systemCode] { pollPresence(systemCode); }, presenceInterval);
}

void Rcs380Backend::stopPresenceMonitor()
{
    presenceLoop_.stop();
}

void Rcs380Backend::pollPresence(std::uint16_t systemCode)
{
    bool present = false;
    {
        std::lock_guard lock(deviceMutex_);
        reopenIfPluggedInAgain();
        if (transport_ && !unplugged_) {
            const TransceiveResult result =
                communicate(backends::felicaPollingFrame(systemCode), presencePollingTimeout);
            present =
                result.status == TransceiveStatus::Ok && backends::isPollingResponse(result.frame);
        }
    }
    presence_.observe(present);
}

} // namespace ridelog::card
