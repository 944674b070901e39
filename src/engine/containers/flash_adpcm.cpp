#include "engine/containers/flash_adpcm.h"

#include <algorithm>

namespace kestrel {

namespace {

const int16_t kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Index changes by code size (2 to 5 bits), indexed by the magnitude bits.
const int8_t kSwfIndexTables[4][16] = {
    {-1, 2},
    {-1, -1, 2, 4},
    {-1, -1, -1, -1, 2, 4, 6, 8},
    {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16},
};

const int8_t kImaIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

int16_t clip16(int32_t v) {
    return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}

int clipIndex(int i) {
    return std::clamp(i, 0, 88);
}

} // namespace

void FlashAdpcmDecoder::begin(const uint8_t* data, size_t size, int channels) {
    data_ = data;
    totalBits_ = data ? size * 8 : 0;
    bitPos_ = 0;
    channels_ = channels == 2 ? 2 : 1;
    codeBits_ = totalBits_ >= 2 ? static_cast<int>(bits(2)) + 2 : 0;
    leftInPacket_ = 0;
}

size_t FlashAdpcmDecoder::packetBits() const {
    return static_cast<size_t>(channels_) * (22 + 4095 * static_cast<size_t>(codeBits_));
}

size_t FlashAdpcmDecoder::packets() const {
    if (codeBits_ == 0 || totalBits_ < 2) return 0;
    const size_t bits = totalBits_ - 2;
    // A last packet counts when it holds at least its header.
    const size_t tail = bits % packetBits();
    return bits / packetBits() + (tail >= 22 * static_cast<size_t>(channels_) ? 1 : 0);
}

void FlashAdpcmDecoder::seekPacket(size_t i) {
    if (codeBits_ == 0) return;
    const size_t pos = 2 + i * packetBits();
    bitPos_ = pos < totalBits_ ? pos : totalBits_;
    leftInPacket_ = 0;
}

uint32_t FlashAdpcmDecoder::bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
        const size_t p = bitPos_++;
        v = (v << 1) | ((data_[p >> 3] >> (7 - (p & 7))) & 1);
    }
    return v;
}

size_t FlashAdpcmDecoder::decode(int16_t* out, size_t capacity) {
    if (codeBits_ == 0) return 0;
    const int ch = channels_;
    const size_t frame = static_cast<size_t>(ch);
    size_t written = 0;
    const int k0 = 1 << (codeBits_ - 2);
    const uint32_t signMask = 1u << (codeBits_ - 1);
    const int8_t* table = kSwfIndexTables[codeBits_ - 2];
    while (written + frame <= capacity) {
        if (leftInPacket_ == 0) {
            if (bitsLeft() < 22 * frame) break;
            for (int c = 0; c < ch; ++c) {
                predictor_[c] = static_cast<int16_t>(bits(16));
                index_[c] = static_cast<int>(bits(6));
                out[written++] = static_cast<int16_t>(predictor_[c]);
            }
            leftInPacket_ = 4095;
            continue;
        }
        if (bitsLeft() < static_cast<size_t>(codeBits_) * frame) {
            leftInPacket_ = 0;
            // What is left cannot hold another packet either.
            if (bitsLeft() < 22 * frame) break;
            continue;
        }
        for (int c = 0; c < ch; ++c) {
            const uint32_t code = bits(codeBits_);
            int step = kStepTable[index_[c]];
            int32_t diff = 0;
            for (int k = k0; k; k >>= 1) {
                if (code & k) diff += step;
                step >>= 1;
            }
            diff += step;
            predictor_[c] = clip16((code & signMask) ? predictor_[c] - diff : predictor_[c] + diff);
            index_[c] = clipIndex(index_[c] + table[code & ~signMask]);
            out[written++] = static_cast<int16_t>(predictor_[c]);
        }
        --leftInPacket_;
    }
    return written;
}

size_t decodeFlashAdpcm(const uint8_t* data, size_t size, int channels, int16_t* out,
                        size_t capacity) {
    FlashAdpcmDecoder d;
    d.begin(data, size, channels);
    return d.decode(out, capacity);
}

size_t decodeAmvBlock(const uint8_t* data, size_t size, int16_t* out, size_t capacity) {
    if (size < 8) return 0;
    int32_t predictor = static_cast<int16_t>(data[0] | (data[1] << 8));
    int index = clipIndex(static_cast<int16_t>(data[2] | (data[3] << 8)));
    // The block states its sample count; the codes may hold one more (an
    // odd count leaves the last low nibble unused).
    const uint32_t stated = uint32_t(data[4]) | (uint32_t(data[5]) << 8) |
                            (uint32_t(data[6]) << 16) | (uint32_t(data[7]) << 24);
    size_t count = 2 * (size - 8);
    if (stated > 0 && stated < count) count = stated;
    capacity = std::min(capacity, count);
    size_t written = 0;
    for (size_t i = 8; i < size && written < capacity; ++i) {
        const int nibbles[2] = {data[i] >> 4, data[i] & 15};
        for (int nibble : nibbles) {
            if (written == capacity) break;
            const int step = kStepTable[index];
            const int delta = nibble & 7;
            const int32_t diff = ((2 * delta + 1) * step) >> 3;
            predictor = clip16((nibble & 8) ? predictor - diff : predictor + diff);
            index = clipIndex(index + kImaIndexTable[nibble]);
            out[written++] = static_cast<int16_t>(predictor);
        }
    }
    return written;
}

} // namespace kestrel
