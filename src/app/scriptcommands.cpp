#include "app/scriptcommands.h"

#include "card/carddump.h"
#include "namedata/checkedfile.h"
#include "report/claimform.h"
#include "report/claimformpainter.h"
#include "report/expenseentries.h"
#include "report/expenseexport.h"
#include "report/expensetotals.h"
#include "session/cardsession.h"
#include "store/cardlibrary.h"
#include "store/historystore.h"
#include "store/listexport.h"
#include "store/notestore.h"
#include "store/storedhistory.h"
#include "ui/historylist.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace ridelog {

namespace {

// Standard output or error, unbuffered: every write reaches the descriptor or fails at once,
// with the reason of the failure (a full disk, a closed pipe) as the error string.
class StandardStream : public QIODevice
{
public:
    explicit StandardStream(int fd)
        : fd_(fd)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        if (writeAllToDescriptor(fd_, QByteArrayView(data, size)))
            return size;
        const int systemError = errno;
        setErrorString(WriteFailure{writeFaultOfErrno(systemError), systemError, {}}.reason());
        return -1;
    }

private:
    int fd_;
};

void writeLine(QIODevice& device, const QString& text)
{
    device.write((text + QLatin1Char('\n')).toUtf8());
}

struct LoadedCard
{
    CardSession session;               // the stored card on display
    QDateTime lastRead;                // invalid when not known
    std::vector<ExpenseEntry> entries; // ascending serial
    QString nickname;                  // empty: none
    std::optional<card::CardKind> kind;
};

QByteArray cardsListing(StoredHistoryReader& reader)
{
    QByteArray out;
    for (const StoredCardSummary& card : reader.cards()) {
        // The nickname last, as one field: tabs and line ends in it become blanks.
        QString name = reader.nickname(card.idmText);
        for (QChar& c : name) {
            if (c == u'\t' || c == u'\n' || c == u'\r')
                c = u' ';
        }
        out += card.idmText.toLatin1() + '\t' + QByteArray::number(card.entries) + '\t' +
               isoDateText(card.firstDate).toLatin1() + '\t' +
               isoDateText(card.lastDate).toLatin1() + '\t' + name.toUtf8() + '\t' +
               (card.kind ? card::cardKindName(*card.kind).toUtf8() : QByteArray()) + '\n';
    }
    return out;
}

// The window's own list formats: the rows the list shows for these records, newest first.
QByteArray listBytes(const LoadedCard& card, std::span<const ExpenseEntry> shown,
                     ExportFormat format)
{
    QList<QStringList> rows;
    rows.reserve(qsizetype(shown.size()));
    for (const ExpenseEntry& entry : shown)
        rows.append(historyRowTexts(*findRecordBySerial(card.session.records(), entry.serial)));
    return exportBytes(rows, format);
}

QDate blockDate(const HistoryBlock& block)
{
    return QDate(2000 + (block[4] >> 1), (block[4] & 1) * 8 + (block[5] >> 5), block[5] & 0x1F);
}

// Every stored block of the card, ascending serial, for "ridelog import" to take back.
QByteArray blockListBytes(const ScriptRequest& request, const LoadedCard& card)
{
    std::vector<HistoryBlock> blocks;
    blocks.reserve(card.session.records().size());
    for (const HistoryRecord& record : card.session.records()) {
        if (request.from.isValid() || request.to.isValid()) {
            const QDate date = blockDate(record.raw);
            if ((request.from.isValid() && (!date.isValid() || date < request.from)) ||
                (request.to.isValid() && (!date.isValid() || date > request.to)))
                continue;
        }
        blocks.push_back(record.raw);
    }
    return card::cardBlockListText(request.idmText, blocks, card.lastRead);
}

QByteArray exportOutput(const ScriptRequest& request, const LoadedCard& card)
{
    if (request.format == u"blocks")
        return blockListBytes(request, card);
    const std::vector<ExpenseEntry> shown =
        entriesNewestFirst(card.entries, request.from, request.to);
    if (request.format == u"json")
        return expenseJsonBytes(shown, request.idmText, card.nickname, card.kind);
    if (request.format == u"list-csv")
        return listBytes(card, shown, ExportFormat::Csv);
    if (request.format == u"list-txt")
        return listBytes(card, shown, ExportFormat::Text);
    return expenseCsvBytes(shown, request.idmText);
}

