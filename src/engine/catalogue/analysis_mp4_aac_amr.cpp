#include "engine/catalogue/analysis_mp4_aac_amr.h"

#include "engine/catalogue/texts.h"
#include "engine/containers/aac_info.h"
#include "engine/containers/amr_file.h"
#include "engine/core/captions.h"
#include "engine/core/mpeg_audio_header.h"
#include "engine/core/text_format.h"
#include "engine/libraries/lib_orvoaacdec.h"
#include "engine/libraries/lib_orvomp4dec.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

namespace kestrel {

namespace {

void refuse(const char* caption, const char* format, const std::string& path) {
    showMessage(caption, formatText(format, path));
}

// The MP4 library stays loaded once it has been loaded.
bool mp4LibraryReady() {
    static bool loaded = false;
    if (!loaded) loaded = loadOrvomp4dec() >= 0;
    return loaded;
}

// An ADIF header names no channel count of its own, and its bit rate is the
// peak rate of a variable-rate stream: the decoder's channels are taken, and
// the length is what the raw data blocks decode to (they carry no lengths of
// their own to count). False when the decoder cannot read the stream.
bool adifFacts(const std::string& path, int& channels, double& seconds) {
    if (loadOrvoaacdec() < 0) return false;
    int rate = 0;
    bool ok = orvoaacdec.aacdecode_init(path.c_str(), AACDEC_MODE_STREAM, &rate, &channels) >= 0 &&
              rate > 0 && channels > 0;
    if (ok) {
        std::vector<unsigned char> pcm(AACDEC_FRAME_PCM_BYTES);
        uint64_t bytes = 0;
        int got = 0;
        while (orvoaacdec.aac_decode(pcm.data(), static_cast<int>(pcm.size()), &got) >= 0)
            bytes += static_cast<uint64_t>(std::max(got, 0));
        seconds = double(bytes) / (2.0 * channels * rate);
    }
    orvoaacdec.aacdecode_close();
    unloadOrvoaacdec();
    return ok;
}

bool isText(const char* a, const char* b) {
    return std::strcmp(a, b) == 0;
}

// The AAC track's rate and channels as its decoder reports them.
void aacTrackFormat(int& rate, int& channels) {
    if (loadOrvoaacdec() < 0) return;
    unsigned char config[1024];
    int n = orvomp4dec.mp4_getmp4aconfig(config, sizeof config);
    int r = 0, ch = 0;
    if (n > 0 && orvoaacdec.aacdecodebuf_init(config, n, 1000, rate, &r, &ch) >= 0) {
        rate = r;
        channels = ch;
    }
    orvoaacdec.aacdecodebuf_close();
    unloadOrvoaacdec();
}

// The MPEG audio track's rate and channels as its first frame states them
// (the sample entry may say two channels for a mono stream).
void mpegTrackFormat(int& rate, int& channels) {
    unsigned char head[kMaxMpegFrameBytes + 100];
    MpegAudioHeader h;
    if (orvomp4dec.mp4_readaudio(0, head, sizeof head, nullptr) >= 4 &&
        parseMpegAudioHeader(head, h)) {
        rate = h.sampleRate;
        channels = h.channels;
    }
}

} // namespace

int analyzeAacFile(const std::string& path, MediaRecord& rec, uint64_t size) {
    AacInfo info;
    if (aacStreamInfo(path, info) < 0) {
        refuse(caption::kMain, text::kNotAac, path);
        return -1;
    }
    double adifSeconds = -1;
    if (info.headerType == kAacAdif) {
        int channels = 0;
        if (adifFacts(path, channels, adifSeconds) && info.channels == 0) info.channels = channels;
    }
    setField(rec.typeName, sizeof rec.typeName, "AAC");
    rec.kind = kindCode(MediaKind::Aac);
    rec.fileSize = recordFileSize(size);
    rec.formatDetail = info.version;
    rec.streamDetail = info.objectType;
    rec.bitRate = info.bitRate;
    rec.sampleRate = info.samplingRate;
    rec.channels = info.channels;
    // A stream without one whole frame has no bit rate to divide by.
    rec.durationSec = adifSeconds >= 0   ? static_cast<int32_t>(adifSeconds)
                      : info.bitRate > 0 ? static_cast<int32_t>(size * 8 / uint64_t(info.bitRate))
                                         : 0;
    return 0;
}

int analyzeAmrFile(const std::string& path, MediaRecord& rec, uint64_t size) {
    AmrFileInfo info;
    int rc = amrFileInfo(path, size, info);
    if (rc == kAmrCannotOpen) return -2;
    if (rc < 0) {
        refuse(caption::kMain, text::kNotRingTone, path);
        return -1;
    }
    setField(rec.typeName, sizeof rec.typeName, "AMR");
    rec.kind = kindCode(MediaKind::Amr);
    rec.fileSize = recordFileSize(size);
    rec.sampleRate = kAmrSampleRate;
    rec.channels = 1;
    rec.streamDetail = info.frameBytes;
    rec.durationSec = info.durationSec;
    return 0;
}

int analyzeMp4File(const std::string& path, MediaRecord& rec, uint64_t size,
                   const std::string& typeText) {
    if (!mp4LibraryReady()) return -2;
    Orvomp4decApi& m = orvomp4dec;
    if (m.mp4de_init(path.c_str()) < 0) {
        refuse(caption::kProduct, text::kNoAudioCoding, path);
        return -1;
    }
    char handler[8] = {0}, codec[8] = {0};
    int value = 0;
    const int n = m.mp4_gettracknum();
    const int t0 = m.mp4_gettrackinfo(0, handler, codec, &value);
    int video = 0, audio = 0;
    for (int i = 0; i < n; ++i) {
        std::memset(handler, 0, sizeof handler);
        std::memset(codec, 0, sizeof codec);
        value = 0;
        if (m.mp4_gettrackinfo(i, handler, codec, &value) < 0) continue;
        if (isText(handler, "vide")) {
            int v = isText(codec, "s263")   ? 1
                    : isText(codec, "mp4v") ? 2
                    : isText(codec, "avc1") ? 3
                                            : 0;
            if (v) {
                video = v;
                rec.videoIndex = t0;
            }
        } else if (isText(handler, "soun")) {
            int a = isText(codec, "samr")   ? 1
                    : isText(codec, "sawb") ? 2
                    : isText(codec, "mp4a") ? 3
                                            : 0;
            if (a) {
                audio = a;
                rec.startInfo = value;
                rec.audioIndex = t0;
            }
        }
    }
    int videoBitRate = 0;
    double videoMs = 0;
    if (video) {
        int width = 0, height = 0, frames = 0;
        char text1[MP4DEC_VIDEO_TEXT_BYTES] = {0}, text2[MP4DEC_VIDEO_TEXT_BYTES] = {0};
        if (m.mp4_getvideo(&width, &height, &frames, &videoBitRate, &videoMs, text1, text2) < 0) {
            videoBitRate = 0;
            videoMs = 0;
        }
    }
    if (n <= 0 || !audio) {
        m.mp4de_close();
        refuse(caption::kProduct, text::kNoAudioCoding, path);
        return -1;
    }
    int rate = 0, channels = 0, audioBitRate = 0;
    double audioMs = 0;
    m.mp4_getaudio(&rate, &channels, &audioBitRate, &audioMs);
    if (audio == 3) {
        char name[MP4DEC_NAME_BYTES] = {0};
        m.mp4_getaudioname(name);
        if (isText(name, "MPEG-2 Audio (13818-3)") || isText(name, "MPEG-1 Audio (11172-3)")) {
            audio = 4;
            mpegTrackFormat(rate, channels);
        } else {
            aacTrackFormat(rate, channels);
        }
    }
    m.mp4de_close();
    rec.channels = audio == 1 ? 1 : channels;
    rec.sampleRate = rate;
    setField(rec.typeName, sizeof rec.typeName, typeText.c_str());
    rec.fileSize = recordFileSize(size);
    rec.bitRate = audioBitRate + videoBitRate;
    rec.streamDetail = audio;
    const double ms = video ? videoMs : audioMs;
    rec.durationSec = ms > 0 && ms < 2.0e12 ? static_cast<int32_t>(ms * 0.001) : 0;
    rec.kind = kindCode(MediaKind::Mp4) + audio;
    return 0;
}

bool f4vIsMp4(const std::string& path) {
    FILE* f = openSource(path);
    if (!f) return true; // the MP4 branch reports what it cannot open
    char head[3] = {0};
    size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return !(got == 3 && std::memcmp(head, "FLV", 3) == 0);
}

} // namespace kestrel
