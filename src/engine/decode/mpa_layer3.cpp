#include "engine/decode/mpa_layer3.h"

#include "engine/decode/mpa_bits.h"
#include "engine/decode/mpa_huffman.h"
#include "engine/decode/mpa_imdct.h"
#include "engine/decode/mpa_tables.h"

#include <algorithm>
#include <cstring>

namespace kestrel::mpa {
namespace {

constexpr float kInvSqrt2 = 0.70710678118654752f;

const int kSlen[2][16] = {{0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4},
                          {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3}};

// MPEG-2 number of scale factors per slen group: [table][block kind][group],
// block kind 0 long, 1 short, 2 mixed.
const int kLsfSfbCount[6][3][4] = {{{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},
                                   {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
                                   {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}},
                                   {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
                                   {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},
                                   {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}}};

// Scale factors of one granule and channel.
struct ScaleFactors {
    int l[22];    // long bands (21 holds 0)
    int s[13][3]; // short bands per window (12 holds 0)
    int lMax[22]; // MPEG-2: illegal intensity position per band
    int sMax[13];
    int intensityScale; // MPEG-2 right channel
};

// Per-channel work of one granule.
struct Channel {
    alignas(16) float xr[576];
    int nz; // lines from nz on are zero
    ScaleFactors sf;
};

// CRC-16 of ISO/IEC 11172-3 (generator 0x8005) over `bits` bits of `data`
// starting at bit `start`, continuing from `crc`.
uint16_t crc16(const uint8_t* data, uint32_t start, uint32_t bits, uint16_t crc = 0xFFFF) {
    for (uint32_t i = 0; i < bits; ++i) {
        uint32_t p = start + i;
        int bit = (data[p >> 3] >> (7 - (p & 7))) & 1;
        int top = (crc >> 15) & 1;
        crc = uint16_t(crc << 1);
        if (top ^ bit) crc ^= 0x8005;
    }
    return crc;
}

int bandTableIndex(const MpegAudioHeader& h) {
    return h.versionIndex * 3 + h.sampleRateIndex;
}

bool isShort(const GranuleInfo& g) {
    return g.windowSwitching && g.blockType == 2;
}

// ---- Side information (2.4.1.7) ----

void deriveRegions(const MpegAudioHeader& h, GranuleInfo& g) {
    const BandTable& b = kBands[bandTableIndex(h)];
    if (g.windowSwitching) {
        g.region1Start = (g.blockType == 2 && !g.mixedBlock) ? 3 * b.shortBands[3] : b.longBands[8];
        g.region2Start = 576;
    } else {
        int r1 = std::min(g.region0Count + 1, 22);
        int r2 = std::min(g.region0Count + g.region1Count + 2, 22);
        g.region1Start = b.longBands[r1];
        g.region2Start = b.longBands[r2];
    }
}

// ---- Scale factors (2.4.3.4.5 and 13818-3 2.4.3.2) ----

void readScaleFactorsMpeg1(BitReader& br, const GranuleInfo& g, const int* scfsi, int gr,
                           const ScaleFactors* first, ScaleFactors& sf) {
    int slen1 = kSlen[0][g.scalefacCompress];
    int slen2 = kSlen[1][g.scalefacCompress];
    std::memset(sf.s, 0, sizeof sf.s);
    if (isShort(g)) {
        int sfb = 0;
        if (g.mixedBlock) {
            for (; sfb < 8; ++sfb)
                sf.l[sfb] = int(br.get(slen1));
            for (int b = 3; b < 6; ++b)
                for (int w = 0; w < 3; ++w)
                    sf.s[b][w] = int(br.get(slen1));
        } else {
            for (int b = 0; b < 6; ++b)
                for (int w = 0; w < 3; ++w)
                    sf.s[b][w] = int(br.get(slen1));
        }
        for (int b = 6; b < 12; ++b)
            for (int w = 0; w < 3; ++w)
                sf.s[b][w] = int(br.get(slen2));
        for (; sfb < 22; ++sfb)
            sf.l[sfb] = 0;
        return;
    }
    static const int groupStart[5] = {0, 6, 11, 16, 21};
    for (int grp = 0; grp < 4; ++grp) {
        int slen = grp < 2 ? slen1 : slen2;
        for (int b = groupStart[grp]; b < groupStart[grp + 1]; ++b)
            sf.l[b] = (gr == 1 && scfsi[grp] && first) ? first->l[b] : int(br.get(slen));
    }
    sf.l[21] = 0;
}

void readScaleFactorsLsf(BitReader& br, GranuleInfo& g, bool intensityRight, ScaleFactors& sf) {
    int slen[4] = {0, 0, 0, 0};
    int table;
    int sfc = g.scalefacCompress;
    g.preflag = 0;
    sf.intensityScale = 0;
    if (!intensityRight) {
        if (sfc < 400) {
            slen[0] = (sfc >> 4) / 5;
            slen[1] = (sfc >> 4) % 5;
            slen[2] = (sfc & 15) >> 2;
            slen[3] = sfc & 3;
            table = 0;
        } else if (sfc < 500) {
            sfc -= 400;
            slen[0] = (sfc >> 2) / 5;
            slen[1] = (sfc >> 2) % 5;
            slen[2] = sfc & 3;
            table = 1;
        } else {
            sfc -= 500;
            slen[0] = sfc / 3;
            slen[1] = sfc % 3;
            g.preflag = 1;
            table = 2;
        }
    } else {
        sf.intensityScale = sfc & 1;
        int isc = sfc >> 1;
        if (isc < 180) {
            slen[0] = isc / 36;
            slen[1] = (isc % 36) / 6;
            slen[2] = (isc % 36) % 6;
            table = 3;
        } else if (isc < 244) {
            isc -= 180;
            slen[0] = (isc & 63) >> 4;
            slen[1] = (isc & 15) >> 2;
            slen[2] = isc & 3;
            table = 4;
        } else {
            isc -= 244;
            slen[0] = isc / 3;
            slen[1] = isc % 3;
            table = 5;
        }
    }
    int kind = isShort(g) ? (g.mixedBlock ? 2 : 1) : 0;
    int values[39];
    int maxes[39];
    int n = 0;
    for (int grp = 0; grp < 4; ++grp)
        for (int j = 0; j < kLsfSfbCount[table][kind][grp] && n < 39; ++j) {
            values[n] = slen[grp] ? int(br.get(slen[grp])) : 0;
            maxes[n] = (1 << slen[grp]) - 1;
            ++n;
        }
    for (; n < 39; ++n)
        values[n] = 0, maxes[n] = 0;
    std::memset(sf.s, 0, sizeof sf.s);
    std::memset(sf.sMax, 0, sizeof sf.sMax);
    for (int b = 0; b < 22; ++b)
        sf.l[b] = 0, sf.lMax[b] = 0;
    if (kind == 0) {
        for (int b = 0; b < 21; ++b)
            sf.l[b] = values[b], sf.lMax[b] = maxes[b];
    } else {
        int k = 0, first = 0;
        if (kind == 2) {
            for (; k < 6; ++k)
                sf.l[k] = values[k], sf.lMax[k] = maxes[k];
            first = 3;
        }
        for (int b = first; b < 12; ++b) {
            for (int w = 0; w < 3; ++w)
                sf.s[b][w] = values[k++];
            sf.sMax[b] = maxes[k - 1];
        }
    }
}

// ---- Huffman decoding (2.4.3.4.6) ----

void readSpectrum(BitReader& br, const GranuleInfo& g, uint32_t end, int* is, int& nz) {
    int bigEnd = std::min(g.bigValues * 2, 576);
    int r1 = std::min(g.region1Start, bigEnd);
    int r2 = std::min(g.region2Start, bigEnd);
    int i = 0;
    int regionEnd[3] = {r1, r2, bigEnd};
    for (int r = 0; r < 3; ++r) {
        if (i >= regionEnd[r]) continue;
        int want = regionEnd[r] - i;
        int got = decodePairs(br, g.tableSelect[r], is + i, want, end);
        i += got;
        if (got < want) break; // ran past the granule's bits
    }
    // Count1 region: quadruples until the granule's bits are used up.
    if (i < 576 && br.pos < end) i += decodeQuads(br, g.count1Table, is + i, 576 - i, end);
    if (i > 576) i = 576;
    nz = i;
    for (int k = i; k < 576; ++k)
        is[k] = 0;
}

// ---- Requantisation (2.4.3.4.7) ----

// sign(v) |v|^(4/3) scale, without branches on the sign.
inline float requant(int v, float scale, const Tables& t) {
    uint32_t sign = uint32_t(v) & 0x80000000u;
    int a = v < 0 ? -v : v;
    float m = t.pow43[a] * scale;
    uint32_t bits;
    std::memcpy(&bits, &m, 4);
    bits ^= sign;
    std::memcpy(&m, &bits, 4);
    return m;
}

void requantise(const MpegAudioHeader& h, const GranuleInfo& g, const int* is, Channel& c) {
    const Tables& t = tables();
    const BandTable& b = kBands[bandTableIndex(h)];
    const ScaleFactors& sf = c.sf;
    int shift = g.scalefacScale ? 4 : 2;
    int base = g.globalGain - 210 + 400;
    std::memset(c.xr, 0, sizeof c.xr);
    int nz = c.nz;
    if (!isShort(g)) {
        for (int sfb = 0; sfb < 22; ++sfb) {
            int start = b.longBands[sfb], end = std::min(b.longBands[sfb + 1], nz);
            if (start >= nz) break;
            int q = base - shift * (sf.l[sfb] + (g.preflag ? kPretab[sfb] : 0));
            float scale = t.pow2q[std::clamp(q, 0, 511)];
            for (int i = start; i < end; ++i)
                c.xr[i] = requant(is[i], scale, t);
        }
        return;
    }
    int firstShort = 0;
    if (g.mixedBlock) {
        for (int sfb = 0; sfb < 22 && b.longBands[sfb] < 36; ++sfb) {
            int start = b.longBands[sfb], end = std::min(std::min(b.longBands[sfb + 1], 36), nz);
            int q = base - shift * (sf.l[sfb] + (g.preflag ? kPretab[sfb] : 0));
            float scale = t.pow2q[std::clamp(q, 0, 511)];
            for (int i = start; i < end; ++i)
                c.xr[i] = requant(is[i], scale, t);
        }
        firstShort = 3;
    }
    for (int sfb = firstShort; sfb < 13; ++sfb) {
        int width = b.shortBands[sfb + 1] - b.shortBands[sfb];
        for (int w = 0; w < 3; ++w) {
            int start = 3 * b.shortBands[sfb] + w * width;
            if (start >= nz) continue;
            int end = std::min(start + width, nz);
            int q = base - 8 * g.subblockGain[w] - shift * sf.s[sfb][w];
            float scale = t.pow2q[std::clamp(q, 0, 511)];
            for (int i = start; i < end; ++i)
                c.xr[i] = requant(is[i], scale, t);
        }
    }
}

// ---- Stereo processing (2.4.3.4.9) ----

inline void midSide(float* l, float* r, int start, int end) {
    for (int i = start; i < end; ++i) {
        float m = l[i], s = r[i];
        l[i] = (m + s) * kInvSqrt2;
        r[i] = (m - s) * kInvSqrt2;
    }
}

struct StereoCtx {
    const MpegAudioHeader* h;
    bool ms;
    bool lsf;
    const Tables* t;
};

// Intensity (or, for an illegal position, mid/side) on lines [start, end).
void intensityBand(const StereoCtx& c, float* l, float* r, int start, int end, int pos, int posMax,
                   int intensityScale) {
    bool illegal = c.lsf ? pos == posMax : pos >= 7;
    if (illegal) {
        if (c.ms) midSide(l, r, start, end);
        return;
    }
    float kl, kr;
    if (c.lsf) {
        float k = c.t->isLsf[intensityScale][pos & 31];
        kl = (pos & 1) ? k : 1.0f;
        kr = (pos & 1) ? 1.0f : k;
    } else {
        kl = c.t->isRatioL[pos];
        kr = c.t->isRatioR[pos];
    }
    for (int i = start; i < end; ++i) {
        float x = l[i];
        l[i] = x * kl;
        r[i] = x * kr;
    }
}

bool anyNonZero(const float* v, int start, int end) {
    for (int i = start; i < end; ++i)
        if (v[i] != 0.0f) return true;
    return false;
}

void stereo(const MpegAudioHeader& h, const GranuleInfo& g, Channel& left, Channel& right) {
    bool ms = (h.modeExtension & 2) != 0;
    bool intensity = (h.modeExtension & 1) != 0;
    float* l = left.xr;
    float* r = right.xr;
    int nz = std::max(left.nz, right.nz);
    if (!intensity) {
        if (ms) midSide(l, r, 0, nz);
        left.nz = right.nz = nz;
        return;
    }
    StereoCtx c{&h, ms, h.versionIndex != 0, &tables()};
    const BandTable& b = kBands[bandTableIndex(h)];
    const ScaleFactors& sf = right.sf;
    if (!isShort(g)) {
        int last = -1; // last band of the right channel with a non-zero line
        for (int sfb = 21; sfb >= 0; --sfb)
            if (anyNonZero(r, b.longBands[sfb], b.longBands[sfb + 1])) {
                last = sfb;
                break;
            }
        for (int sfb = 0; sfb < 22; ++sfb) {
            int start = b.longBands[sfb], end = b.longBands[sfb + 1];
            if (sfb <= last) {
                if (ms) midSide(l, r, start, end);
                continue;
            }
            int src = sfb == 21 ? 20 : sfb;
            intensityBand(c, l, r, start, end, sf.l[src], sf.lMax[src], sf.intensityScale);
        }
        left.nz = right.nz = 576;
        return;
    }
    int firstShort = g.mixedBlock ? 3 : 0;
    bool shortPartEmpty = true;
    for (int w = 0; w < 3; ++w) {
        int last = firstShort - 1;
        for (int sfb = 12; sfb >= firstShort; --sfb) {
            int width = b.shortBands[sfb + 1] - b.shortBands[sfb];
            int start = 3 * b.shortBands[sfb] + w * width;
            if (anyNonZero(r, start, start + width)) {
                last = sfb;
                break;
            }
        }
        if (last >= firstShort) shortPartEmpty = false;
        for (int sfb = firstShort; sfb < 13; ++sfb) {
            int width = b.shortBands[sfb + 1] - b.shortBands[sfb];
            int start = 3 * b.shortBands[sfb] + w * width;
            if (sfb <= last) {
                if (ms) midSide(l, r, start, start + width);
                continue;
            }
            int src = sfb == 12 ? 11 : sfb;
            intensityBand(c, l, r, start, start + width, sf.s[src][w], sf.sMax[src],
                          sf.intensityScale);
        }
    }
    if (g.mixedBlock) {
        int last = -1;
        if (!shortPartEmpty) {
            last = 99;
        } else {
            for (int sfb = 0; sfb < 22 && b.longBands[sfb] < 36; ++sfb)
                if (anyNonZero(r, b.longBands[sfb], std::min(b.longBands[sfb + 1], 36))) last = sfb;
        }
        for (int sfb = 0; sfb < 22 && b.longBands[sfb] < 36; ++sfb) {
            int start = b.longBands[sfb], end = std::min(b.longBands[sfb + 1], 36);
            if (sfb <= last) {
                if (ms) midSide(l, r, start, end);
                continue;
            }
            intensityBand(c, l, r, start, end, sf.l[sfb], sf.lMax[sfb], sf.intensityScale);
        }
    }
    left.nz = right.nz = 576;
}

// ---- Reordering of short blocks (2.4.3.4.8) ----

// From band order (band, window, line) to sub-band order: sub-band sb holds
// 18 values, window w at sb * 18 + w * 6 + k for frequency line sb * 6 + k.
void reorder(const MpegAudioHeader& h, const GranuleInfo& g, float* xr) {
    if (!isShort(g)) return;
    const BandTable& b = kBands[bandTableIndex(h)];
    float tmp[576];
    int firstShort = g.mixedBlock ? 3 : 0;
    int startLine = 3 * b.shortBands[firstShort];
    for (int sfb = firstShort; sfb < 13; ++sfb) {
        int width = b.shortBands[sfb + 1] - b.shortBands[sfb];
        for (int w = 0; w < 3; ++w)
            for (int i = 0; i < width; ++i) {
                int f = b.shortBands[sfb] + i; // line within the window
                tmp[(f / 6) * 18 + w * 6 + f % 6] = xr[3 * b.shortBands[sfb] + w * width + i];
            }
    }
    std::memcpy(xr + startLine, tmp + startLine, sizeof(float) * size_t(576 - startLine));
}

// ---- Alias reduction (2.4.3.4.10.1) ----

void aliasReduce(const GranuleInfo& g, float* xr, int nz) {
    if (isShort(g) && !g.mixedBlock) return;
    const Tables& t = tables();
    int bounds = isShort(g) ? 1 : std::min((nz + 17) / 18, 31);
    for (int sb = 1; sb <= bounds; ++sb) {
        float* lo = xr + 18 * sb - 1;
        float* hi = xr + 18 * sb;
        for (int i = 0; i < 8; ++i) {
            float bu = lo[-i], bd = hi[i];
            lo[-i] = bu * t.aliasCs[i] - bd * t.aliasCa[i];
            hi[i] = bd * t.aliasCs[i] + bu * t.aliasCa[i];
        }
    }
}

} // namespace

void resetLayer3(Layer3State& s) {
    tables();
    std::memset(s.reservoir, 0, sizeof s.reservoir);
    s.reservoirLen = 0;
    std::memset(s.overlap, 0, sizeof s.overlap);
    resetSynth(s.synth);
}

bool readSideInfo(const MpegAudioHeader& h, const uint8_t* frame, int frameBytes, SideInfo& si) {
    BitReader br;
    br.reset(frame, size_t(frameBytes), uint32_t(h.headerBytes * 8));
    int nch = h.channels;
    bool lsf = h.versionIndex != 0;
    si.mainDataBegin = int(br.get(lsf ? 8 : 9));
    si.privateBits = int(br.get(lsf ? (nch == 1 ? 1 : 2) : (nch == 1 ? 5 : 3)));
    if (!lsf)
        for (int ch = 0; ch < nch; ++ch)
            for (int i = 0; i < 4; ++i)
                si.scfsi[ch][i] = int(br.get(1));
    bool ok = true;
    int granules = lsf ? 1 : 2;
    for (int gr = 0; gr < granules; ++gr)
        for (int ch = 0; ch < nch; ++ch) {
            GranuleInfo& g = si.gr[gr][ch];
            g = GranuleInfo{};
            g.part23Length = int(br.get(12));
            g.bigValues = int(br.get(9));
            g.globalGain = int(br.get(8));
            g.scalefacCompress = int(br.get(lsf ? 9 : 4));
            g.windowSwitching = int(br.get(1));
            if (g.windowSwitching) {
                g.blockType = int(br.get(2));
                g.mixedBlock = int(br.get(1));
                for (int r = 0; r < 2; ++r)
                    g.tableSelect[r] = int(br.get(5));
                for (int w = 0; w < 3; ++w)
                    g.subblockGain[w] = int(br.get(3));
                if (g.blockType == 0) ok = false;
            } else {
                for (int r = 0; r < 3; ++r)
                    g.tableSelect[r] = int(br.get(5));
                g.region0Count = int(br.get(4));
                g.region1Count = int(br.get(3));
            }
            if (!lsf) g.preflag = int(br.get(1));
            g.scalefacScale = int(br.get(1));
            g.count1Table = int(br.get(1));
            if (g.bigValues > 288) g.bigValues = 288;
            deriveRegions(h, g);
        }
    return ok && !br.overrun();
}

Layer3Result decodeLayer3(Layer3State& s, const MpegAudioHeader& h, const uint8_t* frame,
                          int frameBytes, int step, bool mono, int16_t* out) {
    Layer3Result res;
    SideInfo si;
    int sideBytes = h.sideInfoBytes;
    int nch = h.channels;
    int granules = h.versionIndex == 0 ? 2 : 1;
    bool usable = frameBytes >= h.headerBytes + sideBytes && readSideInfo(h, frame, frameBytes, si);
    if (usable && h.crc) {
        uint16_t crc = crc16(frame, 16, 16);
        crc = crc16(frame, 48, uint32_t(sideBytes * 8), crc);
        uint16_t sent = uint16_t((frame[4] << 8) | frame[5]);
        if (crc != sent) res.crcError = true;
    }
    if (!usable) si = SideInfo{};

    // Main data into the reservoir.
    int mainBytes = frameBytes - h.headerBytes - sideBytes;
    if (mainBytes < 0) mainBytes = 0;
    if (mainBytes > kReservoirBytes) mainBytes = kReservoirBytes;
    if (s.reservoirLen + mainBytes > kReservoirBytes) {
        int drop = s.reservoirLen + mainBytes - kReservoirBytes;
        std::memmove(s.reservoir, s.reservoir + drop, size_t(s.reservoirLen - drop));
        s.reservoirLen -= drop;
    }
    int before = s.reservoirLen;
    if (mainBytes)
        std::memcpy(s.reservoir + before, frame + h.headerBytes + sideBytes, size_t(mainBytes));
    s.reservoirLen += mainBytes;
    if (before < si.mainDataBegin) res.lackedMainData = true;

    bool silent = !usable || res.crcError || res.lackedMainData;
    if (silent) {
        for (int gr = 0; gr < 2; ++gr)
            for (int ch = 0; ch < 2; ++ch) {
                GranuleInfo& g = si.gr[gr][ch];
                g.part23Length = g.bigValues = 0;
                g.region1Start = g.region2Start = 0;
            }
    }

    BitReader br;
    br.reset(s.reservoir, size_t(s.reservoirLen),
             silent ? 0u : uint32_t((before - si.mainDataBegin) * 8));

    const int sblimit = 32 >> step;
    const int outCh = (mono || nch == 1) ? 1 : 2;
    const int slotSamples = 32 >> step;
    static thread_local Channel chans[2];
    alignas(16) static thread_local float hyb[2][18][32];
    int is[576];
    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < nch; ++ch) {
            GranuleInfo& g = si.gr[gr][ch];
            Channel& c = chans[ch];
            uint32_t start = br.pos;
            uint32_t end = start + uint32_t(g.part23Length);
            if (g.part23Length == 0) {
                std::memset(&c.sf, 0, sizeof c.sf);
                std::memset(c.xr, 0, sizeof c.xr);
                c.nz = 0;
                continue;
            }
            ScaleFactors first;
            if (h.versionIndex == 0) {
                if (gr == 1) first = c.sf;
                readScaleFactorsMpeg1(br, g, si.scfsi[ch], gr, gr == 1 ? &first : nullptr, c.sf);
            } else {
                bool intensityRight =
                    ch == 1 && h.channelMode == kJointStereo && (h.modeExtension & 1);
                readScaleFactorsLsf(br, g, intensityRight, c.sf);
            }
            readSpectrum(br, g, end, is, c.nz);
            requantise(h, g, is, c);
            br.pos = end;
        }
        if (nch == 2 && h.channelMode == kJointStereo) stereo(h, si.gr[gr][1], chans[0], chans[1]);
        for (int ch = 0; ch < nch; ++ch) {
            const GranuleInfo& g = si.gr[gr][ch];
            Channel& c = chans[ch];
            reorder(h, g, c.xr);
            aliasReduce(g, c.xr, c.nz);
            int nzAfter =
                std::min(576, c.nz + 18); // alias reduction spreads into one more sub-band
            if (isShort(g)) {
                // Reordering moves the lines of a short band up to the band's
                // end in every window: the live part ends with that band.
                const BandTable& b = kBands[bandTableIndex(h)];
                int sfb = 0;
                while (sfb < 13 && 3 * b.shortBands[sfb + 1] < c.nz)
                    ++sfb;
                int end = 18 * ((b.shortBands[std::min(sfb + 1, 13)] + 5) / 6);
                nzAfter = std::max(nzAfter, std::min(576, end));
            }
            hybridFilterbank(g.windowSwitching ? g.blockType : 0, g.mixedBlock != 0, c.xr, nzAfter,
                             s.overlap[ch], sblimit, hyb[ch]);
        }
        if (nch == 2 && outCh == 1) {
            // Mono output: the mix of both channels' filterbank outputs.
            for (int ts = 0; ts < 18; ++ts)
                for (int sb = 0; sb < sblimit; ++sb)
                    hyb[0][ts][sb] = (hyb[0][ts][sb] + hyb[1][ts][sb]) * 0.5f;
        }
        int16_t* o = out + size_t(gr) * 18 * slotSamples * outCh;
        for (int ch = 0; ch < outCh; ++ch)
            synthSlots(s.synth, ch, step, hyb[ch], 18, o + ch, outCh);
    }
    return res;
}

} // namespace kestrel::mpa
