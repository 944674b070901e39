#include "engine/decode/mpa_header.h"

namespace kestrel::mpa {

const int kBitrateKbps[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};

const int kSampleRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

bool parseHeader(uint32_t word, FrameHeader& h) {
    if ((word & 0xFFE00000u) != 0xFFE00000u) return false;
    h.word = word;
    h.versionBits = int((word >> 19) & 3);
    int layerBits = int((word >> 17) & 3);
    h.bitrateIndex = int((word >> 12) & 15);
    h.sampleRateIndex = int((word >> 10) & 3);
    if (h.versionBits == 1 || layerBits == 0 || h.bitrateIndex == 15 || h.sampleRateIndex == 3)
        return false;
    h.version = h.versionBits == 3 ? 0 : h.versionBits == 2 ? 1 : 2;
    h.layer = 4 - layerBits;
    h.crc = ((word >> 16) & 1) == 0;
    h.padding = int((word >> 9) & 1);
    h.privateBit = int((word >> 8) & 1);
    h.mode = int((word >> 6) & 3);
    h.modeExtension = int((word >> 4) & 3);
    h.emphasis = int(word & 3);
    h.channels = h.mode == kMono ? 1 : 2;
    h.sampleRate = kSampleRates[h.version][h.sampleRateIndex];
    h.bitrate = kBitrateKbps[h.version == 0 ? 0 : 1][h.layer - 1][h.bitrateIndex] * 1000;
    if (h.layer == 1)
        h.samplesPerFrame = 384;
    else if (h.layer == 2 || h.version == 0)
        h.samplesPerFrame = 1152;
    else
        h.samplesPerFrame = 576;
    // Layer I counts in slots of 4 bytes, Layers II and III in bytes.
    int slot = h.layer == 1 ? 4 : 1;
    h.frameBytes =
        h.bitrate == 0
            ? 0
            : slot * (h.bitrate / 8 / slot * h.samplesPerFrame / h.sampleRate + h.padding);
    h.headerBytes = h.crc ? 6 : 4;
    return true;
}

uint16_t crc16(const uint8_t* data, uint32_t start, uint32_t bits, uint16_t crc) {
    for (uint32_t i = 0; i < bits; ++i) {
        uint32_t p = start + i;
        int bit = (data[p >> 3] >> (7 - (p & 7))) & 1;
        int top = (crc >> 15) & 1;
        crc = uint16_t(crc << 1);
        if (top ^ bit) crc ^= 0x8005;
    }
    return crc;
}

} // namespace kestrel::mpa
