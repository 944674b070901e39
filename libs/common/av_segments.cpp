#include "common/av_segments.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>

namespace orvo {

namespace {

constexpr int kSegmentSeconds = 20;
// Frames a worker takes at a time.
constexpr int64_t kBatchFrames = 32;

} // namespace

// A segment is handed to a worker as soon as its first sample arrives; the
// worker encodes what has come while the rest is being fed. Guarded by m_
// from `pcm` on.
struct AvSegments::Segment {
    int64_t start = 0;      // first sample frame
    int64_t end = 0;        // one past the last sample frame it wants
    int64_t keepFrom = 0;   // its first frame that goes into the stream
    std::vector<float> pcm; // interleaved, fed and not yet taken by the worker
    bool closed = false;    // fed up to its end, or cut short by the end of the input
    bool last = false;      // it ends the stream: its encoder is flushed
    bool cancelled = false; // not needed after all
    bool done = false;
    int error = 0;
    std::unique_ptr<Run> run;
};

struct AvSegments::Run {
    struct Packet {
        std::vector<uint8_t> data;
        int64_t pts = 0; // in samples, from the stream's start
        int64_t duration = 0;
    };
    int64_t base = 0;
    int64_t keepFrom = 0;
    std::vector<Packet> packets;
    int64_t end() const { return base + static_cast<int64_t>(packets.size()); }
};

AvSegments::AvSegments(OpenFn open, WriteFn write, const Layout& layout, int threads)
    : open_(std::move(open)), write_(std::move(write)), layout_(layout), channels_(layout.channels),
      frameSamples_(layout.frameSamples), threads_(std::max(1, threads)), workers_(threads_) {
    // Longer than its pre-roll and overlap: only the newest two segments are
    // ever being fed.
    segFrames_ = std::max<int64_t>(
        2 * (layout.preRollFrames + layout.overlapFrames),
        layout.segmentFrames > 0 ? layout.segmentFrames
                                 : int64_t(kSegmentSeconds) * layout.rate / layout.frameSamples);
    auto first = std::make_shared<Segment>();
    first->end = (segFrames_ + layout_.overlapFrames) * frameSamples_;
    dispatch(first);
}

AvSegments::~AvSegments() {
    {
        std::lock_guard<std::mutex> lk(m_);
        stopping_ = true;
    }
    arrived_.notify_all();
}

void AvSegments::encode(const std::shared_ptr<Segment>& s) {
    auto run = std::make_unique<Run>();
    run->base = s->start / frameSamples_;
    run->keepFrom = s->keepFrom;
    AVCodecContext* ctx = nullptr;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int r = pkt && frame ? open_(ctx) : AVERROR(ENOMEM);
    auto drain = [&] {
        for (;;) {
            int e = avcodec_receive_packet(ctx, pkt);
            if (e == AVERROR(EAGAIN) || e == AVERROR_EOF) return 0;
            if (e < 0) return e;
            Run::Packet p;
            p.data.assign(pkt->data, pkt->data + pkt->size);
            p.pts = pkt->pts + s->start;
            p.duration = pkt->duration;
            run->packets.push_back(std::move(p));
            av_packet_unref(pkt);
        }
    };
    std::vector<float> chunk;
    int64_t at = 0; // sample frames of the segment sent to the encoder
    bool last = false;
    while (r >= 0) {
        bool closed = false;
        {
            std::unique_lock<std::mutex> lk(m_);
            // Samples come a block at a time: they are taken in batches.
            arrived_.wait(lk, [&] {
                return stopping_ || s->closed ||
                       static_cast<int64_t>(s->pcm.size()) >=
                           kBatchFrames * frameSamples_ * channels_;
            });
            if (stopping_ || s->cancelled) break;
            closed = s->closed;
            last = s->last;
            // Every whole frame there is; at the end of the stream the rest too.
            size_t take = s->pcm.size() / channels_;
            if (!last) take -= take % static_cast<size_t>(frameSamples_);
            take *= static_cast<size_t>(channels_);
            chunk.assign(s->pcm.begin(), s->pcm.begin() + static_cast<long>(take));
            s->pcm.erase(s->pcm.begin(), s->pcm.begin() + static_cast<long>(take));
        }
        const int64_t total = static_cast<int64_t>(chunk.size()) / channels_;
        for (int64_t i0 = 0; r >= 0 && i0 < total; i0 += frameSamples_) {
            const int64_t n = std::min<int64_t>(frameSamples_, total - i0);
            av_frame_unref(frame);
            // The last one short, or padded with silence.
            const int64_t size = layout_.shortLastFrame ? n : frameSamples_;
            frame->nb_samples = static_cast<int>(size);
            frame->format = ctx->sample_fmt;
            frame->sample_rate = ctx->sample_rate;
            if ((r = av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout)) < 0 ||
                (r = av_frame_get_buffer(frame, 0)) < 0)
                break;
            for (int c = 0; c < channels_; ++c) {
                auto* dst = reinterpret_cast<float*>(frame->extended_data[c]);
                for (int64_t i = 0; i < size; ++i)
                    dst[i] = i < n ? chunk[static_cast<size_t>((i0 + i) * channels_ + c)] : 0.0f;
            }
            frame->pts = at;
            at += n;
            if ((r = avcodec_send_frame(ctx, frame)) >= 0) r = drain();
        }
        if (closed) break;
    }
    if (r >= 0 && last && (r = avcodec_send_frame(ctx, nullptr)) >= 0) r = drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    {
        std::lock_guard<std::mutex> lk(m_);
        s->run = std::move(run);
        s->error = r < 0 ? r : 0;
        s->done = true;
    }
    done_.notify_all();
}

