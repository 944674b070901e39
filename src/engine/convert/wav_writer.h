// The WAV writer: the canonical 44-byte RIFF/WAVE header for 16-bit PCM, the
// count of PCM bytes appended after it, and the patch of both size fields when
// the output is finished. It serves WAV outputs and the intermediate file of
// WMA outputs.
//
// A WavWriter belongs to one output: its `dataBytes` counts across the entries
// of a joined output and restarts (reset) for each per-file output. The size fields are 32 bits:
// appending stops once the data would make the RIFF size pass 0xFFFFFFFF, with one message, so the
// header always tells the truth.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrel {

inline constexpr uint32_t kWavMaxDataBytes = 0xFFFFFFFFu - 36u; // 4294967259

class WavWriter {
  public:
    // PCM bytes appended to the output so far.
    uint32_t dataBytes = 0;

    // Resets the count for a new output (and its limit message).
    void reset();
    // Writes the 44 header bytes for `channels` and `rate` with the current
    // count.
    int writeHeader(FILE* out, int channels, int rate) const;
    // Adds to the count (the PCM was appended by the caller).
    void count(uint32_t bytes);
    // Appends PCM and counts it, cut to whole sample frames at the size limit;
    // returns the bytes written. `outputName` names the file in the limit
    // message.
    size_t append(FILE* out, const uint8_t* pcm, size_t bytes, int channels,
                  const std::string& outputName);
    // Patches both size fields and closes the stream; nothing when `out` is
    // null.
    int finish(FILE* out) const;

  private:
    bool limitReported_ = false;
};

// The header bytes for a given count (for tests and other writers).
void wavHeaderBytes(uint8_t out[44], uint32_t dataSize, int channels, int rate);

} // namespace kestrel
