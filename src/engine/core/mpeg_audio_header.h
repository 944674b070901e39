// The MPEG audio frame header (ISO/IEC 11172-3 2.4.2.3, ISO/IEC 13818-3
// 2.4.2.3, with the MPEG-2.5 extension of the lower sampling frequencies): the
// standard's tables, the parse with every fact derived from the header, stream
// matching and the confirmation of a stream start. The frame parser, the
// demultiplexer, the decoders, the gapless reader, the settings and the
// stream-probe library all read headers through this one module; it depends on
// nothing but the standard library so that the probe library can link it alone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// kbit/s, [version MPEG-1, MPEG-2, MPEG-2.5][layer I, II, III][index 0..15];
// index 0 (free format) and 15 are 0; MPEG-2.5 equals MPEG-2.
inline constexpr int MPEG_BITRATES[3][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};

// Hz, [version][sampling-rate index 0..3]; index 3 is reserved (0).
inline constexpr int MPEG_SAMPLE_RATES[3][4] = {
    {44100, 48000, 32000, 0},
    {22050, 24000, 16000, 0},
    {11025, 12000, 8000, 0},
};

enum MpegChannelMode { kStereo = 0, kJointStereo = 1, kDualChannel = 2, kMono = 3 };

// Frame sizes the readers cut and keep. The longest frame a header can
// describe is MPEG-2.5 Layer II at 160 kbit/s and 8 kHz with its padding slot
// (2881 bytes; of the official forms, Layer II at 384 kbit/s and 32 kHz: 1729
// bytes); free-format frames are taken up to the same length, which is 640
// kbit/s for 1152-sample frames at 32 kHz. The shortest is MPEG-2 Layer III at
// 8 kbit/s and 24 kHz (24 bytes).
inline constexpr int kMaxMpegFrameBytes = 2881;
inline constexpr int kMinMpegFrameBytes = 24;

// Facts of one 4-byte frame header.
struct MpegAudioHeader {
    uint32_t word = 0;    // the 32 header bits
    int versionIndex = 0; // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int layer = 0;        // 1, 2 or 3
    bool crc = false;     // a CRC word follows the header
    int bitRateIndex = 0; // 0: free format
    int sampleRateIndex = 0;
    int bitRateKbps = 0; // 0: free format
    int sampleRate = 0;  // Hz
    int padding = 0;     // padding bit
    int privateBit = 0;
    int channelMode = 0; // MpegChannelMode
    int modeExtension = 0;
    int copyright = 0;
    int original = 0;
    int emphasis = 0;
    int channels = 0; // 1 for single channel, else 2
    int samplesPerFrame = 0;
    int slotBytes = 0;     // 4 for Layer I, else 1: the padding adds one slot
    int frameBytes = 0;    // whole frame, header included; 0 for free format
    int headerBytes = 0;   // 4, or 6 with the CRC word
    int sideInfoBytes = 0; // Layer III side information; 0 for Layers I and II
};

// The 32 header bits at `p`, most significant byte first.
inline uint32_t mpegHeaderWord(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// First two bytes of a frame candidate: sync, no reserved version or layer.
// 0xFF 0xFF is a header too: MPEG-1 Layer I without CRC.
bool isMpegAudioSync(const uint8_t* p);

// Parses a header; false for a bad sync, reserved version or layer, bit-rate
// index 15 or sampling-rate index 3. Free format (bit-rate index 0) is
// accepted with frameBytes 0.
bool parseMpegAudioHeader(uint32_t word, MpegAudioHeader& out);
bool parseMpegAudioHeader(const uint8_t* p, MpegAudioHeader& out);

// Length of a frame with header `h`: its own length, or in a free-format
// stream whose frames without padding are `freeBytes` long, that plus the
// padding slot. 0 for a free-format frame of unknown length.
int mpegFrameBytes(const MpegAudioHeader& h, int freeBytes);

// The same for the header at `p`; 0 when the header does not parse.
int mpegFrameLength(const uint8_t* p, int freeBytes);

// Whether the 4 bytes at `p` are a usable header of the stream whose header
// is `ref`: the same version and layer (the protection bit may change), both
// free format or neither, and the same copyright, original and emphasis bits
// and channel count (stereo and joint stereo alternate freely). Bit rate,
// padding and mode extension change from frame to frame; the sampling rate is
// not compared either.
bool sameMpegAudioStream(const uint8_t* ref, const uint8_t* p);

// Confirms the header candidate at `p` (with `avail` bytes from it): two
// further headers of the same stream must follow, each where the frame before
// it ends. A free-format frame is measured by the distance to the next header
// (kMinMpegFrameBytes .. kMaxMpegFrameBytes) and the measure must hold for
// the frame after it. Returns 1 (confirmed; `freeBytes` gets the free-format
// frame length without padding, 0 for other streams), 0 (not a start), -1
// (more bytes are needed to decide).
int confirmMpegAudioStart(const uint8_t* p, size_t avail, int& freeBytes);

} // namespace kestrel
