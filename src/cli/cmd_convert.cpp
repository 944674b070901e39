#include "cli/cli.h"

#include "cli/convert_batch.h"
#include "cli/localize.h"
#include "cli/records.h"
#include "cli/tag_options.h"
#include "cli/texts.h"
#include "cli/encoder_options.h"
#include "cli/terminal.h"
#include "engine/convert/output_naming.h"
#include "engine/convert/texts.h"
#include "engine/core/captions.h"
#include "engine/core/text_format.h"
#include "platform/paths.h"
#include "platform/ports.h"
#include "engine/catalogue/media_list.h"
#include "engine/catalogue/media_record.h"
#include "engine/catalogue/texts.h"
#include "engine/convert/conversion_driver.h"
#include "engine/convert/job_outputs.h"
#include "engine/convert/encoder_threads.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/settings/output_types.h"
#include "engine/settings/overrides.h"
#include "engine/settings/settings.h"
#include "engine/core/exe_layout.h"
#include "platform/profile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <cstdlib>
#include <ctime>
#include <optional>

namespace kestrel::cli {

namespace {

// The self-playing EXE's settings of this run: no password and no speed
// control unless asked for; the stored description unless one is given.
struct ExeOptions {
    std::optional<std::string> password;
    bool speed = false;
    std::optional<std::string> description;
    bool given() const { return password || speed || description; }
};

void applyExeOptions(Settings& s, const ExeOptions& e) {
    s.exe_password_on = e.password ? 1 : 0;
    if (e.password) s.exe_password = *e.password;
    s.exe_variable_speed = e.speed ? 1 : 0;
    if (e.description) s.exe_description = *e.description;
}

bool parseInt(const std::string& s, int& out) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0' || v < -1000000000 || v > 1000000000) return false;
    out = static_cast<int>(v);
    return true;
}

int exitStatusOfStop() {
    return interruptSignal() == SIGTERM ? 128 + SIGTERM : kInterrupted;
}

// Why the overrides cannot be applied, as the options that gave them.
std::string overrideProblemText(OverrideProblem p, const SettingsOverrides& o) {
    switch (p) {
    case OverrideProblem::None:
        break;
    case OverrideProblem::OutputType:
        return "-t needs one of " + outputTypeNames();
    case OverrideProblem::SaveMode:
    case OverrideProblem::ConversionMode:
        return "--mode needs realtime, double or silent";
    case OverrideProblem::SampleRate:
        return "-r needs an MPEG audio rate (8000 ... 48000 Hz)";
    case OverrideProblem::VbrQuality:
        return "--vbr needs a quality 0..9";
    case OverrideProblem::VbrMin:
        return "--min needs 8..160 kbit/s";
    case OverrideProblem::VbrMax:
        return "--max needs 8..320 kbit/s";
    case OverrideProblem::Abr:
        return "--abr needs 80..320 kbit/s";
    case OverrideProblem::MonoMode:
        return "--mono needs mix, left or right";
    case OverrideProblem::RateModes:
        return "choose one of -b, --vbr and --abr";
    case OverrideProblem::MinMaxWithoutVbr:
        return "--min and --max go with --vbr";
    case OverrideProblem::CbrNotLayer3:
        return "-b " + std::to_string(o.cbrKbps.value_or(0)) +
               " is not a Layer III bit rate of the chosen MPEG version";
    }
    return std::string();
}

// Where the outputs go: `-o` names a folder (DIR/, or one that exists), one
// output file (FILE.ext, whose extension names an output type) or standard
// output ("-").
struct OutputChoice {
    std::string folder;  // with its trailing "/"
    std::string file;    // the one output's name, empty for a folder
    int typeOfFile = -1; // the output type FILE's extension stands for
    bool toStdout = false;
};

std::string lower(std::string s) {
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The output type an extension (".mp3") stands for; -1 when none.
int typeOfExtension(const std::string& ext) {
    for (int t = 0; t <= 9; ++t)
        if (lower(ext) == lower(outputExtension(t))) return t;
    return -1;
}

// Every output extension, for the message that refuses another one.
std::string outputExtensions() {
    std::string list;
    for (int t = 0; t <= 9; ++t)
        if (list.find(outputExtension(t)) == std::string::npos)
            list += (list.empty() ? "" : " ") + std::string(outputExtension(t));
    return list;
}

// The choice `-o arg` makes; false when `arg` is a file name whose extension
// names no output type.
bool chooseOutput(const std::string& arg, OutputChoice& c) {
    if (arg.empty()) {
        c.folder = currentFolder();
    } else if (arg == "-") {
        c.toStdout = true;
    } else if (arg.back() == '/' || isDirectory(arg)) {
        c.folder = arg;
    } else {
        size_t slash = arg.rfind('/');
        size_t dot = arg.rfind('.');
        int t = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)
                    ? typeOfExtension(arg.substr(dot))
                    : -1;
        if (t < 0) return false;
        c.file = arg;
        c.typeOfFile = t;
        c.folder = slash == std::string::npos ? std::string() : arg.substr(0, slash + 1);
    }
    if (!c.folder.empty()) c.folder = folderPath(c.folder);
    return true;
}

// The output types written in one pass, which can go to standard output.
bool streamableType(int type) {
    return type == kOutMp3 || type == kOutWav || type == kOutRawAac || type == kOutAdts ||
           type == kOutAmr;
}

// A source's file name without its extension.
std::string stemOf(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = base.rfind('.');
    return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

struct NamingRules {
    OutputChoice out;
    bool stamp = false;   // the time-stamped names of the window
    bool replace = false; // -y
    int type = 0;
    bool joined = false;
    std::string nameTemplate; // --name: the outputs' stems from the tags
};

// The stem --name gives the output of entry `i` (a joined output: from the tags
// its sources share).
std::string templateStem(const NamingRules& r, size_t i) {
    const auto& table = mainJob().jobTable;
    std::vector<std::string> sources;
    for (size_t k = r.joined ? 0 : i; k < (r.joined ? table.size() : i + 1); ++k)
        sources.push_back(table[k].path);
    TagOptions options = mainJob().tagOptions;
    options.write = true; // --no-tags keeps the tags out of the file, not out of the name
    return nameFromTemplate(r.nameTemplate, outputTags(sources, options), stemOf(table[i].path));
}

// One input of the command line and what became of it.
struct Input {
    std::string arg;    // as given
    std::string source; // the file read (a spooled standard input: its copy)
    int serial = -1;    // its row of the media list; -1 when it has none
    Record record;
};

// The input whose row has `serial`.
Input* inputOfSerial(std::vector<Input>& inputs, int serial) {
    for (auto& in : inputs)
        if (in.serial == serial) return &in;
    return nullptr;
}

// Names the outputs of the entries in `mainJob().jobTable` and decides which
// entries are skipped because their output exists (without -y). A joined job
// has one name, at index 0, and is skipped as a whole. `given` holds the names
// of the whole run.
std::vector<std::string> planOutputNames(const NamingRules& r, JobNames& given,
                                         std::vector<Input>& inputs, std::vector<bool>& skip) {
    std::tm now{};
    std::time_t t = std::time(nullptr);
    localtime_r(&t, &now);
    std::vector<std::string> names;
    auto& table = mainJob().jobTable;
    skip.assign(table.size(), false);
    for (size_t i = 0; i < table.size() && (!r.joined || i == 0); ++i) {
        Input* in = inputOfSerial(inputs, table[i].serial);
        const std::string stemSource = in ? in->arg : table[i].path;
        std::string name;
        if (!r.out.file.empty())
            name = r.out.file;
        else if (r.stamp)
            name = make_output_name(static_cast<int>(i), stemSource == "-" ? "stdin" : stemSource,
                                    r.type, r.joined ? 1 : 0, now, r.out.folder);
        else if (!r.nameTemplate.empty())
            name = r.out.folder + templateStem(r, i) + outputExtension(r.type);
        else
            name = r.out.folder + (stemSource == "-" ? "stdin" : stemOf(stemSource)) +
                   outputExtension(r.type);
        name = uniqueInJob(given, name);
        // Time-stamped names take the next free name; the others are never
        // replaced without -y.
        struct stat st;
        if (!r.stamp && !r.replace && ::lstat(name.c_str(), &st) == 0) {
            const std::string reason =
                formatText(cliText("its output %s exists and is kept (-y replaces it)",
                                   "生成文件%s已存在，保留不变（-y 替换它）"),
                           absoluteName(name));
            for (size_t k = 0; k < table.size(); ++k) {
                if (!r.joined && k != i) continue;
                skip[k] = true;
                if (Input* x = inputOfSerial(inputs, table[k].serial)) {
                    x->record.status = RecordStatus::Skipped;
                    x->record.reason = reason;
                }
            }
        }
        names.push_back(name);
    }
    return names;
}

// Leaves the skipped entries out of the selection and the names.
std::vector<std::string> dropSkipped(const std::vector<std::string>& names,
                                     const std::vector<bool>& skip) {
    std::vector<std::string> kept;
    size_t k = 0;
    for (auto& row : mediaList.rows) {
        if (!row.selected) continue;
        if (k < skip.size() && skip[k]) row.selected = false;
        ++k;
    }
    for (size_t i = 0; i < names.size(); ++i)
        if (!skip[i]) kept.push_back(names[i]);
    return kept;
}

// The progress of a conversion in this process, from the entry's position.
ProgressInfo jobProgress(int second, int) {
    ProgressInfo p;
    size_t k = 0;
    while (k < mainJob().jobTable.size() && mainJob().jobTable[k].result != EntryResult::NotRun)
        ++k;
    double before = 0, total = 0;
    for (size_t i = 0; i < mainJob().jobTable.size(); ++i) {
        double d = mainJob().jobTable[i].durationSec > 0 ? mainJob().jobTable[i].durationSec : 0;
        total += d;
        if (i < k) before += d;
    }
    p.entries = static_cast<int>(mainJob().jobTable.size());
    p.entry = static_cast<int>(std::min(k + 1, mainJob().jobTable.size()));
    if (k < mainJob().jobTable.size()) {
        p.name = mainJob().jobTable[k].path.substr(mainJob().jobTable[k].path.rfind('/') + 1);
        before += std::min<double>(second, mainJob().jobTable[k].durationSec);
    }
    p.position = before;
    p.length = total;
    return p;
}

// Fills the records of the main job's entries once it has run. `stopped`
// tells the entries a stop came to.
void collectResults(std::vector<Input>& inputs, const std::vector<bool>& stopped) {
    const auto& table = mainJob().jobTable;
    const double perSec = double(outputFormat.out_rate) * outputFormat.out_channels * 2;
    for (size_t i = 0; i < table.size(); ++i) {
        const JobEntry& e = table[i];
        Input* in = inputOfSerial(inputs, e.serial);
        if (!in || in->record.status == RecordStatus::Skipped) continue;
        Record& r = in->record;
        const bool hasOutput = e.result != EntryResult::NotRun && e.result != EntryResult::NoOutput;
        if (hasOutput) {
            r.output = absoluteName(e.outputName);
            std::error_code ec;
            auto size = std::filesystem::file_size(e.outputName, ec);
            r.bytes = ec ? 0 : size;
            // The whole output's playing time (a joined output: all its inputs').
            double pcm = 0;
            for (const auto& x : table)
                if (x.outputName == e.outputName && x.result != EntryResult::NotRun &&
                    x.result != EntryResult::NoOutput)
                    pcm += double(x.pcmBytes);
            r.seconds = perSec > 0 ? pcm / perSec : 0;
        }
        switch (e.result) {
        case EntryResult::Converted:
            r.status = RecordStatus::Converted;
            r.reason.clear();
            if (i < stopped.size() && stopped[i]) {
                r.status = RecordStatus::Incomplete;
                r.reason = formatText(cliText("stopped at %s s", "在 %s 秒处停止"),
                                      std::to_string(static_cast<int>(r.seconds)));
            }
            break;
        case EntryResult::NotRun:
            r.status = RecordStatus::Skipped;
            r.reason = cliText("skipped, not converted", "跳过，没有转换");
            break;
        case EntryResult::NoOutput:
            r.status = RecordStatus::Failed;
            if (r.reason.empty() && e.lostError != 0)
                r.reason = cliText("no output: ", "没有生成文件：") +
                           localize(writeFailureReason(e.lostError));
            if (r.reason.empty())
                r.reason = cliText("no output: its file could not be created or written whole",
                                   "没有生成文件：无法建立或完整写入该文件");
            break;
        case EntryResult::NoSound:
            r.status = RecordStatus::NoSound;
            r.reason = cliText("no sound converted into its output", "生成文件中没有转换的声音");
            break;
        case EntryResult::Incomplete:
            r.status = RecordStatus::Incomplete;
            r.reason = cliText("incomplete: only part of its sound is in its output",
                               "不完整：生成文件只含部分声音");
            break;
        }
        // An output that is not whole never replaces a file: say which one stayed.
        if ((e.result == EntryResult::NoSound || e.result == EntryResult::Incomplete) &&
            !e.keptEarlier.empty())
            r.reason +=
                formatText(cliText(" (%s was kept as it was)", "（%s 保持原样）"), e.keptEarlier);
    }
}

// The reason an entry is refused before its work starts; empty when it can
// be converted at `outRate`.
std::string refusalOf(const EntryFacts& f, int outRate, bool rateGiven) {
    const ReaderRoute route = routeFor(f.typeName, mediaKind(f.kind));
    if (route == ReaderRoute::Swf && isUnsupportedSwf(mediaKind(f.kind)))
        return localize(formatText(kestrel::text::kSwfUnsupported, f.path));
    if (route == ReaderRoute::Amr && outRate > 11025 && rateGiven)
        return localize(kestrel::text::kAmrRate) +
               cliText(" (-r 8000 or -r 11025)", "（-r 8000 或 -r 11025）");
    return std::string();
}

// A new folder of our own under $TMPDIR (else /tmp); empty when none could
// be made.
std::string makeTempFolder(const char* name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestrel-" + name + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    return ::mkdtemp(buf.data()) ? std::string(buf.data()) : std::string();
}

// Copies standard input into a file of a new temporary folder; its path, or
// empty when it could not be made (message printed).
std::string spoolStandardInput(std::string& folder) {
    folder = makeTempFolder("stdin");
    if (folder.empty()) {
        std::fprintf(stderr, "%s%s: %s\n", text::kProgramPrefix,
                     cliText("cannot spool standard input", "无法暂存标准输入"),
                     std::strerror(errno));
        return std::string();
    }
    const std::string path = folder + "/stdin";
    std::FILE* out = std::fopen(path.c_str(), "wb");
    bool ok = out != nullptr;
    std::vector<char> block(1 << 16);
    while (ok) {
        size_t n = std::fread(block.data(), 1, block.size(), stdin);
        if (n == 0) break;
        ok = std::fwrite(block.data(), 1, n, out) == n;
    }
    ok = ok && !std::ferror(stdin);
    if (out && std::fclose(out) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "%s%s: %s\n", text::kProgramPrefix,
                     cliText("cannot spool standard input", "无法暂存标准输入"),
                     std::strerror(errno));
        return std::string();
    }
    return path;
}

// Removes a spooled input and its folder at the end of the run.
struct SpoolGuard {
    std::string folder;
    ~SpoolGuard() {
        if (!folder.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        }
    }
};

// Copies a finished output to standard output; false when a write failed. A
// reader that goes away early ends the copy, not the process (the temporary
// output is still removed).
bool copyToStdout(const std::string& path) {
    std::signal(SIGPIPE, SIG_IGN);
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return false;
    std::vector<char> block(1 << 16);
    bool ok = true;
    while (ok) {
        size_t n = std::fread(block.data(), 1, block.size(), in);
        if (n == 0) break;
        ok = std::fwrite(block.data(), 1, n, stdout) == n;
    }
    std::fclose(in);
    return std::fflush(stdout) == 0 && ok;
}

} // namespace

