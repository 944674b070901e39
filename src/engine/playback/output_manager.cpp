#include "engine/playback/output_manager.h"

#include "engine/catalogue/media_record.h"
#include "engine/containers/demux.h"
#include "engine/containers/media_tags.h"
#include "engine/containers/mpeg_audio_frame.h"
#include "engine/core/exe_layout.h"
#include "engine/core/text_format.h"
#include "engine/libraries/lib_mpadec_ext.h"
#include "engine/libraries/lib_orvoaacdec.h"
#include "engine/libraries/lib_orvoamrdec.h"
#include "engine/pipeline/avi_readers.h"
#include "engine/pipeline/flash_readers.h"
#include "engine/pipeline/library_readers.h"
#include "engine/pipeline/mpeg_readers.h"
#include "engine/pipeline/platform_readers.h"
#include "engine/playback/frame_splitter.h"
#include "engine/playback/texts_output_manager.h"
#include "platform/ports.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace kestrel {

namespace {

// Hands the decoded PCM to the manager's device, opening it with the format
// of the first PCM (the decoder's, when it tells it) and again whenever that
// format changes. A device that cannot be opened ends the reading loop.
class ManagerSink : public FormatSinkPath {
  public:
    ManagerSink(PcmDevice& device, int rate, int channels)
        : dev_(device), rate_(rate), ch_(channels) {}
    ~ManagerSink() override { close(); }
    // Asked for the format when the first PCM arrives (an MPEG decoder knows
    // it only then).
    std::function<void(int&, int&)> probe;

    void sourceFormat(int rate, int channels) override {
        if (rate <= 0 || channels <= 0) return;
        if (open_ && (rate != rate_ || channels != ch_)) close();
        rate_ = rate;
        ch_ = channels > 2 ? 2 : channels;
    }
    void consume(PcmBuffer& pcm) override { write(pcm.data(), pcm.pending); }
    void write(const uint8_t* data, int bytes) {
        if (failed_ || bytes <= 0) return;
        if (!open_) {
            if (probe) {
                int r = rate_, c = ch_;
                probe(r, c);
                if (r > 0 && c > 0) sourceFormat(r, c);
            }
            if (dev_.open(rate_, ch_) != 0) {
                failed_ = true;
                return;
            }
            open_ = true;
        }
        dev_.write(data, bytes);
    }
    bool failed() const override { return failed_; }
    void close() {
        if (open_) dev_.close();
        open_ = false;
    }

  private:
    PcmDevice& dev_;
    int rate_, ch_;
    bool open_ = false;
    bool failed_ = false;
};

// The status line and progress bar of one playback: the second is shown
// whenever it grows.
struct Reporter {
    OutputManagerEvents& ev;
    int total;
    std::string tagLine; // "artist - title" of the output, or empty
    int last = -1;
    void operator()(int second) {
        if (second <= last) return;
        last = second;
        char buf[256];
        std::snprintf(buf, sizeof buf, text::manager::kPlaySecond, second, total);
        ev.statusText(withTags(buf));
        ev.progress(second, total);
    }
    static void report(int second, void* context) { (*static_cast<Reporter*>(context))(second); }
    std::string withTags(const std::string& status) const {
        return tagLine.empty() ? status : formatText(text::manager::kPlayingTags, status, tagLine);
    }
};

// "artist - title", or whichever of the two the output's tags have.
std::string tagLineOf(const std::string& path) {
    const MediaTags t = readMediaTags(path);
    if (!t.artist.empty() && !t.title.empty()) return t.artist + " - " + t.title;
    return t.title.empty() ? t.artist : t.title;
}

uint64_t regularFileSize(const std::string& path, bool& ok) {
    struct stat st;
    ok = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    return ok ? static_cast<uint64_t>(st.st_size) : 0;
}

int proportional(uint64_t done, uint64_t size, int total) {
    return size ? static_cast<int>(done * static_cast<uint64_t>(total > 0 ? total : 0) / size) : 0;
}

// WAV: the 44-byte header skipped, 8192-byte pieces of the data chunk
// straight to the device until a piece comes back short (what follows the
// data, such as a tag list, is not sound).
void playWav(FILE* f, uint64_t size, const ManagedOutput& r, RunFlags flags, ManagerSink& sink,
             Reporter& rep) {
    uint8_t head[44];
    if (std::fseek(f, 0, SEEK_SET) != 0 || std::fread(head, 1, sizeof head, f) != sizeof head)
        return;
    // The data chunk's size, when the header gives one that fits the file.
    uint64_t end = size;
    const uint64_t data = uint32_t(head[40]) | uint32_t(head[41]) << 8 | uint32_t(head[42]) << 16 |
                          uint32_t(head[43]) << 24;
    if (std::memcmp(head + 36, "data", 4) == 0 && data > 0 && data <= size - 44) end = 44 + data;
    std::vector<uint8_t> buf(8192);
    uint64_t done = 44;
    (void)r;
    while (flags.running.load() && !sink.failed() && done < end) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), end - done));
        size_t n = std::fread(buf.data(), 1, want, f);
        done += n;
        rep(proportional(done, size, rep.total));
        sink.write(buf.data(), static_cast<int>(n & ~static_cast<size_t>(1)));
        if (n < want) break;
    }
}