QByteArray totalsOutput(const ScriptRequest& request, const LoadedCard& card)
{
    const TotalsReport report = expenseTotals(card.entries, request.from, request.to);
    if (request.format == u"csv")
        return totalsCsv(report);
    if (request.format == u"json")
        return totalsJson(report, request.idmText);
    return totalsText(report, request.idmText);
}

int fail(QIODevice& err, const QString& message, int status)
{
    writeLine(err, QStringLiteral("ridelog: ") + message);
    return status;
}

int deliver(const ScriptRequest& request, const QByteArray& bytes, QIODevice& out, QIODevice& err)
{
    if (request.output.isEmpty() || request.output == u"-") {
        if (out.write(bytes) != bytes.size())
            return fail(
                err, QStringLiteral("cannot write to standard output: %1").arg(out.errorString()),
                ScriptFailed);
        return ScriptSucceeded;
    }
    WriteFailure failure;
    if (writeFileChecked(request.output, bytes, &failure))
        return ScriptSucceeded;
    failure.path = shownArgument(request.output);
    return fail(err, QStringLiteral("cannot write %1").arg(failure.describe()), ScriptFailed);
}

// The database of the data folder, or why there is none to read; nothing is created.
struct DatabaseLocation
{
    QString path;
    QString missing; // empty when path names a file to read
};

DatabaseLocation storedDatabase()
{
    const QString folder = HistoryStore::dataFolderPath();
    if (folder.isEmpty())
        return {QString(), QStringLiteral("the system names no data folder (set XDG_DATA_HOME)")};
    const QString shownFolder = QDir::toNativeSeparators(QDir::cleanPath(folder));
    const QFileInfo folderInfo(QDir::cleanPath(folder));
    if (!folderInfo.exists())
        return {QString(), QStringLiteral("no data folder %1: no card has been read on this "
                                          "account yet")
                               .arg(shownFolder)};
    if (!folderInfo.isDir())
        return {QString(), QStringLiteral("%1 is not a folder").arg(shownFolder)};
    if (::access(QFile::encodeName(folder).constData(), R_OK | X_OK) != 0)
        return {QString(), QStringLiteral("cannot read the data folder %1: %2")
                               .arg(shownFolder, QString::fromLocal8Bit(std::strerror(errno)))};
    const QString path = folder + HistoryStore::databaseFileName();
    const QFileInfo file(path);
    if (file.isDir())
        return {path, QStringLiteral("%1 is a folder, not a database").arg(path)};
    if (!file.exists())
        return {
            path,
            QStringLiteral("no database %1: no card has been read on this account yet").arg(path)};
    return {path, QString()};
}

QString databasePath()
{
    const QString folder = HistoryStore::dataFolderPath();
    return folder.isEmpty() ? QString() : folder + HistoryStore::databaseFileName();
}

QString noteLine(std::uint32_t serial, const JourneyNote& note)
{
    return QStringLiteral("%1\t%2\t%3")
        .arg(serial)
        .arg(note.claimed ? QStringLiteral("yes") : QStringLiteral("no"), note.purpose);
}

// ridelog note: shows the entry's note, or changes it in one transaction.
int runNote(const ScriptRequest& request, QIODevice& out, QIODevice& err)
{
    const QString path = databasePath();
    NoteStore notes(path);
    // Every database message names the file.
    const auto failAt = [&](const QString& message) {
        return fail(err, path + QStringLiteral(": ") + message, ScriptFailed);
    };
    if (!request.purpose && !request.claimed) {
        const LoadedNotes loaded = notes.notesOf(request.idmText);
        if (!loaded.available)
            return failAt(QStringLiteral("the notes table is damaged or not Ridelog's"));
        const auto found = loaded.notes.find(request.serial);
        writeLine(out, noteLine(request.serial,
                                found == loaded.notes.end() ? JourneyNote{} : found->second));
        return ScriptSucceeded;
    }
    const std::uint32_t serials[] = {request.serial};
    const NoteWriteOutcome outcome =
        notes.setNotes(request.idmText, serials, NoteChange{request.purpose, request.claimed},
                       QDateTime::currentSecsSinceEpoch());
    switch (outcome.result) {
    case NoteWriteResult::Written:
        return ScriptSucceeded;
    case NoteWriteResult::NoDatabase:
        return fail(err, QStringLiteral("no stored history for card %1").arg(request.idmText),
                    ScriptFailed);
    case NoteWriteResult::UnknownEntry:
        return fail(err,
                    QStringLiteral("card %1 has no stored entry %2")
                        .arg(request.idmText)
                        .arg(request.serial),
                    ScriptFailed);
    case NoteWriteResult::TableUnusable:
        return failAt(
            QStringLiteral("the notes table is damaged or not Ridelog's; it is left alone"));
    case NoteWriteResult::Locked:
        return failAt(QStringLiteral("the database is locked by another program (the window "
                                     "storing a read?); nothing was written, try again"));
    case NoteWriteResult::Failed:
        break;
    }
    return failAt(QStringLiteral("nothing was written: %1").arg(outcome.engineText));
}

