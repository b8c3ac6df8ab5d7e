#include "store/backups.h"

#include "store/database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSettings>
#include <cstdio>
#include <fcntl.h>
#include <set>
#include <sqlite3.h>
#include <unistd.h>

namespace ridelog {

namespace {

const QString kSettingsGroup = QStringLiteral("Backup");
const QString kFolderValue = QStringLiteral("folder");
const QString kTimeFormat = QStringLiteral("yyyyMMdd-HHmmss");
const QString kKeptBeforeRestore = QStringLiteral("-before-restore");

const QRegularExpression& backupNamePattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^ekdb-(\\d{8}-\\d{6})Z(-before-restore)?\\.sqlite$"));
    return pattern;
}

const QRegularExpression& partialNamePattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\.ekdb-\\d{8}-\\d{6}Z(-before-restore)?\\.sqlite\\.part(-journal)?$"));
    return pattern;
}

// Makes a rename in the folder survive a power cut.
void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Puts from in the place of to in one step, also when to exists.
bool replaceFile(const QString& from, const QString& to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

QString engineFailure(sqlite3* db, int engineCode)
{
    QString text = QString::fromUtf8(sqlite3_errstr(engineCode));
    const QString detail = db != nullptr ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
    if (!detail.isEmpty() && detail != text && detail != QStringLiteral("not an error"))
        text += QStringLiteral(" (") + detail + u')';
    return text;
}

// Copies every page of source into destination as one transaction of the destination. Empty
// when done, else the engine's text.
QString copyPages(Database& source, Database& destination)
{
    sqlite3_backup* backup =
        sqlite3_backup_init(destination.handle(), "main", source.handle(), "main");
    if (backup == nullptr)
        return QString::fromUtf8(sqlite3_errmsg(destination.handle()));
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (stepped != SQLITE_DONE)
        return engineFailure(destination.handle(), stepped);
    if (finished != SQLITE_OK)
        return engineFailure(destination.handle(), finished);
    return QString();
}

void removePartial(const QString& path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-journal"));
}

// Leftovers of a backup that was interrupted; only called while holding the folder's lock.
void removeStalePartials(const QString& folder)
{
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        if (partialNamePattern().match(name).hasMatch())
            QFile::remove(dir.filePath(name));
    }
}

QString folderProblem(const QString& folder, bool create)
{
    const QFileInfo info(folder);
    if (!info.exists()) {
        if (!create)
            return QStringLiteral("the backup folder %1 does not exist").arg(folder);
        if (!QDir().mkpath(folder))
            return QStringLiteral("cannot create the backup folder %1").arg(folder);
        return QString();
    }
    if (!info.isDir())
        return QStringLiteral("%1 is not a folder").arg(folder);
    if (!info.isWritable())
        return QStringLiteral("the backup folder %1 is read-only").arg(folder);
    return QString();
}

QString uniqueBackupPath(const QDir& dir, const QDateTime& takenAt, const QString& suffix)
{
    QDateTime time = takenAt.toUTC();
    QString path;
    do {
        path = dir.filePath(QStringLiteral("ekdb-") + time.toString(kTimeFormat) +
                            QStringLiteral("Z") + suffix + QStringLiteral(".sqlite"));
        time = time.addSecs(1);
    } while (QFileInfo::exists(path));
    return path;
}

struct WrittenCopy
{
    QString path;
    QString failure;
    bool damaged = false; // the copy was made but the quick check found damage
};

// Writes a checked copy of the database as "name.part", then renames it into place.
WrittenCopy writeCheckedCopy(const BackupRequest& request, const QString& finalPath,
                             bool keepDamaged)
{
    WrittenCopy result;
    const QFileInfo target(finalPath);
    const QString partial =
        target.dir().filePath(u'.' + target.fileName() + QStringLiteral(".part"));
    removePartial(partial);
    try {
        Database source = Database::open(request.databasePath, Database::OpenMode::ReadOnly,
                                         request.busyTimeoutMs);
        Database copy =
            Database::open(partial, Database::OpenMode::CreateIfMissing, request.busyTimeoutMs);
        result.failure = copyPages(source, copy);
        if (result.failure.isEmpty()) {
            const QString findings = quickCheckFindings(copy);
            if (!findings.isEmpty()) {
                result.damaged = true;
                result.failure = QStringLiteral("the database is damaged: ") + findings;
            }
        }
    } catch (const DatabaseError& error) {
        result.damaged = (error.engineCode() & 0xFF) == SQLITE_CORRUPT ||
                         (error.engineCode() & 0xFF) == SQLITE_NOTADB;
        result.failure = error.message();
    }
    if (!result.failure.isEmpty() && !(result.damaged && keepDamaged)) {
        removePartial(partial);
        return result;
    }
    QFile::remove(partial + QStringLiteral("-journal"));
    if (!replaceFile(partial, finalPath)) {
        removePartial(partial);
        result.failure = QStringLiteral("cannot rename the backup into place");
        return result;
    }
    syncFolder(target.absolutePath());
    result.path = finalPath;
    return result;
}

