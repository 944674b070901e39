// The media graph: opens any file that libavformat reads, decodes its first
// decodable audio stream with libavcodec and hands the PCM (signed 16-bit,
// interleaved, the stream's own rate, at most two channels: more are mixed
// down to stereo with libswresample's default matrix) to a callback on a
// thread of the graph. RealMedia, QuickTime, Windows Media and every file the
// stream probe does not know are read through it.
//
// Threading: one object per use (analysis, a playback, a conversion). The
// sample callback runs on the graph's own thread; stop, pause, resume and
// seek may be called from any other thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kestrel {

// The decoded PCM format, in the fields of a WAVEFORMATEX.
struct GraphAudioFormat {
    int formatTag = 1; // always PCM
    int channels = 0;
    int samplesPerSec = 0;
    int avgBytesPerSec = 0;
    int blockAlign = 0;
    int bitsPerSample = 16;
};

// What an opened graph knows of its source.
struct GraphFacts {
    GraphAudioFormat format;
    int64_t duration = 0;     // 100-nanosecond units; 0 when unknown
    int durationSec = 0;      // duration / 10,000,000
    uint32_t durationLow = 0; // the duration's low 32 bits
    // The container's own description (empty when absent).
    std::string title, author, copyright;
    bool seekable = false;
    bool broadcast = false; // a live stream without a length
    int audioStream = -1;   // index of the stream decoded
    std::string codecName;  // the decoder's name for the sound ("AAC (Advanced Audio Coding)")
};

// Results of opening a graph.
inline constexpr int kGraphNotCreated = -1;   // out of memory
inline constexpr int kGraphNoSource = -2;     // no demultiplexer reads the file
inline constexpr int kGraphNotConnected = -3; // audio there, but no decoder takes it
inline constexpr int kGraphNoAudio = -4;      // no audio stream

// Media time in 100-nanosecond units.
inline constexpr int64_t kGraphTimeUnits = 10000000;

class MediaGraph {
  public:
    // One block of PCM and the media time of its first sample; return false
    // to stop the graph.
    using SampleCallback = std::function<bool(const uint8_t* pcm, int bytes, int64_t time)>;
    // Called once on the graph's thread when it ends by itself: 0 at the end
    // of the source, negative after a read or decoding error that ended it.
    using EndCallback = std::function<void(int status)>;

    MediaGraph();
    ~MediaGraph();
    MediaGraph(const MediaGraph&) = delete;
    MediaGraph& operator=(const MediaGraph&) = delete;

    // Builds the graph for `path` (any open one is released first). `rate`
    // is the playback rate the graph reports (1.0, 2.0 or 4.0); the pace
    // itself is set by whoever consumes the PCM. 0 or a kGraph* code.
    int prepare(const std::string& path, double rate = 1.0);
    const GraphFacts& facts() const;
    double rate() const;

    // Starts the graph's thread. 0, or -1 when no graph is prepared or it
    // runs already.
    int run(SampleCallback onSample, EndCallback onEnd = {});
    void pause();
    void resume();
    // Ends the thread and waits for it (from the callback: only asks it to end).
    void stop();
    // Moves to media time `time`; served by the graph's thread before its next
    // block. 0, or -1 when the source cannot seek.
    int seek(int64_t time);

    bool running() const;
    // True once the graph has ended by itself (end of source or an error).
    bool ended() const;
    // Media time reached: of the end of the last block handed on.
    int64_t position() const;

    // Stops the thread and closes the source.
    void release();

  private:
    friend int openMediaGraph(const std::string& path, GraphFacts& facts);
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// The graph's playback rate for a conversion mode: 0 -> 1.0, 1 -> 2.0,
// 2 and above -> 4.0 (playback: 1.0).
double graphRateForMode(int conversionMode);

// Analysis: builds the graph for `path`, reports its facts and releases it.
// Where the container states no length, the length of its audio packets is
// measured.
int openMediaGraph(const std::string& path, GraphFacts& facts);
// Playback or conversion: builds the graph and keeps it for runMediaGraph.
int prepareMediaGraph(MediaGraph& graph, const std::string& path, double rate);
// Runs a prepared graph; 0, or -1 when there is nothing to run.
int runMediaGraph(MediaGraph& graph, MediaGraph::SampleCallback onSample,
                  MediaGraph::EndCallback onEnd = {});

} // namespace kestrel
