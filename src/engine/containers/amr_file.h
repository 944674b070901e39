// The AMR ring-tone file (AMR narrow-band storage format): the magic
// "#!AMR\n", then frames of one header byte and a body whose size follows
// from the frame type FT (bits 3..6 of the header byte). Every frame is
// 20 ms of 8000 Hz mono sound.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrel {

inline constexpr char kAmrMagic[] = "#!AMR\n";
inline constexpr int kAmrMagicBytes = 6;
inline constexpr int kAmrSampleRate = 8000;
inline constexpr int kAmrMsPerFrame = 20;

// Body bytes of a frame of type `ft` (0..15): 12, 13, 15, 17, 19, 20, 26,
// 31, 5 for FT 0..8, 0 for the rest.
int amrBodyBytes(int ft);
// Body bytes of the frame whose header byte is `header`.
inline int amrBodyBytesOf(uint8_t header) {
    return amrBodyBytes((header >> 3) & 15);
}

// What the media analysis lists of a ring-tone file.
struct AmrFileInfo {
    int32_t frameBytes = 0; // bytes of the first frame, header included
    uint64_t frames = 0;    // (file size - 6) / frameBytes
    int32_t durationSec = 0;
};

// Results of amrFileInfo.
inline constexpr int kAmrInfoOk = 0;
inline constexpr int kAmrNotRingTone = -1; // no magic, or no frame after it
inline constexpr int kAmrCannotOpen = -2;

// Reads the magic and the first frame header of the file at `path` (whose
// size is `fileSize`) and derives the frame count and duration.
int amrFileInfo(const std::string& path, uint64_t fileSize, AmrFileInfo& info);
// The same over an open stream at its start.
int amrFileInfo(FILE* f, uint64_t fileSize, AmrFileInfo& info);

} // namespace kestrel
