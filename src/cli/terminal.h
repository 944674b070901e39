// The command line's window port and Ctrl-C handling.
//
// Status texts are whole lines on stderr; the progress of a conversion is one
// line of our own (entry n/m, file name, percent, position/length, speed and
// time left), fitted to the terminal's width and redrawn in place. Without a
// terminal there is no progress unless plain progress lines were asked for.
// Ctrl-C and SIGTERM act as the stop command; a second one ends the process.
//
// Messages: every line on stderr names the program ("kestrel-cli: "); the
// engine's message boxes print as "kestrel-cli: TEXT", and as
// "kestrel-cli: TEXT: REASON" after a failed system call (the system's reason
// in English). Their captions are the window's and stay out.
//
// Encoding: the program's texts are UTF-8. When the locale's character set
// (LC_ALL / LC_CTYPE / LANG) is another one, e.g. GB18030 or ISO-8859-1,
// what goes to stdout and stderr is converted to it, characters it lacks
// becoming "?"; bytes that are no UTF-8 (a file name in the terminal's own
// encoding) pass unchanged. Machine output (JSON, the list of outputs) is
// written as it is. In the C locale (ASCII) and in UTF-8 locales nothing is
// converted.
#pragma once

#include <functional>
#include <string>

namespace kestrel::cli {

// What the progress line shows.
struct ProgressInfo {
    int entry = 1;   // the entry being converted, from 1
    int entries = 1; // entries in all
    std::string name;
    double position = 0;      // seconds of the whole run done
    double length = 0;        // seconds of the whole run (0: unknown)
    double elapsed = 0;       // seconds of wall-clock time since the start
    bool percentOnly = false; // position and length are no times (a WMA encoding)
    // Several entries at once: `entry` counts those finished ("[3/8 done]")
    // and `name` holds the ones being converted.
    bool countsDone = false;
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
// The message port that prints the engine's message boxes on stderr.
void installTerminalMessages();

// Reads the locale's character set and, when it is neither UTF-8 nor ASCII,
// routes stdout and stderr through the conversion to it. Call once, first.
void setupTerminalEncoding();
// The character set texts are converted to; empty when none.
const std::string& terminalCharset();
// `text` (UTF-8) in `charset`: characters it lacks become "?", bytes that are
// no UTF-8 pass unchanged. An empty or unknown charset gives `text`.
std::string convertText(const std::string& text, const std::string& charset);

// While one lives, stdout is written unconverted: JSON (which is UTF-8) and
// the listing of output files (paths are bytes).
class MachineOutput {
  public:
    MachineOutput();
    ~MachineOutput();
    MachineOutput(const MachineOutput&) = delete;
    MachineOutput& operator=(const MachineOutput&) = delete;
};
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
// The text of the last message shown since the last call (empty: none).
std::string takeLastMessage();
// Prints a whole line on stderr, below a progress line that is showing.
void printStatusLine(const std::string& text);
// Shows `p` as the progress line (or a plain line when asked for).
void showProgress(const ProgressInfo& p);
// Seconds since the terminal window was installed.
double elapsedSeconds();

} // namespace kestrel::cli
