#include "orvoaacenc/orvoaacenc.h"

#include "common/av_codec.h"
#include "common/av_segments.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// What every encoder of one output is set up with.
struct Params {
    int rate = 0, channels = 0, bitRate = 0, type = 0, profile = 0;
};

// Opens an encoder with `p`; 0, or a negative FFmpeg code.
int openCodec(const Params& p, AVCodecContext*& c) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) return AVERROR_ENCODER_NOT_FOUND;
    c = avcodec_alloc_context3(codec);
    if (!c) return AVERROR(ENOMEM);
    c->sample_rate = p.rate;
    av_channel_layout_default(&c->ch_layout, p.channels);
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->bit_rate = p.bitRate;
    c->time_base = AVRational{1, p.rate};
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    c->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL; // LTP and Main prediction
    // Raw AAC is the ADTS output without its headers: the same access units,
    // made with the same (MPEG-2) coding tools.
    const bool mpeg2Tools = p.type == AACENC_ADTS_MPEG2 || p.type == AACENC_RAW;
    switch (p.profile) {
    case AACENC_PROFILE_MAIN:
        c->profile = FF_PROFILE_AAC_MAIN;
        break;
    case AACENC_PROFILE_LTP:
        // MPEG-2 AAC has no long-term prediction: Main is its nearest profile.
        c->profile = mpeg2Tools ? FF_PROFILE_AAC_MAIN : FF_PROFILE_AAC_LTP;
        break;
    default: // LC; SSR has no encoder and is encoded as LC
        c->profile = mpeg2Tools ? FF_PROFILE_MPEG2_AAC_LOW : FF_PROFILE_AAC_LOW;
        break;
    }
    AVDictionary* codecOpts = nullptr;
    if (mpeg2Tools)
        av_dict_set(&codecOpts, "aac_pns", "0", 0); // noise substitution is an MPEG-4 tool
    int r = avcodec_open2(c, codec, &codecOpts);
    av_dict_free(&codecOpts);
    if (r < 0) avcodec_free_context(&c);
    return r;
}

struct Encoder {
    int type = 0;
    int channels = 0;
    Params params;
    orvo::AvCodecSet codec;         // context, frame and packet
    AVFormatContext* fmt = nullptr; // ADTS and MP4
    AVStream* stream = nullptr;
    FILE* raw = nullptr;          // raw AAC
    std::vector<int16_t> pending; // interleaved samples not yet encoded
    int oddByte = -1;             // low byte of a sample split between calls
    int64_t pts = 0;
    bool headerWritten = false;
    std::string path;
    // A write failed (a full disk): the file was cut back to its last whole
    // access unit (an MP4 rebuilt with its index) and takes no more.
    int writeError = 0;
    bool finished = false; // the file is complete as it stands (rebuilt MP4)
    // MP4: every access unit in the file, to rebuild it after a failed write.
    struct Unit {
        int64_t pts, duration, offset;
        int size;
    };
    std::vector<Unit> units;
    // Spread over threads: the segments' encoders, and the bytes their
    // packets have put in the file.
    std::unique_ptr<orvo::AvSegments> segments;
    int segmentBytes = 0;

    ~Encoder() {
        segments.reset();
        if (fmt) {
            if (!(fmt->oformat->flags & AVFMT_NOFILE)) avio_closep(&fmt->pb);
            avformat_free_context(fmt);
        }
        if (raw) std::fclose(raw);
    }
};

std::mutex g_mutex;
Encoder* g_enc = nullptr;

// Spreading an output over threads. The encoder's bit allocation follows the
// perceptual entropy it has seen (its running minimum forgets over about
// twelve seconds) and its rate control settles slowly: an encoder started
// cold codes its first seconds several dB worse than one that has run. So
// each segment's encoder starts half a minute early, and the segments are
// long: the output split evenly between the threads (with the pre-roll
// counted), each part between one and five minutes, and no more than about
// 512 MiB of PCM waiting for the encoders. Frames are fed past a segment's end
// for the window decisions of its last frames, which look ahead.
constexpr int kPreRollSeconds = 30;
constexpr int kOverlapFrames = 2;
constexpr int kMinSegmentSeconds = 2 * kPreRollSeconds;
constexpr int kMaxSegmentSeconds = 300;
constexpr int64_t kMaxWaitingBytes = int64_t(512) << 20;

