// MP3 encoding on libmp3lame. LAME hands out its bit stream in pieces that need
// not end on a frame boundary; the bytes are queued here and only whole frames
// are returned, so every non-empty result starts with a frame's sync byte.
#include "mp3enc.h"

#include "engine/core/mpeg_audio_header.h"
#include "segments.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Samples per channel that one wave_enmp3code call takes: four MPEG-1 frames,
// enough that every full call completes at least one frame.
constexpr int kSamplesPerChannel = 4608;
// LAME's worst case for n samples is 1.25 n + 7200 bytes; a queued unfinished
// frame (at most 1441 bytes) may come on top.
constexpr int kOutBufferSize = kSamplesPerChannel * 5 / 4 + 7200 + 4096;

struct Encoder {
    lame_global_flags* gf = nullptr;
    mp3enc::Config config; // the parameters of the last init call
    // Segment-parallel encoding (wave_enmp3_threads): it encodes instead of gf.
    std::unique_ptr<mp3enc::SegmentEncoder> segments;
    bool started = false; // wave_enmp3code has been called since the init
    int channels = 0;
    bool flushed = false;
    bool vbrTag = false;
    bool haveOddSample = false; // a left sample waiting for its right partner
    short oddSample = 0;
    std::vector<uint8_t> queue;   // encoded bytes not yet returned
    std::vector<uint8_t> scratch; // LAME's output of one call
    std::vector<short> staging;   // odd sample carried over + this call's samples

    ~Encoder() {
        if (gf) lame_close(gf); // the library is unloaded with an encoder still set up
    }
};

Encoder g_enc;

// Version index (0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5) of a sampling rate, -1 if none.
int versionOfRate(int rate) {
    switch (rate) {
    case 32000:
    case 44100:
    case 48000:
        return 0;
    case 16000:
    case 22050:
    case 24000:
        return 1;
    case 8000:
    case 11025:
    case 12000:
        return 2;
    default:
        return -1;
    }
}

// Length of the layer III frame whose header is at p, 0 when it is no header.
int frameLength(const uint8_t* p) {
    kestrel::MpegAudioHeader h;
    if (!kestrel::parseMpegAudioHeader(p, h) || h.layer != 3) return 0;
    return h.frameBytes;
}

// Moves the whole frames at the front of the queue into out (room for cap).
int takeFrames(uint8_t* out, int cap) {
    auto& q = g_enc.queue;
    size_t pos = 0;
    int written = 0;
    while (q.size() - pos >= 4) {
        int len = frameLength(q.data() + pos);
        if (len == 0) { // not at a frame start: skip to the next sync
            ++pos;
            continue;
        }
        if (q.size() - pos < static_cast<size_t>(len) || written + len > cap) break;
        std::memcpy(out + written, q.data() + pos, static_cast<size_t>(len));
        written += len;
        pos += static_cast<size_t>(len);
    }
    q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(pos));
    return written;
}

void release() {
    g_enc.segments.reset();
    g_enc.started = false;
    if (g_enc.gf) lame_close(g_enc.gf);
    g_enc.gf = nullptr;
    g_enc.queue.clear();
    g_enc.haveOddSample = false;
    g_enc.flushed = false;
    g_enc.vbrTag = false;
}

// Common part of the three init calls: checks the stream format, fills in
// the buffer sizes (even when the call fails, since callers may size their
// buffers without looking at the result; the encoder then refuses input) and
// sets up the encoder of `c`.
int init(int* spc, int* obs, mp3enc::Config c) {
    release();
    if (!spc || !obs) return -1;
    *spc = kSamplesPerChannel * (c.channels == 1 ? 1 : 2);
    *obs = kOutBufferSize;
    if (c.channels != 1 && c.channels != 2) return -1;
    if (versionOfRate(c.rate) < 0) return -1;
    // Every stream gets the Xing/LAME tag ("Info" at a constant bit rate):
    // its encoder delay and padding let players drop them and show the exact
    // length.
    lame_global_flags* gf = mp3enc::createLame(c, true);
    if (!gf) return -2;
    g_enc.gf = gf;
    g_enc.config = c;
    g_enc.channels = c.channels;
    g_enc.vbrTag = true;
    g_enc.scratch.resize(kOutBufferSize);
    g_enc.staging.resize(kSamplesPerChannel * 2 + 2);
    return 0;
}

int clampKbps(int kbps) {
    return std::clamp(kbps, 8, 320);
}

} // namespace

