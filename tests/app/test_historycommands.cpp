// The command line for the history as a whole: backup, restore, merge and import as a user runs
// them, the block list round trip through export and import, and kill -9 in the middle of each.
#include "app/historycommands.h"
#include "app/scriptcommands.h"
#include "store/backups.h"
#include "store/historystore.h"
#include "support/historyfixture.h"
#include "testfiles.h"

#include <QBuffer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace ridelog;
using namespace ridelog::test;

namespace {

const QString kCommuter = QStringLiteral("0114A1B2C3D4E5F6");
const QString kStudent = QStringLiteral("01010A10E41A9F02");

struct RunResult
{
    int status = -1;
    QString out;
    QString err;
};

RunResult run(QStringList arguments, const QByteArray& answer = QByteArray())
{
    arguments.prepend(QStringLiteral("ridelog"));
    QBuffer in;
    in.setData(answer);
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    RunResult result;
    result.status = isHistoryCommand(arguments) ? runHistoryCommand(arguments, in, out, err)
                                                : runScriptCommand(arguments, out, err);
    result.out = QString::fromUtf8(out.data());
    result.err = QString::fromUtf8(err.data());
    return result;
}

// Opened as the program opens its database: a change that was cut short is rolled back here.
QString quickCheck(const QString& path)
{
    Database database = Database::open(path, Database::OpenMode::ExistingFile, 5000);
    return quickCheckFindings(database);
}

qint64 entriesIn(const QString& path)
{
    return inspectHistoryFile(path, 5000).entries;
}

} // namespace

class TestHistoryCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    QString database_;

    QString path(const QString& name) const { return dir_.filePath(name); }

    void storeHistory(const QString& file, int cards, int entriesPerCard)
    {
        HistoryFileWriter writer(file);
        for (int c = 0; c < cards; ++c)
            writer.card(QStringLiteral("01010A10E41A%1").arg(c, 4, 16, QLatin1Char('0')).toUpper(),
                        historyEntries(1, entriesPerCard));
    }

    // Runs the program, and kills it (SIGKILL) after the given time unless it ended before.
    bool runAndKill(const QStringList& arguments, int afterMs)
    {
        QProcess process;
        process.setProgram(QStringLiteral(RIDELOG_EXECUTABLE));
        process.setArguments(arguments);
        process.start();
        if (!process.waitForStarted(5000))
            return false;
        const bool finished = process.waitForFinished(afterMs);
        if (!finished) {
            process.kill();
            process.waitForFinished(5000);
        }
        return true;
    }

