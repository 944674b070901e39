#include "engine/pipeline/mpeg_readers.h"

#include "engine/core/captions.h"
#include "engine/containers/demux.h"
#include "engine/containers/mpeg_audio_frame.h"
#include "engine/pipeline/texts.h"
#include "engine/pipeline/library_readers.h"
#include "engine/pipeline/mpeg_decoding.h"
#include "engine/pipeline/pcm_trim.h"
#include "engine/containers/gapless.h"
#include "engine/core/run_state.h"
#include "engine/core/text_format.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <chrono>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace kestrel {

uint64_t seekOffset(int second, int durationSec, uint64_t fileSize, uint64_t base,
                    uint64_t packet) {
    if (fileSize <= base || durationSec <= 0 || second <= 0) return base;
    const uint64_t span = fileSize - base;
    double off = static_cast<double>(second) / durationSec * static_cast<double>(span);
    uint64_t o = off >= static_cast<double>(span) ? span : static_cast<uint64_t>(off);
    if (packet == 0) packet = 188;
    return base + (o - o % packet);
}

int positionSecond(uint64_t consumed, int durationSec, uint64_t fileSize, uint64_t base) {
    if (fileSize <= base || durationSec <= 0 || consumed <= base) return 0;
    const uint64_t done = std::min(consumed, fileSize) - base;
    return static_cast<int>(static_cast<double>(done) / static_cast<double>(fileSize - base) *
                            durationSec);
}

namespace {

// After openSource() failed: errno holds the reason.
void openFailed(const std::string& path) {
    const int e = errno;
    showMessage(caption::kMainWide, formatText(text::kOpenSourceFailed, path), e);
}

// The loop common to both forms: `feed` takes one chunk.
struct NoTrim {
    void operator()(MpegReader&) const {}
    void seeked() const {}
};

// Drops the encoder delay and padding of a gapless MPEG audio file from the
// decoded PCM.
struct GaplessTrim : PcmTrim {
    void operator()(MpegReader& r) { apply(r.pcm(), r.decoder().channels()); }
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
void readLoop(MpegReader& r, FILE* f, const ReaderEntry& e, size_t chunk, Span span,
              PcmSinkPath& sink, PositionReport report, void* context, Feed feed, Trim& trim) {
    RunFlags flags = r.flags();
    PcmBuffer& pcm = r.pcm();
    std::vector<uint8_t> buf(chunk);
    uint64_t consumed = span.start;
    int lastSecond = -1;
    pcm.pending = 0;
    // A chunk may decode to more PCM than the buffer holds: the decoders hand
    // it on through the sink whenever they need room.
    // The PCM goes on in the decoder's format, which a stream of joined files
    // may change.
    auto handOn = [&] {
        trim(r);
        if (pcm.pending > 0) {
            sink.sourceFormat(r.decoder().rate(), r.decoder().channels());
            sink.consume(pcm);
        }
        pcm.pending = 0;
    };
    r.decoder().setDrain(handOn);
    while (flags.running.load() && !sink.failed()) {
        if (flags.paused.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        int req = flags.seekRequest.load();
        if (req != 0) {
            uint64_t off = seekOffset(req - 100, e.durationSec, span.size, span.base,
                                      static_cast<uint64_t>(r.demuxer().tsPacketSize()));
            if (off < span.start) off = span.start;
            if (fseeko(f, static_cast<off_t>(off), SEEK_SET) == 0) consumed = off;
            r.demuxer().demuxSeek();
            r.decoder().reset();
            trim.seeked();
            flags.seekRequest = 0;
            flags.seekDragging = false;
            continue;
        }
        size_t n = std::fread(buf.data(), 1, chunk, f);
        if (n == 0) break;
        // A short read is the end of the source; its bytes still count, so
        // the last frames of the file are not lost.
        const bool last = n < chunk;
        consumed += n;
        int second = positionSecond(consumed, e.durationSec, span.size, span.base);
        if (second != lastSecond && !flags.seekDragging.load()) {
            lastSecond = second;
            if (report) report(second, context);
        }
        feed(buf.data(), static_cast<int>(n));
        handOn();
        if (last) break;
    }
    if (flags.running.load() && !sink.failed()) {
        // Hand over the last frame held back by the assembler.
        r.demuxer().demuxFinish();
        handOn();
    }
    pcm.pending = 0;
    r.decoder().setDrain(nullptr);
}

} // namespace

MpegReader::MpegReader(RunFlags flags, int libraryInstance, bool mayUseAc3, PcmBuffer* pcm)
    : flags_(flags), ownPcm_(pcm ? nullptr : new PcmBuffer), pcm_(pcm ? *pcm : *ownPcm_),
      decoder_(pcm_, flags.running, libraryInstance, mayUseAc3) {
    demux_.setRunFlag(flags.running);
    demux_.setOutlet(&decoder_);
}

MpegReader::~MpegReader() = default;

ReaderResult MpegReader::readMpegAudioFile(const ReaderEntry& e, PcmSinkPath& sink,
                                           PositionReport report, void* context) {
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
                // As mpg123 does: the sound ends where the tag says (a tag
                // longer than its frames leaves none); the frames the tag
                // does not count (files joined after it) are kept whole.
                const int64_t frames = int64_t(g.frames) * g.samplesPerFrame;
                trim.remainingFrames = std::max<int64_t>(0, frames - g.delay - g.padding);
                trim.dropAfterEnd =
                    std::max<int64_t>(0, frames - trim.skipFrames - trim.remainingFrames);
            }
        }
    }
    fseeko(f, static_cast<off_t>(first), SEEK_SET);
    span.start = static_cast<uint64_t>(first);
    demux_.demuxReset(kDemuxMpegAudio);
    decoder_.start(e.path);
    size_t chunk = e.sourceRate < 32000 ? 256 : 1024;
    readLoop(
        *this, f, e, chunk, span, sink, report, context,
        [this, route](const uint8_t* b, int n) { demux_.feedMpegAudio(b, n, route, true); }, trim);
    decoder_.stop();
    std::fclose(f);
    return ReaderResult::Ended;
}

