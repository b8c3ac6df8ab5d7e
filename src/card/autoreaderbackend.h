// The "auto" reader: tries its candidate backends in the order given and keeps the first that
// opens. When none opens, the error lists each candidate's reason.
#pragma once

#include "card/readerbackend.h"

#include <QStringList>
#include <memory>
#include <vector>

namespace ridelog::card {

class AutoReaderBackend : public ReaderBackend
{
public:
    explicit AutoReaderBackend(std::vector<std::unique_ptr<ReaderBackend>> candidates);

    // The chosen backend's name once one is open, "auto" before.
    QString name() const override;
    QString firmwareVersion() const override;
    bool open(QString* error) override;
    void close() override;
    TransceiveResult transceive(const QByteArray& frame,
                                std::chrono::milliseconds timeout) override;
    void startPresenceMonitor(std::uint16_t systemCode, PresenceListener listener) override;
    void stopPresenceMonitor() override;

    // After a failed open: "candidate name: reason", one entry per candidate tried.
    const QStringList& failureReasons() const { return failureReasons_; }

private:
    std::vector<std::unique_ptr<ReaderBackend>> candidates_;
    QStringList failureReasons_;
    ReaderBackend* chosen_ = nullptr;
};

} // namespace ridelog::card
