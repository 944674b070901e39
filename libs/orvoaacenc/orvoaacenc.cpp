#include "orvoaacenc/orvoaacenc.h"

#include "common/av_codec.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Encoder {
    int type = 0;
    int channels = 0;
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

    ~Encoder() {
        if (fmt) {
            if (!(fmt->oformat->flags & AVFMT_NOFILE)) avio_closep(&fmt->pb);
            avformat_free_context(fmt);
        }
        if (raw) std::fclose(raw);
    }
};

std::mutex g_mutex;
Encoder* g_enc = nullptr;

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

// Writes every packet the encoder has ready; bytes written or a negative
// error. Each access unit reaches the file before the next is written, so
// that a failed write cuts the file at a unit's end.
int drainPackets(Encoder& e) {
    int bytes = 0;
    for (;;) {
        if (e.writeError) return AVERROR(e.writeError);
        int r = avcodec_receive_packet(e.codec.ctx, e.codec.pkt);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return bytes;
        if (r < 0) return r;
        int size = e.codec.pkt->size;
        errno = 0;
        if (e.raw) {
            const int64_t before = ftello(e.raw);
            r = std::fwrite(e.codec.pkt->data, 1, static_cast<size_t>(size), e.raw) ==
                        static_cast<size_t>(size)
                    ? 0
                    : AVERROR(EIO);
            av_packet_unref(e.codec.pkt);
            if (r < 0) return failWrite(e, before);
        } else {
            e.codec.pkt->stream_index = 0;
            av_packet_rescale_ts(e.codec.pkt, e.codec.ctx->time_base, e.stream->time_base);
            const int64_t pts = e.codec.pkt->pts, duration = e.codec.pkt->duration;
            const int64_t before = avio_tell(e.fmt->pb);
            r = av_write_frame(e.fmt, e.codec.pkt);
            av_packet_unref(e.codec.pkt);
            if (r >= 0) avio_flush(e.fmt->pb);
            if (r < 0 || e.fmt->pb->error) {
                if (e.fmt->pb->error < 0) errno = AVUNERROR(e.fmt->pb->error);
                return failWrite(e, before);
            }
            if (e.type == AACENC_MP4)
                e.units.push_back({pts, duration, avio_tell(e.fmt->pb) - size, size});
        }
        bytes += size;
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
    if (perChannel > 0 && encodeFrame(*e, perChannel) < 0) result = -2;
    if (avcodec_send_frame(e->codec.ctx, nullptr) < 0 || drainPackets(*e) < 0) result = -2;
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
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) return -2;

    auto* e = new Encoder;
    e->type = output_type;
    e->channels = channels;
    if (e->codec.allocate(codec) < 0) {
        delete e;
        return -2;
    }
    AVCodecContext* c = e->codec.ctx;
    c->sample_rate = sample_rate;
    av_channel_layout_default(&c->ch_layout, channels);
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->bit_rate = bit_rate;
    c->time_base = AVRational{1, sample_rate};
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    c->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL; // LTP and Main prediction
    bool mpeg2 = output_type == AACENC_ADTS_MPEG2;
    // Raw AAC is the ADTS output without its headers: the same access units,
    // made with the same (MPEG-2) coding tools.
    bool mpeg2Tools = mpeg2 || output_type == AACENC_RAW;
    switch (profile) {
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
    if (r < 0) {
        delete e;
        return -2;
    }

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
    while (e->pending.size() >= frame * e->channels) {
        int r = encodeFrame(*e, static_cast<int>(frame));
        if (r < 0) return -2;
        written += r;
    }
    return written;
}

ORVOAACENC_API int aac_close(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return closeLocked();
}

} // extern "C"
