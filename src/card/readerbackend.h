// What a card reader backend offers to the FeliCa protocol core: frame exchange and
// card presence. Backends: the simulated reader, libnfc, PC/SC, RC-S380 over libusb.
#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>

namespace ridelog::card {

enum class TransceiveStatus
{
    Ok,      // frame holds the card's response, length byte first
    Timeout, // the card did not answer in time
    NoCard,  // no card in the field
    Error,   // transport or reader failure; error() says what
};

struct TransceiveResult
{
    TransceiveStatus status = TransceiveStatus::Error;
    QByteArray frame;
    QString error;
};

class ReaderBackend
{
public:
    virtual ~ReaderBackend() = default;

    // Human-readable name of the reader in use, for the status bar and the About box.
    virtual QString name() const = 0;
    // The reader's firmware version where the backend learns it, empty otherwise.
    virtual QString firmwareVersion() const { return {}; }

    // Finds and opens the device. On failure, error names the cause in words a user can act on.
    virtual bool open(QString* error) = 0;
    virtual void close() = 0;

    // Sends one FeliCa command frame (length byte first) and waits at most timeout for the
    // response frame (length byte first).
    virtual TransceiveResult transceive(const QByteArray& frame,
                                        std::chrono::milliseconds timeout) = 0;

    // Card presence. The backend calls listener from any thread when a card arrives (true)
    // or leaves (false). systemCode is the code to poll for (0xFFFF: any).
    using PresenceListener = std::function<void(bool present)>;
    virtual void startPresenceMonitor(std::uint16_t systemCode, PresenceListener listener) = 0;
    virtual void stopPresenceMonitor() = 0;
};

} // namespace ridelog::card
