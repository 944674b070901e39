// Layer III Huffman decoding (ISO/IEC 11172-3, 2.4.3.4.6 and Annex B.7).
#pragma once

#include "engine/decode/mpa_bits.h"

#include <cstdint>

namespace kestrel::mpa {

// Code words and lengths of one table, pairs in the order x * ysize + y.
struct HuffSource {
    const uint16_t* codes;
    const uint8_t* lengths;
    int ysize;   // values per dimension (0: table not used)
    int linbits; // extra bits for values of 15
};

extern const HuffSource kHuffSources[32];
extern const HuffSource kQuadSourceA;

// Builds the decoding tables once (thread-safe, idempotent).
void initHuffman();

// Decodes one pair (x, y) with table `table` (1..31, not 4 or 14), signs and
// linbits included. Table 0 gives (0, 0) without reading.
void decodePair(BitReader& br, int table, int& x, int& y);

// Decodes the pairs of lines [0, count) of one region into out (count even)
// with table `table`, stopping early once the reader is past `end`; returns
// the number of lines decoded.
int decodePairs(BitReader& br, int table, int* out, int count, uint32_t end);

// Decodes count1 quadruples into out (at most `room` lines, a multiple of 4)
// while the reader is before `end`; a quadruple that runs past `end` is
// dropped. Returns the number of lines decoded.
int decodeQuads(BitReader& br, int table, int* out, int room, uint32_t end);

// Decodes one count1 quadruple with table A (0) or B (1), signs included.
void decodeQuad(BitReader& br, int table, int& v, int& w, int& x, int& y);

// True when every table is a complete prefix code (sum of 2^-length is 1).
bool huffmanTablesComplete();

} // namespace kestrel::mpa
