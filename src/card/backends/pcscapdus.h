// The APDUs that carry FeliCa frames through PC/SC readers, per reader family, and the
// reading of their answers.
#pragma once

#include "card/readerbackend.h"

#include <QByteArray>
#include <QString>
#include <chrono>

namespace ridelog::card::pcsc {

enum class ReaderFamily
{
    // ACS ACR122U: PN532 inside; FeliCa frames go through the direct transmit pseudo-APDU
    // FF 00 00 00 Lc with the PN532 command InCommunicateThru (D4 42).
    Acr122,
    // Other ACS readers (ACR1252U, ACR1255U...): the frame itself in FF 00 00 00 Lc.
    AcsDirect,
    // Sony RC-S300 and other readers of the PC/SC Part 3 transparent session (FF C2).
    Transparent,
    Unknown,
};

ReaderFamily familyOfReader(const QString& readerName);
QString familyText(ReaderFamily family);

// GET DATA for the card identifier (the IDm of a FeliCa card): FF CA 00 00 00.
QByteArray getIdmApdu();

QByteArray acr122CommunicateThru(const QByteArray& frame);
QByteArray acsDirectTransmit(const QByteArray& frame);

QByteArray startTransparentSession(); // FF C2 00 00 02 81 00 00
QByteArray endTransparentSession();   // FF C2 00 00 02 82 00 00
QByteArray switchToFelica();          // FF C2 00 02 04 8F 02 03 00 00
// FF C2 00 01 Lc, timer 5F 46 (microseconds, little endian), transceive 95 with the frame, Le.
QByteArray transparentExchange(const QByteArray& frame, std::chrono::milliseconds timeout);

// The command frame for the family; empty when the frame does not fit into one APDU.
QByteArray wrapFrame(ReaderFamily family, const QByteArray& frame,
                     std::chrono::milliseconds timeout);

// The card's response frame out of the family's answer (status word included).
TransceiveResult unwrapResponse(ReaderFamily family, const QByteArray& answer, bool polling);

// True when the answer ends in 90 00; for the transparent session also the C0 status is 00.
bool isSuccessAnswer(const QByteArray& answer);

// IDm from the GET DATA answer; empty when the answer is not 8 bytes plus 90 00.
QByteArray idmFromAnswer(const QByteArray& answer);

} // namespace ridelog::card::pcsc
