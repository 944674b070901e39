#include "cli/cli.h"

#include "engine/settings/settings.h"
#include "engine/catalogue/media_list.h"
#include "engine/libraries/lib_mxscan.h"
#include "platform/paths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrel::cli {

const std::vector<Command>& commands() {
    static const std::vector<Command> list = {
        {"settings", "print every setting as loaded at start-up",
         "usage: kestrel-cli [--home DIR] settings\n"
         "Loads tavolin.ini as the program does at start-up (writing back the default of\n"
         "every missing or invalid key) and prints each setting as KEY=VALUE in load\n"
         "order, then the derived output format.\n",
         cmdSettings},
        {"list", "show or edit the media list (mpginfo.dat)",
         "usage: kestrel-cli [--home DIR] list [--json]\n"
         "       kestrel-cli [--home DIR] list delete SERIAL...\n"
         "       kestrel-cli [--home DIR] list save\n"
         "Loads mpginfo.dat as at start-up and prints the eight column texts of every row\n"
         "(序号 文件名称 大小 类型 时间 采样率 通道 其它), tab-separated, or as JSON.\n"
         "'delete' removes the rows with those serial numbers and saves the list;\n"
         "'save' writes the list back (dropping records whose files are gone).\n",
         cmdList},
        {"info", "analyse media files and print what was found",
         "usage: kestrel-cli info [--json] FILE...\n"
         "Runs the media analysis on each file and prints the facts of its record\n"
         "(typeName, kind, sampleRate, channels, durationSec, fileSize, bitRate,\n"
         "bitsPerSample, formatDetail, streamDetail, startInfo). A refused file prints\n"
         "the analysis message; the command then exits with status 2.\n",
         cmdInfo},
        {"fast", "copy the MPEG audio of a file into an .mp3 without re-encoding",
         "usage: kestrel-cli fast [-o DIR] FILE\n"
         "Copies every MPEG audio frame of an MPEG program or transport stream, or of an\n"
         "MPEG audio file, unchanged into DIR/<name>.mp3 (DIR: the save path setting).\n"
         "Ctrl-C stops and keeps every frame copied so far. Prints PATH<TAB>N frames<TAB>\n"
         "M bytes. Exit status 2 when the file gave no MPEG audio frame (no sound).\n",
         cmdFast},
        {"convert", "convert the sound of media files",
         "usage: kestrel-cli convert [-t TYPE] [--join] [--mode realtime|double|silent] [-o DIR]\n"
         "         [-b KBPS | --vbr Q [--min K --max K] | --abr KBPS] [-r RATE]\n"
         "         [--mono mix|left|right] [-j N] FILE...\n"
         "Converts the files' sound to TYPE (mp3 wav; exe wma aac adts m4a amr flv avi\n"
         "are not yet available), one output per file or all joined (--join), silently\n"
         "as fast as possible (default) or with sound in real time or at double speed.\n"
         "Options override the settings for this run only; -r also picks the MPEG\n"
         "version that has that rate.\n"
         "-j N converts N files at once, each in a process of its own (default: the\n"
         "number of processors); the outputs are the same as with -j 1, which converts\n"
         "one file after the other in this process. A joined output is one job.\n"
         "An output never replaces an existing file: a name that is taken gets _2, _3 ...\n"
         "A write that fails (disk full) stops that file's conversion; its output keeps\n"
         "what was written, finished so that it plays.\n"
         "\n"
         "Prints one line per output file on stdout: PATH<TAB>SECONDS, followed by\n"
         "<TAB>incomplete when a write or its finishing failed (it holds only part of\n"
         "the sound) or <TAB>no-sound when it holds no sound. Every file whose sound was\n"
         "not converted is named on stderr (no output, no sound, incomplete, not\n"
         "converted).\n"
         "\n"
         "Exit status: 0 every file converted; 1 wrong usage; 2 a file was refused or\n"
         "gave no output, no sound or an incomplete output; 130 stopped by Ctrl-C, 143\n"
         "by SIGTERM (the current outputs are finished properly, the rest skipped).\n",
         cmdConvert},
        {"play", "play a media file",
         "usage: kestrel-cli play [--seconds N] [--seek S] FILE\n"
         "Plays the file's sound as a conversion would produce it. On a terminal, space\n"
         "or p pauses and resumes, q stops. --seconds stops after N seconds, --seek\n"
         "starts at second S. Exit status 2 when nothing can be heard (no sound device,\n"
         "or the rate and channels cannot be changed), with the reason on stderr.\n",
         cmdPlay},
    };
    return list;
}

