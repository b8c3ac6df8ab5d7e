// The command line for scripts: "ridelog cards", "ridelog export" and "ridelog totals". They read
// the stored history of the window's database read-only, so they work while the window runs,
// and need neither a display nor a card reader.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <variant>

class QIODevice;

namespace ridelog {

struct ScriptRequest
{
    enum class Command
    {
        Cards,
        Export,
        Totals,
    };

    Command command = Command::Cards;
    QString idmText; // upper-case
    QDate from;      // invalid: open
    QDate to;
    QString format; // export: csv, json, list-csv, list-txt; totals: text, csv, json
    QString output; // export: the file; empty: standard output
};

struct ScriptUsageError
{
    QString message; // one line, without the program name
};

// Exit statuses of the script commands.
enum ScriptStatus : int
{
    ScriptSucceeded = 0,
    ScriptFailed = 1, // unknown card, database or file failure
    ScriptUsage = 2,  // the command line itself is wrong
};

// Whether arguments[1] names a script command; arguments[0] is the program.
bool isScriptCommand(const QStringList& arguments);

std::variant<ScriptRequest, ScriptUsageError> parseScriptCommand(const QStringList& arguments);

// An argument as messages show it: a long one is cut, with its length.
QString shownArgument(const QString& argument);

// The part of "ridelog --help" that documents the script commands.
QString scriptCommandsHelp();

// Runs a script command on the database in the user's data folder; returns the exit status.
// Results go to out, the one-line messages to err ("ridelog: ...").
int runScriptCommand(const QStringList& arguments, QIODevice& out, QIODevice& err);
// The same on the process's standard output and standard error.
int runScriptCommand(const QStringList& arguments);

} // namespace ridelog
