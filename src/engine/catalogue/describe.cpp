#include "engine/catalogue/describe.h"
#include "engine/catalogue/graph_analysis.h"

#include "engine/containers/gapless.h"
#include "engine/containers/mpeg_audio_frame.h"
#include "engine/core/mpeg_audio_header.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace kestrel {

namespace {

const char* flvSoundName(int format) {
    static const char* names[16] = {"PCM",
                                    "ADPCM",
                                    "MP3",
                                    "PCM (little-endian)",
                                    "Nellymoser 16 kHz",
                                    "Nellymoser 8 kHz",
                                    "Nellymoser",
                                    "G.711 A-law",
                                    "G.711 mu-law",
                                    "reserved",
                                    "AAC",
                                    "Speex",
                                    "reserved",
                                    "reserved",
                                    "MP3 8 kHz",
                                    "device-specific"};
    return format >= 0 && format < 16 ? names[format] : "unknown";
}

const char* mp4SoundName(int n) {
    static const char* names[5] = {"", "AMR narrow-band", "AMR wide-band", "AAC", "MPEG audio"};
    return n >= 1 && n <= 4 ? names[n] : "";
}

std::string containerOf(const std::string& type) {
    if (type == "MP3") return "MPEG audio";
    if (type == "MPEG1/2 PS") return "MPEG-1/2 program stream";
    if (type == "MPEG2 TS") return "MPEG-2 transport stream";
    if (type == "MPEG1/2 PES") return "MPEG-1/2 PES stream";
    if (type == "MPEG1/2 ES") return "MPEG-1/2 elementary stream";
    if (type == "MPEG4 AVI") return "AVI";
    return type;
}

std::string mpegCodecName(const MpegAudioHeader& h) {
    static const char* versions[3] = {"MPEG-1", "MPEG-2", "MPEG-2.5"};
    static const char* layers[4] = {"", "I", "II", "III"};
    return std::string(versions[h.versionIndex]) + " Layer " + layers[h.layer];
}

} // namespace

namespace {

// The sound format of an FLV or SWF kind code, by the record's type text; -1
// for other codes.
int flashSoundFormat(int32_t code, const std::string& typeName, bool& swf) {
    const int32_t flvBase = kindCode(MediaKind::Flv), swfBase = kindCode(MediaKind::Swf);
    swf = typeName == "SWF"
              ? code >= swfBase && code < swfBase + 16
              : !(code >= flvBase && code < flvBase + 16) && code >= swfBase && code < swfBase + 16;
    if (swf) return code - swfBase;
    return code >= flvBase && code < flvBase + 16 ? code - flvBase : -1;
}

} // namespace

std::string mediaKindName(int32_t code, const std::string& typeName) {
    const MediaKind k = mediaKind(code);
    const int32_t mp4 = kindCode(MediaKind::Mp4);
    bool swf = false;
    const int sound = flashSoundFormat(code, typeName, swf);
    if (sound >= 0) return std::string(swf ? "SWF, " : "FLV, ") + flvSoundName(sound) + " sound";
    if (isMp4Family(k)) return std::string("MP4, ") + mp4SoundName(code - mp4) + " sound";
    switch (k) {
    case MediaKind::MpegUnsorted:
        return "MPEG stream, audio not named";
    case MediaKind::VideoOnly:
        return "MPEG video without audio";
    case MediaKind::TransportStream:
        return "MPEG transport stream";
    case MediaKind::ProgramStreamAc3:
        return "MPEG program stream with AC-3 audio";
    case MediaKind::ProgramStream:
        return "MPEG program stream with MPEG audio";
    case MediaKind::MpegAudio:
        return "MPEG audio";
    case MediaKind::Ac3Elementary:
        return "AC-3 elementary stream";
    case MediaKind::Mpeg4Avi:
        return "MPEG-4 AVI";
    case MediaKind::RealMedia:
        return "RealMedia";
    case MediaKind::QuickTime:
        return "QuickTime";
    case MediaKind::OtherPlatform:
        return "media of the platform's decoders";
    case MediaKind::Amr:
        return "AMR";
    case MediaKind::Aac:
        return "AAC";
    case MediaKind::Mtv:
        return "MTV";
    case MediaKind::Amv:
        return "AMV";
    case MediaKind::WindowsMedia:
        return "Windows Media";
    default:
        break;
    }
    return "unknown kind " + std::to_string(code);
}

