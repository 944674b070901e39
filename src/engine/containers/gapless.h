// Gapless playback of MPEG audio files: the Xing/Info frame that encoders put
// in front of the sound is not sound, and its LAME extension tells how many
// samples of encoder delay lead the sound and how many of padding follow it.
// The readers skip the tag frame and drop exactly those samples, so a decoded
// file is as long as what was encoded.
#pragma once

#include <cstdint>
#include <cstddef>

namespace kestrel {

struct GaplessInfo {
    bool tagFrame = false; // the first frame is a Xing/Info frame
    int frameBytes = 0;    // its length
    uint32_t frames = 0;   // frames counted by the tag (0 when absent)
    int delay = -1;        // encoder delay in samples (-1: no LAME extension)
    int padding = -1;      // encoder padding in samples
    int samplesPerFrame = 0;
};

// Reads the tag from the first frame (`n` bytes available from its header).
GaplessInfo parseGaplessTag(const uint8_t* frame, size_t n);

// The decoder's own delay that the LAME delay leaves out (MPEG audio decoders
// output 528 + 1 samples late).
inline constexpr int kDecoderDelay = 529;

} // namespace kestrel
