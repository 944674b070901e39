#include "platform/media_graph.h"

#include "common/av_decoder.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrel {

namespace {

// PCM handed on per callback at most (well inside the PCM stage's buffer).
constexpr int kBlockBytes = 65536;
// A damaged stream may give errors without end; after this many packets in a
// row that decode to nothing and fail, the graph ends.
constexpr int kMaxFailuresInRow = 500;

std::string tag(AVDictionary* d, const char* key) {
    const AVDictionaryEntry* e = av_dict_get(d, key, nullptr, 0);
    return e && e->value ? e->value : "";
}

} // namespace

struct MediaGraph::Impl {
    AVFormatContext* fmt = nullptr;
    AVPacket* pkt = nullptr;
    orvo::AvDecoder dec;
    GraphFacts facts;
    double rate = 1.0;
    int64_t startTime = 0; // the audio stream's first time, in 100 ns

    std::thread thread;
    std::thread::id threadId;
    std::atomic<bool> stopRequest{false};
    std::atomic<bool> pauseRequest{false};
    std::atomic<bool> isRunning{false};
    std::atomic<bool> hasEnded{false};
    std::atomic<int64_t> position{0};
    std::atomic<int64_t> seekTarget{-1};
    std::vector<uint8_t> block;

    static int interrupt(void* self) {
        return static_cast<Impl*>(self)->stopRequest.load() ? 1 : 0;
    }

    void close() {
        dec.close();
        av_packet_free(&pkt);
        if (fmt) avformat_close_input(&fmt);
        facts = GraphFacts();
        position = 0;
        seekTarget = -1;
        hasEnded = false;
        stopRequest = false;
        pauseRequest = false;
    }

    int open(const std::string& path) {
        fmt = avformat_alloc_context();
        pkt = av_packet_alloc();
        if (!fmt || !pkt) return kGraphNotCreated;
        fmt->interrupt_callback.callback = &Impl::interrupt;
        fmt->interrupt_callback.opaque = this;
        int r = avformat_open_input(&fmt, path.c_str(), nullptr, nullptr);
        if (r < 0) return r == AVERROR(ENOMEM) ? kGraphNotCreated : kGraphNoSource;
        if (avformat_find_stream_info(fmt, nullptr) < 0 && fmt->nb_streams == 0)
            return kGraphNoSource;
        // The first audio stream a decoder takes, as a graph connects the
        // first pin that will.
        bool anyAudio = false;
        for (unsigned i = 0; i < fmt->nb_streams; ++i) {
            AVStream* st = fmt->streams[i];
            if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
            anyAudio = true;
            if (st->codecpar->codec_id == AV_CODEC_ID_NONE) continue;
            orvo::AvDecoderParams p;
            p.codecpar = st->codecpar;
            if (dec.open(st->codecpar->codec_id, p) < 0) continue;
            if (dec.rate() <= 0 || dec.channels() <= 0) {
                dec.close();
                continue;
            }
            facts.audioStream = static_cast<int>(i);
            break;
        }
        if (facts.audioStream < 0) return anyAudio ? kGraphNotConnected : kGraphNoAudio;
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            if (static_cast<int>(i) != facts.audioStream) fmt->streams[i]->discard = AVDISCARD_ALL;
        AVStream* st = fmt->streams[facts.audioStream];
        GraphAudioFormat& f = facts.format;
        f.channels = dec.channels();
        f.samplesPerSec = dec.rate();
        f.blockAlign = f.channels * 2;
        f.avgBytesPerSec = f.samplesPerSec * f.blockAlign;
        int64_t d = 0;
        if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
            d = av_rescale(fmt->duration, kGraphTimeUnits, AV_TIME_BASE);
        else if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
            d = av_rescale_q(st->duration, st->time_base, AVRational{1, kGraphTimeUnits});
        facts.duration = d;
        facts.durationSec = static_cast<int>(d / kGraphTimeUnits);
        facts.durationLow = static_cast<uint32_t>(d);
        if (const AVCodecDescriptor* cd = avcodec_descriptor_get(st->codecpar->codec_id))
            facts.codecName = cd->long_name ? cd->long_name : cd->name;
        facts.title = tag(fmt->metadata, "title");
        facts.author = tag(fmt->metadata, "author");
        if (facts.author.empty()) facts.author = tag(fmt->metadata, "artist");
        facts.copyright = tag(fmt->metadata, "copyright");
        facts.seekable = fmt->pb && (fmt->pb->seekable & AVIO_SEEKABLE_NORMAL) && d > 0;
        facts.broadcast = d == 0;
        startTime =
            st->start_time != AV_NOPTS_VALUE && st->start_time > 0
                ? av_rescale_q(st->start_time, st->time_base, AVRational{1, kGraphTimeUnits})
                : 0;
        return 0;
    }

