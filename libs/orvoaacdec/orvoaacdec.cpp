#include "orvoaacdec/orvoaacdec.h"

#include "common/av_decoder.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const int kAacRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                           22050, 16000, 12000, 11025, 8000,  7350};

// Opens the AAC decoder from container parameters or a bare configuration.
// The output is what the decoder states after opening, else the given rate
// and channels (44100 Hz when none); at most 2 channels.
int openAac(orvo::AvDecoder& dec, const AVCodecParameters* par, const uint8_t* config,
            int configSize, int rate, int channels) {
    orvo::AvDecoderParams p;
    p.codecpar = par;
    p.extradata = config;
    p.extradataSize = configSize;
    p.fallbackRate = rate > 0 ? rate : 44100;
    p.fallbackChannels = std::clamp(channels, 1, 2);
    return dec.open(AV_CODEC_ID_AAC, p);
}

// ---- buffer form ----

thread_local orvo::AvDecoder* g_buf = nullptr;

// ---- file form ----

enum class Kind { Adts, Adif, Mp4 };

struct AacFile {
    Kind kind = Kind::Adts;
    orvo::AvDecoder dec;
    FILE* fp = nullptr;
    int64_t fileSize = 0;
    int64_t pos = 0;       // ADTS: next byte to read
    int64_t dataStart = 0; // first byte of AAC data
    bool flushed = false;
    bool ended = false;
    int rate = 0, channels = 0, bitRate = 0;
    double durationMs = 0;
    // ADIF
    int64_t framesOut = 0;
    // MP4
    AVFormatContext* fmt = nullptr;
    int stream = -1;
    AVPacket* pkt = nullptr;
    int progress = 0;

    ~AacFile() {
        if (fp) std::fclose(fp);
        av_packet_free(&pkt);
        avformat_close_input(&fmt);
    }
};

thread_local AacFile* g_file = nullptr;

struct AdtsHeader {
    int sfIndex = 0, channels = 0, length = 0, headerBytes = 7;
};

bool parseAdts(const uint8_t* b, AdtsHeader& h) {
    if (b[0] != 0xFF || (b[1] & 0xF6) != 0xF0) return false;
    h.headerBytes = (b[1] & 1) ? 7 : 9;
    h.sfIndex = (b[2] >> 2) & 0xF;
    h.channels = ((b[2] & 1) << 2) | (b[3] >> 6);
    h.length = ((b[3] & 3) << 11) | (b[4] << 3) | (b[5] >> 5);
    return h.sfIndex < 13 && h.length >= h.headerBytes;
}

bool readAt(FILE* fp, int64_t pos, uint8_t* buf, size_t n) {
    return fseeko(fp, pos, SEEK_SET) == 0 && std::fread(buf, 1, n, fp) == n;
}

// Size of an ID3v2 tag at the start of the file (0 when none).
int64_t id3Size(FILE* fp) {
    uint8_t h[10];
    if (!readAt(fp, 0, h, 10) || std::memcmp(h, "ID3", 3) != 0) return 0;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return 0;
    int64_t size = (int64_t(h[6]) << 21) | (h[7] << 14) | (h[8] << 7) | h[9];
    return 10 + size + ((h[5] & 0x10) ? 10 : 0);
}

// Next ADTS header in [from, limit). A header counts when the frame it
// describes fits the file and is followed by another header of the same
// stream (or ends the file), so stray sync bytes inside other data are not
// taken for frames. -1 when there is none. Scans in memory, chunk by chunk.
int64_t findAdts(FILE* fp, int64_t from, int64_t limit, int64_t fileSize, AdtsHeader& h) {
    constexpr size_t kChunk = 65536;
    std::vector<uint8_t> buf(kChunk + 7);
    limit = std::min(limit, fileSize);
    for (int64_t base = from; base + 7 <= fileSize && base < limit; base += int64_t(kChunk)) {
        size_t n = static_cast<size_t>(std::min<int64_t>(int64_t(kChunk) + 7, fileSize - base));
        if (!readAt(fp, base, buf.data(), n)) return -1;
        for (size_t i = 0; i + 7 <= n && i < kChunk && base + int64_t(i) < limit; ++i) {
            if (buf[i] != 0xFF || !parseAdts(&buf[i], h)) continue;
            int64_t p = base + int64_t(i);
            if (p + h.length > fileSize) continue;
            if (p + h.length == fileSize) return p;
            AdtsHeader next;
            uint8_t b[7];
            if (p + h.length + 7 <= fileSize && readAt(fp, p + h.length, b, 7) &&
                parseAdts(b, next) && next.sfIndex == h.sfIndex && next.channels == h.channels)
                return p;
        }
    }
    return -1;
}