// ridelog report: the claim form of the card's stored history as a PDF.
int runReport(const ScriptRequest& request, const LoadedCard& card, QIODevice& out, QIODevice& err)
{
    ClaimRequest claim;
    claim.from = request.from;
    claim.to = request.to;
    claim.claimedOnly = request.claimedOnly;
    claim.claimant = request.claimant;
    claim.department = request.department;
    const std::optional<CardSummary> summary = CardLibrary(databasePath()).card(request.idmText);
    claim.cardName = summary ? summary->shownName() : request.idmText;
    claim.madeOn = QDate::currentDate();
    const ClaimForm form = buildClaimForm(card.entries, claim);
    const ClaimPdfOutcome outcome = writeClaimPdf(request.output, form);
    switch (outcome.result) {
    case ClaimPdfResult::Written:
        writeLine(out, QStringLiteral("%1: %2 entries, total %3 yen")
                           .arg(request.output)
                           .arg(form.lineCount)
                           .arg(form.total));
        return ScriptSucceeded;
    case ClaimPdfResult::CannotCreate:
        return fail(err,
                    QStringLiteral("cannot create %1: %2").arg(request.output, outcome.errorText),
                    ScriptFailed);
    case ClaimPdfResult::WriteFailed:
        break;
    }
    return fail(err, QStringLiteral("cannot write %1: %2").arg(request.output, outcome.errorText),
                ScriptFailed);
}

} // namespace

QString scriptCommandsHelp()
{
    return QStringLiteral(
        "Commands for scripts. They need no display and no card reader, and (except note)\n"
        "only read the database the window keeps\n"
        "($XDG_DATA_HOME/Tanpopo/Hotaru/Trfc/ekdb.sqlite), so they also work while the\n"
        "window runs.\n"
        "\n"
        "  ridelog cards\n"
        "      Lists the stored cards, one a line, separated by tabs: IDm, number of\n"
        "      entries, first date, last date (YYYY-MM-DD), the card's name (UTF-8,\n"
        "      empty without one), the kind of card (Suica, PASMO, ICOCA, はやかけん,\n"
        "      nimoca or 不明; empty when never told).\n"
        "\n"
        "  ridelog export --card IDM [--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
        "                 [--format csv|json|list-csv|list-txt] [--output FILE]\n"
        "      Writes the card's stored history, newest entry first, within the dates\n"
        "      given (both ends included). Names come from the stored name tables; the\n"
        "      code stands where no name is stored.\n"
        "        csv       (default) UTF-8 with a byte order mark, a header row and one\n"
        "                  column per fact; the amount is negative for a charge and\n"
        "                  empty where it is not known (the oldest entry).\n"
        "        json      an object with the card and an array of its entries.\n"
        "      csv and json give journeys through automatic gates their gate times\n"
        "      (entry_time, exit_time: HH:MM) where the stored gate log has them.\n"
        "        list-csv  the window's CSV export (ファイルに保存), byte for byte:\n"
        "                  code page 932, CR LF, no header.\n"
        "        list-txt  the window's blank-separated text export, byte for byte.\n"
        "        blocks    the stored history blocks themselves, for \"ridelog import\":\n"
        "                  a line \"idm<TAB>IDM\", a line \"read<TAB>TIME\" (the last\n"
        "                  read, ISO 8601 UTC, when known) and one line\n"
        "                  \"block<TAB>SERIAL<TAB>32 HEX DIGITS\" a block, oldest first.\n"
        "      Without --output, or with --output -, the history goes to standard\n"
        "      output. A file is written whole or not at all; a FIFO or a device is\n"
        "      written in place.\n"
        "\n"
        "  ridelog totals --card IDM [--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
        "                 [--format text|csv|json]\n"
        "      Prints the totals per month and for the whole range: rail and bus\n"
        "      journeys and fares, charges, purchases, the balance at the end, and\n"
        "      history that may be missing.\n"
        "\n"
        "  ridelog note --card IDM --serial N [--purpose TEXT] [--claim yes|no]\n"
        "      Sets the purpose of the stored entry N (the # column of the window) and\n"
        "      whether it is claimed as an expense (精算); without --purpose and --claim\n"
        "      it prints the entry's note: serial, claim (yes/no), purpose, separated by\n"
        "      tabs. A purpose keeps 200 characters, without control characters;\n"
        "      --purpose \"\" removes it. This command writes the database, in one\n"
        "      transaction, and waits a few seconds for a window that is storing a read.\n"
        "\n"
        "  ridelog report --card IDM [--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
        "                 [--claimed-only] [--name TEXT] [--department TEXT]\n"
        "                 --output FILE.pdf\n"
        "      Writes the claim form (交通費精算書) as a PDF on A4 paper: one line per\n"
        "      journey or purchase with its purpose and amount, totals per month and in\n"
        "      all. Charges are never listed; an amount that spans missing history is\n"
        "      marked and not added. --claimed-only lists only the entries marked for\n"
        "      claiming. The form is in Japanese under a Japanese locale, else English.\n"
        "\n"
        "  Exit status: 0 done; 1 unknown card or entry, damaged database, a locked\n"
        "  database or a file that cannot be written; 2 a wrong command line. Each\n"
        "  failure prints one line on standard error. Names that a damaged name\n"
        "  table no longer gives are shown as codes, with one line on standard error.\n");
}

