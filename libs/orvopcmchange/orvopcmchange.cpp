// Rate and channel change of 16-bit PCM. Two channels mixed to one are mixed
// before the resampler, one channel doubled to two after it, so the resampler
// always works on the fewest channels. At a ratio of exactly 1 the change is
// done on the integers alone and is exact.
#include "orvopcmchange.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

struct Corvopcmchange::State {
    bool ready = false;
    double ratio = 1.0;
    int inChannels = 2;
    int outChannels = 2;
    soxr_t soxr = nullptr;
    int soxrChannels = 0;         // channel count the resampler was made for
    std::vector<uint8_t> carry;   // input bytes not yet converted (an incomplete frame)
    std::vector<uint8_t> fifo;    // converted output not yet handed out
    size_t fifoStart = 0;         // first byte of fifo not yet handed out
    std::vector<float> inFloat;   // input frames at the resampler's channel count
    std::vector<float> outFloat;  // resampler output
    std::vector<int16_t> samples; // input samples of one call

    void dropSoxr() {
        if (soxr) soxr_delete(soxr);
        soxr = nullptr;
        soxrChannels = 0;
    }
};

namespace {

int16_t toSample(float v) {
    float r = std::nearbyint(v);
    if (r > 32767.f) return 32767;
    if (r < -32768.f) return -32768;
    return static_cast<int16_t>(r);
}

void appendSample(std::vector<uint8_t>& out, int16_t s) {
    uint8_t b[2];
    std::memcpy(b, &s, 2);
    out.push_back(b[0]);
    out.push_back(b[1]);
}

} // namespace

Corvopcmchange::Corvopcmchange() : state_(new State) {}

Corvopcmchange::~Corvopcmchange() {
    state_->dropSoxr();
    delete state_;
}

int Corvopcmchange::pcm_init(double ratio, int /*reserved*/, int channels, int bits) {
    pcm_close();
    if (!(ratio >= 1.0 / 16 && ratio <= 16.0) || (channels != 1 && channels != 2) || bits != 16)
        return 0;
    State& s = *state_;
    s.ratio = ratio;
    s.inChannels = channels;
    s.outChannels = channels;
    s.ready = true;
    // Worst case: two output channels, the whole input at the ratio plus what
    // the resampler may release from its filter delay at once.
    double frames = kMaxInputPerCall / (2.0 * channels) * ratio + 8192;
    double bytes = frames * 2 * 2;
    return static_cast<int>(std::ceil(bytes / 8));
}

void Corvopcmchange::pcm_setch(int channels) {
    if (channels == 1 || channels == 2) state_->outChannels = channels;
}

void Corvopcmchange::pcm_setbit(int /*bits*/) {}

