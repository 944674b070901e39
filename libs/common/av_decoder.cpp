#include "common/av_decoder.h"

extern "C" {
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>

namespace orvo {

namespace {

constexpr int kMaxChannels = 2;
// libswresample's limit on the channels of one stream.
constexpr int kSwrMaxChannels = 64;

} // namespace

bool AvDecoder::available(AVCodecID id) {
    return avcodec_find_decoder(id) != nullptr;
}

int AvDecoder::open(AVCodecID id, const AvDecoderParams& p) {
    close();
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) return AVERROR_DECODER_NOT_FOUND;
    int r = codec_.allocate(codec);
    AVCodecContext* ctx = codec_.ctx;
    if (r >= 0 && p.codecpar) r = avcodec_parameters_to_context(ctx, p.codecpar);
    if (r >= 0) r = setExtradata(ctx, p.extradata, p.extradataSize);
    if (r >= 0) {
        if (p.sampleRate > 0) ctx->sample_rate = p.sampleRate;
        if (p.channels > 0) {
            av_channel_layout_uninit(&ctx->ch_layout);
            av_channel_layout_default(&ctx->ch_layout, p.channels);
        }
        if (p.blockAlign > 0) ctx->block_align = p.blockAlign;
        if (p.bitsPerCodedSample > 0) ctx->bits_per_coded_sample = p.bitsPerCodedSample;
        decoderDownmix_ = p.decoderDownmix;
        openedWith_ = avcodec_parameters_alloc();
        r = openedWith_ ? avcodec_parameters_from_context(openedWith_, ctx) : AVERROR(ENOMEM);
    }
    if (r >= 0) r = openContext(codec);
    if (r < 0) {
        close();
        return r;
    }
    outRate_ = p.outRate > 0 ? p.outRate : ctx->sample_rate > 0 ? ctx->sample_rate : p.fallbackRate;
    outChannels_ = p.outChannels > 0                ? p.outChannels
                   : ctx->ch_layout.nb_channels > 0 ? ctx->ch_layout.nb_channels
                                                    : p.fallbackChannels;
    outRate_ = std::max(outRate_, 0);
    outChannels_ = std::clamp(outChannels_, 0, kMaxChannels);
    return 0;
}

int AvDecoder::openContext(const AVCodec* codec) {
    AVDictionary* opts = nullptr;
    // Decoders without the option leave it in the dictionary unused.
    if (decoderDownmix_) av_dict_set(&opts, "downmix", "stereo", 0);
    int r = avcodec_open2(codec_.ctx, codec, &opts);
    av_dict_free(&opts);
    return r;
}

void AvDecoder::close() {
    closeConverter();
    codec_.release();
    avcodec_parameters_free(&openedWith_);
    decoderDownmix_ = false;
    outRate_ = outChannels_ = 0;
    draining_ = ended_ = false;
}

int AvDecoder::send(const uint8_t* data, int size) {
    if (!isOpen() || size < 0 || (size > 0 && !data)) return AVERROR(EINVAL);
    if (!data) return send(static_cast<const AVPacket*>(nullptr));
    AVPacket* pkt = codec_.pkt;
    int r = av_new_packet(pkt, size);
    if (r < 0) return r;
    std::copy(data, data + size, pkt->data);
    r = send(pkt);
    av_packet_unref(pkt);
    return r;
}

int AvDecoder::send(const AVPacket* packet) {
    if (!isOpen()) return AVERROR(EINVAL);
    if (!packet) draining_ = true;
    return avcodec_send_packet(codec_.ctx, packet);
}

int AvDecoder::receive(uint8_t* pcm, int capacity) {
    if (!isOpen() || !pcm || capacity < 0) return AVERROR(EINVAL);
    AVFrame* frame = codec_.frame;
    int r = avcodec_receive_frame(codec_.ctx, frame);
    if (r == AVERROR_EOF) ended_ = true;
    if (r < 0) return r;
    r = fixTarget(frame) ? convert(frame, pcm, capacity) : AVERROR_INVALIDDATA;
    av_frame_unref(frame);
    return r;
}

int AvDecoder::drain(uint8_t* pcm, int capacity) {
    if (!pcm || capacity < 0) return AVERROR(EINVAL);
    return std::max(0, convert(nullptr, pcm, capacity));
}

int AvDecoder::decode(const uint8_t* data, int size, uint8_t* pcm, int capacity) {
    if (!isOpen() || !data || !pcm || size < 0 || capacity < 0) return AVERROR(EINVAL);
    int written = drain(pcm, capacity);
    int r = send(data, size);
    if (r == AVERROR(EAGAIN)) {
        // Frames of an earlier packet still wait: take them, then the packet.
        while ((r = receive(pcm + written, capacity - written)) >= 0)
            written += r;
        r = send(data, size);
    }
    bool damaged = r < 0 && r != AVERROR(EAGAIN);
    for (;;) {
        r = receive(pcm + written, capacity - written);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) {
            damaged = true;
            break;
        }
        written += r;
    }
    return damaged && written == 0 ? AVERROR_INVALIDDATA : written;
}

