#include "engine/decode/mpa_huffman.h"

#include <mutex>
#include <vector>

namespace kestrel::mpa {
namespace {

// Entries of the lookup tables: a leaf holds the value (bits 0-7) and the
// number of bits it consumes at its level (bits 8-12); a link (bit 31) holds
// the index of the next level (bits 0-19) and its width in bits (bits 24-28).
constexpr uint32_t kLink = 0x80000000u;

struct Code {
    uint32_t code;
    int len;
    int value;
};

struct Decoder {
    std::vector<uint32_t> pool;
    int rootBits = 0;
};

Decoder gPair[32];
Decoder gQuadA;
std::once_flag gOnce;

// Fills pool[base .. base + 2^bits) for the codes below `prefix` of length
// `prefixLen`.
void buildLevel(Decoder& d, size_t base, int bits, const std::vector<Code>& codes, uint32_t prefix,
                int prefixLen) {
    size_t size = size_t(1) << bits;
    for (size_t i = 0; i < size; ++i)
        d.pool[base + i] = uint32_t(bits) << 8; // invalid: value 0
    // Codes that end within this level.
    std::vector<bool> linked(size, false);
    for (const Code& c : codes) {
        if (c.len <= prefixLen) continue;
        if ((c.code >> (c.len - prefixLen)) != prefix) continue;
        int rest = c.len - prefixLen;
        uint32_t tail = c.code & ((1u << rest) - 1);
        if (rest <= bits) {
            uint32_t first = tail << (bits - rest);
            uint32_t count = 1u << (bits - rest);
            for (uint32_t i = 0; i < count; ++i)
                d.pool[base + first + i] = uint32_t(c.value) | (uint32_t(rest) << 8);
        } else {
            linked[tail >> (rest - bits)] = true;
        }
    }
    for (size_t i = 0; i < size; ++i) {
        if (!linked[i]) continue;
        uint32_t subPrefix = (prefix << bits) | uint32_t(i);
        int subPrefixLen = prefixLen + bits;
        int maxRest = 0;
        for (const Code& c : codes)
            if (c.len > subPrefixLen && (c.code >> (c.len - subPrefixLen)) == subPrefix &&
                c.len - subPrefixLen > maxRest)
                maxRest = c.len - subPrefixLen;
        int subBits = maxRest > 8 ? 8 : maxRest;
        size_t subBase = d.pool.size();
        d.pool.resize(subBase + (size_t(1) << subBits));
        d.pool[base + i] = kLink | uint32_t(subBase) | (uint32_t(subBits) << 24);
        buildLevel(d, subBase, subBits, codes, subPrefix, subPrefixLen);
    }
}

void build(Decoder& d, const HuffSource& src, bool quad) {
    std::vector<Code> codes;
    int n = quad ? 16 : src.ysize * src.ysize;
    int maxLen = 0;
    for (int i = 0; i < n; ++i) {
        int value = quad ? i : ((i / src.ysize) << 4) | (i % src.ysize);
        codes.push_back({src.codes[i], src.lengths[i], value});
        if (src.lengths[i] > maxLen) maxLen = src.lengths[i];
    }
    d.rootBits = maxLen > 8 ? 8 : maxLen;
    d.pool.assign(size_t(1) << d.rootBits, 0);
    buildLevel(d, 0, d.rootBits, codes, 0, 0);
}

void initOnce() {
    for (int t = 0; t < 32; ++t) {
        const HuffSource& s = kHuffSources[t];
        if (s.ysize == 0) continue;
        // Tables 17-23 and 25-31 share the codes of 16 and 24.
        if (t > 16 && t < 24) {
            gPair[t].rootBits = gPair[16].rootBits;
            gPair[t].pool = gPair[16].pool;
            continue;
        }
        if (t > 24) {
            gPair[t].rootBits = gPair[24].rootBits;
            gPair[t].pool = gPair[24].pool;
            continue;
        }
        build(gPair[t], s, false);
    }
    build(gQuadA, kQuadSourceA, true);
}

inline uint32_t lookup(const Decoder& d, BitReader& br) {
    int bits = d.rootBits;
    uint32_t e = d.pool[br.peek(bits)];
    while (e & kLink) {
        br.skip(bits);
        bits = int((e >> 24) & 31);
        e = d.pool[(e & 0xFFFFF) + br.peek(bits)];
    }
    br.skip((e >> 8) & 31);
    return e & 0xFF;
}

// A 64-bit window over the reader's 16-bit words, refilled a word at a time.
struct WordCache {
    const BitReader& br;
    uint32_t pos;      // bit position of the window's first bit
    uint32_t nextWord; // next word to load
    uint64_t win = 0;  // bits from pos on, left-aligned
    int avail = 0;

