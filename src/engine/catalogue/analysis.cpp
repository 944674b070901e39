#include "engine/catalogue/analysis.h"

#include "engine/core/captions.h"
#include "engine/catalogue/texts.h"
#include "engine/catalogue/graph_analysis.h"
#include "engine/catalogue/analysis_mp4_aac_amr.h"
#include "engine/catalogue/flash_media.h"
#include "engine/containers/aac_info.h"
#include "engine/containers/avi_reader.h"
#include "engine/libraries/lib_orvoadpcmdec.h"
#include "engine/containers/mpeg_audio_frame.h"
#include "engine/libraries/lib_mxscan.h"
#include "engine/core/text_format.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kestrel {

namespace {

void refuse(const char* caption, const char* format, const std::string& path) {
    showMessage(caption, formatText(format, path));
}

std::string upperTail(const std::string& path, size_t n) {
    std::string t = path.size() >= n ? path.substr(path.size() - n) : path;
    for (auto& c : t)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return t;
}

// MPEG audio file: 0, or negative when its frames cannot be parsed.
int analyzeMp3(const std::string& path, MediaRecord& rec) {
    MpegAudioFileInfo info;
    if (mpegAudioInfo(path, info) < 0) return -1;
    setField(rec.typeName, sizeof rec.typeName, "MP3");
    rec.kind = kindCode(MediaKind::MpegAudio);
    rec.fileSize = recordFileSize(info.fileSize);
    rec.sampleRate = info.sampleRate;
    rec.channels = info.channels;
    rec.streamDetail = 1;
    rec.durationSec = static_cast<int32_t>(info.durationSec);
    return 0;
}

// Refuses anything but a readable regular file with data before any reader
// opens it (a FIFO would block the open, a device never end); the message
// says what the path names. Returns the file's size, or a negative code.
int64_t checkSourceFile(const std::string& path) {
    SourceCheck c = checkSource(path);
    const char* what = nullptr;
    switch (c.kind) {
    case SourceKind::Regular:
        return static_cast<int64_t>(c.size);
    case SourceKind::Empty:
        what = text::kSourceEmpty;
        break;
    case SourceKind::Directory:
        what = text::kSourceIsDirectory;
        break;
    case SourceKind::Fifo:
        what = text::kSourceIsFifo;
        break;
    case SourceKind::CharDevice:
        what = text::kSourceIsCharDevice;
        break;
    case SourceKind::BlockDevice:
        what = text::kSourceIsBlockDevice;
        break;
    case SourceKind::Socket:
        what = text::kSourceIsSocket;
        break;
    case SourceKind::OtherType:
        what = text::kSourceIsOther;
        break;
    case SourceKind::CannotOpen:
        showMessage(caption::kMainWide, formatText(text::kOpenMediaFailed, path), c.error);
        return -1;
    }
    refuse(caption::kMainWide, what, path);
    return -1;
}

// Whether the AVI reader decodes the sound the probe describes (format tag,
// average bytes per second, block align and bits at 0, 4, 8 and 12,
// channels and rate at 52 and 56): PCM and MPEG audio always, any other tag
// when the ADPCM library takes it.
bool aviSoundDecoded(const uint8_t* audio) {
    auto at = [&](int offset) {
        int32_t v;
        std::memcpy(&v, audio + offset, 4);
        return static_cast<uint32_t>(v);
    };
    const uint32_t tag = at(0);
    if (aviAudioCodec(static_cast<int>(tag)) != AviAudioCodec::Adpcm) return true;
    // Without the library the reader says what is missing.
    if (loadOrvoadpcmdec() < 0) return true;
    uint8_t wf[16];
    auto put = [&](int offset, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            wf[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(0, tag, 2);
    put(2, at(52), 2);
    put(4, at(56), 4);
    put(8, at(4), 4);
    put(12, at(8), 2);
    put(14, at(12), 2);
    // -2: a tag the library has no decoder for.
    const bool known = orvoadpcmdec.orvo_adpcm_init(wf, sizeof wf) != -2;
    orvoadpcmdec.orvo_adpcm_close();
    unloadOrvoadpcmdec();
    return known;
}

// The stream probe's branch; `graphTried` is set when it has asked the media
// graph itself.
int analyzeWithProbe(const std::string& path, MediaRecord& rec, uint64_t size, bool& graphTried) {
    if (!mxscanLoaded() && loadMxscan() < 0) return -2;
    std::lock_guard<std::mutex> lock(mxscanLock());
    mxscan.mux_init();
    if (mxscan.open_stream(path.c_str()) < 0) {
        refuse(caption::kMainWide, text::kOpenMediaFailed, path);
        return -1;
    }
    int m = mxscan.mux_get_main_stream();
    if (m < 0 || m == 998 || m == 999) {
        graphTried = true;
        return analyzeLastResort(path, rec, size);
    }
    if (m == 9) {
        setField(rec.typeName, sizeof rec.typeName, "MPEG4 AVI");
        rec.kind = kindCode(MediaKind::Mpeg4Avi);
        rec.videoIndex = mxscan.get_mpeg4_vindex_num();
        rec.audioIndex = mxscan.get_mpeg4_aindex_num();
        mxscan.get_mpeg4_video(rec.mpeg4Video);
        mxscan.get_mpeg4_audio(rec.mpeg4Audio);
        double frameRate;
        std::memcpy(&frameRate, rec.mpeg4Video + 48, 8);
        if (rec.audioIndex < 1) {
            refuse(caption::kMain, text::kNoAudioInfo, path);
            return -4;
        }
        if (!(frameRate > 0.0 && frameRate < 1e6)) {
            refuse(caption::kMain, text::kMpeg4Bad, path);
            return -4;
        }
        if (!aviSoundDecoded(rec.mpeg4Audio)) {
            refuse(caption::kMain, text::kNoAudioInfo, path);
            return -4;
        }
        int32_t ch, rate;
        std::memcpy(&ch, rec.mpeg4Audio + 52, 4);
        std::memcpy(&rate, rec.mpeg4Audio + 56, 4);
        rec.streamDetail = static_cast<int32_t>(1200 / frameRate);
        rec.sampleRate = rate;
        rec.channels = ch;
        rec.formatDetail = ch;
        rec.durationSec = static_cast<int32_t>(rec.videoIndex / frameRate);
        // The probe's length stops at 2 GiB; the file's own size does not.
        rec.fileSize = recordFileSize(size);
        if (rec.sampleRate < 500) rec.sampleRate *= 1000;
        return 0;
    }
    static const char* names[4] = {"MPEG2 TS", "MPEG1/2 PS", "MPEG1/2 PES", "MPEG1/2 ES"};
    if (m > 3) {
        refuse(caption::kMainWide, text::kUndeterminedType, path);
        return -2;
    }
    setField(rec.typeName, sizeof rec.typeName, names[m]);
    rec.streamDetail = mxscan.mux_play_num();
    rec.durationSec = mxscan.mux_play_time();
    rec.fileSize = recordFileSize(size);
    MxAudioDisp ad;
    std::memset(&ad, 0, sizeof ad);
    mxscan.mux_get_audio_disp(&ad);
    int a = mxscan.mux_get_audio_mode();
    int v = mxscan.mux_get_video_mode();
    rec.startInfo = mxscan.mux_get_begin();
    MediaKind kind = mediaKind(rec.kind);
    switch (m) {
    case 0:
        kind = MediaKind::TransportStream;
        break;
    case 1:
        kind = a == 0   ? MediaKind::ProgramStream
               : a == 1 ? MediaKind::ProgramStreamAc3
                        : MediaKind::MpegUnsorted;
        break;
    case 2:
        kind = MediaKind::ProgramStream;
        break;
    case 3:
        kind = (v == 1 && a == -99) ? MediaKind::VideoOnly
               : a == 0             ? MediaKind::MpegAudio
               : a == 1             ? MediaKind::Ac3Elementary
                                    : MediaKind::MpegUnsorted;
        break;
    }
    rec.kind = kindCode(kind);
    if (kind == MediaKind::VideoOnly) {
        refuse(caption::kMain, text::kNoAudioMedia, path);
        return -8;
    }
    if (ad.bitRate > 0) {
        rec.bitsPerSample = ad.bitsPerSample;
        rec.bitRate = ad.bitRate;
        rec.sampleRate = ad.sampleRate;
        rec.formatDetail = rec.channels = ad.channels;
    } else {
        MxAc3Disp ac{};
        mxscan.mux_get_ac3_disp(&ac);
        if (ac.bitRate <= 0) {
            refuse(caption::kMain, text::kNoAudioFormat, path);
            return -1;
        }
        rec.bitRate = ac.bitRate;
        rec.sampleRate = ac.sampleRate;
        rec.formatDetail = rec.channels = ac.channels;
        rec.bitsPerSample = 0;
    }
    if (rec.sampleRate < 500) rec.sampleRate *= 1000;
    return 0;
}

// RealMedia and RealAudio files say what they are in their first bytes: the
// RealMedia file header (".RMF") or the header of the older RealAudio files
// (".ra" and 0xFD, versions 3 to 5). The stream probe would look for MPEG
// start codes in their coded sound and may find some there.
bool hasRealMediaSignature(const std::string& path) {
    unsigned char head[4] = {};
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    const bool got = std::fread(head, 1, sizeof head, f) == sizeof head;
    std::fclose(f);
    return got && (std::memcmp(head, ".RMF", 4) == 0 || std::memcmp(head, ".ra\xfd", 4) == 0);
}

} // namespace

namespace {

// The branches by extension (the design's order); `final` is set where the
// refusal stands whatever other reader might say, `graphTried` where the
// branch has asked the media graph itself.
int analyzeByExtension(const std::string& path, MediaRecord& rec, uint64_t bytes, bool& final,
                       bool& graphTried) {
    std::string ext3 = upperTail(path, 3);
    if (ext3 == "AAC") return analyzeAacFile(path, rec, bytes);
    // An F4V file is an MP4 container unless it begins with the FLV header.
    if (ext3 == "F4V" && f4vIsMp4(path)) return analyzeMp4File(path, rec, bytes, "MP4");
    if (ext3 == "AMR") return analyzeAmrFile(path, rec, bytes);
    if (ext3 == "AMV" || ext3 == "MTV") return analyzeMtvAmv(path, rec, bytes, ext3 == "AMV");
    if (ext3 == "SWF") return analyzeSwf(path, rec, bytes);
    if (ext3 == "FLV" || ext3 == "F4V") return analyzeFlv(path, rec, bytes, &final);
    if (ext3 == "MP3" && analyzeMp3(path, rec) == 0) return 0;
    if (ext3 == "MP4" || ext3 == "3GP" || ext3 == "M4A")
        return analyzeMp4File(path, rec, bytes, ext3);
    PlatformFamily family = platformFamily(ext3, upperTail(path, 4));
    if (family == PlatformFamily::None && hasRealMediaSignature(path))
        family = PlatformFamily::RealMedia;
    // Raw AAC under another name: the stream probe knows no AAC and may take
    // stray bytes of its frames for MPEG audio headers.
    if (family == PlatformFamily::None && beginsAacStream(path))
        return analyzeAacFile(path, rec, bytes);
    if (family == PlatformFamily::None) return analyzeWithProbe(path, rec, bytes, graphTried);
    // Files of these families are read by the platform's readers already.
    graphTried = true;
    if (family == PlatformFamily::WindowsMedia) return analyzeWindowsMedia(path, rec, bytes);
    return analyzeWithGraph(path, rec, bytes, family);
}

} // namespace

int analyzeMedia(const std::string& path, MediaRecord& rec) {
    int64_t size = checkSourceFile(path);
    if (size < 0) return -1;
    const uint64_t bytes = static_cast<uint64_t>(size);
    // A file its own reader refuses, or whose sound that reader cannot
    // decode, is listed for the media graph when the graph decodes its
    // sound; only then are the reader's messages dropped.
    const MediaRecord blank = rec;
    MessageHold hold;
    bool final = false, graphTried = false;
    int rc = analyzeByExtension(path, rec, bytes, final, graphTried);
    if (rc < 0 && !final && !graphTried) {
        MediaRecord other = blank;
        if (listThroughGraph(path, other, bytes) == 0) {
            hold.drop();
            rec = other;
            rc = 0;
        }
    }
    hold.release();
    if (rc >= 0) setField(rec.path, sizeof rec.path, path.c_str());
    return rc;
}

} // namespace kestrel
