// Ctrl+C in the terminal, a logout or `kill` close the windows the ordinary way, so the main
// window still saves its state and writes the names it learnt back.
#pragma once

namespace ridelog {

// From now on SIGINT, SIGTERM and SIGHUP close every top-level window through the event loop
// of the calling (user-interface) thread, with message boxes turned into log lines, as they
// are at the end of the session. Returns false when the handlers could not be set.
bool closeWindowsOnTerminationSignals();

// What a termination signal does: every open box and dialog is ended, message boxes turn into
// log lines, and every top-level window closes.
void closeEveryWindow();

} // namespace ridelog
