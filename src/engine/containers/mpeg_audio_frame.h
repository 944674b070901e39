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

// First two bytes of a frame candidate: sync, no reserved version or layer.
bool isMpegAudioSync(const uint8_t* p);
// Parses a header; false for a bad sync, reserved version/layer, bit-rate
// index 15 or sampling-rate index 3.
bool parseMpegAudioHeader(const uint8_t* p, MpegAudioHeader& out);

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
    uint32_t durationSec = 0;
    uint64_t fileSize = 0;
};

// Offset of the first header candidate confirmed by two further matching
// headers at an equal spacing, or -1.
int findFrameSync(const uint8_t* bytes, size_t length);

// Reads the head of an MPEG audio file. Returns the offset of the first
// confirmed frame header, or -1 (cannot open / fewer than 500 bytes),
// -2 (no frame sync), -3 (no confirming header). Shows no messages.
int64_t mpegAudioInfo(const std::string& path, MpegAudioFileInfo& info);

// As mpegAudioInfo for the players and the conversion driver: returns the
// version index (0, 1, 2), or -1 (cannot open), -2 / -3 after a message box.
int mpegAudioStart(const std::string& path, int64_t& firstFrame, int& vbrKind);

} // namespace kestrel
