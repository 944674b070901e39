#include "engine/decode/mp3dec.h"

#include "engine/decode/mp3dec_texts.h"
#include "engine/core/mpeg_audio_header.h"
#include "engine/decode/mpa_layer3.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <new>

namespace kestrel {
namespace {

constexpr uint32_t kHandleMagic = 0x6D703364u; // "mp3d"
constexpr uint32_t kRingBytes = 8192;          // a power of two
constexpr uint32_t kRingBits = kRingBytes * 8;
// Sync bits, version, layer and sampling frequency must agree between frames.
constexpr uint32_t kPatternMask = 0xFFFE0C00u;
constexpr int kMaxFrameBytes = 2048;

} // namespace

struct Mp3Decoder {
    Mp3FrameInfo info;
    // input ring, addressed in bits
    uint8_t ring[kRingBytes];
    uint32_t writeBit;
    uint32_t readBit;
    uint32_t bufferedBits;
    uint32_t bitsSinceMark;
    Mp3Ssc syncStatus;
    uint32_t pattern;
    uint32_t skipped;
    MpegAudioHeader header;
    mpa::Layer3State core;
    int32_t downSampling, eightBit, mono, postFilter;
    uint8_t endFlag;
    bool inputEnded;
    uint8_t frame[kMaxFrameBytes + 8];
    int16_t pcm[1152 * 2];
};

struct Mp3DecHandle {
    uint32_t magic;
    Mp3Decoder* decoder;
    int32_t* aux;
};

namespace {

bool validHandle(mp3dec_t h) {
    return h && h->magic == kHandleMagic && h->decoder && h->aux;
}

// A header mp3dec synchronises on: Layer III, no free format.
bool validHeader(uint32_t word, MpegAudioHeader& h) {
    return parseMpegAudioHeader(word, h) && h.layer == 3 && h.bitRateIndex != 0;
}

// 32 bits at `offset` bits past the read position.
uint32_t peek32(const Mp3Decoder& d, uint32_t offset) {
    uint32_t pos = (d.readBit + offset) & (kRingBits - 1);
    uint32_t byte = pos >> 3;
    uint64_t v = 0;
    for (uint32_t i = 0; i < 5; ++i)
        v = (v << 8) | d.ring[(byte + i) & (kRingBytes - 1)];
    return uint32_t(v >> (8 - (pos & 7)));
}

void consume(Mp3Decoder& d, uint32_t bits) {
    d.readBit = (d.readBit + bits) & (kRingBits - 1);
    d.bufferedBits -= bits;
    d.bitsSinceMark += bits;
}

// Copies `bytes` bytes starting at the read position (any bit offset).
void copyOut(const Mp3Decoder& d, uint8_t* dst, uint32_t bytes) {
    uint32_t pos = d.readBit;
    uint32_t byte = pos >> 3;
    uint32_t sh = pos & 7;
    if (sh == 0) {
        // Byte-aligned, the usual case once synchronised: at most two runs,
        // split where the ring wraps.
        byte &= kRingBytes - 1;
        uint32_t first = std::min(bytes, kRingBytes - byte);
        std::memcpy(dst, d.ring + byte, first);
        std::memcpy(dst + first, d.ring, bytes - first);
        return;
    }
    for (uint32_t i = 0; i < bytes; ++i) {
        uint32_t a = d.ring[(byte + i) & (kRingBytes - 1)];
        uint32_t b = d.ring[(byte + i + 1) & (kRingBytes - 1)];
        dst[i] = uint8_t(((a << 8 | b) >> (8 - sh)) & 0xFF);
    }
}

void resetDecoder(Mp3Decoder& d) {
    std::memset(&d.info, 0, sizeof d.info);
    d.writeBit = d.readBit = d.bufferedBits = d.bitsSinceMark = 0;
    d.syncStatus = SSC_W_MPGA_SYNCSEARCHED;
    d.pattern = 0;
    d.skipped = 0;
    d.endFlag = 0;
    d.inputEnded = false;
    mpa::resetLayer3(d.core);
}

Mp3Ssc search(Mp3Decoder& d) {
    while (d.bufferedBits >= 32) {
        uint32_t w = peek32(d, 0);
        MpegAudioHeader h;
        if (validHeader(w, h)) {
            uint32_t bits = uint32_t(h.frameBytes) * 8;
            if (d.bufferedBits < bits + 32) return SSC_W_MPGA_SYNCSEARCHED;
            uint32_t next = peek32(d, bits);
            if (((w ^ next) & kPatternMask) == 0) {
                d.pattern = w;
                return SSC_OK;
            }
        }
        consume(d, 1);
        ++d.skipped;
    }
    return SSC_W_MPGA_SYNCSEARCHED;
}

Mp3Ssc verify(Mp3Decoder& d) {
    uint32_t w = peek32(d, 0);
    MpegAudioHeader h;
    if (!validHeader(w, h) || ((w ^ d.pattern) & kPatternMask) != 0) return SSC_W_MPGA_SYNCLOST;
    uint32_t bits = uint32_t(h.frameBytes) * 8;
    if (d.bufferedBits < bits) return SSC_W_MPGA_SYNCNEEDDATA;
    if (d.bufferedBits < bits + 32) return SSC_OK;
    uint32_t next = peek32(d, bits);
    if (((next ^ d.pattern) & kPatternMask) != 0) return SSC_W_MPGA_SYNCLOST;
    return SSC_OK;
}

Mp3Ssc syncStep(Mp3Decoder& d) {
    Mp3Ssc s = d.syncStatus;
    if (s == SSC_W_MPGA_SYNCEOF) return s;
    if (d.bufferedBits < 32) {
        s = (s == SSC_OK || s == SSC_W_MPGA_SYNCNEEDDATA) ? SSC_W_MPGA_SYNCNEEDDATA
                                                          : SSC_W_MPGA_SYNCSEARCHED;
    } else if (s == SSC_W_MPGA_SYNCSEARCHED || s == SSC_W_MPGA_SYNCLOST) {
        s = search(d);
    } else {
        s = verify(d);
    }
    if (d.inputEnded && (s == SSC_W_MPGA_SYNCSEARCHED || s == SSC_W_MPGA_SYNCNEEDDATA))
        s = SSC_W_MPGA_SYNCEOF;
    d.syncStatus = s;
    return s;
}

void writePcm(const Mp3Decoder& d, const int16_t* pcm, size_t samples, uint8_t* out) {
    if (d.eightBit) {
        for (size_t i = 0; i < samples; ++i)
            out[i] = uint8_t((pcm[i] >> 8) + 128);
        return;
    }
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, pcm, samples * sizeof(int16_t)); // already little-endian
        return;
    }
    for (size_t i = 0; i < samples; ++i) {
        uint16_t v = uint16_t(pcm[i]);
        out[2 * i] = uint8_t(v & 0xFF);
        out[2 * i + 1] = uint8_t(v >> 8);
    }
}

} // namespace

