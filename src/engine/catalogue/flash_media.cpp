#include "engine/catalogue/flash_media.h"

#include "engine/catalogue/texts.h"
#include "engine/catalogue/texts_flash.h"
#include "engine/containers/flv.h"
#include "engine/core/captions.h"
#include "engine/core/mpeg_audio_header.h"
#include "engine/core/text_format.h"
#include "engine/libraries/lib_inflator.h"
#include "engine/libraries/lib_orvoaacdec.h"
#include "engine/libraries/lib_orvomtvdec.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrel {

namespace {

void refuse(const char* caption, const char* format, const std::string& path) {
    showMessage(caption, formatText(format, path));
}

bool readWhole(const std::string& path, std::vector<uint8_t>& data) {
    FILE* f = openSource(path);
    if (!f) return false;
    data.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

} // namespace

bool firstMpegFacts(const uint8_t* data, size_t size, int& rate, int& channels) {
    for (size_t i = 0; i + 4 <= size; ++i) {
        MpegAudioHeader h;
        if (data[i] != 0xFF || !parseMpegAudioHeader(data + i, h)) continue;
        rate = h.sampleRate;
        channels = h.channels;
        return true;
    }
    return false;
}

int loadSwfMovie(const std::string& path, SwfMovie& movie) {
    std::vector<uint8_t> file;
    if (!readWhole(path, file)) {
        showMessage(caption::kMainWide, formatText(text::kOpenMediaFailed, path), errno);
        return -2;
    }
    SwfInflate inflate = nullptr;
    const bool cws = file.size() >= 3 && file[0] == 'C' && file[1] == 'W' && file[2] == 'S';
    if (cws) {
        if (loadInflator() < 0) return -2;
        inflate = inflator.uncompress;
    }
    SwfResult r = parseSwf(std::move(file), inflate, movie);
    if (cws) unloadInflator();
    switch (r) {
    case SwfResult::Ok:
        return 0;
    case SwfResult::Compressed:
        showMessage(caption::kProduct, text::kSwfCompressed);
        return -1;
    case SwfResult::InflateFailed:
        refuse(caption::kProduct, text::kSwfDamaged, path);
        return -3;
    case SwfResult::NotSwf:
    case SwfResult::TooShort:
        break;
    }
    refuse(caption::kProduct, text::kNotSwf, path);
    return -1;
}

int analyzeFlv(const std::string& path, MediaRecord& rec, uint64_t size, bool* final) {
    FILE* f = openSource(path);
    FlvAudioScan scan;
    // A file that cannot be opened has no audio tags.
    if (f) {
        int rc = scanFlvAudio(f, size, scan);
        std::fclose(f);
        if (rc < 0) {
            refuse(caption::kMain, text::kNotFlv, path);
            return -3;
        }
    }
    if (scan.audioTags > 0 && scan.bitsPerSample == 8) {
        refuse(caption::kMain, text::kFlv8Bit, path);
        if (final) *final = true;
        return -3;
    }
    if (scan.audioTags == 0 || !flvSoundDecoded(scan.soundFormat)) {
        refuse(caption::kMain, text::kNoAudioCoding, path);
        return -1;
    }
    double rate = scan.sampleRate;
    int channels = scan.channels;
    const std::vector<uint8_t>& p = scan.firstPayload;
    if (scan.soundFormat == kFlvAac) {
        // The sequence header (packet type 0) holds the decoder
        // configuration, which tells the real rate and channels.
        if (p.size() >= 2 && p[0] == 0 && loadOrvoaacdec() >= 0) {
            int r = 0, c = 0;
            if (orvoaacdec.aacdecodebuf_init(p.data() + 1, static_cast<int>(p.size() - 1), 1000,
                                             44100, &r, &c) >= 0 &&
                r > 0 && c > 0) {
                rate = r;
                channels = c;
            }
            orvoaacdec.aacdecodebuf_close();
            unloadOrvoaacdec();
        }
    } else if (scan.soundFormat == kFlvMp3 || scan.soundFormat == kFlvMp3At8k) {
        // The tag's rate field has four values; the frames tell the rate
        // they were coded at (48 kHz, 24 kHz, 8 kHz ...).
        int r = 0, c = 0;
        if (firstMpegFacts(p.data(), p.size(), r, c)) {
            rate = r;
            channels = c;
        }
    }
    setField(rec.typeName, sizeof rec.typeName, "FLV");
    rec.kind = kindCode(MediaKind::Flv) + scan.soundFormat;
    rec.sampleRate = rate;
    rec.channels = channels;
    rec.bitsPerSample = scan.bitsPerSample;
    rec.fileSize = recordFileSize(size);
    rec.streamDetail = scan.audioTags + 1;
    // The last tag's time stamp, or where the sound of the last audio tag
    // ends when that is later (long PCM and ADPCM tags).
    rec.durationSec =
        static_cast<int32_t>(std::max<double>(scan.lastTimestamp, scan.lastSoundEndMs) / 1000);
    return 0;
}

int analyzeSwf(const std::string& path, MediaRecord& rec, uint64_t size) {
    SwfMovie movie;
    if (loadSwfMovie(path, movie) < 0) return -1;
    if (movie.sounds.empty() || !movie.sound().present || !swfSoundDecoded(movie.sound().format)) {
        refuse(caption::kProduct, text::kNoAudioCoding, path);
        return -1;
    }
    const SwfSoundFormat& s = movie.sound();
    double rate = s.rate;
    int channels = s.channels;
    if (s.format == kSwfMp3) {
        // The MPEG frames of the first sound tag tell their own rate.
        const SwfSoundEntry* first = nullptr;
        for (const auto& e : movie.sounds)
            if ((e.code == kSwfSoundStreamBlock) == movie.playsStream()) {
                first = &e;
                break;
            }
        int r = 0, c = 0;
        if (first && firstMpegFacts(movie.data.data() + first->offset, first->length, r, c)) {
            rate = r;
            channels = c;
        }
    }
    const int seconds = movie.durationSec();
    setField(rec.typeName, sizeof rec.typeName, "SWF");
    rec.kind = kindCode(MediaKind::Swf) + s.format;
    rec.sampleRate = rate;
    rec.channels = channels;
    rec.formatDetail = s.format;
    rec.bitsPerSample = s.bits;
    rec.streamDetail = seconds;
    rec.durationSec = seconds;
    rec.fileSize = recordFileSize(size);
    return 0;
}

int analyzeMtvAmv(const std::string& path, MediaRecord& rec, uint64_t size, bool amv) {
    if (loadOrvomtvdec() < 0) return -2;
    OrvomtvdecApi& d = orvomtvdec;
    auto close = [&] {
        if (amv)
            d.amv_close();
        else
            d.mtv_close();
        unloadOrvomtvdec();
    };
    if ((amv ? d.amv_init(path.c_str()) : d.mtv_init(path.c_str())) < 0) {
        refuse(caption::kProduct, text::kNoAvCoding, path);
        close();
        return -1;
    }
    int width = 0, height = 0, third = 0, fourth = 0;
    double seconds = 0;
    int frames = amv ? d.amv_getvideo(&width, &height, &third, &fourth, &seconds)
                     : d.mtv_getvideo(&width, &height, &third, &fourth, &seconds);
    int rate = 0, channels = 0, blocks = 0;
    int a =
        amv ? d.amv_getaudio(&rate, &channels, &blocks) : d.mtv_getaudio(&rate, &channels, &blocks);
    const bool bad = int64_t(width) * height <= 10 || frames <= 1 || a < 0 || rate <= 0 ||
                     channels <= 0 || (!amv && blocks <= 10);
    if (bad) {
        refuse(caption::kProduct, text::kAnalysisError, path);
        close();
        return -2;
    }
    setField(rec.typeName, sizeof rec.typeName, amv ? "AMV" : "MTV");
    rec.kind = kindCode(amv ? MediaKind::Amv : MediaKind::Mtv);
    rec.fileSize = recordFileSize(size);
    rec.sampleRate = rate;
    rec.channels = channels;
    rec.streamDetail = 1;
    rec.durationSec = seconds > 0 && seconds < 2e9 ? static_cast<int32_t>(seconds) : 0;
    close();
    return 0;
}

} // namespace kestrel
