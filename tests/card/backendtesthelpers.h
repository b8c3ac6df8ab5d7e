// Helpers the tests of the hardware backends share.
#pragma once

#include "card/cardkind.h"
#include "card/felicaread.h"
#include "card/readerbackend.h"

#include <QList>
#include <mutex>

namespace ridelog::card::testing {

// Collects the presence events a backend's monitor thread reports.
class PresenceRecorder
{
public:
    ReaderBackend::PresenceListener listener()
    {
        return [this](bool present) {
            std::lock_guard lock(mutex_);
            events_ << present;
        };
    }

    QList<bool> events()
    {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    std::mutex mutex_;
    QList<bool> events_;
};

// The commands a read sends after the history, to the card 012E44A0B1C2D3E4 with the PMm
// 100B4B428485D0FF, and a card's answers, written out byte by byte: Read Without Encryption of
// blocks 0-2 of service 108F (time-out 44 ms from the PMm), and Request Service for the 30
// service codes that tell the kinds of card apart (time-out 78 ms).
inline const QByteArray kGateLogFrame =
    QByteArray::fromHex("1406012e44a0b1c2d3e4018f1003800080018002");
inline const QByteArray kGateLogResponse = QByteArray::fromHex(
    "3d07012e44a0b1c2d3e400000320002507200035840842aa0000000000a000250a1000358408270000000000"
    "002000250a2000357d1905aa0000000000");
inline const QByteArray kRequestServiceFrame = QByteArray::fromHex(
    "4702012e44a0b1c2d3e41e08180a18c818ca18c81cca1c081d0a1d481a4a1a881a8a1a08960a9648244a2488"
    "248a24c824ca2408250a2548254a25481f4a1fc81fca1f08200a20");
// Suica: the first code is there, the others are not.
inline const QByteArray kRequestServiceResponse =
    QByteArray::fromHex("4703012e44a0b1c2d3e41e0000") + QByteArray(58, char(0xff));

// Sends both commands as the read does and checks what came back; empty when all is well.
inline QString sendExtraCommands(ReaderBackend& backend)
{
    const felica::Idm idm{0x01, 0x2e, 0x44, 0xa0, 0xb1, 0xc2, 0xd3, 0xe4};
    const QByteArray gateLogList = QByteArray::fromHex("800080018002");
    const BlockReadOutcome gateLog =
        readBlocks(backend, idm, felica::kDefaultPmm, QByteArray::fromHex("8f10"), gateLogList,
                   ReadPlan{{felica::kGateLogBlocks}});
    if (!gateLog.ok || gateLog.commands != 1 || gateLog.blockData != kGateLogResponse.mid(13))
        return QStringLiteral("gate log: ") + gateLog.error;
    const ServiceRequestOutcome kind =
        requestServices(backend, idm, felica::kDefaultPmm, cardKindServiceCodes());
    if (!kind.ok)
        return QStringLiteral("request service: ") + kind.error;
    if (cardKindFromKeyVersions(kind.keyVersions) != CardKind::Suica)
        return QStringLiteral("request service: not a Suica");
    return QString();
}

} // namespace ridelog::card::testing