ReaderResult MpegReader::readMpegStream(const ReaderEntry& e, PcmSinkPath& sink,
                                        PositionReport report, void* context) {
    FILE* f = openSource(e.path);
    if (!f) {
        openFailed(e.path);
        return ReaderResult::OpenFailed;
    }
    Span span;
    span.size = sizeOf(f, e.fileSize);
    demux_.demuxReset(e.kind);
    decoder_.start(e.path);
    NoTrim none;
    readLoop(
        *this, f, e, 3760, span, sink, report, context,
        [this](const uint8_t* b, int n) { demux_.demuxChunk(b, n); }, none);
    decoder_.stop();
    std::fclose(f);
    return ReaderResult::Ended;
}

void StageSink::consume(PcmBuffer& pcm) {
    pcm_sink(pcm.data(), pcm.pending, sourceChannels_, out_, ratio_);
}

bool StageSink::failed() const {
    return outputFailed(out_);
}

ReaderResult readMpegAudioFile(const ReaderEntry& e, PcmOutput* out, PositionReport report,
                               void* context) {
    MpegReader reader(processRunFlags(), kMainLibraryInstance, true);
    StageFormatSink sink(out, e.rateRatio, e.sourceRate, e.sourceChannels);
    return reader.readMpegAudioFile(e, sink, report, context);
}

ReaderResult readMpegStream(const ReaderEntry& e, PcmOutput* out, PositionReport report,
                            void* context) {
    MpegReader reader(processRunFlags(), kMainLibraryInstance, true);
    StageFormatSink sink(out, e.rateRatio, e.sourceRate, e.sourceChannels);
    return reader.readMpegStream(e, sink, report, context);
}

} // namespace kestrel