// Minimal MSB-first bit reader and writer for the ADIF header.
struct BitReader {
    const uint8_t* p;
    size_t size, bit = 0;
    bool overrun = false;
    unsigned get(int n) {
        unsigned v = 0;
        for (int i = 0; i < n; ++i) {
            if (bit >= size * 8) {
                overrun = true;
                return 0;
            }
            v = (v << 1) | ((p[bit >> 3] >> (7 - (bit & 7))) & 1);
            ++bit;
        }
        return v;
    }
};

struct BitWriter {
    std::vector<uint8_t> out;
    size_t bit = 0;
    void put(unsigned v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if ((bit >> 3) >= out.size()) out.push_back(0);
            if ((v >> i) & 1) out[bit >> 3] |= uint8_t(0x80 >> (bit & 7));
            ++bit;
        }
    }
};

// Reads an ADIF header; fills the decoder configuration (the program config
// element carried over into an AudioSpecificConfig), the header size, the
// bit rate, the rate and channel count.
bool parseAdif(const std::vector<uint8_t>& head, std::vector<uint8_t>& config, int64_t& headerBytes,
               int& bitRate, int& rate, int& channels) {
    BitReader br{head.data(), head.size()};
    if (br.get(32) != 0x41444946u) return false;      // "ADIF"
    if (br.get(1)) br.get(32), br.get(32), br.get(8); // copyright id
    br.get(1);                                        // original/copy
    br.get(1);                                        // home
    unsigned streamType = br.get(1);
    bitRate = static_cast<int>(br.get(23));
    unsigned numPce = br.get(4) + 1;
    if (numPce != 1) return false; // one program only
    if (streamType == 0) br.get(20);
    // program_config_element
    size_t pceStart = br.bit;
    br.get(4);
    unsigned objectType = br.get(2);
    unsigned sfIndex = br.get(4);
    unsigned nFront = br.get(4), nSide = br.get(4), nBack = br.get(4), nLfe = br.get(2);
    unsigned nAssoc = br.get(3), nCc = br.get(4);
    if (br.get(1)) br.get(4);
    if (br.get(1)) br.get(4);
    if (br.get(1)) br.get(3);
    int ch = 0;
    for (unsigned i = 0; i < nFront + nSide + nBack; ++i)
        ch += br.get(1) ? 2 : 1, br.get(4);
    for (unsigned i = 0; i < nLfe; ++i)
        br.get(4), ++ch;
    for (unsigned i = 0; i < nAssoc; ++i)
        br.get(4);
    for (unsigned i = 0; i < nCc; ++i)
        br.get(5);
    br.bit = (br.bit + 7) & ~size_t(7);
    unsigned comment = br.get(8);
    for (unsigned i = 0; i < comment; ++i)
        br.get(8);
    size_t pceEnd = br.bit;
    br.bit = (br.bit + 7) & ~size_t(7); // the header ends byte-aligned
    if (br.overrun || sfIndex >= 13 || ch == 0) return false;

    BitWriter bw;
    bw.put(objectType + 1, 5);
    bw.put(sfIndex, 4);
    bw.put(0, 4); // channel configuration 0: the PCE follows
    bw.put(0, 1); // 1024-sample frames
    bw.put(0, 1); // no core coder
    bw.put(0, 1); // no extension
    BitReader copy{head.data(), head.size(), pceStart};
    // Copy the PCE up to its byte alignment, realign in the new position.
    size_t alignAt = 0;
    {
        BitReader probe{head.data(), head.size(), pceStart};
        probe.get(4 + 2 + 4 + 4 + 4 + 4 + 2 + 3 + 4);
        if (probe.get(1)) probe.get(4);
        if (probe.get(1)) probe.get(4);
        if (probe.get(1)) probe.get(3);
        for (unsigned i = 0; i < nFront + nSide + nBack; ++i)
            probe.get(5);
        probe.get(4 * (nLfe + nAssoc));
        for (unsigned i = 0; i < nCc; ++i)
            probe.get(5);
        alignAt = probe.bit;
    }
    while (copy.bit < alignAt)
        bw.put(copy.get(1), 1);
    bw.bit = (bw.bit + 7) & ~size_t(7);
    copy.bit = (alignAt + 7) & ~size_t(7);
    while (copy.bit < pceEnd)
        bw.put(copy.get(1), 1);
    config = bw.out;
    headerBytes = static_cast<int64_t>(br.bit / 8);
    rate = kAacRates[sfIndex];
    channels = ch;
    return true;
}

