// A USB bulk pipe that follows a script: each write must carry exactly the expected bytes, and
// each read answers with the recorded frame or status.
#pragma once

#include "card/backends/usbtransport.h"

#include <QStringList>
#include <deque>
#include <memory>
#include <mutex>

namespace ridelog::card::testing {

struct UsbScript
{
    struct Step
    {
        bool isWrite = false;
        QByteArray bytes;
        UsbStatus status = UsbStatus::Ok;
    };

    std::mutex mutex;
    std::deque<Step> steps;
    QStringList problems;
    QList<QByteArray> written;
    bool quietWhenExhausted = false; // past the script: fail every call without complaint

    void expectWrite(const QByteArray& bytes, UsbStatus status = UsbStatus::Ok)
    {
        std::lock_guard lock(mutex);
        steps.push_back({true, bytes, status});
    }
    void answer(const QByteArray& bytes) { answerStatus(UsbStatus::Ok, bytes); }
    void answerStatus(UsbStatus status, const QByteArray& bytes = {})
    {
        std::lock_guard lock(mutex);
        steps.push_back({false, bytes, status});
    }
    bool finished()
    {
        std::lock_guard lock(mutex);
        return steps.empty();
    }
    QStringList problemList()
    {
        std::lock_guard lock(mutex);
        return problems;
    }
};

class FakeUsbTransport : public UsbBulkTransport
{
public:
    explicit FakeUsbTransport(std::shared_ptr<UsbScript> script)
        : script_(std::move(script))
    {}

    QString productName() const override { return QStringLiteral("Sony RC-S380/P"); }

    UsbResult write(const QByteArray& bytes, std::chrono::milliseconds) override
    {
        std::lock_guard lock(script_->mutex);
        script_->written << bytes;
        if (script_->steps.empty())
            return exhausted(QStringLiteral("unexpected write ") + hex(bytes));
        const UsbScript::Step step = script_->steps.front();
        script_->steps.pop_front();
        if (!step.isWrite)
            script_->problems << QStringLiteral("wrote %1 where a read was due").arg(hex(bytes));
        else if (step.bytes != bytes)
            script_->problems
                << QStringLiteral("wrote %1, expected %2").arg(hex(bytes), hex(step.bytes));
        return {step.status, QStringLiteral("scripted")};
    }

    UsbResult read(QByteArray* bytes, std::chrono::milliseconds) override
    {
        std::lock_guard lock(script_->mutex);
        if (script_->steps.empty())
            return exhausted(QStringLiteral("unexpected read"));
        const UsbScript::Step step = script_->steps.front();
        script_->steps.pop_front();
        if (step.isWrite)
            script_->problems << QStringLiteral("read where write %1 was due").arg(hex(step.bytes));
        *bytes = step.bytes;
        return {step.status, QStringLiteral("scripted")};
    }

private:
    static QString hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ')); }

    UsbResult exhausted(const QString& what)
    {
        if (!script_->quietWhenExhausted)
            script_->problems << what;
        return {UsbStatus::Error, QStringLiteral("script exhausted")};
    }

    std::shared_ptr<UsbScript> script_;
};

// The RC-S380's start-up as it travels over USB, written out byte by byte.
inline const char wireAck[] = "0000ff00ff00";
inline const char wireSetCommandType[] = "0000ffffff0300fdd62a01ff00";
inline const char wireSetCommandTypeOk[] = "0000ffffff0300fdd72b00fe00";
inline const char wireGetFirmwareVersion[] = "0000ffffff0200fed6200a00";
inline const char wireFirmware111[] = "0000ffffff0400fcd7211101f600";
inline const char wireGetPdDataVersion[] = "0000ffffff0200fed6220800";
inline const char wirePdDataVersion[] = "0000ffffff0400fcd72300010500";
inline const char wireSwitchRfOff[] = "0000ffffff0300fdd606002400";
inline const char wireSwitchRfOn[] = "0000ffffff0300fdd606012300";
inline const char wireSwitchRfOk[] = "0000ffffff0300fdd707002200";
inline const char wireInSetRf212F[] = "0000ffffff0600fad60001010f011800";
inline const char wireInSetRfOk[] = "0000ffffff0300fdd701002800";
inline const char wireInSetProtocolDefaults[] =
    "0000ffffff2800d8d60200180101020103000400050006000708080009000a000b000c000e040f00100011001200"
    "13064b00";
inline const char wireInSetProtocolOk[] = "0000ffffff0300fdd703002600";
inline const char wireInSetProtocolGuardTime[] = "0000ffffff0400fcd60200181000";

// A command the reader acknowledges and then answers.
inline void expectWire(UsbScript& script, const char* command, const char* answer)
{
    script.expectWrite(QByteArray::fromHex(command));
    script.answer(QByteArray::fromHex(wireAck));
    script.answer(QByteArray::fromHex(answer));
}

// The whole start-up of an RC-S380. stale: answers left over from a program that was killed,
// drained before the first command.
inline void scriptRcs380StartUp(UsbScript& script, const QList<QByteArray>& stale = {})
{
    script.expectWrite(QByteArray::fromHex(wireAck));
    for (const QByteArray& answer : stale)
        script.answer(answer);
    script.answerStatus(UsbStatus::Timeout); // nothing (more) to drain
    expectWire(script, wireSetCommandType, wireSetCommandTypeOk);
    expectWire(script, wireGetFirmwareVersion, wireFirmware111);
    expectWire(script, wireGetPdDataVersion, wirePdDataVersion);
    expectWire(script, wireSwitchRfOff, wireSwitchRfOk);
    expectWire(script, wireSwitchRfOn, wireSwitchRfOk);
    expectWire(script, wireInSetRf212F, wireInSetRfOk);
    expectWire(script, wireInSetProtocolDefaults, wireInSetProtocolOk);
    expectWire(script, wireInSetProtocolGuardTime, wireInSetProtocolOk);
}

} // namespace ridelog::card::testing
