// Decoded frames to the 16-bit interleaved PCM the program consumes, shared by
// the decoder libraries built on libavcodec (header only, internal).
//
// The target rate and channel count are fixed when the stream is opened;
// frames of any sample format, layout or rate are converted to them, so a
// stream that changes its layout midway still gives the PCM the caller was
// promised. PCM that does not fit the caller's buffer stays in the resampler
// and comes first on the next call.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cstdint>

namespace orvo {

class PcmConverter {
  public:
    PcmConverter() = default;
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;
    ~PcmConverter() { reset(); }

    void setTarget(int rate, int channels) {
        reset();
        outRate_ = rate;
        outChannels_ = channels;
    }
    int rate() const { return outRate_; }
    int channels() const { return outChannels_; }

    void reset() {
        swr_free(&swr_);
        av_channel_layout_uninit(&inLayout_);
        inRate_ = 0;
        inFormat_ = -1;
    }

    // Converts `frame` (nullptr: only drains what is buffered) into `out`.
    // Returns the bytes written (>= 0) or a negative AVERROR.
    int convert(const AVFrame* frame, uint8_t* out, int capacity) {
        if (outRate_ <= 0 || outChannels_ <= 0 || capacity < 0) return AVERROR(EINVAL);
        if (frame && !matches(frame)) {
            int r = open(frame);
            if (r < 0) return r;
        }
        if (!swr_) return 0;
        int frameBytes = 2 * outChannels_;
        int room = capacity / frameBytes;
        if (room <= 0) return 0;
        uint8_t* outPlanes[1] = {out};
        int n = swr_convert(swr_, outPlanes, room,
                            frame ? (const uint8_t**)frame->extended_data : nullptr,
                            frame ? frame->nb_samples : 0);
        if (n < 0) return n;
        return n * frameBytes;
    }

    // Samples per channel still held in the resampler.
    int64_t pending() const { return swr_ ? swr_get_delay(swr_, outRate_ > 0 ? outRate_ : 1) : 0; }

  private:
    bool matches(const AVFrame* f) const {
        return swr_ && f->sample_rate == inRate_ && f->format == inFormat_ &&
               av_channel_layout_compare(&f->ch_layout, &inLayout_) == 0;
    }

    int open(const AVFrame* f) {
        if (f->sample_rate <= 0 || f->ch_layout.nb_channels <= 0) return AVERROR_INVALIDDATA;
        // Drop anything buffered from the previous layout: it cannot be
        // converted with the new parameters.
        reset();
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, outChannels_);
        int r = av_channel_layout_copy(&inLayout_, &f->ch_layout);
        if (r < 0) return r;
        AVChannelLayout mixLayout;
        if (inLayout_.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&mixLayout, inLayout_.nb_channels);
        else
            av_channel_layout_copy(&mixLayout, &inLayout_);
        r = swr_alloc_set_opts2(&swr_, &outLayout, AV_SAMPLE_FMT_S16, outRate_, &mixLayout,
                                static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        av_channel_layout_uninit(&mixLayout);
        if (r < 0 || !swr_) return r < 0 ? r : AVERROR(ENOMEM);
        r = swr_init(swr_);
        if (r < 0) {
            swr_free(&swr_);
            return r;
        }
        inRate_ = f->sample_rate;
        inFormat_ = f->format;
        return 0;
    }

    SwrContext* swr_ = nullptr;
    AVChannelLayout inLayout_{};
    int inRate_ = 0;
    int inFormat_ = -1;
    int outRate_ = 0;
    int outChannels_ = 0;
};

} // namespace orvo
