// The AVI reader of the MPEG-4 AVI route: walks the top-level chunks of an
// AVI file, takes the first video and audio stream from its header list and
// builds a video and an audio chunk index, from the file's "idx1" when its
// offsets can be trusted (taken from the file start or from the "movi" list)
// and otherwise by scanning the "movi" list.
//
// Nothing read from the file is trusted: chunk sizes, index offsets and
// lengths are checked against the bytes that are there; a chunk cut short by
// the end of the file keeps the bytes it has.
#pragma once

#include "engine/containers/avi_texts.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

// Where the reader takes its bytes from.
class AviSource {
  public:
    virtual ~AviSource() = default;
    // Reads up to `n` bytes at `offset`; returns the count read. The reader
    // never asks for 0 bytes.
    virtual size_t read(uint64_t offset, uint8_t* to, size_t n) = 0;
    virtual uint64_t size() const = 0;
};

// One chunk of a stream: its data (past the 8-byte chunk header) and, for the
// audio index, the audio bytes of the chunks before it.
struct AviChunk {
    uint64_t offset = 0;
    uint32_t length = 0;
    uint64_t before = 0;
};

// How the index was obtained.
enum class AviIndexSource { None, FromFileStart, FromMovi, Scanned };

struct AviFile {
    // First video stream.
    int videoStream = -1;
    uint32_t videoFrames = 0;
    uint32_t videoRate = 0, videoScale = 0; // frame rate = rate / scale
    int32_t width = 0, height = 0;
    // First audio stream (-1: none).
    int audioStream = -1;
    int formatTag = 0, channels = 0, sampleRate = 0, bitsPerSample = 0, blockAlign = 0;
    std::vector<uint8_t> audioFormat; // the stream's format chunk as stored (at most 4096 bytes)
    uint64_t moviData = 0;            // first byte after the "movi" list type
    uint64_t moviEnd = 0;
    char videoId[5] = {}; // e.g. "00db"
    char audioId[5] = {}; // e.g. "01wb"; "99wb" without audio
    std::vector<AviChunk> videoIndex;
    std::vector<AviChunk> audioIndex;
    uint64_t audioBytes = 0; // the sum of the audio chunk lengths
    AviIndexSource indexSource = AviIndexSource::None;

    double frameRate() const {
        return videoScale ? static_cast<double>(videoRate) / videoScale : 0.0;
    }
};

// How the sound of an audio format tag is decoded: 1 raw PCM, 0x50-0x55
// MPEG audio, any other tag by the ADPCM library (which may not know it).
enum class AviAudioCodec { Pcm, MpegAudio, Adpcm };
AviAudioCodec aviAudioCodec(int formatTag);

// Opens the AVI in `src`; with `withIndex` the two indexes are built. Returns
// 0, or an error code of the AVI family (kAviNotAvi, kAviNoHeaderList,
// kAviNoMovi, kAviNoVideo, kAviNoMemory).
int readAvi(AviSource& src, bool withIndex, AviFile& out);

// An AVI file opened for reading: the file stays open for the chunk reads.
class AviReader : public AviSource {
  public:
    AviReader() = default;
    ~AviReader() override;
    AviReader(const AviReader&) = delete;
    AviReader& operator=(const AviReader&) = delete;

    // Opens `path` (kAviOpen when it cannot be opened) and reads it as
    // readAvi does. 0 or the error code, also kept in error().
    int open(const std::string& path, bool withIndex);
    void close();
    int error() const { return error_; }
    const AviFile& info() const { return info_; }

    size_t read(uint64_t offset, uint8_t* to, size_t n) override;
    uint64_t size() const override { return size_; }
    // Reads audio chunk `i` (whole, or what the file has of it) into `to`;
    // returns the bytes read, -1 past the index.
    long readAudioChunk(size_t i, std::vector<uint8_t>& to);

  private:
    FILE* file_ = nullptr;
    uint64_t size_ = 0;
    int error_ = kAviNoError;
    AviFile info_;
};

} // namespace kestrel
