// Stream facts of raw AAC files (ADIF or ADTS, possibly behind an ID3v2 tag)
// for the media analysis: MPEG version, object type, channels, sampling rate,
// bit rate and playing time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrel {

// The information record, cleared before each analysis.
struct AacInfo {
    int32_t version = 0;      // 2 (MPEG-2 AAC) or 4 (MPEG-4 AAC); 0 for ADIF
    int32_t channels = 0;     // channel configuration of ADTS; 0 for ADIF
    int32_t samplingRate = 0; // Hz
    int32_t bitRate = 0;      // bits per second; 0 when no whole frame was found
    int32_t lengthMs = 0;     // whole seconds x 1000 (ADTS only)
    int32_t objectType = 0;   // the object type field (profile), 0..3
    int32_t headerType = 0;   // kAacNoHeader, kAacAdif or kAacAdts
};

inline constexpr int32_t kAacNoHeader = 0;
inline constexpr int32_t kAacAdif = 1;
inline constexpr int32_t kAacAdts = 2;

// ADTS frames per entry of the seek table.
inline constexpr int kAacSeekGroup = 43;

// Results of aacStreamInfo.
inline constexpr int kAacInfoOk = 0;
inline constexpr int kAacInfoUnreadable = -1; // cannot open, or the ID3 tag cannot be skipped
inline constexpr int kAacInfoBadHeader = -2;  // sampling index 12..15, or an ADIF header cut short

// The sampling rate of an index of the AAC standard (0..11), else 0.
int32_t aacSamplingRate(int index);

// Reads the stream facts of the AAC file at `path`. A file that is neither
// ADIF nor ADTS gives the defaults (MPEG-2, 2 channels, 44100 Hz,
// 128000 bit/s, headerType 0). `seekTable` (may be null) receives the file
// position of the first frame of every group of 43 ADTS frames.
int aacStreamInfo(const std::string& path, AacInfo& info,
                  std::vector<int64_t>* seekTable = nullptr);
// The same over an open stream, read from its current position to its end.
int aacStreamInfo(FILE* f, AacInfo& info, std::vector<int64_t>* seekTable = nullptr);

// Whether the file at `path` is a raw AAC stream by its content: "ADIF" at
// its start, or an ADTS header there followed by two more of the same rate
// and channels, each where the frame before ends (or frames that end with
// the file), behind an ID3v2 tag if there is one. Frames may be of any size
// a header allows, however small.
bool beginsAacStream(const std::string& path);

} // namespace kestrel
