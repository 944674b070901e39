#include "engine/convert/fast_conversion.h"

#include "engine/core/captions.h"
#include "engine/containers/demux.h"
#include "engine/convert/fast_texts.h"
#include "engine/core/run_state.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <thread>
#include <vector>

namespace kestrel {
namespace {

constexpr size_t kReadBlock = 3760; // 20 transport packets

std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string s(n > 0 ? size_t(n) : 0, '\0');
    if (n > 0) std::vsnprintf(s.data(), s.size() + 1, fmt, ap2);
    va_end(ap2);
    return s;
}

} // namespace

bool fastConversionSupported(MediaKind kind) {
    return kind == MediaKind::MpegUnsorted || kind == MediaKind::TransportStream ||
           kind == MediaKind::ProgramStream || kind == MediaKind::MpegAudio;
}

int checkFastConversionKind(MediaKind kind) {
    if (fastConversionSupported(kind)) return 0;
    showMessage(caption::kMain, text::kFastUnsupported);
    return -1;
}

std::string fastOutputPath(const FastSource& src) {
    std::string base = src.path;
    size_t slash = base.rfind('/');
    if (slash != std::string::npos) base = base.substr(slash + 1);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos) base = base.substr(0, dot);
    return format("%s%s", src.savePath.c_str(), (base + ".mp3").c_str());
}

int fast_conversion_thread(const FastSource& src, FastOutcome* outcome) {
    FastOutcome local;
    FastOutcome& out = outcome ? *outcome : local;
    out = FastOutcome{};
    if (running.exchange(true)) return 0; // another worker is active

    WindowPort& win = window();
    const int duration = src.durationSec > 0 ? src.durationSec : 0;
    uint64_t size = src.fileSize ? src.fileSize : fileSize(src.path);

    // The current source, shared with playback.
    static_cast<EntryFacts&>(current) = src;
    current.fileSize = size;
    current.durationSec = duration;
    current.sourceChannels = src.sourceChannels > 2 ? 2 : src.sourceChannels;

    pcm_buffer();
    win.busy(Command::Stop); // the copy can only be stopped
    win.progress(0, duration);
    win.statusText(format(text::kFastStart, src.path.c_str()));
    win.position(0, duration);

    out.outputPath = fastOutputPath(src);
    out.status = FastStatus::Done;
    std::vector<char> inBuffer(1 << 20), outBuffer(256 << 10); // outlive both streams
    AtomicFile outFile;
    FILE* output = nullptr;
    FILE* input = nullptr;
    Demuxer demux; // this copy's own: MPEG audio frames go to `output` unchanged

    if (sameFile(out.outputPath, src.path)) {
        showMessage(caption::kMain, format(text::kFastSameAsSource, out.outputPath.c_str()));
        out.status = FastStatus::SameAsSource;
    } else if (outFile.open(out.outputPath, AtomicFile::Mode::Replace,
                            {.moveAside = true, .output = true}) != 0) {
        showMessage(caption::kMain, format(text::kFastOpenOutputFailed, out.outputPath.c_str()),
                    outFile.error());
        out.status = FastStatus::OutputFailed;
    } else {
        output = outFile.stream();
        demux.demuxReset(src.kind);
        input = openSource(src.path); // never blocks on a FIFO
        if (!input) {
            const int e = errno;
            showMessage(caption::kMainWide, format(text::kFastOpenSourceFailed, src.path.c_str()),
                        e);
            out.status = FastStatus::SourceFailed;
        }
    }

    if (input) {
        // Large buffers: the copy is bound by reading the source.
        std::setvbuf(input, inBuffer.data(), _IOFBF, inBuffer.size());
        std::setvbuf(output, outBuffer.data(), _IOFBF, outBuffer.size());
        paused = false;
        seek_request = 0;
        seek_dragging = false;
        demux.setFastCopy(output);
        uint8_t block[kReadBlock];
        uint64_t consumed = 0;
        int shown = -1;
        bool ended = false;
        while (running.load()) {
            while (paused.load() && running.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!running.load()) break;
            int32_t seek = seek_request.load();
            if (seek != 0) {
                uint64_t offset = 0;
                if (duration > 0 && seek > 100)
                    offset = uint64_t(double(seek - 100) / duration * double(size));
                offset -= offset % uint64_t(demux.tsPacketSize());
                if (fseeko(input, off_t(offset), SEEK_SET) == 0) consumed = offset;
                demux.demuxSeek();
                seek_dragging = false;
                seek_request = 0;
                continue;
            }
            size_t n = std::fread(block, 1, kReadBlock, input);
            // A short last block is copied too: its frames are part of the source.
            if (n > 0) {
                consumed += n;
                demux.demuxChunk(block, int(n));
            }
            if (demux.fastCopyFailed()) break;
            if (n < kReadBlock) {
                ended = true;
                break;
            }
            int second = size > 0 ? int(double(consumed) / double(size) * duration) : 0;
            if (second != shown && !seek_dragging.load()) {
                shown = second;
                win.statusText(format(text::kFastProgress, src.path.c_str(), second, duration));
                win.progress(second, duration);
                win.position(second, duration);
                win.clock(second);
            }
        }
        if (ended && !demux.fastCopyFailed()) demux.demuxFinish();
        out.frames = demux.stats().mpegFrames;
        if (!ended && out.status == FastStatus::Done) out.status = FastStatus::Stopped;
        win.statusText(format(text::kFastEnd, src.path.c_str()));
        std::fclose(input);
    }

    if (output) {
        errno = 0;
        bool writeOk = !demux.fastCopyFailed() && std::fflush(output) == 0;
        int writeError = writeOk ? 0 : errno;
        long long written = ftello(output);
        writeOk = (outFile.close() == 0) && writeOk;
        if (writeError == 0) writeError = outFile.error();
        if (input && !writeOk) {
            showMessage(caption::kMain, format(text::kFastWriteFailed, out.outputPath.c_str()),
                        writeError);
            out.status = FastStatus::WriteFailed;
        }
        bool keep = out.status == FastStatus::Done || out.status == FastStatus::Stopped;
        if (keep && out.frames == 0) {
            // Nothing was copied: no file, and an earlier output of this name
            // stays as it is.
            keep = false;
            out.keptEarlier = fileExists(out.outputPath);
        }
        // A copy cut short never replaces an earlier file: it goes beside it.
        if (keep && outFile.commit(out.status == FastStatus::Done) != 0) {
            showMessage(caption::kMain, format(text::kFastOpenOutputFailed, out.outputPath.c_str()),
                        outFile.error());
            out.status = FastStatus::OutputFailed;
            keep = false;
        }
        if (!keep) {
            outFile.abandon();
        } else {
            out.bytesWritten = written > 0 ? uint64_t(written) : 0;
            if (outFile.keptBeside()) out.besideOf = out.outputPath;
            out.outputPath = outFile.finalName();
        }
    }

    demux.setFastCopy(nullptr);
    paused = false;
    sound_on = true;
    win.switchesOn(kBothSwitches);
    display_on = true;
    // The effects window closes with the copy, as after a conversion.
    if (orvosoundmixLoaded()) orvosoundmix.orvomix_setdisp(0);
    win.idle(Commands::all());
    win.position(0, duration);
    win.progress(0, duration);
    running = false;
    return 0;
}

} // namespace kestrel
