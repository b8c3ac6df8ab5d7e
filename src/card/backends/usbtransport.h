// The bulk pipe to a USB reader, as the RC-S380 backend sees it. The libusb transport talks to
// the device; tests put a fake in its place that checks every byte written.
#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>

namespace ridelog::card {

enum class UsbStatus
{
    Ok,
    Timeout,
    NoDevice, // the reader was unplugged
    Error,
};

struct UsbResult
{
    UsbStatus status = UsbStatus::Error;
    QString error;
};

class UsbBulkTransport
{
public:
    virtual ~UsbBulkTransport() = default;

    // Product name for the status bar, e.g. "Sony RC-S380/P".
    virtual QString productName() const = 0;
    virtual UsbResult write(const QByteArray& bytes, std::chrono::milliseconds timeout) = 0;
    // Reads one transfer (one frame) into bytes.
    virtual UsbResult read(QByteArray* bytes, std::chrono::milliseconds timeout) = 0;
};

// Finds and opens the device; on failure returns null and says why in error.
using UsbTransportOpener = std::function<std::unique_ptr<UsbBulkTransport>(QString* error)>;

} // namespace ridelog::card
