#include "card/readerfactory.h"

#include "card/autoreaderbackend.h"
#include "card/hardwarebackends.h"
#include "card/simulatedreader.h"

namespace ridelog::card {

namespace {

const QString kVirtualPrefix = QStringLiteral("virtual:");

bool isHardwareReader(const QString& reader)
{
    return reader == QStringLiteral("libnfc") || reader == QStringLiteral("pcsc") ||
           reader == QStringLiteral("rcs380") ||
           (reader.startsWith(QStringLiteral("pcsc:")) && reader.size() > 5);
}

} // namespace

bool isWellFormedReaderOption(const QString& reader)
{
    if (reader.startsWith(kVirtualPrefix))
        return reader.size() > kVirtualPrefix.size();
    return reader == QStringLiteral("auto") || isHardwareReader(reader);
}

std::unique_ptr<ReaderBackend> createReaderBackend(const QString& reader, QString* error)
{
    if (reader.startsWith(kVirtualPrefix) && reader.size() > kVirtualPrefix.size())
        return std::make_unique<SimulatedReaderBackend>(reader.mid(kVirtualPrefix.size()));
    if (reader == QStringLiteral("auto"))
        return std::make_unique<AutoReaderBackend>(createHardwareBackendsInAutoOrder());
    if (isHardwareReader(reader))
        return createHardwareBackend(reader, error);
    if (error) {
        *error = QStringLiteral("Unknown reader \"%1\" (use auto, libnfc, pcsc, pcsc:NAME, "
                                "rcs380 or virtual:DIR).")
                     .arg(reader);
    }
    return nullptr;
}

} // namespace ridelog::card