int rebuildMp4(Encoder& e);

// After a failed write: the file keeps its whole access units and stays valid
// (an MP4 gets the index of what it holds); the failure's errno is kept.
int failWrite(Encoder& e, int64_t wholeEnd) {
    e.writeError = errno ? errno : EIO;
    if (e.type == AACENC_MP4) {
        rebuildMp4(e);
    } else if (::truncate(e.path.c_str(), wholeEnd) != 0) {
        // nothing more can be done
    }
    errno = e.writeError;
    return AVERROR(e.writeError);
}

// Writes one access unit (timestamps in samples); its size or a negative
// error. Each unit reaches the file before the next is written, so that a
// failed write cuts the file at a unit's end.
int writePacket(Encoder& e, AVPacket* pkt) {
    if (e.writeError) return AVERROR(e.writeError);
    const int size = pkt->size;
    errno = 0;
    if (e.raw) {
        const int64_t before = ftello(e.raw);
        if (std::fwrite(pkt->data, 1, static_cast<size_t>(size), e.raw) !=
            static_cast<size_t>(size))
            return failWrite(e, before);
        return size;
    }
    pkt->stream_index = 0;
    av_packet_rescale_ts(pkt, e.codec.ctx->time_base, e.stream->time_base);
    const int64_t pts = pkt->pts, duration = pkt->duration;
    const int64_t before = avio_tell(e.fmt->pb);
    int r = av_write_frame(e.fmt, pkt);
    if (r >= 0) avio_flush(e.fmt->pb);
    if (r < 0 || e.fmt->pb->error) {
        if (e.fmt->pb->error < 0) errno = AVUNERROR(e.fmt->pb->error);
        return failWrite(e, before);
    }
    if (e.type == AACENC_MP4) e.units.push_back({pts, duration, avio_tell(e.fmt->pb) - size, size});
    return size;
}

// Writes every packet the encoder has ready; bytes written or a negative
// error.
int drainPackets(Encoder& e) {
    int bytes = 0;
    for (;;) {
        if (e.writeError) return AVERROR(e.writeError);
        int r = avcodec_receive_packet(e.codec.ctx, e.codec.pkt);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return bytes;
        if (r < 0) return r;
        r = writePacket(e, e.codec.pkt);
        av_packet_unref(e.codec.pkt);
        if (r < 0) return r;
        bytes += r;
    }
}

