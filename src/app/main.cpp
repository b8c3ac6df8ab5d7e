#include "app/commandline.h"
#include "app/historycommands.h"
#include "app/ridelogapp.h"
#include "app/scriptcommands.h"
#include "app/terminationsignals.h"
#include "app/translations.h"
#include "ui/ridelogdlg.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QLocale>
#include <QTextStream>
#include <cstdio>

namespace {

QStringList argumentsOf(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

} // namespace

int main(int argc, char* argv[])
{
    // The command line is read before the window system is touched, so --help works anywhere.
    const QStringList arguments = argumentsOf(argc, argv);
    if (ridelog::isHistoryCommand(arguments)) {
        QCoreApplication app(argc, argv);
        return ridelog::runHistoryCommand(arguments);
    }
    if (ridelog::isScriptCommand(arguments)) {
        // No window, no reader, no single-instance guard: the stored history read-only.
        if (!ridelog::scriptCommandPaints(arguments)) {
            QCoreApplication app(argc, argv);
            return ridelog::runScriptCommand(arguments);
        }
        // The claim form needs fonts, never a display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        ridelog::Translations translations;
        translations.install(ridelog::uiLanguageFor(QLocale::system().uiLanguages()));
        return ridelog::runScriptCommand(arguments);
    }
    const ridelog::CommandLine commandLine = ridelog::parseCommandLine(arguments);
    switch (commandLine.action) {
    case ridelog::CommandLine::Action::ShowHelp:
        QTextStream(stdout) << commandLine.helpText << '\n'
                            << ridelog::scriptCommandsHelp() << '\n'
                            << ridelog::historyCommandsHelp();
        return 0;
    case ridelog::CommandLine::Action::ShowVersion:
        QTextStream(stdout) << ridelog::versionLine() << '\n';
        return 0;
    case ridelog::CommandLine::Action::Fail:
        QTextStream(stderr) << commandLine.error << "\n\n" << commandLine.helpText;
        return 2;
    case ridelog::CommandLine::Action::Run:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ridelog"));
    QApplication::setApplicationVersion(QStringLiteral("1.2.0"));
    // Japanese under a Japanese locale, English under any other.
    ridelog::Translations translations;
    translations.install(ridelog::uiLanguageFor(QLocale::system().uiLanguages()));
    QApplication::setApplicationDisplayName(ridelog::CRidelogDlg::titleText());
    QApplication::setDesktopFileName(QStringLiteral("ridelog"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/ridelog/ridelog.png")));

    ridelog::closeWindowsOnTerminationSignals();
    ridelog::CRidelogApp ridelog(commandLine.options);
    return ridelog.InitInstance();
}
