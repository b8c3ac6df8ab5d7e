// USB framing of the Sony RC-S380 (NFC Port-100 chip). Every command and response travels as
//   00 00 FF FF FF  LEN(2, little endian)  LCS  DATA  DCS  00
// where LCS makes the two length bytes sum to zero (mod 256), DCS does the same for DATA, and
// DATA starts with D6 (command) or D7 (response). The reader acknowledges each command with
// 00 00 FF 00 FF 00 before its response; the host sends the same ACK to cancel a command.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace ridelog::card::rcs380 {

inline constexpr std::uint8_t commandMarker = 0xD6;
inline constexpr std::uint8_t responseMarker = 0xD7;

// Command codes of the chip (the response code is the command code plus one).
enum class Command : std::uint8_t
{
    InSetRF = 0x00,
    InSetProtocol = 0x02,
    InCommRF = 0x04,
    SwitchRF = 0x06,
    GetFirmwareVersion = 0x20,
    GetPDDataVersion = 0x22,
    SetCommandType = 0x2A,
};

QByteArray ackFrame();

// The complete USB frame carrying payload (D6 cmd params...).
QByteArray encodeFrame(const QByteArray& payload);

// The frame for one command: D6, the command code, then params.
QByteArray commandFrame(Command command, const QByteArray& params = {});

enum class FrameKind
{
    Ack,
    Data,
    Invalid,
};

struct DecodedFrame
{
    FrameKind kind = FrameKind::Invalid;
    QByteArray payload; // Data: the bytes between LCS and DCS
    QString problem;    // Invalid: what is wrong, for the error message
};

DecodedFrame decodeFrame(const QByteArray& bytes);

} // namespace ridelog::card::rcs380
