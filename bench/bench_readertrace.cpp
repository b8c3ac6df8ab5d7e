// What --reader-trace adds to one card read (polling + 20 history blocks in 12 + 8): the same
// reads through each hardware backend over its emulated reader, without a trace and with every
// exchange written (and flushed) to a trace file.
#include "card/cardread.h"
#include "tracesession.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace ridelog::card;

namespace {

// Median wall-clock microseconds per read over batches of reads.
double microsecondsPerRead(ReaderLibrary& library, ReaderContext& context)
{
    constexpr int batches = 15;
    constexpr int readsPerBatch = 200;
    std::vector<double> perRead;
    for (int batch = 0; batch < batches; ++batch) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < readsPerBatch; ++i) {
            if (!readCardHistory(library, context).ok)
                return -1;
        }
        perRead.push_back(double(clock.nsecsElapsed()) / 1e3 / readsPerBatch);
    }
    std::sort(perRead.begin(), perRead.end());
    return perRead[perRead.size() / 2];
}

double measure(const testing::TracedReader& reader, const SimulatedCard& card,
               const QString& tracePath)
{
    auto emulated = testing::emulatedCardOf(card);
    std::unique_ptr<ReaderBackend> backend;
    std::shared_ptr<ReaderTrace> trace;
    if (!tracePath.isEmpty()) {
        trace = std::make_shared<ReaderTrace>(tracePath);
        backend = testing::emulatedTracedBackend(reader, emulated, trace);
    } else {
        // The same backend over the same emulated reader, with nothing in between.
        backend = testing::emulatedTracedBackend(reader, emulated, nullptr);
    }
    ReaderLibrary library(std::move(backend));
    ReaderContext context;
    if (openReader(library, context) != 0)
        return -1;
    for (int i = 0; i < 50; ++i) // warm-up
        readCardHistory(library, context);
    const double result = microsecondsPerRead(library, context);
    closeReader(library, context);
    return trace && trace->failed() ? -1 : result;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const std::optional<SimulatedCard> card =
        testing::cardFromFile(QStringLiteral(RIDELOG_SAMPLE_CARD));
    QTemporaryDir dir;
    if (!card || !dir.isValid())
        return 1;
    std::printf("%-8s %14s %14s %12s\n", "backend", "plain us/read", "traced us/read", "added us");
    for (const testing::TracedReader& reader : testing::kTracedReaders) {
        const double plain = measure(reader, *card, {});
        const double traced =
            measure(reader, *card, dir.filePath(QString::fromLatin1(reader.kind)));
        if (plain < 0 || traced < 0) {
            std::fprintf(stderr, "%s: the reads failed\n", reader.kind);
            return 1;
        }
        std::printf("%-8s %14.1f %14.1f %12.1f\n", reader.kind, plain, traced, traced - plain);
    }
    return 0;
}
