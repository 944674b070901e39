#include "orvomtvdec/orvomtvdec.h"

#include "engine/core/mpeg_audio_header.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kMtvHeaderBytes = 512;
constexpr int kMtvSubBlockBytes = 512; // 12 bytes of padding + 500 bytes of audio
constexpr int kMtvPadding = 12;
constexpr int kMtvAudioBytes = 500;

unsigned rl16(const uint8_t* p) {
    return p[0] | (p[1] << 8);
}
unsigned rl24(const uint8_t* p) {
    return rl16(p) | (p[2] << 16);
}
uint32_t rl32(const uint8_t* p) {
    return rl16(p) | (uint32_t(rl16(p + 2)) << 16);
}

struct Reader {
    FILE* fp = nullptr;
    int64_t size = 0;
    ~Reader() {
        if (fp) std::fclose(fp);
    }
    bool open(const char* path) {
        fp = path ? std::fopen(path, "rb") : nullptr;
        if (!fp || fseeko(fp, 0, SEEK_END) != 0) return false;
        size = ftello(fp);
        return size >= 0;
    }
    bool read(int64_t pos, void* buf, size_t n) {
        return pos >= 0 && pos + int64_t(n) <= size && fseeko(fp, pos, SEEK_SET) == 0 &&
               std::fread(buf, 1, n, fp) == n;
    }
};

// Rate and channels of the first MPEG audio frame header in `data`.
bool mpegAudioFormat(const uint8_t* d, size_t n, int& rate, int& channels) {
    for (size_t i = 0; i + 4 <= n; ++i) {
        kestrel::MpegAudioHeader h;
        if (d[i] != 0xFF || !kestrel::parseMpegAudioHeader(d + i, h)) continue;
        rate = h.sampleRate;
        channels = h.channels;
        return true;
    }
    return false;
}

// ---- MTV ----

struct Mtv {
    Reader in;
    int width = 0, height = 0, pictureBytes = 0, subBlocks = 0, bitRate = 0;
    int colourFormat = 0, bpp = 16, fps = 0;
    int frames = 0, rate = 44100, channels = 2;
    int64_t frameBytes = 0;
};

thread_local Mtv* g_mtv = nullptr;

int readMtvBlock(Mtv& m, int index, unsigned char* buf, int capacity) {
    if (!buf || index < 0 || index >= m.frames) return -1;
    int bytes = m.subBlocks * kMtvAudioBytes;
    if (bytes > capacity) return -2;
    int64_t base = kMtvHeaderBytes + int64_t(index) * m.frameBytes;
    for (int k = 0; k < m.subBlocks; ++k)
        if (!m.in.read(base + int64_t(k) * kMtvSubBlockBytes + kMtvPadding,
                       buf + k * kMtvAudioBytes, kMtvAudioBytes))
            return -3;
    return bytes;
}

// ---- AMV ----

struct AmvChunk {
    int64_t offset;
    int size;
};

struct Amv {
    Reader in;
    int width = 0, height = 0, fpsNum = 0, fpsDen = 0;
    uint32_t usPerFrame = 0;
    int frames = 0, rate = 0, channels = 0;
    std::vector<AmvChunk> audio;
};

thread_local Amv* g_amv = nullptr;

bool isTag(const uint8_t* p, const char* t) {
    return std::memcmp(p, t, 4) == 0;
}

bool movieTag(const uint8_t* p) {
    return isTag(p, "00dc") || isTag(p, "01wb") || isTag(p, "AMV_") || isTag(p, "JUNK") ||
           isTag(p, "idx1");
}

// Walks the movie list from `pos` to its end: pictures are counted, audio
// chunks indexed. Stops at "AMV_END_", at anything unknown or at a chunk that
// runs past the end.
int scanMovie(Amv& a, int64_t pos, int64_t end) {
    uint8_t h[8];
    while (pos + 8 <= end && a.in.read(pos, h, 8)) {
        if (isTag(h, "AMV_")) break;
        if (!movieTag(h)) break;
        uint32_t size = rl32(h + 4);
        if (int64_t(size) > end - pos - 8) break; // truncated chunk
        if (isTag(h, "00dc")) ++a.frames;
        if (isTag(h, "01wb")) {
            if (size > MTVDEC_MAX_BLOCK) return -2;
            a.audio.push_back({pos + 8, int(size)});
        }
        int64_t next = pos + 8 + size;
        // Chunks are padded to even sizes, but not every writer does it.
        if (size & 1) {
            uint8_t t[4];
            if (a.in.read(next + 1, t, 4) && movieTag(t)) ++next;
        }
        pos = next;
    }
    return 0;
}

