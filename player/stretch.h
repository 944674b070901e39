// Speed change that keeps the pitch: waveform-similarity overlap-add
// (WSOLA). Segments of 40 ms under a Hann window are added with half
// overlap; the next segment is taken near the position the speed asks for,
// where it best continues the previous one (found by cross-correlation of a
// mono mix within +-10 ms), so the waveform stays smooth without a change
// of pitch. At 1.0x the samples are copied unchanged.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace kplayer {

class Stretcher {
  public:
    void attach(const int16_t* pcm, int64_t frames, int channels, int rate) {
        pcm_ = pcm;
        frames_ = frames;
        channels_ = channels;
        window_ = (rate / 25) & ~1;
        if (window_ < 64) window_ = 64;
        half_ = window_ / 2;
        tolerance_ = rate / 100;
        hann_.resize(static_cast<size_t>(window_));
        for (int i = 0; i < window_; ++i)
            hann_[static_cast<size_t>(i)] =
                static_cast<float>(0.5 - 0.5 * std::cos(2.0 * 3.14159265358979 * i / window_));
        seek(0);
    }
    void seek(int64_t frame) {
        pos_ = frame < 0 ? 0 : frame > frames_ ? frames_ : frame;
        analysis_ = static_cast<double>(pos_);
        previous_ = -1;
        overlap_.assign(static_cast<size_t>(half_ * channels_), 0.0f);
        queue_.clear();
        queued_ = 0;
    }
    void setSpeed(double speed) {
        if (speed < 0.5) speed = 0.5;
        if (speed > 2.0) speed = 2.0;
        if (speed == speed_) return;
        if (speed == 1.0 || speed_ == 1.0) {
            int64_t at = position();
            speed_ = speed;
            seek(at);
        } else {
            speed_ = speed;
        }
    }
    // The source frame being played.
    int64_t position() const { return speed_ == 1.0 ? pos_ : static_cast<int64_t>(analysis_); }
    // Writes up to `frames` frames; returns how many (0 at the end).
    int read(int16_t* out, int frames) {
        int done = 0;
        while (done < frames) {
            if (queued_ < queue_.size()) {
                size_t n = (queue_.size() - queued_) / static_cast<size_t>(channels_);
                if (n > static_cast<size_t>(frames - done)) n = static_cast<size_t>(frames - done);
                for (size_t i = 0; i < n * static_cast<size_t>(channels_); ++i)
                    out[static_cast<size_t>(done * channels_) + i] = queue_[queued_ + i];
                queued_ += n * static_cast<size_t>(channels_);
                done += static_cast<int>(n);
                continue;
            }
            if (speed_ == 1.0) {
                int64_t n = frames_ - pos_;
                if (n <= 0) break;
                if (n > frames - done) n = frames - done;
                for (int64_t i = 0; i < n * channels_; ++i)
                    out[done * channels_ + i] = pcm_[pos_ * channels_ + i];
                pos_ += n;
                done += static_cast<int>(n);
                continue;
            }
            if (!step()) break;
        }
        return done;
    }

  private:
    float mono(int64_t frame) const {
        if (frame < 0 || frame >= frames_) return 0.0f;
        float s = 0;
        for (int c = 0; c < channels_; ++c)
            s += pcm_[frame * channels_ + c];
        return s;
    }
    bool step() {
        int64_t a = static_cast<int64_t>(analysis_);
        if (a >= frames_) return false;
        int64_t chosen = a;
        if (previous_ >= 0) {
            int64_t natural = previous_ + half_;
            double best = -1e30;
            for (int64_t k = -tolerance_; k <= tolerance_; k += 2) {
                int64_t c = a + k;
                if (c < 0) continue;
                double dot = 0, energy = 1e-9;
                for (int i = 0; i < half_; i += 2) {
                    float x = mono(c + i);
                    dot += static_cast<double>(x) * mono(natural + i);
                    energy += static_cast<double>(x) * x;
                }
                double score = dot / std::sqrt(energy);
                if (score > best) {
                    best = score;
                    chosen = c;
                }
            }
        }
        queue_.assign(static_cast<size_t>(half_ * channels_), 0);
        queued_ = 0;
        for (int i = 0; i < window_; ++i) {
            int64_t f = chosen + i;
            for (int c = 0; c < channels_; ++c) {
                float v = f < frames_ ? pcm_[f * channels_ + c] * hann_[static_cast<size_t>(i)] : 0;
                size_t at = static_cast<size_t>((i % half_) * channels_ + c);
                if (i < half_) {
                    float sum = overlap_[at] + v;
                    if (sum > 32767.f) sum = 32767.f;
                    if (sum < -32768.f) sum = -32768.f;
                    queue_[at] = static_cast<int16_t>(std::lrint(sum));
                } else {
                    overlap_[at] = v;
                }
            }
        }
        previous_ = chosen;
        analysis_ += half_ * speed_;
        return true;
    }

    const int16_t* pcm_ = nullptr;
    int64_t frames_ = 0;
    int channels_ = 2;
    int window_ = 1764, half_ = 882, tolerance_ = 441;
    std::vector<float> hann_, overlap_;
    std::vector<int16_t> queue_;
    size_t queued_ = 0;
    double speed_ = 1.0;
    double analysis_ = 0;
    int64_t pos_ = 0;
    int64_t previous_ = -1;
};

} // namespace kplayer
