// WMA encoding of a finished intermediate WAV: the profile from the WMA
// settings (codec position and format value), then the converter that reads
// the WAV and writes it through the Windows Media writer into the output.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {

class AtomicFile;
class WavWriter;
struct PcmOutput;

// Makes `out` (its stream the output `file`'s, released) write the
// intermediate WAV instead: the output file stays reserved under its
// temporary name for the encoding. On failure the message is shown, the
// temporary file removed; negative.
int openWmaOutput(PcmOutput& out, WavWriter& wav, AtomicFile& file);

// Opens the intermediate WAV (temp_wav_path) of a WMA output, unbuffered, and
// writes its header for the output format; null when it cannot be created.
FILE* openWmaIntermediate(WavWriter& wav);
// Patches and closes the intermediate WAV `f` and encodes it into `outPath`
// with the WMA settings (encodeWma). 0; -1 when the header could not be
// patched (the WMA holds what the file told); kWmaNotEncoded when the encoding
// failed (its messages shown, no file at `outPath`; `encodeError` is the
// system error of a write of the WMA that failed, 0 for any other failure).
inline constexpr int kWmaNotEncoded = -2;
// After a full disk stopped the intermediate WAV `f` (holding `dataBytes` of
// sound), when the WMA at `outPath` goes to the same file system: cuts the
// WAV so that the WMA of the sound that stays finds room, and sets
// `dataBytes` to what stays.
void makeRoomForWma(FILE* f, uint32_t& dataBytes, const std::string& outPath);
int finishWmaOutput(FILE* f, WavWriter& wav, const std::string& outPath,
                    const std::vector<std::pair<std::string, std::string>>& metadata,
                    int& encodeError);

// The WMA writer encodes at constant bit rate only: a variable-bit-rate
// format value (kWmaVbrOffset or more) is encoded as the constant format of
// the same index. Says so (once; the conversion asks once per job) when
// `formatValue` is such a value and names an existing format.
void noteWmaConstantRate(int codec, int formatValue);

// Encodes the 16-bit PCM WAV `wavPath` into `outPath` with the codec and
// format value of the settings. The window port hears wmaProgress(0) before,
// the progress in percent during and wmaProgress(100) after the encoding.
// `wavPath` is removed in every case. Returns 0; negative when the profile or
// the converter failed (the failure's messages have been shown; a file begun
// at `outPath` is removed). `metadata` (FFmpeg's generic keys) goes into the
// file's content descriptions. When a write of the WMA failed, `*writeError`
// (if given) gets its system error (a full disk, say), else 0.
int encodeWma(const std::string& wavPath, const std::string& outPath, int codec, int formatValue,
              const std::vector<std::pair<std::string, std::string>>& metadata = {},
              int* writeError = nullptr);

} // namespace kestrel
