// Polyphase synthesis filterbank (ISO/IEC 11172-3 2.4.3.2.2, Figure A.2).
//
// Full rate uses 32 sub-bands and a 32-point transform; half and quarter rate
// use the lowest 16 or 8 sub-bands with a 16- or 8-point transform and every
// second or fourth window coefficient, which gives the full-rate output of
// those sub-bands at every second or fourth sample.
#pragma once

#include <cstdint>

namespace kestrel::mpa {

struct SynthState {
    // Per channel a ring of 16 slots; each slot keeps the two halves of its
    // V vector that the windowing uses.
    alignas(16) float ringA[2][16][32];
    alignas(16) float ringB[2][16][32];
    int pos[2];
};

void resetSynth(SynthState& s);

// Runs one time slot of `32 >> step` sub-band samples of channel `ch` and
// writes `32 >> step` samples to out[0], out[stride], ... (16-bit, clipped).
void synthSlot(SynthState& s, int ch, int step, const float* subbands, int16_t* out, int stride);

// Runs `count` time slots of channel `ch` (slots[t][0 .. (32 >> step) - 1])
// and writes their samples one slot after the other with the given stride.
// The transforms of eight slots are computed at once.
void synthSlots(SynthState& s, int ch, int step, const float (*slots)[32], int count, int16_t* out,
                int stride);

// As synthSlots, but writes the unrounded, unclipped samples (in 16-bit
// units) to out[0 .. count * (32 >> step) - 1].
void synthSlotsFloat(SynthState& s, int ch, int step, const float (*slots)[32], int count,
                     float* out);

// DCT-II of size n (32, 16 or 8): x[m] = sum_k in[k] cos(pi m (2k + 1) / (2n)).
void dct2(const float* in, float* x, int n);

} // namespace kestrel::mpa
