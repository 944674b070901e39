#include "engine/convert/avi_output.h"

#include "engine/settings/settings.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

int avi_errno = kAviNoError;

namespace {

// Little-endian writing into the header area.
class HeaderBytes {
  public:
    explicit HeaderBytes(std::array<uint8_t, kAviHeaderBytes>& b) : b_(b) {}
    void fourcc(const char* s) {
        std::memcpy(&b_[at_], s, 4);
        at_ += 4;
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b_[at_++] = static_cast<uint8_t>(v >> (8 * i));
    }
    void u16(uint16_t v) {
        b_[at_++] = static_cast<uint8_t>(v);
        b_[at_++] = static_cast<uint8_t>(v >> 8);
    }
    void zeros(uint32_t n) {
        std::memset(&b_[at_], 0, n);
        at_ += n;
    }
    uint32_t at() const { return at_; }
    void seek(uint32_t at) { at_ = at; }

  private:
    std::array<uint8_t, kAviHeaderBytes>& b_;
    uint32_t at_ = 0;
};

void le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool writeAll(FILE* f, const void* data, size_t n) {
    return n == 0 || std::fwrite(data, 1, n, f) == n;
}

} // namespace

std::unique_ptr<AviWriter> avi_open_output(FILE* file) {
    auto w = std::make_unique<AviWriter>();
    w->file = file;
    static const uint8_t zeros[kAviHeaderBytes] = {};
    if (!file || !writeAll(file, zeros, sizeof zeros)) {
        avi_errno = kAviWrite;
        return nullptr;
    }
    w->position = kAviHeaderBytes;
    return w;
}

void avi_set_audio(AviWriter& w, int channels, int rate, int bits, int formatTag, int kbps) {
    w.audioChannels = channels;
    w.audioRate = rate;
    w.audioBits = bits;
    w.audioFormat = formatTag;
    w.audioByteRate = static_cast<uint32_t>(kbps > 0 ? kbps : 0) * 1000u / 8u;
}

int avi_write_audio(AviWriter& w, const uint8_t* data, uint32_t length) {
    if (!w.file) {
        avi_errno = kAviNotPermitted;
        return -1;
    }
    const uint64_t after = uint64_t(w.position) + 16ull * w.index.size() + length + 32;
    if (after > kAviMaxFileBytes) {
        avi_errno = kAviSizeLimit;
        return -1;
    }
    uint8_t head[8] = {'0', '1', 'w', 'b'};
    le32(head + 4, length);
    static const uint8_t pad = 0;
    if (std::fseek(w.file, static_cast<long>(w.position), SEEK_SET) != 0 ||
        !writeAll(w.file, head, sizeof head) || !writeAll(w.file, data, length) ||
        ((length & 1) && !writeAll(w.file, &pad, 1))) {
        const int err = errno;
        std::clearerr(w.file);
        std::fseek(w.file, static_cast<long>(w.position), SEEK_SET);
        errno = err;
        avi_errno = kAviWrite;
        return -1;
    }
    w.index.push_back(AviIndexEntry{{'0', '1', 'w', 'b'}, 0, w.position, length});
    w.position += 8 + length + (length & 1);
    w.audioBytes += length;
    return 0;
}

std::array<uint8_t, kAviHeaderBytes> aviHeader(const AviWriter& w) {
    std::array<uint8_t, kAviHeaderBytes> b{};
    HeaderBytes h(b);
    const bool audio = w.audioBytes > 0;
    const uint32_t usPerFrame =
        w.frameRate > 0.0001 ? static_cast<uint32_t>(1000000.0 / w.frameRate + 0.5) : 0;
    uint32_t flags = 0x10010;
    if (w.mustUseIndex) flags = 0x10030;
    if (w.indexFailed) flags = 0x10000;

    h.fourcc("RIFF");
    h.u32(w.position + (w.indexFailed ? 0 : 8 + 16 * uint32_t(w.index.size())) - 8);
    h.fourcc("AVI ");
    h.fourcc("LIST");
    const uint32_t hdrlSizeAt = h.at();
    h.u32(0); // the header list's size, known at its end
    h.fourcc("hdrl");

    h.fourcc("avih");
    h.u32(56);
    h.u32(usPerFrame);
    h.u32(10000000); // max bytes per second
    h.u32(0);        // padding granularity
    h.u32(flags);
    h.u32(w.videoFrames);
    h.u32(0); // initial frames
    h.u32(audio ? 2 : 1);
    h.u32(0); // suggested buffer
    h.u32(static_cast<uint32_t>(w.width));
    h.u32(static_cast<uint32_t>(w.height));
    h.zeros(16);

    // The video stream (empty).
    h.fourcc("LIST");
    h.u32(124);
    h.fourcc("strl");
    h.fourcc("strh");
    h.u32(64);
    h.fourcc("vids");
    h.fourcc(w.compressor);
    h.u32(0); // flags
    h.u32(0); // priority
    h.u32(0); // initial frames
    h.u32(usPerFrame);
    h.u32(1000000);
    h.u32(0); // start
    h.u32(w.videoFrames);
    h.u32(0);          // suggested buffer
    h.u32(0xFFFFFFFF); // quality
    h.u32(0);          // sample size
    h.zeros(16);
    h.fourcc("strf");
    h.u32(40);
    h.u32(40);
    h.u32(static_cast<uint32_t>(w.width));
    h.u32(static_cast<uint32_t>(w.height));
    h.u16(1);  // planes
    h.u16(24); // bit count
    h.fourcc(w.compressor);
    h.u32(static_cast<uint32_t>(w.width) * static_cast<uint32_t>(w.height));
    h.zeros(16);

    if (audio) {
        h.fourcc("LIST");
        h.u32(100);
        h.fourcc("strl");
        h.fourcc("strh");
        h.u32(64);
        h.fourcc("auds");
        h.u32(85); // handler
        h.u32(0);  // flags
        h.u32(0);  // priority
        h.u32(0);  // initial frames
        h.u32(1);  // scale
        h.u32(w.audioByteRate);
        h.u32(0); // start
        h.u32(w.audioBytes);
        h.u32(0);          // suggested buffer
        h.u32(0xFFFFFFFF); // quality
        h.u32(1);          // sample size
        h.zeros(16);
        h.fourcc("strf");
        h.u32(16);
        h.u16(static_cast<uint16_t>(w.audioFormat));
        h.u16(static_cast<uint16_t>(w.audioChannels));
        h.u32(static_cast<uint32_t>(w.audioRate));
        h.u32(static_cast<uint32_t>(w.audioRate)); // average bytes per second
        h.u16(1);                                  // block align
        h.u16(static_cast<uint16_t>(w.audioBits));
    }
    const uint32_t headerEnd = h.at();
    h.seek(hdrlSizeAt);
    h.u32(headerEnd - 20);

    h.seek(headerEnd);
    h.fourcc("JUNK");
    h.u32(kAviMoviListAt - (headerEnd + 8));
    h.seek(kAviMoviListAt);
    h.fourcc("LIST");
    h.u32(w.position - (kAviMoviListAt + 8));
    h.fourcc("movi");
    return b;
}

