#include "card/backends/backendsupport.h"

#include "card/readertexts.h"
#include "card/readertrace.h"

namespace ridelog::card::backends {

QByteArray felicaPollingFrame(std::uint16_t systemCode)
{
    QByteArray frame;
    frame.append(char(6));
    frame.append(char(felicaPollingCode));
    frame.append(char(systemCode >> 8));
    frame.append(char(systemCode & 0xFF));
    frame.append(char(0x01));
    frame.append(char(0x00));
    return frame;
}

bool isWellFormedFelicaFrame(const QByteArray& frame)
{
    return frame.size() >= 2 && std::uint8_t(frame[0]) == frame.size();
}

bool isPollingCommand(const QByteArray& frame)
{
    return isWellFormedFelicaFrame(frame) && std::uint8_t(frame[1]) == felicaPollingCode;
}

bool isPollingResponse(const QByteArray& frame)
{
    return isWellFormedFelicaFrame(frame) && frame.size() >= 18 &&
           std::uint8_t(frame[1]) == felicaPollingResponseCode;
}

QString udevRuleHint()
{
    return ReaderTexts::tr("udev の規則 60-ridelog-readers.rules を置き（Ridelog のパッケージは "
                           "/usr/lib/udev/rules.d に置きます。ソースから作ったときは "
                           "data/60-ridelog-readers.rules を /etc/udev/rules.d にコピーします）、"
                           "sudo udevadm control --reload-rules を実行して、リーダを差し直して"
                           "ください。");
}

QString hexBytes(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

TransceiveResult transceiveOk(QByteArray frame)
{
    TransceiveResult result;
    result.status = TransceiveStatus::Ok;
    result.frame = std::move(frame);
    return result;
}

TransceiveResult transceiveFailure(TransceiveStatus status, QString error)
{
    TransceiveResult result;
    result.status = status;
    result.error = std::move(error);
    return result;
}

TransceiveResult checkedResponse(QByteArray frame)
{
    if (!isWellFormedFelicaFrame(frame))
        return transceiveFailure(
            TransceiveStatus::Error,
            QStringLiteral("garbled response from the card: %1")
                .arg(frame.isEmpty() ? QStringLiteral("(empty)") : hexBytes(frame.left(32))));
    return transceiveOk(std::move(frame));
}

BackgroundLoop::~BackgroundLoop()
{
    stop();
}

void BackgroundLoop::start(std::function<void()> step, std::chrono::milliseconds pause)
{
    stop();
    stopRequested_ = false;
    thread_ = std::thread(&BackgroundLoop::run, this, std::move(step), pause);
}

void BackgroundLoop::stop(const std::function<void()>& wakeUp)
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
    if (wakeUp)
        wakeUp();
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach(); // stopped from inside a step: the loop ends on its own
    else
        thread_.join();
}

void BackgroundLoop::run(std::function<void()> step, std::chrono::milliseconds pause)
{
    const MonitorThreadMark mark; // a trace tells the card monitor's exchanges from the reads
    while (!stopRequested_) {
        step();
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, pause, [this] { return stopRequested_.load(); });
    }
}

void PresenceTracker::reset(ReaderBackend::PresenceListener listener)
{
    listener_ = std::move(listener);
    present_.reset();
}

void PresenceTracker::observe(bool present)
{
    const bool changed = present_.has_value() ? *present_ != present : present;
    present_ = present;
    if (changed && listener_)
        listener_(present);
}

} // namespace ridelog::card::backends
