#include "orvomp4dec/orvomp4dec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/intreadwrite.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

struct File {
    AVFormatContext* fmt = nullptr;
    int audio = -1; // stream index of the chosen tracks
    int video = -1;
    int skip = 0;      // the audio track's edit list: priming samples
    int64_t keep = -1; // and samples to play after them (-1: all)
    ~File() { avformat_close_input(&fmt); }
};

thread_local File* g_file = nullptr;

void closeFile() {
    delete g_file;
    g_file = nullptr;
}

void fourcc(uint32_t tag, char* out) {
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
        out[i] = (c >= 0x20 && c < 0x7F) ? c : ' ';
    }
    out[4] = '\0';
}

uint32_t codecTag(const AVStream* st) {
    if (st->codecpar->codec_tag) return st->codecpar->codec_tag;
    const AVCodecTag* const audio[] = {avformat_get_mov_audio_tags(), nullptr};
    const AVCodecTag* const video[] = {avformat_get_mov_video_tags(), nullptr};
    return av_codec_get_tag(st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO ? audio : video,
                            st->codecpar->codec_id);
}

const char* handlerOf(const AVStream* st) {
    switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        return "vide";
    case AVMEDIA_TYPE_AUDIO:
        return "soun";
    case AVMEDIA_TYPE_SUBTITLE:
        return "text";
    case AVMEDIA_TYPE_DATA:
        return st->codecpar->codec_tag == MKTAG('t', 'm', 'c', 'd') ? "tmcd" : "data";
    default:
        return "hint";
    }
}

bool tagIs(uint32_t tag, const char* s) {
    return tag == MKTAG(s[0], s[1], s[2], s[3]);
}

// Preferred track of a kind: the last one with a codec the program decodes,
// else the first one of the kind.
int chooseTrack(AVFormatContext* fmt, AVMediaType type, const char* const* wanted) {
    int first = -1, chosen = -1;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (st->codecpar->codec_type != type) continue;
        if (first < 0) first = static_cast<int>(i);
        uint32_t tag = codecTag(st);
        for (const char* const* w = wanted; *w; ++w)
            if (tagIs(tag, *w)) chosen = static_cast<int>(i);
    }
    return chosen >= 0 ? chosen : first;
}

AVStream* streamOf(int index) {
    File* f = g_file;
    if (!f || index < 0) return nullptr;
    return f->fmt->streams[index];
}

int sampleCount(const AVStream* st) {
    return avformat_index_get_entries_count(st);
}

double toMs(int64_t ts, AVRational tb) {
    if (ts == AV_NOPTS_VALUE) return 0;
    double ms = static_cast<double>(ts) * av_q2d(tb) * 1000.0;
    return ms > 0 ? ms : 0;
}

double durationMs(const AVStream* st) {
    if (st->duration > 0) return toMs(st->duration, st->time_base);
    int n = sampleCount(st);
    if (n <= 0) return 0;
    const AVIndexEntry* e = avformat_index_get_entry(const_cast<AVStream*>(st), n - 1);
    return e ? toMs(e->timestamp, st->time_base) : 0;
}

int64_t totalBytes(const AVStream* st) {
    int64_t sum = 0;
    int n = sampleCount(st);
    for (int i = 0; i < n; ++i)
        sum += avformat_index_get_entry(const_cast<AVStream*>(st), i)->size;
    return sum;
}

int bitRate(const AVStream* st) {
    if (st->codecpar->bit_rate > 0 && st->codecpar->bit_rate <= INT32_MAX)
        return static_cast<int>(st->codecpar->bit_rate);
    double ms = durationMs(st);
    if (ms <= 0) return 0;
    double bps = static_cast<double>(totalBytes(st)) * 8000.0 / ms;
    return bps < INT32_MAX ? static_cast<int>(bps) : INT32_MAX;
}

int readSample(int streamIndex, int index, unsigned char* buffer, int capacity, double* timeMs) {
    AVStream* st = streamOf(streamIndex);
    if (!st || !buffer || index < 0 || index >= sampleCount(st)) return -1;
    const AVIndexEntry* e = avformat_index_get_entry(st, index);
    if (!e || e->size < 0) return -1;
    if (e->size > capacity) return -2;
    AVIOContext* pb = g_file->fmt->pb;
    if (avio_seek(pb, e->pos, SEEK_SET) != e->pos) return -3;
    if (e->size > 0 && avio_read(pb, buffer, e->size) != e->size) return -3;
    if (timeMs) *timeMs = toMs(e->timestamp, st->time_base);
    return e->size;
}

