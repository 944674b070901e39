#include "engine/core/mp3_side_info.h"

#include <cstring>

namespace kestrel {

namespace {

// Reads bits most significant first; past the end it gives zeros.
class Bits {
  public:
    Bits(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    unsigned get(int count) {
        unsigned v = 0;
        for (int i = 0; i < count; ++i, ++pos_) {
            const size_t byte = pos_ >> 3;
            const unsigned bit = byte < n_ ? (p_[byte] >> (7 - (pos_ & 7))) & 1u : 0u;
            v = (v << 1) | bit;
        }
        return v;
    }
    void skip(int count) { pos_ += static_cast<size_t>(count); }

  private:
    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
};

// The tag frame an encoder writes at the start of a stream: no main data,
// and "Xing" or "Info" where the main data would begin.
bool isTagFrame(const uint8_t* p, const Mp3ReservoirFacts& f) {
    if (f.mainDataBits != 0 || f.areaBytes < 4) return false;
    const uint8_t* t = p + f.areaOffset;
    return std::memcmp(t, "Xing", 4) == 0 || std::memcmp(t, "Info", 4) == 0;
}

} // namespace

bool readMp3Reservoir(const uint8_t* p, size_t avail, Mp3ReservoirFacts& f) {
    MpegAudioHeader h;
    if (avail < 4 || !parseMpegAudioHeader(p, h) || h.layer != 3 || h.frameBytes <= 0) return false;
    if (static_cast<size_t>(h.frameBytes) > avail) return false;
    f = Mp3ReservoirFacts();
    f.granules = h.versionIndex == 0 ? 2 : 1;
    f.channels = h.channels;
    f.areaOffset = h.headerBytes + h.sideInfoBytes;
    f.areaBytes = h.frameBytes - f.areaOffset;
    if (f.areaBytes < 0) return false;
    const bool lsf = h.versionIndex != 0;
    Bits b(p + h.headerBytes, static_cast<size_t>(h.sideInfoBytes));
    f.mainDataBegin = static_cast<int>(b.get(lsf ? 8 : 9));
    if (lsf)
        b.skip(f.channels == 1 ? 1 : 2);
    else
        b.skip(f.channels == 1 ? 5 : 3 + 4 * 2); // private bits, scfsi
    if (!lsf && f.channels == 1) b.skip(4);      // scfsi of the one channel
    for (int gr = 0; gr < f.granules; ++gr) {
        for (int ch = 0; ch < f.channels; ++ch) {
            f.mainDataBits += static_cast<int>(b.get(12)); // part2_3_length
            b.skip(9 + 8 + (lsf ? 9 : 4)); // big_values, global_gain, scalefac_compress
            if (b.get(1)) {                // window_switching_flag
                f.blockType[gr][ch] = static_cast<int>(b.get(2));
                b.skip(1 + 2 * 5 + 3 * 3);
            } else {
                b.skip(3 * 5 + 4 + 3);
            }
            b.skip(lsf ? 2 : 3); // (preflag,) scalefac_scale, count1table_select
        }
    }
    return true;
}

long checkMp3Reservoir(const uint8_t* s, size_t size) {
    size_t pos = 0;
    long index = 0;
    long long areaStart = 0; // main-data offset of the current frame's area
    long long usedEnd = 0;   // where the main data of the frames before ends
    while (pos < size) {
        Mp3ReservoirFacts f;
        if (!readMp3Reservoir(s + pos, size - pos, f)) return index;
        if (index == 0 && isTagFrame(s + pos, f)) {
            // Its bytes are the tag's, not the stream's.
            pos += static_cast<size_t>(f.areaOffset + f.areaBytes);
            ++index;
            continue;
        }
        const long long begin = areaStart - f.mainDataBegin;
        const long long end = begin + (f.mainDataBits + 7) / 8;
        if (begin < 0 || begin < usedEnd || end > areaStart + f.areaBytes) return index;
        usedEnd = end;
        areaStart += f.areaBytes;
        pos += static_cast<size_t>(f.areaOffset + f.areaBytes);
        ++index;
    }
    return -1;
}

} // namespace kestrel
