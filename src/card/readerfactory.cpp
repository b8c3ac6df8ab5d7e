#include "card/readerfactory.h"

#include "card/hardwarebackends.h"
#include "card/simulatedreader.h"

#include <QStringList>
#include <vector>

namespace ridelog::card {

namespace {

const QString kVirtualPrefix = QStringLiteral("virtual:");

// "auto": tries every hardware backend in turn and keeps the first that opens.
class AutoReaderBackend : public ReaderBackend
{
public:
    explicit AutoReaderBackend(std::vector<std::unique_ptr<ReaderBackend>> candidates)
        : candidates_(std::move(candidates))
    {}

    QString name() const override { return chosen_ ? chosen_->name() : QStringLiteral("auto"); }

    bool open(QString* error) override
    {
        QStringList causes;
        for (auto& candidate : candidates_) {
            QString cause;
            if (candidate->open(&cause)) {
                chosen_ = candidate.get();
                return true;
            }
            causes.append(QStringLiteral("%1: %2").arg(candidate->name(), cause));
        }
        if (error) {
            *error = causes.isEmpty() ? QStringLiteral("No card reader backend is built in.")
                                      : QStringLiteral("No card reader found (%1).")
                                            .arg(causes.join(QStringLiteral("; ")));
        }
        return false;
    }

    void close() override
    {
        if (chosen_)
            chosen_->close();
        chosen_ = nullptr;
    }

    TransceiveResult transceive(const QByteArray& frame, std::chrono::milliseconds timeout) override
    {
        if (chosen_)
            return chosen_->transceive(frame, timeout);
        TransceiveResult result;
        result.error = QStringLiteral("no reader is open");
        return result;
    }

    void startPresenceMonitor(std::uint16_t systemCode, PresenceListener listener) override
    {
        if (chosen_)
            chosen_->startPresenceMonitor(systemCode, std::move(listener));
    }

    void stopPresenceMonitor() override
    {
        if (chosen_)
            chosen_->stopPresenceMonitor();
    }

private:
    std::vector<std::unique_ptr<ReaderBackend>> candidates_;
    ReaderBackend* chosen_ = nullptr;
};

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