void AvSegments::dispatch(std::shared_ptr<Segment> s) {
    workers_.submit([this, s] { encode(s); });
    filling_.push_back(s);
    unjoined_.push_back(std::move(s));
    // No more segments in hand than the workers can take and one waiting; a
    // segment still being fed is never waited for.
    while (static_cast<int>(unjoined_.size()) > threads_ && unjoined_.front()->closed && !error_)
        joinReady(true);
    joinReady(false);
}

int AvSegments::feed(const float* const* planes, int64_t frames) {
    if (error_ || finished_) return error_ ? error_ : AVERROR(EINVAL);
    int64_t at = 0;
    while (at < frames) {
        const int64_t nextStart = (nextIndex_ * segFrames_ - layout_.preRollFrames) * frameSamples_;
        int64_t upTo = std::min(fed_ + frames - at, nextStart);
        for (auto& s : filling_)
            upTo = std::min(upTo, s->end);
        const int64_t n = upTo - fed_;
        {
            std::lock_guard<std::mutex> lk(m_);
            for (auto& s : filling_) {
                for (int64_t i = 0; i < n; ++i)
                    for (int c = 0; c < channels_; ++c)
                        s->pcm.push_back(planes[c][at + i]);
            }
            fed_ = upTo;
            for (auto& s : filling_)
                if (s->end == fed_) s->closed = true;
        }
        arrived_.notify_all();
        at += n;
        std::erase_if(filling_, [](const std::shared_ptr<Segment>& s) { return s->closed; });
        if (fed_ == nextStart) {
            auto s = std::make_shared<Segment>();
            s->start = nextStart;
            s->keepFrom = nextIndex_ * segFrames_;
            s->end = ((nextIndex_ + 1) * segFrames_ + layout_.overlapFrames) * frameSamples_;
            ++nextIndex_;
            dispatch(s);
        }
        if (error_) return error_;
    }
    return error_;
}

int AvSegments::finish() {
    if (finished_) return error_;
    finished_ = true;
    {
        // The oldest segment being fed ends the stream; one begun after it
        // holds nothing it does not.
        std::lock_guard<std::mutex> lk(m_);
        for (size_t i = 0; i < filling_.size(); ++i) {
            filling_[i]->closed = true;
            filling_[i]->last = i == 0;
            filling_[i]->cancelled = i > 0;
        }
    }
    arrived_.notify_all();
    std::erase_if(unjoined_, [](const std::shared_ptr<Segment>& s) { return s->cancelled; });
    filling_.clear();
    while (!unjoined_.empty() && !error_)
        joinReady(true);
    if (cur_ && !error_) error_ = emit(*cur_, cur_->end());
    return error_;
}

void AvSegments::joinReady(bool wait) {
    while (!unjoined_.empty() && !error_) {
        std::shared_ptr<Segment> s = unjoined_.front();
        {
            std::unique_lock<std::mutex> lk(m_);
            if (!s->done) {
                if (!wait) return;
                done_.wait(lk, [&] { return s->done; });
            }
        }
        unjoined_.pop_front();
        wait = false;
        if (s->error) {
            error_ = s->error;
            return;
        }
        if (cur_) {
            const int64_t join = std::min(s->keepFrom, cur_->end());
            if ((error_ = emit(*cur_, join)) < 0) return;
            s->run->keepFrom = join;
        }
        cur_ = std::move(s->run);
    }
}

int AvSegments::emit(Run& run, int64_t upTo) {
    AVPacket* pkt = av_packet_alloc();
    if (!pkt) return AVERROR(ENOMEM);
    int r = 0;
    for (int64_t g = std::max(run.keepFrom, run.base); r >= 0 && g < upTo; ++g) {
        const Run::Packet& p = run.packets[static_cast<size_t>(g - run.base)];
        if ((r = av_new_packet(pkt, static_cast<int>(p.data.size()))) < 0) break;
        std::copy(p.data.begin(), p.data.end(), pkt->data);
        pkt->pts = pkt->dts = p.pts;
        pkt->duration = p.duration;
        r = write_(pkt);
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    run.keepFrom = upTo;
    return r < 0 ? r : 0;
}

} // namespace orvo
