// Readers that libnfc drives: Sony PaSoRi RC-S330, RC-S360 and RC-S370 (RC-S956 inside,
// 054c:02e1) and the ACS ACR122U; also the Sony-branded PN531 board 054c:0193.
#pragma once

#include "card/backends/backendsupport.h"
#include "card/backends/libnfcapi.h"
#include "card/readerbackend.h"

#include <memory>
#include <mutex>

namespace ridelog::card {

class LibnfcBackend : public ReaderBackend
{
public:
    static constexpr std::chrono::milliseconds presenceInterval{300};
    static constexpr std::chrono::milliseconds minimumTimeout{50};
    // While the presence monitor runs, a reader that stopped answering is looked for again
    // every this many presence rounds (about once a second).
    static constexpr int reopenEveryRounds = 3;

    explicit LibnfcBackend(std::unique_ptr<LibnfcApi> api);
    ~LibnfcBackend() override;

    QString name() const override;
    bool open(QString* error) override;
    void close() override;
    TransceiveResult transceive(const QByteArray& frame,
                                std::chrono::milliseconds timeout) override;
    void startPresenceMonitor(std::uint16_t systemCode, PresenceListener listener) override;
    void stopPresenceMonitor() override;

private:
    bool openDevice(const QString& connstring, QString* error);
    bool openFirstDevice(QString* error);
    void reopenIfPluggedInAgain();
    TransceiveResult poll(const QByteArray& pollingFrame);
    TransceiveResult failureOf(int code);
    void checkPresence(std::uint16_t systemCode);

    std::unique_ptr<LibnfcApi> api_;
    QString deviceName_;
    bool deviceOpen_ = false;
    bool deviceLost_ = false;
    bool targetSelected_ = false;
    int roundsSinceReopen_ = 0;
    mutable std::mutex deviceMutex_;
    backends::BackgroundLoop presenceLoop_;
    backends::PresenceTracker presence_;
};

} // namespace ridelog::card
