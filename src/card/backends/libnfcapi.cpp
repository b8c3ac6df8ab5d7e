#include "card/backends/libnfcapi.h"

#include <array>

namespace ridelog::card {

namespace {

constexpr std::size_t maximumDevices = 16;
constexpr std::size_t maximumFrameSize = 264;

class SystemLibnfcApi : public LibnfcApi
{
public:
    ~SystemLibnfcApi() override
    {
        close();
        exit();
    }

    bool init() override
    {
        if (!context_)
            nfc_init(&context_);
        return context_ != nullptr;
    }

    void exit() override
    {
        if (context_)
            nfc_exit(context_);
        context_ = nullptr;
    }

    QStringList listDevices() override
    {
        QStringList found;
        if (!context_)
            return found;
        std::array<nfc_connstring, maximumDevices> connstrings{};
        const std::size_t count = nfc_list_devices(context_, connstrings.data(), maximumDevices);
        for (std::size_t i = 0; i < count; ++i)
            found << QString::fromLocal8Bit(connstrings[i]);
        return found;
    }

    bool open(const QString& connstring) override
    {
        close();
        if (!context_)
            return false;
        nfc_connstring text{};
        const QByteArray bytes = connstring.toLocal8Bit().left(NFC_BUFSIZE_CONNSTRING - 1);
        std::copy(bytes.begin(), bytes.end(), text);
        device_ = nfc_open(context_, text);
        return device_ != nullptr;
    }

    void close() override
    {
        if (device_)
            nfc_close(device_);
        device_ = nullptr;
    }

    QString deviceName() override
    {
        return device_ ? QString::fromLocal8Bit(nfc_device_get_name(device_)) : QString();
    }

    QString lastError() override
    {
        return device_ ? QString::fromLocal8Bit(nfc_strerror(device_)) : QString();
    }

    int initiatorInit() override { return device_ ? nfc_initiator_init(device_) : NFC_EIO; }

    int setPropertyBool(nfc_property property, bool enable) override
    {
        return device_ ? nfc_device_set_property_bool(device_, property, enable) : NFC_EIO;
    }

    int selectPassiveTarget(nfc_modulation modulation, const QByteArray& initData,
                            nfc_target* target) override
    {
        if (!device_)
            return NFC_EIO;
        return nfc_initiator_select_passive_target(
            device_, modulation, reinterpret_cast<const std::uint8_t*>(initData.constData()),
            std::size_t(initData.size()), target);
    }

    int transceiveBytes(const QByteArray& tx, QByteArray* rx, int timeoutMs) override
    {
        if (!device_)
            return NFC_EIO;
        std::array<std::uint8_t, maximumFrameSize> buffer{};
        const int received = nfc_initiator_transceive_bytes(
            device_, reinterpret_cast<const std::uint8_t*>(tx.constData()), std::size_t(tx.size()),
            buffer.data(), buffer.size(), timeoutMs);
        rx->clear();
        if (received > 0)
            rx->append(reinterpret_cast<const char*>(buffer.data()), received);
        return received;
    }

    int targetIsPresent() override
    {
        return device_ ? nfc_initiator_target_is_present(device_, nullptr) : NFC_EIO;
    }

private:
    nfc_context* context_ = nullptr;
    nfc_device* device_ = nullptr;
};

} // namespace

std::unique_ptr<LibnfcApi> createSystemLibnfcApi()
{
    return std::make_unique<SystemLibnfcApi>();
}

} // namespace ridelog::card
