#include "cli/cli.h"

#include "cli/convert_batch.h"
#include "cli/terminal.h"
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/convert/output_naming.h"
#include "engine/convert/texts.h"
#include "engine/core/captions.h"
#include "engine/core/text_format.h"
#include "platform/ports.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/core/run_state.h"
#include "engine/settings/settings.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>

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
    struct Output {
        std::string path;
        uint64_t pcmBytes = 0;
        bool incomplete = false;
    };
    std::vector<Output> outs;
    for (const auto& e : jobTable) {
        if (e.result == EntryResult::NotRun || e.result == EntryResult::NoOutput) continue;
        Output* o = nullptr;
        for (auto& x : outs)
            if (x.path == e.outputName) o = &x;
        if (!o) {
            outs.push_back({e.outputName, 0, false});
            o = &outs.back();
        }
        o->pcmBytes += e.pcmBytes;
        if (e.result == EntryResult::Incomplete) o->incomplete = true;
    }
    uint64_t perSec = static_cast<uint64_t>(outputFormat.out_rate) * outputFormat.out_channels * 2;
    for (const auto& o : outs) {
        const char* mark = o.incomplete ? "\tincomplete" : o.pcmBytes == 0 ? "\tno-sound" : "";
        std::printf("%s\t%.2f%s\n", o.path.c_str(), perSec ? double(o.pcmBytes) / perSec : 0.0,
                    mark);
    }
    std::fflush(stdout);
    for (const auto& e : jobTable) {
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

// Every per-file output name of the job, fixed now: time-stamped with the
// current second, never given twice. An entry whose name would be one of the
// job's sources gets no output (the message is shown) and an empty name.
std::vector<std::string> fixOutputNames() {
    std::tm now{};
    std::time_t t = std::time(nullptr);
    localtime_r(&t, &now);
    std::vector<std::string> sources;
    for (const auto& e : jobTable)
        sources.push_back(e.path);
    JobNames given;
    std::vector<std::string> names;
    for (size_t i = 0; i < jobTable.size(); ++i) {
        JobEntry& e = jobTable[i];
        std::string name =
            uniqueInJob(given, make_output_name(static_cast<int>(i), e.path, settings.output_type,
                                                0, now, settings.save_path));
        if (outputIsSource(name, sources)) {
            showMessage(caption::kMain, formatText(text::kOutputIsSource, name));
            e.result = EntryResult::NoOutput;
            name.clear();
        }
        names.push_back(name);
    }
    return names;
}

int exitStatusOfStop() {
    return interruptSignal() == SIGTERM ? 128 + SIGTERM : kInterrupted;
}

} // namespace

int loadEffects() {
    if (orvosoundmix_loaded()) return 0;
    if (load_orvosoundmix() < 0) return -1;
    orvosoundmix.orvomix_begin();
    return 0;
}

