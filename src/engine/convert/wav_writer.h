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

#include "engine/convert/output_runs.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrel {

inline constexpr uint32_t kWavMaxDataBytes = 0xFFFFFFFFu - 36u; // 4294967259

class WavWriter {
  public:
    // PCM is gathered into runs of this many bytes before it is written.
    static constexpr size_t kRunBytes = kOutputRunBytes;

    // PCM bytes that reached the output so far (held bytes not included).
    uint32_t dataBytes = 0;

    // Resets the count for a new output (and its limit message).
    void reset();
    // Writes the 44 header bytes for `channels` and `rate` with the current
    // count.
    int writeHeader(FILE* out, int channels, int rate) const;
    // Adds to the count (the PCM was appended by the caller).
    void count(uint32_t bytes);
    // Appends PCM, cut to whole sample frames at the size limit; returns the
    // bytes taken. The bytes are held until a run is full and then written
    // (and counted) together; `out` should be unbuffered, so that a failed
    // write leaves exactly the bytes that reached the file, and is found by
    // ferror(out) after the call that wrote the run. `outputName` names the
    // file in the limit message.
    size_t append(FILE* out, const uint8_t* pcm, size_t bytes, int channels,
                  const std::string& outputName);
    // Writes the held bytes and counts those that reached the file. Returns
    // the number of held bytes that did not (0 when all did, or none were
    // held); they are dropped, and added up for takeUnwritten(). Nothing is
    // written after a failed write.
    size_t flush(FILE* out);
    // The held bytes dropped by failed writes since the last call.
    uint64_t takeUnwritten() {
        uint64_t n = unwritten_;
        unwritten_ = 0;
        return n;
    }
    // Bytes taken but not written yet.
    size_t heldBytes() const { return held_.size(); }
    // Writes the held bytes, patches both size fields and closes the stream;
    // nothing when `out` is null.
    int finish(FILE* out);

  private:
    bool limitReported_ = false;
    std::vector<uint8_t> held_;
    uint64_t unwritten_ = 0;
};

// The header bytes for a given count (for tests and other writers).
void wavHeaderBytes(uint8_t out[44], uint32_t dataSize, int channels, int rate);

} // namespace kestrel
