#include "cli/cli.h"
#include "cli/texts.h"
#include "engine/core/text_format.h"

#include "cli/records.h"
#include "cli/terminal.h"
#include "engine/catalogue/analysis.h"
#include "engine/catalogue/describe.h"
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
    bool replace = false, optionsEnd = false, json = false;
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
        } else if (a == "--json") {
            json = true;
        } else {
            return usageError(self, "unknown option " + a);
        }
    }
    if (files.size() != 1) return usageError(self, "give exactly one file");
    startEngine(false);
    outDir = folderPath(outDir.empty() ? currentFolder() : outDir);
    if (!isDirectory(outDir) && !makeDirectories(outDir)) {
        std::fprintf(stderr,
                     cliText("kestrel-cli fast: cannot create the folder %s: %s\n",
                             "kestrel-cli fast: 无法建立文件夹 %s：%s\n"),
                     outDir.c_str(), std::strerror(errno));
        return kRefused;
    }
    settings.save_path = outDir;
    Record result;
    result.source = absoluteName(files[0]);
    // A refusal: its message is on stderr, its record in --json.
    auto refuse = [&](RecordStatus status, const std::string& reason) {
        result.status = status;
        result.reason = reason;
        if (json) printRecords({result}, true);
        return kRefused;
    };
    MediaRecord rec = emptyRecord();
    takeLastMessage();
    if (analyzeMedia(files[0], rec) < 0) return refuse(RecordStatus::Failed, takeLastMessage());
    if (checkFastConversionKind(mediaKind(rec.kind)) < 0)
        return refuse(RecordStatus::Failed, takeLastMessage());
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
        std::fprintf(stderr,
                     cliText("kestrel-cli fast: %s exists: %s skipped (-y replaces it)\n",
                             "kestrel-cli fast: %s 已存在：跳过 %s（-y 替换它）\n"),
                     target.c_str(), src.path.c_str());
        return refuse(RecordStatus::Skipped,
                      formatText(cliText("%s exists (-y replaces it)", "%s 已存在（-y 替换它）"),
                                 absoluteName(target)));
    }
    installTerminalWindow({globalOptions.quiet, false});
    installInterruptHandler();
    FastOutcome outcome;
    fast_conversion_thread(src, &outcome);
    endProgressLine();
    switch (outcome.status) {
    case FastStatus::Done:
    case FastStatus::Stopped:
        if (outcome.frames > 0) { // no frame: no file
            result.output = absoluteName(outcome.outputPath);
            result.bytes = outcome.bytesWritten;
            // Its playing time as the analysis measures an MP3 file.
            MediaRecord made = emptyRecord();
            if (outcome.frames > 0 && analyzeMedia(outcome.outputPath, made) >= 0)
                result.seconds = describeRecord(made).seconds;
        }
        result.status = outcome.frames == 0 ? RecordStatus::NoSound
                        : interrupted()     ? RecordStatus::Incomplete
                                            : RecordStatus::Converted;
        if (outcome.frames == 0)
            result.reason = cliText("no MPEG audio frame copied", "没有复制任何MPEG音频帧");
        else if (interrupted())
            result.reason = cliText("stopped", "已停止");
        if (!outcome.besideOf.empty())
            result.reason += formatText(cliText(" (%s was kept as it was)", "（%s 保持原样）"),
                                        outcome.besideOf);
        result.extra = {{"frames", std::to_string(outcome.frames)}};
        printRecords({result}, json);
        if (interrupted()) return interruptSignal() == SIGTERM ? 128 + SIGTERM : kInterrupted;
        if (outcome.frames == 0) {
            // A file without a single MPEG audio frame holds no sound.
            std::fflush(stdout);
            std::fprintf(stderr,
                         cliText("kestrel-cli fast: %s: no sound: no MPEG audio frame copied%s\n",
                                 "kestrel-cli fast: %s：没有声音：没有复制任何MPEG音频帧%s\n"),
                         src.path.c_str(),
                         outcome.keptEarlier ? cliText(" (the existing output was left as it was)",
                                                       "（已存在的生成文件保持不变）")
                                             : "");
            return kRefused;
        }
        return kOk;
    default:
        if (json) printRecords({result}, true);
        if (interrupted()) return interruptSignal() == SIGTERM ? 128 + SIGTERM : kInterrupted;
        return kRefused;
    }
}

} // namespace kestrel::cli