int Corvopcmchange::pcm_change(const unsigned char* in, int in_bytes, unsigned char* out,
                               int capacity, bool more) {
    State& s = *state_;
    if (!s.ready || in_bytes < 0 || capacity < 0) return -1;
    if ((in_bytes > 0 && !in) || (capacity > 0 && !out)) return -1;

    const int inFrameBytes = 2 * s.inChannels;
    const int outFrameBytes = 2 * s.outChannels;
    const bool mixDown = s.inChannels == 2 && s.outChannels == 1;
    const bool doubleUp = s.inChannels == 1 && s.outChannels == 2;
    const int workChannels = mixDown ? 1 : s.inChannels;

    // Whole input frames: the carried bytes first, then this call's bytes.
    s.carry.insert(s.carry.end(), in, in + in_bytes);
    const size_t frames = s.carry.size() / static_cast<size_t>(inFrameBytes);
    const size_t whole = frames * static_cast<size_t>(inFrameBytes);
    s.samples.resize(frames * s.inChannels);
    if (whole > 0) std::memcpy(s.samples.data(), s.carry.data(), whole);
    s.carry.erase(s.carry.begin(), s.carry.begin() + static_cast<std::ptrdiff_t>(whole));

    // Compact the output queue before appending.
    if (s.fifoStart > 0) {
        s.fifo.erase(s.fifo.begin(), s.fifo.begin() + static_cast<std::ptrdiff_t>(s.fifoStart));
        s.fifoStart = 0;
    }

    if (s.ratio == 1.0) {
        // Channel change only: exact integer arithmetic.
        for (size_t f = 0; f < frames; ++f) {
            if (mixDown) {
                int sum = s.samples[2 * f] + s.samples[2 * f + 1];
                appendSample(s.fifo, static_cast<int16_t>(sum >> 1));
            } else if (doubleUp) {
                appendSample(s.fifo, s.samples[f]);
                appendSample(s.fifo, s.samples[f]);
            } else {
                for (int c = 0; c < s.inChannels; ++c)
                    appendSample(s.fifo, s.samples[f * s.inChannels + c]);
            }
        }
    } else {
        if (!s.soxr || s.soxrChannels != workChannels) {
            s.dropSoxr();
            soxr_error_t err = nullptr;
            soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
            soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
            s.soxr = soxr_create(1.0, s.ratio, static_cast<unsigned>(workChannels), &err, &io, &q,
                                 nullptr);
            if (!s.soxr || err) {
                s.dropSoxr();
                return -1;
            }
            s.soxrChannels = workChannels;
        }
        s.inFloat.resize(frames * workChannels);
        for (size_t f = 0; f < frames; ++f) {
            if (mixDown)
                s.inFloat[f] = (s.samples[2 * f] + s.samples[2 * f + 1]) * 0.5f;
            else
                for (int c = 0; c < workChannels; ++c)
                    s.inFloat[f * workChannels + c] = s.samples[f * workChannels + c];
        }
        const size_t chunk = static_cast<size_t>(frames * s.ratio) + 4096;
        s.outFloat.resize(chunk * workChannels);
        auto emit = [&](size_t n) {
            for (size_t f = 0; f < n; ++f) {
                for (int c = 0; c < workChannels; ++c) {
                    int16_t v = toSample(s.outFloat[f * workChannels + c]);
                    appendSample(s.fifo, v);
                    if (doubleUp) appendSample(s.fifo, v);
                }
            }
        };
        size_t used = 0;
        while (used < frames) {
            size_t idone = 0, odone = 0;
            soxr_error_t err =
                soxr_process(s.soxr, s.inFloat.data() + used * workChannels, frames - used, &idone,
                             s.outFloat.data(), chunk, &odone);
            if (err) return -1;
            used += idone;
            emit(odone);
            if (idone == 0 && odone == 0) break;
        }
        if (!more) {
            for (;;) {
                size_t odone = 0;
                soxr_error_t err =
                    soxr_process(s.soxr, nullptr, 0, nullptr, s.outFloat.data(), chunk, &odone);
                if (err) return -1;
                emit(odone);
                if (odone == 0) break;
            }
            s.dropSoxr(); // the stream has ended; a later call starts afresh
        }
    }

    // Hand out whole output frames that fit.
    size_t avail = s.fifo.size() - s.fifoStart;
    size_t room = static_cast<size_t>(capacity) / outFrameBytes * outFrameBytes;
    size_t n = std::min(avail, room);
    if (n > 0) std::memcpy(out, s.fifo.data() + s.fifoStart, n);
    s.fifoStart += n;
    return static_cast<int>(n);
}

int Corvopcmchange::pcm_getch(const unsigned char* in, unsigned char* out, int bytes,
                              int in_channels, int channel, int bits) {
    if (!in || !out || bytes < 0 || in_channels < 1 || in_channels > 8 || channel < 0 ||
        channel >= in_channels || bits != 16)
        return -1;
    const size_t frames = static_cast<size_t>(bytes) / (2u * in_channels);
    // Front to back: output frame f never lies after input frame f, so `out`
    // may be `in`.
    for (size_t f = 0; f < frames; ++f)
        std::memmove(out + 2 * f, in + (f * in_channels + channel) * 2, 2);
    return static_cast<int>(frames * 2);
}

void Corvopcmchange::pcm_close() {
    State& s = *state_;
    s.dropSoxr();
    s.ready = false;
    s.carry.clear();
    s.fifo.clear();
    s.fifoStart = 0;
}