int cmdConvert(const Args& args) {
    const Command& self = *findCommand("convert");
    static const std::map<std::string, int> types = {
        {"mp3", 0},  {"exe", 1}, {"wav", 2}, {"wma", 3}, {"aac", 4},
        {"adts", 5}, {"m4a", 6}, {"amr", 7}, {"flv", 8}, {"avi", 9}};
    int type = -1, join = 0, mode = 2, rate = -1, mono = -1;
    int cbr = -1, vbr = -1, vmin = -1, vmax = -1, abr = -1;
    int jobs = 0;
    bool worker = false;
    std::string outDir;
    std::vector<std::string> files;
    Args workerArgs; // the options a worker process gets: all but -j and the files
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        auto number = [&](int& out) {
            std::string v;
            return value(v) && parseInt(v, out);
        };
        std::string v;
        const size_t optionAt = i;
        if (a == "-j") {
            if (!number(jobs) || jobs < 1 || jobs > kMaxJobEntries)
                return usageError(self,
                                  "-j needs a number of jobs 1.." + std::to_string(kMaxJobEntries));
            continue;
        } else if (a == kBatchWorkerOption) {
            worker = true;
            continue;
        } else if (a == "-t") {
            if (!value(v) || !types.count(v))
                return usageError(self, "-t needs one of mp3 exe wav wma aac adts m4a amr flv avi");
            type = types.at(v);
        } else if (a == "--join") {
            join = 1;
        } else if (a == "--mode") {
            if (!value(v)) return usageError(self, "--mode needs realtime, double or silent");
            if (v == "realtime")
                mode = 0;
            else if (v == "double")
                mode = 1;
            else if (v == "silent")
                mode = 2;
            else
                return usageError(self, "--mode needs realtime, double or silent");
        } else if (a == "-o") {
            if (!value(outDir)) return usageError(self, "-o needs a folder");
        } else if (a == "-b") {
            if (!number(cbr)) return usageError(self, "-b needs a bit rate in kbit/s");
        } else if (a == "--vbr") {
            if (!number(vbr) || vbr < 0 || vbr > 9)
                return usageError(self, "--vbr needs a quality 0..9");
        } else if (a == "--min") {
            if (!number(vmin) || vmin < 8 || vmin > 160)
                return usageError(self, "--min needs 8..160 kbit/s");
        } else if (a == "--max") {
            if (!number(vmax) || vmax < 8 || vmax > 320)
                return usageError(self, "--max needs 8..320 kbit/s");
        } else if (a == "--abr") {
            if (!number(abr) || abr < 80 || abr > 320)
                return usageError(self, "--abr needs 80..320 kbit/s");
        } else if (a == "-r") {
            if (!number(rate) || versionOfRate(rate) < 0)
                return usageError(self, "-r needs an MPEG audio rate (8000 ... 48000 Hz)");
        } else if (a == "--mono") {
            if (!value(v)) return usageError(self, "--mono needs mix, left or right");
            if (v == "mix")
                mono = 0;
            else if (v == "left")
                mono = 1;
            else if (v == "right")
                mono = 2;
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
    if (files.empty() && !worker) return usageError(self, "no file given");
    if ((cbr >= 0) + (vbr >= 0) + (abr >= 0) > 1)
        return usageError(self, "choose one of -b, --vbr and --abr");
    if ((vmin >= 0 || vmax >= 0) && vbr < 0)
        return usageError(self, "--min and --max go with --vbr");

    startEngine(false);
    Settings& s = settings;
    if (type >= 0) s.output_type = type;
    if (!outputTypeAvailable(s.output_type)) {
        std::fprintf(stderr,
                     "kestrel-cli convert: output type %s is not yet available (choose one with -t "
                     "mp3 or -t wav)\n",
                     outputExtension(s.output_type) + 1);
        return kRefused;
    }
    s.save_mode = join;
    s.conversion_mode = mode;
    if (rate > 0) {
        s.mp3_sample_rate = rate;
        s.mp3_version = versionOfRate(rate);
    }
    if (cbr >= 0) {
        if (!isLayer3Rate(s.mp3_version, cbr))
            return usageError(self, "-b " + std::to_string(cbr) +
                                        " is not a Layer III bit rate of the chosen MPEG version");
        s.mp3_rate_mode = 0;
        s.mp3_cbr_kbps = cbr;
    } else if (!isLayer3Rate(s.mp3_version, s.mp3_cbr_kbps)) {
        s.mp3_cbr_kbps = s.mp3_version == 0 ? 128 : 64;
    }
    if (vbr >= 0) {
        s.mp3_rate_mode = 1;
        s.mp3_vbr_quality = vbr;
        if (vmin >= 0) s.mp3_vbr_min_kbps = vmin;
        if (vmax >= 0) s.mp3_vbr_max_kbps = vmax;
    }
    if (abr >= 0) {
        s.mp3_rate_mode = 2;
        s.mp3_abr_kbps = abr;
    }
    if (mono >= 0) {
        s.mp3_channels = 1;
        s.mp3_mono_mode = mono;
    }
    if (!outDir.empty()) {
        if (outDir.back() != '/') outDir += '/';
        s.save_path = outDir;
    }
    if (loadEffects() < 0) return kRefused;
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
    bool batch = jobs > 1 && !join && mediaList.rows.size() > 1;
    if (batch) {
        if (prepare_job() < 0) return kRefused;
        std::vector<std::string> names = fixOutputNames();
        if (runBatch(jobs, workerArgs, names) < 0) {
            batch = false;
            jobOutputNames = names;
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
