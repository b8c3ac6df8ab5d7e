#include "card/readerfactory.h"

#include "card/autoreaderbackend.h"
#include "card/backends/replaytransports.h"
#include "card/hardwarebackends.h"
#include "card/readertexts.h"
#include "card/simulatedreader.h"

#include <QFile>
#include <sys/stat.h>

namespace ridelog::card {

namespace {

const QString kVirtualPrefix = QStringLiteral("virtual:");
const QString kReplayPrefix = QStringLiteral("replay:");

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
    if (reader.startsWith(kReplayPrefix))
        return reader.size() > kReplayPrefix.size();
    return reader == QStringLiteral("auto") || isHardwareReader(reader);
}

QString replayedTracePath(const QString& reader)
{
    return reader.startsWith(kReplayPrefix) ? reader.mid(kReplayPrefix.size()) : QString();
}

bool isSameFile(const QString& first, const QString& second)
{
    struct stat a = {};
    struct stat b = {};
    return ::stat(QFile::encodeName(first).constData(), &a) == 0 &&
           ::stat(QFile::encodeName(second).constData(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::unique_ptr<ReaderBackend> createReaderBackend(const QString& reader, QString* error,
                                                   std::shared_ptr<ReaderTrace> trace)
{
    if (reader.startsWith(kVirtualPrefix) && reader.size() > kVirtualPrefix.size())
        return std::make_unique<SimulatedReaderBackend>(reader.mid(kVirtualPrefix.size()));
    if (reader.startsWith(kReplayPrefix) && reader.size() > kReplayPrefix.size())
        return createReplayBackend(reader.mid(kReplayPrefix.size()), error, std::move(trace));
    if (reader == QStringLiteral("auto"))
        return std::make_unique<AutoReaderBackend>(
            createHardwareBackendsInAutoOrder(std::move(trace)));
    if (isHardwareReader(reader))
        return createHardwareBackend(reader, error, std::move(trace));
    if (error) {
        *error = ReaderTexts::tr("「%1」というカードリーダは知りません（auto、libnfc、pcsc、"
                                 "pcsc:NAME、rcs380、virtual:DIR、replay:FILE のどれかです）。")
                     .arg(reader);
    }
    return nullptr;
}

} // namespace ridelog::card
