#include "app/historycommands.h"

#include "app/scriptcommands.h"
#include "report/expenseentries.h"
#include "store/backups.h"
#include "store/cardlibrary.h"
#include "store/dumpimport.h"
#include "store/historyfile.h"
#include "store/historymerge.h"
#include "store/historystore.h"
#include "store/settings.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace ridelog {

namespace {

// How long a command waits for the window to finish storing a read.
constexpr int kWriteLockWaitMs = 10000;

void writeLine(QIODevice& device, const QString& text)
{
    device.write((text + u'\n').toUtf8());
}

int fail(QIODevice& err, const QString& message, int status = ScriptFailed)
{
    writeLine(err, QStringLiteral("ridelog: ") + message);
    return status;
}

QString databasePath()
{
    const QString folder = HistoryStore::dataFolderPath();
    return folder.isEmpty() ? QString() : folder + HistoryStore::databaseFileName();
}

BackupRequest backupRequestFor(const QString& database)
{
    BackupRequest request;
    request.databasePath = database;
    const auto settings = openUserSettings();
    request.folder = chosenBackupFolder(*settings);
    request.createFolder = request.folder.isEmpty();
    if (request.createFolder)
        request.folder = defaultBackupFolder(database);
    request.now = QDateTime::currentDateTimeUtc();
    request.busyTimeoutMs = kWriteLockWaitMs;
    return request;
}

QString summaryLine(const QString& path, const HistoryFileSummary& summary)
{
    QDateTime taken = backupTimeOfName(QFileInfo(path).fileName());
    if (!taken.isValid())
        taken = QFileInfo(path).lastModified();
    QString line = QStringLiteral("%1: saved %2, %3 card(s), %4 entries")
                       .arg(QFileInfo(path).fileName(),
                            taken.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                       .arg(summary.cards)
                       .arg(summary.entries);
    if (summary.newestEntryDate.isValid())
        line += QStringLiteral(", newest entry %1").arg(isoDateText(summary.newestEntryDate));
    return line;
}

bool parseOptions(QCommandLineParser& parser, const QStringList& arguments, QString& error)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QStringList rest = arguments;
    rest.removeAt(1);
    if (!parser.parse(rest)) {
        error = parser.errorText();
        return false;
    }
    return true;
}

int runBackup(const QStringList& arguments, QIODevice& out, QIODevice& err)
{
    QCommandLineParser parser;
    QString error;
    if (!parseOptions(parser, arguments, error))
        return fail(err, QStringLiteral("backup: ") + error, ScriptUsage);
    if (!parser.positionalArguments().isEmpty())
        return fail(err,
                    QStringLiteral("backup: unexpected argument '%1'")
                        .arg(parser.positionalArguments().constFirst()),
                    ScriptUsage);
    const BackupOutcome outcome = writeBackup(backupRequestFor(databasePath()));
    if (outcome.status != BackupOutcome::Status::Written)
        return fail(err, QStringLiteral("no backup written: ") + outcome.reason);
    writeLine(out, outcome.path);
    return ScriptSucceeded;
}

bool confirmed(QIODevice& in, QIODevice& out)
{
    out.write("Replace the current history with this backup? The current history is kept as a "
              "backup first. [y/N] ");
    if (auto* file = qobject_cast<QFile*>(&out))
        file->flush();
    const QByteArray answer = in.readLine().trimmed().toLower();
    return answer == "y" || answer == "yes";
}

int runRestore(const QStringList& arguments, QIODevice& in, QIODevice& out, QIODevice& err)
{
    QCommandLineParser parser;
    const QCommandLineOption yes(QStringLiteral("yes"));
    parser.addOption(yes);
    QString error;
    if (!parseOptions(parser, arguments, error))
        return fail(err, QStringLiteral("restore: ") + error, ScriptUsage);
    if (parser.positionalArguments().size() != 1)
        return fail(err, QStringLiteral("restore: name one backup file"), ScriptUsage);
    const QString backup = parser.positionalArguments().constFirst();
    const QString database = databasePath();
    if (database.isEmpty())
        return fail(err, QStringLiteral("restore: the system names no data folder"));
    const HistoryFileSummary summary = inspectHistoryFile(backup, kWriteLockWaitMs);
    if (!summary.usable())
        return fail(err, QStringLiteral("restore: %1 is refused: %2").arg(backup, summary.reason));
    writeLine(out, summaryLine(backup, summary));
    if (!parser.isSet(yes) && !confirmed(in, out)) {
        writeLine(out, QString());
        return fail(err, QStringLiteral("restore: nothing was changed"));
    }
    QFileInfo(database).dir().mkpath(QStringLiteral("."));
    const RestoreOutcome outcome = restoreBackup(backup, backupRequestFor(database));
    if (!outcome.restored)
        return fail(err, QStringLiteral("restore: %1 is refused: %2").arg(backup, outcome.reason));
    if (!outcome.keptCurrentAs.isEmpty())
        writeLine(out,
                  QStringLiteral("The history as it was is kept in %1").arg(outcome.keptCurrentAs));
    writeLine(out, QStringLiteral("Restored %1").arg(backup));
    return ScriptSucceeded;
}

QString mergeReportText(const MergeReport& report)
{
    if (report.addedNothing())
        return QStringLiteral("Nothing new: the history holds all of it already.");
    return QStringLiteral("Added %1 entries on %2 card(s) (%3 new), %4 names "
                          "(%5 stations, %6 bus stops, %7 shops), %8 nickname(s), %9 note(s), "
                          "%10 gate tap(s), %11 kind(s) of card.")
        .arg(report.entries)
        .arg(report.cardsWithNewEntries)
        .arg(report.newCards)
        .arg(report.names())
        .arg(report.stationNames)
        .arg(report.busStopNames)
        .arg(report.shopNames)
        .arg(report.nicknames)
        .arg(report.notes)
        .arg(report.gateTaps)
        .arg(report.cardKinds);
}

int runMerge(const QStringList& arguments, QIODevice& out, QIODevice& err)
{
    QCommandLineParser parser;
    QString error;
    if (!parseOptions(parser, arguments, error))
        return fail(err, QStringLiteral("merge: ") + error, ScriptUsage);
    if (parser.positionalArguments().size() != 1)
        return fail(err, QStringLiteral("merge: name one history file"), ScriptUsage);
    const QString source = parser.positionalArguments().constFirst();
    const QString database = databasePath();
    if (database.isEmpty())
        return fail(err, QStringLiteral("merge: the system names no data folder"));
    QFileInfo(database).dir().mkpath(QStringLiteral("."));
    const MergeOutcome outcome = mergeHistoryFile(source, database, kWriteLockWaitMs);
    if (!outcome.merged)
        return fail(err, QStringLiteral("merge: %1 is refused: %2").arg(source, outcome.reason));
    writeLine(out, mergeReportText(outcome.report));
    return ScriptSucceeded;
}

QString importLine(const DumpImportResult& result)
{
    if (!result.stored)
        return QStringLiteral("%1: refused: %2").arg(result.path, result.reason);
    return QStringLiteral("%1: %2 of card %3, %4 entries, %5 new")
        .arg(result.path, card::cardDumpKindName(result.kind), result.idmText)
        .arg(result.blocksInFile)
        .arg(result.added);
}

int runImport(const QStringList& arguments, QIODevice& out, QIODevice& err)
{
    QCommandLineParser parser;
    QString error;
    if (!parseOptions(parser, arguments, error))
        return fail(err, QStringLiteral("import: ") + error, ScriptUsage);
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        return fail(err, QStringLiteral("import: name at least one card dump"), ScriptUsage);
    const QString database = databasePath();
    if (!database.isEmpty())
        QFileInfo(database).dir().mkpath(QStringLiteral("."));
    int status = ScriptSucceeded;
    for (const DumpImportResult& result : importCardDumps(files, database, kWriteLockWaitMs)) {
        if (result.stored) {
            writeLine(out, importLine(result));
        } else {
            writeLine(err, QStringLiteral("ridelog: import: ") + importLine(result));
            status = ScriptFailed;
        }
    }
    return status;
}

} // namespace