extern "C" {

MP3ENC_API int wave_enmp3init_new(int* samples_per_call, int* out_buffer_size, int sample_rate,
                                  int kbps, int channels, int /*version*/) {
    mp3enc::Config c;
    c.rate = sample_rate;
    c.channels = channels;
    c.mode = 0;
    c.kbps = clampKbps(kbps);
    return init(samples_per_call, out_buffer_size, c);
}

MP3ENC_API int wave_enmp3init_abr(int* samples_per_call, int* out_buffer_size, int sample_rate,
                                  int /*cbr_kbps*/, int channels, int /*version*/, int abr_kbps) {
    mp3enc::Config c;
    c.rate = sample_rate;
    c.channels = channels;
    c.mode = 2;
    c.kbps = clampKbps(abr_kbps);
    return init(samples_per_call, out_buffer_size, c);
}

MP3ENC_API int wave_enmp3init_vbr(int* samples_per_call, int* out_buffer_size, int sample_rate,
                                  int /*cbr_kbps*/, int channels, int /*version*/, int quality,
                                  int min_kbps, int max_kbps) {
    mp3enc::Config c;
    c.rate = sample_rate;
    c.channels = channels;
    c.mode = 1;
    c.minKbps = clampKbps(min_kbps);
    c.maxKbps = clampKbps(max_kbps);
    if (c.minKbps > c.maxKbps) std::swap(c.minKbps, c.maxKbps);
    c.quality = std::clamp(quality, 0, 9);
    return init(samples_per_call, out_buffer_size, c);
}

MP3ENC_API int wave_enmp3_threads(int threads) {
    if (!g_enc.gf || g_enc.started || g_enc.flushed) return -1;
    g_enc.segments.reset();
    if (threads > 1)
        g_enc.segments = std::make_unique<mp3enc::SegmentEncoder>(g_enc.config, threads);
    return 0;
}

MP3ENC_API int wave_enmp3_joins(int* joins, int* widened) {
    if (!joins || !widened) return -1;
    mp3enc::JoinStats st;
    if (g_enc.segments) st = g_enc.segments->stats();
    *joins = st.joins;
    *widened = st.widened;
    return 0;
}

#ifndef MP3ENC_LEAVE_OUT_CODE
MP3ENC_API int wave_enmp3code(const short* pcm, int samples, unsigned char* out) {
    if (!g_enc.gf || g_enc.flushed || !out) return -1;
    if (samples < 0 || samples > kSamplesPerChannel * g_enc.channels) return -1;
    if (samples > 0 && !pcm) return -1;
    short* buf = g_enc.staging.data();
    int n = 0;
    if (g_enc.haveOddSample) buf[n++] = g_enc.oddSample;
    if (samples > 0) std::memcpy(buf + n, pcm, static_cast<size_t>(samples) * sizeof(short));
    n += samples;
    g_enc.haveOddSample = false;
    if (g_enc.channels == 2 && (n & 1)) {
        g_enc.oddSample = buf[--n];
        g_enc.haveOddSample = true;
    }
    int frames = n / g_enc.channels;
    g_enc.started = true;
    if (g_enc.segments) {
        if (frames > 0 && !g_enc.segments->feed(buf, frames)) return -1;
        return g_enc.segments->take(out, kOutBufferSize);
    }
    int got = 0;
    if (frames > 0) {
        got = g_enc.channels == 2 ? lame_encode_buffer_interleaved(
                                        g_enc.gf, buf, frames, g_enc.scratch.data(), kOutBufferSize)
                                  : lame_encode_buffer(g_enc.gf, buf, buf, frames,
                                                       g_enc.scratch.data(), kOutBufferSize);
        if (got < 0) return -1;
    }
    g_enc.queue.insert(g_enc.queue.end(), g_enc.scratch.begin(), g_enc.scratch.begin() + got);
    return takeFrames(out, kOutBufferSize);
}
#endif

MP3ENC_API int wave_enmp3end(unsigned char* out) {
    if (!g_enc.gf || !out) return -1;
    if (g_enc.segments) {
        if (!g_enc.flushed && !g_enc.segments->finish()) return -1;
        g_enc.flushed = true;
        return g_enc.segments->take(out, kOutBufferSize);
    }
    if (!g_enc.flushed) {
        int got = lame_encode_flush(g_enc.gf, g_enc.scratch.data(), kOutBufferSize);
        if (got > 0)
            g_enc.queue.insert(g_enc.queue.end(), g_enc.scratch.begin(),
                               g_enc.scratch.begin() + got);
        g_enc.flushed = true;
    }
    return takeFrames(out, kOutBufferSize);
}

MP3ENC_API int wave_enmp3_vbrheader(unsigned char* out, int capacity) {
    if (!g_enc.gf || !out || capacity <= 0) return -1;
    if (!g_enc.vbrTag) return 0;
    if (g_enc.segments) return g_enc.segments->tagFrame(out, capacity);
    size_t n = lame_get_lametag_frame(g_enc.gf, out, static_cast<size_t>(capacity));
    if (n > static_cast<size_t>(capacity)) return -1;
    return static_cast<int>(n);
}

} // extern "C"
