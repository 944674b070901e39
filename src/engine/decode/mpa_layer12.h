// Layer I and Layer II decoding (ISO/IEC 11172-3 2.4.3.2-3, with the lower
// sampling frequencies of ISO/IEC 13818-3).
#pragma once

#include "engine/core/mpeg_audio_header.h"
#include "engine/decode/mpa_synth.h"

#include <cstdint>

namespace kestrel::mpa {

// Decodes one Layer I or Layer II frame (frameBytes bytes from the header on;
// missing bits read as zero) into (samplesPerFrame >> step) samples per
// channel, interleaved, one channel when `mono` is set or the stream has one.
void decodeLayer1(SynthState& synth, const MpegAudioHeader& h, const uint8_t* frame, int frameBytes,
                  int step, bool mono, int16_t* out);
void decodeLayer2(SynthState& synth, const MpegAudioHeader& h, const uint8_t* frame, int frameBytes,
                  int step, bool mono, int16_t* out);

} // namespace kestrel::mpa
