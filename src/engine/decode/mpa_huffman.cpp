#include "engine/decode/mpa_huffman.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace kestrel::mpa {
namespace {

// Pair decoding: a first-level table indexed by the next `rootBits` bits and,
// for the prefixes of longer codes, second-level tables indexed by the bits
// after them. An entry is one of
//   done  (bits 30-31 clear): the code and the sign bits of its non-zero
//         values fit the first level: bits 0-7 x and 8-15 y as signed bytes,
//         bits 16-20 the bits consumed (code and signs);
//   code  (bit 30): bits 4-7 x, 0-3 y (magnitudes), bits 8-12 the code's bits
//         at this level; linbits and signs are read after it;
//   link  (bit 31): bits 0-19 the second level's index, bits 24-28 its width.
constexpr uint32_t kLink = 0x80000000u;
constexpr uint32_t kCode = 0x40000000u;
constexpr int kMaxRootBits = 10;

struct PairDecoder {
    std::vector<uint32_t> pool; // first level at 0, second levels after it
    int rootBits = 0;
    int linbits = 0;
};

// Count1 decoding: one table per code, indexed by the next 10 bits (the
// longest code, 6 bits, and its 4 sign bits): bits 6-7, 4-5, 2-3 and 0-1 hold
// v, w, x and y as 2-bit signed values, bits 8-11 the bits consumed.
constexpr int kQuadBits = 10;

PairDecoder gPair[32];
uint16_t gQuad[2][1 << kQuadBits];
std::once_flag gOnce;

uint32_t codeEntry(int x, int y, int len) {
    return kCode | uint32_t(len) << 8 | uint32_t(x) << 4 | uint32_t(y);
}

// Bit `k` (0 = first) of the `n`-bit index `index`.
int bitAt(uint32_t index, int n, int k) {
    return int(index >> (n - 1 - k)) & 1;
}

void buildPairs(PairDecoder& d, const HuffSource& src) {
    int n = src.ysize * src.ysize;
    int maxLen = 0;
    for (int i = 0; i < n; ++i)
        maxLen = src.lengths[i] > maxLen ? src.lengths[i] : maxLen;
    // Room for the sign bits of the short codes, within the first-level cap.
    int root = maxLen + 2 < kMaxRootBits ? maxLen + 2 : kMaxRootBits;
    d.rootBits = root;
    d.linbits = src.linbits;
    d.pool.assign(size_t(1) << root, uint32_t(root) << 16); // unused: consumes the level
    std::vector<int> rest(size_t(1) << root, 0);            // longest tail behind a prefix
    for (int i = 0; i < n; ++i) {
        int len = src.lengths[i];
        uint32_t code = src.codes[i];
        if (len > root) {
            uint32_t prefix = code >> (len - root);
            if (len - root > rest[prefix]) rest[prefix] = len - root;
            continue;
        }
        int x = i / src.ysize, y = i % src.ysize;
        bool escape = src.linbits && (x == 15 || y == 15);
        int signs = (x != 0) + (y != 0);
        uint32_t first = code << (root - len);
        for (uint32_t k = 0; k < (1u << (root - len)); ++k) {
            uint32_t index = first + k;
            if (escape || len + signs > root) {
                d.pool[index] = codeEntry(x, y, len);
                continue;
            }
            int at = len;
            int sx = x ? (bitAt(index, root, at++) ? -x : x) : 0;
            int sy = y ? (bitAt(index, root, at++) ? -y : y) : 0;
            d.pool[index] = uint32_t(uint8_t(int8_t(sx))) | uint32_t(uint8_t(int8_t(sy))) << 8 |
                            uint32_t(at) << 16;
        }
    }
    for (uint32_t prefix = 0; prefix < (1u << root); ++prefix) {
        int width = rest[prefix];
        if (!width) continue;
        size_t base = d.pool.size();
        d.pool.resize(base + (size_t(1) << width), codeEntry(0, 0, width));
        d.pool[prefix] = kLink | uint32_t(base) | uint32_t(width) << 24;
        for (int i = 0; i < n; ++i) {
            int len = src.lengths[i];
            if (len <= root || uint32_t(src.codes[i] >> (len - root)) != prefix) continue;
            int tail = len - root;
            uint32_t first = (src.codes[i] & ((1u << tail) - 1)) << (width - tail);
            for (uint32_t k = 0; k < (1u << (width - tail)); ++k)
                d.pool[base + first + k] = codeEntry(i / src.ysize, i % src.ysize, tail);
        }
    }
}

void buildQuads(uint16_t* table, const HuffSource* a) {
    for (uint32_t index = 0; index < (1u << kQuadBits); ++index) {
        int q = 0, len = 0;
        if (a) {
            for (int i = 0; i < 16; ++i) {
                int l = a->lengths[i];
                if ((index >> (kQuadBits - l)) == a->codes[i]) {
                    q = i;
                    len = l;
                    break;
                }
            }
        } else {
            q = 15 - int(index >> (kQuadBits - 4));
            len = 4;
        }
        uint32_t packed = 0;
        for (int k = 0; k < 4; ++k) {
            int v = (q >> (3 - k)) & 1;
            if (v && bitAt(index, kQuadBits, len++)) v = -1;
            packed |= uint32_t(v & 3) << (6 - 2 * k);
        }
        table[index] = uint16_t(packed | uint32_t(len) << 8);
    }
}

void initOnce() {
    for (int t = 0; t < 32; ++t) {
        const HuffSource& s = kHuffSources[t];
        if (s.ysize == 0) continue;
        // Tables 17-23 and 25-31 share the codes of 16 and 24.
        if ((t > 16 && t < 24) || t > 24) {
            gPair[t] = gPair[t < 24 ? 16 : 24];
            gPair[t].linbits = s.linbits;
            continue;
        }
        buildPairs(gPair[t], s);
    }
    buildQuads(gQuad[0], &kQuadSourceA);
    buildQuads(gQuad[1], nullptr);
}

// The 64 bits from bit `pos` on (at least 57 of them valid), zero past the
// reader's end.
inline uint64_t window(const BitReader& br, uint32_t pos) {
    uint32_t byte = pos >> 3;
    uint32_t size = br.sizeBits >> 3;
    uint64_t v = 0;
    if (byte + 8 <= size) {
        std::memcpy(&v, br.data + byte, 8);
        v = __builtin_bswap64(v);
    } else {
        for (uint32_t k = 0; k < 8; ++k)
            v = v << 8 | (byte + k < size ? br.data[byte + k] : 0u);
    }
    return v << (pos & 7);
}

// Applies the sign bit that follows a non-zero value (none follows 0)
// without a branch: returns the signed value, consumes the bit from w.
inline int withSign(int v, uint64_t& w, uint32_t& pos) {
    uint32_t present = v != 0;
    int negative = -int(uint32_t(w >> 63) & present);
    w <<= present;
    pos += present;
    return (v ^ negative) - negative;
}

template <bool kLinbits>
int pairsLoop(const PairDecoder& d, const BitReader& br, uint32_t& posRef, int* out, int count,
              uint32_t end) {
    const uint32_t* pool = d.pool.data();
    const int root = d.rootBits;
    const int linbits = d.linbits;
    uint32_t pos = posRef;
    int i = 0;
    for (; i < count; i += 2) {
        if (pos > end) break;
        uint64_t w = window(br, pos);
        uint32_t e = pool[w >> (64 - root)];
        if (!(e & (kLink | kCode))) {
            out[i] = int8_t(e & 0xFF);
            out[i + 1] = int8_t((e >> 8) & 0xFF);
            pos += (e >> 16) & 31;
            continue;
        }
        if (e & kLink) {
            w <<= root;
            pos += uint32_t(root);
            e = pool[(e & 0xFFFFF) + (w >> (64 - ((e >> 24) & 31)))];
        }
        uint32_t len = (e >> 8) & 31;
        int x = int((e >> 4) & 15);
        int y = int(e & 15);
        w <<= len;
        pos += len;
        if constexpr (kLinbits) {
            // 15 takes linbits more bits; the mask makes it branch-free.
            uint32_t ex = uint32_t(x == 15) * uint32_t(linbits);
            x += int(uint32_t(w >> (64 - linbits)) & -uint32_t(x == 15));
            w <<= ex;
            pos += ex;
            x = withSign(x, w, pos);
            uint32_t ey = uint32_t(y == 15) * uint32_t(linbits);
            y += int(uint32_t(w >> (64 - linbits)) & -uint32_t(y == 15));
            w <<= ey;
            pos += ey;
            y = withSign(y, w, pos);
        } else {
            x = withSign(x, w, pos);
            y = withSign(y, w, pos);
        }
        out[i] = x;
        out[i + 1] = y;
    }
    posRef = pos;
    return i;
}

} // namespace

