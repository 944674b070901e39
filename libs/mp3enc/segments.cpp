#include "segments.h"

#include "engine/core/mp3_side_info.h"
#include "engine/core/mpeg_audio_header.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace mp3enc {

namespace {

// Frames of pre-roll before a segment, and past its end; the frames a join
// that found no fit in the overlap feeds on at a time.
constexpr int64_t kPreRollFrames = 12;
constexpr int64_t kOverlapFrames = 10;
constexpr int64_t kWidenFrames = 8;
// About this many seconds of sound per segment.
constexpr int kSegmentSeconds = 20;
// Sample frames per encoder call.
constexpr int kChunkFrames = 4608;

std::mutex g_initMutex; // LAME fills tables of its own when set up

// CRC-16 with the polynomial 0x8005 (reflected), initial value 0: the CRC of
// the music and of the tag in the encoder's tag.
uint16_t crc16(uint16_t crc, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

int kbpsOf(const uint8_t* frame) {
    kestrel::MpegAudioHeader h;
    return kestrel::parseMpegAudioHeader(frame, h) ? h.bitRateKbps : 0;
}

void putBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

} // namespace

lame_global_flags* createLame(const Config& c, bool tag) {
    std::lock_guard<std::mutex> lock(g_initMutex);
    lame_global_flags* gf = lame_init();
    if (!gf) return nullptr;
    lame_set_in_samplerate(gf, c.rate);
    lame_set_out_samplerate(gf, c.rate);
    lame_set_num_channels(gf, c.channels);
    lame_set_mode(gf, c.channels == 1 ? MONO : JOINT_STEREO);
    lame_set_bWriteVbrTag(gf, 0);
    // The LAME tag carries the track's ReplayGain, measured over every sample
    // the encoder takes; an encoder without the tag need not measure.
    lame_set_findReplayGain(gf, tag ? 1 : 0);
    if (c.mode == 1) {
        lame_set_VBR(gf, vbr_default);
        lame_set_VBR_q(gf, c.quality);
        lame_set_VBR_min_bitrate_kbps(gf, c.minKbps);
        lame_set_VBR_max_bitrate_kbps(gf, c.maxKbps);
        lame_set_VBR_hard_min(gf, 1);
    } else if (c.mode == 2) {
        lame_set_VBR(gf, vbr_abr);
        lame_set_VBR_mean_bitrate_kbps(gf, c.kbps);
    } else {
        lame_set_VBR(gf, vbr_off);
        lame_set_brate(gf, c.kbps);
    }
    lame_set_bWriteVbrTag(gf, tag ? 1 : 0);
    if (lame_init_params(gf) < 0) {
        lame_close(gf);
        return nullptr;
    }
    return gf;
}

// One frame of a run: where it is in the run's bytes, its reservoir facts and
// the main-data offset of its area (counted from the run's first frame).
struct FrameRef {
    size_t off = 0;
    int len = 0;
    kestrel::Mp3ReservoirFacts f;
    int64_t md = 0;
};

// The frames of one encoder.
struct SegmentEncoder::Run {
    lame_global_flags* gf = nullptr;
    int channels = 0;
    int64_t base = 0;     // the stream's frame number of frames[0]
    int64_t keepFrom = 0; // its first frame that goes into the stream
    int64_t fedEnd = 0;   // one past the last sample frame fed
    bool tag = false;     // its first frame is the tag's placeholder
    bool flushed = false;
    bool tagSeen = false;
    std::vector<uint8_t> bytes;
    size_t parsed = 0;
    std::vector<FrameRef> frames;
    std::vector<uint8_t> tagFrame;
    int64_t md = 0;

    ~Run() {
        if (gf) lame_close(gf);
    }
    int64_t end() const { return base + static_cast<int64_t>(frames.size()); }
    FrameRef& at(int64_t g) { return frames[static_cast<size_t>(g - base)]; }

