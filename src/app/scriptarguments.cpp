// The arguments of the script commands: which command, its options, and what is wrong with
// them in one line for the usage message.
#include "app/scriptcommands.h"
#include "report/expenseentries.h"
#include "store/storedhistory.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <optional>

namespace ridelog {

namespace {

const QStringList kExportFormats{QStringLiteral("csv"), QStringLiteral("json"),
                                 QStringLiteral("list-csv"), QStringLiteral("list-txt"),
                                 QStringLiteral("blocks")};
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

std::variant<ScriptRequest, ScriptUsageError> parseNoteOptions(ScriptRequest request,
                                                               const QCommandLineParser& parser,
                                                               const QCommandLineOption& serial,
                                                               const QCommandLineOption& purpose,
                                                               const QCommandLineOption& claim)
{
    if (!parser.isSet(serial))
        return usage(QStringLiteral("note: --serial N is required"));
    bool number = false;
    const uint value = parser.value(serial).toUInt(&number, 10);
    if (!number || value > 0xFFFFFF)
        return usage(QStringLiteral("note: --serial '%1' is not a serial (0 to 16777215)")
                         .arg(parser.value(serial)));
    request.serial = value;
    if (parser.isSet(purpose))
        request.purpose = parser.value(purpose);
    if (parser.isSet(claim)) {
        const QString answer = parser.value(claim);
        if (answer != u"yes" && answer != u"no")
            return usage(QStringLiteral("note: --claim '%1' is neither yes nor no").arg(answer));
        request.claimed = answer == u"yes";
    }
    return request;
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

bool scriptCommandPaints(const QStringList& arguments)
{
    return arguments.size() >= 2 && arguments[1] == u"report";
}

bool isScriptCommand(const QStringList& arguments)
{
    if (arguments.size() < 2)
        return false;
    const QString& command = arguments[1];
    return command == u"cards" || command == u"export" || command == u"totals" ||
           command == u"note" || command == u"report";
}

namespace {

using ParseResult = std::variant<ScriptRequest, ScriptUsageError>;

std::optional<ScriptRequest::Command> commandNamed(const QString& name)
{
    static const std::pair<const char16_t*, ScriptRequest::Command> kCommands[] = {
        {u"export", ScriptRequest::Command::Export},
        {u"totals", ScriptRequest::Command::Totals},
        {u"note", ScriptRequest::Command::Note},
        {u"report", ScriptRequest::Command::Report},
        {u"cards", ScriptRequest::Command::Cards}};
    for (const auto& [text, command] : kCommands) {
        if (name == QStringView(text))
            return command;
    }
    return std::nullopt;
}

// Every option of the script commands; each command takes its own few of them.
struct ScriptOptions
{
    QCommandLineOption card{QStringLiteral("card"), QString(), QStringLiteral("IDM")};
    QCommandLineOption from{QStringLiteral("from"), QString(), QStringLiteral("date")};
    QCommandLineOption to{QStringLiteral("to"), QString(), QStringLiteral("date")};
    QCommandLineOption format{QStringLiteral("format"), QString(), QStringLiteral("format")};
    QCommandLineOption output{QStringLiteral("output"), QString(), QStringLiteral("file")};
    QCommandLineOption serial{QStringLiteral("serial"), QString(), QStringLiteral("N")};
    QCommandLineOption purpose{QStringLiteral("purpose"), QString(), QStringLiteral("text")};
    QCommandLineOption claim{QStringLiteral("claim"), QString(), QStringLiteral("yes|no")};
    QCommandLineOption claimedOnly{QStringLiteral("claimed-only")};
    QCommandLineOption name{QStringLiteral("name"), QString(), QStringLiteral("text")};
    QCommandLineOption department{QStringLiteral("department"), QString(), QStringLiteral("text")};

    void addTo(QCommandLineParser& parser, ScriptRequest::Command command) const
    {
        switch (command) {
        case ScriptRequest::Command::Export:
            parser.addOptions({card, from, to, format, output});
            break;
        case ScriptRequest::Command::Totals:
            parser.addOptions({card, from, to, format});
            break;
        case ScriptRequest::Command::Note:
            parser.addOptions({card, serial, purpose, claim});
            break;
        case ScriptRequest::Command::Report:
            parser.addOptions({card, from, to, claimedOnly, name, department, output});
            break;
        case ScriptRequest::Command::Cards:
            break;
        }
    }
};

// --from and --to into the request; what is wrong with them, if anything.
std::optional<QString> takeDateRange(ScriptRequest& request, const QCommandLineParser& parser,
                                     const ScriptOptions& options)
{
    for (const auto& [option, date] :
         {std::pair{&options.from, &request.from}, std::pair{&options.to, &request.to}}) {
        if (!parser.isSet(*option))
            continue;
        *date = parseDay(parser.value(*option));
        if (!date->isValid())
            return QStringLiteral("--%1 '%2' is not a date YYYY-MM-DD that exists")
                .arg(option->names().constFirst(), shownArgument(parser.value(*option)));
    }
    if (request.from.isValid() && request.to.isValid() && request.from > request.to)
        return QStringLiteral("--from %1 is after --to %2")
            .arg(isoDateText(request.from), isoDateText(request.to));
    return std::nullopt;
}

ParseResult takeReportOptions(ScriptRequest request, const QCommandLineParser& parser,
                              const ScriptOptions& options, const QString& command)
{
    request.claimedOnly = parser.isSet(options.claimedOnly);
    request.claimant = parser.value(options.name).trimmed();
    request.department = parser.value(options.department).trimmed();
    request.output = parser.value(options.output);
    if (request.output.isEmpty())
        return usage(command + QStringLiteral(": --output FILE.pdf is required"));
    return request;
}

// --format of export and totals, and the --output of export.
ParseResult takeFormatAndOutput(ScriptRequest request, const QCommandLineParser& parser,
                                const ScriptOptions& options, const QString& command)
{
    const QStringList& formats =
        request.command == ScriptRequest::Command::Export ? kExportFormats : kTotalsFormats;
    request.format =
        parser.isSet(options.format) ? parser.value(options.format) : formats.constFirst();
    if (!formats.contains(request.format))
        return usage(command +
                     QStringLiteral(": unknown format '%1' (%2)")
                         .arg(shownArgument(request.format), formats.join(QStringLiteral(", "))));
    if (request.command == ScriptRequest::Command::Export && parser.isSet(options.output)) {
        request.output = parser.value(options.output);
        if (request.output.isEmpty())
            return usage(command + QStringLiteral(": --output needs a file name"));
    }
    return request;
}

} // namespace

std::variant<ScriptRequest, ScriptUsageError> parseScriptCommand(const QStringList& arguments)
{
    const QString command = arguments.value(1);
    const std::optional<ScriptRequest::Command> named = commandNamed(command);
    if (!named)
        return usage(QStringLiteral("unknown command '%1'").arg(shownArgument(command)));
    ScriptRequest request;
    request.command = *named;
    const ScriptOptions options;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    options.addTo(parser, request.command);

    QStringList rest = arguments;
    rest.removeAt(1);
    if (!parser.parse(rest))
        return usage(command + QStringLiteral(": ") + shownArgument(parser.errorText()));
    if (!parser.positionalArguments().isEmpty())
        return usage(command + QStringLiteral(": unexpected argument '%1'")
                                   .arg(shownArgument(parser.positionalArguments().constFirst())));
    if (request.command == ScriptRequest::Command::Cards)
        return request;

    if (!parser.isSet(options.card))
        return usage(command + QStringLiteral(": --card IDM is required"));
    request.idmText = parser.value(options.card);
    if (!isIdmText(request.idmText))
        return usage(command + QStringLiteral(": '%1' is not an IDm of 16 hexadecimal digits")
                                   .arg(shownArgument(request.idmText)));
    request.idmText = request.idmText.toUpper();
    if (request.command == ScriptRequest::Command::Note)
        return parseNoteOptions(request, parser, options.serial, options.purpose, options.claim);
    if (const std::optional<QString> problem = takeDateRange(request, parser, options))
        return usage(command + QStringLiteral(": ") + *problem);
    if (request.command == ScriptRequest::Command::Report)
        return takeReportOptions(std::move(request), parser, options, command);
    return takeFormatAndOutput(std::move(request), parser, options, command);
}

} // namespace ridelog