    explicit WordCache(const BitReader& r) : br(r), pos(r.pos), nextWord(r.pos >> 4) {
        int skip = int(pos & 15);
        win = uint64_t(br.word(nextWord++)) << (48 + skip);
        avail = 16 - skip;
        fill();
    }
    void fill() {
        while (avail <= 48) {
            win |= uint64_t(br.word(nextWord++)) << (48 - avail);
            avail += 16;
        }
    }
    uint32_t peek(int n) const { return uint32_t(win >> (64 - n)); }
    void skip(int n) {
        win <<= n;
        avail -= n;
        pos += uint32_t(n);
    }
    uint32_t get(int n) {
        uint32_t v = peek(n);
        skip(n);
        return v;
    }
    // Applies the sign bit that follows a non-zero value (none follows 0),
    // without a branch on the sign.
    int withSign(int v) {
        int present = v != 0;
        int negative = int(win >> 63) & present;
        win <<= present;
        avail -= present;
        pos += uint32_t(present);
        return negative ? -v : v;
    }
};

inline uint32_t lookupCached(const Decoder& d, WordCache& c) {
    int bits = d.rootBits;
    uint32_t e = d.pool[c.peek(bits)];
    while (e & kLink) {
        c.skip(bits);
        bits = int((e >> 24) & 31);
        e = d.pool[(e & 0xFFFFF) + c.peek(bits)];
    }
    c.skip(int((e >> 8) & 31));
    return e & 0xFF;
}

} // namespace

int decodePairs(BitReader& br, int table, int* out, int count, uint32_t end) {
    const Decoder& d = gPair[table];
    if (d.pool.empty()) {
        for (int i = 0; i < count; ++i)
            out[i] = 0;
        return count;
    }
    int linbits = kHuffSources[table].linbits;
    WordCache c(br);
    int i = 0;
    for (; i < count; i += 2) {
        if (c.pos > end) break;
        uint32_t v = lookupCached(d, c);
        int x = int(v >> 4);
        int y = int(v & 15);
        if (linbits) {
            if (x == 15) x += int(c.get(linbits));
            x = c.withSign(x);
            c.fill();
            if (y == 15) y += int(c.get(linbits));
            y = c.withSign(y);
        } else {
            x = c.withSign(x);
            y = c.withSign(y);
        }
        out[i] = x;
        out[i + 1] = y;
        c.fill();
    }
    br.pos = c.pos;
    return i;
}

int decodeQuads(BitReader& br, int table, int* out, int room, uint32_t end) {
    WordCache c(br);
    int i = 0;
    while (i + 4 <= room && c.pos < end) {
        uint32_t q = table ? (15 - c.get(4)) : lookupCached(gQuadA, c);
        int v[4] = {int((q >> 3) & 1), int((q >> 2) & 1), int((q >> 1) & 1), int(q & 1)};
        for (int k = 0; k < 4; ++k)
            v[k] = c.withSign(v[k]);
        c.fill();
        if (c.pos > end) break; // ran past the granule's bits: dropped
        out[i] = v[0];
        out[i + 1] = v[1];
        out[i + 2] = v[2];
        out[i + 3] = v[3];
        i += 4;
    }
    br.pos = c.pos;
    return i;
}

void initHuffman() {
    std::call_once(gOnce, initOnce);
}

void decodePair(BitReader& br, int table, int& x, int& y) {
    const Decoder& d = gPair[table];
    if (d.pool.empty()) {
        x = y = 0;
        return;
    }
    uint32_t v = lookup(d, br);
    x = int(v >> 4);
    y = int(v & 15);
    int linbits = kHuffSources[table].linbits;
    if (linbits && x == 15) x += int(br.get(linbits));
    if (x && br.get(1)) x = -x;
    if (linbits && y == 15) y += int(br.get(linbits));
    if (y && br.get(1)) y = -y;
}

void decodeQuad(BitReader& br, int table, int& v, int& w, int& x, int& y) {
    uint32_t q = table ? (15 - br.get(4)) : lookup(gQuadA, br);
    v = (q >> 3) & 1;
    w = (q >> 2) & 1;
    x = (q >> 1) & 1;
    y = q & 1;
    if (v && br.get(1)) v = -v;
    if (w && br.get(1)) w = -w;
    if (x && br.get(1)) x = -x;
    if (y && br.get(1)) y = -y;
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
