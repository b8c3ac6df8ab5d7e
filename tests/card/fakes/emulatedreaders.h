// Readers with a card on them: each fake unwraps the FeliCa frame from its own transport
// (RC-S380 USB frames, PC/SC APDUs, libnfc calls), hands it to a card, and wraps the card's
// answer the way the real reader does. With these, the FeliCa core runs unchanged over every
// hardware backend.
#pragma once

#include "card/backends/libnfcapi.h"
#include "card/backends/pcscapi.h"
#include "card/backends/rcs380frames.h"
#include "card/backends/usbtransport.h"

#include <PCSC/pcsclite.h>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace ridelog::card::testing {

// The card in the field: its answer to one command frame (length byte first), or nothing when
// it stays silent.
struct EmulatedCard
{
    std::function<std::optional<QByteArray>(const QByteArray& frame)> answer;
    QByteArray idm;
    std::atomic<bool> inField{true};

    std::optional<QByteArray> respond(const QByteArray& frame)
    {
        if (!inField)
            return std::nullopt;
        return answer(frame);
    }
};

// An RC-S380 that accepts every set-up command and carries InCommRF to the card.
class EmulatedRcs380Transport : public UsbBulkTransport
{
public:
    explicit EmulatedRcs380Transport(std::shared_ptr<EmulatedCard> card)
        : card_(std::move(card))
    {}

    QString productName() const override { return QStringLiteral("Sony RC-S380/S"); }

    UsbResult write(const QByteArray& bytes, std::chrono::milliseconds) override
    {
        const rcs380::DecodedFrame frame = rcs380::decodeFrame(bytes);
        if (frame.kind == rcs380::FrameKind::Ack) {
            pending_.clear();
            return {UsbStatus::Ok, {}};
        }
        if (frame.kind != rcs380::FrameKind::Data || frame.payload.size() < 2)
            return {UsbStatus::Error, QStringLiteral("bad frame")};
        const auto command = std::uint8_t(frame.payload[1]);
        QByteArray response = QByteArray::fromHex("d7") + char(command + 1);
        if (command == std::uint8_t(rcs380::Command::InCommRF)) {
            const std::optional<QByteArray> answer = card_->respond(frame.payload.mid(4));
            response += answer ? QByteArray::fromHex("0000000000") + *answer
                               : QByteArray::fromHex("8000000000");
        } else if (command == std::uint8_t(rcs380::Command::GetFirmwareVersion)) {
            response += QByteArray::fromHex("1101");
        } else {
            response += QByteArray::fromHex("00");
        }
        pending_.push_back(rcs380::ackFrame());
        pending_.push_back(rcs380::encodeFrame(response));
        return {UsbStatus::Ok, {}};
    }

    UsbResult read(QByteArray* bytes, std::chrono::milliseconds) override
    {
        if (pending_.empty())
            return {UsbStatus::Timeout, QStringLiteral("nothing to read")};
        *bytes = pending_.front();
        pending_.pop_front();
        return {UsbStatus::Ok, {}};
    }

private:
    std::shared_ptr<EmulatedCard> card_;
    std::deque<QByteArray> pending_;
};

// pcscd with one reader of the named family and the card on it.
class EmulatedPcscApi : public PcscApi
{
public:
    EmulatedPcscApi(QString readerName, std::shared_ptr<EmulatedCard> card)
        : readerName_(std::move(readerName))
        , card_(std::move(card))
    {}

