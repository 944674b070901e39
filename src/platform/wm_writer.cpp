#include "platform/wm_writer.h"

#include "common/av_segments.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstdio>

namespace kestrel {

namespace {

constexpr WmaFormat kWmaV2Formats[] = {
    {192000, 48000, 2}, {160000, 48000, 2}, {128000, 48000, 2}, {192000, 44100, 2},
    {160000, 44100, 2}, {128000, 44100, 2}, {96000, 44100, 2},  {80000, 44100, 2},
    {64000, 44100, 2},  {48000, 44100, 2},  {48000, 32000, 2},  {40000, 32000, 2},
    {32000, 32000, 2},  {32000, 22050, 2},  {24000, 22050, 2},  {48000, 44100, 1},
    {32000, 44100, 1},  {32000, 22050, 1},  {24000, 22050, 1},  {24000, 16000, 1},
    {24000, 11025, 1},  {24000, 8000, 1},
};

constexpr WmaFormat kWmaV1Formats[] = {
    {160000, 44100, 2}, {128000, 44100, 2}, {96000, 44100, 2}, {64000, 44100, 2},
    {48000, 44100, 2},  {32000, 32000, 2},  {32000, 22050, 2}, {24000, 22050, 2},
    {32000, 22050, 1},  {24000, 16000, 1},  {24000, 11025, 1}, {24000, 8000, 1},
};

constexpr WmaCodec kWmaCodecs[] = {
    {"Windows Media Audio V2", "wmav2", kWmaV2Formats},
    {"Windows Media Audio V1", "wmav1", kWmaV1Formats},
};

// An encoder of `profile`'s codec and format. 0, or a negative code.
int openEncoder(const WmProfile& profile, bool globalHeader, AVCodecContext*& c) {
    const WmaCodec& wc = wmaCodecs()[static_cast<size_t>(profile.codec)];
    const AVCodec* codec = avcodec_find_encoder_by_name(wc.encoder);
    if (!codec) return AVERROR_ENCODER_NOT_FOUND;
    c = avcodec_alloc_context3(codec);
    if (!c) return AVERROR(ENOMEM);
    const WmaFormat& f = profile.format;
    c->sample_rate = f.sampleRate;
    av_channel_layout_default(&c->ch_layout, f.channels);
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->bit_rate = f.bitRate;
    c->time_base = AVRational{1, f.sampleRate};
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return avcodec_open2(c, codec, nullptr);
}

} // namespace

std::span<const WmaCodec> wmaCodecs() {
    return kWmaCodecs;
}

std::string describeWmaFormat(const WmaFormat& f) {
    char b[64];
    std::snprintf(b, sizeof b, "%d kbps, %d kHz, %s CBR", f.bitRate / 1000, f.sampleRate / 1000,
                  f.channels == 1 ? "mono" : "stereo");
    return b;
}

std::vector<WmaFormatItem> wmaFormatList(int codec) {
    std::vector<WmaFormatItem> items;
    if (codec < 0 || codec >= static_cast<int>(wmaCodecs().size())) return items;
    const auto formats = wmaCodecs()[static_cast<size_t>(codec)].formats;
    for (size_t i = 0; i < formats.size(); ++i)
        items.push_back({describeWmaFormat(formats[i]), static_cast<int>(i)});
    // The one-pass and two-pass VBR passes find no format.
    return items;
}

const WmaFormat* wmaFormatOf(int codec, int formatValue) {
    if (codec < 0 || codec >= static_cast<int>(wmaCodecs().size()) || formatValue < 0)
        return nullptr;
    const auto formats = wmaCodecs()[static_cast<size_t>(codec)].formats;
    const size_t index = static_cast<size_t>(formatValue % kWmaVbrOffset);
    return index < formats.size() ? &formats[index] : nullptr;
}

struct WmWriter::Codec {
    AVCodecContext* ctx = nullptr;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;
    ~Codec() {
        av_frame_free(&frame);
        av_packet_free(&pkt);
        avcodec_free_context(&ctx);
    }
};

WmWriter::WmWriter() = default;

WmWriter::~WmWriter() {
    abandon();
}

int WmWriter::setProfile(const WmProfile& profile) {
    if (!profile.valid() || profile.codec >= static_cast<int>(wmaCodecs().size()) ||
        profile.format.channels < 1 || profile.format.channels > 2 ||
        profile.format.sampleRate <= 0 || profile.format.bitRate <= 0)
        return AVERROR(EINVAL);
    profile_ = profile;
    return 0;
}

int WmWriter::setInputProps(int sampleRate, int channels) {
    if (sampleRate <= 0 || channels < 1 || channels > 2) return AVERROR(EINVAL);
    inRate_ = sampleRate;
    inChannels_ = channels;
    return 0;
}

int WmWriter::setOutputFilename(const std::string& path) {
    if (path.empty()) return AVERROR(EINVAL);
    path_ = path;
    return 0;
}

int WmWriter::beginWriting() {
    if (begun_ || !profile_.valid() || inRate_ <= 0 || path_.empty()) return AVERROR(EINVAL);
    abandon(); // what a failed begin left
    const WmaCodec& wc = wmaCodecs()[static_cast<size_t>(profile_.codec)];
    if (!avcodec_find_encoder_by_name(wc.encoder)) return AVERROR_ENCODER_NOT_FOUND;
    codec_ = new Codec;
    codec_->pkt = av_packet_alloc();
    codec_->frame = av_frame_alloc();
    if (!codec_->pkt || !codec_->frame) return AVERROR(ENOMEM);
    const WmaFormat& f = profile_.format;
    int r = avformat_alloc_output_context2(&fmt_, nullptr, "asf", path_.c_str());
    if (r < 0 || !fmt_) return r < 0 ? r : AVERROR(ENOMEM);
    const bool globalHeader = (fmt_->oformat->flags & AVFMT_GLOBALHEADER) != 0;
    if ((r = openEncoder(profile_, globalHeader, codec_->ctx)) < 0) return r;
    AVCodecContext* c = codec_->ctx;
    stream_ = avformat_new_stream(fmt_, nullptr);
    if (!stream_) return AVERROR(ENOMEM);
    if ((r = avcodec_parameters_from_context(stream_->codecpar, c)) < 0) return r;
    stream_->time_base = c->time_base;
    AVChannelLayout in;
    av_channel_layout_default(&in, inChannels_);
    r = swr_alloc_set_opts2(&swr_, &c->ch_layout, AV_SAMPLE_FMT_FLTP, f.sampleRate, &in,
                            AV_SAMPLE_FMT_S16, inRate_, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (r < 0) return r;
    if ((r = swr_init(swr_)) < 0) return r;
    if ((r = avio_open(&fmt_->pb, path_.c_str(), AVIO_FLAG_WRITE)) < 0) return r;
    for (const auto& [key, value] : metadata_)
        av_dict_set(&fmt_->metadata, key.c_str(), value.c_str(), 0);
    AVDictionary* opts = nullptr;
    av_dict_set_int(&opts, "packet_size", 3200, 0);
    r = avformat_write_header(fmt_, &opts);
    av_dict_free(&opts);
    if (r < 0) return r;
    begun_ = true;
    pts_ = 0;
    pending_[0].clear();
    pending_[1].clear();
    if (threads_ > 1) {
        const WmProfile profile = profile_;
        orvo::AvSegments::Layout layout;
        layout.rate = f.sampleRate;
        layout.channels = f.channels;
        layout.frameSamples = c->frame_size > 0 ? c->frame_size : 2048;
        segments_ = std::make_unique<orvo::AvSegments>(
            [profile, globalHeader](AVCodecContext*& ctx) {
                return openEncoder(profile, globalHeader, ctx);
            },
            [this](AVPacket* pkt) { return writePacket(pkt); }, layout, threads_);
    }
    return 0;
}

int WmWriter::writePacket(AVPacket* pkt) {
    pkt->stream_index = 0;
    av_packet_rescale_ts(pkt, codec_->ctx->time_base, stream_->time_base);
    return av_interleaved_write_frame(fmt_, pkt);
}

int WmWriter::drain() {
    for (;;) {
        int r = avcodec_receive_packet(codec_->ctx, codec_->pkt);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
        if (r < 0) return r;
        r = writePacket(codec_->pkt);
        av_packet_unref(codec_->pkt);
        if (r < 0) return r;
    }
}

// Encodes whole frames of pending_; with `last` also the rest, padded with
// silence (the encoder takes whole frames only).
int WmWriter::encodePending(bool last) {
    if (segments_) {
        const float* planes[2] = {pending_[0].data(), pending_[1].data()};
        int r = segments_->feed(planes, static_cast<int64_t>(pending_[0].size()));
        pending_[0].clear();
        pending_[1].clear();
        if (r >= 0 && last) r = segments_->finish();
        if (last) segments_.reset();
        return r;
    }
    AVCodecContext* c = codec_->ctx;
    const size_t frame = static_cast<size_t>(c->frame_size > 0 ? c->frame_size : 2048);
    const int channels = profile_.format.channels;
    while (pending_[0].size() >= frame || (last && !pending_[0].empty())) {
        const size_t take = std::min(frame, pending_[0].size());
        AVFrame* fr = codec_->frame;
        av_frame_unref(fr);
        fr->nb_samples = static_cast<int>(frame);
        fr->format = c->sample_fmt;
        fr->sample_rate = c->sample_rate;
        int r = av_channel_layout_copy(&fr->ch_layout, &c->ch_layout);
        if (r < 0 || (r = av_frame_get_buffer(fr, 0)) < 0) return r;
        for (int ch = 0; ch < channels; ++ch) {
            auto* dst = reinterpret_cast<float*>(fr->extended_data[ch]);
            std::copy(pending_[ch].begin(), pending_[ch].begin() + static_cast<long>(take), dst);
            std::fill(dst + take, dst + frame, 0.0f);
            pending_[ch].erase(pending_[ch].begin(),
                               pending_[ch].begin() + static_cast<long>(take));
        }
        fr->pts = pts_;
        pts_ += static_cast<int64_t>(frame);
        if ((r = avcodec_send_frame(c, fr)) < 0) return r;
        if ((r = drain()) < 0) return r;
    }
    return 0;
}

int WmWriter::writeSample(const int16_t* pcm, int frames) {
    if (!begun_ || frames < 0 || (frames > 0 && !pcm)) return AVERROR(EINVAL);
    if (frames == 0) return 0;
    const int channels = profile_.format.channels;
    const int room = swr_get_out_samples(swr_, frames);
    if (room < 0) return room;
    std::vector<float> out[2];
    uint8_t* planes[2] = {};
    for (int ch = 0; ch < channels; ++ch) {
        out[ch].resize(static_cast<size_t>(room));
        planes[ch] = reinterpret_cast<uint8_t*>(out[ch].data());
    }
    const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(pcm)};
    int got = swr_convert(swr_, planes, room, in, frames);
    if (got < 0) return got;
    for (int ch = 0; ch < channels; ++ch)
        pending_[ch].insert(pending_[ch].end(), out[ch].begin(), out[ch].begin() + got);
    return encodePending(false);
}

int WmWriter::endWriting() {
    if (!begun_) return AVERROR(EINVAL);
    // What the resampler holds back.
    const int channels = profile_.format.channels;
    int left = swr_get_out_samples(swr_, 0);
    if (left > 0) {
        std::vector<float> out[2];
        uint8_t* planes[2] = {};
        for (int ch = 0; ch < channels; ++ch) {
            out[ch].resize(static_cast<size_t>(left));
            planes[ch] = reinterpret_cast<uint8_t*>(out[ch].data());
        }
        int got = swr_convert(swr_, planes, left, nullptr, 0);
        if (got < 0) return got;
        for (int ch = 0; ch < channels; ++ch)
            pending_[ch].insert(pending_[ch].end(), out[ch].begin(), out[ch].begin() + got);
    }
    const bool spread = segments_ != nullptr;
    int r = encodePending(true);
    if (r < 0) return r;
    if (!spread && ((r = avcodec_send_frame(codec_->ctx, nullptr)) < 0 || (r = drain()) < 0))
        return r;
    if ((r = av_write_trailer(fmt_)) < 0) return r;
    r = avio_closep(&fmt_->pb);
    begun_ = false;
    avformat_free_context(fmt_);
    fmt_ = nullptr;
    stream_ = nullptr;
    delete codec_;
    codec_ = nullptr;
    swr_free(&swr_);
    return r < 0 ? r : 0;
}

void WmWriter::abandon() {
    segments_.reset();
    const bool hadFile = fmt_ && fmt_->pb;
    if (fmt_) {
        if (fmt_->pb) avio_closep(&fmt_->pb);
        avformat_free_context(fmt_);
        fmt_ = nullptr;
    }
    stream_ = nullptr;
    delete codec_;
    codec_ = nullptr;
    swr_free(&swr_);
    if (hadFile && !path_.empty()) std::remove(path_.c_str());
    begun_ = false;
}

} // namespace kestrel
