#include "card/backends/libnfcbackend.h"

#include "card/readertexts.h"

#include <algorithm>

namespace ridelog::card {

using backends::transceiveFailure;

namespace {

constexpr nfc_modulation felica212{NMT_FELICA, NBR_212};
constexpr std::size_t pollingResponseWithSystemCode = 20;

QByteArray pollingResponseOf(const nfc_felica_info& info)
{
    QByteArray frame;
    frame.append(char(backends::felicaPollingResponseCode));
    frame.append(reinterpret_cast<const char*>(info.abtId), sizeof info.abtId);
    frame.append(reinterpret_cast<const char*>(info.abtPad), sizeof info.abtPad);
    if (info.szLen >= pollingResponseWithSystemCode)
        frame.append(reinterpret_cast<const char*>(info.abtSysCode), sizeof info.abtSysCode);
    frame.prepend(char(frame.size() + 1));
    return frame;
}

QString lostText()
{
    return QStringLiteral("the libnfc reader stopped answering (unplugged?)");
}

} // namespace

LibnfcBackend::LibnfcBackend(std::unique_ptr<LibnfcApi> api)
    : api_(std::move(api))
{}

LibnfcBackend::~LibnfcBackend()
{
    close();
    if (api_)
        api_->exit();
}

QString LibnfcBackend::name() const
{
    std::lock_guard lock(deviceMutex_);
    if (deviceName_.isEmpty())
        return ReaderTexts::tr("libnfc のカードリーダ");
    return deviceName_ + QStringLiteral(" (libnfc)");
}

bool LibnfcBackend::open(QString* error)
{
    close();
    std::lock_guard lock(deviceMutex_);
    QString reason;
    if (!api_ || !api_->init()) {
        reason = ReaderTexts::tr("libnfc を始められませんでした。");
    } else if (openFirstDevice(&reason)) {
        return true;
    }
    if (error)
        *error = reason;
    return false;
}

bool LibnfcBackend::openFirstDevice(QString* error)
{
    *error =
        ReaderTexts::tr("libnfc のリーダ（PaSoRi RC-S330/S360/S370、ACR122U）が見つかりません。");
    for (const QString& connstring : api_->listDevices()) {
        if (openDevice(connstring, error))
            return true;
    }
    return false;
}

void LibnfcBackend::reopenIfPluggedInAgain()
{
    if (!deviceOpen_ || !deviceLost_ || ++roundsSinceReopen_ < reopenEveryRounds)
        return;
    roundsSinceReopen_ = 0;
    api_->close();
    QString ignored;
    if (!openFirstDevice(&ignored))
        deviceLost_ = true; // still gone; deviceOpen_ stays so that we keep looking
}

bool LibnfcBackend::openDevice(const QString& connstring, QString* error)
{
    if (!api_->open(connstring)) {
        *error = ReaderTexts::tr("libnfc のリーダ %1 を開けません。%2 カーネルのモジュール "
                                 "pn533_usb と pn533、pcscd がリーダを使わないようにしてください。")
                     .arg(connstring, backends::udevRuleHint());
        return false;
    }
    if (api_->initiatorInit() < 0 || api_->setPropertyBool(NP_INFINITE_SELECT, false) < 0) {
        *error = ReaderTexts::tr("libnfc のリーダ %1 が動き始めませんでした（%2）。")
                     .arg(connstring, api_->lastError());
        api_->close();
        return false;
    }
    deviceName_ = api_->deviceName();
    deviceOpen_ = true;
    deviceLost_ = false;
    targetSelected_ = false;
    return true;
}

void LibnfcBackend::close()
{
    stopPresenceMonitor();
    std::lock_guard lock(deviceMutex_);
    if (deviceOpen_)
        api_->close();
    deviceOpen_ = false;
    targetSelected_ = false;
}

TransceiveResult LibnfcBackend::failureOf(int code)
{
    switch (code) {
    case NFC_ETIMEOUT:
        return transceiveFailure(TransceiveStatus::Timeout,
                                 QStringLiteral("the card did not answer"));
    case NFC_ETGRELEASED:
    case NFC_ERFTRANS:
        targetSelected_ = false;
        return transceiveFailure(TransceiveStatus::NoCard,
                                 QStringLiteral("the card left the reader"));
    case NFC_EIO:
    case NFC_ENOTSUCHDEV:
        deviceLost_ = true;
        targetSelected_ = false;
        return transceiveFailure(TransceiveStatus::Error, lostText());
    default:
        return transceiveFailure(
            TransceiveStatus::Error,
            QStringLiteral("libnfc error %1: %2").arg(code).arg(api_->lastError()));
    }
}

TransceiveResult LibnfcBackend::poll(const QByteArray& pollingFrame)
{
    // libnfc sends the Polling command itself; it takes the command without the length byte.
    nfc_target target{};
    const int found = api_->selectPassiveTarget(felica212, pollingFrame.mid(1), &target);
    if (found < 0)
        return failureOf(found);
    if (found == 0 || target.nm.nmt != NMT_FELICA) {
        targetSelected_ = false;
        return transceiveFailure(TransceiveStatus::NoCard, QStringLiteral("no card"));
    }
    targetSelected_ = true;
    return backends::transceiveOk(pollingResponseOf(target.nti.nfi));
}

TransceiveResult LibnfcBackend::transceive(const QByteArray& frame,
                                           std::chrono::milliseconds timeout)
{
    std::lock_guard lock(deviceMutex_);
    if (!deviceOpen_ || deviceLost_)
        return transceiveFailure(TransceiveStatus::Error,
                                 deviceLost_ ? lostText()
                                             : QStringLiteral("the libnfc reader is not open"));
    if (!backends::isWellFormedFelicaFrame(frame))
        return transceiveFailure(TransceiveStatus::Error,
                                 QStringLiteral("refusing to send a malformed FeliCa frame"));
    if (backends::isPollingCommand(frame))
        return poll(frame);
    if (!targetSelected_)
        return transceiveFailure(TransceiveStatus::NoCard, QStringLiteral("no card selected"));
    QByteArray response;
    // libnfc's time-out covers the USB round trip too, so very short card time-outs (from the
    // card's PMm) get a floor.
    const int received =
        api_->transceiveBytes(frame, &response, int(std::max(timeout, minimumTimeout).count()));
    if (received < 0)
        return failureOf(received);
    return backends::checkedResponse(response);
}

void LibnfcBackend::startPresenceMonitor(std::uint16_t systemCode, PresenceListener listener)
{
    stopPresenceMonitor();
    presence_.reset(std::move(listener));
    presenceLoop_.start([this, systemCode] { checkPresence(systemCode); }, presenceInterval);
}

void LibnfcBackend::stopPresenceMonitor()
{
    presenceLoop_.stop();
}

void LibnfcBackend::checkPresence(std::uint16_t systemCode)
{
    bool present = false;
    {
        std::lock_guard lock(deviceMutex_);
        reopenIfPluggedInAgain();
        if (deviceOpen_ && !deviceLost_) {
            if (targetSelected_) {
                // A card that left is reported before any other card is looked for.
                const int code = api_->targetIsPresent();
                present = code == NFC_SUCCESS;
                targetSelected_ = present;
                if (!present && code != NFC_ETGRELEASED)
                    failureOf(code); // notes a reader that stopped answering
            } else {
                present =
                    poll(backends::felicaPollingFrame(systemCode)).status == TransceiveStatus::Ok;
            }
        }
    }
    presence_.observe(present);
}

} // namespace ridelog::card
