// Backups and restore: the checked copy, the hourly rhythm, the retention rule, the folders that
// cannot take a backup, damaged databases, and what a restore keeps and refuses.
#include "databasetesthelpers.h"
#include "store/backups.h"
#include "store/backupscheduler.h"
#include "support/filesizelimit.h"
#include "support/historyfixture.h"
#include "testfiles.h"

#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

using namespace ridelog;
using ridelog::test::damageFileMiddle;
using ridelog::test::fileBytes;
using ridelog::test::FileSizeLimit;
using ridelog::test::historyEntries;
using ridelog::test::HistoryFileWriter;
using ridelog::test::storedBlocks;

namespace {

const QString kIdm = QStringLiteral("0114A1B2C3D4E5F6");
const QString kOtherIdm = QStringLiteral("01010A10E41A9F02");

QDateTime utc(int year, int month, int day, int hour = 12)
{
    return QDateTime(QDate(year, month, day), QTime(hour, 0), Qt::UTC);
}

// A data folder whose database holds a history of that many entries (and 20 of another card).
struct Folder
{
    QTemporaryDir dir;
    QString database() const { return dir.filePath(QStringLiteral("ekdb.sqlite")); }
    QString backups() const { return dir.filePath(QStringLiteral("backups")) + u'/'; }

    explicit Folder(int entries)
    {
        HistoryFileWriter(database())
            .card(kIdm, historyEntries(1, entries))
            .card(kOtherIdm, historyEntries(500, 20))
            .station(0, 0x25, 0x0C, QStringLiteral("ＪＲ東日本"), QStringLiteral("山手"),
                     QStringLiteral("品川"));
    }

    BackupRequest request(const QDateTime& now) const
    {
        BackupRequest request;
        request.databasePath = database();
        request.folder = backups();
        request.createFolder = true;
        request.now = now;
        return request;
    }
};

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

std::vector<BackupFile> backupsAt(const std::vector<QDateTime>& times)
{
    std::vector<BackupFile> backups;
    for (const QDateTime& time : times)
        backups.push_back({backupFileName(time), time});
    std::sort(backups.begin(), backups.end(),
              [](const BackupFile& a, const BackupFile& b) { return a.takenAt > b.takenAt; });
    return backups;
}

} // namespace

class TestBackups : public QObject
{
    Q_OBJECT

private slots:
    void backupIsACheckedCopyUnderItsTimeAtMostHourly()
    {
        Folder folder(300);
        const QByteArray before = fileBytes(folder.database());
        BackupRequest request = folder.request(utc(2024, 5, 1, 9));
        request.onlyWhenDue = true;
        const BackupOutcome outcome = writeBackup(request);
        QCOMPARE(outcome.status, BackupOutcome::Status::Written);
        QCOMPARE(outcome.path, folder.backups() + QStringLiteral("ekdb-20240501-090000Z.sqlite"));
        QCOMPARE(storedBlocks(outcome.path, kIdm), storedBlocks(folder.database(), kIdm));
        QCOMPARE(storedBlocks(outcome.path, kOtherIdm).size(), std::size_t(20));
        const HistoryFileSummary summary = inspectHistoryFile(outcome.path, 1000);
        QVERIFY2(summary.usable(), qPrintable(summary.reason));
        QCOMPARE(summary.cards, 2);
        QCOMPARE(summary.entries, qint64(320));
        // Nothing of the database changed, and no temporary file stays behind.
        QCOMPARE(fileBytes(folder.database()), before);
        QCOMPARE(namesIn(folder.backups()),
                 QStringList{QStringLiteral("ekdb-20240501-090000Z.sqlite")});

        request.now = request.now.addSecs(59 * 60);
        QCOMPARE(writeBackup(request).status, BackupOutcome::Status::NotDue);
        request.now = request.now.addSecs(60);
        QCOMPARE(writeBackup(request).status, BackupOutcome::Status::Written);
        // A clock set back does not stop backups for good.
        request.now = utc(2024, 4, 1);
        QCOMPARE(writeBackup(request).status, BackupOutcome::Status::Written);
        // Of May 1st only the newest stays; April has its own.
        const auto kept = listBackups(folder.backups());
        QCOMPARE(kept.size(), std::size_t(2));
        QCOMPARE(kept.back().takenAt, utc(2024, 4, 1));
    }

