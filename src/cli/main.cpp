#include "cli/cli.h"
#include "cli/texts.h"

#include "engine/settings/settings.h"
#include "engine/catalogue/media_list.h"
#include "engine/libraries/lib_mxscan.h"
#include "platform/paths.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrel::cli {

const std::vector<Command>& commands() {
    static const std::vector<Command> list = {
        {"settings",
         cliText("show or change the settings (tavolin.ini)", "显示或修改设置（tavolin.ini）"),
         cliText("usage: kestrel-cli [--home DIR] settings\n"
                 "       kestrel-cli [--home DIR] settings get KEY...\n"
                 "       kestrel-cli [--home DIR] settings set KEY VALUE\n"
                 "       kestrel-cli [--home DIR] settings path\n"
                 "Loads tavolin.ini as the program does at start-up (writing back the default of\n"
                 "every missing or invalid key) and prints each setting as KEY=VALUE in load\n"
                 "order, with the value's meaning in brackets (转换文件类型=1 (exe)), then the\n"
                 "derived output format.\n"
                 "KEY is the key of tavolin.ini (转换文件类型) or its English alias\n"
                 "(output_type). 'get' prints the settings named. 'set' checks VALUE as loading\n"
                 "does and writes it into the file; VALUE is a number as the file holds it or\n"
                 "the name of its meaning (mp3, exe, wav ...; mix, left, right; cbr, vbr, abr).\n"
                 "A value out of range or not in the key's list is refused with what is allowed\n"
                 "(exit status 2); an unknown key is wrong usage (1). A setting that the new\n"
                 "value makes invalid (a bit rate the new MPEG version lacks) is changed as\n"
                 "loading would; every setting changed is printed.\n"
                 "'path' prints where the settings file is.\n",
                 "用法: kestrel-cli [--home 目录] settings\n"
                 "      kestrel-cli [--home 目录] settings get 键...\n"
                 "      kestrel-cli [--home 目录] settings set 键 值\n"
                 "      kestrel-cli [--home 目录] settings path\n"
                 "按程序启动时的方式载入 tavolin.ini（缺少或无效的键写回默认值），按载入顺序\n"
                 "以 键=值 打印每个设置，括号内是值的含义（转换文件类型=1 (exe)），最后是导出\n"
                 "的输出格式。\n"
                 "键是 tavolin.ini 中的键（转换文件类型）或其英文别名（output_type）。\n"
                 "'get' 打印指定的设置。'set' 按载入规则检查值并写入文件；值是文件中的数字\n"
                 "或其含义的名称（mp3、exe、wav ...；mix、left、right；cbr、vbr、abr）。\n"
                 "超出范围或不在列表中的值被拒绝，并说明允许的值（退出状态 2）；未知的键是\n"
                 "用法错误（1）。因新值而失效的设置（新MPEG版本没有的码率）按载入规则更改；\n"
                 "打印每个被更改的设置。\n"
                 "'path' 打印设置文件的位置。\n"),
         cmdSettings},
        {"list",
         cliText("show or edit the window's media list (mpginfo.dat)",
                 "显示或编辑窗口的多媒体文件列表（mpginfo.dat）"),
         cliText("usage: kestrel-cli [--home DIR] list [--json]\n"
                 "       kestrel-cli [--home DIR] list add FILE...\n"
                 "       kestrel-cli [--home DIR] list delete SERIAL...\n"
                 "       kestrel-cli [--home DIR] list save\n"
                 "The media list is the list of files the window shows and converts; it is kept\n"
                 "in mpginfo.dat beside tavolin.ini. 'list' loads it as at start-up and prints\n"
                 "the eight column texts of every row (序号 文件名称 大小 类型 时间 采样率 通道\n"
                 "其它), tab-separated with a header line on a terminal, or as JSON (--json).\n"
                 "'add' analyses the files and appends them (under their absolute paths);\n"
                 "'delete' removes the rows with those serial numbers; both save the list.\n"
                 "'save' writes the list back (dropping records whose files are gone).\n",
                 "用法: kestrel-cli [--home 目录] list [--json]\n"
                 "      kestrel-cli [--home 目录] list add 文件...\n"
                 "      kestrel-cli [--home 目录] list delete 序号...\n"
                 "      kestrel-cli [--home 目录] list save\n"
                 "多媒体文件列表是窗口显示和转换的文件列表，保存在 tavolin.ini 旁边的\n"
                 "mpginfo.dat 中。'list' 按启动时的方式载入列表，打印每行的八列文字（序号\n"
                 "文件名称 大小 类型 时间 采样率 通道 其它），以制表符分隔（在终端上带标题行），\n"
                 "或以 JSON 打印（--json）。\n"
                 "'add' 分析文件并加入列表（使用绝对路径）；'delete' 删除指定序号的行；两者都\n"
                 "保存列表。'save' 写回列表（去掉文件已不存在的记录）。\n"),
         cmdList},
        {"info",
         cliText("analyse media files and print what was found", "分析多媒体文件并打印结果"),
         cliText("usage: kestrel-cli info [--json] FILE...\n"
                 "Runs the media analysis on each file and prints what it found: the container,\n"
                 "codec, sample rate, channels, bit rate (kbit/s), duration in seconds (from the\n"
                 "frame count for MPEG audio, else the container's own) and the kind, then the\n"
                 "facts of its record (typeName, kind, sampleRate, channels, durationSec,\n"
                 "fileSize, bitRate, bitsPerSample, formatDetail, streamDetail, startInfo).\n"
                 "--json prints an array of objects with typed numbers and the field names of\n"
                 "'list --json' (path, size, type, rate, channels, kind) and the others above.\n"
                 "A refused file prints the analysis message; the command then exits with\n"
                 "status 2.\n",
                 "用法: kestrel-cli info [--json] 文件...\n"
                 "对每个文件进行多媒体分析并打印结果：容器、编码、采样率、通道数、码率\n"
                 "（kbit/s）、时长（秒；MPEG音频按帧数计算，否则取容器自身的时长）和类别，\n"
                 "然后是记录的各项（typeName、kind、sampleRate、channels、durationSec、\n"
                 "fileSize、bitRate、bitsPerSample、formatDetail、streamDetail、startInfo）。\n"
                 "--json 打印对象数组，数字带类型，字段名与 'list --json' 相同（path、size、\n"
                 "type、rate、channels、kind）并含上述其他字段。\n"
                 "被拒绝的文件打印分析消息，命令以状态 2 退出。\n"),
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

namespace {

// The length of the UTF-8 sequence at `p` (`n` bytes available), or 0 when
// it is not one (overlong forms, surrogates and values above U+10FFFF are not).
size_t utf8Length(const unsigned char* p, size_t n) {
    unsigned c = p[0];
    size_t len = c < 0x80             ? 1
                 : (c & 0xE0) == 0xC0 ? 2
                 : (c & 0xF0) == 0xE0 ? 3
                 : (c & 0xF8) == 0xF0 ? 4
                                      : 0;
    if (len == 0 || len > n) return 0;
    unsigned v = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        v = (v << 6) | (p[i] & 0x3F);
    }
    static const unsigned least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < least[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    return len;
}

} // namespace

std::string jsonString(const std::string& s) {
    std::string o = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = p[i];
        size_t len = utf8Length(p + i, s.size() - i);
        if (len > 1) {
            o.append(s, i, len);
            i += len;
            continue;
        }
        ++i;
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
            if (c < 0x20 || c == 0x7F || len == 0) {
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

std::string jsonNumber(double v, int decimals) {
    if (!std::isfinite(v)) return "null";
    char b[64];
    if (decimals < 0)
        std::snprintf(b, sizeof b, "%.17g", v);
    else
        std::snprintf(b, sizeof b, "%.*f", decimals, v);
    return b;
}

namespace {

void printToolHelp() {
    std::fputs(
        cliText("usage: kestrel-cli [--home DIR] COMMAND [ARGS...]\n"
                "\n"
                "岚石多媒体MP3转换器: converts the sound of multimedia files to audio files.\n"
                "\n"
                "Options:\n"
                "  --home DIR   keep tavolin.ini, mpginfo.dat and tmp/ in DIR\n"
                "               (default: $KESTREL_HOME, the program's folder when writable,\n"
                "               else $XDG_DATA_HOME/kestrel)\n"
                "  -h, --help   show this help; 'kestrel-cli COMMAND --help' for a command\n"
                "\n"
                "Commands:\n",
                "用法: kestrel-cli [--home 目录] 命令 [参数...]\n"
                "\n"
                "岚石多媒体MP3转换器：把多媒体文件的声音转换为音频文件。\n"
                "\n"
                "选项:\n"
                "  --home 目录  在该目录中保存 tavolin.ini、mpginfo.dat 和 tmp/\n"
                "               （默认：$KESTREL_HOME；程序所在文件夹可写时为该文件夹，\n"
                "               否则为 $XDG_DATA_HOME/kestrel）\n"
                "  -h, --help   显示本帮助；'kestrel-cli 命令 --help' 显示命令的帮助\n"
                "\n"
                "命令:\n"),
        stdout);
    for (const auto& c : commands())
        std::printf("  %-10s %s\n", c.name, c.summary);
    std::puts(
        cliText("\nExit status: 0 success; 1 wrong usage (an unknown command or option);\n"
                "2 an operation was refused or failed: a file refused, a conversion entry\n"
                "without output, without sound or with an incomplete output, playback without\n"
                "a sound device; 130 stopped by Ctrl-C.",
                "\n退出状态: 0 成功；1 用法错误（未知的命令或选项）；2 操作被拒绝或失败：文件\n"
                "被拒绝，转换项没有输出、没有声音或输出不完整，播放时没有声音设备；130 被\n"
                "Ctrl-C 停止。"));
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
