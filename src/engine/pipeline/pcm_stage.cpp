#include "engine/pipeline/pcm_stage.h"

#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/core/run_state.h"
#include "engine/settings/settings.h"
#include "orvopcmchange/orvopcmchange.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace kestrel {

uint64_t job_pcm_bytes = 0;
PcmSinkHooks pcmHooks;

namespace {

bool g_changeActive = false;
std::vector<uint8_t> g_changeBuffer; // N x 8 bytes

void writeBlock(PcmOutput* out, const uint8_t* block, int len) {
    job_pcm_bytes += static_cast<uint64_t>(len);
    if (!out || (!out->stream && !out->encoderFile) || !out->write || out->writeError) return;
    if (out->write(*out, block, len) < 0) return;
    out->pcmBytes += static_cast<uint64_t>(len);
}

// Everything after the format change: gains, effects, writer, meter, device,
// display.
void finishBlock(PcmOutput* out, uint8_t* block, int len) {
    int ch = outputFormat.out_channels;
    double gl = gain_left.load(), gr = gain_right.load();
    if (gl != 1.0 || (ch == 2 && gr != 1.0))
        applyGains(reinterpret_cast<int16_t*>(block), len / 2, ch, gl, gr);
    if (orvosoundmixLoaded()) {
        for (int off = 0; off < len && running.load(); off += 16384) {
            int piece = len - off > 16384 ? 16384 : len - off;
            orvosoundmix.orvomix_change(block + off, piece);
        }
    }
    if (converting.load()) writeBlock(out, block, len);
    if (pcmHooks.meter) pcmHooks.meter(block, len);
    if (sound_on.load() && pcmHooks.play) pcmHooks.play(block, len);
    if (display_on.load() && pcmHooks.display) pcmHooks.display(block, len);
}

} // namespace

Corvopcmchange& pcmChanger() {
    static Corvopcmchange changer;
    return changer;
}

int pcmStepBytes(double r) {
    if (r > 2.0) return 2000;
    if (r < 0.5) return 3072;
    if (r < 1.0) return 5120;
    return 4096;
}

void applyGains(int16_t* s, int count, int channels, double left, double right) {
    auto scale = [](int16_t v, double g) {
        double p = std::trunc(v * g);
        if (p > 32767.0) p = 32767.0;
        if (p < -32768.0) p = -32768.0;
        return static_cast<int16_t>(p);
    };
    if (channels == 2) {
        for (int i = 0; i + 1 < count; i += 2) {
            if (left != 1.0) s[i] = scale(s[i], left);
            if (right != 1.0) s[i + 1] = scale(s[i + 1], right);
        }
    } else if (left != 1.0) {
        for (int i = 0; i < count; ++i)
            s[i] = scale(s[i], left);
    }
}

int prepare_pcm_change(double ratio, int sourceChannels) {
    g_changeBuffer.clear();
    g_changeActive = false;
    const EffectiveOutputFormat& f = outputFormat;
    if (ratio == 1.0 && sourceChannels == f.out_channels) return 0;
    Corvopcmchange& c = pcmChanger();
    int n = c.pcm_init(ratio, 0, sourceChannels, 16);
    if (n <= 0) return -1;
    c.pcm_setch(f.out_channels == 2 ? 2 : (f.channel_pick != 0 ? 2 : 1));
    c.pcm_setbit(16);
    g_changeBuffer.assign(static_cast<size_t>(n) * 8, 0);
    g_changeActive = true;
    return 0;
}

bool pcmChangeActive() {
    return g_changeActive;
}

void close_pcm_change(PcmOutput* out, double) {
    if (!g_changeActive) return;
    Corvopcmchange& c = pcmChanger();
    // The resampler holds back its filter delay: let it out so the output
    // ends where the source does.
    if (running.load()) {
        int n = c.pcm_change(nullptr, 0, g_changeBuffer.data(),
                             static_cast<int>(g_changeBuffer.size()), false);
        if (n > 0) {
            std::vector<uint8_t> block(g_changeBuffer.begin(), g_changeBuffer.begin() + n);
            int len = n;
            const EffectiveOutputFormat& f = outputFormat;
            if (f.out_channels == 1 && (f.channel_pick == 1 || f.channel_pick == 2))
                len = c.pcm_getch(block.data(), block.data(), len, 2, f.channel_pick - 1, 16);
            if (len > 0) finishBlock(out, block.data(), len);
        }
    }
    c.pcm_close();
    g_changeActive = false;
    g_changeBuffer.clear();
}

int pcm_sink(PcmOutput* out, double ratio) {
    return pcm_sink(pcm_buffer(), pcm_pending, current.sourceChannels, out, ratio);
}

int pcm_sink(const uint8_t* src, int pending, int sourceChannels, PcmOutput* out, double ratio) {
    const EffectiveOutputFormat& f = outputFormat;
    const int step = pcmStepBytes(ratio);
    const bool passThrough = ratio == 1.0 && sourceChannels == f.out_channels;
    // The work buffer is kept between calls (one per thread that runs the
    // stage): it is only ever overwritten before it is read, so it needs
    // neither a fresh allocation nor clearing for each batch of blocks.
    thread_local std::vector<uint8_t> work;
    size_t workSize =
        static_cast<size_t>(std::max<int>(static_cast<int>(g_changeBuffer.size()), step)) + 16;
    if (work.size() < workSize) work.resize(workSize);
    if (pending > kPcmBufferBytes) pending = kPcmBufferBytes;
    for (int p = 0; p < pending && running.load(); p += step) {
        int len = pending - p > step ? step : pending - p;
        std::memcpy(work.data(), src + p, static_cast<size_t>(len));
        if (!passThrough) {
            if (!g_changeActive) continue; // no changer: nothing usable for this entry
            Corvopcmchange& c = pcmChanger();
            int n = c.pcm_change(work.data(), len, g_changeBuffer.data(),
                                 static_cast<int>(g_changeBuffer.size()), true);
            if (n <= 0) continue;
            if (static_cast<size_t>(n) > work.size()) work.resize(static_cast<size_t>(n));
            std::memcpy(work.data(), g_changeBuffer.data(), static_cast<size_t>(n));
            len = n;
            if (f.out_channels == 1 && (f.channel_pick == 1 || f.channel_pick == 2)) {
                len = c.pcm_getch(work.data(), work.data(), len, 2, f.channel_pick - 1, 16);
                if (len <= 0) continue;
            }
        }
        finishBlock(out, work.data(), len);
    }
    return 0;
}

} // namespace kestrel