int openStreamFile(AacFile& f, bool adif) {
    if (adif) {
        std::vector<uint8_t> head(
            static_cast<size_t>(std::min<int64_t>(f.fileSize - f.dataStart, 4096)));
        if (head.empty() || !readAt(f.fp, f.dataStart, head.data(), head.size())) return -2;
        std::vector<uint8_t> config;
        int64_t headerBytes = 0;
        if (!parseAdif(head, config, headerBytes, f.bitRate, f.rate, f.channels)) return -2;
        f.kind = Kind::Adif;
        f.pos = f.dataStart + headerBytes;
        if (openAac(f.dec, nullptr, config.data(), static_cast<int>(config.size()), f.rate,
                    f.channels) < 0)
            return -3;
        if (f.bitRate > 0) f.durationMs = double(f.fileSize - f.pos) * 8000.0 / f.bitRate;
        return 0;
    }
    AdtsHeader h;
    // A stream file starts with a frame (perhaps after some junk): the first
    // one must come within 64 KiB.
    int64_t first = findAdts(f.fp, f.dataStart, f.dataStart + 65536, f.fileSize, h);
    if (first < 0) return -2;
    f.kind = Kind::Adts;
    f.pos = first;
    f.rate = kAacRates[h.sfIndex];
    f.channels = h.channels ? h.channels : 2;
    orvo::AvDecoderParams params;
    params.outRate = f.rate;
    params.outChannels = std::clamp(f.channels, 1, 2);
    if (f.dec.open(AV_CODEC_ID_AAC, params) < 0) return -3;
    // Bit rate from the first frames (up to 64).
    int64_t p = first, bytes = 0;
    int frames = 0;
    uint8_t b[7];
    while (frames < 64 && p + 7 <= f.fileSize && readAt(f.fp, p, b, 7) && parseAdts(b, h)) {
        bytes += h.length;
        p += h.length;
        ++frames;
    }
    if (frames > 0) {
        f.bitRate = static_cast<int>(bytes * 8 * f.rate / (int64_t(frames) * 1024));
        if (f.bitRate > 0) f.durationMs = double(f.fileSize - first) * 8000.0 / f.bitRate;
    }
    return 0;
}

