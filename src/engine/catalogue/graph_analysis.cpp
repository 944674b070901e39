#include "engine/catalogue/graph_analysis.h"

#include "engine/catalogue/texts.h"
#include "engine/catalogue/texts_graph.h"
#include "engine/core/captions.h"
#include "engine/core/text_format.h"
#include "platform/media_graph.h"
#include "platform/ports.h"
#include "platform/wm_audio_reader.h"

#include <cstddef>

namespace kestrel {

namespace {

// Below this size no file can be a media file of these families.
constexpr uint64_t kSmallestMediaFile = 100;

void fillFromGraph(MediaRecord& rec, const GraphFacts& g) {
    rec.channels = g.format.channels;
    rec.sampleRate = g.format.samplesPerSec;
    rec.durationSec = g.durationSec;
}

} // namespace

PlatformFamily platformFamily(const std::string& ext3, const std::string& ext4) {
    if (ext3.find("RM") != std::string::npos || ext4 == "RMVB") return PlatformFamily::RealMedia;
    if (ext3 == "MOV" || ext3.find("QT") != std::string::npos) return PlatformFamily::QuickTime;
    if (ext3 == "WMA" || ext3 == "WMV" || ext3 == "ASF") return PlatformFamily::WindowsMedia;
    return PlatformFamily::None;
}

int analyzeWithGraph(const std::string& path, MediaRecord& rec, uint64_t size,
                     PlatformFamily family) {
    rec.fileSize = recordFileSize(size);
    if (size < kSmallestMediaFile) {
        showMessage(caption::kMain, formatText(text::kOpenMediaFailed, path));
        return -1;
    }
    GraphFacts g;
    int r = openMediaGraph(path, g);
    if (r < 0) {
        const char* msg = r == kGraphNoAudio                    ? text::kGraphNoAudio
                          : family == PlatformFamily::RealMedia ? text::kRealDecoderMissing
                                                                : text::kQuickTimeDecoderMissing;
        showMessage(caption::kMain, formatText(msg, path));
        return -2;
    }
    fillFromGraph(rec, g);
    const bool real = family == PlatformFamily::RealMedia;
    setField(rec.typeName, sizeof rec.typeName, real ? "RM/RMVB" : "MOV/QT");
    rec.kind = kindCode(real ? MediaKind::RealMedia : MediaKind::QuickTime);
    return 0;
}

int analyzeWindowsMedia(const std::string& path, MediaRecord& rec, uint64_t size) {
    if (size < kSmallestMediaFile) {
        showMessage(caption::kMainWide, formatText(text::kOpenMediaFailed, path));
        return -1;
    }
    // The reader's name: the path without leading blanks.
    size_t start = path.find_first_not_of(' ');
    WmAudioReader reader;
    reader.clearAudioFormat();
    reader.open(start == std::string::npos ? path : path.substr(start));
    const GraphAudioFormat& f = reader.audioFormat();
    if (f.samplesPerSec <= 0 || f.channels <= 0) {
        showMessage(caption::kMain, formatText(text::kNoAudioInfo, path));
        reader.close();
        return -2;
    }
    if (f.samplesPerSec > 10 && f.bitsPerSample > 10) {
        rec.sampleRate = f.samplesPerSec;
        rec.channels = f.channels;
        rec.durationSec = static_cast<int32_t>(reader.duration() / kGraphTimeUnits);
        setField(rec.typeName, sizeof rec.typeName, "ASF/WMA/WMV");
        rec.kind = kindCode(MediaKind::WindowsMedia);
    }
    rec.fileSize = recordFileSize(size);
    reader.close();
    return 0;
}

int analyzeLastResort(const std::string& path, MediaRecord& rec, uint64_t size) {
    if (listThroughGraph(path, rec, size) < 0) {
        showMessage(caption::kMainWide, formatText(text::kUndeterminedType, path));
        return -2;
    }
    return 0;
}

int listThroughGraph(const std::string& path, MediaRecord& rec, uint64_t size) {
    GraphFacts g;
    int r = openMediaGraph(path, g);
    if (r < 0) return r;
    fillFromGraph(rec, g);
    // The size column shows the file's size like every other entry.
    rec.fileSize = recordFileSize(size);
    setField(rec.typeName, sizeof rec.typeName, "其他");
    rec.kind = kindCode(MediaKind::OtherPlatform);
    return 0;
}

void describeGraphCodec(const std::string& path, std::string& codec) {
    GraphFacts g;
    if (openMediaGraph(path, g) == 0 && !g.codecName.empty()) codec = g.codecName;
}

} // namespace kestrel