// A byte copy, for a database file that the engine cannot read as one.
QString copyFileBytes(const QString& from, const QString& to)
{
    const QFileInfo target(to);
    const QString partial =
        target.dir().filePath(u'.' + target.fileName() + QStringLiteral(".part"));
    QFile::remove(partial);
    QFile in(from);
    QFile out(partial);
    if (!in.open(QIODevice::ReadOnly))
        return in.errorString();
    if (!out.open(QIODevice::WriteOnly))
        return out.errorString();
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
            break;
        if (out.write(chunk) != chunk.size()) {
            const QString problem = out.errorString();
            out.close();
            QFile::remove(partial);
            return problem;
        }
    }
    const bool readFailed = in.error() != QFileDevice::NoError;
    const bool synced = out.flush() && ::fsync(out.handle()) == 0;
    out.close();
    if (readFailed || !synced || !replaceFile(partial, to)) {
        QFile::remove(partial);
        return readFailed ? in.errorString() : QStringLiteral("cannot write %1").arg(to);
    }
    syncFolder(target.absolutePath());
    return QString();
}

} // namespace

QString chosenBackupFolder(QSettings& settings)
{
    settings.beginGroup(kSettingsGroup);
    const QString folder = settings.value(kFolderValue).toString().trimmed();
    settings.endGroup();
    if (folder.isEmpty() || QDir::isRelativePath(folder))
        return QString();
    return QDir::cleanPath(folder) + u'/';
}

void setChosenBackupFolder(QSettings& settings, const QString& folder)
{
    settings.beginGroup(kSettingsGroup);
    if (folder.isEmpty())
        settings.remove(kFolderValue);
    else
        settings.setValue(kFolderValue, QDir::cleanPath(folder));
    settings.endGroup();
}

QString defaultBackupFolder(const QString& databasePath)
{
    return QFileInfo(databasePath).absoluteDir().filePath(QStringLiteral("backups")) + u'/';
}

QString backupFileName(const QDateTime& takenAt)
{
    return QStringLiteral("ekdb-") + takenAt.toUTC().toString(kTimeFormat) +
           QStringLiteral("Z.sqlite");
}

QDateTime backupTimeOfName(const QString& fileName)
{
    const auto match = backupNamePattern().match(fileName);
    if (!match.hasMatch())
        return QDateTime();
    QDateTime time = QDateTime::fromString(match.captured(1), kTimeFormat);
    time.setTimeSpec(Qt::UTC);
    return time;
}

std::vector<BackupFile> listBackups(const QString& folder)
{
    std::vector<BackupFile> backups;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("ekdb-*.sqlite")}, QDir::Files)) {
        const auto match = backupNamePattern().match(name);
        if (!match.hasMatch() || !match.captured(2).isEmpty())
            continue;
        const QDateTime time = backupTimeOfName(name);
        if (time.isValid())
            backups.push_back({dir.filePath(name), time});
    }
    std::sort(backups.begin(), backups.end(),
              [](const BackupFile& a, const BackupFile& b) { return a.takenAt > b.takenAt; });
    return backups;
}

std::vector<BackupFile> backupsToDelete(const std::vector<BackupFile>& backups)
{
    std::set<QDate> days;
    std::set<std::pair<int, int>> months;
    std::vector<BackupFile> deleted;
    for (std::size_t i = 0; i < backups.size(); ++i) {
        const QDate date = backups[i].takenAt.toUTC().date();
        bool keep = i == 0; // the newest of all
        if (!days.contains(date) && int(days.size()) < kDailyBackupsKept) {
            days.insert(date);
            keep = true;
        }
        const std::pair month{date.year(), date.month()};
        if (!months.contains(month) && int(months.size()) < kMonthlyBackupsKept) {
            months.insert(month);
            keep = true;
        }
        if (!keep)
            deleted.push_back(backups[i]);
    }
    return deleted;
}

