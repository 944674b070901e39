// The reading of MPEG audio files: first confirmed frame, stream facts, VBR
// header and playing time. The frame header itself (tables, parse, stream
// matching and start confirmation) is the core layer's.
#pragma once

#include "engine/core/mpeg_audio_header.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

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
