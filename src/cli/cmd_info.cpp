#include "cli/cli.h"

#include "engine/catalogue/analysis.h"
#include "engine/catalogue/media_record.h"

#include <cstdio>
#include <cstring>

namespace kestrel::cli {

int cmdInfo(const Args& args) {
    bool json = false;
    std::vector<std::string> files;
    for (const auto& a : args) {
        if (a == "--json")
            json = true;
        else if (a.rfind("-", 0) == 0 && a != "-")
            return usageError(*findCommand("info"), "unknown option " + a);
        else
            files.push_back(a);
    }
    if (files.empty()) return usageError(*findCommand("info"), "no file given");
    startEngine(false);
    int rc = kOk;
    if (json) std::puts("[");
    bool firstOut = true;
    for (const auto& path : files) {
        MediaRecord rec = emptyRecord();
        if (analyzeMedia(path, rec) < 0) {
            rc = kRefused;
            continue;
        }
        std::string type(rec.typeName, strnlen(rec.typeName, sizeof rec.typeName));
        unsigned long long size = realFileSize(rec);
        if (json) {
            std::printf("%s  {\"path\": %s, \"typeName\": %s, \"kind\": %d, \"sampleRate\": %.17g, "
                        "\"channels\": %d, \"durationSec\": %d, \"fileSize\": %llu, "
                        "\"bitRate\": %d, \"bitsPerSample\": %d, \"formatDetail\": %d, "
                        "\"streamDetail\": %d, \"startInfo\": %d}",
                        firstOut ? "" : ",\n", jsonString(path).c_str(), jsonString(type).c_str(),
                        rec.kind, rec.sampleRate, rec.channels, rec.durationSec, size, rec.bitRate,
                        rec.bitsPerSample, rec.formatDetail, rec.streamDetail, rec.startInfo);
            firstOut = false;
        } else {
            std::printf("%s\n  typeName=%s\n  kind=%d\n  sampleRate=%g\n  channels=%d\n"
                        "  durationSec=%d\n  fileSize=%llu\n  bitRate=%d\n  bitsPerSample=%d\n"
                        "  formatDetail=%d\n  streamDetail=%d\n  startInfo=%d\n",
                        path.c_str(), type.c_str(), rec.kind, rec.sampleRate, rec.channels,
                        rec.durationSec, size, rec.bitRate, rec.bitsPerSample, rec.formatDetail,
                        rec.streamDetail, rec.startInfo);
        }
    }
    if (json) std::puts(firstOut ? "]" : "\n]");
    return rc;
}

} // namespace kestrel::cli
