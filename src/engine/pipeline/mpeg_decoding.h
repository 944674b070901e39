// Decoding of what the MPEG demultiplexer assembles: MPEG-2/2.5 Layer III
// frames go to the stream decoder mp3dec, the other MPEG audio frames (MPEG-1,
// and Layer I/II of MPEG-2/2.5) in batches to the MPEG audio library, AC-3
// frames to the AC-3 library. The PCM is appended to pcm_buffer and raises
// pcm_pending.
//
// pcm_buffer is never overrun and no PCM is dropped: when a decoder needs
// more room than is left, the installed drain hook hands the waiting PCM on
// (the reader passes it to pcm_sink and clears pcm_pending) and decoding
// continues. Without a hook the undecoded rest waits for the next call.
//
// Threading: used by the one active worker (playback or conversion thread).
#pragma once

#include "engine/containers/demux.h"

#include <functional>
#include <string>

namespace kestrel {

// Installs the decoding outlet into the demultiplexer and resets the decoders
// for a new source. The libraries must be loaded by the caller. `sourcePath`
// names the source in the decoders' messages.
void mpeg_decoding_start(const std::string& sourcePath = {});
// Closes the decoders, removes the outlet and the drain hook.
void mpeg_decoding_stop();
// Drops decoder state after a seek: the Layer III bit reservoir, the overlap
// and synthesis state and any stream bytes not yet decoded. The next frame
// opens the decoders again, so nothing from before the jump is heard.
void mpeg_decoding_reset();

// Empties pcm_buffer when a decoder needs room (must leave pcm_pending 0, or
// at least lower it); an empty hook removes it.
void mpeg_decoding_set_drain(std::function<void()> hook);

// Facts of the decoded PCM, known after the first frame (0 before).
int mpeg_decoded_rate();
int mpeg_decoded_channels();

// Counters of the current source, for diagnostics and tests.
struct MpegDecodingStats {
    uint64_t streamFrames = 0; // frames mp3dec produced PCM for
    uint64_t syncLosses = 0;   // "sync lost" reports of mp3dec (its core was reset)
    uint64_t drains = 0;       // times pcm_buffer was handed on to make room
    bool freeFormatRefused = false;
};
const MpegDecodingStats& mpeg_decoding_stats();

// The outlet itself (for callers that install it themselves).
DemuxOutlet& mpegDecodeOutlet();

} // namespace kestrel
