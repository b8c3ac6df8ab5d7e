// Sony PaSoRi RC-S380 (054c:06c1, 054c:06c3) spoken to directly over USB bulk transfers. Linux
// has neither a libnfc nor a PC/SC driver for it; its kernel driver port100 is detached while
// Ridelog holds the reader.
#pragma once

#include "card/backends/backendsupport.h"
#include "card/backends/rcs380frames.h"
#include "card/backends/usbtransport.h"
#include "card/readerbackend.h"

#include <memory>
#include <mutex>

namespace ridelog::card {

class Rcs380Backend : public ReaderBackend
{
public:
    static constexpr std::chrono::milliseconds presenceInterval{300};
    static constexpr std::chrono::milliseconds ackTimeout{500};
    static constexpr std::chrono::milliseconds commandTimeout{1000};
    static constexpr std::chrono::milliseconds presencePollingTimeout{20};
    // While the presence monitor runs, an unplugged reader is looked for again every this many
    // presence rounds (about once a second) and started up when it is back.
    static constexpr int reopenEveryRounds = 3;

    explicit Rcs380Backend(UsbTransportOpener opener);
    ~Rcs380Backend() override;

    QString name() const override;
    QString firmwareVersion() const override;
    bool open(QString* error) override;
    void close() override;
    TransceiveResult transceive(const QByteArray& frame,
                                std::chrono::milliseconds timeout) override;
    void startPresenceMonitor(std::uint16_t systemCode, PresenceListener listener) override;
    void stopPresenceMonitor() override;

private:
    struct ChipReply
    {
        bool ok = false;
        UsbStatus usbStatus = UsbStatus::Ok;
        QByteArray data; // the response after D7 and the response code
        QString error;
    };

    ChipReply runCommand(rcs380::Command command, const QByteArray& params,
                         std::chrono::milliseconds responseTimeout);
    ChipReply runStatusCommand(rcs380::Command command, const QByteArray& params);
    ChipReply readFrame(std::chrono::milliseconds timeout, rcs380::DecodedFrame* frame);
    ChipReply failure(UsbStatus status, QString error);
    void drainStaleFrames();
    bool startUp(QString* error);
    bool configureFelica212(QString* error);
    TransceiveResult communicate(const QByteArray& frame, std::chrono::milliseconds timeout);
    void pollPresence(std::uint16_t systemCode);
    void releaseDevice();
    bool openDevice(QString* error);
    void reopenIfPluggedInAgain();

    UsbTransportOpener opener_;
    std::unique_ptr<UsbBulkTransport> transport_;
    QString productName_;
    QString firmwareVersion_;
    bool unplugged_ = false;
    bool wantedOpen_ = false; // open() succeeded and close() has not run
    int roundsSinceReopen_ = 0;
    mutable std::mutex deviceMutex_;
    backends::BackgroundLoop presenceLoop_;
    backends::PresenceTracker presence_;
};

} // namespace ridelog::card
