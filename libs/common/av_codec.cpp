#include "common/av_codec.h"

#include <cstring>

namespace orvo {

int AvCodecSet::allocate(const AVCodec* codec) {
    release();
    ctx = avcodec_alloc_context3(codec);
    pkt = av_packet_alloc();
    frame = av_frame_alloc();
    if (ctx && pkt && frame) return 0;
    release();
    return AVERROR(ENOMEM);
}

void AvCodecSet::release() {
    avcodec_free_context(&ctx);
    av_packet_free(&pkt);
    av_frame_free(&frame);
}

int setExtradata(AVCodecContext* ctx, const uint8_t* data, int size) {
    if (size == 0) return 0;
    if (!ctx || !data || size < 0) return AVERROR(EINVAL);
    auto* copy = static_cast<uint8_t*>(av_mallocz(size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!copy) return AVERROR(ENOMEM);
    std::memcpy(copy, data, static_cast<size_t>(size));
    av_freep(&ctx->extradata);
    ctx->extradata = copy;
    ctx->extradata_size = size;
    return 0;
}

} // namespace orvo
