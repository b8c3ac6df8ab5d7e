// The few libnfc calls the libnfc backend makes, behind an interface so that tests can watch
// them without a device. One object drives at most one open device.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <nfc/nfc.h>

namespace ridelog::card {

class LibnfcApi
{
public:
    virtual ~LibnfcApi() = default;

    virtual bool init() = 0;                          // nfc_init
    virtual void exit() = 0;                          // nfc_exit
    virtual QStringList listDevices() = 0;            // nfc_list_devices: connection strings
    virtual bool open(const QString& connstring) = 0; // nfc_open
    virtual void close() = 0;                         // nfc_close
    virtual QString deviceName() = 0;                 // nfc_device_get_name
    virtual QString lastError() = 0;                  // nfc_strerror
    virtual int initiatorInit() = 0;                  // nfc_initiator_init
    virtual int setPropertyBool(nfc_property property, bool enable) = 0;
    virtual int selectPassiveTarget(nfc_modulation modulation, const QByteArray& initData,
                                    nfc_target* target) = 0;
    virtual int transceiveBytes(const QByteArray& tx, QByteArray* rx, int timeoutMs) = 0;
    virtual int targetIsPresent() = 0; // the target selected last
};

// The real library.
std::unique_ptr<LibnfcApi> createSystemLibnfcApi();

} // namespace ridelog::card
