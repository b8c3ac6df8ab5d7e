#include "card/backends/pcscbackend.h"

#include "card/readertexts.h"

#include <PCSC/pcsclite.h>

namespace ridelog::card {

using backends::transceiveFailure;

namespace {

const char plugAndPlayReader[] = "\\\\?PnP?\\Notification";

QString unpluggedText()
{
    return QStringLiteral("the PC/SC reader was unplugged");
}

bool isReaderGone(LONG code)
{
    return code == SCARD_E_NO_READERS_AVAILABLE || code == SCARD_E_READER_UNAVAILABLE ||
           code == SCARD_E_UNKNOWN_READER;
}

bool isCardGone(LONG code)
{
    return code == SCARD_W_REMOVED_CARD || code == SCARD_E_NO_SMARTCARD ||
           code == SCARD_W_RESET_CARD;
}

} // namespace

PcscBackend::PcscBackend(std::unique_ptr<PcscApi> api, QString wantedReader)
    : api_(std::move(api))
    , wantedReader_(std::move(wantedReader))
{}

PcscBackend::~PcscBackend()
{
    close();
}

QString PcscBackend::name() const
{
    std::lock_guard lock(deviceMutex_);
    if (readerName_.isEmpty())
        return ReaderTexts::tr("PC/SC のカードリーダ");
    return readerName_ + QStringLiteral(" (PC/SC)");
}

QByteArray PcscBackend::lastIdm() const
{
    std::lock_guard lock(deviceMutex_);
    return idm_;
}

bool PcscBackend::open(QString* error)
{
    close();
    std::lock_guard lock(deviceMutex_);
    QString reason;
    LONG code = api_->establishContext(&context_);
    if (code == SCARD_E_NO_SERVICE) {
        reason = ReaderTexts::tr("PC/SC のサービス pcscd が動いていません"
                                 "（sudo systemctl enable --now pcscd.socket で動かせます）。");
    } else if (code == SCARD_E_NO_ACCESS || code == SCARD_W_SECURITY_VIOLATION) {
        reason = ReaderTexts::tr("pcscd が使わせてくれません（polkit の規則で拒まれました：%1）。")
                     .arg(pcscErrorText(code));
    } else if (code != SCARD_S_SUCCESS) {
        reason = ReaderTexts::tr("PC/SC を使えません（%1）。").arg(pcscErrorText(code));
    } else {
        contextOpen_ = true;
        QStringList readers;
        code = api_->listReaders(context_, &readers);
        if (code == SCARD_E_NO_READERS_AVAILABLE || (code == SCARD_S_SUCCESS && readers.isEmpty()))
            reason = ReaderTexts::tr("PC/SC のリーダが見つかりません。");
        else if (code != SCARD_S_SUCCESS)
            reason = ReaderTexts::tr("PC/SC のリーダの一覧を得られません（%1）。")
                         .arg(pcscErrorText(code));
        else if (chooseReader(readers, &reason))
            return true;
    }
    if (contextOpen_)
        api_->releaseContext(context_);
    contextOpen_ = false;
    if (error)
        *error = reason;
    return false;
}

bool PcscBackend::chooseReader(const QStringList& readers, QString* error)
{
    for (const QString& reader : readers) {
        const pcsc::ReaderFamily family = pcsc::familyOfReader(reader);
        const bool wanted = wantedReader_.isEmpty()
                                ? family != pcsc::ReaderFamily::Unknown
                                : reader.contains(wantedReader_, Qt::CaseInsensitive);
        if (wanted) {
            readerName_ = reader;
            family_ = family;
            readerGone_ = false;
            return true;
        }
    }
    const QString found = readers.join(QStringLiteral(", "));
    *error = wantedReader_.isEmpty()
                 ? ReaderTexts::tr("FeliCa を読める PC/SC のリーダがありません（あるのは %1）。")
                       .arg(found)
                 : ReaderTexts::tr("「%1」という PC/SC のリーダはありません（あるのは %2）。")
                       .arg(wantedReader_, found);
    return false;
}

void PcscBackend::close()
{
    stopPresenceMonitor();
    std::lock_guard lock(deviceMutex_);
    disconnectCard();
    if (contextOpen_)
        api_->releaseContext(context_);
    contextOpen_ = false;
}

bool PcscBackend::transmit(const QByteArray& apdu, QByteArray* answer, LONG* code)
{
    *code = api_->transmit(card_, protocol_, apdu, answer);
    return *code == SCARD_S_SUCCESS;
}

TransceiveResult PcscBackend::failureOf(LONG code)
{
    if (isCardGone(code)) {
        disconnectCard();
        return transceiveFailure(TransceiveStatus::NoCard,
                                 QStringLiteral("the card left the reader"));
    }
    if (isReaderGone(code)) {
        readerGone_ = true;
        disconnectCard();
        return transceiveFailure(TransceiveStatus::Error, unpluggedText());
    }
    if (code == SCARD_E_SHARING_VIOLATION)
        return transceiveFailure(
            TransceiveStatus::Error,
            QStringLiteral("the reader %1 is in use by another program").arg(readerName_));
    if (code == SCARD_E_NO_ACCESS || code == SCARD_W_SECURITY_VIOLATION)
        return transceiveFailure(TransceiveStatus::Error,
                                 QStringLiteral("pcscd refused access to the reader %1 "
                                                "(permission denied by its polkit rules)")
                                     .arg(readerName_));
    if (code == SCARD_E_TIMEOUT)
        return transceiveFailure(TransceiveStatus::Timeout,
                                 QStringLiteral("the reader did not answer in time"));
    return transceiveFailure(TransceiveStatus::Error,
                             QStringLiteral("PC/SC error: ") + pcscErrorText(code));
}

TransceiveResult PcscBackend::connectCard()
{
    LONG code = api_->connect(context_, readerName_, &card_, &protocol_);
    if (code != SCARD_S_SUCCESS)
        return failureOf(code);
    cardConnected_ = true;
    cardLeft_ = false;

    QByteArray answer;
    if (!transmit(pcsc::getIdmApdu(), &answer, &code))
        return failureOf(code);
    idm_ = pcsc::idmFromAnswer(answer);
    if (idm_.isEmpty()) {
        disconnectCard();
        return transceiveFailure(TransceiveStatus::NoCard,
                                 QStringLiteral("the card in the reader is not a FeliCa card"));
    }
    if (family_ == pcsc::ReaderFamily::Transparent || family_ == pcsc::ReaderFamily::Unknown) {
        for (const QByteArray& apdu : {pcsc::startTransparentSession(), pcsc::switchToFelica()}) {
            if (!transmit(apdu, &answer, &code))
                return failureOf(code);
            if (!pcsc::isSuccessAnswer(answer)) {
                disconnectCard();
                return transceiveFailure(
                    TransceiveStatus::Error,
                    QStringLiteral("the reader %1 refused the transparent session: %2")
                        .arg(readerName_, backends::hexBytes(answer)));
            }
            sessionOpen_ = true;
        }
    }
    return backends::transceiveOk({});
}

void PcscBackend::disconnectCard()
{
    if (!cardConnected_)
        return;
    if (sessionOpen_) {
        QByteArray answer;
        api_->transmit(card_, protocol_, pcsc::endTransparentSession(), &answer);
    }
    sessionOpen_ = false;
    api_->disconnect(card_);
    cardConnected_ = false;
    idm_.clear();
}

TransceiveResult PcscBackend::transceive(const QByteArray& frame, std::chrono::milliseconds timeout)
{
    std::lock_guard lock(deviceMutex_);
    if (!contextOpen_ || readerGone_)
        return transceiveFailure(TransceiveStatus::Error,
                                 readerGone_ ? unpluggedText()
                                             : QStringLiteral("the PC/SC reader is not open"));
    const QByteArray apdu = backends::isWellFormedFelicaFrame(frame)
                                ? pcsc::wrapFrame(family_, frame, timeout)
                                : QByteArray();
    if (apdu.isEmpty())
        return transceiveFailure(TransceiveStatus::Error,
                                 QStringLiteral("refusing to send a malformed FeliCa frame"));
    if (cardLeft_.exchange(false))
        disconnectCard();
    if (!cardConnected_) {
        if (TransceiveResult connected = connectCard(); connected.status != TransceiveStatus::Ok)
            return connected;
    }
    QByteArray answer;
    LONG code = SCARD_S_SUCCESS;
    if (!transmit(apdu, &answer, &code))
        return failureOf(code);
    return pcsc::unwrapResponse(family_, answer, backends::isPollingCommand(frame));
}

void PcscBackend::startPresenceMonitor(std::uint16_t /*systemCode*/, PresenceListener listener)
{
    // The reader polls for cards by itself; its card-present state is what we watch.
    stopPresenceMonitor();
    presence_.reset(std::move(listener));
    readerState_ = SCARD_STATE_UNAWARE;
    plugAndPlayState_ = SCARD_STATE_UNAWARE;
    {
        std::lock_guard lock(deviceMutex_);
        if (!contextOpen_)
            return; // no reader chosen: nothing to watch
    }
    if (api_->establishContext(&monitorContext_) != SCARD_S_SUCCESS)
        return;
    monitorContextOpen_ = true;
    presenceLoop_.start([this] { watchReader(); }, presencePause);
}

void PcscBackend::stopPresenceMonitor()
{
    if (!monitorContextOpen_)
        return;
    presenceLoop_.stop([this] { api_->cancel(monitorContext_); });
    api_->releaseContext(monitorContext_);
    monitorContextOpen_ = false;
}

void PcscBackend::watchReader()
{
    QByteArray readerName;
    bool readerGone = false;
    {
        std::lock_guard lock(deviceMutex_);
        readerName = readerName_.toUtf8();
        readerGone = readerGone_;
    }
    SCARD_READERSTATE states[2] = {};
    states[0].szReader = plugAndPlayReader;
    states[0].dwCurrentState = plugAndPlayState_;
    states[1].szReader = readerName.constData();
    states[1].dwCurrentState = readerState_;
    const DWORD count = readerGone ? 1 : 2; // a gone reader is watched only through hot-plug

    const LONG code = api_->getStatusChange(monitorContext_, statusWaitMs, states, count);
    if (code == SCARD_E_TIMEOUT || code == SCARD_E_CANCELLED)
        return;
    if (code != SCARD_S_SUCCESS) {
        if (isReaderGone(code)) {
            std::lock_guard lock(deviceMutex_);
            readerGone_ = true;
        }
        presence_.observe(false);
        return;
    }
    if (states[0].dwEventState & SCARD_STATE_CHANGED) {
        plugAndPlayState_ = states[0].dwEventState & ~SCARD_STATE_CHANGED;
        refreshReaderList();
    }
    if (count == 2)
        applyReaderState(states[1]);
}

void PcscBackend::applyReaderState(const SCARD_READERSTATE& state)
{
    const DWORD event = state.dwEventState;
    readerState_ = event & ~SCARD_STATE_CHANGED;
    if (event & (SCARD_STATE_UNKNOWN | SCARD_STATE_UNAVAILABLE | SCARD_STATE_IGNORE)) {
        {
            std::lock_guard lock(deviceMutex_);
            readerGone_ = true;
        }
        readerState_ = SCARD_STATE_UNAWARE;
        cardLeft_ = true;
        presence_.observe(false);
        return;
    }
    const bool present = (event & SCARD_STATE_PRESENT) && !(event & SCARD_STATE_MUTE);
    if (!present)
        cardLeft_ = true;
    presence_.observe(present);
}

void PcscBackend::refreshReaderList()
{
    QStringList readers;
    const LONG code = api_->listReaders(monitorContext_, &readers);
    bool listed = false;
    {
        std::lock_guard lock(deviceMutex_);
        listed = code == SCARD_S_SUCCESS && readers.contains(readerName_);
        if (readerGone_ && listed) {
            readerGone_ = false; // plugged in again
            readerState_ = SCARD_STATE_UNAWARE;
        } else if (!listed) {
            readerGone_ = true;
        }
    }
    if (!listed) {
        cardLeft_ = true;
        presence_.observe(false);
    }
}

} // namespace ridelog::card
