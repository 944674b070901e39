#include "cli/cli.h"

#include "engine/settings/settings.h"
#include "engine/catalogue/media_list.h"
#include "engine/decode/lib_mxscan.h"
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
         "Ctrl-C stops and keeps every frame copied so far.\n",
         cmdFast},
        {"convert", "convert the sound of media files",
         "usage: kestrel-cli convert [-t TYPE] [--join] [--mode realtime|double|silent] [-o DIR]\n"
         "         [-b KBPS | --vbr Q [--min K --max K] | --abr KBPS] [-r RATE]\n"
         "         [--mono mix|left|right] FILE...\n"
         "Converts the files' sound to TYPE (mp3 wav; exe wma aac adts m4a amr flv avi\n"
         "are not yet available), one output per file or all joined (--join), silently\n"
         "as fast as possible (default) or with sound in real time or at double speed.\n"
         "Options override the settings for this run only; -r also picks the MPEG\n"
         "version that has that rate. Prints every output produced with its seconds.\n"
         "Ctrl-C finishes the current output properly and skips the rest (status 130).\n",
         cmdConvert},
        {"play", "play a media file",
         "usage: kestrel-cli play [--seconds N] [--seek S] FILE\n"
         "Plays the file's sound as a conversion would produce it. On a terminal, space\n"
         "or p pauses and resumes, q stops. --seconds stops after N seconds, --seek\n"
         "starts at second S.\n",
         cmdPlay},
    };
    return list;
}

const Command* findCommand(const char* name) {
    for (const auto& c : commands())
        if (std::string(c.name) == name) return &c;
    return &commands()[0];
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
    std::puts("\nExit status: 0 success, 1 wrong usage, 2 an operation was refused,\n"
              "130 stopped by Ctrl-C.");
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
    for (const auto& c : commands()) {
        if (name == c.name) {
            if (wantsHelp(rest)) {
                printHelp(c);
                return kOk;
            }
            return c.run(rest);
        }
    }
    std::fprintf(stderr, "kestrel-cli: unknown command '%s' (see 'kestrel-cli --help')\n",
                 name.c_str());
    return kUsage;
}
