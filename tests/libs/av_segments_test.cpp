// Segment-parallel encoding with a libavcodec encoder: whatever the length of
// the input and however it is fed, the joined stream has the packet count,
// timestamps and durations of a one-thread encoding, and its packets up to the
// first join are the one-thread packets byte for byte.
#include "common/av_segments.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kFrame = 1024;

struct Packet {
    std::vector<uint8_t> data;
    int64_t pts, duration;
    bool operator==(const Packet&) const = default;
};

int openAac(AVCodecContext*& c) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) return AVERROR_ENCODER_NOT_FOUND;
    c = avcodec_alloc_context3(codec);
    if (!c) return AVERROR(ENOMEM);
    c->sample_rate = kRate;
    av_channel_layout_default(&c->ch_layout, 2);
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->bit_rate = 128000;
    c->time_base = AVRational{1, kRate};
    const int r = avcodec_open2(c, codec, nullptr);
    if (r < 0) avcodec_free_context(&c);
    return r;
}

std::vector<float> tone(int64_t frames, int channel) {
    std::vector<float> v(static_cast<size_t>(frames));
    for (int64_t i = 0; i < frames; ++i)
        v[size_t(i)] = 0.3f * std::sin(2 * M_PI * (440 + 220 * channel) * double(i) / kRate);
    return v;
}

// The one-thread encoding, the last frame short.
std::vector<Packet> oneThread(const std::vector<float> (&pcm)[2]) {
    AVCodecContext* c = nullptr;
    EXPECT_GE(openAac(c), 0);
    AVFrame* f = av_frame_alloc();
    AVPacket* p = av_packet_alloc();
    std::vector<Packet> out;
    auto drain = [&] {
        while (avcodec_receive_packet(c, p) >= 0) {
            out.push_back({std::vector<uint8_t>(p->data, p->data + p->size), p->pts, p->duration});
            av_packet_unref(p);
        }
    };
    const int64_t total = static_cast<int64_t>(pcm[0].size());
    for (int64_t at = 0; at < total; at += kFrame) {
        av_frame_unref(f);
        f->nb_samples = static_cast<int>(std::min<int64_t>(kFrame, total - at));
        f->format = c->sample_fmt;
        f->sample_rate = kRate;
        av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
        av_frame_get_buffer(f, 0);
        for (int ch = 0; ch < 2; ++ch)
            std::copy_n(pcm[ch].begin() + at, f->nb_samples,
                        reinterpret_cast<float*>(f->extended_data[ch]));
        f->pts = at;
        avcodec_send_frame(c, f);
        drain();
    }
    avcodec_send_frame(c, nullptr);
    drain();
    av_frame_free(&f);
    av_packet_free(&p);
    avcodec_free_context(&c);
    return out;
}

} // namespace

TEST(AvSegments, JoinedStreamHasTheOneThreadLayout) {
    // Segments of 16 frames, 4 of pre-roll, 2 fed past the end: the next
    // segment begins at frame 12, so lengths around 12, 16 and 18 frames end
    // the input while one or two segments are being fed.
    const struct {
        int64_t frames; // sample frames of input
        int block;      // fed this many at a time
    } cases[] = {{0, 100},
                 {500, 100},
                 {kFrame, kFrame},
                 {12 * kFrame, 333},
                 {12 * kFrame + 1, 4096},
                 {16 * kFrame, 16 * kFrame},
                 {18 * kFrame, 777},
                 {18 * kFrame - 5, 5000},
                 {50 * kFrame + 17, 1000},
                 {75 * kFrame, 75 * kFrame}};
    for (const auto& c : cases) {
        for (int threads : {2, 3}) {
            SCOPED_TRACE(::testing::Message() << c.frames << " frames in blocks of " << c.block
                                              << ", " << threads << " threads");
            const std::vector<float> pcm[2] = {tone(c.frames, 0), tone(c.frames, 1)};
            const std::vector<Packet> want = oneThread(pcm);
            std::vector<Packet> got;
            orvo::AvSegments::Layout layout;
            layout.rate = kRate;
            layout.channels = 2;
            layout.frameSamples = kFrame;
            layout.segmentFrames = 16;
            layout.preRollFrames = 4;
            layout.overlapFrames = 2;
            layout.shortLastFrame = true;
            {
                orvo::AvSegments seg(
                    openAac,
                    [&](AVPacket* p) {
                        got.push_back({std::vector<uint8_t>(p->data, p->data + p->size), p->pts,
                                       p->duration});
                        return 0;
                    },
                    layout, threads);
                for (int64_t at = 0; at < c.frames; at += c.block) {
                    const int64_t n = std::min<int64_t>(c.block, c.frames - at);
                    const float* planes[2] = {pcm[0].data() + at, pcm[1].data() + at};
                    ASSERT_EQ(seg.feed(planes, n), 0);
                }
                ASSERT_EQ(seg.finish(), 0);
            }
            ASSERT_EQ(got.size(), want.size());
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].pts, want[i].pts) << i;
                EXPECT_EQ(got[i].duration, want[i].duration) << i;
                // The first segment's encoder is the one-thread encoder up to
                // the first join.
                if (i < 16) {
                    EXPECT_EQ(got[i].data, want[i].data) << i;
                }
            }
        }
    }
}