// MP3 and EXE: `bytes` bytes of MPEG audio from the file's current position,
// read 384 bytes at a time below 32000 Hz and 768 otherwise, through the frame
// splitter into the frame decoding; `unmask` (when set) turns the bytes read
// at each data offset into the stream.
void playMpegFrames(FILE* f, uint64_t bytes, const ManagedOutput& r, RunFlags flags,
                    ManagerSink& sink, Reporter& rep,
                    const std::function<void(uint8_t*, size_t, uint64_t)>& unmask) {
    ManagerFrameDecoder decoder([&sink](PcmBuffer& pcm, int rate, int channels) {
        sink.sourceFormat(rate, channels);
        sink.write(pcm.data(), pcm.pending);
    });
    MpegFrameSplitter splitter;
    auto frame = [&decoder](const uint8_t* p, int n) { decoder.frame(p, n); };
    const size_t chunk = r.outRate < 32000 ? 384 : 768;
    std::vector<uint8_t> buf(chunk);
    uint64_t done = 0;
    while (flags.running.load() && !sink.failed() && done < bytes) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(chunk, bytes - done));
        size_t n = std::fread(buf.data(), 1, want, f);
        if (unmask && n > 0) unmask(buf.data(), n, done);
        done += n;
        rep(proportional(done, bytes, rep.total));
        splitter.feed(buf.data(), n, frame);
        decoder.flush();
        if (n < want) break;
    }
    if (flags.running.load() && !sink.failed()) {
        splitter.finish(frame);
        decoder.finish();
    }
}

// MP3: from its first frame on.
int playMp3(FILE* f, uint64_t size, const ManagedOutput& r, RunFlags flags, ManagerSink& sink,
            Reporter& rep) {
    MpegAudioFileInfo info;
    if (mpegAudioInfo(r.outputPath, info) < 0 || info.firstFrame < 0 ||
        static_cast<uint64_t>(info.firstFrame) >= size ||
        fseeko(f, static_cast<off_t>(info.firstFrame), SEEK_SET) != 0)
        return -1;
    playMpegFrames(f, size - static_cast<uint64_t>(info.firstFrame), r, flags, sink, rep, {});
    return 0;
}

// EXE: the MP3 data from the data offset on is masked with the keys of the
// file's descriptor; it is unmasked piece by piece before it is split.
int playExe(FILE* f, uint64_t size, const ManagedOutput& r, RunFlags flags, ManagerSink& sink,
            Reporter& rep) {
    if (r.mpegVersion < 0) return -1; // no MPEG version recorded: nothing plays
    uint8_t desc[exe::kDescriptorBytes];
    exe::Descriptor d;
    if (size < exe::kDataOffset || std::fseek(f, exe::kPlayerBytes, SEEK_SET) != 0 ||
        std::fread(desc, 1, sizeof desc, f) != sizeof desc)
        return -1;
    exe::decipherDescriptor(desc);
    if (exe::parseDescriptor(desc, d) < 0) return -1;
    if (std::fseek(f, static_cast<long>(exe::kDataOffset), SEEK_SET) != 0) return -1;
    // Never more than the file holds, whatever the descriptor says.
    uint64_t dataBytes = std::min<uint64_t>(d.maskedBytes, size - exe::kDataOffset);
    playMpegFrames(f, dataBytes, r, flags, sink, rep, [&d](uint8_t* p, size_t n, uint64_t at) {
        exe::maskBytes(d.keys, d.period, static_cast<uint32_t>(at), p, n);
    });
    return 0;
}

