// The ADPCM sound of Flash files (SWF sound tags, FLV audio tags) and the
// IMA ADPCM blocks of AMV files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Flash ADPCM: a 2-bit code size field (codes of 2 to 5 bits), then packets
// of up to 4096 samples per channel, each starting with a 16-bit sample and
// a 6-bit step index per channel. The decoder keeps its place between calls,
// so one sound can be decoded in pieces into a small buffer.
class FlashAdpcmDecoder {
  public:
    // Starts decoding `size` bytes at `data` (kept, not copied) with
    // `channels` (1 or 2) interleaved channels.
    void begin(const uint8_t* data, size_t size, int channels);
    // Writes up to `capacity` 16-bit samples (all channels together, whole
    // sample frames) and returns how many; 0 at the end of the data.
    size_t decode(int16_t* out, size_t capacity);
    // Packets of 4096 samples per channel in the data (the last may be
    // shorter), and a jump to the start of packet `i`.
    size_t packets() const;
    void seekPacket(size_t i);

  private:
    size_t packetBits() const;
    uint32_t bits(int n);
    size_t bitsLeft() const { return totalBits_ - bitPos_; }

    const uint8_t* data_ = nullptr;
    size_t totalBits_ = 0;
    size_t bitPos_ = 0;
    int channels_ = 1;
    int codeBits_ = 0;
    int leftInPacket_ = 0; // samples per channel still to come in this packet
    int32_t predictor_[2] = {0, 0};
    int index_[2] = {0, 0};
};

// Decodes one whole Flash ADPCM sound (an FLV tag's payload); returns the
// samples written, at most `capacity`.
size_t decodeFlashAdpcm(const uint8_t* data, size_t size, int channels, int16_t* out,
                        size_t capacity);

// One AMV audio block: 16-bit predictor, 16-bit step index, the 32-bit
// sample count, then two 4-bit IMA codes per byte, high nibble first (mono).
// Returns the samples written: 2 x (size - 8), or the stated count when it
// is smaller, at most `capacity`.
size_t decodeAmvBlock(const uint8_t* data, size_t size, int16_t* out, size_t capacity);

} // namespace kestrel
