// Comparing decoded sound with a reference decode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

// Interleaved 16-bit samples of a WAV file's data chunk (empty when unreadable).
std::vector<int16_t> wavSamples(const std::string& path, int* rate = nullptr,
                                int* channels = nullptr);
// ffmpeg's decode of `src` (first audio stream) as 16-bit PCM; with rate or
// channels > 0 resampled with soxr / downmixed; `filter` adds an audio filter.
std::vector<int16_t> ffmpegDecode(const std::string& src, int rate = 0, int channels = 0,
                                  const std::string& filter = "",
                                  const std::string& inputOptions = "");

struct Comparison {
    double snrDb = 0;    // of `test` against `ref` over the overlap
    long lag = 0;        // ref[i + lag] matches test[i] (in frames)
    long overlap = 0;    // frames compared
    long lengthDiff = 0; // test frames - ref frames
};
// Finds the lag (within +/- maxLag frames) that best aligns the two and
// measures the SNR over the overlap (skipping `trim` frames at both ends).
Comparison compareAudio(const std::vector<int16_t>& test, const std::vector<int16_t>& ref,
                        int channels, long maxLag = 4000, long trim = 0);

} // namespace kestrel::test
