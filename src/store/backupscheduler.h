// Automatic backups beside the window: after a read that stored something, at most once an
// hour, a backup is written on a worker thread of its own. The user-interface thread only starts
// it and hears the outcome; a read never waits for a backup.
//
//     auto* backups = new BackupScheduler(this);
//     backups->setDatabasePath(store.databasePath());
//     backups->setChosenFolder(chosenBackupFolder(settings));
//     connect(backups, &BackupScheduler::finished, this, &Window::showBackupState);
//     ... after StoreNewBlocks added rows:  backups->readStored();
#pragma once

#include "store/backups.h"

#include <QDateTime>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QThreadPool>

namespace ridelog {

class BackupScheduler : public QObject
{
    Q_OBJECT

public:
    explicit BackupScheduler(QObject* parent = nullptr);
    // Waits for a backup still being written, so the file is never left half made by us.
    ~BackupScheduler() override;

    void setDatabasePath(const QString& path) { databasePath_ = path; }
    // An absolute folder, or empty for backups/ beside the database. A change lets the next read
    // try again at once.
    void setChosenFolder(const QString& folder);
    QString folder() const;

    // Starts a backup unless one was tried within the hour or one is being written.
    void readStored(const QDateTime& now = QDateTime::currentDateTimeUtc());
    // Starts a backup now, whatever the hour.
    void backupNow(const QDateTime& now = QDateTime::currentDateTimeUtc());
    bool isRunning() const { return running_; }
    // Waits until no backup is being written (before the database is replaced).
    void waitForIdle();

    // Why the last backup failed; empty when it was written (or none was tried).
    const QString& failureReason() const { return failureReason_; }

signals:
    void finished(const ridelog::BackupOutcome& outcome);

private:
    void start(const QDateTime& now, bool onlyWhenDue);
    void done(const BackupOutcome& outcome);

    QThreadPool worker_;
    QString databasePath_;
    QString chosenFolder_;
    QDateTime lastAttempt_;
    QString failureReason_;
    bool running_ = false;
};

} // namespace ridelog

Q_DECLARE_METATYPE(ridelog::BackupOutcome)
