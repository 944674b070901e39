#include "cli/cli.h"

#include "cli/terminal.h"
#include "engine/catalogue/analysis.h"
#include "engine/convert/fast_conversion.h"
#include "engine/settings/settings.h"

#include "platform/paths.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace kestrel::cli {

int cmdFast(const Args& args) {
    const Command& self = *findCommand("fast");
    std::string outDir;
    bool replace = false, optionsEnd = false;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnd || a == "-" || a.rfind("-", 0) != 0) {
            files.push_back(a);
        } else if (a == "--") {
            optionsEnd = true;
        } else if (a == "-o") {
            if (i + 1 >= args.size() || args[i + 1].empty())
                return usageError(self, "-o needs a folder");
            outDir = args[++i];
        } else if (a == "-y") {
            replace = true;
        } else {
            return usageError(self, "unknown option " + a);
        }
    }
    if (files.size() != 1) return usageError(self, "give exactly one file");
    startEngine(false);
    outDir = folderPath(outDir.empty() ? currentFolder() : outDir);
    if (!isDirectory(outDir) && !makeDirectories(outDir)) {
        std::fprintf(stderr, "kestrel-cli fast: cannot create the folder %s: %s\n", outDir.c_str(),
                     std::strerror(errno));
        return kRefused;
    }
    settings.save_path = outDir;
    MediaRecord rec = emptyRecord();
    if (analyzeMedia(files[0], rec) < 0) return kRefused;
    if (checkFastConversionKind(mediaKind(rec.kind)) < 0) return kRefused;
    FastSource src;
    src.path = files[0];
    src.fileSize = realFileSize(rec);
    src.durationSec = rec.durationSec;
    src.sourceRate = static_cast<int32_t>(rec.sampleRate);
    src.sourceChannels = rec.channels > 2 ? 2 : rec.channels;
    src.kind = rec.kind;
    src.savePath = settings.save_path;
    // An output that exists is kept unless -y asks to replace it.
    const std::string target = fastOutputPath(src);
    struct stat st;
    if (!replace && ::lstat(target.c_str(), &st) == 0) {
        std::fprintf(stderr, "kestrel-cli fast: %s exists: %s skipped (-y replaces it)\n",
                     target.c_str(), src.path.c_str());
        return kRefused;
    }
    installTerminalWindow({globalOptions.quiet, false});
    installInterruptHandler();
    FastOutcome outcome;
    fast_conversion_thread(src, &outcome);
    endProgressLine();
    switch (outcome.status) {
    case FastStatus::Done:
    case FastStatus::Stopped:
        if (!outcome.keptEarlier) {
            MachineOutput machine; // the path as it is
            std::printf("%s\t%llu frames\t%llu bytes\n", outcome.outputPath.c_str(),
                        static_cast<unsigned long long>(outcome.frames),
                        static_cast<unsigned long long>(outcome.bytesWritten));
        }
        if (interrupted()) return interruptSignal() == SIGTERM ? 128 + SIGTERM : kInterrupted;
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
        if (interrupted()) return interruptSignal() == SIGTERM ? 128 + SIGTERM : kInterrupted;
        return kRefused;
    }
}

} // namespace kestrel::cli