std::string mp3sscText(Mp3Ssc code) {
    switch (code) {
    case SSC_OK:
        return text::kSscSuccess;
    case SSC_E_INVALIDPARAM:
        return text::kSscInvalidParam;
    case SSC_E_OUTOFMEMORY:
        return text::kSscNoMemory;
    case SSC_E_INVALIDHANDLE:
        return text::kSscInvalidHandle;
    case SSC_E_IO_GENERIC:
        return text::kSscIoGeneric;
    case SSC_E_IO_OPENFAILED:
        return text::kSscIoOpen;
    case SSC_E_IO_CLOSEFAILED:
        return text::kSscIoClose;
    case SSC_E_IO_READFAILED:
        return text::kSscIoRead;
    case SSC_I_MPGA_CRCERROR:
        return text::kSscCrcError;
    case SSC_I_MPGA_NOMAINDATA:
        return text::kSscNoMainData;
    case SSC_E_MPGA_GENERIC:
        return text::kSscDecoderGeneric;
    case SSC_E_MPGA_WRONGLAYER:
        return text::kSscWrongLayer;
    case SSC_E_MPGA_BUFFERTOOSMALL:
        return text::kSscBufferTooSmall;
    case SSC_W_MPGA_SYNCSEARCHED:
        return text::kSscSyncSearched;
    case SSC_W_MPGA_SYNCLOST:
        return text::kSscSyncLost;
    case SSC_W_MPGA_SYNCNEEDDATA:
        return text::kSscSyncNeedData;
    case SSC_W_MPGA_SYNCEOF:
        return text::kSscSyncEof;
    default: {
        char buf[64];
        std::snprintf(buf, sizeof buf, text::kSscUnknown, code);
        return buf;
    }
    }
}

Mp3Ssc mp3dec_open(mp3dec_t* result, int32_t downSampling, int32_t eightBit, int32_t mono,
                   int32_t postFilter) {
    if (!result) return SSC_E_INVALIDPARAM;
    *result = nullptr;
    auto* h = new (std::nothrow) Mp3DecHandle{};
    auto* d = new (std::nothrow) Mp3Decoder;
    auto* aux = new (std::nothrow) int32_t(-1);
    if (!h || !d || !aux) {
        delete h;
        delete d;
        delete aux;
        return SSC_E_OUTOFMEMORY;
    }
    resetDecoder(*d);
    // Down-sampling beyond quarter rate is not defined; clamp to the range.
    d->downSampling = downSampling < 0 ? 0 : downSampling > 2 ? 2 : downSampling;
    d->eightBit = eightBit ? 1 : 0;
    d->mono = mono ? 1 : 0;
    d->postFilter = postFilter;
    h->magic = kHandleMagic;
    h->decoder = d;
    h->aux = aux;
    *result = h;
    return SSC_OK;
}

