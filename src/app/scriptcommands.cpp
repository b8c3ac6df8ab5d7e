#include "app/scriptcommands.h"

#include "namedata/checkedfile.h"
#include "report/expenseentries.h"
#include "report/expenseexport.h"
#include "report/expensetotals.h"
#include "session/cardsession.h"
#include "store/historystore.h"
#include "store/listexport.h"
#include "store/storedhistory.h"
#include "ui/historylist.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace ridelog {

namespace {

const QStringList kExportFormats{QStringLiteral("csv"), QStringLiteral("json"),
                                 QStringLiteral("list-csv"), QStringLiteral("list-txt")};
const QStringList kTotalsFormats{QStringLiteral("text"), QStringLiteral("csv"),
                                 QStringLiteral("json")};

// YYYY-MM-DD of a day that exists.
QDate parseDay(const QString& text)
{
    if (text.size() != 10)
        return QDate();
    return QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
}

std::variant<ScriptRequest, ScriptUsageError> usage(const QString& message)
{
    return ScriptUsageError{message};
}

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
    std::vector<ExpenseEntry> entries; // ascending serial
};

QByteArray cardsListing(StoredHistoryReader& reader)
{
    QByteArray out;
    for (const StoredCardSummary& card : reader.cards()) {
        out += card.idmText.toLatin1() + '\t' + QByteArray::number(card.entries) + '\t' +
               isoDateText(card.firstDate).toLatin1() + '\t' +
               isoDateText(card.lastDate).toLatin1() + '\n';
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

QByteArray exportOutput(const ScriptRequest& request, const LoadedCard& card)
{
    const std::vector<ExpenseEntry> shown =
        entriesNewestFirst(card.entries, request.from, request.to);
    if (request.format == u"json")
        return expenseJsonBytes(shown, request.idmText);
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
    const QString folder = HistoryStore::DataFolderPath();
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

} // namespace

QString shownArgument(const QString& argument)
{
    constexpr qsizetype kShownCharacters = 60;
    if (argument.size() <= kShownCharacters + 20)
        return argument;
    return argument.left(kShownCharacters) +
           QStringLiteral("... (%1 characters)").arg(argument.size());
}

bool isScriptCommand(const QStringList& arguments)
{
    if (arguments.size() < 2)
        return false;
    const QString& command = arguments[1];
    return command == u"cards" || command == u"export" || command == u"totals";
}

std::variant<ScriptRequest, ScriptUsageError> parseScriptCommand(const QStringList& arguments)
{
    ScriptRequest request;
    const QString command = arguments.value(1);
    if (command == u"export")
        request.command = ScriptRequest::Command::Export;
    else if (command == u"totals")
        request.command = ScriptRequest::Command::Totals;
    else if (command != u"cards")
        return usage(QStringLiteral("unknown command '%1'").arg(shownArgument(command)));

    const QCommandLineOption card(QStringLiteral("card"), QString(), QStringLiteral("IDM"));
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("date"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("date"));
    const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("format"));
    const QCommandLineOption output(QStringLiteral("output"), QString(), QStringLiteral("file"));
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (request.command == ScriptRequest::Command::Export)
        parser.addOptions({card, from, to, format, output});
    else if (request.command == ScriptRequest::Command::Totals)
        parser.addOptions({card, from, to, format});

    QStringList rest = arguments;
    rest.removeAt(1);
    if (!parser.parse(rest))
        return usage(command + QStringLiteral(": ") + shownArgument(parser.errorText()));
    if (!parser.positionalArguments().isEmpty())
        return usage(command + QStringLiteral(": unexpected argument '%1'")
                                   .arg(shownArgument(parser.positionalArguments().constFirst())));
    if (request.command == ScriptRequest::Command::Cards)
        return request;

    if (!parser.isSet(card))
        return usage(command + QStringLiteral(": --card IDM is required"));
    request.idmText = parser.value(card);
    if (!isIdmText(request.idmText))
        return usage(command + QStringLiteral(": '%1' is not an IDm of 16 hexadecimal digits")
                                   .arg(shownArgument(request.idmText)));
    request.idmText = request.idmText.toUpper();
    for (const auto& [option, date] :
         {std::pair{&from, &request.from}, std::pair{&to, &request.to}}) {
        if (!parser.isSet(*option))
            continue;
        *date = parseDay(parser.value(*option));
        if (!date->isValid())
            return usage(
                command +
                QStringLiteral(": --%1 '%2' is not a date YYYY-MM-DD that exists")
                    .arg(option->names().constFirst(), shownArgument(parser.value(*option))));
    }
    if (request.from.isValid() && request.to.isValid() && request.from > request.to)
        return usage(command + QStringLiteral(": --from %1 is after --to %2")
                                   .arg(isoDateText(request.from), isoDateText(request.to)));
    const QStringList& formats =
        request.command == ScriptRequest::Command::Export ? kExportFormats : kTotalsFormats;
    request.format = parser.isSet(format) ? parser.value(format) : formats.constFirst();
    if (!formats.contains(request.format))
        return usage(command +
                     QStringLiteral(": unknown format '%1' (%2)")
                         .arg(shownArgument(request.format), formats.join(QStringLiteral(", "))));
    if (request.command == ScriptRequest::Command::Export && parser.isSet(output)) {
        request.output = parser.value(output);
        if (request.output.isEmpty())
            return usage(command + QStringLiteral(": --output needs a file name"));
    }
    return request;
}

QString scriptCommandsHelp()
{
    return QStringLiteral(
        "Commands for scripts. They need no display and no card reader, and only read the\n"
        "database the window keeps ($XDG_DATA_HOME/Tanpopo/Hotaru/Trfc/ekdb.sqlite), so they\n"
        "also work while the window runs.\n"
        "\n"
        "  ridelog cards\n"
        "      Lists the stored cards, one a line, separated by tabs: IDm, number of\n"
        "      entries, first date, last date (YYYY-MM-DD).\n"
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
        "        list-csv  the window's CSV export (ファイルに保存), byte for byte:\n"
        "                  code page 932, CR LF, no header.\n"
        "        list-txt  the window's blank-separated text export, byte for byte.\n"
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
        "  Exit status: 0 done; 1 unknown card, damaged database or a file that cannot\n"
        "  be written; 2 a wrong command line. Each failure prints one line on\n"
        "  standard error.\n");
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
        card.session.showStoredBlocks(request.idmText.toUpper(), std::move(blocks));
        deriveAmounts(card.session.records());
        card.entries = expenseEntries(card.session.records(), std::nullopt);
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
