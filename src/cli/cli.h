// kestrel-cli: the engine driven from the command line.
//
// Exit status: 0 success, 1 wrong usage, 2 an operation was refused or did not
// give its result (its message was printed as "caption: text" on stderr; a
// conversion entry without output, without sound or with an incomplete
// output, an output that exists and was not replaced), 130 stopped by Ctrl-C,
// 143 by SIGTERM.
#pragma once

#include <string>
#include <vector>

namespace kestrel::cli {

inline constexpr int kOk = 0;
inline constexpr int kUsage = 1;
inline constexpr int kRefused = 2;
inline constexpr int kInterrupted = 130;

// Options of every command, given before or after the command's name.
struct GlobalOptions {
    bool quiet = false;   // -q: no status texts, no progress
    bool verbose = false; // -v: the decoding libraries' own log lines too
};
extern GlobalOptions globalOptions;

using Args = std::vector<std::string>;

struct Command {
    const char* name;
    const char* summary;
    const char* usage; // full help text
    int (*run)(const Args& args);
};

const std::vector<Command>& commands();
// The command of that exact name; null when there is none.
const Command* findCommand(const char* name);

// Prints "kestrel-cli: <text>" and the command's usage hint; returns kUsage.
int usageError(const Command& cmd, const std::string& text);
bool wantsHelp(const Args& args);
void printHelp(const Command& cmd);

// Starts the program as the window does: the settings are loaded (writing back
// defaults); the media list is loaded when `withList` is set.
void startEngine(bool withList, bool withProbe = true);

// A JSON string of `s`; bytes that are not UTF-8 are written as the
// characters U+0080..U+00FF of the same values (\u00XX), so the output is
// valid UTF-8 whatever the file name holds.
std::string jsonString(const std::string& s);
// A JSON number with `decimals` places (-1: as short as exact), or null for
// a value that is not finite.
std::string jsonNumber(double v, int decimals);

// The current folder (outputs go there without -o); "." when it is unknown.
std::string currentFolder();
// `folder` with a trailing "/".
std::string folderPath(const std::string& folder);

struct Record; // records.h

// Commands.
int cmdSettings(const Args& args);
int cmdList(const Args& args);
int cmdListAdd(const Args& args);
int cmdInfo(const Args& args);
int cmdFast(const Args& args);
int cmdConvert(const Args& args);
int cmdPlay(const Args& args);
int cmdFormats(const Args& args);
int cmdExtract(const Args& args);
// Prints what a self-playing EXE made by this program holds (for info); false
// when `path` is no such file. A damaged EXE sets `rc` to kRefused.
bool showExeInfo(const std::string& path, bool json, std::vector<Record>& records, int& rc);

} // namespace kestrel::cli
