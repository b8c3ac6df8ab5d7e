// The command line for the history file as a whole: "ridelog backup", "ridelog restore FILE",
// "ridelog merge FILE" and "ridelog import FILE...". They need no display and no card reader, and
// are safe while the window runs: what they write waits for the window's write lock.
#pragma once

#include <QString>
#include <QStringList>

class QIODevice;

namespace ridelog {

// Whether arguments[1] names one of these commands; arguments[0] is the program.
bool isHistoryCommand(const QStringList& arguments);

QString historyCommandsHelp();

// Runs the command on the database in the user's data folder; returns the exit status (0 done,
// 1 failed, 2 wrong command line). in answers the restore's question when --yes is not given.
int runHistoryCommand(const QStringList& arguments, QIODevice& in, QIODevice& out, QIODevice& err);
int runHistoryCommand(const QStringList& arguments);

} // namespace ridelog