int cmdConvert(const Args& args) {
    const Command& self = *findCommand("convert");
    SettingsOverrides o;
    EncoderOptions enc;
    o.saveMode = 0;       // one output per file unless --join
    o.conversionMode = 2; // silent unless --mode
    int jobs = 0;
    int threads = 0; // --threads; 0: the processors
    bool worker = false, stamp = false, replace = false, plainProgress = false, json = false;
    std::string outArg;
    std::vector<std::string> files;
    Args workerArgs; // the options a worker process gets: all but -j and the files
    bool optionsEnd = false;
    ExeOptions exeOptions;
    TagOptions tagOptions;
    std::string nameTemplate;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        auto number = [&](std::optional<int>& out) {
            std::string v;
            int n = 0;
            if (!value(v) || !parseInt(v, n)) return false;
            out = n;
            return true;
        };
        std::string v;
        const size_t optionAt = i;
        if (optionsEnd || a == "-" || a.rfind("-", 0) != 0) {
            files.push_back(a);
            continue;
        } else if (a == "--") {
            optionsEnd = true;
            continue;
        } else if (a == "-j") {
            std::optional<int> n;
            if (!number(n) || *n < 1 || *n > kMaxJobEntries)
                return usageError(self,
                                  "-j needs a number of jobs 1.." + std::to_string(kMaxJobEntries));
            jobs = *n;
            continue;
        } else if (a == "--threads") {
            std::optional<int> n;
            if (!number(n) || *n < 1 || *n > kMaxEncoderThreads)
                return usageError(self, "--threads needs a number of threads 1.." +
                                            std::to_string(kMaxEncoderThreads));
            threads = *n;
        } else if (a == kBatchWorkerOption) {
            worker = true;
            continue;
        } else if (a == "--stamp") {
            stamp = true;
            continue;
        } else if (a == "--progress") {
            plainProgress = true;
            continue;
        } else if (a == "--json") {
            json = true;
            continue;
        } else if (a == "-y") {
            replace = true;
        } else if (a == "-t") {
            if (!value(v) || outputTypeOfName(v) < 0)
                return usageError(self, "-t needs one of " + outputTypeNames());
            o.outputType = outputTypeOfName(v);
        } else if (a == "--join") {
            o.saveMode = 1;
        } else if (a == "--mode") {
            if (!value(v)) return usageError(self, "--mode needs realtime, double or silent");
            if (v == "realtime")
                o.conversionMode = 0;
            else if (v == "double")
                o.conversionMode = 1;
            else if (v == "silent")
                o.conversionMode = 2;
            else
                return usageError(self, "--mode needs realtime, double or silent");
        } else if (a == "-o") {
            if (!value(outArg) || outArg.empty())
                return usageError(self, "-o needs a folder or a file name");
            continue; // the workers get their names and folder from this process
        } else if (a == "-b") {
            if (!number(o.cbrKbps)) return usageError(self, "-b needs a bit rate in kbit/s");
        } else if (a == "--vbr") {
            if (!number(o.vbrQuality)) return usageError(self, "--vbr needs a quality 0..9");
        } else if (a == "--min") {
            if (!number(o.vbrMinKbps)) return usageError(self, "--min needs 8..160 kbit/s");
        } else if (a == "--max") {
            if (!number(o.vbrMaxKbps)) return usageError(self, "--max needs 8..320 kbit/s");
        } else if (a == "--abr") {
            if (!number(o.abrKbps)) return usageError(self, "--abr needs 80..320 kbit/s");
        } else if (a == "-r") {
            if (!number(o.sampleRate))
                return usageError(self, "-r needs an MPEG audio rate (8000 ... 48000 Hz)");
        } else if (a == "--mono") {
            if (!value(v)) return usageError(self, "--mono needs mix, left or right");
            if (v == "mix")
                o.monoMode = 0;
            else if (v == "left")
                o.monoMode = 1;
            else if (v == "right")
                o.monoMode = 2;
            else
                return usageError(self, "--mono needs mix, left or right");
        } else if (a == "--name") {
            if (!value(nameTemplate) || nameTemplate.empty())
                return usageError(self, "--name needs a template such as '{artist} - {title}'");
        } else if (std::string problem; int taken = parseTagOption(a, value, tagOptions, problem)) {
            if (taken < 0) return usageError(self, problem);
        } else if (isEncoderOption(a)) {
            std::string problem;
            if (!value(v)) return usageError(self, a + " needs a value");
            if (parseEncoderOption(a, v, enc, problem) < 0) return usageError(self, problem);
        } else if (a == "--exe-password") {
            if (!value(v) || v.empty() || utf8ToGb18030(v).size() > exe::kPasswordBytes)
                return usageError(self, "--exe-password needs a password of 1..15 bytes");
            exeOptions.password = v;
        } else if (a == "--exe-speed") {
            exeOptions.speed = true;
        } else if (a == "--exe-description") {
            if (!value(v) || utf8ToGb18030(v).size() > exe::kDescriptionBytes)
                return usageError(self,
                                  "--exe-description needs a text of at most 199 bytes in GBK");
            exeOptions.description = v;
        } else {
            return usageError(self, "unknown option " + a);
        }
        workerArgs.insert(workerArgs.end(), args.begin() + static_cast<long>(optionAt),
                          args.begin() + static_cast<long>(i) + 1);
    }
    const bool joined = o.saveMode == 1;
    OutputChoice out;
    if (!chooseOutput(outArg, out))
        return usageError(self, formatText(cliText("-o %s: the extension names no output type; "
                                                   "give a folder (DIR/) or a file ending in "
                                                   "one of %s",
                                                   "-o %s：扩展名不是生成文件类型；请给出文件夹"
                                                   "（目录/）或以下列扩展名结尾的文件：%s"),
                                           outArg, outputExtensions()));
    const bool oneOutput = !out.file.empty() || out.toStdout;
    if (oneOutput && files.size() > 1 && !joined)
        return usageError(self, formatText(cliText("-o %s names one output: give one file, "
                                                   "--join, or a folder",
                                                   "-o %s 只指定一个生成文件：请只给一个文件、"
                                                   "使用 --join 或给出文件夹"),
                                           outArg));
    // The command line's own default type: the one -o FILE.ext names, else MP3.
    if (!o.outputType) o.outputType = out.file.empty() ? kOutMp3 : out.typeOfFile;
    if (out.toStdout && !streamableType(*o.outputType))
        return usageError(self, formatText(cliText("-o - writes only the types made in one "
                                                   "pass (mp3 wav aac adts amr), not %s",
                                                   "-o - 只能写出一次写成的类型（mp3 wav aac "
                                                   "adts amr），不能写出 %s"),
                                           outputTypeName(*o.outputType)));
    if (out.toStdout && json)
        return usageError(self, cliText("-o - and --json both want standard output",
                                        "-o - 与 --json 都要使用标准输出"));
    if (std::count(files.begin(), files.end(), "-") > 1)
        return usageError(
            self, cliText("standard input (-) can be read once", "标准输入（-）只能读一次"));
    if (!worker) o.savePath = out.folder;
    mainJob().outputsReplace = replace || out.toStdout;
    mainJob().tagOptions = tagOptions;
    if (!nameTemplate.empty() && (!out.file.empty() || stamp))
        return usageError(self, "--name names the outputs in a folder: give -o DIR/, not -o "
                                "FILE or --stamp");
    OverrideProblem problem = checkOverrides(o);
    if (problem != OverrideProblem::None) return usageError(self, overrideProblemText(problem, o));
    if (files.empty() && !worker) return usageError(self, cliText("no file given", "没有给出文件"));
    if (exeOptions.given() && *o.outputType != kOutExe)
        return usageError(self, "--exe-password, --exe-speed and --exe-description go with -t exe");

    startEngine(false);
    Settings& s = settings;
    // The settings of this run with the overrides `ov`; empty when they fit.
    auto applyAll = [&](const SettingsOverrides& ov) -> std::string {
        OverrideProblem p = applyOverrides(s, ov);
        if (p != OverrideProblem::None) return overrideProblemText(p, ov);
        const std::string encoderProblem = applyEncoderOptions(s, *ov.outputType, enc, ov);
        if (!encoderProblem.empty()) return encoderProblem;
        // --vbr Q alone spans the whole Layer III range of the chosen MPEG version.
        if (ov.vbrQuality) {
            if (!ov.vbrMinKbps) s.mp3_vbr_min_kbps = s.mp3_version == 0 ? 32 : 8;
            if (!ov.vbrMaxKbps) s.mp3_vbr_max_kbps = s.mp3_version == 0 ? 320 : 160;
        }
        if (*ov.outputType == kOutExe) applyExeOptions(s, exeOptions);
        return std::string();
    };
    const Settings loaded = s;
    if (std::string p = applyAll(o); !p.empty()) return usageError(self, p);
    if (startSoundEffects() < 0) return kRefused;
    set_encoder_threads(threads);
    if (worker) return runBatchWorker();

    // Each input on its own: one that is refused leaves the others.
    SpoolGuard spool;
    std::vector<Input> inputs;
    resetMediaList();
    for (const auto& f : files) {
        Input in;
        in.arg = f;
        in.source = f;
        in.record.source = f == "-" ? std::string("-") : absoluteName(f);
        if (f == "-") in.source = spoolStandardInput(spool.folder);
        takeLastMessage();
        int added = in.source.empty() ? -1 : addMediaFile(in.source);
        if (added == 0 && !mediaList.rows.empty()) {
            in.serial = mediaList.rows.back().serial;
        } else {
            in.record.status = added == -2 ? RecordStatus::Skipped : RecordStatus::Failed;
            in.record.reason =
                added == -2 ? cliText("given more than once", "重复给出") : takeLastMessage();
            if (in.record.reason.empty())
                in.record.reason = cliText("refused by the analysis", "分析拒绝该文件");
        }
        inputs.push_back(in);
    }

    if (!out.folder.empty() && !isDirectory(out.folder) && !makeDirectories(out.folder)) {
        std::fprintf(stderr, "kestrel-cli convert: %s %s: %s\n",
                     cliText("cannot create the folder", "无法建立文件夹"), out.folder.c_str(),
                     std::strerror(errno));
        return kRefused;
    }
    // The output written to standard output is made in a temporary folder first.
    SpoolGuard pipeFolder;
    if (out.toStdout) {
        pipeFolder.folder = makeTempFolder("out");
        if (pipeFolder.folder.empty()) {
            std::fprintf(stderr, "kestrel-cli convert: %s: %s\n",
                         cliText("cannot make a temporary folder", "无法建立临时文件夹"),
                         std::strerror(errno));
            return kRefused;
        }
        out.file = pipeFolder.folder + "/out" + outputExtension(*o.outputType);
    }

    // The rate groups: entries the chosen rate suits, and AMR sources, which
    // convert at 11025 Hz when no rate was asked for. A joined output has one
    // rate for all.
    derive_output_format();
    const int chosenRate = outputFormat.out_rate;
    const bool rateGiven = o.sampleRate.has_value();
    std::vector<int> group(inputs.size(), -1);
    bool anyLowRate = false;
    long firstLowRate = -1; // the first input converted at 11025 Hz
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (inputs[i].serial < 0) continue;
        const ListRow* row = nullptr;
        for (const auto& r : mediaList.rows)
            if (r.serial == inputs[i].serial) row = &r;
        const EntryFacts f = entryFacts(*row);
        std::string refused = refusalOf(f, chosenRate, rateGiven);
        if (!refused.empty()) {
            inputs[i].record.status = RecordStatus::Failed;
            inputs[i].record.reason = refused;
            continue;
        }
        const bool lowRate =
            routeFor(f.typeName, mediaKind(f.kind)) == ReaderRoute::Amr && chosenRate > 11025;
        group[i] = lowRate ? 1 : 0;
        anyLowRate = anyLowRate || lowRate;
        if (lowRate && firstLowRate < 0) firstLowRate = static_cast<long>(i);
    }
    if (joined && anyLowRate)
        for (auto& g : group)
            if (g == 0) g = 1;
    // Said once, before any work.
    if (firstLowRate >= 0 && !globalOptions.quiet)
        printStatusLine(std::string(text::kProgramPrefix) +
                        formatText(cliText("%s: an AMR source is converted at 11025 Hz "
                                           "(-r 8000 or -r 11025 chooses)",
                                           "%s：AMR 源文件以 11025 Hz 转换（用 -r 8000 "
                                           "或 -r 11025 选择）"),
                                   inputs[static_cast<size_t>(firstLowRate)].record.source));

    installTerminalWindow({globalOptions.quiet, plainProgress});
    installInterruptHandler();
    if (jobs == 0) jobs = availableCores();
    JobNames given;
    NamingRules rules{out, stamp, replace || out.toStdout, *o.outputType, joined, nameTemplate};
    for (int g = 0; g <= 1 && !interrupted(); ++g) {
        bool any = false;
        for (size_t i = 0; i < inputs.size(); ++i)
            any = any || group[i] == g;
        if (!any) continue;
        Args groupArgs = workerArgs;
        s = loaded;
        SettingsOverrides go = o;
        if (g == 1) {
            go.sampleRate = 11025;
            groupArgs.insert(groupArgs.end(), {"-r", "11025"});
        }
        std::string problemText = applyAll(go);
        for (size_t i = 0; i < inputs.size(); ++i) {
            if (group[i] != g) continue;
            if (!problemText.empty()) {
                inputs[i].record.status = RecordStatus::Failed;
                inputs[i].record.reason = problemText;
            }
        }
        if (!problemText.empty()) continue;
        derive_output_format();
        for (auto& row : mediaList.rows) {
            row.selected = false;
            for (size_t i = 0; i < inputs.size(); ++i)
                if (group[i] == g && inputs[i].serial == row.serial) row.selected = true;
        }
        // A job that cannot start: its entries fail with the message shown.
        auto failGroup = [&] {
            const std::string why = takeLastMessage();
            for (size_t i = 0; i < inputs.size(); ++i)
                if (group[i] == g && inputs[i].record.status == RecordStatus::Failed &&
                    inputs[i].record.reason.empty())
                    inputs[i].record.reason = why;
        };
        takeLastMessage();
        if (prepareJob() < 0) {
            failGroup();
            continue;
        }
        std::vector<bool> skip;
        std::vector<std::string> names =
            dropSkipped(planOutputNames(rules, given, inputs, skip), skip);
        if (names.empty()) continue;
        if (prepareJob() < 0) {
            failGroup();
            continue;
        }
        // Per-file outputs of several entries are converted in worker
        // processes; a joined output, a single entry and -j 1 in this process.
        bool batch = jobs > 1 && !joined && mainJob().jobTable.size() > 1;
        std::vector<bool> stopped(mainJob().jobTable.size(), false);
        if (batch) {
            std::vector<std::string> sources;
            for (const auto& e : mainJob().jobTable)
                sources.push_back(e.path);
            for (size_t i = 0; i < mainJob().jobTable.size(); ++i) {
                if (!outputIsSource(names[i], sources)) continue;
                showMessage(caption::kMain, formatText(kestrel::text::kOutputIsSource, names[i]));
                mainJob().jobTable[i].result = EntryResult::NoOutput;
                names[i].clear();
            }
            // The workers share the processors: no more encoder threads in all
            // than there are processors, unless --threads asks for them.
            if (threads == 0) {
                const size_t workers = std::min(static_cast<size_t>(jobs), names.size());
                const int each = std::max(1, availableCores() / static_cast<int>(workers));
                groupArgs.push_back("--threads");
                groupArgs.push_back(std::to_string(each));
            }
            if (runBatch(jobs, groupArgs, names, stopped) < 0) batch = false;
        }
        if (!batch) {
            mainJob().outputNames = names;
            setProgressSource(jobProgress);
            if (start_conversion() < 0) {
                failGroup();
                continue;
            }
            waitConversion();
            endProgressLine();
            if (interrupted()) {
                // The entry the stop came to is the last one that was reached.
                for (size_t i = mainJob().jobTable.size(); i-- > 0;)
                    if (mainJob().jobTable[i].result != EntryResult::NotRun) {
                        stopped[i] = true;
                        break;
                    }
            }
        }
        collectResults(inputs, stopped);
    }

    // The report: the records on stdout (or the output itself), every input
    // not converted whole named on stderr with its reason.
    int rc = kOk;
    std::vector<Record> records;
    for (auto& in : inputs) {
        if (in.record.status != RecordStatus::Converted) {
            rc = kRefused;
            if (in.record.reason.empty())
                in.record.reason =
                    cliText("not converted: the run was stopped", "没有转换：转换已停止");
        }
        records.push_back(in.record);
    }
    if (out.toStdout) {
        bool written = false;
        for (const auto& r : records)
            if (!r.output.empty() && !written) {
                written = true;
                if (!copyToStdout(r.output)) {
                    printStatusLine(
                        std::string("kestrel-cli convert: ") +
                        cliText("standard output: a write failed", "标准输出：写入失败"));
                    rc = kRefused;
                }
            }
    } else {
        printRecords(records, json);
    }
    for (const auto& r : records)
        if (r.status != RecordStatus::Converted)
            printStatusLine("kestrel-cli convert: " + (r.reason.find(r.source) != std::string::npos
                                                           ? r.reason
                                                           : r.source + ": " + r.reason));
    if (interrupted()) return exitStatusOfStop();
    return rc;
}

} // namespace kestrel::cli
