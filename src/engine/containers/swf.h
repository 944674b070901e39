// SWF movies: the sound tags of a movie held in memory (the file, or the
// inflated body of a compressed "CWS" movie) and the format of its sound.
//
// Nothing read from the movie is trusted: the frame rectangle, every tag
// length and the body of every sound tag are checked against the data there;
// a tag that runs past the end ends the walk with what was indexed so far.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// The most sound tags a movie's index holds (the count stays below 100,000).
inline constexpr size_t kSwfSoundIndexMax = 99999;

inline constexpr int kSwfDefineSound = 14;
inline constexpr int kSwfSoundStreamHead = 18;
inline constexpr int kSwfSoundStreamBlock = 19;
inline constexpr int kSwfDefineSprite = 39;
inline constexpr int kSwfSoundStreamHead2 = 45;

// SWF sound formats the readers decode.
inline constexpr int kSwfPcm = 0;
inline constexpr int kSwfAdpcm = 1;
inline constexpr int kSwfMp3 = 2;
inline constexpr int kSwfPcmLe = 3; // uncompressed, little-endian

// The sound formats the SWF reader decodes itself; a movie of another
// format is decoded by the media graph where it can.
constexpr bool swfSoundDecoded(int format) {
    return format == kSwfPcm || format == kSwfAdpcm || format == kSwfMp3 || format == kSwfPcmLe;
}

// Name of a tag code ("" for codes without a name and above 63).
const char* swfTagName(int code);

// One sound tag: where its body lies in the movie data.
struct SwfSoundEntry {
    size_t offset = 0; // of the tag body in SwfMovie::data
    size_t length = 0;
    int code = 0;         // 14 or 19
    int characterId = -1; // of a DefineSound; -1 for a stream block
    int timeline = 0;     // 0 the movie's own, n the n-th DefineSprite's
};

struct SwfSoundFormat {
    bool present = false;
    int rate = 0;             // 5512, 11025, 22050 or 44100
    int channels = 0;         // 1 or 2
    int bits = 0;             // 8 or 16
    int format = -1;          // 0 uncompressed, 1 ADPCM, 2 MPEG audio, ...
    uint32_t sampleCount = 0; // DefineSound: samples per channel; a stream: per block
};

struct SwfMovie {
    std::vector<uint8_t> data; // the whole (inflated) movie, header included
    bool compressed = false;   // "CWS"
    int version = 0;
    double frameRate = 0; // frames per second
    int frameCount = 0;
    std::vector<SwfSoundEntry> sounds;
    SwfSoundFormat stream; // from the sound stream header (tag 18 or 45)
    SwfSoundFormat event;  // from the first DefineSound
    int streamBlocks = 0;
    uint64_t streamMp3Samples = 0; // the sample counts that begin MPEG audio blocks
    // The format of the sound the readers play: the stream when the movie
    // has stream blocks, else its first DefineSound.
    const SwfSoundFormat& sound() const;
    bool playsStream() const { return streamBlocks > 0 && stream.present; }
    // Playing time in whole seconds: DefineSound's sample count over its
    // rate; for a sound stream the samples its blocks hold (the counts of
    // MPEG audio blocks, else the header's samples per block), or the
    // movie's frames over its frame rate when neither is stated.
    int durationSec() const;
};

// Decompresses `srcLen` bytes of a zlib stream into `dest` (room *destLen);
// zlib's uncompress contract (0 when whole).
using SwfInflate = int (*)(unsigned char* dest, unsigned long* destLen, const unsigned char* src,
                           unsigned long srcLen);

enum class SwfResult {
    Ok = 0,
    NotSwf = -1,        // no "FWS"/"CWS" signature, or shorter than the header
    Compressed = -2,    // "CWS" without an inflate function, or "ZWS" (LZMA)
    InflateFailed = -3, // the compressed body is damaged
    TooShort = -4,      // shorter than 10 bytes
};

// Parses a movie whose file bytes are `file` (moved into the movie).
SwfResult parseSwf(std::vector<uint8_t> file, SwfInflate inflate, SwfMovie& movie);

// The largest inflated movie accepted (zlib cannot expand by more than about
// 1032 to 1, and no sound movie needs more).
inline constexpr uint64_t kSwfMaxInflated = 512ull << 20;

} // namespace kestrel