int parseAmv(Amv& a) {
    uint8_t h[12];
    if (!a.in.read(0, h, 12) || !isTag(h, "RIFF") || !isTag(h + 8, "AMV ")) return -2;
    int64_t pos = 12, end = a.in.size;
    int formats = 0;
    bool haveHeader = false;
    while (pos + 8 <= end) {
        if (!a.in.read(pos, h, 8)) break;
        uint32_t size = rl32(h + 4);
        if (isTag(h, "LIST")) {
            uint8_t type[4];
            if (!a.in.read(pos + 8, type, 4)) break;
            if (isTag(type, "movi")) {
                // Sizes of zero (or beyond the file) mean "to the end of the file".
                int64_t listEnd =
                    size >= 4 && int64_t(size) <= end - pos - 8 ? pos + 8 + size : end;
                int r = scanMovie(a, pos + 12, listEnd);
                if (r < 0) return r;
                break;
            }
            pos += 12; // header and stream lists: walk into them
            continue;
        }
        if (int64_t(size) > end - pos - 8) break;
        bool wanted = (isTag(h, "amvh") || isTag(h, "strf")) && size <= 4096;
        std::vector<uint8_t> body(wanted ? size : 0);
        if (wanted && size && !a.in.read(pos + 8, body.data(), size)) break;
        if (!wanted) {
            // not needed
        } else if (isTag(h, "amvh") && size >= 48) {
            a.usPerFrame = rl32(&body[0]);
            a.width = int(rl32(&body[32]) & 0xFFFF);
            a.height = int(rl32(&body[36]) & 0xFFFF);
            a.fpsNum = int(rl32(&body[40]) & 0xFFFF);
            a.fpsDen = int(rl32(&body[44]) & 0xFFFF);
            haveHeader = true;
        } else if (isTag(h, "strf")) {
            if (++formats == 2 && size >= 8) {
                a.channels = int(rl16(&body[2]));
                a.rate = int(rl32(&body[4]));
            }
        }
        pos += 8 + size + (size & 1);
    }
    if (!haveHeader || a.width <= 0 || a.height <= 0) return -2;
    if (a.channels < 1 || a.channels > 2 || a.rate <= 0 || a.rate > 384000) return -2;
    if (a.frames == 0 || a.audio.empty()) return -3;
    return 0;
}

double amvFps(const Amv& a) {
    if (a.fpsNum > 0 && a.fpsDen > 0) return double(a.fpsNum) / a.fpsDen;
    if (a.usPerFrame > 0) return 1e6 / a.usPerFrame;
    return 0;
}

} // namespace

