#include "engine/pipeline/display_feed.h"

#include "engine/core/run_state.h"
#include "engine/pipeline/texts_display.h"
#include "platform/ports.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace kestrel {

std::atomic<bool> meters_on{false};
MeterWindow meter_window;

// ---- Level meters -------------------------------------------------------

void meterWindowPrepare(int out_rate, int out_channels) {
    MeterWindow& w = meter_window;
    w.rate = out_rate;
    w.channels = out_channels == 1 ? 1 : 2;
    w.frames = std::max(1, out_rate / 30);
    w.fill = 0;
    w.buffer.resize(static_cast<size_t>(w.frames) * w.channels);
}

void meterWindowFree() {
    meter_window = MeterWindow{};
}

long meterReportValue(int meanLeft, int meanRight) {
    return (static_cast<long>(meanLeft & 0xFFFF) << 16) + (meanRight & 0xFFFF);
}

void meter_feed(const int16_t* pcm, int frames, int channels, int out_rate) {
    if (!pcm || frames <= 0 || channels < 1 || channels > 2 || out_rate <= 0) return;
    MeterWindow& w = meter_window;
    if (w.rate != out_rate || w.channels != channels || w.frames <= 0 ||
        w.buffer.size() != static_cast<size_t>(w.frames) * channels)
        meterWindowPrepare(out_rate, channels);
    // The block is copied in pieces that never overrun the window, however
    // long the block is.
    while (frames > 0) {
        const int take = std::min(frames, w.frames - w.fill);
        std::memcpy(w.buffer.data() + static_cast<size_t>(w.fill) * channels, pcm,
                    static_cast<size_t>(take) * channels * sizeof(int16_t));
        w.fill += take;
        pcm += static_cast<size_t>(take) * channels;
        frames -= take;
        if (w.fill < w.frames) break;
        long long sum[2] = {0, 0};
        const int16_t* s = w.buffer.data();
        for (int f = 0; f < w.frames; ++f)
            for (int c = 0; c < channels; ++c)
                sum[c] += std::abs(static_cast<int>(*s++));
        const int left = static_cast<int>(sum[0] / w.frames);
        const int right = channels == 2 ? static_cast<int>(sum[1] / w.frames) : 0;
        w.fill = 0;
        window().levels(left, right);
    }
}

std::string meterFigure(int mean) {
    double figure = mean > 0 ? 10.0 * std::log10(static_cast<double>(mean)) : 0.0;
    if (figure < 0.01) figure = 0.0;
    char text[32];
    std::snprintf(text, sizeof text, text::display::kMeterFigure, figure);
    return text;
}

int meterLength(int mean, int width) {
    if (width <= 0) return 0;
    const long long len = static_cast<long long>(mean) * width / 20000;
    return static_cast<int>(std::clamp<long long>(len, 0, width));
}

// ---- Waveform levels and spectra ---------------------------------------

namespace {

struct Feed {
    // Worker side (one active worker at a time).
    std::mutex planLock; // the FFTW planner is not thread-safe
    int32_t fft_size = 0;
    int32_t fft_step = 0;
    fftwf_plan fft_plan = nullptr;
    std::vector<float> input;
    std::vector<uint8_t> small_block_store;

    // Shared with the display thread, under `lock`.
    std::mutex lock;
    std::deque<Spectrum> spectra; // newest at the front
    uint8_t level_left[kLevelArrayBytes] = {};
    uint8_t level_right[kLevelArrayBytes] = {};
    int32_t level_count = 0;
    int32_t level_average_left = 0;
    int32_t level_average_right = 0;
};

Feed& feed() {
    static Feed* f = new Feed; // outlives every thread that may still read it
    return *f;
}

std::atomic<int32_t> g_fftSize{0};
std::atomic<int32_t> g_fftStep{0};

int16_t sampleAt(const uint8_t* p) {
    int16_t s;
    std::memcpy(&s, p, 2);
    return s;
}

uint8_t levelOf(int16_t s) {
    return static_cast<uint8_t>(std::min(255, std::abs(static_cast<int>(s)) / 256));
}

// Makes the transform's plan for the size chosen by displaySetupTransform;
// false (and no spectrum for this entry) when FFTW cannot. Called with
// f.planLock held.
bool makePlan(Feed& f) {
    std::vector<float> scratch(static_cast<size_t>(f.fft_size) + 1);
    // Estimated plans do not touch the arrays; unaligned so that any array
    // can be used when the plan is executed.
    f.fft_plan = fftwf_plan_r2r_1d(f.fft_size, f.input.data(), scratch.data(), FFTW_R2HC,
                                   FFTW_ESTIMATE | FFTW_UNALIGNED);
    if (f.fft_plan) return true;
    f.fft_size = 0;
    g_fftSize = 0;
    return false;
}

void measure(Feed& f, const uint8_t* block, int len, int channels, double rate_ratio) {
    const int frameBytes = 2 * channels;
    const int frames = len / frameBytes;
    if (frames <= 0) return;

    {
        std::lock_guard<std::mutex> g(f.lock);
        const int n = std::min(frames, kLevelMaxFrames);
        long long sumL = 0, sumR = 0;
        int done = 0;
        for (; done < n; ++done) {
            if (!running.load()) break;
            const uint8_t* frame = block + static_cast<size_t>(done) * frameBytes;
            const uint8_t l = levelOf(sampleAt(frame));
            const uint8_t r = channels == 2 ? levelOf(sampleAt(frame + 2)) : 0;
            f.level_left[done] = l;
            f.level_right[done] = r;
            sumL += l;
            sumR += r;
        }
        f.level_count = done;
        f.level_average_left = done ? static_cast<int32_t>(sumL / done) : 0;
        f.level_average_right = done ? static_cast<int32_t>(sumR / done) : 0;
    }

    if (rate_ratio > 2.0) return; // strong downsampling: no spectrum
    std::lock_guard<std::mutex> planGuard(f.planLock);
    if (f.fft_size > 0 && !f.fft_plan && !makePlan(f)) return;
    const int n = f.fft_size;
    if (n <= 0 || !f.fft_plan) return;
    const int blocks = frames / n;
    for (int b = 0; b + 1 < blocks; ++b) { // every whole block but the last
        for (int k = 0; k < n; ++k) {
            const size_t frame = static_cast<size_t>(b) * n + k;
            f.input[k] = static_cast<float>(sampleAt(block + frame * frameBytes)) / 32767.0f;
        }
        auto out = std::make_shared<std::vector<float>>(static_cast<size_t>(n) + 1, 0.0f);
        fftwf_execute_r2r(f.fft_plan, f.input.data(), out->data());
        std::lock_guard<std::mutex> g(f.lock);
        f.spectra.push_front(std::move(out));
        while (f.spectra.size() > static_cast<size_t>(kSpectraLimit))
            f.spectra.pop_back();
    }
}

} // namespace

