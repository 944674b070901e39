#include "engine/core/exe_layout.h"

#include <cstring>

namespace kestrel::exe {

namespace {

struct CrcTable {
    uint32_t v[256];
    constexpr CrcTable() : v() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int b = 0; b < 8; ++b)
                c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            v[i] = c;
        }
    }
};
constexpr CrcTable kCrc;

// DES tables (bit 1 is the most significant bit of the input).
constexpr uint8_t kIp[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                             62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                             57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                             61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr uint8_t kFp[64] = {40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
                             38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
                             36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
                             34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
constexpr uint8_t kE[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                            12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                            22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                              10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                              63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                              14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Output bit i (1-based from the top of `outBits`) = input bit table[i]
// (1-based from the top of `inBits`).
uint64_t permute(uint64_t in, const uint8_t* table, int outBits, int inBits) {
    uint64_t out = 0;
    for (int i = 0; i < outBits; ++i)
        out = (out << 1) | ((in >> (inBits - table[i])) & 1u);
    return out;
}

uint32_t feistel(uint32_t r, uint64_t subkey) {
    uint64_t x = permute(r, kE, 48, 32) ^ subkey;
    uint32_t s = 0;
    for (int box = 0; box < 8; ++box) {
        unsigned six = static_cast<unsigned>((x >> (42 - 6 * box)) & 0x3F);
        unsigned row = ((six & 0x20) >> 4) | (six & 1);
        unsigned col = (six >> 1) & 0xF;
        s = (s << 4) | kS[box][row * 16 + col];
    }
    return static_cast<uint32_t>(permute(s, kP, 32, 32));
}

uint64_t desRun(const DesKey& k, uint64_t block, bool decrypt) {
    uint64_t ip = permute(block, kIp, 64, 64);
    uint32_t l = static_cast<uint32_t>(ip >> 32), r = static_cast<uint32_t>(ip);
    for (int round = 0; round < 16; ++round) {
        uint32_t next = l ^ feistel(r, k.subkeys[decrypt ? 15 - round : round]);
        l = r;
        r = next;
    }
    uint64_t pre = (static_cast<uint64_t>(r) << 32) | l;
    return permute(pre, kFp, 64, 64);
}

// The program's three descriptor keys.
constexpr uint8_t kDescriptorKeys[3][8] = {{0x6B, 0x65, 0x73, 0x74, 0x72, 0x65, 0x6C, 0x21},
                                           {0x3A, 0xC5, 0x91, 0x0E, 0x7D, 0x28, 0xB4, 0x53},
                                           {0xE2, 0x17, 0x4F, 0x86, 0x5B, 0xD9, 0x30, 0xAC}};

const DesKey* descriptorKeys() {
    static const struct Keys {
        DesKey k[3];
        Keys() {
            for (int i = 0; i < 3; ++i)
                desSetKey(k[i], kDescriptorKeys[i]);
        }
    } keys;
    return keys.k;
}

uint64_t loadBe64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << 8) | p[i];
    return v;
}
void storeBe64(uint8_t* p, uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8)
        p[i] = static_cast<uint8_t>(v);
}
void storeLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// Offsets of the descriptor.
constexpr int kAtMaskedBytes = 2, kAtSeconds = 6, kAtPeriod = 12, kAtSpeed = 14, kAtPasswordOn = 18,
              kAtPassword = 22, kAtKeyA = 38, kAtKeyB = 39, kAtDescription = 40, kAtLayout = 240,
              kAtRate = 296, kAtVersion = 300, kAtVariable = 304, kAtChannels = 308, kAtKeyC = 309,
              kAtPlayerCrc = 312, kAtDataCrc = 316;

} // namespace

uint32_t crc32Mpeg2(uint32_t crc, const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i)
        crc = (crc << 8) ^ kCrc.v[((crc >> 24) ^ bytes[i]) & 0xFF];
    return crc;
}

