#include "orvoadpcmdec/orvoadpcmdec.h"

#include "orvoaacdec/av_pcm.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct Decoder {
    AVCodecContext* ctx = nullptr;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;
    orvo::PcmConverter pcm;
    int blockAlign = 0;
    std::vector<uint8_t> partial; // bytes of an incomplete block

    ~Decoder() {
        avcodec_free_context(&ctx);
        av_packet_free(&pkt);
        av_frame_free(&frame);
    }
};

thread_local Decoder* g_dec = nullptr;

unsigned rl16(const unsigned char* p) {
    return p[0] | (p[1] << 8);
}
unsigned rl32(const unsigned char* p) {
    return rl16(p) | (rl16(p + 2) << 16);
}

bool isAdpcm(AVCodecID id) {
    return id >= AV_CODEC_ID_ADPCM_IMA_QT && id < AV_CODEC_ID_AMR_NB;
}

// Formats decoded in blocks of nBlockAlign bytes.
bool needsBlocks(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_ADPCM_MS:
    case AV_CODEC_ID_ADPCM_IMA_WAV:
    case AV_CODEC_ID_ADPCM_IMA_DK3:
    case AV_CODEC_ID_ADPCM_IMA_DK4:
        return true;
    default:
        return false;
    }
}

// Sends one packet and appends the PCM of every frame it gives.
int decodePacket(Decoder& d, const uint8_t* data, int size, uint8_t* pcm, int capacity) {
    if (av_new_packet(d.pkt, size) < 0) return 0;
    std::memcpy(d.pkt->data, data, static_cast<size_t>(size));
    int r = avcodec_send_packet(d.ctx, d.pkt);
    av_packet_unref(d.pkt);
    if (r < 0) return 0;
    int written = 0;
    while (avcodec_receive_frame(d.ctx, d.frame) >= 0) {
        int n = d.pcm.convert(d.frame, pcm + written, capacity - written);
        av_frame_unref(d.frame);
        if (n > 0) written += n;
    }
    return written;
}

} // namespace

extern "C" {

ORVOADPCMDEC_API int orvo_adpcm_init(const unsigned char* wf, int length) {
    orvo_adpcm_close();
    if (!wf || length < 16) return -1;
    unsigned tag = rl16(wf), channels = rl16(wf + 2), rate = rl32(wf + 4);
    unsigned align = rl16(wf + 12), bits = rl16(wf + 14);
    const AVCodecTag* const tags[] = {avformat_get_riff_audio_tags(), nullptr};
    AVCodecID id = av_codec_get_id(tags, tag);
    if (!isAdpcm(id)) return -2;
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) return -2;
    if (channels < 1 || channels > 2 || rate < 1 || rate > 384000) return -3;
    if (needsBlocks(id) && align == 0) return -3;

    auto* d = new Decoder;
    d->ctx = avcodec_alloc_context3(codec);
    d->pkt = av_packet_alloc();
    d->frame = av_frame_alloc();
    if (!d->ctx || !d->pkt || !d->frame) {
        delete d;
        return -4;
    }
    d->ctx->sample_rate = static_cast<int>(rate);
    av_channel_layout_default(&d->ctx->ch_layout, static_cast<int>(channels));
    d->ctx->block_align = static_cast<int>(align);
    d->ctx->bits_per_coded_sample = static_cast<int>(bits);
    if (length >= 18) {
        int extra = static_cast<int>(rl16(wf + 16));
        if (extra > length - 18) extra = length - 18; // never trust the stated size
        if (extra > 0) {
            d->ctx->extradata =
                static_cast<uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
            if (d->ctx->extradata) {
                std::memcpy(d->ctx->extradata, wf + 18, static_cast<size_t>(extra));
                d->ctx->extradata_size = extra;
            }
        }
    }
    if (avcodec_open2(d->ctx, codec, nullptr) < 0) {
        delete d;
        return -4;
    }
    d->blockAlign = needsBlocks(id) ? static_cast<int>(align) : 0;
    d->pcm.setTarget(static_cast<int>(rate), static_cast<int>(channels));
    g_dec = d;
    return 0;
}

ORVOADPCMDEC_API int orvo_adpcm_decode(const unsigned char* data, int length, unsigned char* pcm,
                                       int capacity) {
    Decoder* d = g_dec;
    if (!d || !pcm || length < 0 || capacity < 0) return -1;
    int written = 0;
    // PCM kept from an earlier call comes first.
    if (d->pcm.pending() > 0) written += std::max(0, d->pcm.convert(nullptr, pcm, capacity));

    if (!data || length == 0) {
        if (!d->partial.empty()) {
            written += decodePacket(*d, d->partial.data(), static_cast<int>(d->partial.size()),
                                    pcm + written, capacity - written);
            d->partial.clear();
        }
        return written;
    }
    if (d->blockAlign <= 0)
        return written + decodePacket(*d, data, length, pcm + written, capacity - written);

    const size_t block = static_cast<size_t>(d->blockAlign);
    size_t pos = 0, len = static_cast<size_t>(length);
    if (!d->partial.empty()) {
        size_t take = std::min(block - d->partial.size(), len);
        d->partial.insert(d->partial.end(), data, data + take);
        pos = take;
        if (d->partial.size() < block) return written;
        written +=
            decodePacket(*d, d->partial.data(), d->blockAlign, pcm + written, capacity - written);
        d->partial.clear();
    }
    for (; len - pos >= block; pos += block)
        written += decodePacket(*d, data + pos, d->blockAlign, pcm + written, capacity - written);
    if (pos < len) d->partial.assign(data + pos, data + len);
    return written;
}

ORVOADPCMDEC_API int orvo_adpcm_close(void) {
    delete g_dec;
    g_dec = nullptr;
    return 0;
}

} // extern "C"
