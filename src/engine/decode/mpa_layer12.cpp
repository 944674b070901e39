#include "engine/decode/mpa_layer12.h"

#include "engine/decode/mpa_bits.h"
#include "engine/decode/mpa_tables.h"

#include <cstring>

namespace kestrel::mpa {
namespace {

// ---- Layer II allocation tables (11172-3 Table 3-B.2a-d, 13818-3 Table B.1) ----
// Each sub-band lists its allocation field width and the number of
// quantisation levels for every allocation value (0: no samples).

struct SubbandAlloc {
    int nbal;
    const int* levels;
};

const int kLevelsAB0[16] = {0,   3,    7,    15,   31,   63,    127,   255,
                            511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};
const int kLevelsAB1[16] = {0,   3,   5,   7,    9,    15,   31,   63,
                            127, 255, 511, 1023, 2047, 4095, 8191, 65535};
const int kLevelsAB2[8] = {0, 3, 5, 7, 9, 15, 31, 65535};
const int kLevelsAB3[4] = {0, 3, 5, 65535};
const int kLevelsCD0[16] = {0,   3,   5,    9,    15,   31,   63,    127,
                            255, 511, 1023, 2047, 4095, 8191, 16383, 32767};
const int kLevelsCD1[8] = {0, 3, 5, 9, 15, 31, 63, 127};
const int kLevelsLsf0[16] = {0,   3,   5,   7,    9,    15,   31,   63,
                             127, 255, 511, 1023, 2047, 4095, 8191, 16383};
const int kLevelsLsf1[8] = {0, 3, 5, 9, 15, 31, 63, 127};
const int kLevelsLsf2[4] = {0, 3, 5, 9};

struct AllocTable {
    int sblimit;
    SubbandAlloc sb[32];
};

AllocTable makeTable(int which) {
    AllocTable t{};
    switch (which) {
    case 0: // a: 27 sub-bands
    case 1: // b: 30 sub-bands
        t.sblimit = which == 0 ? 27 : 30;
        for (int sb = 0; sb < t.sblimit; ++sb) {
            if (sb < 3)
                t.sb[sb] = {4, kLevelsAB0};
            else if (sb < 11)
                t.sb[sb] = {4, kLevelsAB1};
            else if (sb < 23)
                t.sb[sb] = {3, kLevelsAB2};
            else
                t.sb[sb] = {2, kLevelsAB3};
        }
        break;
    case 2: // c: 8 sub-bands
    case 3: // d: 12 sub-bands
        t.sblimit = which == 2 ? 8 : 12;
        for (int sb = 0; sb < t.sblimit; ++sb)
            t.sb[sb] = sb < 2 ? SubbandAlloc{4, kLevelsCD0} : SubbandAlloc{3, kLevelsCD1};
        break;
    default: // lower sampling frequencies: 30 sub-bands
        t.sblimit = 30;
        for (int sb = 0; sb < 30; ++sb) {
            if (sb < 4)
                t.sb[sb] = {4, kLevelsLsf0};
            else if (sb < 11)
                t.sb[sb] = {3, kLevelsLsf1};
            else
                t.sb[sb] = {2, kLevelsLsf2};
        }
        break;
    }
    return t;
}

const AllocTable& allocTable(int which) {
    static const AllocTable tables[5] = {makeTable(0), makeTable(1), makeTable(2), makeTable(3),
                                         makeTable(4)};
    return tables[which];
}

// Table choice of 11172-3 Annex B.2 by sampling frequency and bit rate per
// channel.
int chooseTable(const MpegAudioHeader& h) {
    if (h.versionIndex != 0) return 4;
    int perChannel = h.bitRateKbps / (h.channels == 1 ? 1 : 2);
    if (perChannel > 0 && perChannel < 56) return h.sampleRate == 32000 ? 3 : 2;
    if (h.sampleRate == 48000 || (perChannel > 0 && perChannel <= 80)) return 0;
    return 1;
}

int codeBits(int levels, bool& grouped) {
    grouped = levels == 3 || levels == 5 || levels == 9;
    if (levels == 3) return 5;
    if (levels == 5) return 7;
    if (levels == 9) return 10;
    int bits = 0;
    while ((1 << bits) < levels + 1)
        ++bits;
    return bits;
}

// (2c - (L - 1)) / L: the fraction of the standard after its MSB inversion,
// C and D correction.
inline float dequant(int code, int levels) {
    return float(2 * code - (levels - 1)) / float(levels);
}

void synthesise(SynthState& synth, float (*sbs)[36][32], int slots, int nch, int step, bool mono,
                int16_t* out) {
    int outCh = (mono || nch == 1) ? 1 : 2;
    int n = 32 >> step;
    if (nch == 2 && outCh == 1)
        for (int t = 0; t < slots; ++t)
            for (int sb = 0; sb < 32; ++sb)
                sbs[0][t][sb] = (sbs[0][t][sb] + sbs[1][t][sb]) * 0.5f;
    for (int t = 0; t < slots; ++t)
        for (int ch = 0; ch < outCh; ++ch)
            synthSlot(synth, ch, step, sbs[ch][t], out + t * n * outCh + ch, outCh);
}

} // namespace

void decodeLayer1(SynthState& synth, const MpegAudioHeader& h, const uint8_t* frame, int frameBytes,
                  int step, bool mono, int16_t* out) {
    const Tables& t = tables();
    BitReader br;
    br.reset(frame, size_t(frameBytes), uint32_t(h.headerBytes * 8));
    int nch = h.channels;
    int bound = h.channelMode == kJointStereo ? 4 * (h.modeExtension + 1) : 32;
    int alloc[2][32] = {};
    float scale[2][32] = {};
    for (int sb = 0; sb < 32; ++sb) {
        if (sb < bound) {
            for (int ch = 0; ch < nch; ++ch)
                alloc[ch][sb] = int(br.get(4));
        } else {
            alloc[0][sb] = alloc[1][sb] = int(br.get(4));
        }
        for (int ch = 0; ch < 2; ++ch)
            if (alloc[ch][sb] == 15) alloc[ch][sb] = 0; // forbidden value
    }
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < nch; ++ch)
            if (alloc[ch][sb]) scale[ch][sb] = t.layer12Scale[br.get(6)];
    alignas(16) static thread_local float sbs[2][36][32];
    std::memset(sbs, 0, sizeof sbs);
    for (int s = 0; s < 12; ++s)
        for (int sb = 0; sb < 32; ++sb) {
            int chans = sb < bound ? nch : 1;
            for (int ch = 0; ch < chans; ++ch) {
                int a = alloc[ch][sb];
                if (!a) continue;
                int bits = a + 1;
                int levels = (1 << bits) - 1;
                float v = dequant(int(br.get(bits)), levels);
                if (sb < bound) {
                    sbs[ch][s][sb] = v * scale[ch][sb];
                } else {
                    for (int c = 0; c < nch; ++c)
                        sbs[c][s][sb] = v * scale[c][sb];
                }
            }
        }
    synthesise(synth, sbs, 12, nch, step, mono, out);
}