    LONG establishContext(SCARDCONTEXT* context) override
    {
        *context = 1;
        return SCARD_S_SUCCESS;
    }
    LONG releaseContext(SCARDCONTEXT) override { return SCARD_S_SUCCESS; }
    LONG listReaders(SCARDCONTEXT, QStringList* readers) override
    {
        *readers = QStringList{readerName_};
        return SCARD_S_SUCCESS;
    }
    LONG getStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE* states, DWORD count) override
    {
        const DWORD state = card_->inField ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY;
        if (count < 2 || (states[1].dwCurrentState & ~SCARD_STATE_CHANGED) == state) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return SCARD_E_TIMEOUT;
        }
        states[0].dwEventState = 0;
        states[1].dwEventState = state | SCARD_STATE_CHANGED;
        return SCARD_S_SUCCESS;
    }
    LONG cancel(SCARDCONTEXT) override { return SCARD_S_SUCCESS; }
    LONG connect(SCARDCONTEXT, const QString&, SCARDHANDLE* card, DWORD* protocol) override
    {
        if (!card_->inField)
            return SCARD_E_NO_SMARTCARD;
        *card = 1;
        *protocol = SCARD_PROTOCOL_T1;
        return SCARD_S_SUCCESS;
    }
    LONG disconnect(SCARDHANDLE) override { return SCARD_S_SUCCESS; }
    LONG transmit(SCARDHANDLE, DWORD, const QByteArray& apdu, QByteArray* answer) override
    {
        if (!card_->inField)
            return SCARD_W_REMOVED_CARD;
        const QByteArray ok = QByteArray::fromHex("9000");
        if (apdu == QByteArray::fromHex("ffca000000")) {
            *answer = card_->idm + ok;
        } else if (apdu.startsWith(QByteArray::fromHex("ffc20000")) ||
                   apdu.startsWith(QByteArray::fromHex("ffc20002"))) {
            *answer = QByteArray::fromHex("c003009000") + ok;
        } else if (apdu.startsWith(QByteArray::fromHex("ffc20001"))) {
            // 5F 46 04 timer, then 95 with the frame (short length in this emulation).
            const QByteArray frame = apdu.mid(5 + 7 + 2, std::uint8_t(apdu[5 + 7 + 1]));
            const std::optional<QByteArray> reply = card_->respond(frame);
            *answer =
                reply ? QByteArray::fromHex("c00300900097") + berLength(reply->size()) + *reply + ok
                      : QByteArray::fromHex("c0030164019000") + ok;
        } else if (apdu.startsWith(QByteArray::fromHex("ff000000"))) {
            const bool pn532 = apdu.mid(5, 2) == QByteArray::fromHex("d442");
            const std::optional<QByteArray> reply = card_->respond(apdu.mid(pn532 ? 7 : 5));
            if (pn532)
                *answer = QByteArray::fromHex("d543") +
                          (reply ? char(0) + *reply : QByteArray(1, '\x01')) + ok;
            else
                *answer = reply ? *reply + ok : QByteArray::fromHex("6300");
        } else {
            *answer = QByteArray::fromHex("6d00");
        }
        return SCARD_S_SUCCESS;
    }

private:
    static QByteArray berLength(qsizetype length)
    {
        QByteArray bytes;
        if (length > 0x7F)
            bytes.append(char(0x81));
        bytes.append(char(length));
        return bytes;
    }

    QString readerName_;
    std::shared_ptr<EmulatedCard> card_;
};

// A PN533 reader under libnfc with the card on it.
class EmulatedLibnfcApi : public LibnfcApi
{
public:
    explicit EmulatedLibnfcApi(std::shared_ptr<EmulatedCard> card)
        : card_(std::move(card))
    {}

    bool init() override { return true; }
    void exit() override {}
    QStringList listDevices() override { return {QStringLiteral("pn53x_usb:002:003")}; }
    bool open(const QString&) override { return true; }
    void close() override {}
    QString deviceName() override { return QStringLiteral("SONY RC-S370 / PN533"); }
    QString lastError() override { return QStringLiteral("emulated"); }
    int initiatorInit() override { return 0; }
    int setPropertyBool(nfc_property, bool) override { return 0; }
    int selectPassiveTarget(nfc_modulation modulation, const QByteArray& initData,
                            nfc_target* target) override
    {
        if (modulation.nmt != NMT_FELICA)
            return 0;
        const std::optional<QByteArray> reply =
            card_->respond(char(initData.size() + 1) + initData);
        if (!reply || reply->size() < 18)
            return 0;
        *target = {};
        target->nm = modulation;
        target->nti.nfi.szLen = std::size_t(reply->size());
        target->nti.nfi.btResCode = std::uint8_t((*reply)[1]);
        std::memcpy(target->nti.nfi.abtId, reply->constData() + 2, 8);
        std::memcpy(target->nti.nfi.abtPad, reply->constData() + 10, 8);
        if (reply->size() >= 20)
            std::memcpy(target->nti.nfi.abtSysCode, reply->constData() + 18, 2);
        return 1;
    }
    int transceiveBytes(const QByteArray& tx, QByteArray* rx, int) override
    {
        if (!card_->inField)
            return NFC_ERFTRANS;
        const std::optional<QByteArray> reply = card_->respond(tx);
        if (!reply)
            return NFC_ETIMEOUT;
        *rx = *reply;
        return int(reply->size());
    }
    int targetIsPresent() override { return card_->inField ? NFC_SUCCESS : NFC_ETGRELEASED; }

private:
    std::shared_ptr<EmulatedCard> card_;
};

} // namespace ridelog::card::testing
