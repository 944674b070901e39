// Segment-parallel encoding with a libavcodec encoder (internal).
//
// The PCM is cut into segments (about twenty seconds unless the layout says)
// on frame boundaries; each is encoded by an encoder of its own on a worker
// thread, which takes the segment's samples as they are fed, starting a few
// frames early (pre-roll) so that the encoder's state (its rate control, its
// window decisions) has settled, and running a few frames past its end so
// that its last kept frames saw the sound after them. For codecs whose frames
// carry no data of their neighbours (WMA, AAC without prediction): the frames
// are joined by dropping the pre-roll, and the decoder's overlap-add across
// the join sees two encodings of the same sound. An encoder's packet n, counted
// from its first (an encoder that delays its output by a frame gives every
// instance the same first packet), stands for the stream's packet n plus the
// segment's first frame. The packets keep the timestamps of a one-thread
// encoding and go to `write` in order.
#pragma once

#include "common/segment_workers.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct AVCodecContext;
struct AVPacket;

namespace orvo {

class AvSegments {
  public:
    // `open` sets up one encoder (0, or a negative FFmpeg code) and gives its
    // context; `write` takes each packet of the joined stream (timestamps in
    // samples) and returns 0 or a negative code.
    using OpenFn = std::function<int(AVCodecContext*&)>;
    using WriteFn = std::function<int(AVPacket*)>;
    struct Layout {
        int rate = 0, channels = 0;
        int frameSamples = 0;      // samples per channel in a frame
        int64_t segmentFrames = 0; // frames per segment; 0: about twenty seconds
        int preRollFrames = 4;     // encoded before a segment and dropped
        int overlapFrames = 2;     // fed past a segment's end
        // The last frame goes to the encoder as short as it is (an encoder
        // that takes a small last frame); else padded with silence.
        bool shortLastFrame = false;
    };
    AvSegments(OpenFn open, WriteFn write, const Layout& layout, int threads);
    ~AvSegments();
    AvSegments(const AvSegments&) = delete;
    AvSegments& operator=(const AvSegments&) = delete;

    // Takes planar samples (`channels` planes of `frames` each); waits while
    // the workers are busy. 0, or the negative code of a failure.
    int feed(const float* const* planes, int64_t frames);
    // Ends the input and writes the rest.
    int finish();

    struct Segment;
    struct Run;

  private:
    void encode(const std::shared_ptr<Segment>& s);
    void dispatch(std::shared_ptr<Segment> s);
    void joinReady(bool wait);
    int emit(Run& run, int64_t upTo);

    OpenFn open_;
    WriteFn write_;
    Layout layout_;
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
    std::condition_variable done_, arrived_;
    bool stopping_ = false;
    SegmentWorkers workers_; // last: its threads end before the rest goes
};

} // namespace orvo