int avi_close(AviWriter& w) {
    if (!w.file) {
        avi_errno = kAviNotPermitted;
        return -1;
    }
    // The index, as one chunk at the end of the data.
    std::vector<uint8_t> idx(8 + 16 * w.index.size());
    std::memcpy(idx.data(), "idx1", 4);
    le32(idx.data() + 4, static_cast<uint32_t>(16 * w.index.size()));
    uint8_t* p = idx.data() + 8;
    for (const auto& e : w.index) {
        std::memcpy(p, e.id, 4);
        le32(p + 4, e.flags);
        le32(p + 8, e.offset);
        le32(p + 12, e.size);
        p += 16;
    }
    auto writeIndex = [&] {
        return std::fseek(w.file, static_cast<long>(w.position), SEEK_SET) == 0 &&
               writeAll(w.file, idx.data(), 8 + 16 * w.index.size());
    };
    bool indexed = writeIndex();
    if (!indexed) {
        // A full disk: the last chunks give their room to the index, so that
        // the file stays a whole AVI of what it keeps.
        std::clearerr(w.file);
        struct stat st;
        const uint64_t room = ::fstat(fileno(w.file), &st) == 0 ? uint64_t(st.st_size) : 0;
        while (!w.index.empty() && uint64_t(w.position) + 8 + 16 * w.index.size() > room) {
            w.position = w.index.back().offset;
            w.audioBytes -= w.index.back().size;
            w.index.pop_back();
        }
        le32(idx.data() + 4, static_cast<uint32_t>(16 * w.index.size()));
        indexed = !w.index.empty() && writeIndex();
        if (!indexed) {
            std::clearerr(w.file);
            avi_errno = kAviWriteIndex;
            w.indexFailed = true;
        }
    }
    uint64_t end = w.position;
    if (indexed) end += 8 + 16 * w.index.size();
    const auto header = aviHeader(w);
    if (std::fseek(w.file, 0, SEEK_SET) != 0 || !writeAll(w.file, header.data(), header.size()) ||
        std::fflush(w.file) != 0 || ::ftruncate(fileno(w.file), static_cast<off_t>(end)) != 0 ||
        std::fseek(w.file, 0, SEEK_END) != 0) {
        avi_errno = kAviClose;
        return -1;
    }
    return 0;
}

namespace {

void aviFrameSink(const uint8_t* bytes, int length, void* context) {
    auto& o = *static_cast<AviOutput*>(context);
    if (o.writeErrno || !o.writer || length <= 0) return;
    if (avi_write_audio(*o.writer, bytes, static_cast<uint32_t>(length)) < 0)
        o.writeErrno = avi_errno == kAviSizeLimit ? EFBIG : (errno ? errno : EIO);
}

} // namespace

int aviOutputOpen(AviOutput& o, Mp3EncoderState& mp3, FILE* file, int kbps) {
    o = AviOutput();
    const EffectiveOutputFormat& f = outputFormat;
    errno = 0;
    o.writer = avi_open_output(file);
    if (!o.writer) {
        if (!errno) errno = EIO;
        return -1;
    }
    avi_set_audio(*o.writer, f.out_channels, f.out_rate, 16, 0x55, kbps);
    if (mp3EncoderSetup(mp3, kOutAvi) < 0) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

int aviOutputBlock(AviOutput& o, Mp3EncoderState& mp3, const uint8_t* pcm, int length) {
    if (o.writeErrno || !o.writer) return -1;
    errno = 0;
    if (mp3EncodeBlock(mp3, pcm, length, aviFrameSink, &o) < 0) return -1; // encodeFailed
    if (o.writeErrno) {
        errno = o.writeErrno;
        return -1;
    }
    return 0;
}

int aviOutputFinish(AviOutput& o, Mp3EncoderState& mp3) {
    if (!o.writer) return 0;
    if (!o.writeErrno)
        mp3EncoderFinish(mp3, aviFrameSink, &o, nullptr);
    else
        mp3EncoderAbandon(mp3);
    errno = 0;
    int rc = avi_close(*o.writer);
    const int err = errno ? errno : EIO;
    o.writer.reset();
    if (rc < 0) {
        errno = err;
        return -1;
    }
    return 0;
}

} // namespace kestrel
