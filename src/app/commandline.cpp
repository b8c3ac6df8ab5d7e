#include "app/commandline.h"

#include "app/scriptcommands.h"
#include "card/readerfactory.h"
#include "names/nameexchange.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QUrl>

namespace ridelog {

namespace {

bool isValidServerUrl(const QString& text)
{
    if (isBuiltinNameSource(text))
        return true; // the built-in names alone
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
           !url.host().isEmpty();
}

} // namespace

bool isValidReaderOption(const QString& option)
{
    return card::isWellFormedReaderOption(option);
}

QString versionLine()
{
    return QStringLiteral("ridelog 1.2.0");
}

namespace {

// The options of the program itself, with their help texts.
struct ProgramOptions
{
    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Shows this help and ends.")};
    QCommandLineOption version{QStringLiteral("version"),
                               QStringLiteral("Shows the version and ends.")};
    QCommandLineOption reader{
        QStringLiteral("reader"),
        QStringLiteral("Card reader to use: auto, virtual:DIR (card files in DIR), libnfc, "
                       "pcsc[:NAME], rcs380 or replay:FILE (plays a reader trace back). "
                       "Default: auto."),
        QStringLiteral("reader"), QStringLiteral("auto")};
    QCommandLineOption nameServer{
        QStringLiteral("name-server"),
        QStringLiteral("Address of the station-name server, e.g. http://localhost:8080/trfc/, "
                       "or builtin for the built-in station names alone."),
        QStringLiteral("url")};
    QCommandLineOption readerTrace{
        QStringLiteral("reader-trace"),
        QStringLiteral("Writes every exchange with the card reader to FILE (it holds the card's "
                       "IDm and history)."),
        QStringLiteral("file")};
};

CommandLine failed(CommandLine result, const QString& error)
{
    result.action = CommandLine::Action::Fail;
    result.error = error;
    return result;
}

// The reader and the name server of a run; what is wrong with them ends the program.
CommandLine takeRunOptions(CommandLine result, const QCommandLineParser& parser,
                           const ProgramOptions& options)
{
    result.options.readerOption = parser.value(options.reader);
    result.options.readerTrace = parser.value(options.readerTrace);
    if (!isValidReaderOption(result.options.readerOption))
        return failed(
            result,
            QStringLiteral("Unknown reader '%1'.").arg(shownArgument(result.options.readerOption)));
    if (parser.isSet(options.nameServer)) {
        result.options.nameServer = parser.value(options.nameServer);
        if (!isValidServerUrl(result.options.nameServer))
            return failed(result, QStringLiteral("Not an http address: '%1'.")
                                      .arg(shownArgument(result.options.nameServer)));
    }
    return result;
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads the history of a transit IC card and keeps it."));
    const ProgramOptions options;
    parser.addOptions(
        {options.help, options.version, options.reader, options.nameServer, options.readerTrace});

    CommandLine result;
    result.helpText =
        parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("ridelog"));
    if (!parser.parse(arguments))
        return failed(result, shownArgument(parser.errorText()));
    if (!parser.positionalArguments().isEmpty())
        return failed(result, QStringLiteral("Unexpected argument '%1'.")
                                  .arg(shownArgument(parser.positionalArguments().constFirst())));
    if (parser.isSet(options.help)) {
        result.action = CommandLine::Action::ShowHelp;
        return result;
    }
    if (parser.isSet(options.version)) {
        result.action = CommandLine::Action::ShowVersion;
        return result;
    }
    return takeRunOptions(std::move(result), parser, options);
}

} // namespace ridelog
