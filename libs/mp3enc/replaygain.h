// The ReplayGain 1.0 loudness analysis of a track, as the encoder makes it for
// its tag (internal to mp3enc).
//
// Each channel is filtered by the equal-loudness curve (a 10th-order
// Yule-Walker filter followed by a 2nd-order Butterworth high-pass), the mean
// square of both channels is taken over blocks of 50 ms, and the loudness of
// the track is that of the block louder than 95 % of them, in steps of 0.01 dB.
// The gain is what brings it to the reference level (pink noise at 89 dB).
#pragma once

#include <cstdint>
#include <vector>

namespace mp3enc {

class GainAnalysis {
  public:
    // Measures the samples as the encoder takes them: each channel scaled by
    // its factor. A rate without filters of its own (none the encoder takes)
    // makes an analysis that has no result.
    GainAnalysis(int rate, int channels, float scaleLeft, float scaleRight);

    // Takes `frames` interleaved sample frames.
    void add(const short* pcm, int64_t frames);
    // Takes `frames` sample frames of silence.
    void addSilence(int64_t frames);
    // The gain in tenths of a dB, rounded as the encoder rounds it; 0 when no
    // whole block was taken.
    int radioGainTenths() const;

  private:
    // A channel's samples, equal-loudness and high-pass outputs: the last
    // ten of the chunk before, then this chunk's.
    struct Channel {
        std::vector<float> x, y, h;
    };
    void run(int n); // filters and measures the chunk's first n frames

    int table_ = -1; // row of the filter tables, -1 for none
    int channels_;
    float scale_[2];
    int64_t blockSize_ = 0; // sample frames in 50 ms
    Channel ch_[2];
    int64_t inBlock_ = 0;
    double sum_ = 0;               // squares of the block so far
    std::vector<uint32_t> levels_; // blocks counted by loudness, 0.01 dB steps
};

} // namespace mp3enc