int AvDecoder::flush(uint8_t* pcm, int capacity) {
    if (!isOpen() || !pcm || capacity < 0) return AVERROR(EINVAL);
    int written = drain(pcm, capacity);
    if (!draining_) send(static_cast<const AVPacket*>(nullptr));
    // Frames are taken only while there is room, so the decoder keeps the
    // rest rather than the converter holding a whole tail.
    while (!ended_ && written < capacity) {
        int r = receive(pcm + written, capacity - written);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
            ended_ = true;
            break;
        }
        if (r > 0) written += r;
    }
    // The resampler's own delay comes out last.
    if (ended_ && written < capacity)
        written += std::max(0, convert(nullptr, pcm + written, capacity - written, true));
    return written;
}

int AvDecoder::reset() {
    if (!isOpen()) return AVERROR(EINVAL);
    closeConverter();
    draining_ = ended_ = false;
    const AVCodec* codec = codec_.ctx->codec;
    int r = codec_.allocate(codec);
    if (r >= 0) r = avcodec_parameters_to_context(codec_.ctx, openedWith_);
    if (r >= 0) r = openContext(codec);
    if (r < 0) close();
    return r;
}

bool AvDecoder::fixTarget(const AVFrame* frame) {
    if (outRate_ <= 0) outRate_ = frame->sample_rate;
    if (outChannels_ <= 0) outChannels_ = std::min(frame->ch_layout.nb_channels, kMaxChannels);
    return outRate_ > 0 && outChannels_ > 0;
}

int AvDecoder::convert(const AVFrame* frame, uint8_t* out, int capacity, bool endOfStream) {
    if (frame && !converterMatches(frame)) {
        int r = openConverter(frame);
        if (r < 0) return r;
    }
    if (!swr_) return 0;
    int frameBytes = 2 * outChannels_;
    int room = capacity / frameBytes;
    if (room <= 0 && !frame) return 0;
    uint8_t* outPlanes[1] = {out};
    // Without a frame, an empty input gives what the converter holds; a null
    // one would flush the resampler's delay, which only the end may do.
    const uint8_t* none[kSwrMaxChannels] = {};
    const uint8_t** in = frame         ? const_cast<const uint8_t**>(frame->extended_data)
                         : endOfStream ? nullptr
                                       : none;
    int n = swr_convert(swr_, outPlanes, room, in, frame ? frame->nb_samples : 0);
    return n < 0 ? n : n * frameBytes;
}

bool AvDecoder::converterMatches(const AVFrame* f) const {
    return swr_ && f->sample_rate == inRate_ && f->format == inFormat_ &&
           av_channel_layout_compare(&f->ch_layout, &inLayout_) == 0;
}

int AvDecoder::openConverter(const AVFrame* f) {
    if (f->sample_rate <= 0 || f->ch_layout.nb_channels <= 0 ||
        f->ch_layout.nb_channels > kSwrMaxChannels)
        return AVERROR_INVALIDDATA;
    // Anything held from the previous layout cannot be converted with the
    // new parameters: it is dropped.
    closeConverter();
    int r = av_channel_layout_copy(&inLayout_, &f->ch_layout);
    if (r < 0) return r;
    // Zeroed: av_channel_layout_copy() releases what its target held before.
    AVChannelLayout outLayout{}, mixLayout{};
    av_channel_layout_default(&outLayout, outChannels_);
    if (inLayout_.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&mixLayout, inLayout_.nb_channels);
    else
        r = av_channel_layout_copy(&mixLayout, &inLayout_);
    if (r >= 0)
        r = swr_alloc_set_opts2(&swr_, &outLayout, AV_SAMPLE_FMT_S16, outRate_, &mixLayout,
                                static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&outLayout);
    av_channel_layout_uninit(&mixLayout);
    if (r >= 0 && !swr_) r = AVERROR(ENOMEM);
    if (r >= 0) r = swr_init(swr_);
    if (r < 0) {
        closeConverter();
        return r;
    }
    inRate_ = f->sample_rate;
    inFormat_ = f->format;
    return 0;
}

void AvDecoder::closeConverter() {
    swr_free(&swr_);
    av_channel_layout_uninit(&inLayout_);
    inRate_ = 0;
    inFormat_ = -1;
}

} // namespace orvo
