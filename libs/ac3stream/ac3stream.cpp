#include "ac3stream/ac3stream.h"

#include "common/av_decoder.h"

namespace {

thread_local orvo::AvDecoder* g_dec = nullptr;

} // namespace

extern "C" {

AC3STREAM_API int ac3buf_init(void) {
    ac3buf_close();
    auto* d = new orvo::AvDecoder;
    orvo::AvDecoderParams p;
    p.decoderDownmix = true; // with the mix levels the stream carries
    p.outChannels = 2;
    if (d->open(AV_CODEC_ID_AC3, p) < 0) {
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
    orvo::AvDecoder* d = g_dec;
    if (!d || !frame || !pcm || !pcm_length || length < 0 || capacity < 0) return -1;
    if (length < 7 || frame[0] != 0x0B || frame[1] != 0x77) return -2;
    int r = d->decode(frame, length, pcm, capacity);
    if (r < 0) return -2;
    *pcm_length = r;
    return r;
}
#endif

AC3STREAM_API int ac3buf_get_handle(void) {
    return g_dec ? 1 : 0;
}

} // extern "C"