// The audio track's trim as FFmpeg reads its edit list (the samples
// themselves are read from the plain tables): the first packet of the track
// carries the priming as samples to skip, and the edited duration counts the
// samples to keep. Kept only when it fits the plain track: priming and kept
// samples no more than the track holds, and at most 4,096 samples of padding
// left over.
void readTrim(File& f, const char* path) {
    const AVStream* plain = f.fmt->streams[f.audio];
    const int rate = plain->codecpar->sample_rate;
    if (rate <= 0 || plain->duration <= 0) return;
    const int64_t total = av_rescale_q(plain->duration, plain->time_base, AVRational{1, rate});
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path, av_find_input_format("mov"), nullptr) < 0) return;
    int64_t skip = 0, keep = -1;
    if (static_cast<unsigned>(f.audio) < fmt->nb_streams) {
        const AVStream* st = fmt->streams[f.audio];
        if (st->duration > 0) keep = av_rescale_q(st->duration, st->time_base, AVRational{1, rate});
        AVPacket* pkt = av_packet_alloc();
        for (int i = 0; pkt && i < 256 && av_read_frame(fmt, pkt) >= 0; ++i) {
            const bool ours = pkt->stream_index == f.audio;
            size_t size = 0;
            const uint8_t* sd =
                ours ? av_packet_get_side_data(pkt, AV_PKT_DATA_SKIP_SAMPLES, &size) : nullptr;
            if (sd && size >= 4) skip = AV_RL32(sd);
            av_packet_unref(pkt);
            if (ours) break;
        }
        av_packet_free(&pkt);
    }
    // Without an edit list, iTunes' gapless tag ("iTunSMPB": reserved,
    // priming, padding and sample count in hexadecimal) may tell the trim.
    if (skip == 0 && (keep < 0 || keep == total)) {
        const AVDictionaryEntry* tag = av_dict_get(fmt->metadata, "iTunSMPB", nullptr, 0);
        if (!tag && static_cast<unsigned>(f.audio) < fmt->nb_streams)
            tag = av_dict_get(fmt->streams[f.audio]->metadata, "iTunSMPB", nullptr, 0);
        unsigned long long reserved = 0, priming = 0, padding = 0, count = 0;
        if (tag && tag->value &&
            std::sscanf(tag->value, "%llx %llx %llx %llx", &reserved, &priming, &padding, &count) ==
                4 &&
            priming > 0 && priming < 1u << 20 && count > 0) {
            skip = static_cast<int64_t>(priming);
            keep = static_cast<int64_t>(count);
        }
    }
    avformat_close_input(&fmt);
    if (skip < 0 || skip >= total || keep <= 0 || skip + keep > total || total - skip - keep > 4096)
        return;
    f.skip = static_cast<int>(skip);
    f.keep = keep;
}

} // namespace

extern "C" {

ORVOMP4DEC_API int mp4de_init(const char* path) {
    closeFile();
    if (!path || !*path) return -1;
    const AVInputFormat* mov = av_find_input_format("mov");
    AVDictionary* opts = nullptr;
    // The plain sample tables: edit lists would reorder and duplicate samples.
    av_dict_set(&opts, "ignore_editlist", "1", 0);
    AVFormatContext* fmt = nullptr;
    int r = avformat_open_input(&fmt, path, mov, &opts);
    av_dict_free(&opts);
    if (r < 0 || !fmt || !fmt->pb) {
        avformat_close_input(&fmt);
        return -1;
    }
    if (fmt->nb_streams == 0) {
        avformat_close_input(&fmt);
        return -2;
    }
    // MPEG-4 part 2 and H.263 tracks leave their picture size to the decoder:
    // let it look at the first frames.
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVCodecParameters* par = fmt->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && (par->width <= 0 || par->height <= 0)) {
            fmt->max_analyze_duration = 2 * AV_TIME_BASE;
            avformat_find_stream_info(fmt, nullptr);
            break;
        }
    }
    auto* f = new File;
    f->fmt = fmt;
    static const char* const kAudio[] = {"samr", "sawb", "mp4a", nullptr};
    static const char* const kVideo[] = {"s263", "mp4v", "avc1", nullptr};
    f->audio = chooseTrack(fmt, AVMEDIA_TYPE_AUDIO, kAudio);
    f->video = chooseTrack(fmt, AVMEDIA_TYPE_VIDEO, kVideo);
    if (f->audio >= 0) readTrim(*f, path);
    g_file = f;
    return 0;
}

ORVOMP4DEC_API int mp4_getvideo(int* width, int* height, int* frames, int* bit_rate,
                                double* duration_ms, char* codec, char* frame_rate) {
    AVStream* st = g_file ? streamOf(g_file->video) : nullptr;
    if (!st) return -1;
    int n = sampleCount(st);
    double ms = durationMs(st);
    if (width) *width = st->codecpar->width;
    if (height) *height = st->codecpar->height;
    if (frames) *frames = n;
    if (bit_rate) *bit_rate = bitRate(st);
    if (duration_ms) *duration_ms = ms;
    if (codec) fourcc(codecTag(st), codec);
    if (frame_rate) {
        double fps = 0;
        if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0)
            fps = av_q2d(st->avg_frame_rate);
        else if (ms > 0)
            fps = n * 1000.0 / ms;
        std::snprintf(frame_rate, MP4DEC_VIDEO_TEXT_BYTES, "%.3f", fps);
    }
    return n;
}