    void parse() {
        while (bytes.size() - parsed >= 4) {
            kestrel::MpegAudioHeader h;
            if (!kestrel::parseMpegAudioHeader(&bytes[parsed], h) || h.layer != 3 ||
                h.frameBytes <= 0) {
                ++parsed; // not at a frame: on to the next sync
                continue;
            }
            if (bytes.size() - parsed < static_cast<size_t>(h.frameBytes)) break;
            FrameRef r;
            r.off = parsed;
            r.len = h.frameBytes;
            kestrel::readMp3Reservoir(&bytes[parsed], bytes.size() - parsed, r.f);
            parsed += static_cast<size_t>(h.frameBytes);
            if (tag && !tagSeen) {
                tagSeen = true;
                // The placeholder is a header and zeros; the encoder leaves
                // it out where the tag would not fit a frame of its bit rate.
                bool zeros = true;
                for (size_t i = r.off + 4; i < parsed && zeros; ++i)
                    zeros = bytes[i] == 0;
                if (!zeros) goto audio;
                tagFrame.assign(bytes.begin() + static_cast<long>(r.off),
                                bytes.begin() + static_cast<long>(parsed));
                continue;
            }
        audio:
            r.md = md;
            md += r.f.areaBytes;
            frames.push_back(r);
        }
    }

    bool encode(const short* pcm, int64_t count) {
        std::vector<uint8_t> buf(static_cast<size_t>(kChunkFrames) * 5 / 4 + 7200);
        for (int64_t at = 0; at < count; at += kChunkFrames) {
            const int n = static_cast<int>(std::min<int64_t>(kChunkFrames, count - at));
            short* p = const_cast<short*>(pcm + at * channels);
            const int got =
                channels == 2
                    ? lame_encode_buffer_interleaved(gf, p, n, buf.data(),
                                                     static_cast<int>(buf.size()))
                    : lame_encode_buffer(gf, p, p, n, buf.data(), static_cast<int>(buf.size()));
            if (got < 0) return false;
            bytes.insert(bytes.end(), buf.begin(), buf.begin() + got);
        }
        fedEnd += count;
        parse();
        return true;
    }

    bool flush() {
        std::vector<uint8_t> buf(16384);
        const int got = lame_encode_flush(gf, buf.data(), static_cast<int>(buf.size()));
        if (got < 0) return false;
        bytes.insert(bytes.end(), buf.begin(), buf.begin() + got);
        flushed = true;
        parse();
        return true;
    }

    // The main-data bytes [from, upTo) of the frames before `g`, upTo being
    // the start of frame g's area: pointers into `bytes`, first to last.
    std::vector<uint8_t*> mainData(int64_t g, int64_t from) {
        std::vector<uint8_t*> out;
        int64_t j = g - 1;
        int64_t x = at(g - 1).md + at(g - 1).f.areaBytes;
        while (x > from && j >= base) {
            FrameRef& r = at(j);
            uint8_t* area = &bytes[r.off + static_cast<size_t>(r.f.areaOffset)];
            for (int64_t y = std::min<int64_t>(x, r.md + r.f.areaBytes) - 1; y >= r.md && y >= from;
                 --y)
                out.push_back(area + (y - r.md));
            x = r.md;
            --j;
        }
        std::reverse(out.begin(), out.end());
        return out;
    }
};

struct SegmentEncoder::Segment {
    int index = 0;
    int64_t start = 0;    // its first sample frame
    int64_t end = 0;      // one past the last sample frame it wants
    int64_t keepFrom = 0; // the first frame it may be joined at
    bool last = false;
    std::vector<short> pcm;
    // Set by its worker.
    bool done = false;
    bool ok = true;
    std::unique_ptr<Run> run;

