// The USB bulk pipe to a real reader through libusb-1.0.
#pragma once

#include "card/backends/usbtransport.h"

#include <cstdint>
#include <vector>

namespace ridelog::card {

struct UsbDeviceId
{
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// Sony PaSoRi RC-S380/S and RC-S380/P.
const std::vector<UsbDeviceId>& rcs380DeviceIds();

// Opens the first attached device with one of ids: detaches its kernel driver (port100 for the
// RC-S380), claims its first interface and finds its bulk endpoints. On failure returns null
// and says why: not attached, no permission (the udev rule), or busy in another program.
std::unique_ptr<UsbBulkTransport> openLibusbTransport(const std::vector<UsbDeviceId>& ids,
                                                      const QString& readerName, QString* error);

} // namespace ridelog::card
