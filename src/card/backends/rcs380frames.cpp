#include "card/backends/rcs380frames.h"

namespace ridelog::card::rcs380 {

namespace {

constexpr int headerSize = 8;  // preamble (5), length (2), length checksum (1)
constexpr int trailerSize = 2; // data checksum, postamble

std::uint8_t checksumOf(const QByteArray& bytes, int from, int count)
{
    std::uint8_t sum = 0;
    for (int i = from; i < from + count; ++i)
        sum = std::uint8_t(sum + std::uint8_t(bytes[i]));
    return std::uint8_t(0x100 - sum);
}

bool startsWithDataPreamble(const QByteArray& bytes)
{
    return bytes.startsWith(QByteArray::fromHex("0000ffffff"));
}

DecodedFrame invalid(QString problem)
{
    DecodedFrame frame;
    frame.problem = std::move(problem);
    return frame;
}

} // namespace

QByteArray ackFrame()
{
    return QByteArray::fromHex("0000ff00ff00");
}

QByteArray encodeFrame(const QByteArray& payload)
{
    QByteArray frame = QByteArray::fromHex("0000ffffff");
    const auto length = std::uint16_t(payload.size());
    frame.append(char(length & 0xFF));
    frame.append(char(length >> 8));
    frame.append(char(checksumOf(frame, 5, 2)));
    frame.append(payload);
    frame.append(char(checksumOf(payload, 0, int(payload.size()))));
    frame.append(char(0x00));
    return frame;
}

QByteArray commandFrame(Command command, const QByteArray& params)
{
    QByteArray payload;
    payload.append(char(commandMarker));
    payload.append(char(command));
    payload.append(params);
    return encodeFrame(payload);
}

DecodedFrame decodeFrame(const QByteArray& bytes)
{
    if (bytes == ackFrame()) {
        DecodedFrame frame;
        frame.kind = FrameKind::Ack;
        return frame;
    }
    if (!startsWithDataPreamble(bytes) || bytes.size() < headerSize + trailerSize)
        return invalid(QStringLiteral("not a reader frame"));
    const int length = std::uint8_t(bytes[5]) | (std::uint8_t(bytes[6]) << 8);
    if (checksumOf(bytes, 5, 2) != std::uint8_t(bytes[7]))
        return invalid(QStringLiteral("wrong length checksum"));
    if (bytes.size() != headerSize + length + trailerSize)
        return invalid(QStringLiteral("frame length %1 does not match its header (%2)")
                           .arg(bytes.size())
                           .arg(length));
    if (checksumOf(bytes, headerSize, length) != std::uint8_t(bytes[headerSize + length]))
        return invalid(QStringLiteral("wrong data checksum"));
    if (bytes[headerSize + length + 1] != 0)
        return invalid(QStringLiteral("missing postamble"));
    DecodedFrame frame;
    frame.kind = FrameKind::Data;
    frame.payload = bytes.mid(headerSize, length);
    return frame;
}

} // namespace ridelog::card::rcs380