    void retentionKeepsSevenDaysAndTwelveMonths_data()
    {
        QTest::addColumn<std::vector<QDateTime>>("times");
        QTest::addColumn<std::vector<QDateTime>>("deleted");
        const auto series = [](int count, const std::function<QDateTime(int)>& nth) {
            std::vector<QDateTime> times;
            for (int n = 0; n < count; ++n)
                times.push_back(nth(n));
            return times;
        };
        const auto hourly = series(24, [](int h) { return utc(2024, 5, 1, h); });
        std::vector<QDateTime> hourlyDeleted(hourly.begin(), hourly.end() - 1);
        QTest::newRow("one day: the newest of it") << hourly << hourlyDeleted;

        // March 1st to April 10th. Kept: April 4-10 (seven days), March 31 (the newest of
        // March). The rest goes.
        const auto daily = series(41, [](int d) { return utc(2024, 3, 1).addDays(d); });
        std::vector<QDateTime> dailyDeleted(daily.begin(), daily.begin() + 30);
        dailyDeleted.insert(dailyDeleted.end(), daily.begin() + 31, daily.begin() + 34);
        QTest::newRow("forty-one days") << daily << dailyDeleted;

        const auto monthly = series(30, [](int m) { return utc(2020, 1, 15).addMonths(m); });
        // Twelve months are kept; of the seven days, all fall in those months.
        std::vector<QDateTime> monthlyDeleted(monthly.begin(), monthly.end() - 12);
        QTest::newRow("thirty months") << monthly << monthlyDeleted;

        QTest::newRow("a single old backup stays")
            << std::vector<QDateTime>{utc(2001, 1, 1)} << std::vector<QDateTime>{};
    }

    void retentionKeepsSevenDaysAndTwelveMonths()
    {
        QFETCH(std::vector<QDateTime>, times);
        QFETCH(std::vector<QDateTime>, deleted);
        std::vector<QDateTime> actual;
        for (const BackupFile& backup : backupsToDelete(backupsAt(times)))
            actual.push_back(backup.takenAt);
        std::sort(actual.begin(), actual.end());
        QCOMPARE(actual, deleted);
    }

    void folderThinsOutAndLeavesOtherFilesAlone()
    {
        Folder folder(30);
        for (int d = 1; d <= 12; ++d)
            QCOMPARE(writeBackup(folder.request(utc(2024, 6, d))).status,
                     BackupOutcome::Status::Written);
        QVERIFY(test::writeFile(folder.backups() + QStringLiteral("notes.txt"), "mine"));
        QVERIFY(test::writeFile(folder.backups() + QStringLiteral("ekdb-old.sqlite"), "mine"));
        const BackupOutcome outcome = writeBackup(folder.request(utc(2024, 6, 13)));
        QCOMPARE(outcome.status, BackupOutcome::Status::Written);
        QCOMPARE(listBackups(folder.backups()).size(), std::size_t(7));
        QCOMPARE(listBackups(folder.backups()).front().path, outcome.path);
        QCOMPARE(fileBytes(folder.backups() + QStringLiteral("notes.txt")), QByteArray("mine"));
        QCOMPARE(fileBytes(folder.backups() + QStringLiteral("ekdb-old.sqlite")),
                 QByteArray("mine"));
    }

