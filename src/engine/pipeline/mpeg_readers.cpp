#include "engine/pipeline/mpeg_readers.h"

#include "engine/core/captions.h"
#include "engine/containers/demux.h"
#include "engine/containers/mpeg_audio_frame.h"
#include "engine/pipeline/texts.h"
#include "engine/pipeline/mpeg_decoding.h"
#include "engine/containers/gapless.h"
#include "engine/core/run_state.h"
#include "engine/core/text_format.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace kestrel {

uint64_t seek_offset(int second, int durationSec, uint64_t fileSize, uint64_t base) {
    if (fileSize <= base || durationSec <= 0 || second <= 0) return base;
    const uint64_t span = fileSize - base;
    double off = static_cast<double>(second) / durationSec * static_cast<double>(span);
    uint64_t o = off >= static_cast<double>(span) ? span : static_cast<uint64_t>(off);
    return base + (o - o % 188);
}

int position_second(uint64_t consumed, int durationSec, uint64_t fileSize, uint64_t base) {
    if (fileSize <= base || durationSec <= 0 || consumed <= base) return 0;
    const uint64_t done = std::min(consumed, fileSize) - base;
    return static_cast<int>(static_cast<double>(done) / static_cast<double>(fileSize - base) *
                            durationSec);
}

namespace {

void openFailed(const std::string& path) {
    showMessage(caption::kMainWide, formatText(text::kOpenSourceFailed, path));
}

// The loop common to both forms: `feed` takes one chunk.
struct NoTrim {
    void operator()() const {}
    void seeked() const {}
};

// Drops the encoder delay and padding of a gapless MPEG audio file from the
// decoded PCM.
struct GaplessTrim {
    int64_t skipFrames = 0;       // sample frames still to drop at the start
    int64_t remainingFrames = -1; // sample frames still to keep (-1: all)
    void operator()() {
        int ch = mpeg_decoded_channels();
        if (ch <= 0 || pcm_pending <= 0) return;
        int frameBytes = ch * 2;
        int64_t have = pcm_pending / frameBytes;
        if (skipFrames > 0) {
            int64_t drop = std::min(skipFrames, have);
            std::memmove(pcm_buffer(), pcm_buffer() + drop * frameBytes,
                         static_cast<size_t>(pcm_pending - drop * frameBytes));
            pcm_pending -= static_cast<int32_t>(drop * frameBytes);
            skipFrames -= drop;
            have -= drop;
        }
        if (remainingFrames >= 0) {
            if (have > remainingFrames)
                pcm_pending = static_cast<int32_t>(remainingFrames * frameBytes);
            remainingFrames -= std::min(have, remainingFrames);
        }
    }
    void seeked() {
        skipFrames = 0;
        remainingFrames = -1;
    }
};

// Where the loop reads: the audio starts at `start`; positions and seeks count
// from `base` over `size` bytes.
struct Span {
    uint64_t base = 0;
    uint64_t start = 0;
    uint64_t size = 0;
};

uint64_t sizeOf(FILE* f, uint64_t known) {
    if (known) return known;
    struct stat st;
    return ::fstat(fileno(f), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

template <typename Feed, typename Trim>
void readLoop(FILE* f, const ReaderEntry& e, size_t chunk, Span span, PcmOutput* out,
              PositionReport report, void* context, Feed feed, Trim& trim) {
    std::vector<uint8_t> buf(chunk);
    uint64_t consumed = span.start;
    int lastSecond = -1;
    pcm_pending = 0;
    // A chunk may decode to more PCM than pcm_buffer holds: the decoders hand
    // it on through the sink whenever they need room.
    mpeg_decoding_set_drain([&] {
        trim();
        if (pcm_pending > 0) pcm_sink(out, e.rateRatio);
        pcm_pending = 0;
    });
    while (running.load() && !output_failed(out)) {
        if (paused.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        int req = seek_request.load();
        if (req != 0) {
            uint64_t off = seek_offset(req - 100, e.durationSec, span.size, span.base);
            if (off < span.start) off = span.start;
            if (fseeko(f, static_cast<off_t>(off), SEEK_SET) == 0) consumed = off;
            demuxSeek();
            mpeg_decoding_reset();
            trim.seeked();
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
        int second = position_second(consumed, e.durationSec, span.size, span.base);
        if (second != lastSecond && !seek_dragging.load()) {
            lastSecond = second;
            if (report) report(second, context);
        }
        feed(buf.data(), static_cast<int>(n));
        trim();
        if (pcm_pending > 0) {
            pcm_sink(out, e.rateRatio);
            pcm_pending = 0;
        }
        if (last) break;
    }
    if (running.load() && !output_failed(out)) {
        // Hand over the last frame held back by the assembler.
        demuxFinish();
        trim();
        if (pcm_pending > 0) pcm_sink(out, e.rateRatio);
    }
    pcm_pending = 0;
    mpeg_decoding_set_drain(nullptr);
}

} // namespace

ReaderResult read_mpeg_audio_file(const ReaderEntry& e, PcmOutput* out, PositionReport report,
                                  void* context) {
    // Opened first, without blocking: only a regular file gets analysed.
    FILE* f = openSource(e.path);
    if (!f) {
        openFailed(e.path);
        return ReaderResult::OpenFailed;
    }
    int64_t first = 0;
    int vbr = 0;
    if (mpegAudioStart(e.path, first, vbr) < 0) {
        std::fclose(f);
        return ReaderResult::NotMpegAudio;
    }
    Span span;
    span.base = static_cast<uint64_t>(first);
    span.size = sizeOf(f, e.fileSize);
    uint8_t head[2048] = {0};
    fseeko(f, static_cast<off_t>(first), SEEK_SET);
    DecoderRoute route = DecoderRoute::MpegAudioLibrary;
    size_t got = std::fread(head, 1, sizeof head, f);
    if (got >= 4) route = routeForHeader(head);
    // A Xing/Info frame is no sound: start after it, and drop the encoder's
    // delay and padding when its LAME extension gives them.
    GaplessTrim trim;
    GaplessInfo g = parseGaplessTag(head, got);
    if (g.tagFrame && g.frameBytes > 0) {
        first += g.frameBytes;
        if (g.delay >= 0) {
            trim.skipFrames = g.delay + kDecoderDelay;
            if (g.frames > 0 && g.padding >= 0) {
                int64_t total = int64_t(g.frames) * g.samplesPerFrame - g.delay - g.padding;
                if (total > 0) trim.remainingFrames = total;
            }
        }
    }
    fseeko(f, static_cast<off_t>(first), SEEK_SET);
    span.start = static_cast<uint64_t>(first);
    demuxReset(kDemuxMpegAudio);
    mpeg_decoding_start(e.path);
    size_t chunk = e.sourceRate < 32000 ? 256 : 1024;
    readLoop(
        f, e, chunk, span, out, report, context,
        [route](const uint8_t* b, int n) { feedMpegAudio(b, n, route, true); }, trim);
    mpeg_decoding_stop();
    std::fclose(f);
    return ReaderResult::Ended;
}

ReaderResult read_mpeg_stream(const ReaderEntry& e, PcmOutput* out, PositionReport report,
                              void* context) {
    FILE* f = openSource(e.path);
    if (!f) {
        openFailed(e.path);
        return ReaderResult::OpenFailed;
    }
    Span span;
    span.size = sizeOf(f, e.fileSize);
    demuxReset(e.kind);
    mpeg_decoding_start(e.path);
    NoTrim none;
    readLoop(
        f, e, 3760, span, out, report, context, [](const uint8_t* b, int n) { demuxChunk(b, n); },
        none);
    mpeg_decoding_stop();
    std::fclose(f);
    return ReaderResult::Ended;
}

} // namespace kestrel
