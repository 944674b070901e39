#include "engine/pipeline/platform_readers.h"

#include "engine/core/captions.h"
#include "engine/core/text_format.h"
#include "engine/pipeline/texts.h"
#include "engine/pipeline/texts_platform.h"
#include "platform/media_graph.h"
#include "platform/ports.h"
#include "platform/wm_audio_reader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace kestrel {

namespace {

// Copies a block of the platform's PCM into the loop's buffer and hands it to
// the sink, in pieces the buffer holds. False when the sink failed.
bool handOn(PcmBuffer& pcm, PcmSinkPath& sink, const uint8_t* data, int bytes) {
    while (bytes > 0) {
        if (sink.failed()) return false;
        int n = std::min(bytes, kPcmBufferBytes);
        std::memcpy(pcm.data(), data, static_cast<size_t>(n));
        pcm.pending = n;
        sink.consume(pcm);
        pcm.pending = 0;
        data += n;
        bytes -= n;
    }
    return !sink.failed();
}

// The worker's side while the platform decodes: every 10 ms it passes stop,
// pause and seek requests on and reports the second reached. `source` offers
// pause(), resume(), seek(second) (false when it cannot), ended() and the
// position in seconds. A seek the source cannot serve is said in the status
// line.
template <typename Source>
void watch(Source& source, const std::string& path, RunFlags flags, PcmSinkPath& sink,
           PositionReport report, void* context) {
    int lastSecond = -1;
    bool isPaused = false;
    while (flags.running.load() && !sink.failed() && !source.ended()) {
        if (flags.paused.load() != isPaused) {
            isPaused = !isPaused;
            isPaused ? source.pause() : source.resume();
        }
        if (int request = flags.seekRequest.exchange(0); request != 0) {
            if (!source.seek(request - 100))
                window().statusText(formatText(text::kSeekUnavailable, path));
            lastSecond = -1;
            flags.seekDragging = false;
        }
        int second = source.second();
        if (second != lastSecond && !flags.seekDragging.load()) {
            lastSecond = second;
            if (report) report(second, context);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

struct GraphSource {
    MediaGraph& g;
    void pause() { g.pause(); }
    void resume() { g.resume(); }
    bool seek(int second) { return g.seek(int64_t(second) * kGraphTimeUnits) == 0; }
    bool ended() const { return g.ended(); }
    int second() const { return static_cast<int>(g.position() / kGraphTimeUnits); }
};

// The Windows Media reader of a worker: its samples go through the sink.
class SinkWmReader : public WmAudioReader {
  public:
    SinkWmReader(PcmBuffer& pcm, PcmSinkPath& sink, WmEndReport endReport)
        : pcm_(pcm), sink_(sink), endReport_(endReport) {}
    ~SinkWmReader() override { close(); }

    void OnStatus(int status, int32_t result) override {
        WmAudioReader::OnStatus(status, result);
        switch (status) {
        case WMT_STOPPED:
            endFlag = true;
            break;
        case WMT_ERROR:
        case WMT_EOF:
        case WMT_MISSING_CODEC:
            endFlag = true;
            if (endReport_ == WmEndReport::MainWindow) window().wmPlaybackEnded();
            break;
        default:
            break;
        }
    }
    void OnSample(int output, int64_t sampleTime, int64_t duration, uint32_t flags,
                  const uint8_t* data, int bytes) override {
        if (output != audioOutput()) return;
        if (!handOn(pcm_, sink_, data, bytes)) stop();
        WmAudioReader::OnSample(output, sampleTime, duration, flags, data, bytes);
    }

    std::atomic<bool> endFlag{false};

    // For watch().
    bool ended() const { return endFlag.load(); }
    int second() const { return positionMs() / 1000; }
    bool seek(int second) {
        return WmAudioReader::seek(int64_t(second) * kGraphTimeUnits) == kWmOk;
    }

  private:
    PcmBuffer& pcm_;
    PcmSinkPath& sink_;
    WmEndReport endReport_;
};

// A source that was listed but cannot be read now (moved, changed, damaged):
// said like every reading loop says it.
ReaderResult openFailed(const std::string& path) {
    showMessage(caption::kMainWide, formatText(text::kOpenSourceFailed, path));
    return ReaderResult::OpenFailed;
}

} // namespace

ReaderResult readMediaGraph(const ReaderEntry& e, PcmSinkPath& sink, RunFlags flags, PcmBuffer& pcm,
                            double graphRate, PositionReport report, void* context) {
    MediaGraph graph;
    if (prepareMediaGraph(graph, e.path, graphRate) < 0) return openFailed(e.path);
    pcm.pending = 0;
    runMediaGraph(graph, [&](const uint8_t* data, int bytes, int64_t) {
        return handOn(pcm, sink, data, bytes);
    });
    GraphSource source{graph};
    watch(source, e.path, flags, sink, report, context);
    graph.release();
    pcm.pending = 0;
    return ReaderResult::Ended;
}

ReaderResult readWindowsMedia(const ReaderEntry& e, PcmSinkPath& sink, RunFlags flags,
                              PcmBuffer& pcm, PositionReport report, void* context,
                              WmEndReport endReport) {
    SinkWmReader reader(pcm, sink, endReport);
    size_t start = e.path.find_first_not_of(' ');
    pcm.pending = 0;
    if (reader.open(start == std::string::npos ? e.path : e.path.substr(start)) != kWmOk)
        return openFailed(e.path);
    reader.endFlag = false;
    if (reader.start() != kWmOk) return openFailed(e.path);
    watch(reader, e.path, flags, sink, report, context);
    reader.stop();
    reader.close();
    pcm.pending = 0;
    return ReaderResult::Ended;
}

} // namespace kestrel
