#include "engine/playback/mpeg_readers.h"

#include "engine/captions.h"
#include "engine/containers/demux.h"
#include "engine/containers/mpeg_audio_frame.h"
#include "engine/convert/texts.h"
#include "engine/decode/mpeg_decoding.h"
#include "engine/playback/run_state.h"
#include "platform/ports.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace kestrel {

uint64_t seek_offset(int second, int durationSec, uint64_t fileSize) {
    if (durationSec <= 0 || second <= 0) return 0;
    double off = static_cast<double>(second) / durationSec * static_cast<double>(fileSize);
    if (off < 0) off = 0;
    uint64_t o = static_cast<uint64_t>(off);
    if (o > fileSize) o = fileSize;
    return o - o % 188;
}

namespace {

void openFailed(const std::string& path) {
    char msg[1100];
    std::snprintf(msg, sizeof msg, text::kOpenSourceFailed, path.c_str());
    showMessage(caption::kMainWide, msg);
}

// The loop common to both forms: `feed` takes one chunk.
template <typename Feed>
void readLoop(FILE* f, const ReaderEntry& e, size_t chunk, uint64_t startOffset, PcmOutput* out,
              PositionReport report, void* context, Feed feed) {
    std::vector<uint8_t> buf(chunk);
    uint64_t consumed = startOffset;
    int lastSecond = -1;
    pcm_pending = 0;
    while (running.load()) {
        if (paused.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        int req = seek_request.load();
        if (req != 0) {
            uint64_t off = seek_offset(req - 100, e.durationSec, e.fileSize);
            if (std::fseek(f, static_cast<long>(off), SEEK_SET) == 0) consumed = off;
            demuxSeek();
            mpeg_decoding_reset();
            seek_request = 0;
            seek_dragging = false;
            continue;
        }
        size_t n = std::fread(buf.data(), 1, chunk, f);
        if (n == 0) break;
        // A short read is the end of the source; its bytes still count, so
        // the last frames of the file are not lost.
        const bool last = n < chunk;
        consumed += n;
        int second =
            e.fileSize
                ? static_cast<int>(static_cast<double>(consumed) / e.fileSize * e.durationSec)
                : 0;
        if (second != lastSecond && !seek_dragging.load()) {
            lastSecond = second;
            if (report) report(second, context);
        }
        feed(buf.data(), static_cast<int>(n));
        if (pcm_pending > 0) {
            pcm_sink(out, e.rateRatio);
            pcm_pending = 0;
        }
        if (last) break;
    }
    if (running.load()) {
        // Hand over the last frame held back by the assembler.
        demuxFinish();
        if (pcm_pending > 0) pcm_sink(out, e.rateRatio);
    }
    pcm_pending = 0;
}

} // namespace

ReaderResult read_mpeg_audio_file(const ReaderEntry& e, PcmOutput* out, PositionReport report,
                                  void* context) {
    int64_t first = 0;
    int vbr = 0;
    if (mpegAudioStart(e.path, first, vbr) < 0) return ReaderResult::NotMpegAudio;
    FILE* f = std::fopen(e.path.c_str(), "rb");
    if (!f) {
        openFailed(e.path);
        return ReaderResult::OpenFailed;
    }
    uint8_t head[4] = {0, 0, 0, 0};
    std::fseek(f, static_cast<long>(first), SEEK_SET);
    DecoderRoute route = DecoderRoute::MpegAudioLibrary;
    if (std::fread(head, 1, 4, f) == 4) route = routeForHeader(head);
    std::fseek(f, static_cast<long>(first), SEEK_SET);
    demuxReset(kDemuxMpegAudio);
    mpeg_decoding_start();
    size_t chunk = e.sourceRate < 32000 ? 256 : 1024;
    readLoop(f, e, chunk, static_cast<uint64_t>(first), out, report, context,
             [route](const uint8_t* b, int n) { feedMpegAudio(b, n, route, true); });
    mpeg_decoding_stop();
    std::fclose(f);
    return ReaderResult::Ended;
}

ReaderResult read_mpeg_stream(const ReaderEntry& e, PcmOutput* out, PositionReport report,
                              void* context) {
    FILE* f = std::fopen(e.path.c_str(), "rb");
    if (!f) {
        openFailed(e.path);
        return ReaderResult::OpenFailed;
    }
    demuxReset(e.kind);
    mpeg_decoding_start();
    readLoop(f, e, 3760, 0, out, report, context,
             [](const uint8_t* b, int n) { demuxChunk(b, n); });
    mpeg_decoding_stop();
    std::fclose(f);
    return ReaderResult::Ended;
}

} // namespace kestrel