void decodeLayer2(SynthState& synth, const MpegAudioHeader& h, const uint8_t* frame, int frameBytes,
                  int step, bool mono, int16_t* out) {
    const Tables& t = tables();
    const AllocTable& table = allocTable(chooseTable(h));
    BitReader br;
    br.reset(frame, size_t(frameBytes), uint32_t(h.headerBytes * 8));
    int nch = h.channels;
    int sblimit = table.sblimit;
    int bound = h.channelMode == kJointStereo ? 4 * (h.modeExtension + 1) : sblimit;
    if (bound > sblimit) bound = sblimit;
    int alloc[2][32] = {};
    for (int sb = 0; sb < sblimit; ++sb) {
        int nbal = table.sb[sb].nbal;
        if (sb < bound) {
            for (int ch = 0; ch < nch; ++ch)
                alloc[ch][sb] = int(br.get(nbal));
        } else {
            alloc[0][sb] = alloc[1][sb] = int(br.get(nbal));
        }
    }
    int scfsi[2][32] = {};
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < nch; ++ch)
            if (alloc[ch][sb]) scfsi[ch][sb] = int(br.get(2));
    float scale[2][32][3] = {};
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
            if (!alloc[ch][sb]) continue;
            int s0, s1, s2;
            switch (scfsi[ch][sb]) {
            case 0:
                s0 = int(br.get(6));
                s1 = int(br.get(6));
                s2 = int(br.get(6));
                break;
            case 1:
                s0 = s1 = int(br.get(6));
                s2 = int(br.get(6));
                break;
            case 2:
                s0 = s1 = s2 = int(br.get(6));
                break;
            default:
                s0 = int(br.get(6));
                s1 = s2 = int(br.get(6));
                break;
            }
            scale[ch][sb][0] = t.layer12Scale[s0];
            scale[ch][sb][1] = t.layer12Scale[s1];
            scale[ch][sb][2] = t.layer12Scale[s2];
        }
    alignas(16) static thread_local float sbs[2][36][32];
    std::memset(sbs, 0, sizeof sbs);
    for (int gr = 0; gr < 12; ++gr) {
        int part = gr / 4;
        for (int sb = 0; sb < sblimit; ++sb) {
            int chans = sb < bound ? nch : 1;
            for (int ch = 0; ch < chans; ++ch) {
                int a = alloc[ch][sb];
                if (!a) continue;
                int levels = table.sb[sb].levels[a];
                bool grouped;
                int bits = codeBits(levels, grouped);
                int code[3];
                if (grouped) {
                    int c = int(br.get(bits));
                    for (int k = 0; k < 3; ++k) {
                        code[k] = c % levels;
                        c /= levels;
                    }
                } else {
                    for (int k = 0; k < 3; ++k)
                        code[k] = int(br.get(bits));
                }
                for (int k = 0; k < 3; ++k) {
                    float v = dequant(code[k], levels);
                    if (sb < bound) {
                        sbs[ch][gr * 3 + k][sb] = v * scale[ch][sb][part];
                    } else {
                        for (int c = 0; c < nch; ++c)
                            sbs[c][gr * 3 + k][sb] = v * scale[c][sb][part];
                    }
                }
            }
        }
    }
    synthesise(synth, sbs, 36, nch, step, mono, out);
}

} // namespace kestrel::mpa