private slots:
    void init()
    {
        QVERIFY(dir_.isValid());
        qputenv("XDG_DATA_HOME", path(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toUtf8());
        database_ = HistoryStore::dataFolderLocation() + HistoryStore::databaseFileName();
        QFile::remove(database_);
        QDir(HistoryStore::dataFolderPath() + QStringLiteral("backups")).removeRecursively();
    }

    void aCardReadOnTwoComputersEndsAsTheUnion()
    {
        const auto all = historyEntries(1, 120);
        HistoryFileWriter(database_).card(kCommuter, {all.begin(), all.begin() + 80});
        const QString work = path(QStringLiteral("work-ekdb.sqlite"));
        HistoryFileWriter(work)
            .card(kCommuter, {all.begin() + 60, all.end()})
            .card(kStudent, historyEntries(5, 9));
        RunResult merged = run({QStringLiteral("merge"), work});
        QCOMPARE(merged.status, 0);
        QVERIFY2(merged.out.contains(QStringLiteral("Added 49 entries on 2 card(s) (1 new)")),
                 qPrintable(merged.out));
        QCOMPARE(storedBlocks(database_, kCommuter).size(), std::size_t(120));
        merged = run({QStringLiteral("merge"), work});
        QCOMPARE(merged.status, 0);
        QVERIFY(merged.out.startsWith(QStringLiteral("Nothing new")));

        const RunResult self = run({QStringLiteral("merge"), database_});
        QCOMPARE(self.status, 1);
        QVERIFY(self.err.startsWith(QStringLiteral("ridelog: merge: ")));
        QVERIFY(self.err.contains(QStringLiteral("itself")));
        QCOMPARE(run({QStringLiteral("merge")}).status, 2);
    }

    void aBackupComesBackWithRestore()
    {
        storeHistory(database_, 2, 50);
        const RunResult backup = run({QStringLiteral("backup")});
        QCOMPARE(backup.status, 0);
        const QString backupPath = backup.out.trimmed();
        QVERIFY(backupPath.startsWith(HistoryStore::dataFolderPath() +
                                      QStringLiteral("backups/ekdb-")));
        HistoryFileWriter(database_).card(kCommuter, historyEntries(1, 10));
        QCOMPARE(entriesIn(database_), qint64(110));

        // Without --yes it asks; anything but yes changes nothing.
        const QByteArray before = fileBytes(database_);
        RunResult restore = run({QStringLiteral("restore"), backupPath}, "n\n");
        QCOMPARE(restore.status, 1);
        QVERIFY2(restore.out.contains(QStringLiteral("2 card(s), 100 entries")),
                 qPrintable(restore.out));
        QCOMPARE(fileBytes(database_), before);

        restore = run({QStringLiteral("restore"), backupPath}, "y\n");
        QCOMPARE(restore.status, 0);
        QCOMPARE(entriesIn(database_), qint64(100));
        QVERIFY(restore.out.contains(QStringLiteral("-before-restore.sqlite")));

        const QString letter = path(QStringLiteral("letter.txt"));
        QVERIFY(writeFile(letter, "Dear Sir"));
        const QByteArray restored = fileBytes(database_);
        restore = run({QStringLiteral("restore"), letter, QStringLiteral("--yes")});
        QCOMPARE(restore.status, 1);
        QVERIFY(restore.err.contains(QStringLiteral("not a database")));
        QCOMPARE(fileBytes(letter), QByteArray("Dear Sir"));
        QCOMPARE(fileBytes(database_), restored);
    }

    void exportedBlocksComeBackLosslessly()
    {
        HistoryFileWriter(database_)
            .card(kCommuter, historyEntries(0xFFFF00, 256))
            .nickname(kCommuter, QString(), 1700000000, 1712345678);
        const QString blocks = path(QStringLiteral("commuter.blocks"));
        const RunResult exported =
            run({QStringLiteral("export"), QStringLiteral("--card"), kCommuter,
                 QStringLiteral("--format"), QStringLiteral("blocks"), QStringLiteral("--output"),
                 blocks});
        QCOMPARE(exported.status, 0);
        QVERIFY(fileBytes(blocks).contains("read\t2024-04-05T19:34:38Z\n"));
        const auto original = storedBlocks(database_, kCommuter);
        QFile::remove(database_);

        const RunResult imported = run({QStringLiteral("import"), blocks});
        QCOMPARE(imported.status, 0);
        QVERIFY2(imported.out.contains(QStringLiteral("256 entries, 256 new")),
                 qPrintable(imported.out));
        QCOMPARE(storedBlocks(database_, kCommuter), original);
        QCOMPARE(CardLibrary(database_).card(kCommuter)->lastRead.toSecsSinceEpoch(),
                 qint64(1712345678));
    }

    void importTellsEachFile()
    {
        const QString good = path(QStringLiteral("card.nfc"));
        auto blocks = historyEntries(40, 20);
        std::reverse(blocks.begin(), blocks.end());
        QVERIFY(writeFile(good, flipperNfcFile(kCommuter, blocks)));
        const QString lite = path(QStringLiteral("lite.nfc"));
        QVERIFY(writeFile(lite, flipperNfcFile(kStudent, blocks, {QStringLiteral("88B4")})));
        const RunResult result =
            run({QStringLiteral("import"), good, lite, path(QStringLiteral("missing.nfc"))});
        QCOMPARE(result.status, 1);
        QVERIFY2(
            result.out.contains(QStringLiteral("Flipper Zero NFC file of card 0114A1B2C3D4E5F6, "
                                               "20 entries, 20 new")),
            qPrintable(result.out));
        QVERIFY(result.err.contains(
            QStringLiteral("lite.nfc: refused: the card's systems are 0x88B4")));
        QVERIFY(result.err.contains(QStringLiteral("missing.nfc: refused: no such file")));
        QCOMPARE(storedBlocks(database_, kStudent).size(), std::size_t(0));
    }

    void killedMergeLeavesTheOldHistoryOrTheUnion()
    {
        storeHistory(database_, 2, 1000);
        const QString source = path(QStringLiteral("big.sqlite"));
        QFile::remove(source);
        storeHistory(source, 40, 5000);
        const qint64 before = entriesIn(database_);
        const qint64 merged = 40 * 5000;
        for (const int afterMs : {30, 120, 400, 1000}) {
            QVERIFY(runAndKill({QStringLiteral("merge"), source}, afterMs));
            QCOMPARE(quickCheck(database_), QString());
            const qint64 now = entriesIn(database_);
            QVERIFY2(now == before || now == merged, qPrintable(QString::number(now)));
            if (now == merged)
                break;
        }
        QCOMPARE(run({QStringLiteral("merge"), source}).status, 0);
        QCOMPARE(entriesIn(database_), merged);
        QCOMPARE(storedRowCount(database_, QStringLiteral("01010A10E41A0000")), qint64(5000));
    }

    void killedRestoreLeavesOneWholeHistory()
    {
        storeHistory(database_, 40, 5000);
        const RunResult backup = run({QStringLiteral("backup")});
        QCOMPARE(backup.status, 0);
        const QString backupPath = backup.out.trimmed();
        QFile::remove(database_);
        storeHistory(database_, 3, 700);
        for (const int afterMs : {30, 150, 500}) {
            QVERIFY(runAndKill({QStringLiteral("restore"), backupPath, QStringLiteral("--yes")},
                               afterMs));
            QCOMPARE(quickCheck(database_), QString());
            const qint64 now = entriesIn(database_);
            QVERIFY2(now == 3 * 700 || now == 40 * 5000, qPrintable(QString::number(now)));
            QCOMPARE(quickCheck(backupPath), QString());
        }
    }

    void killedBackupLeavesNoHalfBackup()
    {
        storeHistory(database_, 40, 5000);
        const QByteArray database = fileBytes(database_);
        const QString folder = HistoryStore::dataFolderPath() + QStringLiteral("backups/");
        for (const int afterMs : {20, 60, 150}) {
            QVERIFY(runAndKill({QStringLiteral("backup")}, afterMs));
            for (const BackupFile& backup : listBackups(folder))
                QCOMPARE(quickCheck(backup.path), QString());
            QCOMPARE(fileBytes(database_), database);
            QTest::qWait(1100); // a new name for the next one
        }
        QCOMPARE(run({QStringLiteral("backup")}).status, 0);
        QCOMPARE(QDir(folder).entryList({QStringLiteral(".*.part*")}, QDir::Files | QDir::Hidden),
                 QStringList());
    }
};

QTEST_GUILESS_MAIN(TestHistoryCommands)
#include "test_historycommands.moc"
