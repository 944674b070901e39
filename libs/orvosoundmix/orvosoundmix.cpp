// Sound effects on interleaved 16-bit PCM: a ten-band peaking equaliser, an
// echo with feedback and a level gain, in that order.
#include "orvosoundmix.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBandHz[ORVOMIX_EQ_BANDS] = {31, 62, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};
constexpr int kMaxChannels = 2;

struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double z1[kMaxChannels] = {0, 0}, z2[kMaxChannels] = {0, 0};

    double run(double x, int ch) {
        // Transposed direct form II.
        double y = b0 * x + z1[ch];
        z1[ch] = b1 * x - a1 * y + z2[ch];
        z2[ch] = b2 * x - a2 * y;
        return y;
    }
    void reset() { z1[0] = z1[1] = z2[0] = z2[1] = 0; }
};

struct Mixer {
    std::mutex m;
    int rate = 44100, channels = 2;
    bool shown = false;
    void (*hook)(int, void*) = nullptr;
    void* hookContext = nullptr;

    // Settings.
    bool eqOn = false;
    int eqGain[ORVOMIX_EQ_BANDS] = {}; // tenths of a dB
    bool echoOn = false;
    int echoDelayMs = 300, echoFeedback = 30, echoWet = 40; // ms, percent, percent
    bool levelOn = false;
    int levelGain = 0; // tenths of a dB

    // State derived from the settings and the format.
    std::vector<Biquad> sections; // active equaliser sections
    std::vector<double> delay;    // echo delay line, interleaved
    size_t delayPos = 0;
    bool dirty = true; // settings or format changed: rebuild before processing
};

Mixer g_mix;

// RBJ peaking equaliser section at f0 with `gainDb`, Q = sqrt(2) (one octave).
Biquad peaking(double f0, double gainDb, int rate) {
    Biquad q;
    double A = std::pow(10.0, gainDb / 40.0);
    double w0 = 2 * kPi * f0 / rate;
    double alpha = std::sin(w0) / (2 * std::sqrt(2.0));
    double a0 = 1 + alpha / A;
    q.b0 = (1 + alpha * A) / a0;
    q.b1 = -2 * std::cos(w0) / a0;
    q.b2 = (1 - alpha * A) / a0;
    q.a1 = -2 * std::cos(w0) / a0;
    q.a2 = (1 - alpha / A) / a0;
    return q;
}

// Rebuilds the filters and the delay line (called with the lock held).
void rebuild(Mixer& x) {
    x.sections.clear();
    if (x.eqOn)
        for (int i = 0; i < ORVOMIX_EQ_BANDS; ++i)
            if (x.eqGain[i] != 0 && kBandHz[i] < 0.45 * x.rate)
                x.sections.push_back(peaking(kBandHz[i], x.eqGain[i] / 10.0, x.rate));
    size_t delayFrames =
        x.echoOn ? std::max<size_t>(1, static_cast<size_t>(x.rate) * x.echoDelayMs / 1000) : 0;
    x.delay.assign(delayFrames * x.channels, 0.0);
    x.delayPos = 0;
    x.dirty = false;
}

bool neutral(const Mixer& x) {
    bool echo = x.echoOn && x.echoWet > 0;
    bool level = x.levelOn && x.levelGain != 0;
    return x.sections.empty() && !echo && !level;
}

} // namespace

extern "C" {

ORVOSOUNDMIX_API int orvomix_begin(void) {
    std::lock_guard<std::mutex> lock(g_mix.m);
    g_mix.rate = 44100;
    g_mix.channels = 2;
    g_mix.eqOn = g_mix.echoOn = g_mix.levelOn = false;
    std::fill(std::begin(g_mix.eqGain), std::end(g_mix.eqGain), 0);
    g_mix.levelGain = 0;
    g_mix.shown = false;
    g_mix.dirty = true;
    return 0;
}

ORVOSOUNDMIX_API int orvomix_close(void) {
    void (*hook)(int, void*) = nullptr;
    void* ctx = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mix.m);
        if (g_mix.shown) hook = g_mix.hook, ctx = g_mix.hookContext;
        g_mix.shown = false;
        g_mix.sections.clear();
        g_mix.sections.shrink_to_fit();
        g_mix.delay.clear();
        g_mix.delay.shrink_to_fit();
        g_mix.dirty = true;
    }
    if (hook) hook(0, ctx);
    return 0;
}

