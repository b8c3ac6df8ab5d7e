// The simulated reader: a folder stands for the reader's field. Each regular file in it whose
// name ends in ".card" (and does not start with '.') is a card; the card on the reader is the
// first such file in name order. Writing a card file under another name and renaming it into
// place puts a card on the reader at once; deleting or renaming it away removes the card.
//
// The card answers at the frame level (see simulatedcard.h). A card file that cannot be parsed
// is a card that never answers; a warning names the file and the line.
#pragma once

#include "card/readerbackend.h"
#include "card/simulatedcard.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace ridelog::card {

class SimulatedReaderBackend : public ReaderBackend
{
public:
    explicit SimulatedReaderBackend(QString directory);
    ~SimulatedReaderBackend() override;

    QString name() const override;
    bool open(QString* error) override;
    void close() override;
    TransceiveResult transceive(const QByteArray& frame,
                                std::chrono::milliseconds timeout) override;
    void startPresenceMonitor(std::uint16_t systemCode, PresenceListener listener) override;
    void stopPresenceMonitor() override;

    QString directory() const { return directory_; }
    // Commands sent to the reader since it was opened.
    int commandCount() const { return commandCount_.load(); }

    // How often the presence monitor looks at the folder.
    static constexpr std::chrono::milliseconds kScanInterval{100};

private:
    // Identifies one placement of one card file: a rewritten or re-placed file is a new card.
    struct Placement
    {
        QString path;
        quint64 device = 0;
        quint64 inode = 0;
        qint64 modifiedNs = 0;
        qint64 size = 0;
        bool operator==(const Placement&) const = default;
        bool present() const { return !path.isEmpty(); }
    };

    Placement currentPlacement() const;
    void loadCard(const Placement& placement);
    void monitorLoop(PresenceListener listener);

    const QString directory_;
    std::atomic<bool> open_{false};
    std::atomic<int> commandCount_{0};

    std::mutex cardMutex_; // guards the card in the field
    Placement placement_;
    std::optional<SimulatedCard> card_;
    int commandsThisPlacement_ = 0;

    std::mutex monitorMutex_;
    std::condition_variable monitorWake_;
    bool stopMonitor_ = false;
    std::thread monitor_;
};

} // namespace ridelog::card
