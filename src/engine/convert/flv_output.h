// The FLV output: an audio-only Flash Video file whose sound is MP3.
//
// It is made in two stages. While converting, the MP3 bytes of every PCM block
// become one FLV audio tag in an intermediate tag file. When the output is
// finished, the metadata injector measures the intermediate file and writes
// the final file: the FLV header, an onMetaData script tag describing the
// stream and the tags of the intermediate file. All integers in FLV are
// big-endian.
#pragma once

#include "engine/convert/mp3_encoding.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrel {

// The metadata-creator text of the final file.
inline constexpr const char* kFlvMetadataCreator = "kestrel Metadata FLV Injector  - Ver 2.4";

// The audio header byte of a tag: sound format 2 (MP3), 16 bits, the rate
// code (3 for 44100 Hz, 2 for 22050, 1 for 11025, else 0) and the stereo bit.
uint8_t flvAudioHeader(int rate, int channels);
// The time stamp in milliseconds of a tag whose block follows `pcmBytes`
// bytes of the output's PCM; computed in 64 bits, it fits the tag's 32 bits
// for 49 days of sound.
uint32_t flvTimestampMs(uint64_t pcmBytes, int rate, int channels);

// Stage one: the intermediate tag file of one output.
struct FlvTagWriter {
    FILE* file = nullptr;
    std::string path;
    int rate = 0, channels = 0;
    uint32_t previousTagSize = 0;
    uint64_t pcmBytes = 0; // PCM of the output before the next block
    std::vector<uint8_t> tag;
    int writeErrno = 0; // of the first failed write (0: none)
};

// Creates the intermediate file at `path` and writes the 9-byte FLV header.
// 0, or -1 with errno set.
int flvTagsOpen(FlvTagWriter& w, const std::string& path, int rate, int channels);
// Writes one audio tag holding `mp3` (possibly no bytes) for a block of
// `pcmLength` PCM bytes. 0, or -1 with writeErrno set (nothing more is
// written then).
int flvTagsWrite(FlvTagWriter& w, const uint8_t* mp3, size_t mp3Length, uint64_t pcmLength);
// Writes the last tag's PreviousTagSize and closes the file (kept for the
// injector). 0, or -1 with errno set.
int flvTagsClose(FlvTagWriter& w);
// Closes and removes the intermediate file.
void flvTagsDiscard(FlvTagWriter& w);

// What the injector learned from the tags of an FLV file.
struct FlvFacts {
    bool hasAudio = false, hasVideo = false, hasKeyframes = false, canSeekToEnd = false;
    uint64_t dataSize = 0;  // tag headers, data and PreviousTagSize of every copied tag
    uint64_t audioSize = 0; // tag headers and data of the audio tags
    uint64_t audioDataBytes = 0;
    uint64_t videoSize = 0;
    uint64_t videoDataBytes = 0;
    uint64_t videoFrames = 0;
    int audioCodecId = 0, audioSampleRate = 0, audioSampleSize = 0;
    bool stereo = false;
    int videoCodecId = 0;
    double lastTimestamp = 0; // seconds
};

// The texts the onMetaData array carries after its fixed entries, when set
// ("title", "artist"; UTF-8, cut to kFlvMetaTextBytes at a character's end).
struct FlvMetaTexts {
    std::string title, artist;
};
inline constexpr size_t kFlvMetaTextBytes = 1024;

// The onMetaData script tag (tag header, AMF0 data) and its PreviousTagSize,
// for the facts and the final file's size.
std::vector<uint8_t> flvOnMetaDataTag(const FlvFacts& facts, double fileSize,
                                      const FlvMetaTexts& texts = {});

// Injector results.
inline constexpr int kFlvStatFailed = -11;
inline constexpr int kFlvOpenFailed = -1;
inline constexpr int kFlvCreateFailed = -2;
inline constexpr int kFlvReadFailed = -3;
inline constexpr int kFlvNotFlv = -5;
inline constexpr int kFlvWriteFailed = -7;

// Reads the FLV file `inPath` and writes it with its onMetaData tag to `out`
// (open for writing, at its start). 0, or one of the codes above (a file that
// cannot be examined also writes "Couldn't stat on <path>." to stderr). Tags
// are taken while they end within the file; other tag types than audio and
// video are dropped. With `maxBytes` the final file takes the tags that fit
// in that many bytes (its metadata describes what it holds).
int inject_flv_metadata(const std::string& inPath, FILE* out, uint64_t maxBytes = UINT64_MAX,
                        const FlvMetaTexts& texts = {});
// The same into a new file `outPath`.
int inject_flv_metadata(const std::string& inPath, const std::string& outPath);

// The FLV output of a conversion: its tag file and the MP3 encoder.
struct FlvOutput {
    FlvTagWriter tags;
    std::vector<uint8_t> mp3; // MP3 bytes of the block being encoded
    FlvMetaTexts texts;       // the title and artist its metadata carries
    // An encoder spread over threads gives its frames a segment at a time,
    // long after their blocks: each frame then gets a tag of its own, stamped
    // with the frame's place in the stream.
    bool tagPerFrame = false;
};

// Opens the intermediate tag file `tagsPath` for out_rate and out_channels
// and sets up the MP3 encoder of the FLV/AVI types. 0, or -1 (errno set).
int flvOutputOpen(FlvOutput& o, Mp3EncoderState& mp3, const std::string& tagsPath);
// Encodes one PCM block into one tag (or its frames into a tag each). 0, or -1 with errno set after
// a failed write.
int flvOutputBlock(FlvOutput& o, Mp3EncoderState& mp3, const uint8_t* pcm, int length);
// Flushes the encoder into a last tag (unless a write failed), closes the tag
// file, writes the final file into `out` and removes the tag file. 0, or -1
// with errno set when the final file could not be written whole: it is then
// written again with the tags that fit in what the disk took, so that it stays
// a valid FLV whose metadata tells what it holds.
int flvOutputFinish(FlvOutput& o, Mp3EncoderState& mp3, FILE* out);

} // namespace kestrel
