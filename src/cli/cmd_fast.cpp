#include "cli/cli.h"

#include "cli/terminal.h"
#include "engine/catalogue/analysis.h"
#include "engine/convert/fast_conversion.h"
#include "engine/settings/settings.h"

#include <cstdio>

namespace kestrel::cli {

int cmdFast(const Args& args) {
    const Command& self = *findCommand("fast");
    std::string outDir;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o") {
            if (i + 1 >= args.size()) return usageError(self, "-o needs a folder");
            outDir = args[++i];
        } else if (args[i].rfind("-", 0) == 0) {
            return usageError(self, "unknown option " + args[i]);
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 1) return usageError(self, "give exactly one file");
    startEngine(false);
    if (!outDir.empty()) {
        if (outDir.back() != '/') outDir += '/';
        settings.save_path = outDir;
    }
    MediaRecord rec = emptyRecord();
    if (analyzeMedia(files[0], rec) < 0) return kRefused;
    if (checkFastConversionKind(mediaKind(rec.kind)) < 0) return kRefused;
    FastSource src;
    src.path = files[0];
    src.fileSize = realFileSize(rec);
    src.durationSec = rec.durationSec;
    src.sourceRate = static_cast<int32_t>(rec.sampleRate);
    src.channels = rec.channels > 2 ? 2 : rec.channels;
    src.kind = rec.kind;
    src.savePath = settings.save_path;
    installTerminalWindow();
    installInterruptHandler();
    FastOutcome outcome;
    fast_conversion_thread(src, &outcome);
    endProgressLine();
    switch (outcome.status) {
    case FastStatus::Done:
    case FastStatus::Stopped:
        if (!outcome.keptEarlier)
            std::printf("%s\t%llu frames\t%llu bytes\n", outcome.outputPath.c_str(),
                        static_cast<unsigned long long>(outcome.frames),
                        static_cast<unsigned long long>(outcome.bytesWritten));
        if (interrupted()) return kInterrupted;
        if (outcome.frames == 0) {
            // A file without a single MPEG audio frame holds no sound.
            std::fflush(stdout);
            std::fprintf(stderr, "kestrel-cli fast: %s: no sound: no MPEG audio frame copied%s\n",
                         src.path.c_str(),
                         outcome.keptEarlier ? " (the existing output was left as it was)" : "");
            return kRefused;
        }
        return kOk;
    default:
        return interrupted() ? kInterrupted : kRefused;
    }
}

} // namespace kestrel::cli
