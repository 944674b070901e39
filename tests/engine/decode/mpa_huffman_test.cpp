// Layer III Huffman decoding against a plain reference that matches the code
// words of the standard's tables one bit at a time: the spectral values, the
// number of lines and the bit position after each region must be the same,
// on random bitstreams and on the granules of real streams.
#include "engine/decode/mpa_huffman.h"
#include "engine/decode/mpa_layer3.h"
#include "engine/decode/mpa_tables.h"
#include "mp3dec_helpers.h"

#include <gtest/gtest.h>

#include <random>

namespace kestrel::test {
namespace {

using mpa::BitReader;

// Bit `pos` of the reader's data, zero past its end.
int bitAt(const BitReader& br, uint32_t pos) {
    if (pos >= br.sizeBits) return 0;
    return (br.data[pos >> 3] >> (7 - (pos & 7))) & 1;
}

uint32_t bits(const BitReader& br, uint32_t& pos, int n) {
    uint32_t v = 0;
    for (int k = 0; k < n; ++k)
        v = v << 1 | uint32_t(bitAt(br, pos++));
    return v;
}

// The index of the code word at pos (codes and lengths of n words), consumed.
int matchCode(const BitReader& br, uint32_t& pos, const uint16_t* codes, const uint8_t* lengths,
              int n) {
    uint32_t acc = 0;
    for (int len = 1; len <= 19; ++len) {
        acc = acc << 1 | uint32_t(bitAt(br, pos + uint32_t(len) - 1));
        for (int i = 0; i < n; ++i)
            if (lengths[i] == len && codes[i] == acc) {
                pos += uint32_t(len);
                return i;
            }
    }
    ADD_FAILURE() << "no code word at bit " << pos;
    return 0;
}

int signedValue(const BitReader& br, uint32_t& pos, int v) {
    return v && bits(br, pos, 1) ? -v : v;
}

int referencePairs(BitReader& br, int table, int* out, int count, uint32_t end) {
    const mpa::HuffSource& s = mpa::kHuffSources[table];
    if (s.ysize == 0) {
        for (int i = 0; i < count; ++i)
            out[i] = 0;
        return count;
    }
    int i = 0;
    for (; i < count && br.pos <= end; i += 2) {
        int k = matchCode(br, br.pos, s.codes, s.lengths, s.ysize * s.ysize);
        int x = k / s.ysize, y = k % s.ysize;
        if (s.linbits && x == 15) x += int(bits(br, br.pos, s.linbits));
        x = signedValue(br, br.pos, x);
        if (s.linbits && y == 15) y += int(bits(br, br.pos, s.linbits));
        y = signedValue(br, br.pos, y);
        out[i] = x;
        out[i + 1] = y;
    }
    return i;
}

int referenceQuads(BitReader& br, int table, int* out, int room, uint32_t end) {
    int i = 0;
    while (i + 4 <= room && br.pos < end) {
        int q = table
                    ? 15 - int(bits(br, br.pos, 4))
                    : matchCode(br, br.pos, mpa::kQuadSourceA.codes, mpa::kQuadSourceA.lengths, 16);
        int v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = signedValue(br, br.pos, (q >> (3 - k)) & 1);
        if (br.pos > end) break;
        for (int k = 0; k < 4; ++k)
            out[i + k] = v[k];
        i += 4;
    }
    return i;
}

// Both decoders on the same bits; returns false at the first difference.
bool samePairs(const std::vector<uint8_t>& data, uint32_t start, int table, int count,
               uint32_t end) {
    BitReader a, b;
    a.reset(data.data(), data.size(), start);
    b.reset(data.data(), data.size(), start);
    std::vector<int> va(size_t(count) + 2, 7), vb(size_t(count) + 2, 7);
    int na = mpa::decodePairs(a, table, va.data(), count, end);
    int nb = referencePairs(b, table, vb.data(), count, end);
    EXPECT_EQ(na, nb) << "table " << table << " start " << start;
    EXPECT_EQ(a.pos, b.pos) << "table " << table << " start " << start;
    EXPECT_EQ(va, vb) << "table " << table << " start " << start;
    return na == nb && a.pos == b.pos && va == vb;
}

bool sameQuads(const std::vector<uint8_t>& data, uint32_t start, int table, int room,
               uint32_t end) {
    BitReader a, b;
    a.reset(data.data(), data.size(), start);
    b.reset(data.data(), data.size(), start);
    std::vector<int> va(size_t(room), 7), vb(size_t(room), 7);
    int na = mpa::decodeQuads(a, table, va.data(), room, end);
    int nb = referenceQuads(b, table, vb.data(), room, end);
    EXPECT_EQ(na, nb) << "count1 table " << table << " start " << start;
    EXPECT_EQ(a.pos, b.pos) << "count1 table " << table << " start " << start;
    EXPECT_EQ(va, vb) << "count1 table " << table << " start " << start;
    return na == nb && a.pos == b.pos && va == vb;
}

TEST(MpaHuffman, RandomBitstreamsDecodeLikeTheReference) {
    mpa::tables();
    std::mt19937 rng(12);
    for (int round = 0; round < 300; ++round) {
        // Short buffers too, so that codes run past the end (read as zeros).
        std::vector<uint8_t> data(1 + rng() % 600);
        // Bytes biased towards zero bits as well as uniform ones: long runs of
        // short codes and the long escape codes both occur.
        for (auto& byte : data)
            byte = uint8_t(round % 3 == 0 ? rng() & rng() : rng());
        uint32_t sizeBits = uint32_t(data.size() * 8);
        for (int table = 0; table < 32; ++table) {
            uint32_t start = uint32_t(rng() % sizeBits);
            int count = 2 * int(1 + rng() % 288);
            uint32_t end = start + uint32_t(rng() % (sizeBits + 64));
            ASSERT_TRUE(samePairs(data, start, table, count, end));
        }
        for (int table = 0; table < 2; ++table) {
            uint32_t start = uint32_t(rng() % sizeBits);
            int room = 4 * int(rng() % 145);
            uint32_t end = start + uint32_t(rng() % (sizeBits + 64));
            ASSERT_TRUE(sameQuads(data, start, table, room, end));
        }
    }
}

TEST(MpaHuffman, EveryPairCodeWithEverySignAndLinbits) {
    mpa::tables();
    // Each code word of each table, followed by each pattern of the bits that
    // can come after it (linbits all ones or all zeros, both signs).
    for (int table = 1; table < 32; ++table) {
        const mpa::HuffSource& s = mpa::kHuffSources[table];
        for (int k = 0; k < s.ysize * s.ysize; ++k) {
            for (int tail = 0; tail < 16; ++tail) {
                std::vector<uint8_t> data(16, 0);
                uint32_t pos = 3; // not byte-aligned
                auto put = [&](uint32_t v, int n) {
                    for (int b = n - 1; b >= 0; --b, ++pos)
                        if ((v >> b) & 1) data[pos >> 3] |= uint8_t(0x80 >> (pos & 7));
                };
                put(s.codes[k], s.lengths[k]);
                put(tail & 1 ? 0x1FFF : 0, 13);
                put(tail >> 1, 1);
                put(tail & 4 ? 0x1FFF : 0, 13);
                put(tail >> 3, 1);
                ASSERT_TRUE(samePairs(data, 3, table, 2, 1000));
            }
        }
    }
}

// Scale-factor bits of an MPEG-1 granule (2.4.2.7): the Huffman data follows.
int part2BitsMpeg1(const mpa::GranuleInfo& g, const int* scfsi, int gr) {
    static const int slen[2][16] = {{0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4},
                                    {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3}};
    int s1 = slen[0][g.scalefacCompress], s2 = slen[1][g.scalefacCompress];
    if (g.windowSwitching && g.blockType == 2) return (g.mixedBlock ? 17 : 18) * s1 + 18 * s2;
    int groups[4] = {6 * s1, 5 * s1, 5 * s2, 5 * s2};
    int n = 0;
    for (int k = 0; k < 4; ++k)
        if (gr == 0 || !scfsi[k]) n += groups[k];
    return n;
}

// The regions of one granule's spectrum read as the decoder reads them.
bool sameSpectrum(const std::vector<uint8_t>& data, uint32_t start, uint32_t end,
                  const mpa::GranuleInfo& g) {
    BitReader a, b;
    a.reset(data.data(), data.size(), start);
    b.reset(data.data(), data.size(), start);
    int bigEnd = std::min(g.bigValues * 2, 576);
    int regionEnd[3] = {std::min(g.region1Start, bigEnd), std::min(g.region2Start, bigEnd), bigEnd};
    int va[576] = {}, vb[576] = {};
    int i = 0;
    for (int r = 0; r < 3; ++r) {
        if (i >= regionEnd[r]) continue;
        int want = regionEnd[r] - i;
        int got = mpa::decodePairs(a, g.tableSelect[r], va + i, want, end);
        if (got != referencePairs(b, g.tableSelect[r], vb + i, want, end) || a.pos != b.pos)
            return false;
        i += got;
        if (got < want) break;
    }
    if (i < 576 && a.pos < end) {
        int got = mpa::decodeQuads(a, g.count1Table, va + i, 576 - i, end);
        if (got != referenceQuads(b, g.count1Table, vb + i, 576 - i, end) || a.pos != b.pos)
            return false;
    }
    return std::equal(va, va + 576, vb);
}

TEST(MpaHuffman, RealStreamsDecodeLikeTheReference) {
    mpa::tables();
    for (const char* name : {"dec_l3_44_320.mp3", "dec_l3_44_cbr128_js.mp3", "dec_l3_44_vbr.mp3",
                             "dec_l3_48_cbr.mp3", "dec_l3_44_mono.mp3"}) {
        auto frames = splitFrames(readFile(fixture(name)));
        ASSERT_GT(frames.size(), 20u) << name;
        std::vector<uint8_t> mainData; // the main data of every frame, in order
        int granules = 0, checked = 0;
        for (const auto& f : frames) {
            MpegAudioHeader h;
            ASSERT_TRUE(parseMpegAudioHeader(f.data(), h));
            ASSERT_EQ(h.versionIndex, 0) << name;
            int side = h.sideInfoBytes;
            mpa::SideInfo si;
            if (int(f.size()) < h.headerBytes + side ||
                !mpa::readSideInfo(h, f.data(), int(f.size()), si))
                continue;
            size_t before = mainData.size();
            mainData.insert(mainData.end(), f.begin() + h.headerBytes + side, f.end());
            if (size_t(si.mainDataBegin) > before) continue;
            uint32_t pos = uint32_t(before - size_t(si.mainDataBegin)) * 8;
            for (int gr = 0; gr < 2; ++gr) {
                for (int ch = 0; ch < h.channels; ++ch) {
                    const mpa::GranuleInfo& g = si.gr[gr][ch];
                    uint32_t end = pos + uint32_t(g.part23Length);
                    uint32_t start = pos + uint32_t(part2BitsMpeg1(g, si.scfsi[ch], gr));
                    ++granules;
                    if (g.part23Length > 0) {
                        ASSERT_TRUE(sameSpectrum(mainData, start, end, g))
                            << name << " granule " << granules;
                        ++checked;
                    }
                    pos = end;
                }
            }
        }
        EXPECT_GT(checked, granules / 2) << name;
    }
}

} // namespace
} // namespace kestrel::test
