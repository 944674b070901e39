#include "cli/cli.h"

#include "cli/convert_batch.h"
#include "cli/tag_options.h"
#include "cli/encoder_options.h"
#include "cli/terminal.h"
#include "engine/convert/output_naming.h"
#include "engine/convert/texts.h"
#include "engine/core/captions.h"
#include "engine/core/text_format.h"
#include "platform/paths.h"
#include "platform/ports.h"
#include "engine/catalogue/media_list.h"
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

// Prints the job's report: one line per output on stdout, in job order (a
// joined output once): its path, seconds and size in bytes, and a mark when it
// is not whole or was stopped; every entry that was not converted named on
// stderr. Returns `rc`, or kRefused when an entry was not converted.
int reportJob(int rc, const std::vector<bool>& stopped) {
    std::vector<std::string> stoppedPaths;
    for (size_t i = 0; i < mainJob().jobTable.size() && i < stopped.size(); ++i)
        if (stopped[i] && mainJob().jobTable[i].result != EntryResult::NotRun)
            stoppedPaths.push_back(mainJob().jobTable[i].outputName);
    MachineOutput machine; // the paths as they are
    for (const auto& o : producedOutputs(mainJob().jobTable, outputFormat)) {
        std::error_code ec;
        auto size = std::filesystem::file_size(o.path, ec);
        std::string mark = o.incomplete ? "\tincomplete" : o.noSound() ? "\tno-sound" : "";
        if (mark.empty() &&
            std::find(stoppedPaths.begin(), stoppedPaths.end(), o.path) != stoppedPaths.end())
            mark = "\tstopped at " + std::to_string(static_cast<long>(o.seconds)) + " s";
        std::printf("%s\t%.2f\t%llu%s\n", o.path.c_str(), o.seconds,
                    static_cast<unsigned long long>(ec ? 0 : size), mark.c_str());
    }
    std::fflush(stdout);
    for (const auto& e : mainJob().jobTable) {
        const char* what = nullptr;
        switch (e.result) {
        case EntryResult::Converted:
            continue;
        case EntryResult::NotRun:
            what = "skipped, not converted";
            break;
        case EntryResult::NoOutput:
            what = "no output: its file could not be created";
            break;
        case EntryResult::NoSound:
            what = "no sound converted into";
            break;
        case EntryResult::Incomplete:
            what = "incomplete: only part of its sound is in";
            break;
        }
        rc = kRefused;
        bool named = e.result == EntryResult::NoSound || e.result == EntryResult::Incomplete;
        std::fprintf(stderr, "kestrel-cli convert: %s: %s%s%s\n", e.path.c_str(), what,
                     named ? " " : "", named ? e.outputName.c_str() : "");
    }
    return rc;
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

// Where the outputs go: `-o` names a folder (DIR/, or one that exists, or a
// name without an output type's extension) or one output file (FILE.ext).
struct OutputChoice {
    std::string folder;  // with its trailing "/"
    std::string file;    // the one output's name, empty for a folder
    int typeOfFile = -1; // the output type FILE's extension stands for
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

OutputChoice chooseOutput(const std::string& arg) {
    OutputChoice c;
    if (arg.empty()) {
        c.folder = currentFolder();
    } else if (arg.back() == '/' || isDirectory(arg)) {
        c.folder = arg;
    } else {
        size_t slash = arg.rfind('/');
        size_t dot = arg.rfind('.');
        int t = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                    ? typeOfExtension(arg.substr(dot))
                    : -1;
        if (t < 0) {
            c.folder = arg;
        } else {
            c.file = arg;
            c.typeOfFile = t;
            c.folder = slash == std::string::npos ? std::string() : arg.substr(0, slash + 1);
        }
    }
    if (!c.folder.empty()) c.folder = folderPath(c.folder);
    return c;
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

// Names the outputs of the entries in `mainJob().jobTable` and decides which entries
// are skipped because their output exists (without -y). A joined job has one
// name, at index 0, and is skipped as a whole.
std::vector<std::string> planOutputNames(const NamingRules& r, std::vector<bool>& skip) {
    std::tm now{};
    std::time_t t = std::time(nullptr);
    localtime_r(&t, &now);
    JobNames given;
    std::vector<std::string> names;
    skip.assign(mainJob().jobTable.size(), false);
    for (size_t i = 0; i < mainJob().jobTable.size() && (!r.joined || i == 0); ++i) {
        const std::string& src = mainJob().jobTable[i].path;
        std::string name;
        if (!r.out.file.empty())
            name = r.out.file;
        else if (r.stamp)
            name = make_output_name(static_cast<int>(i), src, r.type, r.joined ? 1 : 0, now,
                                    r.out.folder);
        else if (!r.nameTemplate.empty())
            name = r.out.folder + templateStem(r, i) + outputExtension(r.type);
        else
            name = r.out.folder + stemOf(src) + outputExtension(r.type);
        name = uniqueInJob(given, name);
        // Time-stamped names take the next free name; the others are never
        // replaced without -y.
        struct stat st;
        if (!r.stamp && !r.replace && ::lstat(name.c_str(), &st) == 0) {
            std::fprintf(stderr, "kestrel-cli convert: %s exists: %s skipped (-y replaces it)\n",
                         name.c_str(), r.joined ? "the joined conversion" : src.c_str());
            if (r.joined)
                skip.assign(mainJob().jobTable.size(), true);
            else
                skip[i] = true;
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

} // namespace

int cmdConvert(const Args& args) {
    const Command& self = *findCommand("convert");
    SettingsOverrides o;
    EncoderOptions enc;
    o.saveMode = 0;       // one output per file unless --join
    o.conversionMode = 2; // silent unless --mode
    int jobs = 0;
    int threads = 0; // --threads; 0: the processors
    bool worker = false, stamp = false, replace = false, plainProgress = false;
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
    const OutputChoice out = chooseOutput(outArg);
    if (!out.file.empty() && files.size() > 1 && !joined)
        return usageError(self, "-o " + out.file +
                                    " names one output: give one file, --join, or a folder");
    // The command line's own default type: the one -o FILE.ext names, else MP3.
    if (!o.outputType) o.outputType = out.file.empty() ? kOutMp3 : out.typeOfFile;
    if (!worker) o.savePath = out.folder;
    mainJob().outputsReplace = replace;
    mainJob().tagOptions = tagOptions;
    if (!nameTemplate.empty() && (!out.file.empty() || stamp))
        return usageError(self, "--name names the outputs in a folder: give -o DIR/, not -o "
                                "FILE or --stamp");
    OverrideProblem problem = checkOverrides(o);
    if (problem != OverrideProblem::None) return usageError(self, overrideProblemText(problem, o));
    if (files.empty() && !worker) return usageError(self, "no file given");
    if (exeOptions.given() && *o.outputType != kOutExe)
        return usageError(self, "--exe-password, --exe-speed and --exe-description go with -t exe");

    startEngine(false);
    Settings& s = settings;
    problem = applyOverrides(s, o);
    if (problem != OverrideProblem::None) return usageError(self, overrideProblemText(problem, o));
    const std::string encoderProblem = applyEncoderOptions(s, *o.outputType, enc, o);
    if (!encoderProblem.empty()) return usageError(self, encoderProblem);
    // --vbr Q alone spans the whole Layer III range of the chosen MPEG version.
    if (o.vbrQuality) {
        if (!o.vbrMinKbps) s.mp3_vbr_min_kbps = s.mp3_version == 0 ? 32 : 8;
        if (!o.vbrMaxKbps) s.mp3_vbr_max_kbps = s.mp3_version == 0 ? 320 : 160;
    }
    if (*o.outputType == kOutExe) applyExeOptions(s, exeOptions);
    if (startSoundEffects() < 0) return kRefused;
    set_encoder_threads(threads);
    if (worker) return runBatchWorker();

    resetMediaList();
    int rc = kOk;
    for (const auto& f : files)
        if (addMediaFile(f) < 0) rc = kRefused;
    for (auto& row : mediaList.rows)
        row.selected = true;
    if (mediaList.rows.empty()) return kRefused;

    if (!out.folder.empty() && !isDirectory(out.folder) && !makeDirectories(out.folder)) {
        std::fprintf(stderr, "kestrel-cli convert: cannot create the folder %s: %s\n",
                     out.folder.c_str(), std::strerror(errno));
        return kRefused;
    }
    if (prepareJob() < 0) return kRefused;
    NamingRules rules{out, stamp, replace, *o.outputType, joined, nameTemplate};
    std::vector<bool> skip;
    std::vector<std::string> names = dropSkipped(planOutputNames(rules, skip), skip);
    for (bool k : skip)
        if (k) rc = kRefused;
    if (names.empty()) return rc;
    if (prepareJob() < 0) return kRefused;

    installTerminalWindow({globalOptions.quiet, plainProgress});
    installInterruptHandler();
    if (jobs == 0) jobs = availableCores();
    // Per-file outputs of several entries are converted in worker processes;
    // a joined output, a single entry and -j 1 in this process.
    bool batch = jobs > 1 && !joined && mainJob().jobTable.size() > 1;
    std::vector<bool> stopped(mainJob().jobTable.size(), false);
    if (batch) {
        std::vector<std::string> sources;
        for (const auto& e : mainJob().jobTable)
            sources.push_back(e.path);
        for (size_t i = 0; i < mainJob().jobTable.size(); ++i) {
            if (!outputIsSource(names[i], sources)) continue;
            showMessage(caption::kMain, formatText(text::kOutputIsSource, names[i]));
            mainJob().jobTable[i].result = EntryResult::NoOutput;
            names[i].clear();
        }
        // The workers share the processors: no more encoder threads in all
        // than there are processors, unless --threads asks for them.
        Args args = workerArgs;
        if (threads == 0) {
            const size_t workers = std::min(static_cast<size_t>(jobs), names.size());
            const int each = std::max(1, availableCores() / static_cast<int>(workers));
            args.push_back("--threads");
            args.push_back(std::to_string(each));
        }
        if (runBatch(jobs, args, names, stopped) < 0) batch = false;
    }
    if (!batch) {
        mainJob().outputNames = names;
        setProgressSource(jobProgress);
        if (start_conversion() < 0) return kRefused;
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
    rc = reportJob(rc, stopped);
    if (interrupted()) return exitStatusOfStop();
    return rc;
}

} // namespace kestrel::cli
