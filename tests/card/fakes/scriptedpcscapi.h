// PC/SC calls that follow a script: the readers there are, the APDUs a test expects with their
// answers, and status changes for the presence monitor. Every surprise is written down as a
// problem for the test to show.
#pragma once

#include "card/backends/pcscapdus.h"
#include "card/backends/pcscbackend.h"

#include <PCSC/pcsclite.h>
#include <QStringList>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace ridelog::card::testing {

inline QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

inline const QString kSonyReader = QStringLiteral("Sony FeliCa Port/PaSoRi 4.0 00 00");
inline const QString kAcr122Reader = QStringLiteral("ACS ACR122U PICC Interface 00 00");
inline const QString kAcr1252Reader =
    QStringLiteral("ACS ACR1252 1S CL Reader [ACR1252 Reader PICC] 00 00");
inline const QString kTokenReader = QStringLiteral("Yubico YubiKey OTP+FIDO+CCID 00 00");

// A Polling and a read of one block with the card's answers, and the reader's answer to GET
// DATA (the IDm) and to the commands of a transparent session.
inline const QByteArray kIdm = hex("012e44a0b1c2d3e4");
inline const QByteArray kPollingFrame = hex("060000030100");
inline const QByteArray kPollingResponse = hex("1401012e44a0b1c2d3e4100b4b428485d0ff0003");
inline const QByteArray kReadFrame = hex("1006012e44a0b1c2d3e4010f09018000");
inline const QByteArray kReadResponse =
    hex("1d07012e44a0b1c2d3e4000001160100022d1ce87a10018c1300000001");
inline const QByteArray kIdmAnswer = hex("012e44a0b1c2d3e49000");
inline const QByteArray kSessionOk = hex("c00300900090 00");

// The PC/SC calls of one test: readers, scripted APDU exchanges and status changes.
struct PcscScript
{
    struct Exchange
    {
        QByteArray apdu;
        QByteArray answer;
        LONG code = SCARD_S_SUCCESS;
    };
    struct StatusChange
    {
        DWORD plugAndPlay = 0;
        DWORD reader = 0;
    };

    std::mutex mutex;
    LONG establishCode = SCARD_S_SUCCESS;
    LONG connectCode = SCARD_S_SUCCESS;
    QStringList readers;
    std::deque<Exchange> exchanges;
    std::deque<StatusChange> statusChanges;
    QStringList problems;
    int contextsOpen = 0;
    int connects = 0;
    int disconnects = 0;
    int transmits = 0;
    int cancels = 0;

    void expect(const QByteArray& apdu, const QByteArray& answer, LONG code = SCARD_S_SUCCESS)
    {
        std::lock_guard lock(mutex);
        exchanges.push_back({apdu, answer, code});
    }
    void change(DWORD plugAndPlay, DWORD reader)
    {
        std::lock_guard lock(mutex);
        statusChanges.push_back({plugAndPlay, reader});
    }
    template <typename T> T read(const T& field)
    {
        std::lock_guard lock(mutex);
        return field;
    }
};

class ScriptedPcscApi : public PcscApi
{
public:
    explicit ScriptedPcscApi(std::shared_ptr<PcscScript> script)
        : script_(std::move(script))
    {}

