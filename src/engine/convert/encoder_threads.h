// How many threads an encoder may spread one output over (segment-parallel
// encoding of MP3, EXE, WMA and AAC outputs): a process-wide choice, the
// processors by default.
#pragma once

namespace kestrel {

inline constexpr int kMaxEncoderThreads = 64;

// The threads outputs may be encoded on: 0 (the default) every processor the
// process may use, 1 one thread.
void set_encoder_threads(int threads);
int encoder_threads();

// The threads an output of `seconds` (its expected playing time) is encoded
// on: the encoder threads for a silent conversion of more than a minute,
// else 1. Real-time and double-speed conversions are paced by the sound
// device, and a short output is done before threads would pay.
int encoderThreadsFor(int seconds);

} // namespace kestrel
