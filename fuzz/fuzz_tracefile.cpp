// libFuzzer target: the reader-trace parser. Every line it accepts must come out of
// formatTraceLine and back in unchanged (times to the microsecond).
#include "card/readertrace.h"

#include <QBuffer>
#include <cmath>
#include <cstddef>
#include <cstdint>

using namespace ridelog::card;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(reinterpret_cast<const char*>(data), qsizetype(size));
    buffer->open(QIODevice::ReadOnly);
    TraceReader reader(std::move(buffer));
    int lines = 0;
    while (const std::optional<TraceLine> line = reader.next()) {
        if (++lines > 100000 || line->bytes.size() > kMaximumTraceFrame)
            __builtin_trap();
        QString error;
        const QByteArray text = formatTraceLine(*line);
        const std::optional<TraceLine> again = parseTraceLine(text, line->lineNumber, &error);
        if (!again || again->lane != line->lane || again->direction != line->direction ||
            again->unit != line->unit || again->bytes != line->bytes ||
            again->status != line->status ||
            std::abs(again->milliseconds - line->milliseconds) > 0.001)
            __builtin_trap();
    }
    (void)reader.header(QStringLiteral("backend"));
    return 0;
}