ORVOMP4DEC_API int mp4_getaudionum(int* largest_sample, int* codec) {
    AVStream* st = g_file ? streamOf(g_file->audio) : nullptr;
    if (!st) return -1;
    int n = sampleCount(st);
    if (largest_sample) {
        int largest = 0;
        for (int i = 0; i < n; ++i)
            largest = std::max(largest, avformat_index_get_entry(st, i)->size);
        *largest_sample = largest;
    }
    if (codec) {
        uint32_t tag = codecTag(st);
        *codec = tagIs(tag, "samr") ? 1 : tagIs(tag, "sawb") ? 2 : tagIs(tag, "mp4a") ? 3 : 0;
    }
    return n;
}

ORVOMP4DEC_API int mp4_getaudio(int* sample_rate, int* channels, int* bit_rate,
                                double* duration_ms) {
    AVStream* st = g_file ? streamOf(g_file->audio) : nullptr;
    if (!st) return -1;
    if (sample_rate) *sample_rate = st->codecpar->sample_rate;
    if (channels) *channels = st->codecpar->ch_layout.nb_channels;
    if (bit_rate) *bit_rate = bitRate(st);
    if (duration_ms) *duration_ms = durationMs(st);
    return 0;
}

ORVOMP4DEC_API int mp4_getmp4aconfig(unsigned char* buffer, int capacity) {
    AVStream* st = g_file ? streamOf(g_file->audio) : nullptr;
    if (!st || !buffer) return -1;
    int n = st->codecpar->extradata ? st->codecpar->extradata_size : 0;
    if (n > capacity) return -2;
    if (n > 0) std::memcpy(buffer, st->codecpar->extradata, static_cast<size_t>(n));
    return n;
}

ORVOMP4DEC_API int mp4_readvideo(int index, unsigned char* buffer, int capacity, double* time_ms) {
    return g_file ? readSample(g_file->video, index, buffer, capacity, time_ms) : -1;
}

ORVOMP4DEC_API int mp4_readaudio(int index, unsigned char* buffer, int capacity, double* time_ms) {
    return g_file ? readSample(g_file->audio, index, buffer, capacity, time_ms) : -1;
}

ORVOMP4DEC_API int mp4_gettrackinfo(int index, char* handler, char* codec, int* value) {
    File* f = g_file;
    if (!f || index < 0 || static_cast<unsigned>(index) >= f->fmt->nb_streams) return -1;
    const AVStream* st = f->fmt->streams[index];
    if (handler) std::memcpy(handler, handlerOf(st), 5);
    if (codec) fourcc(codecTag(st), codec);
    if (value) *value = st->id;
    return sampleCount(st);
}

ORVOMP4DEC_API int mp4_getaudiotrim(int* skip_samples, long long* keep_samples) {
    if (!g_file || !streamOf(g_file->audio)) return -1;
    if (skip_samples) *skip_samples = g_file->skip;
    if (keep_samples) *keep_samples = g_file->keep;
    return 0;
}

ORVOMP4DEC_API int mp4_gettracknum(void) {
    return g_file ? static_cast<int>(g_file->fmt->nb_streams) : 0;
}

#ifndef ORVOMP4DEC_INCOMPLETE
ORVOMP4DEC_API int mp4de_close(void) {
    closeFile();
    return 0;
}
#endif

ORVOMP4DEC_API int mp4_getaudioname(char* buffer) {
    AVStream* st = g_file ? streamOf(g_file->audio) : nullptr;
    if (!st || !buffer) return -1;
    const char* name = nullptr;
    switch (st->codecpar->codec_id) {
    case AV_CODEC_ID_AAC:
        name = "MPEG-4 Audio (14496-3)";
        break;
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3: {
        // The version bits of the first frame decide; the rate when unreadable.
        bool mpeg1 = st->codecpar->sample_rate >= 32000;
        const AVIndexEntry* e = sampleCount(st) > 0 ? avformat_index_get_entry(st, 0) : nullptr;
        unsigned char h[4];
        AVIOContext* pb = g_file->fmt->pb;
        if (e && e->size >= 4 && avio_seek(pb, e->pos, SEEK_SET) == e->pos &&
            avio_read(pb, h, 4) == 4 && h[0] == 0xFF && (h[1] & 0xE0) == 0xE0) {
            int version = (h[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
            if (version != 1) mpeg1 = version == 3;
        }
        name = mpeg1 ? "MPEG-1 Audio (11172-3)" : "MPEG-2 Audio (13818-3)";
        break;
    }
    case AV_CODEC_ID_AMR_NB:
        name = "AMR Narrowband";
        break;
    case AV_CODEC_ID_AMR_WB:
        name = "AMR Wideband";
        break;
    default: {
        const AVCodecDescriptor* d = avcodec_descriptor_get(st->codecpar->codec_id);
        name = d && d->long_name ? d->long_name : "unknown";
    }
    }
    std::snprintf(buffer, MP4DEC_NAME_BYTES, "%s", name);
    return static_cast<int>(std::strlen(buffer));
}

} // extern "C"