uint32_t crc32Mpeg2Zeros(uint32_t crc, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i)
        crc = (crc << 8) ^ kCrc.v[(crc >> 24) & 0xFF];
    return crc;
}

void desSetKey(DesKey& k, const uint8_t key[8]) {
    uint64_t cd = permute(loadBe64(key), kPc1, 56, 64);
    uint32_t c = static_cast<uint32_t>(cd >> 28) & 0x0FFFFFFF,
             d = static_cast<uint32_t>(cd) & 0x0FFFFFFF;
    for (int round = 0; round < 16; ++round) {
        for (int s = 0; s < kShifts[round]; ++s) {
            c = ((c << 1) | (c >> 27)) & 0x0FFFFFFF;
            d = ((d << 1) | (d >> 27)) & 0x0FFFFFFF;
        }
        k.subkeys[round] = permute((static_cast<uint64_t>(c) << 28) | d, kPc2, 48, 56);
    }
}

uint64_t desEncrypt(const DesKey& k, uint64_t block) {
    return desRun(k, block, false);
}
uint64_t desDecrypt(const DesKey& k, uint64_t block) {
    return desRun(k, block, true);
}

void drawKeys(Scramble& s, int (*draw)()) {
    for (auto& key : s.keys) {
        int v = draw() % 256;
        if (v == 0) v = draw() % 256; // the second draw is taken as it comes
        key = static_cast<uint8_t>(v);
    }
    int period = draw() % 400;
    if (period < 80) period += 64;
    s.period = period;
    s.maskedBytes = 0;
    s.pcmBytes = 0;
    s.dataCrc = kCrcInit;
    s.layout[0] = static_cast<int32_t>(kDataOffset);
    s.layout[1] = 0;
    s.layout[2] = static_cast<int32_t>(kDataOffset);
    s.layout[3] = 0;
}

uint8_t maskKey(const uint8_t keys[5], int32_t period, uint32_t q) {
    uint32_t r = q % static_cast<uint32_t>(period > 0 ? period : 64);
    if (r < 16) return keys[1];
    if (r < 32) return keys[2];
    if (r < 48) return keys[3];
    if (r < 64) return keys[4];
    return keys[0];
}

void maskBytes(const uint8_t keys[5], int32_t period, uint32_t position, uint8_t* bytes,
               size_t length) {
    for (size_t i = 0; i < length; ++i)
        bytes[i] ^= maskKey(keys, period, position + static_cast<uint32_t>(i));
}

void buildDescriptor(const Descriptor& d, uint8_t out[kDescriptorBytes]) {
    std::memset(out, 0, kDescriptorBytes);
    out[0] = 0x16;
    out[1] = 0x58;
    storeLe32(out + kAtMaskedBytes, d.maskedBytes);
    storeLe32(out + kAtSeconds, d.seconds);
    out[10] = 0;
    out[11] = 100;
    out[kAtPeriod] = static_cast<uint8_t>(d.period >> 8);
    out[kAtPeriod + 1] = static_cast<uint8_t>(d.period);
    storeLe32(out + kAtSpeed, static_cast<uint32_t>(d.speedControl));
    storeLe32(out + kAtPasswordOn, static_cast<uint32_t>(d.passwordOn));
    std::memcpy(out + kAtPassword, d.password.data(),
                d.password.size() < kPasswordBytes ? d.password.size() : kPasswordBytes);
    out[kAtKeyA] = d.keys[0];
    out[kAtKeyB] = d.keys[1];
    std::memcpy(out + kAtDescription, d.description.data(),
                d.description.size() < kDescriptionBytes ? d.description.size()
                                                         : kDescriptionBytes);
    // The layout values in the order third, fourth, first, second.
    storeLe32(out + kAtLayout, static_cast<uint32_t>(d.layout[2]));
    storeLe32(out + kAtLayout + 4, static_cast<uint32_t>(d.layout[3]));
    storeLe32(out + kAtLayout + 8, static_cast<uint32_t>(d.layout[0]));
    storeLe32(out + kAtLayout + 12, static_cast<uint32_t>(d.layout[1]));
    storeLe32(out + kAtRate, static_cast<uint32_t>(d.outRate));
    storeLe32(out + kAtVersion, static_cast<uint32_t>(d.mpegVersion));
    storeLe32(out + kAtVariable, static_cast<uint32_t>(d.variableRate));
    out[kAtChannels] = d.channels;
    out[kAtKeyC] = d.keys[2];
    out[kAtKeyC + 1] = d.keys[3];
    out[kAtKeyC + 2] = d.keys[4];
    storeLe32(out + kAtPlayerCrc, d.playerCrc);
    storeLe32(out + kAtDataCrc, d.dataCrc);
}

