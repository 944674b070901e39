#include "platform/wm_audio_reader.h"

#include <cstdio>

namespace kestrel {

WmAudioReader::~WmAudioReader() {
    // Only the graph's own state: the subclass is gone by now, so no
    // callback may run.
    graph_.release();
}

int32_t WmAudioReader::fail(const char* step, int32_t hr) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s (hr=%#X)", step, static_cast<unsigned>(hr));
    lastError_ = buf;
    graph_.release();
    open_ = false;
    return hr;
}

int32_t WmAudioReader::open(const std::string& fileName) {
    if (fileName.empty()) return kWmInvalidArg;
    if (open_) close();
    fileName_ = fileName;
    lastError_.clear();
    facts_ = GraphFacts();
    clearAudioFormat();
    int r = graph_.prepare(fileName, 1.0);
    int32_t hr = r == kGraphNotCreated ? kWmOutOfMemory
                 : r == kGraphNoSource ? kWmInvalidFile
                 : r < 0               ? kWmUnexpected
                                       : kWmOk;
    lastStatusResult_ = hr;
    OnStatus(WMT_OPENED, hr);
    if (r == kGraphNoSource || r == kGraphNotCreated)
        return fail("Could not open the specified file", hr);
    if (r < 0) {
        // A file whose audio no decoder takes, or without audio.
        return fail(r == kGraphNoAudio ? "Could not find an audio stream in the specified file"
                                       : "Could not get media type",
                    kWmUnexpected);
    }
    facts_ = graph_.facts();
    format_ = facts_.format;
    open_ = true;
    return kWmOk;
}

int32_t WmAudioReader::start() {
    if (!open_) return kWmUnexpected;
    ended_ = false;
    position_ = 0;
    if (graph_.running()) return kWmOk;
    const int out = facts_.audioStream;
    const GraphAudioFormat f = format_;
    int r = graph_.run(
        [this, out, f](const uint8_t* pcm, int bytes, int64_t time) {
            const int64_t frames = f.blockAlign > 0 ? bytes / f.blockAlign : 0;
            const int64_t length =
                f.samplesPerSec > 0 ? frames * kGraphTimeUnits / f.samplesPerSec : 0;
            OnSample(out, time, length, 0, pcm, bytes);
            return true;
        },
        [this](int status) { OnStatus(status < 0 ? WMT_ERROR : WMT_EOF, status); });
    if (r < 0) {
        char buf[80];
        std::snprintf(buf, sizeof buf, "Unable to start (hr=%#X)", static_cast<unsigned>(kWmFail));
        lastError_ = buf;
        // Without samples the playback would wait for ever: end it now.
        OnStatus(WMT_ERROR, kWmFail);
        return kWmFail;
    }
    OnStatus(WMT_STARTED, kWmOk);
    return kWmOk;
}

int32_t WmAudioReader::stop() {
    if (!open_) return kWmUnexpected;
    graph_.stop();
    OnStatus(WMT_STOPPED, kWmOk);
    return kWmOk;
}

int32_t WmAudioReader::pause() {
    if (!open_) return kWmUnexpected;
    graph_.pause();
    return kWmOk;
}

int32_t WmAudioReader::resume() {
    if (!open_) return kWmUnexpected;
    graph_.resume();
    return kWmOk;
}

int32_t WmAudioReader::seek(int64_t time) {
    if (!open_) return kWmUnexpected;
    return graph_.seek(time) == 0 ? kWmOk : kWmFail;
}

int32_t WmAudioReader::close() {
    if (!open_) return kWmOk;
    graph_.release();
    open_ = false;
    OnStatus(WMT_CLOSED, kWmOk);
    return kWmOk;
}

void WmAudioReader::OnStatus(int status, int32_t result) {
    switch (status) {
    case WMT_OPENED:
        lastStatusResult_ = result;
        break;
    case WMT_STARTED:
        ended_ = false;
        break;
    case WMT_ERROR:
    case WMT_EOF:
    case WMT_MISSING_CODEC:
        ended_ = true;
        break;
    default:
        break;
    }
}

void WmAudioReader::OnSample(int output, int64_t sampleTime, int64_t, uint32_t, const uint8_t*,
                             int) {
    if (output != facts_.audioStream) return;
    position_ = static_cast<int32_t>(sampleTime / 10000);
}

} // namespace kestrel
