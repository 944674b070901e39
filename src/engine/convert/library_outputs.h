// Outputs that an encoder library writes itself: raw AAC, MPEG-2 AAC (ADTS)
// and MP4 (AAC) through orvoaacenc, AMR through orvoamrenc. The driver gives
// the library the output's temporary name and moves the file to its name once
// the encoder is closed.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

class AtomicFile;
struct PcmOutput;

// The AMR mode values the encoder takes, by the "转换AMR编码速率" setting.
inline constexpr int kAmrModeValues[8] = {475, 515, 59, 67, 74, 795, 102, 122};

// The text the AAC encoder writes as the encoder name of an MP4 file.
inline constexpr const char* kAacEncoderTag = "kestrel";

// True for the output types whose encoder library writes the file.
bool libraryWritesOutput(int outputType);

// Hands the output `file` (opened, its stream released into `out`) to the
// encoder of `out.type`: the stream is closed and the library writes the
// temporary file itself. On failure the temporary file is removed; negative.
// An AAC output of `seconds` (its expected playing time) is encoded on the
// threads encoderThreadsFor gives it, where the library can.
int openLibraryOutput(PcmOutput& out, AtomicFile& file, int seconds = 0);

// Starts the encoder of `outputType` writing `path`, with the output format
// and the AAC or AMR settings. 0, or the library's negative result.
int startLibraryOutput(int outputType, const std::string& path);
// Encodes one block of the stage's output; >= 0, or negative when encoding
// or writing failed.
int encodeLibraryOutput(int outputType, const uint8_t* pcm, int len);
// Encodes what the encoder holds and closes the file; 0 or negative.
int finishLibraryOutput(int outputType);

} // namespace kestrel
