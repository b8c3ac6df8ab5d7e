// A build without hardware backends: "auto" finds no reader, and naming one says so.
#include "card/hardwarebackends.h"

namespace ridelog::card {

std::vector<std::unique_ptr<ReaderBackend>> createHardwareBackendsInAutoOrder()
{
    return {};
}

std::unique_ptr<ReaderBackend> createHardwareBackend(const QString& reader, QString* error)
{
    if (error)
        *error =
            QStringLiteral("The reader backend \"%1\" is not built into this program.").arg(reader);
    return nullptr;
}

} // namespace ridelog::card