// The MP4 after a failed write: its access units, as many as fit with their
// index in the room the file had, written again as a whole file.
int rebuildMp4(Encoder& e) {
    struct stat st;
    const int64_t room = ::stat(e.path.c_str(), &st) == 0 ? st.st_size : 0;
    AVCodecParameters* par = avcodec_parameters_alloc();
    if (!par || avcodec_parameters_copy(par, e.stream->codecpar) < 0) {
        avcodec_parameters_free(&par);
        return -1;
    }
    const AVRational timeBase = e.stream->time_base;
    std::string encoderTag;
    if (const AVDictionaryEntry* t = av_dict_get(e.fmt->metadata, "encoder", nullptr, 0))
        encoderTag = t->value;
    // The unit data, read back before the file is written again.
    std::vector<uint8_t> data;
    FILE* in = std::fopen(e.path.c_str(), "rb");
    size_t keep = e.units.size();
    // An index takes about 5 bytes per unit (its size, and a chunk offset
    // every few units) and a kilobyte of boxes.
    auto fits = [&](size_t n) {
        const int64_t end = n ? e.units[n - 1].offset + e.units[n - 1].size : 0;
        return end + 2048 + 8 * static_cast<int64_t>(n) <= room;
    };
    while (keep > 0 && !fits(keep))
        --keep;
    for (size_t i = 0; in && i < keep; ++i) {
        const auto& u = e.units[i];
        size_t at = data.size();
        data.resize(at + static_cast<size_t>(u.size));
        if (fseeko(in, u.offset, SEEK_SET) != 0 ||
            std::fread(data.data() + at, 1, static_cast<size_t>(u.size), in) !=
                static_cast<size_t>(u.size)) {
            keep = i;
            data.resize(at);
        }
    }
    if (in) std::fclose(in);
    avio_closep(&e.fmt->pb);
    avformat_free_context(e.fmt);
    e.fmt = nullptr;
    e.stream = nullptr;
    int rc = -1;
    // Written again as a whole; should even that not fit, with fewer units.
    for (int attempt = 0; attempt < 50 && rc < 0;
         ++attempt, keep -= std::min(keep, std::max<size_t>(1, keep / 50))) {
        AVFormatContext* fmt = nullptr;
        if (avformat_alloc_output_context2(&fmt, nullptr, "ipod", e.path.c_str()) < 0 || !fmt)
            break;
        AVStream* st = avformat_new_stream(fmt, nullptr);
        bool ok = st && avcodec_parameters_copy(st->codecpar, par) >= 0;
        if (ok) st->time_base = timeBase;
        if (ok && !encoderTag.empty())
            av_dict_set(&fmt->metadata, "encoder", encoderTag.c_str(), 0);
        ok = ok && avio_open(&fmt->pb, e.path.c_str(), AVIO_FLAG_WRITE) >= 0;
        ok = ok && avformat_write_header(fmt, nullptr) >= 0;
        size_t at = 0;
        AVPacket* pkt = av_packet_alloc();
        for (size_t i = 0; ok && pkt && i < keep; ++i) {
            const auto& u = e.units[i];
            if (av_new_packet(pkt, u.size) < 0) {
                ok = false;
                break;
            }
            std::memcpy(pkt->data, data.data() + at, static_cast<size_t>(u.size));
            at += static_cast<size_t>(u.size);
            pkt->pts = pkt->dts = u.pts;
            pkt->duration = u.duration;
            pkt->stream_index = 0;
            ok = av_write_frame(fmt, pkt) >= 0;
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        ok = ok && av_write_trailer(fmt) >= 0 && fmt->pb && !fmt->pb->error;
        if (fmt->pb) avio_closep(&fmt->pb);
        avformat_free_context(fmt);
        if (ok) rc = 0;
    }
    avcodec_parameters_free(&par);
    e.finished = true;
    e.headerWritten = false;
    return rc;
}

// Hands `samples` samples per channel from the front of `pending` to the
// segments' encoders; the bytes written meanwhile, or a negative error.
int feedSegments(Encoder& e, int samples, bool last) {
    std::vector<float> planes[2];
    const float* p[2] = {nullptr, nullptr};
    for (int c = 0; c < e.channels; ++c) {
        planes[c].resize(static_cast<size_t>(samples));
        for (int i = 0; i < samples; ++i)
            planes[c][size_t(i)] = e.pending[size_t(i) * e.channels + c] / 32768.0f;
        p[c] = planes[c].data();
    }
    e.pending.erase(e.pending.begin(), e.pending.begin() + long(samples) * e.channels);
    e.pts += samples;
    e.segmentBytes = 0;
    int r = e.segments->feed(p, samples);
    if (r >= 0 && last) r = e.segments->finish();
    return r < 0 ? r : e.segmentBytes;
}

// Encodes `samples` samples per channel from the front of `pending`.
int encodeFrame(Encoder& e, int samples) {
    av_frame_unref(e.codec.frame);
    e.codec.frame->nb_samples = samples;
    e.codec.frame->format = e.codec.ctx->sample_fmt;
    e.codec.frame->sample_rate = e.codec.ctx->sample_rate;
    if (av_channel_layout_copy(&e.codec.frame->ch_layout, &e.codec.ctx->ch_layout) < 0)
        return AVERROR(ENOMEM);
    if (av_frame_get_buffer(e.codec.frame, 0) < 0) return AVERROR(ENOMEM);
    for (int c = 0; c < e.channels; ++c) {
        auto* dst = reinterpret_cast<float*>(e.codec.frame->extended_data[c]);
        for (int i = 0; i < samples; ++i)
            dst[i] = e.pending[size_t(i) * e.channels + c] / 32768.0f;
    }
    e.codec.frame->pts = e.pts;
    e.pts += samples;
    e.pending.erase(e.pending.begin(), e.pending.begin() + long(samples) * e.channels);
    int r = avcodec_send_frame(e.codec.ctx, e.codec.frame);
    if (r < 0) return r;
    return drainPackets(e);
}

int closeLocked() {
    Encoder* e = g_enc;
    if (!e) return -1;
    g_enc = nullptr;
    int result = 0;
    int perChannel = static_cast<int>(e->pending.size()) / e->channels;
    if (e->segments) {
        if (feedSegments(*e, perChannel, true) < 0) result = -2;
        e->segments.reset();
    } else {
        if (perChannel > 0 && encodeFrame(*e, perChannel) < 0) result = -2;
        if (avcodec_send_frame(e->codec.ctx, nullptr) < 0 || drainPackets(*e) < 0) result = -2;
    }
    if (e->fmt && e->headerWritten && !e->writeError && av_write_trailer(e->fmt) < 0) result = -2;
    if (e->fmt && e->fmt->pb && e->fmt->pb->error < 0 && !e->writeError) result = -2;
    if (e->raw && std::fflush(e->raw) != 0) result = -2;
    const int err = e->writeError;
    delete e;
    if (err) {
        errno = err;
        return -2;
    }
    return result;
}

} // namespace

