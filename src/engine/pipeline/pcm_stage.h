// The PCM stage: the one place decoded PCM goes, in playback and conversion
// alike. `pcm_sink` converts pcm_buffer's pending bytes to the effective
// output format (rate, channels, channel pick), applies the encode gains and
// the sound effects, then writes or encodes the block while `converting` is
// set, feeds the level meter, plays it while `sound_on` is set and feeds the
// display while `display_on` is set. The meter and display hooks do their work
// only while the window shows them (`meters_on`, display_feed.h).
//
// Threading: runs on the thread of whichever reader calls it (one at a time);
// flags and gains are polled once per step.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class Corvopcmchange;

namespace kestrel {

struct PcmOutput;

// Writes one block of the stage's output (out_rate, out_channels, 16-bit
// little-endian) into `out`: the writer or encoder of the output's type. The
// conversion driver installs one for each output it opens. It is called on the
// thread running `pcm_sink`, only while `converting` is set, and only while the
// output's stream is open and no write to it has failed. It returns >= 0 when
// the block went whole to the output (or, for a writer that works on a thread
// of its own, was taken by it in order); after a failed write it sets
// `out.writeError`, shows its message and returns a negative value. A writer
// with a thread of its own reports a failure it met on the next call.
using PcmWriteFn = int (*)(PcmOutput& out, const uint8_t* block, int len);

// The output an entry writes, as the sink sees it. `stream` is null when the
// output could not be opened, `write` null when none was installed: the sink
// then writes nothing.
struct PcmOutput {
    int type = -1; // output type 0..9
    FILE* stream = nullptr;
    std::string name;
    // The type's encoder library writes the file itself: no stream.
    bool encoderFile = false;
    PcmWriteFn write = nullptr;
    void* writerState = nullptr; // the state `write` keeps for this output
    uint64_t pcmBytes = 0;       // PCM bytes passed to the writer/encoder
    // errno of the first failed write (0: none). The failing write shows its
    // message; nothing more is written to the output, and the reading loop
    // ends the entry.
    int writeError = 0;
};

// True when the reading loop feeding `out` must end: a write to it failed.
inline bool outputFailed(const PcmOutput* out) {
    return out && out->writeError != 0;
}

// The process-wide rate and channel changer.
Corvopcmchange& pcmChanger();

// Prepares the change for an entry when `ratio` != 1.0 or the source's channel
// count differs from out_channels. Returns 0 when ready (or not needed), -1
// when the changer could not be set up: the entry must not be converted.
int prepare_pcm_change(double ratio, int sourceChannels);
bool pcmChangeActive();
// Flushes the changer's held-back samples through the rest of the stage
// (into `out`, with the same ratio) and closes it.
void close_pcm_change(PcmOutput* out, double ratio);

// Step size in bytes for a rate ratio.
int pcmStepBytes(double ratio);

// Consumes `pending` bytes of `pcm` (16-bit, `sourceChannels` channels).
// The stage (its changer, hooks and effects) is one per process: one worker
// at a time calls it.
int pcm_sink(const uint8_t* pcm, int pending, int sourceChannels, PcmOutput* out, double ratio);
// The same for the process-wide buffer and the current entry: consumes
// pcm_pending bytes of pcm_buffer (it does not clear pcm_pending).
int pcm_sink(PcmOutput* out, double ratio);

// Applies the encode gains to one block in place (stereo: left/right; mono:
// gain_left). Products are clamped and truncated toward zero.
void applyGains(int16_t* samples, int count, int channels, double left, double right);

// Counted for every block while converting, written or not.
extern uint64_t job_pcm_bytes; // PCM bytes converted in the current job

// Hooks of the later stages (the device ring, meters, display). Each may be
// null; they run in this order after the output is written.
struct PcmSinkHooks {
    void (*meter)(const uint8_t* pcm, int bytes) = nullptr;
    void (*play)(const uint8_t* pcm, int bytes) = nullptr;
    void (*display)(const uint8_t* pcm, int bytes) = nullptr;
};
extern PcmSinkHooks pcmHooks;

} // namespace kestrel
