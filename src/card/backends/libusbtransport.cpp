#include "card/backends/libusbtransport.h"

#include "card/backends/backendsupport.h"
#include "card/readertexts.h"

#include <algorithm>
#include <libusb.h>

namespace ridelog::card {

namespace {

constexpr int maximumTransferSize = 1024;

QString libusbErrorText(int code)
{
    return QString::fromLatin1(libusb_strerror(code));
}

QString permissionText(const QString& readerName)
{
    return ReaderTexts::tr("%1 を開く権限がありません。%2")
        .arg(readerName, backends::udevRuleHint());
}

QString busyText(const QString& readerName)
{
    return ReaderTexts::tr("%1 はほかのプログラム（別の Ridelog、nfcpy、カーネルのドライバ）が"
                           "使っています。そのプログラムを閉じて、リーダを差し直してください。")
        .arg(readerName);
}

bool matches(const libusb_device_descriptor& descriptor, const std::vector<UsbDeviceId>& ids)
{
    return std::any_of(ids.begin(), ids.end(), [&](const UsbDeviceId& id) {
        return id.vendor == descriptor.idVendor && id.product == descriptor.idProduct;
    });
}

struct BulkEndpoints
{
    int interfaceNumber = -1;
    unsigned char in = 0;
    unsigned char out = 0;
};

BulkEndpoints findBulkEndpoints(libusb_device* device)
{
    BulkEndpoints endpoints;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS &&
        libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS)
        return endpoints;
    if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
        const libusb_interface_descriptor& setting = config->interface[0].altsetting[0];
        endpoints.interfaceNumber = setting.bInterfaceNumber;
        for (int i = 0; i < setting.bNumEndpoints; ++i) {
            const libusb_endpoint_descriptor& endpoint = setting.endpoint[i];
            if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            if (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN)
                endpoints.in = endpoint.bEndpointAddress;
            else
                endpoints.out = endpoint.bEndpointAddress;
        }
    }
    libusb_free_config_descriptor(config);
    return endpoints;
}

class LibusbTransport : public UsbBulkTransport
{
public:
    LibusbTransport(libusb_context* context, libusb_device_handle* handle, BulkEndpoints endpoints,
                    QString productName)
        : context_(context)
        , handle_(handle)
        , endpoints_(endpoints)
        , productName_(std::move(productName))
    {}

    ~LibusbTransport() override
    {
        libusb_release_interface(handle_, endpoints_.interfaceNumber);
        libusb_close(handle_); // gives the interface back to the kernel driver
        libusb_exit(context_);
    }

    QString productName() const override { return productName_; }

    UsbResult write(const QByteArray& bytes, std::chrono::milliseconds timeout) override
    {
        QByteArray copy = bytes;
        int transferred = 0;
        const int code = libusb_bulk_transfer(
            handle_, endpoints_.out, reinterpret_cast<unsigned char*>(copy.data()),
            int(copy.size()), &transferred, unsigned(timeout.count()));
        if (code == LIBUSB_SUCCESS && transferred != copy.size())
            return {UsbStatus::Error, QStringLiteral("short USB write")};
        return resultOf(code);
    }

    UsbResult read(QByteArray* bytes, std::chrono::milliseconds timeout) override
    {
        bytes->resize(maximumTransferSize);
        int transferred = 0;
        const int code = libusb_bulk_transfer(
            handle_, endpoints_.in, reinterpret_cast<unsigned char*>(bytes->data()),
            int(bytes->size()), &transferred, unsigned(timeout.count()));
        bytes->resize(code == LIBUSB_SUCCESS ? transferred : 0);
        return resultOf(code);
    }

private:
    static UsbResult resultOf(int code)
    {
        switch (code) {
        case LIBUSB_SUCCESS:
            return {UsbStatus::Ok, {}};
        case LIBUSB_ERROR_TIMEOUT:
            return {UsbStatus::Timeout, libusbErrorText(code)};
        case LIBUSB_ERROR_NO_DEVICE:
            return {UsbStatus::NoDevice, libusbErrorText(code)};
        default:
            return {UsbStatus::Error, libusbErrorText(code)};
        }
    }