// The decoder libraries one playback loads.
struct Libraries {
    bool mpa = false, aac = false, amr = false;
    bool load(int type) {
        const bool mp4 = type == kManagedMp4;
        // MP3 and EXE outputs are decoded by the built-in decoders.
        if ((type == kManagedFlv || type == kManagedAvi || mp4) && !(mpa = loadMpadecExt() >= 0))
            return false;
        // FLV: an AAC audio tag is decoded too, not left to an unloaded library.
        if ((type == kManagedAdts || type == kManagedFlv || mp4) && !(aac = loadOrvoaacdec() >= 0))
            return false;
        if ((type == kManagedAmr || mp4) && !(amr = loadOrvoamrdec() >= 0)) return false;
        return true;
    }
    ~Libraries() {
        if (amr) unloadOrvoamrdec();
        if (aac) unloadOrvoaacdec();
        if (mpa) unloadMpadecExt();
    }
};

} // namespace

OutputManager::OutputManager(PcmDevice* device) {
    if (!device) ownDevice_ = std::make_unique<RingDevice>(flags_.running);
    device_ = device ? device : ownDevice_.get();
}

OutputManager::~OutputManager() {
    stop();
    wait();
}

void OutputManager::setRecords(const std::vector<ManagedOutput>& records) {
    records_.assign(records.begin(),
                    records.begin() + std::min<size_t>(records.size(), kManagedOutputMax));
}

int OutputManager::deleteRecord(int index) {
    if (playing()) return kManagerBusy;
    if (index < 0 || static_cast<size_t>(index) >= records_.size()) return kManagerNoRecord;
    const std::string& path = records_[static_cast<size_t>(index)].outputPath;
    if (std::remove(path.c_str()) != 0 && errno != ENOENT) return kManagerDeleteFailed;
    records_.erase(records_.begin() + index);
    return 0;
}

int OutputManager::play(int index, OutputManagerEvents* events) {
    if (playing()) return kManagerBusy;
    if (index < 0 || static_cast<size_t>(index) >= records_.size()) return kManagerNoRecord;
    const ManagedOutput r = records_[static_cast<size_t>(index)];
    if (r.outputType == kManagedRawAac) {
        showMessage(text::manager::kRawAacCaption, text::manager::kRawAac);
        return kManagerNotPlayable;
    }
    wait();
    flags_.paused = false;
    flags_.seekRequest = 0;
    flags_.seekDragging = false;
    flags_.running = true;
    active_ = true;
    result_ = 0;
    thread_ = std::thread([this, r, events] {
        struct Silent : OutputManagerEvents {
            void statusText(const std::string&) override {}
            void progress(int, int) override {}
        } silent;
        OutputManagerEvents& ev = events ? *events : silent;
        result_ = playOutput(r, ev);
        flags_.running = false;
        active_ = false;
        ev.ended();
    });
    return 0;
}

void OutputManager::stop() {
    if (flags_.running.load()) flags_.running = false;
}

void OutputManager::wait() {
    if (thread_.joinable()) thread_.join();
}