int displayTransformSize(int out_rate, int32_t* step) {
    const int a = out_rate / 10;
    if (a <= 0) {
        if (step) *step = 0;
        return 0;
    }
    int found = 0;
    for (int i = std::max(1, a / 256); i < 1024; ++i) {
        if (a % i == 0) {
            found = i;
            break;
        }
    }
    if (found == 0) found = std::max(1, a / 256);
    if (step) *step = found;
    return a / found;
}

void displaySetupTransform(int out_rate) {
    Feed& f = feed();
    {
        std::lock_guard<std::mutex> planGuard(f.planLock);
        if (f.fft_plan) fftwf_destroy_plan(f.fft_plan);
        f.fft_plan = nullptr;
        // The plan itself is made by the first block that is measured, so
        // that a conversion nobody watches does not pay for it.
        f.fft_size = displayTransformSize(out_rate, &f.fft_step);
        if (f.fft_size > 0) f.input.assign(static_cast<size_t>(f.fft_size), 0.0f);
        g_fftSize = f.fft_size;
        g_fftStep = f.fft_step;
        f.small_block_store.clear();
    }
    std::lock_guard<std::mutex> g(f.lock);
    f.spectra.clear();
    f.level_count = 0;
    f.level_average_left = 0;
    f.level_average_right = 0;
}

void displayFeed(const void* pcm, int bytes, int out_channels, double rate_ratio) {
    if (!pcm || bytes <= 0 || out_channels < 1 || out_channels > 2) return;
    Feed& f = feed();
    const auto* block = static_cast<const uint8_t*>(pcm);
    if (bytes < kSmallBlockBytes) {
        const size_t held = f.small_block_store.size();
        f.small_block_store.insert(f.small_block_store.end(), block, block + bytes);
        if (held < static_cast<size_t>(kSmallStoreBytes)) return;
        measure(f, f.small_block_store.data(), static_cast<int>(f.small_block_store.size()),
                out_channels, rate_ratio);
        f.small_block_store.clear();
        return;
    }
    measure(f, block, bytes, out_channels, rate_ratio);
}

int32_t displayFftSize() {
    return g_fftSize.load();
}

int32_t displayFftStep() {
    return g_fftStep.load();
}

Spectrum displayNewestSpectrum(int* queued) {
    Feed& f = feed();
    std::lock_guard<std::mutex> g(f.lock);
    if (queued) *queued = static_cast<int>(f.spectra.size());
    return f.spectra.empty() ? nullptr : f.spectra.front();
}

int displaySpectraCount() {
    Feed& f = feed();
    std::lock_guard<std::mutex> g(f.lock);
    return static_cast<int>(f.spectra.size());
}

bool displayLevels(LevelSnapshot& out) {
    Feed& f = feed();
    std::lock_guard<std::mutex> g(f.lock);
    out.count = f.level_count;
    out.average_left = f.level_average_left;
    out.average_right = f.level_average_right;
    if (f.level_count <= 0) return false;
    std::memcpy(out.left, f.level_left, static_cast<size_t>(f.level_count));
    std::memcpy(out.right, f.level_right, static_cast<size_t>(f.level_count));
    return true;
}

void displayLevelsDrawn() {
    Feed& f = feed();
    std::lock_guard<std::mutex> g(f.lock);
    f.level_count = 0;
}

} // namespace kestrel