BackupOutcome writeBackup(const BackupRequest& request)
{
    BackupOutcome outcome;
    if (!QFileInfo(request.databasePath).isFile()) {
        outcome.reason = QStringLiteral("there is no history database to back up");
        return outcome;
    }
    if (const QString problem = folderProblem(request.folder, request.createFolder);
        !problem.isEmpty()) {
        outcome.reason = problem;
        return outcome;
    }
    QLockFile lock(QDir(request.folder).filePath(QStringLiteral(".ridelog-backup.lock")));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) {
        if (lock.error() == QLockFile::LockFailedError) {
            outcome.status = BackupOutcome::Status::NotDue;
            outcome.reason = QStringLiteral("another backup is being written");
        } else {
            outcome.reason =
                QStringLiteral("cannot write in the backup folder %1").arg(request.folder);
        }
        return outcome;
    }
    removeStalePartials(request.folder);
    std::vector<BackupFile> backups = listBackups(request.folder);
    if (request.onlyWhenDue && !backups.empty() &&
        backups.front().takenAt.secsTo(request.now) < kBackupIntervalSeconds &&
        backups.front().takenAt <= request.now) {
        outcome.status = BackupOutcome::Status::NotDue;
        return outcome;
    }
    const WrittenCopy copy = writeCheckedCopy(
        request, uniqueBackupPath(QDir(request.folder), request.now, QString()), false);
    if (!copy.failure.isEmpty()) {
        outcome.reason = copy.failure;
        return outcome;
    }
    outcome.status = BackupOutcome::Status::Written;
    outcome.path = copy.path;
    for (const BackupFile& old : backupsToDelete(listBackups(request.folder))) {
        if (old.path != copy.path && QFile::remove(old.path))
            outcome.deleted.append(old.path);
    }
    return outcome;
}

namespace {

// A copy of the current history beside the backups, before a restore replaces it: the path of
// the copy, or what kept it from being made.
std::pair<QString, QString> keepCurrentHistory(const BackupRequest& keepCurrent)
{
    if (const QString problem = folderProblem(keepCurrent.folder, keepCurrent.createFolder);
        !problem.isEmpty())
        return {QString(), QStringLiteral("the current history cannot be kept: ") + problem};
    const QString keptPath =
        uniqueBackupPath(QDir(keepCurrent.folder), keepCurrent.now, kKeptBeforeRestore);
    WrittenCopy kept = writeCheckedCopy(keepCurrent, keptPath, true);
    // A file the engine cannot copy at all is kept byte for byte.
    if (kept.path.isEmpty()) {
        const QString problem = copyFileBytes(keepCurrent.databasePath, keptPath);
        if (!problem.isEmpty())
            return {QString(), QStringLiteral("the current history cannot be kept: ") + problem};
        kept.path = keptPath;
    }
    return {kept.path, QString()};
}

// The backup's pages into the current database, or the backup's bytes in place of a file that
// is missing or not readable as a database; what went wrong, empty when nothing did.
QString putBackupInPlace(const QString& backupPath, const BackupRequest& keepCurrent,
                         bool currentExists)
{
    const QString& databasePath = keepCurrent.databasePath;
    Database source =
        Database::open(backupPath, Database::OpenMode::ReadOnly, keepCurrent.busyTimeoutMs);
    std::optional<Database> current;
    if (currentExists) {
        try {
            current.emplace(Database::open(databasePath, Database::OpenMode::ExistingFile,
                                           keepCurrent.busyTimeoutMs));
        } catch (const DatabaseError& error) {
            const int primary = error.engineCode() & 0xFF;
            if (primary != SQLITE_CORRUPT && primary != SQLITE_NOTADB)
                throw;
        }
    }
    // One write transaction of the database file: the window waits for it or is waited for.
    if (current)
        return copyPages(source, *current);
    // Missing, or not readable as a database (kept before): a new file takes its place.
    source.close();
    QFile::remove(databasePath + QStringLiteral("-journal"));
    return copyFileBytes(backupPath, databasePath);
}

} // namespace

RestoreOutcome restoreBackup(const QString& backupPath, const BackupRequest& keepCurrent)
{
    RestoreOutcome outcome;
    const QString& databasePath = keepCurrent.databasePath;
    if (isSameFile(backupPath, databasePath)) {
        outcome.reason = QStringLiteral("the file is the history database itself");
        return outcome;
    }
    const HistoryFileSummary backup = inspectHistoryFile(backupPath, keepCurrent.busyTimeoutMs);
    if (!backup.usable()) {
        outcome.reason = backup.reason;
        return outcome;
    }
    const bool currentExists = QFileInfo::exists(databasePath);
    if (currentExists) {
        const auto [keptPath, problem] = keepCurrentHistory(keepCurrent);
        if (!problem.isEmpty()) {
            outcome.reason = problem;
            return outcome;
        }
        outcome.keptCurrentAs = keptPath;
    }
    try {
        outcome.reason = putBackupInPlace(backupPath, keepCurrent, currentExists);
    } catch (const DatabaseError& error) {
        outcome.reason = error.message();
    }
    outcome.restored = outcome.reason.isEmpty();
    return outcome;
}

} // namespace ridelog
