// The command line's window port (status line and progress as one line on a
// terminal, plain lines otherwise) and Ctrl-C handling (acts as the stop
// command; a second Ctrl-C ends the process).
#pragma once

namespace kestrel::cli {

void installTerminalWindow();
void installInterruptHandler();
bool interrupted();
// Ends the progress line (newline) if one is showing.
void endProgressLine();

} // namespace kestrel::cli
