#include "card/backends/hardwarebackendset.h"

#include "card/readertexts.h"

namespace ridelog::card {

std::vector<std::unique_ptr<ReaderBackend>> backendsInAutoOrder(const HardwareBackendMakers& makers)
{
    std::vector<std::unique_ptr<ReaderBackend>> backends;
    if (makers.rcs380)
        backends.push_back(makers.rcs380());
    if (makers.pcsc)
        backends.push_back(makers.pcsc(QString()));
    if (makers.libnfc)
        backends.push_back(makers.libnfc());
    return backends;
}

std::unique_ptr<ReaderBackend> backendForOption(const HardwareBackendMakers& makers,
                                                const QString& option, QString* error)
{
    const QString kind = option.section(QLatin1Char(':'), 0, 0).trimmed().toLower();
    const QString readerName = option.section(QLatin1Char(':'), 1).trimmed();
    QString missing;
    if (kind == QStringLiteral("rcs380") && readerName.isEmpty()) {
        if (makers.rcs380)
            return makers.rcs380();
        missing = QStringLiteral("libusb-1.0");
    } else if (kind == QStringLiteral("pcsc")) {
        if (makers.pcsc)
            return makers.pcsc(readerName);
        missing = QStringLiteral("PC/SC (libpcsclite)");
    } else if (kind == QStringLiteral("libnfc") && readerName.isEmpty()) {
        if (makers.libnfc)
            return makers.libnfc();
        missing = QStringLiteral("libnfc");
    } else {
        if (error)
            *error = ReaderTexts::tr("「%1」というカードリーダは知りません（auto、rcs380、pcsc、"
                                     "pcsc:NAME、libnfc のどれかです）。")
                         .arg(option);
        return nullptr;
    }
    if (error)
        *error = ReaderTexts::tr("この Ridelog は %1 なしで作られていて、このリーダを使えません。")
                     .arg(missing);
    return nullptr;
}

} // namespace ridelog::card
