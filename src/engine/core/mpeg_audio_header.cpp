#include "engine/core/mpeg_audio_header.h"

namespace kestrel {

bool isMpegAudioSync(const uint8_t* p) {
    return p[0] == 0xFF && p[1] >= 0xE0 && (p[1] & 0x18) != 0x08 && (p[1] & 0x06) != 0;
}

bool parseMpegAudioHeader(uint32_t word, MpegAudioHeader& h) {
    if ((word & 0xFFE00000u) != 0xFFE00000u) return false;
    int versionBits = int((word >> 19) & 3); // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
    int layerBits = int((word >> 17) & 3);   // 3 Layer I, 2 Layer II, 1 Layer III, 0 reserved
    int bitRateIndex = int((word >> 12) & 15);
    int sampleRateIndex = int((word >> 10) & 3);
    if (versionBits == 1 || layerBits == 0 || bitRateIndex == 15 || sampleRateIndex == 3)
        return false;
    h.word = word;
    h.versionIndex = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
    h.layer = 4 - layerBits;
    h.crc = ((word >> 16) & 1) == 0;
    h.bitRateIndex = bitRateIndex;
    h.sampleRateIndex = sampleRateIndex;
    h.bitRateKbps = MPEG_BITRATES[h.versionIndex][h.layer - 1][bitRateIndex];
    h.sampleRate = MPEG_SAMPLE_RATES[h.versionIndex][sampleRateIndex];
    h.padding = int((word >> 9) & 1);
    h.privateBit = int((word >> 8) & 1);
    h.channelMode = int((word >> 6) & 3);
    h.modeExtension = int((word >> 4) & 3);
    h.copyright = int((word >> 3) & 1);
    h.original = int((word >> 2) & 1);
    h.emphasis = int(word & 3);
    h.channels = h.channelMode == kMono ? 1 : 2;
    if (h.layer == 1)
        h.samplesPerFrame = 384;
    else if (h.layer == 2 || h.versionIndex == 0)
        h.samplesPerFrame = 1152;
    else
        h.samplesPerFrame = 576;
    // Layer I counts in slots of 4 bytes, Layers II and III in bytes: a frame
    // holds samples / 8 bytes per bit/s of rate, and the padding bit adds one
    // slot.
    h.slotBytes = h.layer == 1 ? 4 : 1;
    if (h.bitRateKbps == 0)
        h.frameBytes = 0;
    else
        h.frameBytes =
            h.slotBytes *
            (h.samplesPerFrame / 8 / h.slotBytes * h.bitRateKbps * 1000 / h.sampleRate + h.padding);
    h.headerBytes = h.crc ? 6 : 4;
    if (h.layer != 3)
        h.sideInfoBytes = 0;
    else if (h.versionIndex == 0)
        h.sideInfoBytes = h.channels == 1 ? 17 : 32;
    else
        h.sideInfoBytes = h.channels == 1 ? 9 : 17;
    return true;
}

bool parseMpegAudioHeader(const uint8_t* p, MpegAudioHeader& h) {
    return parseMpegAudioHeader(mpegHeaderWord(p), h);
}

int mpegFrameBytes(const MpegAudioHeader& h, int freeBytes) {
    if (h.frameBytes > 0) return h.frameBytes;
    if (freeBytes <= 0) return 0;
    return freeBytes + h.padding * h.slotBytes;
}

int mpegFrameLength(const uint8_t* p, int freeBytes) {
    MpegAudioHeader h;
    if (!parseMpegAudioHeader(p, h)) return 0;
    return mpegFrameBytes(h, freeBytes);
}

bool sameMpegAudioStream(const uint8_t* ref, const uint8_t* p) {
    if (!isMpegAudioSync(p) || (p[1] & 0xFE) != (ref[1] & 0xFE)) return false;
    int brIndex = p[2] >> 4;
    if (brIndex == 15 || ((p[2] >> 2) & 3) == 3) return false;
    if ((brIndex == 0) != ((ref[2] >> 4) == 0)) return false;
    if ((p[3] & 0x0F) != (ref[3] & 0x0F)) return false;
    return ((p[3] >> 6) == kMono) == ((ref[3] >> 6) == kMono);
}

int confirmMpegAudioStart(const uint8_t* p, size_t avail, int& freeBytes) {
    freeBytes = 0;
    if (avail < 4) return -1;
    MpegAudioHeader h;
    if (!parseMpegAudioHeader(p, h)) return 0;
    if (h.frameBytes > 0) {
        size_t second = size_t(h.frameBytes);
        if (second + 4 > avail) return -1;
        if (!sameMpegAudioStream(p, p + second)) return 0;
        size_t third = second + size_t(mpegFrameLength(p + second, 0));
        if (third + 4 > avail) return -1;
        return sameMpegAudioStream(p, p + third) ? 1 : 0;
    }
    // Free format: the frame ends at the next header of the stream, and the
    // frame after it must have the same length (but for its padding slot).
    for (int d = kMinMpegFrameBytes; d <= kMaxMpegFrameBytes; ++d) {
        if (size_t(d) + 4 > avail) return -1;
        if (!sameMpegAudioStream(p, p + d)) continue;
        int base = d - h.padding * h.slotBytes;
        size_t third = size_t(d) + size_t(mpegFrameLength(p + d, base));
        if (third + 4 > avail) return -1;
        if (sameMpegAudioStream(p, p + third)) {
            freeBytes = base;
            return 1;
        }
    }
    return 0;
}

} // namespace kestrel
