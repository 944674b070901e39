// The command line's window port (status line and progress as one line on a
// terminal, plain lines otherwise) and Ctrl-C handling (acts as the stop
// command; a second Ctrl-C ends the process).
#pragma once

#include <string>

namespace kestrel::cli {

void installTerminalWindow();
void installInterruptHandler();
bool interrupted();
// True for the per-second status texts (they end like "[12/300]秒").
bool isProgressText(const std::string& text);
// The signal that stopped the run (SIGINT or SIGTERM); 0 when none came.
int interruptSignal();
// Ends the progress line (newline) if one is showing.
void endProgressLine();
// Prints a whole line on stderr, below a progress line that is showing.
void printStatusLine(const std::string& text);
// Draws `text` as the one progress line on a terminal; nothing otherwise.
void showProgressLine(const std::string& text);

} // namespace kestrel::cli