int runScriptCommand(const QStringList& arguments, QIODevice& out, QIODevice& err)
{
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        out.write(scriptCommandsHelp().toUtf8());
        return ScriptSucceeded;
    }
    const auto parsed = parseScriptCommand(arguments);
    if (const auto* error = std::get_if<ScriptUsageError>(&parsed))
        return fail(err, error->message + QStringLiteral(" (see ridelog --help)"), ScriptUsage);
    const ScriptRequest& request = std::get<ScriptRequest>(parsed);
    const DatabaseLocation database = storedDatabase();
    if (!database.missing.isEmpty())
        return fail(err, database.missing, ScriptFailed);
    try {
        if (request.command == ScriptRequest::Command::Note)
            return runNote(request, out, err);
        StoredHistoryReader reader(database.path);
        if (request.command == ScriptRequest::Command::Cards) {
            const QByteArray listing = cardsListing(reader);
            if (listing.isEmpty())
                writeLine(err,
                          QStringLiteral("ridelog: no card is stored in %1").arg(database.path));
            return deliver(request, listing, out, err);
        }
        LoadedCard card;
        CardBlockSet blocks;
        if (!reader.loadCard(request.idmText, card.session.caches(), blocks))
            return fail(err,
                        QStringLiteral("no stored history for card %1 in %2")
                            .arg(request.idmText, database.path),
                        ScriptFailed);
        if (const QString names = reader.unreadableNames(); !names.isEmpty())
            writeLine(err, QStringLiteral("ridelog: some stored names cannot be read, codes stand "
                                          "in for them (%1)")
                               .arg(names));
        card.session.showStoredBlocks(request.idmText.toUpper(), std::move(blocks));
        card.nickname = reader.nickname(request.idmText);
        if (const auto summary = CardLibrary(databasePath()).card(request.idmText))
            card.lastRead = summary->lastRead;
        deriveAmounts(card.session.records());
        card.entries = expenseEntries(card.session.records(), std::nullopt);
        addGateTimes(card.entries,
                     matchGateTaps(card.session.records(), reader.gateLog(request.idmText)));
        card.kind = reader.cardKind(request.idmText);
        const LoadedNotes notes = reader.notesOf(request.idmText);
        attachNotes(card.entries, notes.notes);
        if (request.command == ScriptRequest::Command::Report)
            return runReport(request, card, out, err);
        const QByteArray bytes = request.command == ScriptRequest::Command::Export
                                     ? exportOutput(request, card)
                                     : totalsOutput(request, card);
        return deliver(request, bytes, out, err);
    } catch (const DatabaseError& error) {
        return fail(err, database.path + QStringLiteral(": ") + error.message(), ScriptFailed);
    }
}

int runScriptCommand(const QStringList& arguments)
{
    StandardStream out(STDOUT_FILENO);
    StandardStream err(STDERR_FILENO);
    return runScriptCommand(arguments, out, err);
}

} // namespace ridelog
