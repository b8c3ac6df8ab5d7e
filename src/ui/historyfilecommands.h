// The commands on the history file as a whole: automatic backups after a read (with their sign
// in the status bar), restoring a backup, and taking in another history or card dumps.
#pragma once

#include "store/backupscheduler.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QLabel;
class QSettings;
class QStatusBar;
class QWidget;

namespace ridelog {

class HistoryFileCommands : public QObject
{
    Q_OBJECT

public:
    struct Steps
    {
        std::function<QString()> databasePath;
        std::function<void()> reloadHistory; // after the database changed under the window
    };

    // settings: the group "Backup" with the chosen backup folder.
    HistoryFileCommands(QWidget* parent, QSettings& settings, Steps steps);

    // The sign shown while backups fail, on the right of the status bar.
    void addFailureSign(QStatusBar* statusBar);
    QLabel* failureSign() const { return failureSign_; }
    BackupScheduler& scheduler() { return scheduler_; }

    // After a read that stored something: a backup when the last one is an hour old.
    void readStored();

    // 設定 › バックアップから復元...
    void restoreFromBackup();
    // ファイル › 他の履歴を取り込む...: history files (another ekdb.sqlite, a backup) are
    // merged, other files are taken as card dumps.
    void takeInOtherHistory();

    // Whether the file begins as an SQLite database does.
    static bool looksLikeDatabase(const QString& path);

private:
    void backupFinished(const BackupOutcome& outcome);
    void updateFailureSign();
    BackupRequest keepCurrentRequest() const;

    QWidget* parent_;
    QSettings& settings_;
    Steps steps_;
    BackupScheduler scheduler_;
    QLabel* failureSign_ = nullptr;
};

} // namespace ridelog
