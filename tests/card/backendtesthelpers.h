// Helpers the tests of the hardware backends share.
#pragma once

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

} // namespace ridelog::card::testing
