// The command line for scripts: "ridelog cards", "ridelog export", "ridelog totals" and
// "ridelog report" read the stored history of the window's database read-only, so they work
// while the window runs; "ridelog note" writes one note in one transaction, waiting for a
// window that is storing a read. None needs a display or a card reader.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
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
        Note,
        Report,
    };

    Command command = Command::Cards;
    QString idmText; // upper-case
    QDate from;      // invalid: open
    QDate to;
    QString format; // export: csv, json, list-csv, list-txt; totals: text, csv, json
    QString output; // export: the file; empty: standard output; report: the PDF
    // note
    std::uint32_t serial = 0;
    std::optional<QString> purpose;
    std::optional<bool> claimed;
    // report
    bool claimedOnly = false;
    QString claimant;
    QString department;
};

struct ScriptUsageError
{
    QString message; // one line, without the program name
};

// Exit statuses of the script commands.
enum ScriptStatus : int
{
    ScriptSucceeded = 0,
    ScriptFailed = 1, // unknown card or entry, database or file failure
    ScriptUsage = 2,  // the command line itself is wrong
};

// Whether arguments[1] names a script command; arguments[0] is the program.
bool isScriptCommand(const QStringList& arguments);
// Whether the command paints (the claim form): it needs QtGui's fonts, not a display.
bool scriptCommandPaints(const QStringList& arguments);

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
