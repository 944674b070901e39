#include "engine/convert/flv_output.h"

#include "engine/core/mpeg_audio_header.h"
#include "engine/settings/settings.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {

void put24(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 16);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v);
}

void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    put24(p + 1, v);
}

uint32_t get24(const uint8_t* p) {
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | get24(p + 1);
}

bool writeAll(FILE* f, const void* data, size_t n) {
    return n == 0 || std::fwrite(data, 1, n, f) == n;
}

constexpr uint8_t kFlvFileHeader[9] = {'F', 'L', 'V', 1, 4, 0, 0, 0, 9};
constexpr uint8_t kTagAudio = 8, kTagVideo = 9, kTagScript = 18;

// AMF0 values of the script tag.
class Amf0 {
  public:
    std::vector<uint8_t> bytes;
    void string(const char* s) {
        bytes.push_back(2);
        rawString(s);
    }
    void rawString(const char* s) {
        const size_t n = std::strlen(s);
        bytes.push_back(static_cast<uint8_t>(n >> 8));
        bytes.push_back(static_cast<uint8_t>(n));
        bytes.insert(bytes.end(), s, s + n);
    }
    void number(double v) {
        bytes.push_back(0);
        uint64_t u;
        std::memcpy(&u, &v, 8);
        for (int i = 7; i >= 0; --i)
            bytes.push_back(static_cast<uint8_t>(u >> (8 * i)));
    }
    void boolean(bool v) {
        bytes.push_back(1);
        bytes.push_back(v ? 1 : 0);
    }
};

// The ECMA array of the onMetaData tag with its entries in their order.
class MetaArray {
  public:
    void number(const char* key, double v) {
        amf_.rawString(key);
        amf_.number(v);
        ++count_;
    }
    void boolean(const char* key, bool v) {
        amf_.rawString(key);
        amf_.boolean(v);
        ++count_;
    }
    void string(const char* key, const char* v) {
        amf_.rawString(key);
        amf_.string(v);
        ++count_;
    }
    // "onMetaData", the array with its entry count, the object-end marker.
    std::vector<uint8_t> data() const {
        Amf0 out;
        out.string("onMetaData");
        out.bytes.push_back(8);
        uint8_t n[4];
        put32(n, count_);
        out.bytes.insert(out.bytes.end(), n, n + 4);
        out.bytes.insert(out.bytes.end(), amf_.bytes.begin(), amf_.bytes.end());
        out.bytes.push_back(0);
        out.bytes.push_back(0);
        out.bytes.push_back(9);
        return out.bytes;
    }

  private:
    Amf0 amf_;
    uint32_t count_ = 0;
};

} // namespace

uint8_t flvAudioHeader(int rate, int channels) {
    const int code = rate == 44100 ? 3 : rate == 22050 ? 2 : rate == 11025 ? 1 : 0;
    return static_cast<uint8_t>(0x22 + code * 4 + (channels != 1 ? 1 : 0));
}

uint32_t flvTimestampMs(uint64_t pcmBytes, int rate, int channels) {
    const uint64_t perMs2 = static_cast<uint64_t>(rate) * static_cast<uint64_t>(channels);
    if (perMs2 == 0) return 0;
    return static_cast<uint32_t>(pcmBytes * 500u / perMs2);
}

int flvTagsOpen(FlvTagWriter& w, const std::string& path, int rate, int channels) {
    w = FlvTagWriter();
    w.path = path;
    w.rate = rate;
    w.channels = channels;
    w.file = std::fopen(path.c_str(), "wb");
    if (!w.file) return -1;
    if (!writeAll(w.file, kFlvFileHeader, sizeof kFlvFileHeader)) {
        const int err = errno ? errno : EIO;
        flvTagsDiscard(w);
        errno = err;
        return -1;
    }
    return 0;
}

int flvTagsWrite(FlvTagWriter& w, const uint8_t* mp3, size_t mp3Length, uint64_t pcmLength) {
    if (!w.file || w.writeErrno) return -1;
    const size_t dataSize = 1 + mp3Length;
    if (dataSize > 0xFFFFFF) { // more than a tag holds: never for one block
        w.writeErrno = EFBIG;
        return -1;
    }
    w.tag.resize(16 + mp3Length);
    uint8_t* p = w.tag.data();
    put32(p, w.previousTagSize);
    p[4] = kTagAudio;
    put24(p + 5, static_cast<uint32_t>(dataSize));
    const uint32_t ts = flvTimestampMs(w.pcmBytes, w.rate, w.channels);
    put24(p + 8, ts & 0xFFFFFF);
    p[11] = static_cast<uint8_t>(ts >> 24);
    put24(p + 12, 0);
    p[15] = flvAudioHeader(w.rate, w.channels);
    if (mp3Length) std::memcpy(p + 16, mp3, mp3Length);
    errno = 0;
    if (!writeAll(w.file, p, w.tag.size())) {
        w.writeErrno = errno ? errno : EIO;
        return -1;
    }
    w.previousTagSize = static_cast<uint32_t>(11 + dataSize);
    w.pcmBytes += pcmLength;
    return 0;
}