int openMp4File(AacFile& f, const char* path) {
    if (avformat_open_input(&f.fmt, path, av_find_input_format("mov"), nullptr) < 0) return -1;
    for (unsigned i = 0; i < f.fmt->nb_streams; ++i)
        if (f.fmt->streams[i]->codecpar->codec_id == AV_CODEC_ID_AAC) {
            f.stream = static_cast<int>(i);
            break;
        }
    if (f.stream < 0) return -2;
    AVStream* st = f.fmt->streams[f.stream];
    f.kind = Kind::Mp4;
    f.pkt = av_packet_alloc();
    if (!f.pkt || openAac(f.dec, st->codecpar, nullptr, 0, st->codecpar->sample_rate,
                          st->codecpar->ch_layout.nb_channels) < 0)
        return -3;
    f.rate = f.dec.rate();
    f.channels = f.dec.channels();
    f.bitRate = st->codecpar->bit_rate > 0 ? static_cast<int>(st->codecpar->bit_rate) : 0;
    if (st->duration > 0) f.durationMs = st->duration * av_q2d(st->time_base) * 1000.0;
    if (f.bitRate == 0 && f.durationMs > 0)
        f.bitRate = static_cast<int>(f.fileSize * 8000.0 / f.durationMs);
    return 0;
}

// Feeds the next unit of the file to the decoder; false when there is none.
bool feedNext(AacFile& f) {
    switch (f.kind) {
    case Kind::Adts: {
        // A frame right where the last one ended is taken as it is; after
        // damage the search for the next frame is strict.
        AdtsHeader h;
        uint8_t b[7];
        int64_t p = f.pos;
        if (!(p + 7 <= f.fileSize && readAt(f.fp, p, b, 7) && parseAdts(b, h) &&
              p + h.length <= f.fileSize))
            p = findAdts(f.fp, f.pos, f.fileSize, f.fileSize, h);
        if (p < 0) return false;
        std::vector<uint8_t> frame(static_cast<size_t>(h.length));
        if (!readAt(f.fp, p, frame.data(), frame.size())) return false;
        f.pos = p + h.length;
        f.progress = static_cast<int>(f.pos * 1000 / std::max<int64_t>(f.fileSize, 1));
        f.dec.send(frame.data(), h.length); // a damaged frame is dropped by the decoder
        return true;
    }
    case Kind::Adif: {
        // Raw data blocks carry no lengths: hand the rest of the file over at
        // once; the decoder takes one block per frame.
        if (f.pos >= f.fileSize) return false;
        int64_t n = f.fileSize - f.pos;
        if (n > (int64_t(256) << 20)) return false; // no ADIF file is that large
        std::vector<uint8_t> data(static_cast<size_t>(n));
        if (!readAt(f.fp, f.pos, data.data(), data.size())) return false;
        f.pos = f.fileSize;
        f.dec.send(data.data(), static_cast<int>(n));
        return true;
    }
    case Kind::Mp4:
        for (;;) {
            if (av_read_frame(f.fmt, f.pkt) < 0) return false;
            if (f.pkt->stream_index != f.stream) {
                av_packet_unref(f.pkt);
                continue;
            }
            AVStream* st = f.fmt->streams[f.stream];
            if (f.pkt->pts != AV_NOPTS_VALUE && f.durationMs > 0)
                f.progress = static_cast<int>(f.pkt->pts * av_q2d(st->time_base) * 1000.0 * 1000.0 /
                                              f.durationMs);
            else if (f.pkt->pos >= 0)
                f.progress = static_cast<int>(f.pkt->pos * 1000 / std::max<int64_t>(f.fileSize, 1));
            f.dec.send(f.pkt);
            av_packet_unref(f.pkt);
            return true;
        }
    }
    return false;
}

int adifProgress(const AacFile& f) {
    if (f.durationMs <= 0 || f.rate <= 0) return 0;
    return static_cast<int>(double(f.framesOut) * 1024.0 * 1000.0 / f.rate * 1000.0 / f.durationMs);
}

} // namespace

