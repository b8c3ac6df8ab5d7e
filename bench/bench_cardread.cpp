// CPU time of one card read (polling + 20 history blocks, then the gate log and the kind of card)
// through the reader library and the
// simulated reader, split into the simulated card's share (folder look-up, answering frames)
// and the rest (request records, framing, checks, chunking).
#include "card/cardread.h"
#include "card/readerlibrary.h"
#include "card/simulatedreader.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>

using namespace ridelog::card;

namespace {

double threadCpuMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

// Passes every call on and adds up the CPU time spent in the simulated card.
class TimedBackend : public ReaderBackend
{
public:
    explicit TimedBackend(std::unique_ptr<ReaderBackend> inner)
        : inner_(std::move(inner))
    {}
    QString name() const override { return inner_->name(); }
    bool open(QString* error) override { return inner_->open(error); }
    void close() override { inner_->close(); }
    void startPresenceMonitor(std::uint16_t code, PresenceListener listener) override
    {
        inner_->startPresenceMonitor(code, std::move(listener));
    }
    void stopPresenceMonitor() override { inner_->stopPresenceMonitor(); }
    TransceiveResult transceive(const QByteArray& frame, std::chrono::milliseconds timeout) override
    {
        const double start = threadCpuMicroseconds();
        TransceiveResult result = inner_->transceive(frame, timeout);
        cardMicroseconds += threadCpuMicroseconds() - start;
        return result;
    }
    double cardMicroseconds = 0;

private:
    std::unique_ptr<ReaderBackend> inner_;
};

} // namespace

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid() || !QFile::copy(QStringLiteral(RIDELOG_SAMPLE_CARD),
                                       dir.filePath(QStringLiteral("student.card")))) {
        std::fprintf(stderr, "cannot set up the card folder\n");
        return 1;
    }
    auto timed =
        std::make_unique<TimedBackend>(std::make_unique<SimulatedReaderBackend>(dir.path()));
    TimedBackend* backend = timed.get();
    ReaderLibrary library(std::move(timed));
    ReaderContext context;
    if (openReader(library, context) != 0) {
        std::fprintf(stderr, "cannot open the simulated reader\n");
        return 1;
    }

    constexpr int kReads = 5000;
    int blocks = 0;
    for (int i = 0; i < 50; ++i) // warm-up
        blocks += readCardHistory(library, context).blockCount;
    backend->cardMicroseconds = 0;
    blocks = 0;
    const double start = threadCpuMicroseconds();
    for (int i = 0; i < kReads; ++i)
        blocks += readCardHistory(library, context).blockCount;
    const double total = threadCpuMicroseconds() - start;
    closeReader(library, context);

    if (blocks != kReads * 20) {
        std::fprintf(stderr, "reads failed: %d blocks\n", blocks);
        return 1;
    }
    std::printf("card read (20 blocks, gate log, kind), %d reads, %d + %d commands each\n", kReads,
                library.commandsOfLastRead(), library.commandsAfterLastRead());
    std::printf("  total CPU per read:            %8.2f us\n", total / kReads);
    std::printf("  simulated card per read:       %8.2f us\n", backend->cardMicroseconds / kReads);
    std::printf("  reader library beyond the card:%8.2f us\n",
                (total - backend->cardMicroseconds) / kReads);
    return 0;
}