Mp3Ssc mp3dec_feed(mp3dec_t h, const uint8_t* bytes, uint32_t length, uint32_t* accepted) {
    if (!validHandle(h)) return SSC_E_INVALIDHANDLE;
    if (!accepted) return SSC_E_INVALIDPARAM;
    *accepted = 0;
    if (!bytes && length) return SSC_E_INVALIDPARAM;
    Mp3Decoder& d = *h->decoder;
    uint32_t freeBytes = (kRingBits - d.bufferedBits) / 8;
    uint32_t n = length < freeBytes ? length : freeBytes;
    uint32_t at = d.writeBit >> 3;
    uint32_t first = n < kRingBytes - at ? n : kRingBytes - at;
    if (first) std::memcpy(d.ring + at, bytes, first);
    if (n > first) std::memcpy(d.ring, bytes + first, n - first);
    d.writeBit = (d.writeBit + n * 8) & (kRingBits - 1);
    d.bufferedBits += n * 8;
    *accepted = n;
    return SSC_OK;
}

Mp3Ssc mp3dec_end_of_input(mp3dec_t h) {
    if (!validHandle(h)) return SSC_E_INVALIDHANDLE;
    h->decoder->inputEnded = true;
    return SSC_OK;
}

Mp3Ssc mp3dec_decode(mp3dec_t h, uint8_t* out, uint32_t space, uint32_t* produced) {
    if (!validHandle(h)) return SSC_E_INVALIDHANDLE;
    if (!produced) return SSC_E_INVALIDPARAM;
    *produced = 0;
    Mp3Decoder& d = *h->decoder;
    Mp3Ssc s = syncStep(d);
    if (s == SSC_W_MPGA_SYNCEOF) d.endFlag = 1;
    if (s == SSC_W_MPGA_SYNCLOST) mpa::resetLayer3(d.core);
    if (s != SSC_OK) return s;

    MpegAudioHeader& hdr = d.header;
    if (!parseMpegAudioHeader(peek32(d, 0), hdr)) return SSC_W_MPGA_SYNCLOST;
    if (hdr.layer != 3) return SSC_E_MPGA_WRONGLAYER;
    int step = d.downSampling;
    bool monoOut = d.mono || hdr.channels == 1;
    int outCh = monoOut ? 1 : 2;
    uint32_t samples = uint32_t(hdr.samplesPerFrame >> step) * uint32_t(outCh);
    uint32_t need = samples * (d.eightBit ? 1 : 2);
    if (space < need) return SSC_E_MPGA_BUFFERTOOSMALL;
    if (!out) return SSC_E_INVALIDPARAM;

    int frameBytes = hdr.frameBytes > kMaxFrameBytes ? kMaxFrameBytes : hdr.frameBytes;
    copyOut(d, d.frame, uint32_t(frameBytes));
    mpa::Layer3Result r =
        mpa::decodeLayer3(d.core, hdr, d.frame, frameBytes, step, d.mono != 0, d.pcm);
    if (d.postFilter) {
        // The post-synthesis hook: intentionally leaves the samples unchanged.
    }
    writePcm(d, d.pcm, samples, out);
    consume(d, uint32_t(hdr.frameBytes) * 8);
    d.bitsSinceMark = 0;

    Mp3FrameInfo& fi = d.info;
    fi.layer = hdr.layer;
    fi.version = hdr.versionIndex;
    fi.bitrate = hdr.bitRateKbps * 1000;
    fi.bitrateIndex = hdr.bitRateIndex;
    fi.channels = hdr.channels;
    fi.sampleRate = hdr.sampleRate;
    fi.outChannels = outCh;
    fi.outRate = hdr.sampleRate >> step;
    fi.bitsPerSample = d.eightBit ? 8 : 16;
    fi.frameBits = hdr.frameBytes * 8;
    fi.durationMs = hdr.samplesPerFrame * 1000 / hdr.sampleRate;
    fi.crcMismatch = r.crcError ? 1 : 0;
    fi.lackedMainData = r.lackedMainData ? 1 : 0;
    *produced = need;
    if (r.crcError) return SSC_I_MPGA_CRCERROR;
    if (r.lackedMainData) return SSC_I_MPGA_NOMAINDATA;
    return SSC_OK;
}

Mp3Ssc mp3dec_close(mp3dec_t h) {
    if (!validHandle(h)) return SSC_E_INVALIDHANDLE;
    h->magic = 0;
    delete h->decoder;
    delete h->aux;
    delete h;
    return SSC_OK;
}

Mp3Ssc mp3dec_frame_info(mp3dec_t h, Mp3FrameInfo* info) {
    if (!validHandle(h)) return SSC_E_INVALIDHANDLE;
    if (!info) return SSC_E_INVALIDPARAM;
    *info = h->decoder->info;
    return SSC_OK;
}

bool mp3decAccepts(const uint8_t* header) {
    if (!header) return false;
    MpegAudioHeader h;
    return validHeader(mpegHeaderWord(header), h);
}

} // namespace kestrel