extern "C" {

ORVOMTVDEC_API int mtv_init(const char* path) {
    mtv_close();
    auto* m = new Mtv;
    if (!m->in.open(path)) {
        delete m;
        return -1;
    }
    uint8_t h[kMtvHeaderBytes];
    if (!m->in.read(0, h, sizeof h) || std::memcmp(h, "AMV", 3) != 0 ||
        std::memcmp(h + 43, "MP3", 3) != 0) {
        delete m;
        return -2;
    }
    m->bitRate = int(rl16(h + 46));
    m->colourFormat = int(rl24(h + 48));
    m->width = int(rl16(h + 52));
    m->height = int(rl16(h + 54));
    m->pictureBytes = int(rl16(h + 56));
    m->subBlocks = int(rl16(h + 62));
    // Pictures are 16 bits per pixel whatever the header says; a missing side
    // follows from the picture size.
    if (m->width == 0 && m->height > 0) m->width = m->pictureBytes / 2 / m->height;
    if (m->height == 0 && m->width > 0) m->height = m->pictureBytes / 2 / m->width;
    if (m->width <= 0 || m->height <= 0 || m->pictureBytes <= 0 || m->subBlocks <= 0 ||
        m->subBlocks * kMtvAudioBytes > MTVDEC_MAX_BLOCK) {
        delete m;
        return -2;
    }
    m->frameBytes = int64_t(m->subBlocks) * kMtvSubBlockBytes + m->pictureBytes;
    int64_t frames = (m->in.size - kMtvHeaderBytes) / m->frameBytes;
    if (frames <= 0) {
        delete m;
        return -3;
    }
    m->frames = frames > INT32_MAX ? INT32_MAX : int(frames);
    m->fps = m->bitRate / 4 / m->subBlocks;
    std::vector<uint8_t> first(size_t(m->subBlocks) * kMtvAudioBytes);
    if (readMtvBlock(*m, 0, first.data(), int(first.size())) > 0)
        mpegAudioFormat(first.data(), first.size(), m->rate, m->channels);
    g_mtv = m;
    return 0;
}

ORVOMTVDEC_API int mtv_getvideo(int* width, int* height, int* frame_rate, int* picture_bytes,
                                double* seconds) {
    Mtv* m = g_mtv;
    if (!m) return -1;
    if (width) *width = m->width;
    if (height) *height = m->height;
    if (frame_rate) *frame_rate = m->fps;
    if (picture_bytes) *picture_bytes = m->pictureBytes;
    if (seconds) {
        if (m->fps > 0)
            *seconds = double(m->frames) / m->fps;
        else if (m->bitRate > 0)
            *seconds =
                double(m->frames) * m->subBlocks * kMtvAudioBytes * 8 / (m->bitRate * 1000.0);
        else
            *seconds = 0;
    }
    return m->frames;
}

ORVOMTVDEC_API int mtv_getaudio(int* sample_rate, int* channels, int* blocks) {
    Mtv* m = g_mtv;
    if (!m) return -1;
    if (sample_rate) *sample_rate = m->rate;
    if (channels) *channels = m->channels;
    if (blocks) *blocks = m->frames;
    return 0;
}

ORVOMTVDEC_API int mtv_getpicinfo(int* colour_format, int* bits_per_pixel, int* bit_rate) {
    Mtv* m = g_mtv;
    if (!m) return -1;
    if (colour_format) *colour_format = m->colourFormat;
    if (bits_per_pixel) *bits_per_pixel = m->bpp;
    if (bit_rate) *bit_rate = m->bitRate;
    return 0;
}

ORVOMTVDEC_API int mtv_getdata(int index, unsigned char* buffer, int capacity) {
    return g_mtv ? readMtvBlock(*g_mtv, index, buffer, capacity) : -1;
}

ORVOMTVDEC_API int mtv_close(void) {
    delete g_mtv;
    g_mtv = nullptr;
    return 0;
}

ORVOMTVDEC_API int amv_init(const char* path) {
    amv_close();
    auto* a = new Amv;
    if (!a->in.open(path)) {
        delete a;
        return -1;
    }
    int r = parseAmv(*a);
    if (r < 0) {
        delete a;
        return r;
    }
    g_amv = a;
    return 0;
}

ORVOMTVDEC_API int amv_getvideo(int* width, int* height, int* frame_rate, int* us_per_frame,
                                double* seconds) {
    Amv* a = g_amv;
    if (!a) return -1;
    double fps = amvFps(*a);
    if (width) *width = a->width;
    if (height) *height = a->height;
    if (frame_rate) *frame_rate = int(std::lround(fps));
    if (us_per_frame)
        *us_per_frame = a->usPerFrame ? int(a->usPerFrame)
                        : fps > 0     ? int(std::lround(1e6 / fps))
                                      : 0;
    if (seconds) *seconds = fps > 0 ? a->frames / fps : 0;
    return a->frames;
}

ORVOMTVDEC_API int amv_getaudio(int* sample_rate, int* channels, int* blocks) {
    Amv* a = g_amv;
    if (!a) return -1;
    if (sample_rate) *sample_rate = a->rate;
    if (channels) *channels = a->channels;
    if (blocks) *blocks = int(a->audio.size());
    return 0;
}

ORVOMTVDEC_API int amv_getdata(int index, unsigned char* buffer, int capacity) {
    Amv* a = g_amv;
    if (!a || !buffer || index < 0 || size_t(index) >= a->audio.size()) return -1;
    const AmvChunk& c = a->audio[size_t(index)];
    if (c.size > capacity) return -2;
    if (c.size > 0 && !a->in.read(c.offset, buffer, size_t(c.size))) return -3;
    return c.size;
}

ORVOMTVDEC_API int amv_close(void) {
    delete g_amv;
    g_amv = nullptr;
    return 0;
}

} // extern "C"
