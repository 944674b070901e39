// The WAV writer: the canonical 44-byte RIFF/WAVE header for 16-bit PCM, the
// count of PCM bytes appended after it, and the patch of both size fields when
// the output is finished. It serves WAV outputs and the intermediate file of
// WMA outputs.
//
// `dataBytes` counts across the entries of a joined output and restarts for
// each per-file output. The size fields are 32 bits: appending stops once the
// data would make the RIFF size pass 0xFFFFFFFF, with one message, so the
// header always tells the truth.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrel {

inline constexpr uint32_t kWavMaxDataBytes = 0xFFFFFFFFu - 36u; // 4294967259

extern uint32_t dataBytes;

// Resets the count for a new output (and its limit message).
void wav_reset();
// Writes the 44 header bytes for `channels` and `rate` with the current count.
int wav_write_header(FILE* out, int channels, int rate);
// Adds to the count (the PCM was appended by the caller).
void wav_count(uint32_t bytes);
// Appends PCM and counts it, cut to whole sample frames at the size limit;
// returns the bytes written. `outputName` names the file in the limit message.
size_t wav_append(FILE* out, const uint8_t* pcm, size_t bytes, int channels,
                  const std::string& outputName);
// Patches both size fields and closes the stream; nothing when `out` is null.
int wav_finish(FILE* out);

// The header bytes for a given count (for tests and other writers).
void wav_header_bytes(uint8_t out[44], uint32_t dataSize, int channels, int rate);

} // namespace kestrel