    // The length of a source whose container states none (a RealMedia file
    // whose header says 0, a RealAudio file without a bit rate): its audio
    // packets are read to the end, and the later of the last packet's end and
    // the sum of the packets' lengths is taken. Leaves the source at its end.
    void measureDuration() {
        AVStream* st = fmt->streams[facts.audioStream];
        int64_t first = AV_NOPTS_VALUE, end = 0, sum = 0;
        while (!stopRequest.load() && av_read_frame(fmt, pkt) >= 0) {
            if (pkt->stream_index == facts.audioStream) {
                const int64_t length = pkt->duration > 0 ? pkt->duration : 0;
                sum += length;
                if (pkt->pts != AV_NOPTS_VALUE) {
                    if (first == AV_NOPTS_VALUE || pkt->pts < first) first = pkt->pts;
                    end = std::max(end, pkt->pts - first + length);
                }
            }
            av_packet_unref(pkt);
        }
        const int64_t d =
            av_rescale_q(std::max(end, sum), st->time_base, AVRational{1, kGraphTimeUnits});
        if (d <= 0) return;
        facts.duration = d;
        facts.durationSec = static_cast<int>(d / kGraphTimeUnits);
        facts.durationLow = static_cast<uint32_t>(d);
        facts.broadcast = false;
    }

    // Hands `bytes` of block on; false when the callback asked to stop.
    bool deliver(const SampleCallback& cb, int bytes, int64_t& frames) {
        const int align = facts.format.blockAlign;
        if (dropFrames > 0 && bytes > 0) {
            // After a seek: the sound before the target is not handed on.
            int64_t n = std::min<int64_t>(dropFrames, bytes / align);
            std::memmove(block.data(), block.data() + n * align,
                         static_cast<size_t>(bytes - n * align));
            bytes -= static_cast<int>(n * align);
            dropFrames -= n;
        }
        if (bytes <= 0) return true;
        const int64_t t = position.load();
        frames += bytes / align;
        position = seekBase + av_rescale(frames, kGraphTimeUnits, facts.format.samplesPerSec);
        return cb(block.data(), bytes, t);
    }

    int64_t seekBase = 0;
    // After a seek: the sample frames before the target still to drop, found
    // from the time of the first packet read there.
    int64_t dropFrames = 0;
    bool awaitFirstTime = false;

    void measureDrop(const AVPacket* p) {
        if (!awaitFirstTime || p->pts == AV_NOPTS_VALUE) return;
        awaitFirstTime = false;
        AVStream* st = fmt->streams[facts.audioStream];
        int64_t at =
            av_rescale_q(p->pts, st->time_base, AVRational{1, kGraphTimeUnits}) - startTime;
        dropFrames = seekBase > at
                         ? av_rescale(seekBase - at, facts.format.samplesPerSec, kGraphTimeUnits)
                         : 0;
    }

    // Takes every frame the decoder has ready; false to stop.
    bool drainDecoder(const SampleCallback& cb, int64_t& frames) {
        for (int guard = 0; guard < 100000; ++guard) {
            if (stopRequest.load()) return false;
            int r = dec.receive(block.data(), kBlockBytes);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
            if (r > 0 && !deliver(cb, r, frames)) return false;
            // PCM of a frame larger than the block was kept: hand it on too.
            int kept;
            while ((kept = dec.drain(block.data(), kBlockBytes)) > 0)
                if (!deliver(cb, kept, frames)) return false;
        }
        return true;
    }

    void serveSeek(int64_t& frames) {
        int64_t target = seekTarget.exchange(-1);
        if (target < 0) return;
        AVStream* st = fmt->streams[facts.audioStream];
        int64_t ts =
            av_rescale_q(target + startTime, AVRational{1, kGraphTimeUnits}, st->time_base);
        if (av_seek_frame(fmt, facts.audioStream, ts, AVSEEK_FLAG_BACKWARD) >= 0) {
            dec.reset();
            seekBase = target;
            frames = 0;
            position = target;
            dropFrames = 0;
            awaitFirstTime = true;
        }
    }

