// The display thread: every 10 ms it turns the display feed (display_feed.h)
// into what the waveform and spectrum views show, and hands that to the
// installed painter, which draws it (the GUI). Without a painter the thread
// idles.
//
// Threading: displayThreadStart/stop and the zoom commands run on the
// user-interface thread. The pass runs on the display thread and calls the
// painter there; the painter must not block for long and must not call back
// into this module's start/stop. The thread reads `running`, `display_on` and
// `paused` each pass and draws only while a worker runs with the display on and
// not paused.
#pragma once

#include "engine/pipeline/display_feed.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace kestrel {

extern std::atomic<bool> display_thread_running; // cleared at exit to end the thread
// Spectrum values the energy bar sums: the window sets it to the spectrum
// view's client width before it starts the thread; the first drawn pass sets
// it to (fft_size + 1) / 2, and each pass lowers it to the number of queued
// spectra when it is larger.
extern std::atomic<int32_t> spectrum_width;
// Width of one bar of the spectrum view in pixels (1 to 10).
extern std::atomic<int32_t> spectrum_zoom;
extern std::atomic<int32_t> spectrum_bars; // spectrum_width / spectrum_zoom

// Zoom commands of the display buttons: in while the zoom stays <= 10, out
// while it is >= 2; both recompute spectrum_bars.
void spectrumZoomIn();
void spectrumZoomOut();

// Client sizes of the two views, measured by the painter.
struct DisplayGeometry {
    int wave_width = 0;
    int wave_height = 0;
    int spectrum_width = 0; // pixels
    int spectrum_height = 0;
};

// What one pass shows.
struct DisplayFrame {
    // First drawn pass since the thread started: the views were measured; the
    // spectrum view is filled with 0xC00000 (a GDI colour value), moved to the
    // top-left corner of its parent, raised and resized to spectrum_width x its
    // height; the waveform view's grid has a row every wave_height / 6 pixels
    // and a column every 10 pixels.
    bool first = false;
    DisplayGeometry geometry;
    int32_t fft_size = 0;
    int zoom = 1;  // spectrum_zoom of this pass
    int width = 0; // spectrum_width of this pass
    int bars = 0;  // spectrum_bars of this pass

    Spectrum spectrum; // the newest spectrum, kept alive while drawing
    int queued = 0;    // spectra waiting
    long long energy = 0;
    int e = 0;                    // spectrum view height - 19
    std::vector<int> bar_heights; // [g] for g = 1 .. bars - 1 (index 0 unused)
    int energy_length = 0;        // energy bar length; 0: not drawn

    // Every 4th pass when there is at least one level frame per column: the
    // waveform view is redrawn with the mean left and right level (0..255) of
    // each column.
    bool waveform = false;
    std::vector<uint8_t> wave_left, wave_right;
};

class DisplayPainter {
  public:
    virtual ~DisplayPainter() = default;
    virtual DisplayGeometry measure() = 0;
    virtual void paint(const DisplayFrame& frame) = 0;
};
// The painter (nullptr: none). Set it before starting the thread or while the
// thread runs; a painter must stay alive until it is replaced or the thread
// has stopped.
void setDisplayPainter(DisplayPainter* painter);

// Starts the thread when it does not run; stops it and waits for it.
void displayThreadStart();
void displayThreadStop();

// What the thread keeps from pass to pass.
struct DisplayPassState {
    bool measured = false;
    DisplayGeometry geometry;
    unsigned passes = 0;      // drawn passes
    long long max_energy = 1; // largest energy since the thread started
    LevelSnapshot levels;     // the levels being drawn
};
// One pass: true when something was handed to `painter`.
bool displayPass(DisplayPassState& state, DisplayPainter& painter);

// Pieces of a pass, for the painter and the tests.
// Energy: sum of |trunc(0.5 x X[k])| over the first `width` values.
long long spectrumEnergy(const std::vector<float>& x, int width);
// Bar g of `zoom` pixels: mean over X[g] .. X[g + zoom - 1] of
// |trunc((e - 20) x 0.5 x X)|, at most e.
int spectrumBarHeight(const std::vector<float>& x, int g, int zoom, int e);
// Brightness (0..255) of the waveform background band at distance d (rows)
// from the middle, and of the spectrum background band at column x of width.
int waveformBandValue(int d, int zoom, int mode);
int spectrumBandValue(int x, int width, int zoom, int mode);

} // namespace kestrel