extern "C" {

ORVOAACENC_API int aac_init(int sample_rate, int channels, int bit_rate, int output_type,
                            int profile, const char* path, const char* tag) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_enc) closeLocked();
    if (sample_rate < 7350 || sample_rate > 96000 || channels < 1 || channels > 2 ||
        bit_rate <= 0 || output_type < AACENC_RAW || output_type > AACENC_MP4 || !path || !*path)
        return -1;
    auto* e = new Encoder;
    e->type = output_type;
    e->channels = channels;
    e->params = {sample_rate, channels, bit_rate, output_type, profile};
    if (e->codec.allocate(nullptr) < 0) {
        delete e;
        return -2;
    }
    avcodec_free_context(&e->codec.ctx); // opened by openCodec instead
    if (openCodec(e->params, e->codec.ctx) < 0) {
        delete e;
        return -2;
    }
    AVCodecContext* c = e->codec.ctx;
    const bool mpeg2 = output_type == AACENC_ADTS_MPEG2;
    int r = 0;

    e->path = path;
    if (output_type == AACENC_RAW) {
        e->raw = std::fopen(path, "wb");
        if (!e->raw) {
            delete e;
            return -3;
        }
        std::setvbuf(e->raw, nullptr, _IONBF, 0);
    } else {
        const char* muxer = mpeg2 ? "adts" : "ipod";
        if (avformat_alloc_output_context2(&e->fmt, nullptr, muxer, path) < 0 || !e->fmt) {
            delete e;
            return -2;
        }
        e->stream = avformat_new_stream(e->fmt, nullptr);
        if (!e->stream || avcodec_parameters_from_context(e->stream->codecpar, c) < 0) {
            delete e;
            return -2;
        }
        e->stream->time_base = c->time_base;
        if (tag && *tag && !mpeg2) av_dict_set(&e->fmt->metadata, "encoder", tag, 0);
        if (avio_open(&e->fmt->pb, path, AVIO_FLAG_WRITE) < 0) {
            delete e;
            return -3;
        }
        AVDictionary* muxOpts = nullptr;
        if (mpeg2) av_dict_set(&muxOpts, "write_mpeg2", "1", 0);
        r = avformat_write_header(e->fmt, &muxOpts);
        av_dict_free(&muxOpts);
        if (r < 0) {
            delete e;
            return -2;
        }
        e->headerWritten = true;
    }
    g_enc = e;
    return 0;
}