    void backupsThatCannotBeWrittenLeaveTheGoodOne_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("gone") << QStringLiteral("gone") << QStringLiteral("does not exist");
        QTest::newRow("read-only")
            << QStringLiteral("read-only") << QStringLiteral("read-only|cannot write");
        QTest::newRow("a file") << QStringLiteral("file") << QStringLiteral("is not a folder");
        // A file size limit fails writes as a full disk does (the engine says "disk I/O error"
        // there, "database or disk is full" on a full disk).
        QTest::newRow("full") << QStringLiteral("full") << QStringLiteral("disk");
        QTest::newRow("damaged database")
            << QStringLiteral("damaged") << QStringLiteral("damaged|malformed");
    }

    void backupsThatCannotBeWrittenLeaveTheGoodOne()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        Folder folder(3000);
        const BackupOutcome good = writeBackup(folder.request(utc(2024, 1, 1)));
        QCOMPARE(good.status, BackupOutcome::Status::Written);
        const QByteArray goodBytes = fileBytes(good.path);
        BackupRequest request = folder.request(utc(2024, 1, 2));
        request.createFolder = false; // a folder the user chose
        std::unique_ptr<FileSizeLimit> limit;
        if (kind == u"gone") {
            request.folder = folder.dir.filePath(QStringLiteral("unmounted/share/"));
        } else if (kind == u"read-only") {
            QFile::setPermissions(folder.backups(), QFile::ReadOwner | QFile::ExeOwner);
            // Root writes into read-only folders; no file can be made in /proc by anyone.
            if (QFileInfo(folder.backups()).isWritable())
                request.folder = QStringLiteral("/proc/self/");
        } else if (kind == u"file") {
            request.folder = folder.database();
        } else if (kind == u"damaged") {
            QVERIFY(damageFileMiddle(folder.database(), 32 * 1024));
        } else {
            limit = std::make_unique<FileSizeLimit>(8192);
            QVERIFY(limit->isLowered());
        }
        // Day after day, so that a failed backup that thinned out the folder would show.
        std::vector<BackupOutcome> outcomes;
        for (int d = 2; d <= 40; ++d, request.now = request.now.addDays(1))
            outcomes.push_back(writeBackup(request));
        limit.reset();
        QFile::setPermissions(folder.backups(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const BackupOutcome& outcome : outcomes) {
            QCOMPARE(outcome.status, BackupOutcome::Status::Failed);
            QVERIFY2(outcome.reason.contains(QRegularExpression(reason)),
                     qPrintable(outcome.reason));
        }
        QCOMPARE(namesIn(folder.backups()), QStringList{QFileInfo(good.path).fileName()});
        QCOMPARE(fileBytes(good.path), goodBytes);
        QVERIFY(!QFileInfo::exists(folder.dir.filePath(QStringLiteral("unmounted"))));
    }

    void chosenFolderLivesInItsOwnGroup()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("Hotaru.ini")), QSettings::IniFormat);
        QCOMPARE(chosenBackupFolder(settings), QString());
        setChosenBackupFolder(settings, QStringLiteral("/mnt/nas/ridelog"));
        QCOMPARE(chosenBackupFolder(settings), QStringLiteral("/mnt/nas/ridelog/"));
        QCOMPARE(settings.value(QStringLiteral("Backup/folder")).toString(),
                 QStringLiteral("/mnt/nas/ridelog"));
        QVERIFY(!settings.childGroups().contains(QStringLiteral("Trfc")));
        settings.setValue(QStringLiteral("Backup/folder"), QStringLiteral("relative/path"));
        QCOMPARE(chosenBackupFolder(settings), QString());
    }

    void schedulerBacksUpOffTheCallersThreadAtMostHourly()
    {
        Folder folder(200);
        BackupScheduler scheduler;
        scheduler.setDatabasePath(folder.database());
        QSignalSpy finished(&scheduler, &BackupScheduler::finished);
        scheduler.readStored(utc(2024, 7, 1, 8));
        QVERIFY(scheduler.isRunning());
        scheduler.readStored(utc(2024, 7, 1, 8)); // one at a time
        QVERIFY(finished.wait(10000));
        QVERIFY(!scheduler.isRunning());
        QCOMPARE(scheduler.failureReason(), QString());
        scheduler.readStored(utc(2024, 7, 1, 8).addSecs(1800)); // within the hour: not tried
        QVERIFY(!scheduler.isRunning());
        QCOMPARE(listBackups(folder.backups()).size(), std::size_t(1));

        // A chosen folder that is gone: the reason is told, and the next change of folder lets
        // the next read try again at once.
        scheduler.setChosenFolder(folder.dir.filePath(QStringLiteral("gone/")));
        scheduler.readStored(utc(2024, 7, 1, 9));
        QVERIFY(finished.wait(10000));
        QVERIFY2(scheduler.failureReason().contains(QStringLiteral("does not exist")),
                 qPrintable(scheduler.failureReason()));
        scheduler.setChosenFolder(QString());
        scheduler.readStored(utc(2024, 7, 1, 9).addSecs(60));
        QVERIFY(finished.wait(10000));
        QCOMPARE(scheduler.failureReason(), QString());
        QCOMPARE(finished.size(), 3);
    }

    void restoreBringsTheBackupBackAndKeepsTheCurrent_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::newRow("grown since the backup") << false;
        QTest::newRow("damaged since the backup") << true;
    }

    void restoreBringsTheBackupBackAndKeepsTheCurrent()
    {
        QFETCH(bool, damaged);
        Folder folder(100);
        const BackupOutcome backup = writeBackup(folder.request(utc(2024, 1, 1)));
        QCOMPARE(backup.status, BackupOutcome::Status::Written);
        const auto atBackup = storedBlocks(folder.database(), kIdm);
        if (damaged)
            QVERIFY(test::writeFile(folder.database(), QByteArray(8192, '\x01')));
        else
            HistoryFileWriter(folder.database()).card(kIdm, historyEntries(101, 50));
        const QByteArray current = fileBytes(folder.database());

        const RestoreOutcome outcome = restoreBackup(backup.path, folder.request(utc(2024, 1, 5)));
        QVERIFY2(outcome.restored, qPrintable(outcome.reason));
        QCOMPARE(storedBlocks(folder.database(), kIdm), atBackup);
        QCOMPARE(QFileInfo(outcome.keptCurrentAs).fileName(),
                 QStringLiteral("ekdb-20240105-120000Z-before-restore.sqlite"));
        // A database is kept as a checked copy, a file the engine cannot read byte for byte.
        if (damaged)
            QCOMPARE(fileBytes(outcome.keptCurrentAs), current);
        else
            QCOMPARE(storedBlocks(outcome.keptCurrentAs, kIdm).size(), std::size_t(150));
        // The kept copy is not thinned out with the backups.
        QCOMPARE(listBackups(folder.backups()).size(), std::size_t(1));
    }

    void restoreRefusesWhatIsNoHistory_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("text") << QStringLiteral("text") << QStringLiteral("not a database");
        QTest::newRow("another program's database")
            << QStringLiteral("foreign") << QStringLiteral("not a Ridelog history");
        QTest::newRow("empty database") << QStringLiteral("empty") << QStringLiteral("no tables");
        QTest::newRow("damaged backup") << QStringLiteral("damaged") << QStringLiteral("damaged");
        QTest::newRow("the database itself") << QStringLiteral("self") << QStringLiteral("itself");
        QTest::newRow("missing") << QStringLiteral("missing") << QStringLiteral("no such file");
    }

    void restoreRefusesWhatIsNoHistory()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        Folder folder(3000);
        QString source = folder.dir.filePath(QStringLiteral("source.sqlite"));
        if (kind == u"text") {
            QVERIFY(test::writeFile(source, QByteArray("SQLite format 3? no, a letter\n")));
        } else if (kind == u"foreign") {
            Database other = Database::open(source, Database::OpenMode::CreateIfMissing, 1000);
            other.execute(QStringLiteral("CREATE TABLE moz_places (id INTEGER, url TEXT)"));
        } else if (kind == u"empty") {
            Database::open(source, Database::OpenMode::CreateIfMissing, 1000)
                .execute(QStringLiteral("PRAGMA user_version = 1"));
        } else if (kind == u"damaged") {
            QVERIFY(QFile::copy(folder.database(), source));
            QVERIFY(damageFileMiddle(source, 32 * 1024));
        } else if (kind == u"self") {
            source = folder.database();
        }
        const QByteArray sourceBytes = fileBytes(source);
        const QByteArray databaseBytes = fileBytes(folder.database());
        const RestoreOutcome outcome = restoreBackup(source, folder.request(utc(2024, 2, 1)));
        QVERIFY(!outcome.restored);
        QVERIFY2(outcome.reason.contains(reason), qPrintable(outcome.reason));
        QCOMPARE(fileBytes(source), sourceBytes);
        QCOMPARE(fileBytes(folder.database()), databaseBytes);
        QVERIFY(!QFileInfo::exists(folder.backups()) || namesIn(folder.backups()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBackups)
#include "test_backups.moc"
