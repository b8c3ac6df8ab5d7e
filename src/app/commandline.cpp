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

bool isValidReaderSpec(const QString& spec)
{
    return card::isWellFormedReaderOption(spec);
}

QString versionLine()
{
    return QStringLiteral("ridelog 1.2.0");
}

CommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads the history of a transit IC card and keeps it."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and ends."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Shows the version and ends."));
    const QCommandLineOption reader(
        QStringLiteral("reader"),
        QStringLiteral("Card reader to use: auto, virtual:DIR (card files in DIR), libnfc, "
                       "pcsc[:NAME], rcs380 or replay:FILE (plays a reader trace back). "
                       "Default: auto."),
        QStringLiteral("reader"), QStringLiteral("auto"));
    const QCommandLineOption nameServer(
        QStringLiteral("name-server"),
        QStringLiteral("Address of the station-name server, e.g. http://localhost:8080/trfc/, "
                       "or builtin for the built-in station names alone."),
        QStringLiteral("url"));
    const QCommandLineOption readerTrace(
        QStringLiteral("reader-trace"),
        QStringLiteral("Writes every exchange with the card reader to FILE (it holds the card's "
                       "IDm and history)."),
        QStringLiteral("file"));
    parser.addOptions({help, version, reader, nameServer, readerTrace});

    CommandLine result;
    result.helpText =
        parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("ridelog"));
    if (!parser.parse(arguments)) {
        result.action = CommandLine::Action::Fail;
        result.error = shownArgument(parser.errorText());
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.action = CommandLine::Action::Fail;
        result.error = QStringLiteral("Unexpected argument '%1'.")
                           .arg(shownArgument(parser.positionalArguments().constFirst()));
        return result;
    }
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::ShowHelp;
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::ShowVersion;
        return result;
    }
    result.options.readerSpec = parser.value(reader);
    result.options.readerTrace = parser.value(readerTrace);
    if (!isValidReaderSpec(result.options.readerSpec)) {
        result.action = CommandLine::Action::Fail;
        result.error =
            QStringLiteral("Unknown reader '%1'.").arg(shownArgument(result.options.readerSpec));
        return result;
    }
    if (parser.isSet(nameServer)) {
        result.options.nameServer = parser.value(nameServer);
        if (!isValidServerUrl(result.options.nameServer)) {
            result.action = CommandLine::Action::Fail;
            result.error = QStringLiteral("Not an http address: '%1'.")
                               .arg(shownArgument(result.options.nameServer));
            return result;
        }
    }
    return result;
}

} // namespace ridelog
