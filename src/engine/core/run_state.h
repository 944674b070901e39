// Process-wide playback and conversion state shared by the window and the one
// active worker (a playback thread, the conversion thread or the fast-copy
// thread). The flags are atomics written by one side and polled by the other
// once per block or every 10 ms; nothing here takes a lock.
#pragma once

#include "engine/core/entry_facts.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

inline constexpr int kPcmBufferBytes = 184320;

extern std::atomic<bool> running;           // a worker is active; clear to stop it
extern std::atomic<bool> paused;            // workers idle in 10 ms sleeps
extern std::atomic<bool> converting;        // pcm_sink writes/encodes (pause-recording clears it)
extern std::atomic<bool> sound_on;          // pcm_sink plays the PCM
extern std::atomic<bool> display_on;        // pcm_sink feeds the display
extern std::atomic<int32_t> seek_request;   // 0, or target second + 100
extern std::atomic<bool> seek_dragging;     // the position slider is being dragged
extern std::atomic<bool> effects_window_on; // the sound-effects window is shown

// The flags a reading loop polls. The window's workers use the process-wide
// ones (`processRunFlags()`); a second player (the output manager's) runs
// with a set of its own (`OwnRunFlags`), so that the window's stop, pause and
// seek do not reach it.
struct RunFlags {
    std::atomic<bool>& running;
    std::atomic<bool>& paused;
    std::atomic<int32_t>& seekRequest;
    std::atomic<bool>& seekDragging;
};
RunFlags processRunFlags();

struct OwnRunFlags {
    std::atomic<bool> running{false};
    std::atomic<bool> paused{false};
    std::atomic<int32_t> seekRequest{0};
    std::atomic<bool> seekDragging{false};
    RunFlags flags() { return {running, paused, seekRequest, seekDragging}; }
};

// Decoded PCM (16-bit, source rate and channels) waiting for the sink: the
// buffer and its count of pending bytes. Each reading loop owns one; the
// window's one active worker uses the process-wide `mainPcm()`.
class PcmBuffer {
  public:
    PcmBuffer();
    PcmBuffer(const PcmBuffer&) = delete;
    PcmBuffer& operator=(const PcmBuffer&) = delete;
    uint8_t* data() { return bytes_.get(); }
    int32_t pending = 0;

  private:
    std::unique_ptr<uint8_t[]> bytes_;
};
PcmBuffer& mainPcm();
// The process-wide buffer under its old names: mainPcm().data() and
// mainPcm().pending.
uint8_t* pcm_buffer();
extern int32_t& pcm_pending;

// Facts of the entry being played or converted (written by the worker that owns
// them before it starts reading).
struct CurrentEntry : EntryFacts {
    std::string displayName; // current_name (`path` is current_path)
};
extern CurrentEntry current;
extern double rateRatio; // out_rate / sourceRate; exactly 1.0 when equal

// Linear encode gains applied by pcm_sink (1.0 = unchanged).
extern std::atomic<double> gain_left;
extern std::atomic<double> gain_right;

// Gain of an encode-gain slider position 0..80 (40 neutral, 0.5 dB a step);
// values strictly between 0.95 and 1.05 become exactly 1.0.
double gainFromSlider(int position);

// Ratio of out_rate to sourceRate, exactly 1.0 when they are equal.
double makeRateRatio(int outRate, int sourceRate);

} // namespace kestrel
