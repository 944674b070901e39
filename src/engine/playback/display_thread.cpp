#include "engine/playback/display_thread.h"

#include "engine/core/run_state.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <cmath>
#include <mutex>
#include <thread>

namespace kestrel {

std::atomic<bool> display_thread_running{false};
std::atomic<int32_t> spectrum_width{0};
std::atomic<int32_t> spectrum_zoom{1};
std::atomic<int32_t> spectrum_bars{0};

namespace {

constexpr int kMaxZoom = 10;
constexpr int kMaxQueuedToDraw = 25000;

std::atomic<DisplayPainter*> g_painter{nullptr};
std::mutex g_threadLock; // start/stop
// Never destroyed: a thread still running at exit must not end the process
// through std::thread's destructor.
std::thread& displayThread() {
    static auto* t = new std::thread;
    return *t;
}

double zoomFactor(int zoom) {
    return 1.0 + 0.2 * (zoom - 1);
}

int clampByte(double v) {
    return static_cast<int>(std::clamp(v, 0.0, 255.0));
}

void threadMain() {
    auto state = std::make_unique<DisplayPassState>();
    while (display_thread_running.load()) {
        if (DisplayPainter* painter = g_painter.load()) displayPass(*state, *painter);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

void spectrumZoomIn() {
    const int z = spectrum_zoom.load() + 1;
    if (z > kMaxZoom) return;
    spectrum_zoom = z;
    spectrum_bars = spectrum_width.load() / z;
}

void spectrumZoomOut() {
    const int z = spectrum_zoom.load();
    if (z < 2) return;
    spectrum_zoom = z - 1;
    spectrum_bars = spectrum_width.load() / (z - 1);
}

void setDisplayPainter(DisplayPainter* painter) {
    g_painter = painter;
}

void displayThreadStart() {
    std::lock_guard<std::mutex> g(g_threadLock);
    std::thread& t = displayThread();
    if (display_thread_running.load() && t.joinable()) return;
    if (t.joinable()) t.join(); // ended by a cleared flag
    display_thread_running = true;
    t = std::thread(threadMain);
}

void displayThreadStop() {
    std::lock_guard<std::mutex> g(g_threadLock);
    display_thread_running = false;
    std::thread& t = displayThread();
    if (t.joinable()) t.join();
}

long long spectrumEnergy(const std::vector<float>& x, int width) {
    const int n = std::min<int>(width, static_cast<int>(x.size()));
    long long sum = 0;
    for (int k = 0; k < n; ++k)
        sum += std::llabs(static_cast<long long>(0.5 * x[k]));
    return sum;
}

int spectrumBarHeight(const std::vector<float>& x, int g, int zoom, int e) {
    if (zoom < 1 || g < 0) return 0;
    long long sum = 0;
    for (int k = g; k < g + zoom; ++k)
        if (k < static_cast<int>(x.size()))
            sum += std::llabs(static_cast<long long>((e - 20) * 0.5 * x[k]));
    return static_cast<int>(std::min<long long>(sum / zoom, e));
}

int waveformBandValue(int d, int zoom, int mode) {
    const bool falling = !(mode == 2 || mode == 4);
    const double s = zoomFactor(zoom) * (falling ? 8 : 6);
    return falling ? clampByte(255 - d * s) : clampByte(std::min(255.0, d * s));
}

int spectrumBandValue(int x, int width, int zoom, int mode) {
    if (width <= 0) return 0;
    const double s = zoomFactor(zoom) * ((mode == 2 || mode == 4) ? 2 : 5);
    const int distance = std::abs(x - width / 2);
    switch (mode) {
    case 3:
        return clampByte(255 - s * distance);
    case 4:
        return clampByte(s * distance);
    case 2:
        return clampByte(255.0 * x / width);
    default:
        return clampByte(255.0 * (width - x) / width);
    }
}

bool displayPass(DisplayPassState& state, DisplayPainter& painter) {
    if (!running.load() || !display_on.load() || paused.load()) return false;
    DisplayFrame frame;
    frame.spectrum = displayNewestSpectrum(&frame.queued);
    if (!frame.spectrum || frame.queued <= 0 || frame.queued >= kMaxQueuedToDraw) return false;
    const std::vector<float>& x = *frame.spectrum;
    frame.fft_size = static_cast<int32_t>(x.size()) - 1;

    // 1. Energy over spectrum_width values, which never exceeds the queue.
    if (spectrum_width.load() > frame.queued) spectrum_width = frame.queued;
    frame.energy = spectrumEnergy(x, spectrum_width.load());

    // 2. The first drawn pass fixes the geometry.
    if (!state.measured) {
        state.measured = true;
        state.geometry = painter.measure();
        frame.first = true;
        spectrum_width = (frame.fft_size + 1) / 2;
        spectrum_bars = spectrum_width.load();
        spectrum_zoom = 1;
    }
    frame.geometry = state.geometry;
    frame.zoom = std::clamp<int>(spectrum_zoom.load(), 1, kMaxZoom);
    frame.width = spectrum_width.load();
    frame.bars = spectrum_bars.load();

    // 3. Waveform, every 4th pass, with at least one level frame per column.
    const int columns = state.geometry.wave_width;
    if (state.passes++ % 4 == 0 && columns > 0) {
        LevelSnapshot& levels = state.levels;
        if (displayLevels(levels) && levels.count / columns >= 1) {
            const int w = levels.count / columns;
            frame.waveform = true;
            frame.wave_left.resize(static_cast<size_t>(columns));
            frame.wave_right.resize(static_cast<size_t>(columns));
            for (int c = 0; c < columns; ++c) {
                int l = 0, r = 0;
                for (int i = c * w; i < (c + 1) * w; ++i) {
                    l += levels.left[i];
                    r += levels.right[i];
                }
                frame.wave_left[c] = static_cast<uint8_t>(l / w);
                frame.wave_right[c] = static_cast<uint8_t>(r / w);
            }
            displayLevelsDrawn();
        }
    }

    // 4. Spectrum bars and the energy bar.
    frame.e = state.geometry.spectrum_height - 19;
    frame.bar_heights.assign(static_cast<size_t>(std::max(frame.bars, 1)), 0);
    for (int g = 1; g < frame.bars; ++g)
        frame.bar_heights[g] = std::max(0, spectrumBarHeight(x, g, frame.zoom, frame.e));
    if (frame.energy > 1) {
        state.max_energy = std::max(state.max_energy, frame.energy);
        const int span = std::max(0, frame.width - 10);
        frame.energy_length =
            static_cast<int>(std::min<long long>(frame.energy * span / state.max_energy, span));
    }
    painter.paint(frame);
    return true;
}

} // namespace kestrel
