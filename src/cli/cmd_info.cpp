#include "cli/cli.h"
#include "cli/tag_options.h"
#include "cli/terminal.h"

#include "engine/catalogue/analysis.h"
#include "engine/catalogue/describe.h"
#include "engine/catalogue/media_record.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace kestrel::cli {

namespace {

// The bit rate in kbit/s: the record's, else the file's average over its
// playing time; 0 when neither is known.
double kbitPerSecond(const MediaRecord& rec, const RecordDescription& d, unsigned long long size) {
    if (rec.bitRate > 0) return rec.bitRate / 1000.0;
    if (d.seconds > 0) return static_cast<double>(size) * 8 / d.seconds / 1000;
    return 0;
}

} // namespace

int cmdInfo(const Args& args) {
    bool json = false;
    TagCharset charset = TagCharset::Auto;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json")
            json = true;
        else if (a == "--tag-charset") {
            if (i + 1 >= args.size() || !parseTagCharset(args[++i], charset))
                return usageError(*findCommand("info"),
                                  "--tag-charset needs auto, latin1 or gb18030");
        } else if (a.rfind("-", 0) == 0 && a != "-")
            return usageError(*findCommand("info"), "unknown option " + a);
        else
            files.push_back(a);
    }
    if (files.empty()) return usageError(*findCommand("info"), "no file given");
    startEngine(false);
    int rc = kOk;
    std::optional<MachineOutput> machine; // JSON is UTF-8 whatever the terminal's encoding
    if (json) machine.emplace();
    if (json) std::puts("[");
    bool firstOut = true;
    for (const auto& path : files) {
        if (showExeInfo(path, json, firstOut, rc)) continue;
        MediaRecord rec = emptyRecord();
        if (analyzeMedia(path, rec) < 0) {
            rc = kRefused;
            continue;
        }
        std::string type(rec.typeName, strnlen(rec.typeName, sizeof rec.typeName));
        unsigned long long size = realFileSize(rec);
        const RecordDescription d = describeRecord(rec);
        const double kbps = kbitPerSecond(rec, d, size);
        const MediaTags tags = readMediaTags(path, charset);
        if (json) {
            std::printf("%s  {\"path\": %s, \"container\": %s, \"codec\": %s, \"kindName\": %s, "
                        "\"seconds\": %s, \"kbps\": %s, "
                        "\"typeName\": %s, \"kind\": %d, \"sampleRate\": %s, "
                        "\"channels\": %d, \"durationSec\": %d, \"fileSize\": %llu, "
                        "\"bitRate\": %d, \"bitsPerSample\": %d, \"formatDetail\": %d, "
                        "\"streamDetail\": %d, \"startInfo\": %d, \"tags\": %s}",
                        firstOut ? "" : ",\n", jsonString(path).c_str(),
                        jsonString(d.container).c_str(), jsonString(d.codec).c_str(),
                        jsonString(d.kindName).c_str(), jsonNumber(d.seconds, 3).c_str(),
                        jsonNumber(kbps, 1).c_str(), jsonString(type).c_str(), rec.kind,
                        jsonNumber(rec.sampleRate, -1).c_str(), rec.channels, rec.durationSec, size,
                        rec.bitRate, rec.bitsPerSample, rec.formatDetail, rec.streamDetail,
                        rec.startInfo, tagsJson(tags).c_str());
            firstOut = false;
        } else {
            std::printf("%s\n  container: %s\n  codec: %s\n  sample rate: %g Hz\n"
                        "  channels: %d\n  bit rate: %.1f kbit/s\n  duration: %.3f s\n"
                        "  kind: %s (%d)\n",
                        path.c_str(), d.container.c_str(), d.codec.empty() ? "-" : d.codec.c_str(),
                        rec.sampleRate, rec.channels, kbps, d.seconds, d.kindName.c_str(),
                        rec.kind);
            std::printf("  typeName=%s\n  kind=%d\n  sampleRate=%g\n  channels=%d\n"
                        "  durationSec=%d\n  fileSize=%llu\n  bitRate=%d\n  bitsPerSample=%d\n"
                        "  formatDetail=%d\n  streamDetail=%d\n  startInfo=%d\n",
                        type.c_str(), rec.kind, rec.sampleRate, rec.channels, rec.durationSec, size,
                        rec.bitRate, rec.bitsPerSample, rec.formatDetail, rec.streamDetail,
                        rec.startInfo);
            std::fputs(tagsText(tags).c_str(), stdout);
        }
    }
    if (json) std::puts(firstOut ? "]" : "\n]");
    return rc;
}

} // namespace kestrel::cli
