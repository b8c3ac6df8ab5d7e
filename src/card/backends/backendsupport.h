// Small pieces every hardware backend shares: FeliCa frame checks, the Polling command and a
// background thread that watches for the card.
#pragma once

#include "card/readerbackend.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace ridelog::card::backends {

inline constexpr std::uint8_t felicaPollingCode = 0x00;
inline constexpr std::uint8_t felicaPollingResponseCode = 0x01;

// Polling command with its length byte: 06 00 SC SC 01 00 (request code 1 asks the card for
// its system code; one time slot).
QByteArray felicaPollingFrame(std::uint16_t systemCode);

// True when frame is a FeliCa command or response frame: length byte equal to the frame size
// and at least a command code behind it.
bool isWellFormedFelicaFrame(const QByteArray& frame);

bool isPollingCommand(const QByteArray& frame);

// A Polling response (01 IDm PMm [system code]) with a matching length byte.
bool isPollingResponse(const QByteArray& frame);

// What to do when the system refuses access to a USB reader: the udev rule that gives the
// logged-in user access, where it lives and how to make it take effect.
QString udevRuleHint();

// "01 2E 44" style text for messages.
QString hexBytes(const QByteArray& bytes);

TransceiveResult transceiveOk(QByteArray frame);
TransceiveResult transceiveFailure(TransceiveStatus status, QString error);

// Checks a response frame from the card before it goes up to the reader layer.
TransceiveResult checkedResponse(QByteArray frame);

// Runs a step function over and over on its own thread, with a pause between steps, until
// stop(). The pause ends early on stop(), so stopping never waits longer than one step.
class BackgroundLoop
{
public:
    BackgroundLoop() = default;
    BackgroundLoop(const BackgroundLoop&) = delete;
    BackgroundLoop& operator=(const BackgroundLoop&) = delete;
    ~BackgroundLoop();

    void start(std::function<void()> step, std::chrono::milliseconds pause);
    // wakeUp runs after the stop flag is set, to break a step out of a blocking wait.
    void stop(const std::function<void()>& wakeUp = {});
    bool running() const { return thread_.joinable(); }
    bool stopRequested() const { return stopRequested_.load(); }

private:
    void run(std::function<void()> step, std::chrono::milliseconds pause);

    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
};

// Turns a stream of "card seen / not seen" observations into arrival and removal calls, so the
// listener hears each change once.
class PresenceTracker
{
public:
    void reset(ReaderBackend::PresenceListener listener);
    void observe(bool present);
    bool present() const { return present_.value_or(false); }

private:
    ReaderBackend::PresenceListener listener_;
    std::optional<bool> present_;
};

} // namespace ridelog::card::backends
