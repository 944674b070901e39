// MPEG audio frame header (ISO/IEC 11172-3 2.4.2.3, ISO/IEC 13818-3 2.4.2.3,
// with the MPEG-2.5 extension of the lower sampling frequencies).
#pragma once

#include <cstdint>

namespace kestrel::mpa {

enum ChannelMode { kStereo = 0, kJointStereo = 1, kDualChannel = 2, kMono = 3 };

struct FrameHeader {
    uint32_t word = 0;   // the 32 header bits
    int versionBits = 0; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5 (1 reserved)
    int version = 0;     // version index: 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int layer = 0;       // 1, 2 or 3
    bool crc = false;    // a CRC word follows the header
    int bitrateIndex = 0;
    int sampleRateIndex = 0;
    int padding = 0;
    int privateBit = 0;
    int mode = 0;
    int modeExtension = 0;
    int emphasis = 0;
    int channels = 0;   // 1 for single channel, else 2
    int sampleRate = 0; // Hz
    int bitrate = 0;    // bits per second (0 for free format)
    int samplesPerFrame = 0;
    int frameBytes = 0;  // whole frame, header included (0 for free format)
    int headerBytes = 0; // 4, or 6 with CRC
};

// Bit rates in kbit/s: [MPEG-1 ? 0 : 1][layer - 1][index].
extern const int kBitrateKbps[2][3][16];
// Sample rates in Hz: [version index][index].
extern const int kSampleRates[3][3];

// Decodes the header word; returns false for a word that is not a usable
// header: no sync, reserved version or layer, bit-rate index 15 or sampling
// index 3. Free format (bit-rate index 0) is accepted with frameBytes 0.
bool parseHeader(uint32_t word, FrameHeader& h);

inline uint32_t headerWord(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// CRC-16 of ISO/IEC 11172-3 (generator 0x8005) over `bits` bits of `data`
// starting at bit `start`, continuing from `crc`.
uint16_t crc16(const uint8_t* data, uint32_t start, uint32_t bits, uint16_t crc = 0xFFFF);

} // namespace kestrel::mpa
