// Bit reader of the MPEG audio decoders.
//
// The data is read as 16-bit big-endian words with a bit offset, so that any
// field of up to 16 bits needs at most two word reads. The reader never looks
// past the end it was given: words beyond it read as zero, and `overrun()`
// tells whether a read went past the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::mpa {

struct BitReader {
    const uint8_t* data = nullptr;
    uint32_t sizeBits = 0; // readable bits
    uint32_t pos = 0;      // current bit position

    void reset(const uint8_t* bytes, size_t sizeBytes, uint32_t startBit = 0) {
        data = bytes;
        sizeBits = static_cast<uint32_t>(sizeBytes * 8);
        pos = startBit;
    }

    // The 16-bit word number `w`, zero beyond the data.
    uint32_t word(uint32_t w) const {
        uint32_t byte = w * 2;
        uint32_t sizeBytes = sizeBits >> 3;
        if (byte + 1 < sizeBytes) return (uint32_t(data[byte]) << 8) | data[byte + 1];
        if (byte < sizeBytes) return uint32_t(data[byte]) << 8;
        return 0;
    }

    // The two words from word number w on, as one 32-bit value.
    uint32_t twoWords(uint32_t w) const {
        uint32_t byte = w * 2;
        if (byte + 4 <= (sizeBits >> 3)) {
            const uint8_t* p = data + byte;
            return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        }
        return (word(w) << 16) | word(w + 1);
    }

    // The next n bits (0 <= n <= 16) without consuming them.
    uint32_t peek(int n) const {
        if (n == 0) return 0;
        return (twoWords(pos >> 4) << (pos & 15)) >> (32 - n);
    }
    void skip(uint32_t n) { pos += n; }
    uint32_t get(int n) {
        uint32_t v = peek(n);
        pos += n;
        return v;
    }
    // Up to 32 bits in two steps.
    uint32_t getLong(int n) {
        if (n <= 16) return get(n);
        uint32_t hi = get(n - 16);
        return (hi << 16) | get(16);
    }
    bool overrun() const { return pos > sizeBits; }
};

} // namespace kestrel::mpa
