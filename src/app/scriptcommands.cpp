#include "app/scriptcommands.h"

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
#include <QFile>
#include <cstdio>

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
    if (request.output.isEmpty()) {
        if (out.write(bytes) != bytes.size())
            return fail(err, QStringLiteral("cannot write to standard output"), ScriptFailed);
        return ScriptSucceeded;
    }
    switch (writeExportFile(request.output, bytes)) {
    case ExportWriteResult::Written:
        return ScriptSucceeded;
    case ExportWriteResult::CannotCreate:
        return fail(err, QStringLiteral("cannot create %1").arg(request.output), ScriptFailed);
    case ExportWriteResult::WriteFailed:
        break;
    }
    return fail(err, QStringLiteral("cannot write %1").arg(request.output), ScriptFailed);
}

} // namespace

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
        return usage(QStringLiteral("unknown command '%1'").arg(command));

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
        return usage(command + QStringLiteral(": ") + parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usage(command + QStringLiteral(": unexpected argument '%1'")
                                   .arg(parser.positionalArguments().constFirst()));
    if (request.command == ScriptRequest::Command::Cards)
        return request;

    if (!parser.isSet(card))
        return usage(command + QStringLiteral(": --card IDM is required"));
    request.idmText = parser.value(card);
    if (!isIdmText(request.idmText))
        return usage(
            command +
            QStringLiteral(": '%1' is not an IDm of 16 hexadecimal digits").arg(request.idmText));
    request.idmText = request.idmText.toUpper();
    for (const auto& [option, date] :
         {std::pair{&from, &request.from}, std::pair{&to, &request.to}}) {
        if (!parser.isSet(*option))
            continue;
        *date = parseDay(parser.value(*option));
        if (!date->isValid())
            return usage(command +
                         QStringLiteral(": --%1 '%2' is not a date YYYY-MM-DD that exists")
                             .arg(option->names().constFirst(), parser.value(*option)));
    }
    if (request.from.isValid() && request.to.isValid() && request.from > request.to)
        return usage(command + QStringLiteral(": --from %1 is after --to %2")
                                   .arg(isoDateText(request.from), isoDateText(request.to)));
    const QStringList& formats =
        request.command == ScriptRequest::Command::Export ? kExportFormats : kTotalsFormats;
    request.format = parser.isSet(format) ? parser.value(format) : formats.constFirst();
    if (!formats.contains(request.format))
        return usage(command + QStringLiteral(": unknown format '%1' (%2)")
                                   .arg(request.format, formats.join(QStringLiteral(", "))));
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
        "      Without --output the history goes to standard output. A file is\n"
        "      written whole or not at all.\n"
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
    try {
        const QString folder = HistoryStore::DataFolderPath();
        StoredHistoryReader reader(folder.isEmpty() ? QString()
                                                    : folder + HistoryStore::databaseFileName());
        if (request.command == ScriptRequest::Command::Cards)
            return deliver(request, cardsListing(reader), out, err);
        LoadedCard card;
        CardBlockSet blocks;
        if (!reader.loadCard(request.idmText, card.session.caches(), blocks))
            return fail(err, QStringLiteral("no stored history for card %1").arg(request.idmText),
                        ScriptFailed);
        if (const QString names = reader.unreadableNames(); !names.isEmpty())
            writeLine(err, QStringLiteral("ridelog: some stored names cannot be read, codes stand "
                                          "in for them (%1)")
                               .arg(names));
        card.session.showStoredBlocks(request.idmText.toUpper(), std::move(blocks));
        deriveAmounts(card.session.records());
        card.entries = expenseEntries(card.session.records(), std::nullopt);
        const QByteArray bytes = request.command == ScriptRequest::Command::Export
                                     ? exportOutput(request, card)
                                     : totalsOutput(request, card);
        return deliver(request, bytes, out, err);
    } catch (const DatabaseError& error) {
        return fail(err, error.message(), ScriptFailed);
    }
}

int runScriptCommand(const QStringList& arguments)
{
    QFile out;
    QFile err;
    if (!out.open(stdout, QIODevice::WriteOnly) || !err.open(stderr, QIODevice::WriteOnly))
        return ScriptFailed;
    const int status = runScriptCommand(arguments, out, err);
    if (!out.flush() && status == ScriptSucceeded)
        return ScriptFailed;
    return status;
}

} // namespace ridelog
