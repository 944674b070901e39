#include "cli/cli.h"

#include "cli/convert_batch.h"
#include "cli/terminal.h"
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/convert/job_outputs.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/settings/output_types.h"
#include "engine/settings/overrides.h"
#include "engine/settings/settings.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

namespace kestrel::cli {

namespace {

bool parseInt(const std::string& s, int& out) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0' || v < -1000000000 || v > 1000000000) return false;
    out = static_cast<int>(v);
    return true;
}

// Prints the job's report: one line per output on stdout, in job order (a
// joined output once): its path and seconds, and a mark when it is not whole;
// every entry that was not converted named on stderr. Returns `rc`, or
// kRefused when an entry was not converted.
int reportJob(int rc) {
    for (const auto& o : producedOutputs(mainJob().jobTable, outputFormat)) {
        const char* mark = o.incomplete ? "\tincomplete" : o.noSound() ? "\tno-sound" : "";
        std::printf("%s\t%.2f%s\n", o.path.c_str(), o.seconds, mark);
    }
    std::fflush(stdout);
    for (const auto& e : mainJob().jobTable) {
        const char* what = nullptr;
        switch (e.result) {
        case EntryResult::Converted:
            continue;
        case EntryResult::NotRun:
            what = "not converted";
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

} // namespace

int cmdConvert(const Args& args) {
    const Command& self = *findCommand("convert");
    SettingsOverrides o;
    o.saveMode = 0;       // one output per file unless --join
    o.conversionMode = 2; // silent unless --mode
    int jobs = 0;
    bool worker = false;
    std::vector<std::string> files;
    Args workerArgs; // the options a worker process gets: all but -j and the files
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
        if (a == "-j") {
            std::optional<int> n;
            if (!number(n) || *n < 1 || *n > kMaxJobEntries)
                return usageError(self,
                                  "-j needs a number of jobs 1.." + std::to_string(kMaxJobEntries));
            jobs = *n;
            continue;
        } else if (a == kBatchWorkerOption) {
            worker = true;
            continue;
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
            if (!value(o.savePath)) return usageError(self, "-o needs a folder");
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
        } else if (a.rfind("-", 0) == 0) {
            return usageError(self, "unknown option " + a);
        } else {
            files.push_back(a);
            continue;
        }
        workerArgs.insert(workerArgs.end(), args.begin() + static_cast<long>(optionAt),
                          args.begin() + static_cast<long>(i) + 1);
    }
    OverrideProblem problem = checkOverrides(o);
    if (problem != OverrideProblem::None) return usageError(self, overrideProblemText(problem, o));
    if (files.empty() && !worker) return usageError(self, "no file given");

    startEngine(false);
    Settings& s = settings;
    if (!outputTypeAvailable(o.outputType.value_or(s.output_type))) {
        std::fprintf(stderr,
                     "kestrel-cli convert: output type %s is not yet available (choose one with -t "
                     "mp3 or -t wav)\n",
                     outputExtension(o.outputType.value_or(s.output_type)) + 1);
        return kRefused;
    }
    problem = applyOverrides(s, o);
    if (problem != OverrideProblem::None) return usageError(self, overrideProblemText(problem, o));
    if (start_sound_effects() < 0) return kRefused;
    if (worker) return runBatchWorker();

    resetMediaList();
    int rc = kOk;
    for (const auto& f : files)
        if (addMediaFile(f) < 0) rc = kRefused;
    for (auto& row : mediaList.rows)
        row.selected = true;
    if (mediaList.rows.empty()) return kRefused;

    installTerminalWindow();
    installInterruptHandler();
    if (jobs == 0) jobs = availableCores();
    // Per-file outputs of several entries are converted in worker processes;
    // a joined output, a single entry and -j 1 in this process.
    bool batch = jobs > 1 && s.save_mode == 0 && mediaList.rows.size() > 1;
    if (batch) {
        if (prepare_job() < 0) return kRefused;
        std::tm now{};
        std::time_t t = std::time(nullptr);
        localtime_r(&t, &now);
        std::vector<std::string> names = fixPerFileOutputNames(mainJob(), now);
        if (runBatch(jobs, workerArgs, names) < 0) {
            batch = false;
            mainJob().outputNames = names;
        }
    }
    if (!batch) {
        if (start_conversion() < 0) return kRefused;
        wait_conversion();
        endProgressLine();
    }
    rc = reportJob(rc);
    if (interrupted()) return exitStatusOfStop();
    return rc;
}

} // namespace kestrel::cli
