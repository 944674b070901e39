// The AVI output: one MP3 audio stream and an empty video stream, written by
// a small AVI writer with a fixed 2048-byte header area. Opening reserves the
// header area; every run of MP3 bytes becomes one "01wb" chunk with its index
// entry; closing appends the "idx1" index and writes the final header into the
// reserved area.
//
// The writer works on a stream the caller opened for writing (the output's
// temporary file) and leaves closing it to the caller. All integers in the
// file are little-endian.
#pragma once

#include "engine/containers/avi_texts.h"
#include "engine/convert/mp3_encoding.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace kestrel {

inline constexpr uint32_t kAviHeaderBytes = 2048;
// Where the "movi" list starts inside the header area.
inline constexpr uint32_t kAviMoviListAt = 2036;
// The largest file the writer makes.
inline constexpr uint64_t kAviMaxFileBytes = 2000000000;

struct AviIndexEntry {
    char id[4];
    uint32_t flags;  // 0 for audio chunks, 16 for video chunks
    uint32_t offset; // absolute file position of the chunk header
    uint32_t size;   // data length, without the pad byte
};

struct AviWriter {
    FILE* file = nullptr;
    uint32_t position = 0; // end of the written data
    // The video stream: never set by this program, all 0.
    int32_t width = 0, height = 0;
    double frameRate = 0;
    char compressor[4] = {0, 0, 0, 0};
    uint32_t videoFrames = 0;
    // The audio stream.
    int32_t audioChannels = 0, audioRate = 0, audioBits = 0, audioFormat = 0;
    uint32_t audioByteRate = 0; // the stream header's rate: bytes per second
    uint32_t audioBytes = 0;
    std::vector<AviIndexEntry> index;
    bool mustUseIndex = false;
    bool indexFailed = false;
};

// The process-wide error code of the last failure (AviError).
extern int avi_errno;

// Starts a writer on `file` (open for writing, positioned at its start) and
// writes the 2048 zero bytes of the header area. Null on failure (avi_errno
// 4 when the bytes cannot be written).
std::unique_ptr<AviWriter> avi_open_output(FILE* file);
// The audio stream's format; `kbps` gives the stream header's byte rate.
void avi_set_audio(AviWriter& w, int channels, int rate, int bits, int formatTag, int kbps);
// Appends one "01wb" chunk (and a pad byte when `length` is odd) and its index
// entry. 0, or -1 with avi_errno set: 1 when the file would pass
// kAviMaxFileBytes, 4 when the write failed (the position stays at the chunk
// start, so the next chunk overwrites the partial one).
int avi_write_audio(AviWriter& w, const uint8_t* data, uint32_t length);
// Writes the index and the final header and cuts the file to its end; the
// stream stays open. 0, or -1 with avi_errno 6 (a failed index alone sets 5,
// marks the header and still returns 0).
int avi_close(AviWriter& w);

// The 2048 bytes of the header area for the writer's present state.
std::array<uint8_t, kAviHeaderBytes> aviHeader(const AviWriter& w);

// The AVI output of a conversion: the writer and its MP3 encoder.
struct AviOutput {
    std::unique_ptr<AviWriter> writer;
    int writeErrno = 0; // of the first failed write (0: none)
};

// Opens the AVI on `file` for out_channels, out_rate and the MP3 encoder of
// the FLV/AVI types; the stream header's byte rate is `kbps` (the constant
// bit-rate setting). 0, or -1 (errno set) when it cannot be started.
int aviOutputOpen(AviOutput& o, Mp3EncoderState& mp3, FILE* file, int kbps);
// Encodes one PCM block and writes its MP3 bytes as chunks. 0, or -1 after a
// failed write (o.writeErrno set; nothing more is written).
int aviOutputBlock(AviOutput& o, Mp3EncoderState& mp3, const uint8_t* pcm, int length);
// Flushes the encoder into the file (unless a write has failed) and finishes
// the writer. 0, or -1 with errno set when the file could not be finished.
int aviOutputFinish(AviOutput& o, Mp3EncoderState& mp3);

} // namespace kestrel