int OutputManager::playOutput(const ManagedOutput& r, OutputManagerEvents& ev) {
    bool regular = false;
    uint64_t size = regularFileSize(r.outputPath, regular);
    FILE* f = regular ? std::fopen(r.outputPath.c_str(), "rb") : nullptr;
    if (!f) {
        ev.statusText(formatText(text::manager::kOpenFailed, r.outputPath));
        ev.openFailed();
        return -1;
    }
    int total = r.duration;
    const uint64_t perSec = static_cast<uint64_t>(r.outRate > 0 ? r.outRate : 0) *
                            static_cast<uint64_t>(r.outChannels > 0 ? r.outChannels : 0) * 2;
    if (r.pcmBytes > 0 && perSec > 0) total = static_cast<int>(r.pcmBytes / perSec);
    Reporter rep{ev, total, tagLineOf(r.outputPath)};
    ev.statusText(rep.withTags(formatText(text::manager::kPlayStart, r.outputPath)));
    ev.progress(0, total);

    Libraries libs;
    if (!libs.load(r.outputType)) {
        std::fclose(f);
        return -1;
    }
    ManagerSink sink(*device_, r.outRate, r.outChannels);
    RunFlags flags = flags_.flags();
    ReaderEntry re;
    re.path = r.outputPath;
    re.fileSize = size;
    re.durationSec = total;
    re.sourceRate = r.outRate;
    re.sourceChannels = r.outChannels;
    int rc = 0;
    char signature[4] = {};
    const bool flvSignature =
        std::fread(signature, 1, 4, f) == 4 && std::memcmp(signature, "FLV\x01", 4) == 0;
    switch (r.outputType) {
    case kManagedWav:
        playWav(f, size, r, flags, sink, rep);
        break;
    case kManagedMp3:
        rc = playMp3(f, size, r, flags, sink, rep);
        if (rc < 0) ev.statusText(text::manager::kMp3Analysis);
        break;
    case kManagedExe:
        rc = playExe(f, size, r, flags, sink, rep);
        break;
    default:
        break;
    }
    std::fclose(f);
    PcmBuffer pcm;
    switch (r.outputType) {
    case kManagedWma:
        // The end of the file is the manager's own: its status says so below.
        if (readWindowsMedia(re, sink, flags, pcm, &Reporter::report, &rep, WmEndReport::Caller) !=
            ReaderResult::Ended)
            rc = -1;
        break;
    case kManagedAdts:
        if (readAacFile(re, flags, pcm, sink, &Reporter::report, &rep) != ReaderResult::Ended) {
            ev.statusText(formatText(text::manager::kOpenFailed, r.outputPath));
            ev.openFailed();
            rc = -1;
        }
        break;
    case kManagedMp4:
        if (readMp4Audio(re, flags, pcm, sink, &Reporter::report, &rep) != ReaderResult::Ended) {
            ev.statusText(formatText(text::manager::kOpenFailed, r.outputPath));
            ev.openFailed();
            rc = -1;
        }
        break;
    case kManagedAmr:
        if (readAmrFile(re, flags, pcm, sink, &Reporter::report, &rep) != ReaderResult::Ended)
            rc = -1;
        break;
    case kManagedFlv: {
        // An FLV of version 1: its audio tags, by their time stamps.
        if (!flvSignature) {
            rc = -1;
            break;
        }
        re.typeName = "FLV";
        MpegReader reader(flags, kSecondLibraryInstance, false);
        sink.probe = [&reader](int& rate, int& ch) {
            rate = reader.decoder().rate();
            ch = reader.decoder().channels();
        };
        if (readFlashSource(FlashSource::Flv, reader, re, sink, &Reporter::report, &rep) !=
            ReaderResult::Ended)
            rc = -1;
        sink.probe = nullptr;
        break;
    }
    case kManagedAvi: {
        // The audio chunks in order, decoded by the stream's format tag.
        re.typeName = "MPEG4";
        AviAudioReader reader(flags, pcm, kSecondLibraryInstance);
        if (reader.open(r.outputPath) != AviReadResult::Ended ||
            aviAudioCodec(reader.info().formatTag) == AviAudioCodec::Adpcm) {
            rc = -1;
            break;
        }
        sink.sourceFormat(reader.info().sampleRate, reader.info().channels);
        reader.read(re, sink, &Reporter::report, &rep);
        break;
    }
    default:
        break;
    }
    if (sink.failed()) rc = -1; // no device
    sink.close();               // the queued buffers play out
    if (rc == 0) ev.statusText(text::manager::kPlayDone);
    return rc;
}

} // namespace kestrel
