// The command line's window port and Ctrl-C handling.
//
// Status texts are whole lines on stderr; the progress of a conversion is one
// line of our own (entry n/m, file name, percent, position/length, speed and
// time left), fitted to the terminal's width and redrawn in place. Without a
// terminal there is no progress unless plain progress lines were asked for.
// Ctrl-C and SIGTERM act as the stop command; a second one ends the process.
#pragma once

#include <functional>
#include <string>

namespace kestrel::cli {

// What the progress line shows.
struct ProgressInfo {
    int entry = 1;   // the entry being converted, from 1
    int entries = 1; // entries in all
    std::string name;
    double position = 0; // seconds of the whole run done
    double length = 0;   // seconds of the whole run (0: unknown)
    double elapsed = 0;  // seconds of wall-clock time since the start
};

// The progress line of `p` in at most `width` terminal columns: fields are
// shortened and then dropped (time left, speed, position) until it fits.
std::string formatProgressLine(const ProgressInfo& p, int width);
// The columns `s` (UTF-8) takes on a terminal: East Asian wide characters two.
int displayWidth(const std::string& s);
// The width of the terminal on stderr (COLUMNS, then 80, when it is none).
int terminalWidth();

struct TerminalOptions {
    bool quiet = false;         // -q: no status texts, no progress
    bool plainProgress = false; // --progress: progress lines without a terminal
};

void installTerminalWindow(const TerminalOptions& options = {});
// Makes the progress line from an entry's position; by default entry 1/1
// named after the current source.
void setProgressSource(std::function<ProgressInfo(int second, int length)> source);
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
// Shows `p` as the progress line (or a plain line when asked for).
void showProgress(const ProgressInfo& p);
// Seconds since the terminal window was installed.
double elapsedSeconds();

} // namespace kestrel::cli
