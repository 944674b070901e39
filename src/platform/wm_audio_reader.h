// The Windows Media reader: opens an ASF, WMA or WMV file, decodes its first
// audio output on a thread of its own (the media graph) and reports through
// two callbacks, OnStatus (opened, started, stopped, closed, end of file,
// error) and OnSample (each block of decoded 16-bit PCM with its sample time).
// A subclass gives the callbacks their meaning (the playback and conversion
// workers: pcm_buffer and pcm_sink).
//
// Threading: open, start, stop, pause, resume and close are called from one
// thread; OnSample and the OnStatus of the end run on the reader's thread.
#pragma once

#include "platform/media_graph.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace kestrel {

// Result codes, the runtime's HRESULT values.
inline constexpr int32_t kWmOk = 0;
inline constexpr int32_t kWmFail = static_cast<int32_t>(0x80004005u);
inline constexpr int32_t kWmInvalidArg = static_cast<int32_t>(0x80070057u);
inline constexpr int32_t kWmUnexpected = static_cast<int32_t>(0x8000FFFFu);
inline constexpr int32_t kWmOutOfMemory = static_cast<int32_t>(0x8007000Eu);
// The file cannot be read as a media file at all.
inline constexpr int32_t kWmInvalidFile = static_cast<int32_t>(0xC00D0BBDu);

// Statuses passed to OnStatus.
enum WmStatus : int {
    WMT_ERROR = 0,
    WMT_OPENED = 1,
    WMT_EOF = 4,
    WMT_MISSING_CODEC = 10,
    WMT_STARTED = 11,
    WMT_STOPPED = 12,
    WMT_CLOSED = 13,
};

class WmAudioReader {
  public:
    WmAudioReader() = default;
    virtual ~WmAudioReader();
    WmAudioReader(const WmAudioReader&) = delete;
    WmAudioReader& operator=(const WmAudioReader&) = delete;

    // Opens `fileName` (an open file is closed first), reads the attributes
    // and finds the audio output. kWmOk, or a negative code; without an audio
    // output kWmUnexpected (the audio format then stays cleared).
    int32_t open(const std::string& fileName);
    // Starts decoding from time 0 at rate 1.0.
    int32_t start();
    // Asks the reader to stop; the stopped status follows through OnStatus.
    int32_t stop();
    int32_t pause();
    int32_t resume();
    // Goes on from media time `time` (100 ns units); kWmFail when the file
    // cannot seek ("Seekable" is 0).
    int32_t seek(int64_t time);
    // Stops and closes the file.
    int32_t close();

    // The runtime's callbacks. The base class keeps the ended flag and the
    // position; subclasses call it first.
    virtual void OnStatus(int status, int32_t result);
    virtual void OnSample(int output, int64_t sampleTime, int64_t duration, uint32_t flags,
                          const uint8_t* data, int bytes);

    // Attributes of the open file ("Title", "Author", "Copyright",
    // "Duration" in 100 ns, "Seekable", "Broadcast"; empty or 0 when absent).
    const std::string& title() const { return facts_.title; }
    const std::string& author() const { return facts_.author; }
    const std::string& copyright() const { return facts_.copyright; }
    int64_t duration() const { return facts_.duration; }
    bool seekable() const { return facts_.seekable; }
    bool broadcast() const { return facts_.broadcast; }

    // The audio output's number and the format of its PCM (cleared: no audio).
    int audioOutput() const { return facts_.audioStream; }
    const GraphAudioFormat& audioFormat() const { return format_; }
    // Clears the audio format (before an open).
    void clearAudioFormat() { format_ = GraphAudioFormat{0, 0, 0, 0, 0, 0}; }

    // 1 after the end of the file, an error or a missing codec; 0 after start.
    bool ended() const { return ended_.load(); }
    // Time of the last sample delivered, in milliseconds.
    int32_t positionMs() const { return position_.load(); }
    const std::string& fileName() const { return fileName_; }
    // The result passed with the last opened status.
    int32_t lastStatusResult() const { return lastStatusResult_; }
    // The diagnostic of the last failed step: "text (hr=0X...)".
    const std::string& lastError() const { return lastError_; }

  private:
    int32_t fail(const char* step, int32_t hr);

    MediaGraph graph_;
    GraphFacts facts_;
    GraphAudioFormat format_{0, 0, 0, 0, 0, 0};
    std::string fileName_;
    std::string lastError_;
    int32_t lastStatusResult_ = 0;
    bool open_ = false;
    std::atomic<bool> ended_{false};
    std::atomic<int32_t> position_{0};
};

} // namespace kestrel