    void loop(SampleCallback cb, EndCallback onEnd) {
        block.resize(kBlockBytes);
        int64_t frames = 0;
        int failures = 0;
        int status = 0;
        bool stopped = false;
        while (!stopRequest.load()) {
            if (pauseRequest.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            if (seekTarget.load() >= 0) serveSeek(frames);
            int r = av_read_frame(fmt, pkt);
            if (r == AVERROR(EAGAIN)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            if (r < 0) {
                if (r != AVERROR_EOF && !avio_feof(fmt->pb)) status = r;
                break;
            }
            if (pkt->stream_index != facts.audioStream) {
                av_packet_unref(pkt);
                continue;
            }
            measureDrop(pkt);
            int s = dec.send(pkt);
            if (s == AVERROR(EAGAIN)) {
                if (!drainDecoder(cb, frames)) {
                    av_packet_unref(pkt);
                    stopped = true;
                    break;
                }
                s = dec.send(pkt);
            }
            av_packet_unref(pkt);
            int64_t before = frames;
            if (!drainDecoder(cb, frames)) {
                stopped = true;
                break;
            }
            if (s < 0 && frames == before) {
                if (++failures >= kMaxFailuresInRow) {
                    status = s;
                    break;
                }
            } else {
                failures = 0;
            }
        }
        if (!stopped && !stopRequest.load()) {
            // The end of the source: what the decoder still holds.
            int n;
            while (!stopRequest.load() && (n = dec.flush(block.data(), kBlockBytes)) > 0)
                if (!deliver(cb, n, frames)) break;
            hasEnded = true;
            if (onEnd) onEnd(status);
        }
        isRunning = false;
    }
};

MediaGraph::MediaGraph() : d_(std::make_unique<Impl>()) {}

MediaGraph::~MediaGraph() {
    release();
}

int MediaGraph::prepare(const std::string& path, double rate) {
    release();
    d_->rate = rate;
    int r = d_->open(path);
    if (r < 0) d_->close();
    return r;
}

const GraphFacts& MediaGraph::facts() const {
    return d_->facts;
}

double MediaGraph::rate() const {
    return d_->rate;
}

int MediaGraph::run(SampleCallback onSample, EndCallback onEnd) {
    if (!d_->fmt || d_->facts.audioStream < 0 || d_->thread.joinable()) return -1;
    d_->stopRequest = false;
    d_->hasEnded = false;
    d_->isRunning = true;
    d_->thread = std::thread(
        [this, cb = std::move(onSample), end = std::move(onEnd)] { d_->loop(cb, end); });
    d_->threadId = d_->thread.get_id();
    return 0;
}

void MediaGraph::pause() {
    d_->pauseRequest = true;
}

void MediaGraph::resume() {
    d_->pauseRequest = false;
}

void MediaGraph::stop() {
    d_->stopRequest = true;
    if (!d_->thread.joinable() || std::this_thread::get_id() == d_->thread.get_id()) return;
    d_->thread.join();
    d_->isRunning = false;
}

int MediaGraph::seek(int64_t time) {
    if (!d_->fmt || !d_->facts.seekable) return -1;
    d_->seekTarget = time < 0 ? 0 : time;
    return 0;
}

bool MediaGraph::running() const {
    return d_->isRunning.load();
}

bool MediaGraph::ended() const {
    return d_->hasEnded.load();
}

int64_t MediaGraph::position() const {
    return d_->position.load();
}

void MediaGraph::release() {
    stop();
    if (d_->thread.joinable() && std::this_thread::get_id() != d_->thread.get_id())
        d_->thread.join();
    d_->close();
}

double graphRateForMode(int conversionMode) {
    return conversionMode <= 0 ? 1.0 : conversionMode == 1 ? 2.0 : 4.0;
}

int openMediaGraph(const std::string& path, GraphFacts& facts) {
    MediaGraph g;
    int r = g.prepare(path, 1.0);
    if (r == 0 && g.d_->facts.duration <= 0) g.d_->measureDuration();
    if (r == 0) facts = g.facts();
    return r;
}

int prepareMediaGraph(MediaGraph& graph, const std::string& path, double rate) {
    return graph.prepare(path, rate);
}

int runMediaGraph(MediaGraph& graph, MediaGraph::SampleCallback onSample,
                  MediaGraph::EndCallback onEnd) {
    return graph.run(std::move(onSample), std::move(onEnd));
}

} // namespace kestrel
