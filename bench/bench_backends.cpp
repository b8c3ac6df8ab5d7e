// CPU time of one card read (polling + 20 history blocks) through the reader library and each
// hardware backend, with the reader emulated: what our framing, wrapping and checks cost per
// read, apart from USB and radio time.
#include "card/backends/libnfcbackend.h"
#include "card/backends/pcscbackend.h"
#include "card/backends/rcs380backend.h"
#include "card/cardread.h"
#include "card/readerlibrary.h"
#include "card/simulatedcard.h"
#include "fakes/emulatedreaders.h"

#include <QFile>
#include <cstdio>
#include <ctime>
#include <functional>

using namespace ridelog::card;

namespace {

double threadCpuMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

using BackendMaker =
    std::function<std::unique_ptr<ReaderBackend>(std::shared_ptr<testing::EmulatedCard>)>;

bool benchmark(const char* label, const SimulatedCard& card, const BackendMaker& make)
{
    auto emulated = std::make_shared<testing::EmulatedCard>();
    emulated->idm = QByteArray(reinterpret_cast<const char*>(card.idm.data()), 8);
    emulated->answer = [&card](const QByteArray& frame) { return answerCommand(card, frame); };
    ReaderLibrary library(make(emulated));
    ReaderContext context;
    if (openReader(library, context) != 0) {
        std::fprintf(stderr, "%s: %s\n", label, qPrintable(library.lastError()));
        return false;
    }
    constexpr int warmUp = 50;
    constexpr int reads = 2000;
    for (int i = 0; i < warmUp; ++i)
        readCardHistory(library, context);
    const double start = threadCpuMicroseconds();
    for (int i = 0; i < reads; ++i) {
        if (!readCardHistory(library, context).ok) {
            std::fprintf(stderr, "%s: read failed: %s\n", label, qPrintable(library.lastError()));
            return false;
        }
    }
    const double perRead = (threadCpuMicroseconds() - start) / reads;
    std::printf("%-28s %8.1f us per read (%d commands)\n", label, perRead,
                library.commandsOfLastRead());
    closeReader(library, context);
    return true;
}

} // namespace

int main()
{
    QFile file(QStringLiteral(RIDELOG_SAMPLE_CARD));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", RIDELOG_SAMPLE_CARD);
        return 1;
    }
    const std::optional<SimulatedCard> card = parseCardFile(file.readAll()).card;
    if (!card)
        return 1;

    bool ok = true;
    ok &= benchmark("RC-S380 (libusb)", *card, [](auto emulated) {
        return std::make_unique<Rcs380Backend>([emulated](QString*) {
            return std::make_unique<testing::EmulatedRcs380Transport>(emulated);
        });
    });
    ok &= benchmark("RC-S300 (PC/SC transparent)", *card, [](auto emulated) {
        return std::make_unique<PcscBackend>(std::make_unique<testing::EmulatedPcscApi>(
            QStringLiteral("Sony FeliCa Port/PaSoRi 4.0 00 00"), emulated));
    });
    ok &= benchmark("ACR122U (PC/SC)", *card, [](auto emulated) {
        return std::make_unique<PcscBackend>(std::make_unique<testing::EmulatedPcscApi>(
            QStringLiteral("ACS ACR122U PICC Interface 00 00"), emulated));
    });
    ok &= benchmark("RC-S370 (libnfc)", *card, [](auto emulated) {
        return std::make_unique<LibnfcBackend>(
            std::make_unique<testing::EmulatedLibnfcApi>(emulated));
    });
    return ok ? 0 : 1;
}