ORVOSOUNDMIX_API int orvomix_init(int sample_rate, int channels, int /*reserved*/) {
    if (sample_rate < 1000 || sample_rate > 384000 || channels < 1 || channels > kMaxChannels)
        return -1;
    std::lock_guard<std::mutex> lock(g_mix.m);
    g_mix.rate = sample_rate;
    g_mix.channels = channels;
    g_mix.dirty = true;
    return 0;
}

ORVOSOUNDMIX_API int orvomix_change(unsigned char* pcm, int length) {
    if (!pcm || length < 0) return -1;
    std::lock_guard<std::mutex> lock(g_mix.m);
    Mixer& x = g_mix;
    if (x.dirty) rebuild(x);
    if (neutral(x)) return length;
    const int ch = x.channels;
    const size_t frames = static_cast<size_t>(length) / (2u * ch);
    const double wet = x.echoOn ? x.echoWet / 100.0 : 0.0;
    const double feedback = x.echoFeedback / 100.0;
    const double gain = x.levelOn ? std::pow(10.0, x.levelGain / 200.0) : 1.0;
    const bool echo = x.echoOn && !x.delay.empty();
    for (size_t f = 0; f < frames; ++f) {
        for (int c = 0; c < ch; ++c) {
            unsigned char* p = pcm + (f * ch + c) * 2;
            int16_t s;
            std::memcpy(&s, p, 2);
            double v = s;
            for (auto& q : x.sections)
                v = q.run(v, c);
            if (echo) {
                double& d = x.delay[x.delayPos + c];
                double delayed = d;
                d = v + feedback * delayed;
                v += wet * delayed;
            }
            v *= gain;
            long r = std::lround(std::clamp(v, -32768.0, 32767.0));
            s = static_cast<int16_t>(r);
            std::memcpy(p, &s, 2);
        }
        if (echo) {
            x.delayPos += ch;
            if (x.delayPos >= x.delay.size()) x.delayPos = 0;
        }
    }
    return length;
}

ORVOSOUNDMIX_API int orvomix_setdisp(int show) {
    void (*hook)(int, void*) = nullptr;
    void* ctx = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mix.m);
        g_mix.shown = show != 0;
        hook = g_mix.hook;
        ctx = g_mix.hookContext;
    }
    if (hook) hook(show != 0, ctx);
    return 0;
}

ORVOSOUNDMIX_API int orvomix_setecho(int enable, int delay_ms, int feedback_percent,
                                     int wet_percent) {
    std::lock_guard<std::mutex> lock(g_mix.m);
    g_mix.echoOn = enable != 0;
    g_mix.echoDelayMs = std::clamp(delay_ms, 1, 2000);
    g_mix.echoFeedback = std::clamp(feedback_percent, 0, 90);
    g_mix.echoWet = std::clamp(wet_percent, 0, 100);
    g_mix.dirty = true;
    return 0;
}

ORVOSOUNDMIX_API int orvomix_setiir(int enable, const int* gains_tenth_db, int count) {
    if (count > 0 && !gains_tenth_db) return -1;
    count = std::clamp(count, 0, ORVOMIX_EQ_BANDS);
    std::lock_guard<std::mutex> lock(g_mix.m);
    g_mix.eqOn = enable != 0;
    for (int i = 0; i < ORVOMIX_EQ_BANDS; ++i)
        g_mix.eqGain[i] = i < count ? std::clamp(gains_tenth_db[i], -120, 120) : 0;
    g_mix.dirty = true;
    return 0;
}

ORVOSOUNDMIX_API int orvomix_setlevel(int enable, int gain_tenth_db) {
    std::lock_guard<std::mutex> lock(g_mix.m);
    g_mix.levelOn = enable != 0;
    g_mix.levelGain = std::clamp(gain_tenth_db, -600, 200);
    return 0;
}

ORVOSOUNDMIX_API int orvomix_get_dispstatus(void) {
    std::lock_guard<std::mutex> lock(g_mix.m);
    return g_mix.shown ? 1 : 0;
}

ORVOSOUNDMIX_API int orvomix_datarefresh(void) {
    std::lock_guard<std::mutex> lock(g_mix.m);
    g_mix.dirty = true;
    return 0;
}

ORVOSOUNDMIX_API int orvomix_set_window_hook(void (*hook)(int show, void* context), void* context) {
    std::lock_guard<std::mutex> lock(g_mix.m);
    g_mix.hook = hook;
    g_mix.hookContext = context;
    return 0;
}

} // extern "C"
