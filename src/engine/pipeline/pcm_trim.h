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
            if (have > remainingFrames)
                pcm.pending = static_cast<int32_t>(remainingFrames * frameBytes);
            remainingFrames -= std::min(have, remainingFrames);
        }
    }
    void seeked() {
        skipFrames = 0;
        remainingFrames = -1;
    }
};

} // namespace kestrel
