// The command line: which reader to use and where the station-name server is.
#pragma once

#include <QString>
#include <QStringList>

namespace ridelog {

struct AppOptions
{
    QString readerOption = QStringLiteral("auto"); // auto, virtual:DIR, libnfc, pcsc[:NAME], rcs380
    QString nameServer;                            // empty: the names layer's default server
    QString readerTrace;                           // empty: no trace of the reader's exchanges
};

struct CommandLine
{
    enum class Action
    {
        Run,
        ShowHelp,
        ShowVersion,
        Fail
    };

    Action action = Action::Run;
    AppOptions options;
    QString error;    // what was wrong, for Action::Fail
    QString helpText; // the usage, for ShowHelp and Fail
};

// arguments[0] is the program name, as in argv.
CommandLine parseCommandLine(const QStringList& arguments);

bool isValidReaderOption(const QString& option);

QString versionLine();

} // namespace ridelog
