#include "cli/cli.h"
#include "cli/records.h"
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
    std::vector<Record> records;
    for (const auto& path : files) {
        if (showExeInfo(path, json, records, rc)) continue;
        Record out;
        out.source = absoluteName(path);
        MediaRecord rec = emptyRecord();
        takeLastMessage();
        if (analyzeMedia(path, rec) < 0) {
            rc = kRefused;
            out.status = RecordStatus::Failed;
            out.reason = takeLastMessage();
            out.extra = {{"path", jsonString(path)}};
            records.push_back(out);
            continue;
        }
        std::string type(rec.typeName, strnlen(rec.typeName, sizeof rec.typeName));
        unsigned long long size = realFileSize(rec);
        const RecordDescription d = describeRecord(rec);
        const double kbps = kbitPerSecond(rec, d, size);
        const MediaTags tags = readMediaTags(path, charset);
        if (json) {
            out.status = RecordStatus::Analysed;
            out.seconds = d.seconds;
            out.bytes = size;
            auto num = [](long long v) { return std::to_string(v); };
            out.extra = {{"path", jsonString(path)},
                         {"container", jsonString(d.container)},
                         {"codec", jsonString(d.codec)},
                         {"kindName", jsonString(d.kindName)},
                         {"kbps", jsonNumber(kbps, 1)},
                         {"typeName", jsonString(type)},
                         {"kind", num(rec.kind)},
                         {"sampleRate", jsonNumber(rec.sampleRate, -1)},
                         {"channels", num(rec.channels)},
                         {"durationSec", num(rec.durationSec)},
                         {"fileSize", num(static_cast<long long>(size))},
                         {"bitRate", num(rec.bitRate)},
                         {"bitsPerSample", num(rec.bitsPerSample)},
                         {"formatDetail", num(rec.formatDetail)},
                         {"streamDetail", num(rec.streamDetail)},
                         {"startInfo", num(rec.startInfo)},
                         {"tags", tagsJson(tags)}};
            records.push_back(out);
        } else {
            // Each fact once: what the analysis found, then the record's own
            // fields that say something else.
            std::printf("%s\n  container: %s\n  codec: %s\n  sample rate: %g Hz\n"
                        "  channels: %d\n  bit rate: %.1f kbit/s\n  duration: %.3f s\n"
                        "  kind: %s (%d)\n",
                        path.c_str(), d.container.c_str(), d.codec.empty() ? "-" : d.codec.c_str(),
                        rec.sampleRate, rec.channels, kbps, d.seconds, d.kindName.c_str(),
                        rec.kind);
            std::printf("  typeName=%s\n  fileSize=%llu\n  bitsPerSample=%d\n"
                        "  formatDetail=%d\n  streamDetail=%d\n  startInfo=%d\n",
                        type.c_str(), size, rec.bitsPerSample, rec.formatDetail, rec.streamDetail,
                        rec.startInfo);
            std::fputs(tagsText(tags).c_str(), stdout);
        }
    }
    if (json) printRecords(records, true);
    return rc;
}

} // namespace kestrel::cli
