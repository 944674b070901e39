// FLV (and F4V written as FLV) audio tags: the walk over the tag chain that
// both the media analysis and the readers use, the index of the audio tags
// and the facts of the first audio tag.
//
// Nothing read from the file is trusted: the header size, every data size
// and every payload are checked against the file's real length; a tag that
// runs past the end of the file ends the walk (its payload is cut to what is
// there, so a cut file gives what it holds).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

namespace kestrel {

// The most audio tags an index holds.
inline constexpr size_t kFlvIndexMax = 524288;

// FLV sound formats named by the readers.
inline constexpr int kFlvPcm = 0;      // uncompressed, platform byte order (little-endian)
inline constexpr int kFlvAdpcm = 1;    // Flash ADPCM
inline constexpr int kFlvMp3 = 2;      // MPEG audio
inline constexpr int kFlvPcmLe = 3;    // uncompressed, little-endian
inline constexpr int kFlvAac = 10;     // AAC (packet type byte, then config or access unit)
inline constexpr int kFlvMp3At8k = 14; // MPEG audio at 8 kHz

// The sound formats the FLV reader decodes itself; a file of another format
// (Nellymoser, G.711, Speex ...) is decoded by the media graph.
constexpr bool flvSoundDecoded(int format) {
    return format == kFlvPcm || format == kFlvAdpcm || format == kFlvMp3 || format == kFlvPcmLe ||
           format == kFlvAac || format == kFlvMp3At8k;
}

// One tag of the chain.
struct FlvTag {
    uint64_t position = 0;  // of its previous-tag-size field
    int type = 0;           // 8 audio, 9 video, 18 script data
    uint32_t dataSize = 0;  // as stated
    uint32_t available = 0; // bytes of data actually in the file (<= dataSize)
    uint32_t timestamp = 0; // milliseconds (24 bits plus the extended byte)
    uint64_t dataOffset() const { return position + 15; }
};

// Reads the 9-byte header; true when it is "FLV" version 1. `firstTag`
// receives where the tag chain starts (the stated header size, at least 9).
bool readFlvHeader(FILE* f, uint64_t fileSize, uint64_t& firstTag);

// Walks the tag chain from the header on, calling `visit` for every tag
// until it returns false, the file ends or a tag runs past the end. Returns
// the number of tags visited, or -1 when the file is not FLV.
int64_t walkFlvTags(FILE* f, uint64_t fileSize, const std::function<bool(const FlvTag&)>& visit);

// One audio tag in the index: where its payload (after the audio header
// byte) starts, its length and its time stamp.
struct FlvIndexEntry {
    uint64_t offset = 0;
    uint32_t length = 0;
    uint32_t timestamp = 0;
};

// Builds the index of the audio tags (at most kFlvIndexMax) of an open file
// and seeks back to its start. Returns the entry count (0 for a file that is
// not FLV or has no audio tag).
int buildFlvIndex(FILE* f, uint64_t fileSize, std::vector<FlvIndexEntry>& index);

// The audio facts of an FLV file as the media analysis lists them.
struct FlvAudioScan {
    bool isFlv = false;
    int audioTags = 0;          // every audio tag, also past the index limit
    int soundFormat = -1;       // of the first audio tag, -1 when there is none
    double sampleRate = 0;      // of the first audio tag: 5512.5, 11025, 22050, 44100
    int channels = 0;           // 1 or 2
    int bitsPerSample = 0;      // 8 or 16
    uint32_t lastTimestamp = 0; // of the last tag of any type, ms
    // Where the sound of the last audio tag ends, ms: its time stamp plus
    // its length where the tag's bytes tell it (PCM and Flash ADPCM), else
    // its time stamp.
    double lastSoundEndMs = 0;
    std::vector<uint8_t> firstPayload; // first audio payload, up to 4096 bytes
};

// Scans the whole tag chain. Returns 0, or -1 when the file is not FLV.
int scanFlvAudio(FILE* f, uint64_t fileSize, FlvAudioScan& scan);

// The rate of the 2-bit rate field of an audio header byte.
double flvRate(int code);

} // namespace kestrel