ORVOAACENC_API int aac_encode(const unsigned char* pcm, int bytes) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Encoder* e = g_enc;
    if (!e || !pcm || bytes < 0) return -1;
    int i = 0;
    if (e->oddByte >= 0 && bytes > 0) {
        e->pending.push_back(static_cast<int16_t>(e->oddByte | (pcm[0] << 8)));
        e->oddByte = -1;
        i = 1;
    }
    for (; i + 1 < bytes; i += 2)
        e->pending.push_back(static_cast<int16_t>(pcm[i] | (pcm[i + 1] << 8)));
    if (i < bytes) e->oddByte = pcm[i];

    int written = 0;
    const size_t frame =
        static_cast<size_t>(e->codec.ctx->frame_size > 0 ? e->codec.ctx->frame_size : 1024);
    if (e->segments) {
        // Every whole frame at once.
        const size_t whole = e->pending.size() / e->channels / frame * frame;
        const int r = whole ? feedSegments(*e, static_cast<int>(whole), false) : 0;
        return r < 0 ? -2 : r;
    }
    while (e->pending.size() >= frame * e->channels) {
        int r = encodeFrame(*e, static_cast<int>(frame));
        if (r < 0) return -2;
        written += r;
    }
    return written;
}

ORVOAACENC_API int aac_threads(int threads, int seconds) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Encoder* e = g_enc;
    if (!e || threads < 1 || e->pts != 0 || !e->pending.empty() || e->oddByte >= 0) return -1;
    if (e->segments) return 0;
    // Main prediction's predictors run on in the decoder across a join from
    // the frames of the encoder before it, which the next encoder never saw:
    // its first predicted frames would be decoded with the wrong state.
    if (e->codec.ctx->profile == FF_PROFILE_AAC_MAIN) return 1;
    const int parts = std::min(threads, seconds / kMinSegmentSeconds);
    if (parts <= 1) return 1;
    const int64_t rate = e->params.rate;
    const int frame = e->codec.ctx->frame_size > 0 ? e->codec.ctx->frame_size : 1024;
    const int64_t bytesPerSecond = rate * e->params.channels * int64_t(sizeof(float));
    // Every segment but the first is encoded with its pre-roll: the first is
    // made that much longer, so that the first two take as long.
    int64_t segSeconds = (seconds + kPreRollSeconds + parts - 1) / parts;
    segSeconds = std::min<int64_t>(segSeconds, kMaxSegmentSeconds);
    segSeconds = std::min<int64_t>(segSeconds, kMaxWaitingBytes / (bytesPerSecond * (parts + 1)));
    segSeconds = std::max<int64_t>(segSeconds, kMinSegmentSeconds);
    orvo::AvSegments::Layout layout;
    layout.rate = e->params.rate;
    layout.channels = e->params.channels;
    layout.frameSamples = frame;
    layout.segmentFrames = (segSeconds * rate + frame - 1) / frame;
    layout.preRollFrames = static_cast<int>((kPreRollSeconds * rate + frame - 1) / frame);
    layout.overlapFrames = kOverlapFrames;
    layout.shortLastFrame = true;
    const Params params = e->params;
    e->segments = std::make_unique<orvo::AvSegments>(
        [params](AVCodecContext*& ctx) { return openCodec(params, ctx); },
        [e](AVPacket* pkt) {
            const int n = writePacket(*e, pkt);
            if (n > 0) e->segmentBytes += n;
            return n < 0 ? n : 0;
        },
        layout, parts);
    return parts;
}

ORVOAACENC_API int aac_close(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return closeLocked();
}

} // extern "C"
