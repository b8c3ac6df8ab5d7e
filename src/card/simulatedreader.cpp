#include "card/simulatedreader.h"

#include "card/readertexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>
#include <algorithm>
#include <sys/stat.h>

namespace ridelog::card {

namespace {

// No sensible card file comes near this; a larger one is not read into memory.
constexpr qint64 kMaxCardFileSize = 64 * 1024;

QStringList cardFileNames(const QString& directory)
{
    QDir dir(directory);
    dir.setNameFilters({QStringLiteral("*.card")});
    dir.setFilter(QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot | QDir::CaseSensitive);
    dir.setSorting(QDir::Unsorted);
    QStringList names = dir.entryList();
    names.removeIf([](const QString& name) { return name.startsWith(QLatin1Char('.')); });
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

SimulatedReaderBackend::SimulatedReaderBackend(QString directory)
    : directory_(std::move(directory))
{}

SimulatedReaderBackend::~SimulatedReaderBackend()
{
    close();
}

QString SimulatedReaderBackend::name() const
{
    return QCoreApplication::translate("ridelog::card::SimulatedReader",
                                       "シミュレーションのカードリーダ（%1）")
        .arg(QDir::toNativeSeparators(directory_));
}

bool SimulatedReaderBackend::open(QString* error)
{
    const QFileInfo info(directory_);
    if (directory_.isEmpty() || (info.exists() && !info.isDir()) || !QDir().mkpath(directory_)) {
        if (error)
            *error = ReaderTexts::tr("カードのフォルダ %1 を作れません。").arg(directory_);
        return false;
    }
    if (!QFileInfo(directory_).isReadable()) {
        if (error)
            *error = ReaderTexts::tr("カードのフォルダ %1 を読めません。").arg(directory_);
        return false;
    }
    commandCount_ = 0;
    open_ = true;
    return true;
}

void SimulatedReaderBackend::close()
{
    stopPresenceMonitor();
    open_ = false;
    std::lock_guard lock(cardMutex_);
    placement_ = {};
    card_.reset();
}

SimulatedReaderBackend::Placement SimulatedReaderBackend::currentPlacement() const
{
    for (const QString& name : cardFileNames(directory_)) {
        Placement placement;
        placement.path = directory_ + QLatin1Char('/') + name;
        struct stat status
        {};
        if (::stat(QFile::encodeName(placement.path).constData(), &status) != 0 ||
            !S_ISREG(status.st_mode))
            continue; // gone between listing and looking
        placement.device = quint64(status.st_dev);
        placement.inode = quint64(status.st_ino);
        placement.modifiedNs =
            qint64(status.st_mtim.tv_sec) * 1000000000 + qint64(status.st_mtim.tv_nsec);
        placement.size = qint64(status.st_size);
        return placement;
    }
    return {};
}

void SimulatedReaderBackend::loadCard(const Placement& placement)
{
    placement_ = placement;
    commandsThisPlacement_ = 0;
    card_.reset();
    QFile file(placement.path);
    if (placement.size > kMaxCardFileSize) {
        qWarning().noquote() << QStringLiteral("%1: card file larger than %2 bytes")
                                    .arg(placement.path)
                                    .arg(kMaxCardFileSize);
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << QStringLiteral("%1: %2").arg(placement.path, file.errorString());
        return;
    }
    const CardFileResult result = parseCardFile(file.read(kMaxCardFileSize + 1));
    if (!result.card) {
        qWarning().noquote() << QStringLiteral("%1:%2: %3")
                                    .arg(placement.path)
                                    .arg(result.errorLine)
                                    .arg(result.error);
        return;
    }
    card_ = result.card;
}

TransceiveResult SimulatedReaderBackend::transceive(const QByteArray& frame,
                                                    std::chrono::milliseconds)
{
    TransceiveResult result;
    if (!open_) {
        result.error = QStringLiteral("the simulated reader is not open");
        return result;
    }
    ++commandCount_;
    const Placement placement = currentPlacement();
    std::lock_guard lock(cardMutex_);
    if (!placement.present()) {
        placement_ = {};
        card_.reset();
        result.status = TransceiveStatus::NoCard;
        return result;
    }
    if (!(placement == placement_))
        loadCard(placement);
    const int commandNumber = ++commandsThisPlacement_;
    std::optional<QByteArray> answer;
    if (card_ && (!card_->failAfter || commandNumber <= *card_->failAfter))
        answer = answerCommand(*card_, frame);
    if (!answer) {
        result.status = TransceiveStatus::Timeout;
        return result;
    }
    result.status = TransceiveStatus::Ok;
    result.frame = std::move(*answer);
    return result;
}

void SimulatedReaderBackend::startPresenceMonitor(std::uint16_t, PresenceListener listener)
{
    stopPresenceMonitor();
    {
        std::lock_guard lock(monitorMutex_);
        stopMonitor_ = false;
    }
    monitor_ = std::thread([this, listener = std::move(listener)] { monitorLoop(listener); });
}

void SimulatedReaderBackend::stopPresenceMonitor()
{
    {
        std::lock_guard lock(monitorMutex_);
        stopMonitor_ = true;
    }
    monitorWake_.notify_all();
    if (monitor_.joinable())
        monitor_.join();
}

void SimulatedReaderBackend::monitorLoop(PresenceListener listener)
{
    Placement seen;
    std::unique_lock lock(monitorMutex_);
    while (!stopMonitor_) {
        lock.unlock();
        const Placement now = currentPlacement();
        if (!(now == seen)) {
            if (seen.present())
                listener(false);
            if (now.present())
                listener(true);
            seen = now;
        }
        lock.lock();
        monitorWake_.wait_for(lock, kScanInterval, [this] { return stopMonitor_; });
    }
}

} // namespace ridelog::card