    LONG establishContext(SCARDCONTEXT* context) override
    {
        std::lock_guard lock(script_->mutex);
        if (script_->establishCode == SCARD_S_SUCCESS) {
            *context = ++nextContext_;
            ++script_->contextsOpen;
        }
        return script_->establishCode;
    }
    LONG releaseContext(SCARDCONTEXT) override
    {
        std::lock_guard lock(script_->mutex);
        --script_->contextsOpen;
        return SCARD_S_SUCCESS;
    }
    LONG listReaders(SCARDCONTEXT, QStringList* readers) override
    {
        std::lock_guard lock(script_->mutex);
        *readers = script_->readers;
        return readers->isEmpty() ? SCARD_E_NO_READERS_AVAILABLE : SCARD_S_SUCCESS;
    }
    LONG getStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE* states, DWORD count) override
    {
        {
            std::lock_guard lock(script_->mutex);
            if (!script_->statusChanges.empty()) {
                const PcscScript::StatusChange change = script_->statusChanges.front();
                script_->statusChanges.pop_front();
                states[0].dwEventState = change.plugAndPlay;
                if (count > 1)
                    states[1].dwEventState = change.reader;
                return SCARD_S_SUCCESS;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return SCARD_E_TIMEOUT;
    }
    LONG cancel(SCARDCONTEXT) override
    {
        std::lock_guard lock(script_->mutex);
        ++script_->cancels;
        return SCARD_S_SUCCESS;
    }
    LONG connect(SCARDCONTEXT, const QString& reader, SCARDHANDLE* card, DWORD* protocol) override
    {
        std::lock_guard lock(script_->mutex);
        ++script_->connects;
        if (!script_->readers.contains(reader))
            return SCARD_E_UNKNOWN_READER;
        *card = 77;
        *protocol = SCARD_PROTOCOL_T1;
        return script_->connectCode;
    }
    LONG disconnect(SCARDHANDLE) override
    {
        std::lock_guard lock(script_->mutex);
        ++script_->disconnects;
        return SCARD_S_SUCCESS;
    }
    LONG transmit(SCARDHANDLE card, DWORD protocol, const QByteArray& command,
                  QByteArray* response) override
    {
        std::lock_guard lock(script_->mutex);
        ++script_->transmits;
        if (card != 77 || protocol != SCARD_PROTOCOL_T1)
            script_->problems << QStringLiteral("transmit on a card that was never connected");
        if (script_->exchanges.empty()) {
            script_->problems << QStringLiteral("unexpected APDU ") +
                                     QString::fromLatin1(command.toHex(' '));
            return SCARD_E_NOT_TRANSACTED;
        }
        const PcscScript::Exchange exchange = script_->exchanges.front();
        script_->exchanges.pop_front();
        if (exchange.apdu != command)
            script_->problems << QStringLiteral("sent %1, expected %2")
                                     .arg(QString::fromLatin1(command.toHex(' ')),
                                          QString::fromLatin1(exchange.apdu.toHex(' ')));
        *response = exchange.answer;
        return exchange.code;
    }

private:
    std::shared_ptr<PcscScript> script_;
    SCARDCONTEXT nextContext_ = 100;
};

// A backend over the scripted calls, looking for the reader named wanted (any when empty).
struct PcscRig
{
    std::shared_ptr<PcscScript> script = std::make_shared<PcscScript>();
    std::unique_ptr<PcscBackend> backend;

    explicit PcscRig(QStringList readers, const QString& wanted = {})
    {
        script->readers = std::move(readers);
        backend = std::make_unique<PcscBackend>(std::make_unique<ScriptedPcscApi>(script), wanted);
    }
    QString problems() { return script->read(script->problems).join(QLatin1Char('\n')); }
    bool allExchanged() { return script->read(script->exchanges).empty(); }
    void setReaders(const QStringList& readers)
    {
        std::lock_guard lock(script->mutex);
        script->readers = readers;
    }
    // What the backend sends on meeting a card: GET DATA for the IDm, and on an RC-S300 the
    // start of a transparent session switched to FeliCa.
    void expectConnect(pcsc::ReaderFamily family)
    {
        script->expect(hex("ffca000000"), kIdmAnswer);
        if (family != pcsc::ReaderFamily::Transparent)
            return;
        script->expect(hex("ffc2000002810000"), kSessionOk);
        script->expect(hex("ffc20002048f02030000"), kSessionOk);
    }
};

// The reader's answer carrying the card's frame, as each family wraps it.
inline QByteArray answerCarrying(pcsc::ReaderFamily family, const QByteArray& frame)
{
    switch (family) {
    case pcsc::ReaderFamily::Transparent:
        return hex("c0030090009201009602000097") + char(frame.size()) + frame + hex("9000");
    case pcsc::ReaderFamily::Acr122:
        return hex("d54300") + frame + hex("9000");
    default:
        return frame + hex("9000");
    }
}

} // namespace ridelog::card::testing
