// Drops the samples around the sound that the encoder added: the delay or
// priming before it and the padding after it, as a gapless file's tag or an
// MP4 edit list gives them. A reader applies it to each run of decoded PCM
// before handing the run on; after a seek nothing more is dropped.
#pragma once

#include "engine/core/run_state.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kestrel {

struct PcmTrim {
    int64_t skipFrames = 0;       // sample frames still to drop at the start
    int64_t remainingFrames = -1; // sample frames still to keep (-1: all)
    // Sample frames dropped after those, before all that follows is kept
    // (the padding of a file that other frames follow); -1: none is kept.
    int64_t dropAfterEnd = -1;

    void apply(PcmBuffer& pcm, int channels) {
        if (channels <= 0 || pcm.pending <= 0) return;
        const int frameBytes = channels * 2;
        int64_t have = pcm.pending / frameBytes;
        if (skipFrames > 0) {
            const int64_t drop = std::min(skipFrames, have);
            std::memmove(pcm.data(), pcm.data() + drop * frameBytes,
                         static_cast<size_t>(pcm.pending - drop * frameBytes));
            pcm.pending -= static_cast<int32_t>(drop * frameBytes);
            skipFrames -= drop;
            have -= drop;
        }
        if (remainingFrames >= 0) {
            const int64_t keep = std::min(have, remainingFrames);
            remainingFrames -= keep;
            if (remainingFrames > 0 || dropAfterEnd < 0) {
                pcm.pending = static_cast<int32_t>(keep * frameBytes);
                return;
            }
            // Past the end: the padding goes, what follows it stays.
            const int64_t drop = std::min(have - keep, dropAfterEnd);
            uint8_t* at = pcm.data() + keep * frameBytes;
            std::memmove(at, at + drop * frameBytes,
                         static_cast<size_t>((have - keep - drop) * frameBytes));
            pcm.pending = static_cast<int32_t>((have - drop) * frameBytes);
            dropAfterEnd -= drop;
            if (dropAfterEnd == 0) remainingFrames = dropAfterEnd = -1;
        }
    }
    void seeked() {
        skipFrames = 0;
        remainingFrames = -1;
        dropAfterEnd = -1;
    }
};

} // namespace kestrel
