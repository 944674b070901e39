// Segment-parallel WMA encoding for WmWriter (internal).
//
// The resampled PCM is cut into segments of about twenty seconds on frame
// boundaries; each is encoded by an encoder of its own on a worker thread,
// starting a few frames early (pre-roll) and running a frame past its end.
// WMA frames carry no data of their neighbours, and the encoder keeps no rate
// control across frames: the frames are joined by dropping the pre-roll, and
// the decoder's overlap-add across the join sees two encodings of the same
// sound. The packets keep the timestamps of a one-thread encoding and go to
// `write` in order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct AVCodecContext;
struct AVPacket;

namespace kestrel {

class WmSegments {
  public:
    // `open` sets up one encoder (0, or a negative FFmpeg code) and gives its
    // context; `write` takes each packet of the joined stream (timestamps in
    // samples) and returns 0 or a negative code.
    using OpenFn = std::function<int(AVCodecContext*&)>;
    using WriteFn = std::function<int(AVPacket*)>;
    WmSegments(OpenFn open, WriteFn write, int rate, int channels, int frameSamples, int threads);
    ~WmSegments();
    WmSegments(const WmSegments&) = delete;
    WmSegments& operator=(const WmSegments&) = delete;

    // Takes planar samples (`channels` planes of `frames` each); waits while
    // the workers are busy. 0, or the negative code of a failure.
    int feed(const float* const* planes, int64_t frames);
    // Ends the input (the last frame padded with silence) and writes the rest.
    int finish();

    struct Segment;
    struct Run;

  private:
    void worker();
    void dispatch(std::shared_ptr<Segment> s);
    void joinReady(bool wait);
    int emit(Run& run, int64_t upTo);

    OpenFn open_;
    WriteFn write_;
    int channels_;
    int frameSamples_;
    int threads_;
    int64_t segFrames_;
    int64_t fed_ = 0;
    int nextIndex_ = 1;
    std::vector<std::shared_ptr<Segment>> filling_;
    std::deque<std::shared_ptr<Segment>> unjoined_;
    std::unique_ptr<Run> cur_;
    int error_ = 0;
    bool finished_ = false;

    std::mutex m_;
    std::condition_variable work_, done_;
    std::deque<std::shared_ptr<Segment>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace kestrel
