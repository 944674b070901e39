// A libavcodec context with the packet and frame that go with it: the set-up
// and release every codec library built on libavcodec needs (internal).
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>

namespace orvo {

struct AvCodecSet {
    AVCodecContext* ctx = nullptr;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;

    AvCodecSet() = default;
    AvCodecSet(const AvCodecSet&) = delete;
    AvCodecSet& operator=(const AvCodecSet&) = delete;
    ~AvCodecSet() { release(); }

    // Allocates the context for `codec` with its packet and frame (an earlier
    // set is released first). 0, or AVERROR(ENOMEM).
    int allocate(const AVCodec* codec);
    void release();
};

// Copies `size` bytes to the context's extradata, padded as libavcodec wants
// (size 0: leaves it as it is). 0, or AVERROR(ENOMEM) / AVERROR(EINVAL).
int setExtradata(AVCodecContext* ctx, const uint8_t* data, int size);

} // namespace orvo