bool isHistoryCommand(const QStringList& arguments)
{
    if (arguments.size() < 2)
        return false;
    const QString& command = arguments[1];
    return command == u"backup" || command == u"restore" || command == u"merge" ||
           command == u"import";
}

QString historyCommandsHelp()
{
    return QStringLiteral(
        "Commands for the history as a whole. They are safe while the window runs: what they\n"
        "write waits for the window to finish storing a read (up to 10 seconds).\n"
        "\n"
        "  ridelog backup\n"
        "      Writes a backup of the history now and prints its name. Backups go to\n"
        "      backups/ beside the database, or to the folder set as \"folder\" in the\n"
        "      settings group [Backup]; the newest of each of the last 7 days and 12\n"
        "      months are kept.\n"
        "\n"
        "  ridelog restore FILE [--yes]\n"
        "      Replaces the history by the backup FILE, after telling its date, cards\n"
        "      and entries and asking (--yes: without asking). The current history is\n"
        "      kept as a backup of its own first.\n"
        "\n"
        "  ridelog merge FILE\n"
        "      Takes in another computer's history (its ekdb.sqlite, or a backup): the\n"
        "      entries, names, nicknames, purposes, gate times and kinds of card this\n"
        "      history lacks. Merging twice adds nothing. FILE is only read.\n"
        "\n"
        "  ridelog import FILE...\n"
        "      Stores card dumps as reads of their cards: card files of the simulated\n"
        "      reader, Flipper Zero .nfc files of FeliCa cards, and the card block lists\n"
        "      that \"ridelog export --format blocks\" writes. The files are only read.\n"
        "\n"
        "  Exit status: 0 done; 1 refused or failed (one line on standard error says\n"
        "  why); 2 a wrong command line.\n");
}

int runHistoryCommand(const QStringList& arguments, QIODevice& in, QIODevice& out, QIODevice& err)
{
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        out.write(historyCommandsHelp().toUtf8());
        return ScriptSucceeded;
    }
    const QString command = arguments.value(1);
    if (command == u"backup")
        return runBackup(arguments, out, err);
    if (command == u"restore")
        return runRestore(arguments, in, out, err);
    if (command == u"merge")
        return runMerge(arguments, out, err);
    if (command == u"import")
        return runImport(arguments, out, err);
    return fail(err, QStringLiteral("unknown command '%1'").arg(command), ScriptUsage);
}

int runHistoryCommand(const QStringList& arguments)
{
    QFile in;
    QFile out;
    QFile err;
    if (!in.open(stdin, QIODevice::ReadOnly) || !out.open(stdout, QIODevice::WriteOnly) ||
        !err.open(stderr, QIODevice::WriteOnly))
        return ScriptFailed;
    out.setTextModeEnabled(false);
    const int status = runHistoryCommand(arguments, in, out, err);
    out.flush();
    return status;
}

} // namespace ridelog
