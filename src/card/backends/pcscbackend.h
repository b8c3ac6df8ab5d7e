// Readers behind pcscd: Sony RC-S300 (054c:0dc8, 054c:0dc9) through the PC/SC transparent
// session, and ACS readers (ACR122U, ACR1252U...) through their direct transmit pseudo-APDU.
#pragma once

#include "card/backends/backendsupport.h"
#include "card/backends/pcscapdus.h"
#include "card/backends/pcscapi.h"
#include "card/readerbackend.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace ridelog::card {

class PcscBackend : public ReaderBackend
{
public:
    static constexpr DWORD statusWaitMs = 500;
    static constexpr std::chrono::milliseconds presencePause{50};

    // wantedReader empty: the first reader of a known family; otherwise the first reader whose
    // name contains wantedReader (case-insensitive).
    explicit PcscBackend(std::unique_ptr<PcscApi> api, QString wantedReader = {});
    ~PcscBackend() override;

    QString name() const override;
    bool open(QString* error) override;
    void close() override;
    TransceiveResult transceive(const QByteArray& frame,
                                std::chrono::milliseconds timeout) override;
    void startPresenceMonitor(std::uint16_t systemCode, PresenceListener listener) override;
    void stopPresenceMonitor() override;

    // The IDm the reader reported for the card in the field (GET DATA), empty without a card.
    QByteArray lastIdm() const;

private:
    bool chooseReader(const QStringList& readers, QString* error);
    TransceiveResult connectCard();
    void disconnectCard();
    TransceiveResult failureOf(LONG code);
    bool transmit(const QByteArray& apdu, QByteArray* answer, LONG* code);
    void watchReader();
    void applyReaderState(const SCARD_READERSTATE& state);
    void refreshReaderList();

    std::unique_ptr<PcscApi> api_;
    QString wantedReader_;
    QString readerName_;
    pcsc::ReaderFamily family_ = pcsc::ReaderFamily::Unknown;
    SCARDCONTEXT context_ = 0;
    bool contextOpen_ = false;
    SCARDHANDLE card_ = 0;
    DWORD protocol_ = 0;
    bool cardConnected_ = false;
    bool sessionOpen_ = false; // a transparent session was started on this connection
    bool readerGone_ = false;
    QByteArray idm_;
    mutable std::mutex deviceMutex_;

    // Presence monitor: its own context, so that its waits never block transceive.
    SCARDCONTEXT monitorContext_ = 0;
    std::atomic<bool> monitorContextOpen_{false};
    DWORD readerState_ = SCARD_STATE_UNAWARE;
    DWORD plugAndPlayState_ = SCARD_STATE_UNAWARE;
    std::atomic<bool> cardLeft_{false};
    backends::BackgroundLoop presenceLoop_;
    backends::PresenceTracker presence_;
};

} // namespace ridelog::card
