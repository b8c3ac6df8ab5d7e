#include "card/autoreaderbackend.h"

#include "card/readertexts.h"

namespace ridelog::card {

AutoReaderBackend::AutoReaderBackend(std::vector<std::unique_ptr<ReaderBackend>> candidates)
    : candidates_(std::move(candidates))
{}

QString AutoReaderBackend::name() const
{
    return chosen_ ? chosen_->name() : ReaderTexts::tr("自動で選ぶカードリーダ");
}

QString AutoReaderBackend::firmwareVersion() const
{
    return chosen_ ? chosen_->firmwareVersion() : QString();
}

bool AutoReaderBackend::open(QString* error)
{
    QStringList& causes = failureReasons_;
    causes.clear();
    for (auto& candidate : candidates_) {
        if (!candidate)
            continue;
        QString cause;
        if (candidate->open(&cause)) {
            chosen_ = candidate.get();
            return true;
        }
        causes.append(ReaderTexts::tr("%1：%2").arg(candidate->name(), cause));
    }
    if (error) {
        *error = causes.isEmpty()
                     ? ReaderTexts::tr("カードリーダを扱う部分が組み込まれていません。")
                     : ReaderTexts::tr("カードリーダが見つかりません（%1）。")
                           .arg(causes.join(QStringLiteral("; ")));
    }
    return false;
}

void AutoReaderBackend::close()
{
    if (chosen_)
        chosen_->close();
    chosen_ = nullptr;
}

TransceiveResult AutoReaderBackend::transceive(const QByteArray& frame,
                                               std::chrono::milliseconds timeout)
{
    if (chosen_)
        return chosen_->transceive(frame, timeout);
    TransceiveResult result;
    result.error = QStringLiteral("no reader is open");
    return result;
}

void AutoReaderBackend::startPresenceMonitor(std::uint16_t systemCode, PresenceListener listener)
{
    if (chosen_)
        chosen_->startPresenceMonitor(systemCode, std::move(listener));
}

void AutoReaderBackend::stopPresenceMonitor()
{
    if (chosen_)
        chosen_->stopPresenceMonitor();
}

} // namespace ridelog::card
