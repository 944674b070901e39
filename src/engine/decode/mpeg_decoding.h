// Decoding of what the MPEG demultiplexer assembles: MPEG audio frame batches
// go to the MPEG audio library (MPEG-1, and Layer I/II of MPEG-2/2.5) or to the
// built-in frame decoder (MPEG-2/2.5 Layer III), AC-3 frames to the AC-3
// library. The PCM is appended to pcm_buffer and raises pcm_pending.
//
// Threading: used by the one active worker (playback or conversion thread).
#pragma once

#include "engine/containers/demux.h"

namespace kestrel {

// Installs the decoding outlet into the demultiplexer and resets the decoders
// for a new source. The libraries must be loaded by the caller.
void mpeg_decoding_start();
// Closes the decoders and removes the outlet.
void mpeg_decoding_stop();
// Drops decoder state after a seek (the next frame opens them again).
void mpeg_decoding_reset();

// Facts of the decoded PCM, known after the first frame (0 before).
int mpeg_decoded_rate();
int mpeg_decoded_channels();

// The outlet itself (for callers that install it themselves).
DemuxOutlet& mpegDecodeOutlet();

} // namespace kestrel
