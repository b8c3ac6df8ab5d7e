#include "store/backupscheduler.h"

#include <QMetaObject>
#include <QPointer>

namespace ridelog {

BackupScheduler::BackupScheduler(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<BackupOutcome>();
    worker_.setMaxThreadCount(1);
}

BackupScheduler::~BackupScheduler()
{
    worker_.waitForDone();
}

void BackupScheduler::setChosenFolder(const QString& folder)
{
    if (folder == chosenFolder_)
        return;
    chosenFolder_ = folder;
    lastAttempt_ = QDateTime();
}

QString BackupScheduler::folder() const
{
    return chosenFolder_.isEmpty() ? defaultBackupFolder(databasePath_) : chosenFolder_;
}

void BackupScheduler::readStored(const QDateTime& now)
{
    if (lastAttempt_.isValid() && lastAttempt_ <= now &&
        lastAttempt_.secsTo(now) < kBackupIntervalSeconds)
        return;
    start(now, true);
}

void BackupScheduler::backupNow(const QDateTime& now)
{
    start(now, false);
}

void BackupScheduler::waitForIdle()
{
    worker_.waitForDone();
}

void BackupScheduler::start(const QDateTime& now, bool onlyWhenDue)
{
    if (running_ || databasePath_.isEmpty())
        return;
    running_ = true;
    lastAttempt_ = now;
    BackupRequest request;
    request.databasePath = databasePath_;
    request.folder = folder();
    request.createFolder = chosenFolder_.isEmpty();
    request.now = now;
    request.onlyWhenDue = onlyWhenDue;
    QPointer<BackupScheduler> self(this);
    worker_.start([self, request] {
        const BackupOutcome outcome = writeBackup(request);
        if (self)
            QMetaObject::invokeMethod(
                self,
                [self, outcome] {
                    if (self)
                        self->done(outcome);
                },
                Qt::QueuedConnection);
    });
}

void BackupScheduler::done(const BackupOutcome& outcome)
{
    running_ = false;
    if (outcome.status == BackupOutcome::Status::Written)
        failureReason_.clear();
    else if (outcome.status == BackupOutcome::Status::Failed)
        failureReason_ = outcome.reason;
    emit finished(outcome);
}

} // namespace ridelog