double mpegAudioSeconds(const std::string& path, std::string* codec) {
    MpegAudioFileInfo info;
    if (mpegAudioInfo(path, info) < 0) return -1;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    if (fseeko(f, info.firstFrame, SEEK_SET) != 0) {
        std::fclose(f);
        return -1;
    }
    // A window of the file that always holds a whole frame from `pos` on
    // while the file has one.
    std::vector<uint8_t> buf(1 << 16);
    size_t have = 0, pos = 0;
    bool eof = false;
    auto fill = [&] {
        if (eof || have - pos >= static_cast<size_t>(kMaxMpegFrameBytes) + 4) return;
        std::memmove(buf.data(), buf.data() + pos, have - pos);
        have -= pos;
        pos = 0;
        size_t n = std::fread(buf.data() + have, 1, buf.size() - have, f);
        have += n;
        if (n == 0) eof = true;
    };
    uint8_t ref[4] = {};
    bool first = true;
    double seconds = 0;
    for (;;) {
        fill();
        if (have - pos < 4) break;
        const uint8_t* p = buf.data() + pos;
        MpegAudioHeader h;
        if (!parseMpegAudioHeader(p, h) || (!first && !sameMpegAudioStream(ref, p))) {
            ++pos; // not a frame of the stream: look for the next one
            continue;
        }
        int len = mpegFrameBytes(h, info.freeFrameBytes);
        if (len < kMinMpegFrameBytes) {
            ++pos;
            continue;
        }
        if (have - pos < static_cast<size_t>(len)) break; // a cut last frame
        if (first) {
            // A tag frame in front is no sound, and its header may differ
            // from the sound frames' (FFmpeg writes other status bits): the
            // stream's facts come from the first sound frame.
            if (parseGaplessTag(p, have - pos).tagFrame) {
                pos += static_cast<size_t>(len);
                continue;
            }
            std::memcpy(ref, p, 4);
            first = false;
            if (codec) *codec = mpegCodecName(h);
        }
        seconds += static_cast<double>(h.samplesPerFrame) / h.sampleRate;
        pos += static_cast<size_t>(len);
    }
    std::fclose(f);
    return first ? -1 : seconds;
}

RecordDescription describeRecord(const MediaRecord& rec) {
    RecordDescription d;
    const std::string type(rec.typeName, strnlen(rec.typeName, sizeof rec.typeName));
    const std::string path(rec.path, strnlen(rec.path, sizeof rec.path));
    const MediaKind k = mediaKind(rec.kind);
    d.kindName = mediaKindName(rec.kind, type);
    d.container = containerOf(type);
    d.seconds = rec.durationSec;
    const int32_t code = rec.kind;
    bool swf = false;
    const int sound = flashSoundFormat(code, type, swf);
    if (sound >= 0)
        d.codec = flvSoundName(sound);
    else if (isMp4Family(k))
        d.codec = mp4SoundName(code - kindCode(MediaKind::Mp4));
    switch (k) {
    case MediaKind::MpegAudio: {
        double s = mpegAudioSeconds(path, &d.codec);
        if (s >= 0) {
            d.seconds = s;
            d.secondsFromFrames = true;
        }
        break;
    }
    case MediaKind::ProgramStream:
        d.codec = "MPEG audio";
        break;
    case MediaKind::ProgramStreamAc3:
    case MediaKind::Ac3Elementary:
        d.codec = "AC-3";
        break;
    case MediaKind::Amr:
        d.codec = "AMR";
        break;
    case MediaKind::Aac:
        d.codec = "AAC";
        break;
    case MediaKind::WindowsMedia:
        d.codec = "Windows Media Audio";
        break;
    default:
        break;
    }
    if (isPlatformDecoded(k) || k == MediaKind::WindowsMedia) describeGraphCodec(path, d.codec);
    return d;
}

} // namespace kestrel
