// MPEG audio frame headers (ISO/IEC 11172-3, 13818-3 and MPEG-2.5) and the
// reading of MPEG audio files: first confirmed frame, stream facts, VBR header
// and playing time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

// Facts of one 4-byte frame header.
struct MpegAudioHeader {
    int versionIndex = 0; // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int layer = 0;        // 1, 2 or 3
    int bitRateKbps = 0;  // 0: free format
    int sampleRate = 0;   // Hz
    int padding = 0;
    int channelMode = 0; // 3 is mono
    int channels = 0;
    int samplesPerFrame = 0;
    int frameBytes = 0; // 0 for free format
};

// Frame sizes the readers cut and keep. The longest frame a header can
// describe is MPEG-2.5 Layer II at 160 kbit/s and 8 kHz with its padding slot
// (2881 bytes; of the official forms, Layer II at 384 kbit/s and 32 kHz: 1729
// bytes); free-format frames are taken up to the same length, which is 640
// kbit/s for 1152-sample frames at 32 kHz. The shortest is MPEG-2 Layer III at
// 8 kbit/s and 24 kHz (24 bytes).
inline constexpr int kMaxMpegFrameBytes = 2881;
inline constexpr int kMinMpegFrameBytes = 24;

// First two bytes of a frame candidate: sync, no reserved version or layer.
// 0xFF 0xFF is a header too: MPEG-1 Layer I without CRC.
bool isMpegAudioSync(const uint8_t* p);
// Parses a header; false for a bad sync, reserved version/layer, bit-rate
// index 15 or sampling-rate index 3.
bool parseMpegAudioHeader(const uint8_t* p, MpegAudioHeader& out);

// Whether the 4 bytes at `p` are a usable header of the stream whose header
// is `ref`: the same version and layer (the protection bit may change), both
// free format or neither, and the same copyright, original and emphasis bits
// and channel count (stereo and joint stereo alternate freely). Bit rate,
// padding and mode extension change from frame to frame; the sampling rate is
// not compared either.
bool sameMpegAudioStream(const uint8_t* ref, const uint8_t* p);

// Length of the frame whose header is at `p` in a free-format stream whose
// frames without padding are `freeBytes` long; the header's own length
// otherwise. 0 when the header does not parse.
int mpegFrameLength(const uint8_t* p, int freeBytes);

// Confirms the header candidate at `p` (with `avail` bytes from it): two
// further headers of the same stream must follow, each where the frame before
// it ends. A free-format frame is measured by the distance to the next header
// (kMinMpegFrameBytes .. kMaxMpegFrameBytes) and the measure must hold for
// the frame after it. Returns 1 (confirmed; `freeBytes` gets the free-format
// frame length without padding, 0 for other streams), 0 (not a start), -1
// (more bytes are needed to decide).
int confirmMpegAudioStart(const uint8_t* p, size_t avail, int& freeBytes);

enum VbrKind { kVbrNone = 0, kVbrVbri = 1, kVbrXing = 2 };

struct MpegAudioFileInfo {
    int64_t firstFrame = -1; // offset of the first confirmed frame header
    int sampleRate = 0;
    int channels = 0;
    int vbrKind = kVbrNone;
    int versionIndex = 0;
    int layer = 0;
    int bitRateKbps = 0;
    uint32_t vbrFrames = 0;
    int freeFrameBytes = 0; // free format: measured frame length without padding
    uint32_t durationSec = 0;
    uint64_t fileSize = 0;
};

// Offset of the first header candidate confirmed by two further headers of
// the same stream, each where the frame before it ends, or -1.
int findFrameSync(const uint8_t* bytes, size_t length);

// Reads the head of an MPEG audio file. Returns the offset of the first
// confirmed frame header, or -1 (cannot open / fewer than 500 bytes),
// -2 (no frame sync), -3 (no confirming header). Shows no messages.
int64_t mpegAudioInfo(const std::string& path, MpegAudioFileInfo& info);

// As mpegAudioInfo for the players and the conversion driver: returns the
// version index (0, 1, 2), or -1 (cannot open), -2 / -3 after a message box.
int mpegAudioStart(const std::string& path, int64_t& firstFrame, int& vbrKind);

} // namespace kestrel
