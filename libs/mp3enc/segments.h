// Segment-parallel encoding inside mp3enc (internal).
//
// The PCM of the stream is cut into segments of about twenty seconds on frame
// boundaries; each is encoded by a LAME encoder of its own on a worker
// thread, starting a few frames early (pre-roll) so that the encoder has
// settled when its frames are taken, and running a few frames past its end
// (overlap). The frames are joined into one stream in order.
//
// A Layer III frame may begin its main data in the frames before it (the bit
// reservoir, main_data_begin). A frame of the next segment's encoder can
// follow the current encoder's frames only where the current encoder leaves at
// least main_data_begin bytes unused after the main data of the frame before
// the join; the join is made at the first frame of the overlap where that
// holds and where the window shapes of the two granules that meet fit each
// other. The bytes the joining frame points back to are copied in front of it
// and the rest of the unused space is zeroed, so that every frame keeps its
// own main_data_begin. Where no frame of the overlap fits, the current
// encoder is fed on, a few frames at a time, through the next segment
// (`widened` counts such joins); at worst it encodes that whole segment
// itself, which always gives a valid stream.
//
// The first segment's encoder writes the tag's placeholder frame; the tag of
// the whole stream is made from its tag with the whole stream's frame and
// byte counts, seek table, padding, music length and CRC, and the ReplayGain
// of the whole stream, measured here over every sample as the encoders take
// them (the encoders of later segments measure nothing).
#pragma once

#include "common/segment_workers.h"
#include "replaygain.h"

#include <lame/lame.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace mp3enc {

// The parameters of one encoder set up by an init call.
struct Config {
    int rate = 0;
    int channels = 0;
    int mode = 0; // 0 constant, 1 variable, 2 average bit rate
    int kbps = 0; // constant or average bit rate
    int quality = 0, minKbps = 0, maxKbps = 0;
};

// A LAME encoder with the parameters of `c`, writing the tag's placeholder
// frame and measuring the ReplayGain for it when `tag` is set; null when LAME
// refuses them. Thread-safe.
lame_global_flags* createLame(const Config& c, bool tag);

struct JoinStats {
    int joins = 0;   // segment joins made
    int widened = 0; // of them, those that needed more than the overlap
};

class SegmentEncoder {
  public:
    SegmentEncoder(const Config& config, int threads);
    ~SegmentEncoder();
    SegmentEncoder(const SegmentEncoder&) = delete;
    SegmentEncoder& operator=(const SegmentEncoder&) = delete;

    // Takes `frames` interleaved sample frames; waits while the workers are
    // busy with as many segments as they can hold. false when an encoder
    // failed.
    bool feed(const short* pcm, int frames);
    // Ends the input: the last segment is flushed and every segment joined.
    bool finish();
    // Moves joined whole frames into `out` (room for `cap`); bytes moved.
    int take(uint8_t* out, int cap);
    // Writes the tag frame of the whole stream; its size, 0 without a tag,
    // -1 when `cap` is too small. Valid after finish().
    int tagFrame(uint8_t* out, int cap);
    JoinStats stats() const { return stats_; }

    struct Run;
    struct Segment;

  private:
    void encode(const std::shared_ptr<Segment>& s);
    void dispatch(std::shared_ptr<Segment> s);
    void joinReady(bool wait);
    void joinNext(Segment& next);
    void emit(Run& run, int64_t upTo);

    Config cfg_;
    int threads_;
    int frameSamples_; // samples per channel in a frame
    int64_t segFrames_;
    int64_t fed_ = 0; // sample frames taken so far
    int nextIndex_ = 0;
    std::vector<std::shared_ptr<Segment>> open_;    // being filled
    std::deque<std::shared_ptr<Segment>> unjoined_; // dispatched, in order
    std::unique_ptr<Run> cur_;                      // the encoder whose frames are being kept
    bool failed_ = false;
    bool finished_ = false;

    // The workers' results.
    std::mutex m_;
    std::condition_variable done_;

    // The joined stream.
    std::vector<uint8_t> out_;
    size_t outPos_ = 0;
    std::vector<uint8_t> tagTemplate_;
    bool tagMeasured_ = false;        // its ReplayGain is the whole stream's
    std::vector<uint16_t> frameKbps_; // the bit rate of every audio frame emitted
    uint64_t streamBytes_ = 0;        // every byte emitted, the tag's placeholder included
    uint16_t musicCrc_ = 0;
    int encoderDelay_ = 0;
    std::unique_ptr<GainAnalysis> gain_; // over the whole input
    int radioGain_ = 0;                  // its result, in 0.1 dB
    JoinStats stats_;
    orvo::SegmentWorkers workers_; // last: its threads end before the rest goes
};

} // namespace mp3enc
