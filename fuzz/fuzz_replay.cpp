// libFuzzer targets fuzz_rcs380, fuzz_pcsc and fuzz_libnfc: the answer parsing of one real
// backend (RIDELOG_FUZZ_BACKEND), driven through the replay transport. The input is the
// reader's side of a session, answer after answer:
//   L (< 0xF0) then L bytes    an answer of L bytes
//   0xFF, two bytes L, L bytes an answer of L bytes (big-endian length)
//   0xF0 + n                   the n-th failure status of the backend's transport
// The first byte picks the PC/SC reader family. The backend opens, reads a card's 20 history
// blocks and closes, as the main window would.
#include "card/backends/replaytransports.h"
#include "card/cardread.h"
#include "card/readerlibrary.h"

#include <QBuffer>
#include <array>
#include <cstddef>
#include <cstdint>

using namespace ridelog::card;

namespace {

#if defined(RIDELOG_FUZZ_RCS380)
const char* const kBackend = "rcs380";
const std::array<const char*, 3> kStatuses{"timeout", "nodevice", "error"};
#elif defined(RIDELOG_FUZZ_PCSC)
const char* const kBackend = "pcsc";
// Card removed, no card, reader gone, sharing violation, time-out, unknown error.
const std::array<const char*, 6> kStatuses{"80100069", "8010000c", "80100017",
                                           "8010000b", "8010000a", "80100014"};
#else
const char* const kBackend = "libnfc";
// Time-out, target released, RF transmission error, I/O error, no such device, chip error.
const std::array<const char*, 6> kStatuses{"-6", "-10", "-20", "-1", "-3", "-90"};
#endif

const std::array<const char*, 3> kPcscReaders{
    "Sony FeliCa Port/PaSoRi 4.0 00 00 (PC/SC)", "ACS ACR122U PICC Interface 00 00 (PC/SC)",
    "ACS ACR1252 1S CL Reader [ACR1252 Reader PICC] 00 00 (PC/SC)"};

QByteArray traceOf(const std::uint8_t* data, std::size_t size)
{
    QByteArray text = QByteArray("# backend: ") + kBackend + '\n';
    if (size > 0)
        text += QByteArray("# reader: ") + kPcscReaders[data[0] % kPcscReaders.size()] + '\n';
    std::size_t at = 1;
    int answers = 0;
    while (at < size && answers++ < 400) {
        const std::uint8_t head = data[at++];
        text += "0 r < x";
        if (head >= 0xF0 && head != 0xFF) {
            text += QByteArray(" !") + kStatuses[(head - 0xF0) % kStatuses.size()] + '\n';
            continue;
        }
        std::size_t length = head;
        if (head == 0xFF) {
            if (at + 2 > size)
                break;
            length = std::size_t(data[at]) << 8 | data[at + 1];
            at += 2;
        }
        length = std::min({length, size - at, std::size_t(kMaximumTraceFrame)});
        if (length > 0)
            text += ' ' +
                    QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(length)).toHex();
        text += '\n';
        at += length;
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray trace = traceOf(data, size);
    const TraceSource source = [&trace]() -> std::unique_ptr<QIODevice> {
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(trace);
        buffer->open(QIODevice::ReadOnly);
        return buffer;
    };
    ReplayOptions options;
    options.checkSent = false;
    options.pace = false;
    QString error;
    std::unique_ptr<ReaderBackend> backend =
        createReplayBackend(source, QStringLiteral("fuzz"), options, &error);
    if (!backend)
        __builtin_trap(); // every generated trace is well formed
    ReaderLibrary library(std::move(backend));
    ReaderContext context;
    if (openReader(library, context) == 0) {
        const CardReadResult result = readCardHistory(library, context);
        if (result.ok && (result.blockCount < 0 || result.blockCount > kCardHistoryBlocks))
            __builtin_trap();
    }
    closeReader(library, context);
    return 0;
}
