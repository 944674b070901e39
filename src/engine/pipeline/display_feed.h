// What the level meters and the spectrum and waveform views show: the sound
// after the output format change, the gains and the sound effects, i.e. what is
// heard. pcm_sink feeds it block by block on the worker thread; the main window
// gets the level-meter figures as notification code 12; the display thread
// (display_thread.h) reads the levels and the spectra.
//
// Order in pcm_sink for each processed block, while meters_on is set:
// meter_feed before the block goes to the sound device; displayFeed, when
// display_on is set too, after the block has gone to the device.
//
// Threading: meterWindowPrepare runs on the thread that starts a play or a
// conversion, before the worker starts; meter_feed, displaySetupTransform and
// displayFeed run on the one active worker. The display thread reads the level
// arrays and the spectrum queue only through the functions marked "display
// thread", which take the feed's lock for a copy or a pointer swap: the
// spectrum it draws stays alive through its shared count.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

// Set by the window while it shows the level meters and the spectrum and
// waveform views; off at start and left off by the command line. pcm_sink
// feeds the meters and the display only while it is set, so what nobody
// watches costs no time. What is written or played does not depend on it.
extern std::atomic<bool> meters_on;

// ---- Level meters -------------------------------------------------------

// 1/30 s of processed PCM: out_rate / 30 frames.
struct MeterWindow {
    std::vector<int16_t> buffer; // interleaved samples of one window
    int32_t fill = 0;            // frames in the buffer
    int32_t frames = 0;          // frames per window
    int32_t channels = 0;
    int32_t rate = 0;
};
extern MeterWindow meter_window;

// Sizes the window for a play or conversion (frames = out_rate / 30, at least
// 1) and empties it. The buffer is kept between runs.
void meterWindowPrepare(int out_rate, int out_channels);
// Releases the buffer (program exit).
void meterWindowFree();

// Collects a processed block (interleaved 16-bit, `channels` 1 or 2) into the
// window; for each full window reports window().levels(left, right), the mean
// absolute sample of each channel (right 0 for mono). A window prepared for
// another format is prepared again first.
void meter_feed(const int16_t* pcm, int frames, int channels, int out_rate);

// The level report's value of two means (left << 16 | right) as the window's
// notification carries it, and its halves.
long meterReportValue(int meanLeft, int meanRight);
inline int meterReportLeft(long value) {
    return static_cast<int>((value >> 16) & 0xFFFF);
}
inline int meterReportRight(long value) {
    return static_cast<int>(value & 0xFFFF);
}
// A meter's figure: 10 x log10(mean) as "%02.1fdB", 0 when below 0.01.
std::string meterFigure(int mean);
// A meter's bar length: mean x width / 20000, clipped to 0..width.
int meterLength(int mean, int width);

// ---- Waveform levels and spectra ---------------------------------------

inline constexpr int kLevelArrayBytes = 8192;
inline constexpr int kLevelMaxFrames = 8190;
inline constexpr int kSmallBlockBytes = 2048; // shorter blocks are gathered
inline constexpr int kSmallStoreBytes = 8192; // until this much is together
inline constexpr int kSpectraLimit = 51;      // queued spectra at most

// One transform output: fft_size values in halfcomplex order (r0, r1 ..
// r(n/2), i((n+1)/2-1) .. i1) plus one spare, unnormalised, of the first
// channel scaled by 1/32767.
using Spectrum = std::shared_ptr<const std::vector<float>>;

// Transform size for a rate: a = out_rate / 10; the first i from a / 256 up
// (while i < 1024) that divides a gives step i and size a / i (44100 -> 245,
// 48000 -> 240, 8000 -> 200, 11025 -> 58). Rates without such a divisor get
// step max(1, a / 256) and size a / step. 0 when out_rate < 10.
int displayTransformSize(int out_rate, int32_t* step = nullptr);

// At every play or conversion start (worker): sets fft_size and fft_step,
// drops the plan (a fresh one is made by the first block fed, so that a run
// nobody watches does not plan a transform), and empties the spectrum queue,
// the level arrays and the small-block store.
void displaySetupTransform(int out_rate);

// The level and spectrum feed (worker, only when display_on): `bytes` of a
// processed block, `out_channels` 1 or 2. Blocks shorter than 2048 bytes are
// gathered until 8192 bytes were together before one arrives. Stores per-frame
// levels (|sample| / 256) of up to 8190 frames; when rate_ratio <= 2,
// transforms every whole fft_size block of the first channel but the last
// whole one and pushes the outputs to the front of the queue, keeping at most
// 51 (the oldest are dropped).
void displayFeed(const void* pcm, int bytes, int out_channels, double rate_ratio);

// Current transform (any thread).
int32_t displayFftSize();
int32_t displayFftStep();

// Display thread: the newest spectrum (null when none) and how many are queued.
Spectrum displayNewestSpectrum(int* queued = nullptr);
int displaySpectraCount();

struct LevelSnapshot {
    uint8_t left[kLevelArrayBytes];
    uint8_t right[kLevelArrayBytes];
    int32_t count = 0; // frames stored
    int32_t average_left = 0;
    int32_t average_right = 0;
};
// Display thread: copies the stored levels; false when none are stored.
bool displayLevels(LevelSnapshot& out);
// Display thread: the levels are drawn (level_count = 0).
void displayLevelsDrawn();

} // namespace kestrel