const Command* findCommand(const char* name) {
    for (const auto& c : commands())
        if (std::string(c.name) == name) return &c;
    return nullptr;
}

int usageError(const Command& cmd, const std::string& text) {
    std::fprintf(stderr, "kestrel-cli %s: %s\n(see 'kestrel-cli %s --help')\n", cmd.name,
                 text.c_str(), cmd.name);
    return kUsage;
}

bool wantsHelp(const Args& args) {
    for (const auto& a : args)
        if (a == "--help" || a == "-h") return true;
    return false;
}

void printHelp(const Command& cmd) {
    std::fputs(cmd.usage, stdout);
}

void startEngine(bool withList, bool withProbe) {
    // What runs of this host that were killed left in the program folder.
    removeStaleTempFiles();
    loadSettings();
    // The stream probe is loaded once for the whole run, as at start-up.
    if (withProbe && !mxscan_loaded() && load_mxscan() < 0) std::exit(kRefused);
    derive_output_format();
    if (withList) loadMediaList();
}

std::string jsonString(const std::string& s) {
    std::string o = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            o += "\\\"";
            break;
        case '\\':
            o += "\\\\";
            break;
        case '\n':
            o += "\\n";
            break;
        case '\r':
            o += "\\r";
            break;
        case '\t':
            o += "\\t";
            break;
        default:
            if (c < 0x20) {
                char b[8];
                std::snprintf(b, sizeof b, "\\u%04x", c);
                o += b;
            } else {
                o += static_cast<char>(c);
            }
        }
    }
    return o + "\"";
}

namespace {

void printToolHelp() {
    std::puts("usage: kestrel-cli [--home DIR] COMMAND [ARGS...]\n"
              "\n"
              "岚石多媒体MP3转换器: converts the sound of multimedia files to audio files.\n"
              "\n"
              "Options:\n"
              "  --home DIR   keep tavolin.ini, mpginfo.dat and tmp/ in DIR\n"
              "               (default: $KESTREL_HOME, the program's folder when writable,\n"
              "               else $XDG_DATA_HOME/kestrel)\n"
              "  -h, --help   show this help; 'kestrel-cli COMMAND --help' for a command\n"
              "\n"
              "Commands:");
    for (const auto& c : commands())
        std::printf("  %-10s %s\n", c.name, c.summary);
    std::puts("\nExit status: 0 success; 1 wrong usage (an unknown command or option);\n"
              "2 an operation was refused or failed: a file refused, a conversion entry\n"
              "without output, without sound or with an incomplete output, playback without\n"
              "a sound device; 130 stopped by Ctrl-C.");
}

} // namespace

} // namespace kestrel::cli

int main(int argc, char** argv) {
    using namespace kestrel::cli;
    Args args(argv + 1, argv + argc);
    size_t i = 0;
    while (i < args.size() && args[i].rfind("-", 0) == 0) {
        if (args[i] == "--help" || args[i] == "-h") {
            printToolHelp();
            return kOk;
        }
        if (args[i] == "--home") {
            if (i + 1 >= args.size()) {
                std::fputs("kestrel-cli: --home needs a folder\n", stderr);
                return kUsage;
            }
            kestrel::setProgramFolder(args[i + 1]);
            i += 2;
            continue;
        }
        if (args[i].rfind("--home=", 0) == 0) {
            kestrel::setProgramFolder(args[i].substr(7));
            ++i;
            continue;
        }
        std::fprintf(stderr, "kestrel-cli: unknown option %s (see 'kestrel-cli --help')\n",
                     args[i].c_str());
        return kUsage;
    }
    if (i >= args.size()) {
        printToolHelp();
        return kUsage;
    }
    const std::string name = args[i];
    Args rest(args.begin() + static_cast<long>(i) + 1, args.end());
    const Command* c = findCommand(name.c_str());
    if (!c) {
        std::fprintf(stderr, "kestrel-cli: unknown command '%s'; the commands are:\n",
                     name.c_str());
        for (const auto& k : commands())
            std::fprintf(stderr, "  %-10s %s\n", k.name, k.summary);
        return kUsage;
    }
    if (wantsHelp(rest)) {
        printHelp(*c);
        return kOk;
    }
    return c->run(rest);
}