int flvTagsClose(FlvTagWriter& w) {
    if (!w.file) return 0;
    uint8_t last[4];
    put32(last, w.previousTagSize);
    errno = 0;
    bool ok = w.writeErrno == 0 && writeAll(w.file, last, 4);
    int err = ok ? 0 : (w.writeErrno ? w.writeErrno : (errno ? errno : EIO));
    if (std::fclose(w.file) != 0 && ok) {
        ok = false;
        err = errno ? errno : EIO;
    }
    w.file = nullptr;
    if (!ok) errno = err;
    return ok ? 0 : -1;
}

void flvTagsDiscard(FlvTagWriter& w) {
    if (w.file) std::fclose(w.file);
    w.file = nullptr;
    if (!w.path.empty()) std::remove(w.path.c_str());
}

std::vector<uint8_t> flvOnMetaDataTag(const FlvFacts& f, double fileSize,
                                      const FlvMetaTexts& texts) {
    MetaArray a;
    a.string("metadatacreator", kFlvMetadataCreator);
    a.boolean("hasKeyframes", f.hasKeyframes);
    a.boolean("hasVideo", f.hasVideo);
    a.boolean("hasAudio", f.hasAudio);
    a.boolean("hasMetadata", true);
    a.boolean("canSeekToEnd", f.canSeekToEnd);
    const double duration = f.lastTimestamp;
    a.number("duration", duration);
    a.number("datasize", double(f.dataSize));
    if (f.hasVideo) {
        a.number("videosize", double(f.videoSize));
        a.number("videocodecid", f.videoCodecId);
        a.number("framerate", duration > 0 ? double(f.videoFrames) / duration : 0.0);
        a.number("videodatarate",
                 duration > 0 ? double(f.videoDataBytes) * 8 / 1024 / duration : 0.0);
    }
    a.number("audiosize", double(f.audioSize));
    a.number("audiocodecid", f.audioCodecId);
    a.number("audiosamplerate", f.audioSampleRate);
    a.number("audiosamplesize", f.audioSampleSize);
    a.boolean("stereo", f.stereo);
    // An output shorter than a second has the duration 0: its rate is 0.
    a.number("audiodatarate", f.audioDataBytes > 0 && duration > 0
                                  ? double(f.audioDataBytes) * 8 / 1024 / duration
                                  : 0.0);
    a.number("filesize", fileSize);
    a.number("lasttimestamp", f.lastTimestamp);
    auto text = [&a](const char* key, const std::string& v) {
        if (v.empty()) return;
        size_t n = std::min(v.size(), kFlvMetaTextBytes);
        while (n < v.size() && n > 0 && (static_cast<uint8_t>(v[n]) & 0xC0) == 0x80)
            --n;
        a.string(key, v.substr(0, n).c_str());
    };
    text("title", texts.title);
    text("artist", texts.artist);
    const std::vector<uint8_t> data = a.data();

    std::vector<uint8_t> tag(11 + data.size() + 4);
    tag[0] = kTagScript;
    put24(&tag[1], static_cast<uint32_t>(data.size()));
    std::memcpy(&tag[11], data.data(), data.size());
    put32(&tag[11 + data.size()], static_cast<uint32_t>(11 + data.size()));
    return tag;
}