int parseDescriptor(const uint8_t in[kDescriptorBytes], Descriptor& d) {
    if (in[0] != 0x16 || in[1] != 0x58) return -1;
    d.maskedBytes = readLe32(in + kAtMaskedBytes);
    d.seconds = readLe32(in + kAtSeconds);
    d.period = (in[kAtPeriod] << 8) | in[kAtPeriod + 1];
    d.speedControl = static_cast<int32_t>(readLe32(in + kAtSpeed));
    d.passwordOn = static_cast<int32_t>(readLe32(in + kAtPasswordOn));
    const char* pw = reinterpret_cast<const char*>(in + kAtPassword);
    d.password.assign(pw, strnlen(pw, 16));
    d.keys[0] = in[kAtKeyA];
    d.keys[1] = in[kAtKeyB];
    const char* desc = reinterpret_cast<const char*>(in + kAtDescription);
    d.description.assign(desc, strnlen(desc, 200));
    d.layout[2] = static_cast<int32_t>(readLe32(in + kAtLayout));
    d.layout[3] = static_cast<int32_t>(readLe32(in + kAtLayout + 4));
    d.layout[0] = static_cast<int32_t>(readLe32(in + kAtLayout + 8));
    d.layout[1] = static_cast<int32_t>(readLe32(in + kAtLayout + 12));
    d.outRate = static_cast<int32_t>(readLe32(in + kAtRate));
    d.mpegVersion = static_cast<int32_t>(readLe32(in + kAtVersion));
    d.variableRate = static_cast<int32_t>(readLe32(in + kAtVariable));
    d.channels = in[kAtChannels];
    d.keys[2] = in[kAtKeyC];
    d.keys[3] = in[kAtKeyC + 1];
    d.keys[4] = in[kAtKeyC + 2];
    d.playerCrc = readLe32(in + kAtPlayerCrc);
    d.dataCrc = readLe32(in + kAtDataCrc);
    if (d.period < 64 || d.period > 399) return -1;
    if (d.channels != 1 && d.channels != 2) return -1;
    if (d.outRate < 8000 || d.outRate > 48000) return -1;
    if ((d.speedControl != 0 && d.speedControl != 1) || (d.passwordOn != 0 && d.passwordOn != 1))
        return -1;
    if (d.mpegVersion < 0 || d.mpegVersion > 2) return -1;
    return 0;
}

void encipherDescriptor(uint8_t bytes[kDescriptorBytes]) {
    const DesKey* k = descriptorKeys();
    for (uint32_t at = 0; at < kDescriptorBytes; at += 8) {
        uint64_t v = loadBe64(bytes + at);
        for (int i = 0; i < 3; ++i)
            v = desEncrypt(k[i], v);
        storeBe64(bytes + at, v);
    }
}

void decipherDescriptor(uint8_t bytes[kDescriptorBytes]) {
    const DesKey* k = descriptorKeys();
    for (uint32_t at = 0; at < kDescriptorBytes; at += 8) {
        uint64_t v = loadBe64(bytes + at);
        for (int i = 2; i >= 0; --i)
            v = desDecrypt(k[i], v);
        storeBe64(bytes + at, v);
    }
}

} // namespace kestrel::exe