extern "C" {

ORVOAACDEC_API int aacdecodebuf_init(const unsigned char* config, int length, int, int sample_rate,
                                     int* out_rate, int* out_channels) {
    aacdecodebuf_close();
    if (length < 0 || (length > 0 && !config)) return -1;
    auto* d = new orvo::AvDecoder;
    int r = openAac(*d, nullptr, config, length, sample_rate, 2);
    if (r < 0) {
        delete d;
        return r == AVERROR_DECODER_NOT_FOUND ? -3 : -2;
    }
    if (out_rate) *out_rate = d->rate();
    if (out_channels) *out_channels = d->channels();
    g_buf = d;
    return 0;
}

ORVOAACDEC_API int aacbuf_decode(const unsigned char* data, int length, unsigned char* pcm,
                                 int capacity) {
    orvo::AvDecoder* d = g_buf;
    if (!d || !data || !pcm || length < 0 || capacity < 0) return -1;
    if (length == 0) return d->drain(pcm, capacity);
    int r = d->decode(data, length, pcm, capacity);
    return r < 0 ? -2 : r;
}

ORVOAACDEC_API int aacdecodebuf_close(void) {
    delete g_buf;
    g_buf = nullptr;
    return 0;
}

ORVOAACDEC_API int aacdecode_init(const char* path, int mode, int* sample_rate, int* channels) {
    aacdecode_close();
    if (!path) return -1;
    auto* f = new AacFile;
    int r = 0;
    f->fp = std::fopen(path, "rb");
    if (!f->fp || fseeko(f->fp, 0, SEEK_END) != 0 || (f->fileSize = ftello(f->fp)) <= 0) {
        r = -1;
    } else {
        f->dataStart = id3Size(f->fp);
        uint8_t magic[8] = {};
        readAt(f->fp, f->dataStart, magic, 8);
        bool adif = std::memcmp(magic, "ADIF", 4) == 0;
        bool mp4 = std::memcmp(magic + 4, "ftyp", 4) == 0 ||
                   std::memcmp(magic + 4, "moov", 4) == 0 ||
                   std::memcmp(magic + 4, "mdat", 4) == 0 || std::memcmp(magic + 4, "wide", 4) == 0;
        if (mode == AACDEC_MODE_MP4 || (mode == AACDEC_MODE_AUTO && mp4 && !adif))
            r = openMp4File(*f, path);
        else if (mode == AACDEC_MODE_STREAM || mode == AACDEC_MODE_AUTO)
            r = openStreamFile(*f, adif);
        else
            r = -1;
    }
    if (r < 0) {
        delete f;
        return r;
    }
    if (sample_rate) *sample_rate = f->dec.rate();
    if (channels) *channels = f->dec.channels();
    g_file = f;
    return 0;
}

ORVOAACDEC_API int aac_decode(unsigned char* pcm, int capacity, int* pcm_length) {
    if (pcm_length) *pcm_length = 0;
    AacFile* f = g_file;
    if (!f || !pcm || !pcm_length || capacity < 0) return -1;
    int n = f->dec.drain(pcm, capacity);
    if (n > 0) {
        *pcm_length = n;
        return std::clamp(f->kind == Kind::Adif ? adifProgress(*f) : f->progress, 0, 1000);
    }
    if (f->ended) return -1;
    for (int guard = 0; guard < 1 << 20; ++guard) {
        int r = f->dec.receive(pcm, capacity);
        if (r >= 0) {
            *pcm_length = r;
            ++f->framesOut;
            return std::clamp(f->kind == Kind::Adif ? adifProgress(*f) : f->progress, 0, 1000);
        }
        if (r == AVERROR_EOF) break;
        if (r != AVERROR(EAGAIN)) continue; // damaged frame: skip it
        if (feedNext(*f)) continue;
        if (f->flushed) break;
        f->flushed = true;
        f->dec.send(nullptr, 0); // the end: the decoder gives what it still holds
    }
    f->ended = true;
    return -1;
}

ORVOAACDEC_API int get_mp4info(int* sample_rate, int* channels, int* bit_rate,
                               double* duration_ms) {
    AacFile* f = g_file;
    if (!f) return -1;
    if (sample_rate) *sample_rate = f->dec.rate();
    if (channels) *channels = f->dec.channels();
    if (bit_rate) *bit_rate = f->bitRate;
    if (duration_ms) *duration_ms = f->durationMs;
    return 0;
}

ORVOAACDEC_API int aacdecode_close(void) {
    delete g_file;
    g_file = nullptr;
    return 0;
}

} // extern "C"