namespace {

struct TagRef {
    uint64_t at;       // file position of the tag header
    uint32_t dataSize; // bytes after the 11-byte header
};

// Reads `n` bytes at `at`; false when the file gives fewer.
bool readAt(FILE* f, uint64_t at, uint8_t* out, size_t n) {
    return std::fseek(f, static_cast<long>(at), SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
}

// Scans the tags of the open file `f` of `size` bytes: the ones to copy and the
// facts. False when a read failed.
bool scanTags(FILE* f, uint64_t size, uint64_t first, std::vector<TagRef>& tags, FlvFacts& facts) {
    uint64_t pos = first;
    uint8_t h[12];
    while (pos + 11 <= size) {
        if (!readAt(f, pos, h, 12 <= size - pos ? 12 : 11)) return false;
        const uint32_t dataSize = get24(h + 1);
        const uint64_t end = pos + 11 + uint64_t(dataSize) + 4;
        if (end > size) break; // a cut tag ends the scan
        const uint32_t ts = get24(h + 4) | uint32_t(h[7]) << 24;
        const uint8_t type = h[0] & 0x1F;
        const uint8_t firstByte = dataSize > 0 ? h[11] : 0;
        if (type == kTagAudio) {
            facts.dataSize += uint64_t(dataSize) + 15;
            facts.audioSize += uint64_t(dataSize) + 11;
            facts.audioDataBytes += dataSize;
            if (!facts.hasAudio) {
                static const int rates[4] = {5500, 11000, 22000, 44100};
                facts.hasAudio = true;
                facts.audioCodecId = firstByte >> 4;
                facts.audioSampleRate = rates[(firstByte >> 2) & 3];
                facts.audioSampleSize = (firstByte & 2) ? 16 : 8;
                facts.stereo = (firstByte & 1) != 0;
            }
            tags.push_back(TagRef{pos, dataSize});
        } else if (type == kTagVideo) {
            facts.dataSize += uint64_t(dataSize) + 15;
            facts.videoSize += uint64_t(dataSize) + 11;
            facts.videoDataBytes += dataSize;
            ++facts.videoFrames;
            if (!facts.hasVideo) {
                facts.hasVideo = true;
                facts.videoCodecId = firstByte & 0x0F;
            }
            tags.push_back(TagRef{pos, dataSize});
        }
        facts.lastTimestamp = ts / 1000.0;
        pos = end;
    }
    return true;
}

} // namespace

int inject_flv_metadata(const std::string& inPath, FILE* out, uint64_t maxBytes,
                        const FlvMetaTexts& texts) {
    struct stat st;
    if (::stat(inPath.c_str(), &st) != 0) {
        std::fprintf(stderr, "Couldn't stat on %s.\n", inPath.c_str());
        return kFlvStatFailed;
    }
    FILE* in = std::fopen(inPath.c_str(), "rb");
    if (!in) return kFlvOpenFailed;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    uint8_t head[9];
    if (size < 9 || !readAt(in, 0, head, 9)) {
        std::fclose(in);
        return size < 9 ? kFlvNotFlv : kFlvReadFailed;
    }
    if (std::memcmp(head, "FLV", 3) != 0) {
        std::fclose(in);
        return kFlvNotFlv;
    }
    const uint64_t first = uint64_t(get32(head + 5)) + 4;
    std::vector<TagRef> tags;
    FlvFacts facts;
    if (!scanTags(in, size, first, tags, facts)) {
        std::fclose(in);
        return kFlvReadFailed;
    }
    // Measure the metadata tag (its size does not depend on the values), then
    // build it with the final size.
    const size_t metaBytes = flvOnMetaDataTag(facts, 0, texts).size();
    if (13 + metaBytes + facts.dataSize > maxBytes) {
        // Only the tags that fit: the facts again for those.
        uint64_t room = maxBytes > 13 + metaBytes ? maxBytes - 13 - metaBytes : 0;
        size_t keep = 0;
        while (keep < tags.size() && uint64_t(tags[keep].dataSize) + 15 <= room)
            room -= uint64_t(tags[keep++].dataSize) + 15;
        const uint64_t end = keep < tags.size() ? tags[keep].at : size;
        tags.clear();
        facts = FlvFacts();
        if (!scanTags(in, end, first, tags, facts)) {
            std::fclose(in);
            return kFlvReadFailed;
        }
    }
    const uint64_t fileSize = 13 + metaBytes + facts.dataSize;
    const std::vector<uint8_t> meta = flvOnMetaDataTag(facts, double(fileSize), texts);

    uint8_t fileHeader[13] = {'F', 'L', 'V', 1, 0, 0, 0, 0, 9, 0, 0, 0, 0};
    fileHeader[4] = static_cast<uint8_t>((facts.hasAudio ? 4 : 0) + (facts.hasVideo ? 1 : 0));
    if (!writeAll(out, fileHeader, sizeof fileHeader) || !writeAll(out, meta.data(), meta.size())) {
        std::fclose(in);
        return kFlvWriteFailed;
    }
    std::vector<uint8_t> buf;
    for (const auto& t : tags) {
        buf.resize(11 + size_t(t.dataSize) + 4);
        if (!readAt(in, t.at, buf.data(), 11 + size_t(t.dataSize))) {
            std::fclose(in);
            return kFlvReadFailed;
        }
        put32(&buf[11 + t.dataSize], 11 + t.dataSize);
        if (!writeAll(out, buf.data(), buf.size())) {
            std::fclose(in);
            return kFlvWriteFailed;
        }
    }
    std::fclose(in);
    return std::fflush(out) == 0 ? 0 : kFlvWriteFailed;
}

int inject_flv_metadata(const std::string& inPath, const std::string& outPath) {
    FILE* out = std::fopen(outPath.c_str(), "wb");
    if (!out) return kFlvCreateFailed;
    int rc = inject_flv_metadata(inPath, out);
    if (std::fclose(out) != 0 && rc == 0) rc = kFlvWriteFailed;
    return rc;
}

namespace {

void flvFrameSink(const uint8_t* bytes, int length, void* context) {
    auto& o = *static_cast<FlvOutput*>(context);
    if (!o.tagPerFrame) {
        o.mp3.insert(o.mp3.end(), bytes, bytes + length);
        return;
    }
    // One frame: its tag, and the PCM it stands for moves the time stamp on.
    MpegAudioHeader h;
    const uint64_t pcm =
        length >= 4 && parseMpegAudioHeader(bytes, h)
            ? static_cast<uint64_t>(h.samplesPerFrame) * static_cast<uint64_t>(o.tags.channels) * 2
            : 0;
    flvTagsWrite(o.tags, bytes, static_cast<size_t>(length), pcm);
}

} // namespace

int flvOutputOpen(FlvOutput& o, Mp3EncoderState& mp3, const std::string& tagsPath) {
    const EffectiveOutputFormat& f = outputFormat;
    errno = 0;
    if (flvTagsOpen(o.tags, tagsPath, f.out_rate, f.out_channels) < 0) return -1;
    if (mp3EncoderSetup(mp3, kOutFlv) < 0) {
        flvTagsDiscard(o.tags);
        errno = EINVAL;
        return -1;
    }
    return 0;
}

int flvOutputBlock(FlvOutput& o, Mp3EncoderState& mp3, const uint8_t* pcm, int length) {
    if (o.tags.writeErrno) {
        errno = o.tags.writeErrno;
        return -1;
    }
    o.mp3.clear();
    o.tagPerFrame = mp3.threads > 1;
    if (mp3EncodeBlock(mp3, pcm, length, flvFrameSink, &o) < 0) return -1; // encodeFailed
    if (o.tagPerFrame) {
        if (!o.tags.writeErrno) return 0;
        errno = o.tags.writeErrno;
        return -1;
    }
    if (flvTagsWrite(o.tags, o.mp3.data(), o.mp3.size(), static_cast<uint64_t>(length)) < 0) {
        errno = o.tags.writeErrno;
        return -1;
    }
    return 0;
}

int flvOutputFinish(FlvOutput& o, Mp3EncoderState& mp3, FILE* out) {
    if (o.tags.path.empty()) return 0;
    int err = 0;
    if (o.tags.file && !o.tags.writeErrno) {
        // The encoder's last frames, in a tag at the end of the sound.
        o.mp3.clear();
        o.tagPerFrame = mp3.threads > 1;
        mp3EncoderFinish(mp3, flvFrameSink, &o, nullptr);
        if (!o.tagPerFrame) flvTagsWrite(o.tags, o.mp3.data(), o.mp3.size(), 0);
    } else {
        mp3EncoderAbandon(mp3);
    }
    // After a failed write the tags written whole are kept: the injector
    // takes every tag that ends within the file.
    if (flvTagsClose(o.tags) < 0 && !o.tags.writeErrno) err = errno;
    int rc = inject_flv_metadata(o.tags.path, out, UINT64_MAX, o.texts);
    if (rc == kFlvWriteFailed) {
        // The disk took part of it: the file again, within what it took.
        if (!err) err = errno ? errno : EIO;
        std::clearerr(out);
        struct stat st;
        if (::fstat(fileno(out), &st) == 0 && ::ftruncate(fileno(out), 0) == 0 &&
            std::fseek(out, 0, SEEK_SET) == 0) {
            rc = inject_flv_metadata(o.tags.path, out, static_cast<uint64_t>(st.st_size), o.texts);
            if (rc < 0) (void)::ftruncate(fileno(out), 0);
        }
    } else if (rc < 0 && !err) {
        err = EIO;
    }
    flvTagsDiscard(o.tags);
    o.tags.path.clear();
    if (err) {
        errno = err;
        return -1;
    }
    return 0;
}

} // namespace kestrel
