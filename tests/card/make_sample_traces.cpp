// Writes the sample reader traces of data/traces: one complete session of the sample card on
// each backend (RC-S380, PC/SC, libnfc), over the emulated readers of the tests.
//   make_sample_traces DIR
#include "testpaths.h"
#include "tracesession.h"

#include <QDir>
#include <QTextStream>

using namespace ridelog::card;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream err(stderr);
    if (arguments.size() != 2) {
        err << "usage: make_sample_traces DIR\n";
        return 2;
    }
    const std::optional<SimulatedCard> card =
        testing::cardFromFile(QStringLiteral(RIDELOG_SAMPLE_CARDS_DIR "/commuter.card"));
    if (!card) {
        err << "the sample card is missing\n";
        return 1;
    }
    QDir().mkpath(arguments[1]);
    for (const testing::TracedReader& reader : testing::kTracedReaders) {
        const QString path =
            QDir(arguments[1])
                .filePath(QString::fromLatin1(reader.kind) + QStringLiteral(".trace"));
        auto trace = std::make_shared<ReaderTrace>(path);
        auto emulated = testing::emulatedCardOf(*card);
        const testing::SessionOutcome outcome =
            testing::runReaderSession(testing::emulatedTracedBackend(reader, emulated, trace),
                                      [emulated] { emulated->inField = false; });
        if (!outcome.firstRead.ok || !outcome.cardLost || trace->failed()) {
            err << path << ": the session did not go through: " << outcome.readError << '\n';
            return 1;
        }
        err << "wrote " << path << '\n';
    }
    return 0;
}