int decodePairs(BitReader& br, int table, int* out, int count, uint32_t end) {
    const PairDecoder& d = gPair[table];
    if (d.pool.empty()) {
        for (int i = 0; i < count; ++i)
            out[i] = 0;
        return count;
    }
    return d.linbits ? pairsLoop<true>(d, br, br.pos, out, count, end)
                     : pairsLoop<false>(d, br, br.pos, out, count, end);
}

int decodeQuads(BitReader& br, int table, int* out, int room, uint32_t end) {
    const uint16_t* q = gQuad[table ? 1 : 0];
    uint32_t pos = br.pos;
    int i = 0;
    while (i + 4 <= room && pos < end) {
        uint32_t e = q[window(br, pos) >> (64 - kQuadBits)];
        pos += e >> 8;
        if (pos > end) break; // ran past the granule's bits: dropped
        // Each 2-bit field sign-extended: 00 -> 0, 01 -> 1, 11 -> -1.
        out[i] = int32_t(e << 24) >> 30;
        out[i + 1] = int32_t(e << 26) >> 30;
        out[i + 2] = int32_t(e << 28) >> 30;
        out[i + 3] = int32_t(e << 30) >> 30;
        i += 4;
    }
    br.pos = pos;
    return i;
}

void initHuffman() {
    std::call_once(gOnce, initOnce);
}

void decodePair(BitReader& br, int table, int& x, int& y) {
    int v[2];
    decodePairs(br, table, v, 2, UINT32_MAX);
    x = v[0];
    y = v[1];
}

void decodeQuad(BitReader& br, int table, int& v, int& w, int& x, int& y) {
    int q[4];
    decodeQuads(br, table, q, 4, UINT32_MAX);
    v = q[0];
    w = q[1];
    x = q[2];
    y = q[3];
}
bool huffmanTablesComplete() {
    auto complete = [](const HuffSource& s, int n) {
        double sum = 0;
        for (int i = 0; i < n; ++i)
            sum += 1.0 / double(1u << s.lengths[i]);
        return sum > 1.0 - 1e-12 && sum < 1.0 + 1e-12;
    };
    for (int t = 0; t < 32; ++t) {
        const HuffSource& s = kHuffSources[t];
        if (s.ysize && !complete(s, s.ysize * s.ysize)) return false;
    }
    return complete(kQuadSourceA, 16);
}

} // namespace kestrel::mpa
