#include "ac3stream/ac3stream.h"

#include "orvoaacdec/av_pcm.h"

#include <cstring>

namespace {

struct Decoder {
    AVCodecContext* ctx = nullptr;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;
    orvo::PcmConverter pcm;

    ~Decoder() {
        avcodec_free_context(&ctx);
        av_packet_free(&pkt);
        av_frame_free(&frame);
    }
};

thread_local Decoder* g_dec = nullptr;

} // namespace

extern "C" {

AC3STREAM_API int ac3buf_init(void) {
    ac3buf_close();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AC3);
    if (!codec) return -1;
    auto* d = new Decoder;
    d->ctx = avcodec_alloc_context3(codec);
    d->pkt = av_packet_alloc();
    d->frame = av_frame_alloc();
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "downmix", "stereo", 0);
    int r = d->ctx && d->pkt && d->frame ? avcodec_open2(d->ctx, codec, &opts) : -1;
    av_dict_free(&opts);
    if (r < 0) {
        delete d;
        return -1;
    }
    g_dec = d;
    return 0;
}

AC3STREAM_API int ac3buf_close(void) {
    delete g_dec;
    g_dec = nullptr;
    return 0;
}

#ifndef AC3STREAM_INCOMPLETE
AC3STREAM_API int ac3buf_readdata(const unsigned char* frame, int length, unsigned char* pcm,
                                  int capacity, int* pcm_length) {
    if (pcm_length) *pcm_length = 0;
    Decoder* d = g_dec;
    if (!d || !frame || !pcm || !pcm_length || length < 0 || capacity < 0) return -1;
    if (length < 7 || frame[0] != 0x0B || frame[1] != 0x77) return -2;

    int written = 0;
    // PCM kept from an earlier call comes first.
    if (d->pcm.rate() > 0 && d->pcm.pending() > 0) {
        int n = d->pcm.convert(nullptr, pcm, capacity);
        if (n > 0) written += n;
    }

    if (av_new_packet(d->pkt, length) < 0) return -1;
    memcpy(d->pkt->data, frame, static_cast<size_t>(length));
    int r = avcodec_send_packet(d->ctx, d->pkt);
    av_packet_unref(d->pkt);
    if (r < 0) {
        *pcm_length = written;
        return r == AVERROR(EAGAIN) ? written : -2;
    }
    bool damaged = false;
    for (;;) {
        r = avcodec_receive_frame(d->ctx, d->frame);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) {
            damaged = true;
            break;
        }
        if (d->pcm.rate() <= 0) d->pcm.setTarget(d->frame->sample_rate, 2);
        int n = d->pcm.convert(d->frame, pcm + written, capacity - written);
        av_frame_unref(d->frame);
        if (n < 0) {
            damaged = true;
            break;
        }
        written += n;
    }
    *pcm_length = written;
    if (damaged && written == 0) return -2;
    return written;
}
#endif

AC3STREAM_API int ac3buf_get_handle(void) {
    return g_dec ? 1 : 0;
}

} // extern "C"