    libusb_context* context_;
    libusb_device_handle* handle_;
    BulkEndpoints endpoints_;
    QString productName_;
};

QString productNameOf(libusb_device_handle* handle, const libusb_device_descriptor& descriptor,
                      const QString& fallback)
{
    unsigned char text[128] = {};
    if (descriptor.iProduct == 0 ||
        libusb_get_string_descriptor_ascii(handle, descriptor.iProduct, text, sizeof text) <= 0)
        return fallback;
    return QStringLiteral("Sony ") + QString::fromLatin1(reinterpret_cast<const char*>(text));
}

// Takes the interface away from the kernel driver (port100) and claims it.
int claimInterface(libusb_device_handle* handle, int interfaceNumber)
{
    if (libusb_set_auto_detach_kernel_driver(handle, 1) != LIBUSB_SUCCESS &&
        libusb_kernel_driver_active(handle, interfaceNumber) == 1) {
        const int detached = libusb_detach_kernel_driver(handle, interfaceNumber);
        if (detached != LIBUSB_SUCCESS)
            return detached;
    }
    return libusb_claim_interface(handle, interfaceNumber);
}

std::unique_ptr<UsbBulkTransport> openDevice(libusb_context* context, libusb_device* device,
                                             const libusb_device_descriptor& descriptor,
                                             const QString& readerName, QString* error)
{
    const BulkEndpoints endpoints = findBulkEndpoints(device);
    if (endpoints.interfaceNumber < 0 || endpoints.in == 0 || endpoints.out == 0) {
        *error = ReaderTexts::tr("%1 にバルク転送の口がありません。").arg(readerName);
        return nullptr;
    }
    libusb_device_handle* handle = nullptr;
    const int opened = libusb_open(device, &handle);
    if (opened != LIBUSB_SUCCESS) {
        *error = opened == LIBUSB_ERROR_ACCESS ? permissionText(readerName)
                                               : ReaderTexts::tr("%1 を開けません（%2）。")
                                                     .arg(readerName, libusbErrorText(opened));
        return nullptr;
    }
    const int claimed = claimInterface(handle, endpoints.interfaceNumber);
    if (claimed != LIBUSB_SUCCESS) {
        libusb_close(handle);
        *error = claimed == LIBUSB_ERROR_BUSY ? busyText(readerName)
                 : claimed == LIBUSB_ERROR_ACCESS
                     ? permissionText(readerName)
                     : ReaderTexts::tr("%1 を使い始められません（%2）。")
                           .arg(readerName, libusbErrorText(claimed));
        return nullptr;
    }
    return std::make_unique<LibusbTransport>(context, handle, endpoints,
                                             productNameOf(handle, descriptor, readerName));
}

} // namespace

const std::vector<UsbDeviceId>& rcs380DeviceIds()
{
    static const std::vector<UsbDeviceId> ids = {{0x054C, 0x06C1}, {0x054C, 0x06C3}};
    return ids;
}

std::unique_ptr<UsbBulkTransport> openLibusbTransport(const std::vector<UsbDeviceId>& ids,
                                                      const QString& readerName, QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    libusb_context* context = nullptr;
    if (const int code = libusb_init(&context); code != LIBUSB_SUCCESS) {
        *error = ReaderTexts::tr("USB を使えません（%1）。").arg(libusbErrorText(code));
        return nullptr;
    }
    libusb_device** devices = nullptr;
    const ssize_t count = libusb_get_device_list(context, &devices);
    std::unique_ptr<UsbBulkTransport> transport;
    *error = ReaderTexts::tr("USB に %1 が見つかりません。").arg(readerName);
    for (ssize_t i = 0; i < count && !transport; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(devices[i], &descriptor) != LIBUSB_SUCCESS ||
            !matches(descriptor, ids))
            continue;
        transport = openDevice(context, devices[i], descriptor, readerName, error);
    }
    if (count >= 0)
        libusb_free_device_list(devices, 1);
    if (!transport)
        libusb_exit(context);
    return transport;
}

} // namespace ridelog::card