    int64_t have(int channels) const { return static_cast<int64_t>(pcm.size()) / channels; }
};

SegmentEncoder::SegmentEncoder(const Config& config, int threads)
    : cfg_(config), threads_(std::max(1, threads)), workers_(threads_) {
    frameSamples_ = config.rate >= 32000 ? 1152 : 576;
    segFrames_ = std::max<int64_t>(4 * (kPreRollFrames + kOverlapFrames),
                                   int64_t(kSegmentSeconds) * config.rate / frameSamples_);
    auto first = std::make_shared<Segment>();
    first->end = (segFrames_ + kOverlapFrames) * frameSamples_;
    open_.push_back(first);
    nextIndex_ = 1;
    encoderDelay_ = 0;
    // The encoders scale their input (their presets lower it a little) before
    // they measure it.
    float scale[2] = {1.f, 1.f};
    if (lame_global_flags* gf = createLame(config, false)) {
        scale[0] = lame_get_scale(gf) * lame_get_scale_left(gf);
        scale[1] = lame_get_scale(gf) * lame_get_scale_right(gf);
        lame_close(gf);
    }
    gain_ = std::make_unique<GainAnalysis>(config.rate, config.channels, scale[0], scale[1]);
}

SegmentEncoder::~SegmentEncoder() = default;

void SegmentEncoder::encode(const std::shared_ptr<Segment>& s) {
    auto run = std::make_unique<Run>();
    run->channels = cfg_.channels;
    run->tag = s->index == 0;
    run->gf = createLame(cfg_, run->tag);
    run->base = s->start / frameSamples_;
    run->fedEnd = s->start;
    run->keepFrom = s->keepFrom;
    bool ok = run->gf && run->encode(s->pcm.data(), s->have(cfg_.channels));
    if (ok && s->last) ok = run->flush();
    {
        std::lock_guard<std::mutex> lk(m_);
        s->run = std::move(run);
        s->ok = ok;
        s->done = true;
    }
    done_.notify_all();
}

void SegmentEncoder::dispatch(std::shared_ptr<Segment> s) {
    workers_.submit([this, s] { encode(s); });
    unjoined_.push_back(std::move(s));
    // No more segments in hand than the workers can take and one waiting.
    while (static_cast<int>(unjoined_.size()) > threads_ && !failed_)
        joinReady(true);
    joinReady(false);
}

bool SegmentEncoder::feed(const short* pcm, int frames) {
    if (failed_ || finished_) return false;
    const int ch = cfg_.channels;
    gain_->add(pcm, frames);
    int64_t left = frames;
    while (left > 0) {
        // Up to the next event: a segment's start or one's end.
        const int64_t nextStart = (nextIndex_ * segFrames_ - kPreRollFrames) * frameSamples_;
        int64_t upTo = fed_ + left;
        upTo = std::min(upTo, nextStart);
        for (auto& s : open_)
            upTo = std::min(upTo, s->end);
        const int64_t n = upTo - fed_;
        for (auto& s : open_)
            s->pcm.insert(s->pcm.end(), pcm, pcm + n * ch);
        pcm += n * ch;
        left -= n;
        fed_ = upTo;
        if (fed_ == nextStart) {
            auto s = std::make_shared<Segment>();
            s->index = nextIndex_;
            s->start = nextStart;
            s->keepFrom = nextIndex_ * segFrames_;
            s->end = ((nextIndex_ + 1) * segFrames_ + kOverlapFrames) * frameSamples_;
            ++nextIndex_;
            open_.push_back(s);
        }
        for (size_t i = 0; i < open_.size();) {
            if (open_[i]->end == fed_) {
                auto s = open_[i];
                open_.erase(open_.begin() + static_cast<long>(i));
                dispatch(s);
                if (failed_) return false;
            } else {
                ++i;
            }
        }
    }
    return !failed_;
}

bool SegmentEncoder::finish() {
    if (finished_) return !failed_;
    finished_ = true;
    if (!failed_) {
        // The segment begun last holds nothing the one before does not: the
        // one before ends the stream.
        if (open_.size() > 1) open_.resize(1);
        if (!open_.empty()) {
            open_[0]->last = true;
            auto s = open_[0];
            open_.clear();
            dispatch(s);
        }
        while (!unjoined_.empty() && !failed_)
            joinReady(true);
    }
    if (cur_ && !failed_) emit(*cur_, cur_->end());
    if (!failed_) {
        // The last encoder's flush measures the silence it pads the input
        // with too: up to the end of the last frame and on through the
        // encoder's look-ahead (752 samples) less the 528 samples of silence
        // it puts in front of the input, which it does not measure.
        gain_->addSilence(static_cast<int64_t>(frameKbps_.size()) * frameSamples_ + 224 - fed_);
        radioGain_ = gain_->radioGainTenths();
    }
    return !failed_;
}

void SegmentEncoder::joinReady(bool wait) {
    while (!unjoined_.empty() && !failed_) {
        std::shared_ptr<Segment> s = unjoined_.front();
        {
            std::unique_lock<std::mutex> lk(m_);
            if (!s->done) {
                if (!wait) return;
                done_.wait(lk, [&] { return s->done; });
            }
        }
        unjoined_.pop_front();
        wait = false; // one awaited segment is enough
        if (!s->ok) {
            failed_ = true;
            return;
        }
        if (!cur_) {
            cur_ = std::move(s->run);
            if (!cur_->tagFrame.empty()) {
                // The whole stream's tag is made from this encoder's.
                std::vector<uint8_t> t(cur_->tagFrame.size() + 64);
                size_t n = lame_get_lametag_frame(cur_->gf, t.data(), t.size());
                if (n == cur_->tagFrame.size())
                    tagTemplate_.assign(t.begin(), t.begin() + static_cast<long>(n));
                // Flushed, it has measured the whole stream's ReplayGain.
                tagMeasured_ = cur_->flushed;
                encoderDelay_ = lame_get_encoder_delay(cur_->gf);
                out_.insert(out_.end(), cur_->tagFrame.begin(), cur_->tagFrame.end());
                streamBytes_ += cur_->tagFrame.size();
            }
            continue;
        }
        joinNext(*s);
    }
}

void SegmentEncoder::joinNext(Segment& next) {
    Run& c = *cur_;
    Run& t = *next.run;
    const int ch = cfg_.channels;
    int64_t g = std::max(next.keepFrom, c.keepFrom + 1);
    bool widened = false;
    for (;;) {
        for (; g <= c.end() && g < t.end(); ++g) {
            FrameRef& prev = c.at(g - 1);
            FrameRef& mine = t.at(g);
            bool windows = true;
            const int gr = prev.f.granules - 1;
            for (int k = 0; k < prev.f.channels && k < mine.f.channels; ++k)
                windows = windows &&
                          kestrel::mp3WindowsJoin(prev.f.blockType[gr][k], mine.f.blockType[0][k]);
            const int64_t area = prev.md + prev.f.areaBytes;
            const int64_t usedEnd = prev.md - prev.f.mainDataBegin + (prev.f.mainDataBits + 7) / 8;
            const int64_t keptStart = c.at(c.keepFrom).md;
            const int need = mine.f.mainDataBegin;
            if (!windows || need > area - usedEnd || area - need < keptStart) continue;
            if (need > mine.md) continue; // it points before its own encoder's first frame
            // The join: the bytes it points back to go in front of it, the
            // rest of the space is zeroed.
            std::vector<uint8_t*> dst = c.mainData(g, std::max(usedEnd, keptStart));
            std::vector<uint8_t*> src;
            if (need > 0) src = t.mainData(g, mine.md - need);
            for (uint8_t* p : dst)
                *p = 0;
            for (size_t i = 0; i < src.size(); ++i)
                *dst[dst.size() - src.size() + i] = *src[i];
            emit(c, g);
            next.run->keepFrom = g;
            cur_ = std::move(next.run);
            ++stats_.joins;
            if (widened) ++stats_.widened;
            return;
        }
        // No frame fits yet: the current encoder goes on into the next segment.
        widened = true;
        const int64_t pcmEnd = next.start + next.have(ch);
        if (c.fedEnd < pcmEnd) {
            const int64_t n = std::min<int64_t>(kWidenFrames * frameSamples_, pcmEnd - c.fedEnd);
            if (!c.encode(next.pcm.data() + (c.fedEnd - next.start) * ch, n)) {
                failed_ = true;
                return;
            }
            continue;
        }
        if (next.last && !c.flushed) {
            if (!c.flush()) failed_ = true;
            if (failed_) return;
            continue;
        }
        // The current encoder has encoded the whole segment itself.
        ++stats_.widened;
        return;
    }
}

void SegmentEncoder::emit(Run& run, int64_t upTo) {
    for (int64_t g = run.keepFrom; g < upTo; ++g) {
        const FrameRef& r = run.at(g);
        const uint8_t* p = &run.bytes[r.off];
        out_.insert(out_.end(), p, p + r.len);
        frameKbps_.push_back(static_cast<uint16_t>(kbpsOf(p)));
        streamBytes_ += static_cast<uint64_t>(r.len);
        musicCrc_ = crc16(musicCrc_, p, static_cast<size_t>(r.len));
    }
    run.keepFrom = upTo;
}

int SegmentEncoder::take(uint8_t* out, int cap) {
    int n = 0;
    while (out_.size() - outPos_ >= 4) {
        kestrel::MpegAudioHeader h;
        if (!kestrel::parseMpegAudioHeader(&out_[outPos_], h) || h.frameBytes <= 0) break;
        if (n + h.frameBytes > cap || out_.size() - outPos_ < static_cast<size_t>(h.frameBytes))
            break;
        std::memcpy(out + n, &out_[outPos_], static_cast<size_t>(h.frameBytes));
        n += h.frameBytes;
        outPos_ += static_cast<size_t>(h.frameBytes);
    }
    if (outPos_ == out_.size() || outPos_ > (1u << 20)) {
        out_.erase(out_.begin(), out_.begin() + static_cast<long>(outPos_));
        outPos_ = 0;
    }
    return n;
}

int SegmentEncoder::tagFrame(uint8_t* out, int cap) {
    if (tagTemplate_.empty()) return 0;
    if (cap < static_cast<int>(tagTemplate_.size())) return -1;
    std::vector<uint8_t> t = tagTemplate_;
    kestrel::MpegAudioHeader h;
    kestrel::parseMpegAudioHeader(t.data(), h);
    const size_t x = static_cast<size_t>(h.headerBytes + h.sideInfoBytes);
    if (t.size() < x + 156 || (std::memcmp(&t[x], "Xing", 4) && std::memcmp(&t[x], "Info", 4)))
        return -1;
    const uint32_t frames = static_cast<uint32_t>(frameKbps_.size());
    putBe32(&t[x + 8], frames);
    putBe32(&t[x + 12], static_cast<uint32_t>(streamBytes_));
    // The seek table, made as the encoder makes it for its own stream: the
    // running sum of the frames' bit rates, sampled every `want` frames into
    // at most 400 places (halved when full).
    std::vector<double> bag(400);
    int pos = 0, want = 1, seen = 0;
    double sum = 0;
    for (uint16_t kbps : frameKbps_) {
        sum += kbps;
        if (++seen < want) continue;
        if (pos < 400) {
            bag[static_cast<size_t>(pos++)] = sum;
            seen = 0;
        }
        if (pos == 400) {
            for (int i = 1; i < 400; i += 2)
                bag[static_cast<size_t>(i / 2)] = bag[static_cast<size_t>(i)];
            want *= 2;
            pos /= 2;
        }
    }
    t[x + 16] = 0;
    for (int i = 1; i < 100 && pos > 0; ++i) {
        int at = static_cast<int>(std::floor(i / 100.0f * pos));
        if (at > pos - 1) at = pos - 1;
        const int point = static_cast<int>(256. * bag[static_cast<size_t>(at)] / sum);
        t[x + 16 + static_cast<size_t>(i)] = static_cast<uint8_t>(std::min(point, 255));
    }
    // Encoder delay and padding, 12 bits each.
    const int64_t samples = fed_;
    int64_t padding = int64_t(frames) * frameSamples_ - samples - encoderDelay_;
    padding = std::clamp<int64_t>(padding, 0, 4095);
    const size_t lame = x + 120;
    t[lame + 21] = static_cast<uint8_t>(encoderDelay_ >> 4);
    t[lame + 22] = static_cast<uint8_t>(((encoderDelay_ & 15) << 4) | (padding >> 8));
    t[lame + 23] = static_cast<uint8_t>(padding & 255);
    if (!tagMeasured_) {
        // The first encoder's tag was taken before it had seen the whole
        // stream: the whole stream's radio gain instead, with the name code
        // "radio" and the originator "set automatically".
        // The encoder measures no peak where it does not decode its own
        // output, and no audiophile gain.
        const int g = std::clamp(radioGain_, -0x1FE, 0x1FE);
        const int field = 0x2000 | 0x0C00 | (g < 0 ? 0x200 | -g : g);
        std::memset(&t[lame + 11], 0, 8); // peak, radio and audiophile gain
        t[lame + 15] = static_cast<uint8_t>(field >> 8);
        t[lame + 16] = static_cast<uint8_t>(field);
    }
    putBe32(&t[lame + 28], static_cast<uint32_t>(streamBytes_));
    t[lame + 32] = static_cast<uint8_t>(musicCrc_ >> 8);
    t[lame + 33] = static_cast<uint8_t>(musicCrc_);
    const uint16_t tagCrc = crc16(0, t.data(), lame + 34);
    t[lame + 34] = static_cast<uint8_t>(tagCrc >> 8);
    t[lame + 35] = static_cast<uint8_t>(tagCrc);
    std::memcpy(out, t.data(), t.size());
    return static_cast<int>(t.size());
}

} // namespace mp3enc
