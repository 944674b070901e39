// The self-playing EXE output: the player program from orvoplay.so, a
// placeholder for the descriptor, then the MP3 frames of the output masked as
// they are written; when the output is finished the enciphered descriptor
// goes over the placeholder (layout: engine/core/exe_layout.h).
//
// Each output draws new masking keys when it is opened (a per-file job for
// every entry, a joined job once); rand() is seeded from the system's random
// source once per process, so no two runs mask alike.
//
// Threading: used by the conversion thread of the job that owns the output.
#pragma once

#include "engine/convert/mp3_encoding.h"
#include "engine/core/exe_layout.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace kestrel {

struct ExeOutputState {
    exe::Scramble scramble;
    FILE* file = nullptr;
    // A frame run could not be written whole: nothing more is written, and
    // `maskedBytes` and `dataCrc` cover what was written whole.
    bool writeFailed = false;
    int writeErrno = 0;
    // The first frame as the encoder gave it: the VBR/ABR tag replaces it.
    std::vector<uint8_t> firstFrame;
};

// Seeds rand() from the system's random source (once per process) and draws
// the keys of one output.
void exeDrawKeys(exe::Scramble& s);

// Starts an output on `f`: draws the keys, writes the player's seven pieces
// and the descriptor's placeholder. 0, or negative when orvoplay.so cannot be
// loaded (its loader has shown the message) or the player is not whole; errno
// tells a write failure (the stream's error flag is then set).
int exeOutputStart(ExeOutputState& st, FILE* f);

// The frame sink of an EXE output (an Mp3FrameSink): masks the bytes at their
// MP3 positions, adds them to the data CRC and appends them. The context is
// the ExeOutputState.
void exeWriteFrames(const uint8_t* bytes, int length, void* context);

// Finishes the output: cuts the file back to the frames written whole, builds
// the descriptor from the settings, the output format and `pcmBytes`,
// enciphers it and writes it over the placeholder. 0, or the errno of a
// failed write.
int exeOutputFinish(ExeOutputState& st, uint64_t pcmBytes);

} // namespace kestrel

#include <string>
#include <vector>

namespace kestrel {

// What a self-playing EXE made by this program holds.
struct ExeContents {
    exe::Descriptor descriptor;
    uint64_t fileSize = 0;
    std::vector<uint8_t> mp3; // unmasked, when asked for
};

enum ExeReadResult : int {
    kExeOk = 0,
    kExeUnreadable = -1, // no regular file, or cannot be opened or read (errno tells)
    kExeNotOurs = -2,    // too short, or its descriptor does not decipher
    kExeDamaged = -3,    // a CRC does not match, or the data is cut short
};

// The conversion driver's steps. exeOpenOutput starts the output on `f` (named
// `name`) and sets up its MP3 encoder; negative when it failed (its message
// is shown): the caller then removes the file.
int exeOpenOutput(ExeOutputState& st, Mp3EncoderState& mp3, FILE* f, const std::string& name);
// Flushes the encoder into the output (unless a write failed) and writes the
// descriptor; 0, or the errno of a failed write found here.
int exeCloseOutput(ExeOutputState& st, Mp3EncoderState& mp3, uint64_t pcmBytes, bool writeFailed);
// The masking keys and period of an output, for the output manager's record.
void exeRecordKeys(const ExeOutputState& st, int32_t keys[5], int32_t& period);

// Reads the EXE at `path`: deciphers the descriptor and checks both CRCs; with
// `withData` also unmasks the MP3 data into `out.mp3`.
int readExeOutput(const std::string& path, ExeContents& out, bool withData);

} // namespace kestrel
