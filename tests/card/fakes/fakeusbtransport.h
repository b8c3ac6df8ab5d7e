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

} // namespace ridelog::card::testing
