// Backups of the history database: consistent copies made with the engine's online backup,
// checked before they are put in place, thinned out as they age, and brought back on request.
//
// A backup is the file "ekdb-YYYYMMDD-HHMMSSZ.sqlite" (the time it was taken, UTC) in the
// backup folder: "backups/" beside the database, or a folder the user chose (settings group
// "Backup", text value "folder"). It is written as ".ekdb-....sqlite.part", checked with
// PRAGMA quick_check, and only then renamed into place, so a backup under its own name is always
// complete and sound. Of these, the newest of each of the last 7 days and of each of the last 12
// months (UTC) are kept; the newest of all is never deleted. The copy of the current database
// that a restore keeps first is named "ekdb-...Z-before-restore.sqlite" and never deleted by the
// program. No other file in the folder is touched.
#pragma once

#include "store/historyfile.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

class QSettings;

namespace ridelog {

struct BackupFile
{
    QString path;
    QDateTime takenAt; // UTC, from the name
};

// The backup folder the user chose (absolute path); empty: the default beside the database.
QString chosenBackupFolder(QSettings& settings);
void setChosenBackupFolder(QSettings& settings, const QString& folder);
// databasePath's folder + "backups/".
QString defaultBackupFolder(const QString& databasePath);

QString backupFileName(const QDateTime& takenAt);
// The time in a backup's file name (also of one kept before a restore); invalid for other names.
QDateTime backupTimeOfName(const QString& fileName);

// The thinned-out backups of one folder, newest first (the copies kept before a restore are not
// among them).
std::vector<BackupFile> listBackups(const QString& folder);
// Of backups (newest first), the ones the retention rule lets go.
std::vector<BackupFile> backupsToDelete(const std::vector<BackupFile>& backups);

constexpr int kDailyBackupsKept = 7;
constexpr int kMonthlyBackupsKept = 12;
constexpr qint64 kBackupIntervalSeconds = 3600;

struct BackupRequest
{
    QString databasePath;
    QString folder;            // where the backup goes
    bool createFolder = false; // true for the default folder; a chosen folder must exist
    QDateTime now;             // when the backup is taken
    bool onlyWhenDue = false;  // skip when the newest backup is less than an hour old
    int busyTimeoutMs = 3000;
};

struct BackupOutcome
{
    enum class Status
    {
        Written,
        NotDue, // a backup of the last hour exists, or another one is being written
        Failed,
    };
    Status status = Status::Failed;
    QString path;        // the new backup
    QString reason;      // why it failed, in English, the system's or engine's text included
    QStringList deleted; // backups let go by the retention rule
};

// Writes a backup of the database into the folder and thins the folder out. Never touches the
// database; a failure leaves every backup as it was.
BackupOutcome writeBackup(const BackupRequest& request);

struct RestoreOutcome
{
    bool restored = false;
    QString reason;        // why not, in English
    QString keptCurrentAs; // the copy of the database as it was before
};

// Replaces the database by the backup, after keeping the current database in the folder. The
// backup must be a sound history; otherwise nothing at all is changed. The replacement is one
// transaction of the database file, so an interruption leaves the old history or the new one.
RestoreOutcome restoreBackup(const QString& backupPath, const BackupRequest& keepCurrent);

} // namespace ridelog
